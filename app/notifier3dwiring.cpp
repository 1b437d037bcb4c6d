#include "notifier3dwiring.h"

#include "mainframe.h"
#include "notifier3d.h"

namespace
{

constexpr unsigned kRestoreCommand = 32771;

} // namespace

CNotifier3dWindow::Hooks Notifier3dWiring::MainWindowHooks(CMainFrame& frame)
{
    CNotifier3dWindow::Hooks hooks;
    hooks.showMainWindow = [&frame] {
        if (frame.IsMinimised())
            frame.RunCommandNow(kRestoreCommand); // also puts the LED to rest
        frame.show();
        frame.BringToFront();
        frame.CheckAnimation(false);
    };
    return hooks;
}

void Notifier3dWiring::Connect(CMainFrame& frame, CNotifier3d& notifier)
{
    QObject::connect(&frame, &CMainFrame::threeDEffectRequested, &notifier, &CNotifier3d::Show);
    QObject::connect(&frame, &CMainFrame::threeDWindowCloseRequested, &notifier,
                     &CNotifier3d::Close);
}
