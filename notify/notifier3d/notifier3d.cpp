#include "notifier3d.h"

#include "notifieroptionsmenu.h"

CNotifier3d::CNotifier3d(CNotifier3dWindow::Hooks hooks, QObject* parent)
    : QObject(parent), hooks_(std::move(hooks))
{
}

CNotifier3d::~CNotifier3d()
{
    // At the program's end no event loop runs the window's deferred deletion: delete it
    // here, after its close has saved the options.
    CNotifier3dWindow* window = window_.data();
    Close();
    menu_.reset();
    delete window;
}

void CNotifier3d::Show()
{
    if (window_) {
        if (window_->Up()) {
            window_->show();
            window_->raise();
        }
        return;
    }
    auto* window = new CNotifier3dWindow(hooks_);
    if (!window->Create()) {
        delete window;
        return;
    }
    window_ = window;
    menu_ = std::make_unique<CNotifierOptionsMenu>(*window);
    connect(window, &CNotifier3dWindow::optionsMenuRequested, this, [this](const QPoint& global) {
        if (menu_)
            menu_->Popup(global);
    });
    connect(window, &CNotifier3dWindow::closed, this, [this, window] {
        if (window_ != window)
            return;
        menu_.reset();
        window_.clear();
        // Deleted later: the close may come from inside the window's own handlers.
        window->deleteLater();
        emit windowChanged(false);
    });
    emit windowChanged(true);
}

void CNotifier3d::Close()
{
    if (window_)
        window_->close();
}
