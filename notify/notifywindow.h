#pragma once

class QScreen;

// What the desktop notifications need from the main window. Called on the GUI thread.
class NotifyWindow
{
public:
    virtual ~NotifyWindow() = default;
    // Minimised, or hidden in the tray.
    virtual bool IsMinimised() const = 0;
    virtual void BringToFront() = 0;
    // The 3D-effect command (32853): start the 3D notifier, or show its window.
    virtual void Run3dEffect() = 0;
    // The screen whose work area popups slide out of (the main window's); null for the
    // primary screen.
    virtual QScreen* PopupScreen() const = 0;
};
