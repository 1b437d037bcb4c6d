#include "notifydispatcher.h"

#include "notifyactions.h"
#include "regsettings.h"
#include "resourcelibrary.h"
#include "settingnumber.h"

namespace
{

constexpr unsigned kYouHave = 61400;
constexpr unsigned kNewMessageIn = 61401;
constexpr unsigned kAccountWord = 61402;
constexpr unsigned kNewMessagesIn = 61403;
constexpr unsigned kNewMailTitle = 61404;

// Switches were read into 9-byte buffers and converted with atoi.
constexpr size_t kSwitchChars = 8;

bool IsOn(const std::string& value)
{
    return SettingNumber(value.substr(0, kSwitchChars)) != 0;
}

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

} // namespace

CNotifyDispatcher::CNotifyDispatcher(NotifyActions& actions) : actions_(actions)
{
}

std::string CNotifyDispatcher::NewMailMessage(const std::string& account, int32_t newCount)
{
    return LoadResourceString(kYouHave) + " " + std::to_string(newCount) + " " +
           LoadResourceString(newCount == 1 ? kNewMessageIn : kNewMessagesIn) + " " + account +
           " " + LoadResourceString(kAccountWord);
}

void CNotifyDispatcher::Notify(const std::string& account, int32_t newCount, int32_t result)
{
    CRegSettings settings;
    if (!settings.LoadNotify())
        return;
    const CRegSettings::Notify& notify = settings.notify;

    if (newCount > 0) {
        const std::string message = NewMailMessage(account, newCount);
        const bool minimised = actions_.IsMainWindowMinimised();
        if (IsOn(notify.sound))
            actions_.PlaySound(notify.soundFileName);
        if (IsOn(notify.flashIcon) && minimised)
            actions_.FlashTrayIcon(message);
        if (IsOn(notify.mailLed) && minimised)
            actions_.StartLedBlink();
        if (IsOn(notify.effect3d)) {
            if (!minimised)
                actions_.BringMainWindowToFront();
            actions_.Run3dEffect();
        }
        if (IsOn(notify.message))
            actions_.ShowPopup(message, LoadResourceString(kNewMailTitle), kNewMailBitmap,
                               kNewMailSeconds);
        if (IsOn(notify.mailClient) && settings.LoadGeneral())
            actions_.StartMailClient(settings.general.mailClientPath);
        return;
    }
    if (newCount < 0)
        return;
    for (const FailureText& failure : kFailures) {
        if (failure.result == result) {
            actions_.ShowPopup(LoadResourceString(failure.text), account, kStatusBitmap,
                               failure.seconds);
            return;
        }
    }
}
