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
    // Known before it is created: a message of the start (a model that falls back) runs a
    // modal loop, and a request that comes meanwhile (new mail) finds this window not yet up
    // instead of starting a second one.
    window_ = window;
    starting_ = true;
    closeAfterStart_ = false;
    const bool created = window->Create();
    starting_ = false;
    if (!created || closeAfterStart_) {
        // A close requested meanwhile (the exit sequence) still finds the options kept.
        if (created)
            window->close();
        window_.clear();
        delete window;
        return;
    }
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
    // A window not created yet takes no close: it is closed once its start is over.
    if (starting_)
        closeAfterStart_ = true;
    else if (window_)
        window_->close();
}
