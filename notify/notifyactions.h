#pragma once

#include <optional>
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

    // What a notice is about: new mail of `account`, a failed check of it, or the summary
    // of what came while the program was quiet (no account).
    enum class NoticeKind { NewMail, Failure, Summary };
    // The notice through the desktop's notification server instead of the popup; false
    // when no server showed it (the caller shows the popup then). None by default.
    virtual bool ShowDesktopNotice(const std::string& /*account*/, NoticeKind /*kind*/,
                                   const std::string& /*title*/, const std::string& /*body*/)
    {
        return false;
    }
    // A failure notice through the desktop's notification server that offers "Trust this
    // certificate for this account" for the certificate whose fingerprint is `pin` (the check
    // refused it); false when no server showed it. None by default.
    virtual bool ShowCertificateNotice(const std::string& /*account*/, const std::string& /*title*/,
                                       const std::string& /*body*/, const std::string& /*pin*/)
    {
        return false;
    }
    // The desktop's do-not-disturb switch where its notification server has one.
    virtual std::optional<bool> DesktopInhibited() { return std::nullopt; }
};
