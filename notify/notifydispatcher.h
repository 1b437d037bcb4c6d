#pragma once

#include <cstdint>
#include <string>

class NotifyActions;

// Tells the user about the end of one check, as the Notify settings say. Run by the main
// window for every check summary while checking is enabled.
//
// With new mail (count > 0), each switched on in "…\\Notify": "Sound" plays "SoundFileName";
// "FlashIcon" flashes the tray icon and "MailLED" blinks the mail LED, both only while the
// main window is minimised; "3dEffect" brings a shown main window to the front and runs the
// 3D-effect command; "Message" shows the new-mail popup (bitmap 460, 3 s); "MailClient"
// starts "MailClientPath" of "…\\General". Without new mail, results 1 (error after log-in),
// 2 (log-in refused) and 3 (no connection) show a status popup (bitmap 303, titled with the
// account name); anything else shows nothing. A web-mail account's codes mean other things
// (1 the server did not answer in time, 3 an HTTP error): its popups say so.
//
// The settings are read afresh for every summary, so a change in the settings dialog
// applies to the next check; without a Notify key nothing happens.
// Threads: the GUI thread (NotifyActions' thread). `actions` must outlive the dispatcher.
class CNotifyDispatcher
{
public:
    static constexpr unsigned kNewMailBitmap = 460;
    static constexpr unsigned kStatusBitmap = 303;
    static constexpr int kNewMailSeconds = 3;

    explicit CNotifyDispatcher(NotifyActions& actions);

    // Whose result codes a summary carries.
    enum class Codes { MailClient, WebMail };

    void Notify(const std::string& account, int32_t newCount, int32_t result,
                Codes codes = Codes::MailClient);

    // "You have 2 new messages in <account> account": texts 61400, 61401 (one message) or
    // 61403 (more), 61402.
    static std::string NewMailMessage(const std::string& account, int32_t newCount);

private:
    NotifyActions& actions_;
};
