#pragma once

#include "notifyactions.h"
#include "peercertificate.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>

class CRegSettings;
class EngineClock;

// Tells the user about the end of one check, as the Notify settings say. Run by the main
// window for every check summary while checking is enabled.
//
// With new mail (count > 0), each switched on in "…\\Notify": "Sound" plays "SoundFileName";
// "FlashIcon" flashes the tray icon and "MailLED" blinks the mail LED, both only while the
// main window is minimised; "3dEffect" brings a shown main window to the front and runs the
// 3D-effect command; "Message" shows the new-mail popup (bitmap 460, 3 s); "MailClient"
// starts "MailClientPath" of "…\\General". Without new mail, results 1 (error after log-in),
// 2 (log-in refused) and 3 (no connection) show a status popup (bitmap 303, titled with the
// account name); anything else shows nothing. A mail account's result 3 that refused the
// server's certificate says so instead, with what the certificate names (subject, issuer,
// validity, SHA-256; texts 40800-40807), for 8 s; as a desktop notice it offers "Trust this
// certificate for this account" (NotifyActions::ShowCertificateNotice). A web-mail account's codes
// mean other things (1 the server did not answer in time, 3 an HTTP error): its popups say so.
//
// "DesktopNotify" sends every popup (new mail, failure, the summary below) through the
// desktop's notification server instead (NotifyActions::ShowDesktopNotice); the popup still
// comes when no server shows it.
//
// Quiet: while the local time lies in "QuietFrom"-"QuietUntil" (QuietHours), or
// "FollowDoNotDisturb" is on and the notification server says do-not-disturb, nothing is
// played, flashed, blinked, shown or started; the new mail is only counted (checks and
// storing go on elsewhere). The first Notify() or Tick() that finds the quiet over shows
// one summary, "12 new messages in 3 accounts while you were away" (texts 40703-40705,
// title 40702), with "Message" on, and forgets the count.
//
// The settings are read afresh for every summary, so a change in the settings dialog
// applies to the next check; without a Notify key nothing happens.
// Threads: the GUI thread (NotifyActions' thread). `actions` and `clock` must outlive the
// dispatcher; without a clock the system's is used.
class CNotifyDispatcher
{
public:
    static constexpr unsigned kNewMailBitmap = 460;
    static constexpr unsigned kStatusBitmap = 303;
    static constexpr int kNewMailSeconds = 3;

    explicit CNotifyDispatcher(NotifyActions& actions, EngineClock* clock = nullptr);
    ~CNotifyDispatcher();

    // Whose result codes a summary carries.
    enum class Codes { MailClient, WebMail };

    void Notify(const std::string& account, int32_t newCount, int32_t result,
                Codes codes = Codes::MailClient, const PeerCertificate& refused = {});
    // Shows the summary of the quiet time once it is over; the main window calls it
    // periodically so the summary comes without waiting for the next check.
    void Tick();

    // "You have 2 new messages in <account> account": texts 61400, 61401 (one message) or
    // 61403 (more), 61402.
    static std::string NewMailMessage(const std::string& account, int32_t newCount);
    // "12 new messages in 3 accounts while you were away".
    static std::string AwayMessage(int messages, int accounts);
    // The body of a refused certificate's notice: the heading (not trusted, or changed),
    // then one line each for subject, issuer, validity and fingerprint.
    static std::string CertificateMessage(const PeerCertificate& certificate);
    static constexpr int kCertificateSeconds = 8;

private:
    bool Quiet(const CRegSettings& settings);
    void ReleaseHeld(const CRegSettings& settings);
    void Notice(const CRegSettings& settings, const std::string& account,
                NotifyActions::NoticeKind kind, const std::string& body, const std::string& title,
                unsigned bitmapId, int seconds);

    NotifyActions& actions_;
    std::unique_ptr<EngineClock> ownClock_;
    EngineClock& clock_;
    int heldMessages_ = 0;
    std::set<std::string> heldAccounts_;
};
