#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT (a desktop logout, Ctrl+C in a terminal) into the signal
// exitRequested() on the event loop's thread, so the program leaves through its normal
// exit sequence instead of dying mid-write. The handler only writes a byte to a pipe
// (async-signal-safe); the notifier reads it on the event loop.
//
// One object per process; construct it on the user-interface thread after QApplication.
// Installing the handlers fails (Installed() false) only when the pipe cannot be made.
class CExitSignalNotifier : public QObject
{
    Q_OBJECT
public:
    explicit CExitSignalNotifier(QObject* parent = nullptr);
    ~CExitSignalNotifier() override;
    bool Installed() const { return notifier_ != nullptr; }

signals:
    void exitRequested(int signalNumber);

private:
    void OnReadable();
    QSocketNotifier* notifier_ = nullptr;
};
