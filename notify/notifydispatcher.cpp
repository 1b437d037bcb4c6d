#include "notifydispatcher.h"

#include "notifyactions.h"
#include "regsettings.h"
#include "resourcelibrary.h"

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

void CNotifyDispatcher::Notify(const std::string& account, int32_t newCount, int32_t result,
                               Codes codes)
{
    CRegSettings settings;
    if (!settings.LoadNotify())
        return;
    const CRegSettings::Notify& notify = settings.notify;

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
            actions_.ShowPopup(message, LoadResourceString(kNewMailTitle), kNewMailBitmap,
                               kNewMailSeconds);
        if (notify.mailClient.Get() && settings.LoadGeneral())
            actions_.StartMailClient(settings.general.mailClientPath.Get());
        return;
    }
    if (newCount < 0)
        return;
    for (const FailureText& failure : codes == Codes::WebMail ? kWebMailFailures : kFailures) {
        if (failure.result == result) {
            actions_.ShowPopup(LoadResourceString(failure.text), account, kStatusBitmap,
                               failure.seconds);
            return;
        }
    }
}
