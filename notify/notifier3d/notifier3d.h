#pragma once

#include "notifier3dwindow.h"

#include <QObject>
#include <QPointer>

class CNotifierOptionsMenu;

// The one 3D notifier window of the program. Show() starts it when there is none (a
// failed start shows its message and leaves none, so a later request tries again) and
// shows and raises the one that is up; a request while the window is being started (its
// start shows a message) does nothing. Close() closes it (its options are saved), at
// program exit and when the main window closes; during the start, once the start is over.
// The window's right button opens its options menu here.
//
// Threads: the GUI thread.
class CNotifier3d : public QObject
{
    Q_OBJECT
public:
    explicit CNotifier3d(CNotifier3dWindow::Hooks hooks = {}, QObject* parent = nullptr);
    ~CNotifier3d() override;

    void Show();
    void Close();
    // The window while it exists, else nullptr.
    CNotifier3dWindow* Window() const { return window_; }
    // The options menu of the current window (nullptr without one).
    CNotifierOptionsMenu* Menu() const { return menu_.get(); }

signals:
    // A window came up (`true`) or went away (`false`).
    void windowChanged(bool up);

private:
    CNotifier3dWindow::Hooks hooks_;
    QPointer<CNotifier3dWindow> window_;
    std::unique_ptr<CNotifierOptionsMenu> menu_;
    bool starting_ = false;        // inside Create() (its messages run modal loops)
    bool closeAfterStart_ = false; // Close() came meanwhile
};
