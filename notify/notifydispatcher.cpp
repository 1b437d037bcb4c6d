#include "notifydispatcher.h"

#include "certificatepin.h"
#include "quiethours.h"
#include "regsettings.h"
#include "resourceids.h"
#include "resourcelibrary.h"
#include "systemclock.h"

#include <limits>

namespace
{

constexpr unsigned kYouHave = 61400;
constexpr unsigned kNewMessageIn = 61401;
constexpr unsigned kAccountWord = 61402;
constexpr unsigned kNewMessagesIn = 61403;
constexpr unsigned kNewMailTitle = 61404;

struct FailureText {
    int32_t result;
    unsigned text;
    int seconds;
};
constexpr FailureText kFailures[] = {
    {1, 61405, 1}, // an error after log-in
    {2, 61406, 1}, // log-in refused
    {3, 61407, 2}, // no connection
};
constexpr FailureText kWebMailFailures[] = {
    {1, 40400, 1}, // the server did not answer in time
    {2, 61406, 1}, // log-in refused
    {3, 40401, 2}, // any other HTTP error
};

// The texts of a refused certificate, shared with the dialogs' offer.
constexpr unsigned kCertificateUntrusted = 40800;
constexpr unsigned kCertificateChanged = 40801;
constexpr unsigned kCertificateSubject = 40803;
constexpr unsigned kCertificateIssuer = 40804;
constexpr unsigned kCertificateValid = 40805;
constexpr unsigned kCertificateFingerprint = 40806;
constexpr unsigned kCertificateValidity = 40807; // "%s until %s"

// Fills the "%s" placeholders of `text` in order; the values are not searched again.
std::string FillTexts(const std::string& text, std::initializer_list<std::string> values)
{
    std::string out;
    auto next = values.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 's' && next != values.end()) {
            out += *next++;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Fills the "%d" placeholders of `text` in order.
std::string FillNumbers(const std::string& text, std::initializer_list<int> numbers)
{
    std::string out;
    auto next = numbers.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 'd' && next != numbers.end()) {
            out += std::to_string(*next++);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

CNotifyDispatcher::CNotifyDispatcher(NotifyActions& actions, EngineClock* clock)
    : actions_(actions), ownClock_(clock ? nullptr : std::make_unique<CSystemClock>()),
      clock_(clock ? *clock : *ownClock_)
{
}

CNotifyDispatcher::~CNotifyDispatcher() = default;

std::string CNotifyDispatcher::NewMailMessage(const std::string& account, int32_t newCount)
{
    return LoadResourceString(kYouHave) + " " + std::to_string(newCount) + " " +
           LoadResourceString(newCount == 1 ? kNewMessageIn : kNewMessagesIn) + " " + account +
           " " + LoadResourceString(kAccountWord);
}

std::string CNotifyDispatcher::AwayMessage(int messages, int accounts)
{
    const unsigned text = messages == 1   ? ResId::kAwayOneMessage
                          : accounts == 1 ? ResId::kAwayOneAccount
                                          : ResId::kAwayMessages;
    return FillNumbers(LoadResourceString(text), {messages, accounts});
}

std::string CNotifyDispatcher::CertificateMessage(const PeerCertificate& c)
{
    return LoadResourceString(c.changed ? kCertificateChanged : kCertificateUntrusted) + "\n" +
           LoadResourceString(kCertificateSubject) + " " + c.subject + "\n" +
           LoadResourceString(kCertificateIssuer) + " " + c.issuer + "\n" +
           LoadResourceString(kCertificateValid) + " " +
           FillTexts(LoadResourceString(kCertificateValidity), {c.notBefore, c.notAfter}) + "\n" +
           LoadResourceString(kCertificateFingerprint) + " " + PinForReading(c.sha256);
}

bool CNotifyDispatcher::Quiet(const CRegSettings& settings)
{
    const CRegSettings::Notify& notify = settings.notify;
    if (QuietHours::FromSettings(notify.quietFrom.Get(), notify.quietUntil.Get())
            .Contains(clock_.LocalSecondsOfDay()))
        return true;
    return notify.followDoNotDisturb.Get() && actions_.DesktopInhibited().value_or(false);
}

void CNotifyDispatcher::Notice(const CRegSettings& settings, const std::string& account,
                               NotifyActions::NoticeKind kind, const std::string& body,
                               const std::string& title, unsigned bitmapId, int seconds)
{
    if (settings.notify.desktopNotify.Get() &&
        actions_.ShowDesktopNotice(account, kind, title, body))
        return;
    actions_.ShowPopup(body, title, bitmapId, seconds);
}

void CNotifyDispatcher::ReleaseHeld(const CRegSettings& settings)
{
    if (heldMessages_ == 0)
        return;
    const std::string body = AwayMessage(heldMessages_, static_cast<int>(heldAccounts_.size()));
    heldMessages_ = 0;
    heldAccounts_.clear();
    if (settings.notify.message.Get())
        Notice(settings, std::string(), NotifyActions::NoticeKind::Summary, body,
               LoadResourceString(ResId::kAwayTitle), kNewMailBitmap, kNewMailSeconds);
}

void CNotifyDispatcher::Tick()
{
    if (heldMessages_ == 0)
        return;
    CRegSettings settings;
    if (!settings.LoadNotify() || !Quiet(settings))
        ReleaseHeld(settings);
}

void CNotifyDispatcher::Notify(const std::string& account, int32_t newCount, int32_t result,
                               Codes codes, const PeerCertificate& refused)
{
    CRegSettings settings;
    if (!settings.LoadNotify())
        return;
    const CRegSettings::Notify& notify = settings.notify;

    if (Quiet(settings)) {
        if (newCount > 0) {
            heldMessages_ = newCount > std::numeric_limits<int>::max() - heldMessages_
                                ? std::numeric_limits<int>::max()
                                : heldMessages_ + newCount;
            heldAccounts_.insert(account);
        }
        return; // failures too: the next check after the quiet time tells them again
    }
    ReleaseHeld(settings);

    if (newCount > 0) {
        const std::string message = NewMailMessage(account, newCount);
        const bool minimised = actions_.IsMainWindowMinimised();
        if (notify.sound.Get())
            actions_.PlaySound(notify.soundFileName.Get());
        if (notify.flashIcon.Get() && minimised)
            actions_.FlashTrayIcon(message);
        if (notify.mailLed.Get() && minimised)
            actions_.StartLedBlink();
        if (notify.effect3d.Get()) {
            if (!minimised)
                actions_.BringMainWindowToFront();
            actions_.Run3dEffect();
        }
        if (notify.message.Get())
            Notice(settings, account, NotifyActions::NoticeKind::NewMail, message,
                   LoadResourceString(kNewMailTitle), kNewMailBitmap, kNewMailSeconds);
        if (notify.mailClient.Get() && settings.LoadGeneral())
            actions_.StartMailClient(settings.general.mailClientPath.Get());
        return;
    }
    if (newCount < 0)
        return;
    if (result == 3 && codes == Codes::MailClient && !refused.Empty()) {
        const std::string body = CertificateMessage(refused);
        if (!notify.desktopNotify.Get() ||
            !actions_.ShowCertificateNotice(account, account, body, refused.sha256))
            actions_.ShowPopup(body, account, kStatusBitmap, kCertificateSeconds);
        return;
    }
    for (const FailureText& failure : codes == Codes::WebMail ? kWebMailFailures : kFailures) {
        if (failure.result == result) {
            Notice(settings, account, NotifyActions::NoticeKind::Failure,
                   LoadResourceString(failure.text), account, kStatusBitmap, failure.seconds);
            return;
        }
    }
}
