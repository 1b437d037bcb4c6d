#pragma once

#include <string>

// The outside effects the notification dispatcher chooses among, and the one fact about the
// main window it needs. The desktop implements them with the tray icon, the LED blinker,
// the sound player, popups and the mail-client start (CDesktopNotifyActions); tests record
// the calls. Called on the GUI thread.
class NotifyActions
{
public:
    virtual ~NotifyActions() = default;
    // The main window is minimised or hidden in the tray.
    virtual bool IsMainWindowMinimised() const = 0;
    virtual void BringMainWindowToFront() = 0;
    virtual void PlaySound(const std::string& fileName) = 0;
    // The tray icon's new-mail flash, with `tooltip` as its tip.
    virtual void FlashTrayIcon(const std::string& tooltip) = 0;
    virtual void StartLedBlink() = 0;
    // The main window's 3D-effect command: start the 3D notifier or show its window.
    virtual void Run3dEffect() = 0;
    // The main window's show-popup operation.
    virtual void ShowPopup(const std::string& body, const std::string& title, unsigned bitmapId,
                           int seconds) = 0;
    // Starts the mail client with the command line `command`.
    virtual void StartMailClient(const std::string& command) = 0;
};
