#pragma once

#include "notifier3dwindow.h"

class CMainFrame;
class CNotifier3d;

// How the main window and the 3D notifier meet: the 3D command (32853) and the dispatcher's
// 3D effect start the one notifier window or show and raise it; the exit sequence (the exit
// command, closing the main window, a logout) closes it; its double click brings the main
// window back as the restore command does (LED blink stopped), to the front, with the
// tray's checking animation stopped.
//
// Threads: the GUI thread. `frame` must outlive `notifier`'s window.
class Notifier3dWiring
{
public:
    static CNotifier3dWindow::Hooks MainWindowHooks(CMainFrame& frame);
    static void Connect(CMainFrame& frame, CNotifier3d& notifier);
};
