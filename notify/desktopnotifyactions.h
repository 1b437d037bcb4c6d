#pragma once

#include "desktopnotifier.h"
#include "notifyactions.h"
#include "soundplayer.h"

class CMailLedBlinker;
class CTrayIcon;
class NotifyWindow;

// The desktop's notification effects: the main window through NotifyWindow, the tray icon's
// flash, the LED blinker, the sound player (its own), popups of 180 x 160 on the main
// window's screen, the mail client started as a detached process, and notices through the
// desktop's notification server (DesktopNotifier on the session bus).
//
// The window, the tray icon and the blinker belong to the main window and must outlive this
// object. Threads: the GUI thread only.
class CDesktopNotifyActions : public NotifyActions
{
public:
    CDesktopNotifyActions(NotifyWindow& window, CTrayIcon& tray, CMailLedBlinker& blinker);

    bool IsMainWindowMinimised() const override;
    void BringMainWindowToFront() override;
    void PlaySound(const std::string& fileName) override;
    void FlashTrayIcon(const std::string& tooltip) override;
    void StartLedBlink() override;
    void Run3dEffect() override;
    void ShowPopup(const std::string& body, const std::string& title, unsigned bitmapId,
                   int seconds) override;
    void StartMailClient(const std::string& command) override;
    bool ShowDesktopNotice(const std::string& account, NoticeKind kind, const std::string& title,
                           const std::string& body) override;
    bool ShowCertificateNotice(const std::string& account, const std::string& title,
                               const std::string& body, const std::string& pin) override;
    std::optional<bool> DesktopInhibited() override;

    // The session bus's notification server; its action signals are the main window's to
    // connect.
    DesktopNotifier& Notifier() { return notifier_; }

private:
    NotifyWindow& window_;
    CTrayIcon& tray_;
    CMailLedBlinker& blinker_;
    CSoundPlayer sound_;
    DesktopNotifier notifier_;
};
