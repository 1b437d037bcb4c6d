// Quiet hours: which settings make a window (mistyped ones never silence the program), which
// times lie in it, and the dispatcher with the injectable clock: nothing audible or visible
// during the window or the desktop's do-not-disturb, one summary after it.
#include "engineclock.h"
#include "notifyactions.h"
#include "notifydispatcher.h"
#include "programkey.h"
#include "qttestapp.h"
#include "quiethours.h"
#include "registrykey.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{

struct WindowRow {
    const char* name;
    std::string from;
    std::string until;
    int secondsOfDay;
    bool quiet;
};
POSTWATCH_ROW_PRINTS_NAME(WindowRow)

class QuietWindow : public ::testing::TestWithParam<WindowRow>
{
};

TEST_P(QuietWindow, Contains)
{
    const WindowRow& row = GetParam();
    EXPECT_EQ(QuietHours::FromSettings(row.from, row.until).Contains(row.secondsOfDay), row.quiet);
}

constexpr int At(int h, int m)
{
    return h * 3600 + m * 60;
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuietWindow,
    ::testing::Values(WindowRow{"inside_same_day", "12:00", "13:30", At(13, 29), true},
                      WindowRow{"from_is_included", "12:00", "13:30", At(12, 0), true},
                      WindowRow{"until_is_excluded", "12:00", "13:30", At(13, 30), false},
                      WindowRow{"past_midnight_late", "22:00", "7:00", At(23, 59), true},
                      WindowRow{"past_midnight_early", "22:00", "07:00", At(6, 59), true},
                      WindowRow{"past_midnight_day", "22:00", "07:00", At(12, 0), false},
                      WindowRow{"same_time_is_none", "08:00", "08:00", At(8, 0), false},
                      WindowRow{"empty_is_none", "", "", At(0, 0), false},
                      WindowRow{"one_empty_is_none", "22:00", "", At(23, 0), false},
                      WindowRow{"hour_24_refused", "24:00", "06:00", At(1, 0), false},
                      WindowRow{"minute_60_refused", "22:60", "06:00", At(23, 0), false},
                      WindowRow{"seconds_refused", "22:00:00", "06:00", At(23, 0), false},
                      WindowRow{"words_refused", "ten pm", "06:00", At(23, 0), false},
                      WindowRow{"sign_refused", "-1:00", "06:00", At(23, 0), false}),
    [](const auto& info) { return std::string(info.param.name); });

class TestClock : public EngineClock
{
public:
    std::chrono::milliseconds Elapsed() override { return {}; }
    int LocalSecondsOfDay() override { return seconds; }
    void Sleep(std::chrono::milliseconds, CWakeSignal&) override {}
    int seconds = 0;
};

class Recording : public NotifyActions
{
public:
    bool IsMainWindowMinimised() const override { return true; }
    void BringMainWindowToFront() override { calls.push_back("front"); }
    void PlaySound(const std::string&) override { calls.push_back("sound"); }
    void FlashTrayIcon(const std::string&) override { calls.push_back("flash"); }
    void StartLedBlink() override { calls.push_back("led"); }
    void Run3dEffect() override { calls.push_back("3d"); }
    void ShowPopup(const std::string& body, const std::string& title, unsigned, int) override
    {
        calls.push_back("popup " + title + ": " + body);
    }
    void StartMailClient(const std::string&) override { calls.push_back("client"); }
    std::optional<bool> DesktopInhibited() override { return inhibited; }
    bool ShowDesktopNotice(const std::string& account, NoticeKind kind, const std::string& title,
                           const std::string& body) override
    {
        calls.push_back("desktop " + account + " " + std::to_string(static_cast<int>(kind)) + " " +
                        title + ": " + body);
        return serverShows;
    }

    std::optional<bool> inhibited;
    bool serverShows = true;
    std::vector<std::string> calls;
};

void Write(const std::string& name, const std::string& text, const char* group = "Notify")
{
    CRegistryKey key;
    ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, ProgramKey::Path(group)), 1);
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path(group)), 1);
    ASSERT_EQ(key.WriteString(name, text), 1);
}

const std::vector<std::string> kEverything = {
    "sound", "flash", "led", "3d", "popup New Mail: You have 2 new messages in Work account",
    "client"};

// One step of a day: the clock moves, then a check ends (count >= 0) or the timer ticks.
struct Step {
    int secondsOfDay;
    std::optional<bool> inhibited;
    const char* account; // nullptr: a tick
    int count;
    int result;
    std::vector<std::string> calls;
};

struct QuietRow {
    const char* name;
    const char* followDnd;
    std::vector<Step> steps;
};
POSTWATCH_ROW_PRINTS_NAME(QuietRow)

class QuietDispatch : public ::testing::TestWithParam<QuietRow>
{
protected:
    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", dir.File("sysconfig")};
};

TEST_P(QuietDispatch, HoldsEverythingAndSummarisesOnce)
{
    QtTestApp::Ensure();
    std::filesystem::create_directories(dir.File("config"));
    for (const char* name : {"3dEffect", "FlashIcon", "MailClient", "Message", "MailLED", "Sound"})
        Write(name, "1");
    Write("QuietFrom", "22:00");
    Write("QuietUntil", "07:00");
    Write("FollowDoNotDisturb", GetParam().followDnd);
    Write("MailClientPath", "mailer", "General");
    TestClock clock;
    Recording actions;
    CNotifyDispatcher dispatcher(actions, &clock);
    int n = 0;
    for (const Step& s : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(n++));
        clock.seconds = s.secondsOfDay;
        actions.inhibited = s.inhibited;
        actions.calls.clear();
        if (s.account)
            dispatcher.Notify(s.account, s.count, s.result);
        else
            dispatcher.Tick();
        EXPECT_EQ(actions.calls, s.calls);
    }
}

const std::string kAway = "popup While You Were Away: ";

INSTANTIATE_TEST_SUITE_P(
    Days, QuietDispatch,
    ::testing::Values(
        QuietRow{"night_then_tick",
                 "0",
                 {{At(23, 0), {}, "Work", 2, 4, {}},
                  {At(23, 30), {}, "Work", 0, 3, {}}, // a failure is held too
                  {At(2, 0), {}, "Home", 10, 4, {}},
                  {At(6, 59), {}, nullptr, 0, 0, {}},
                  {At(7, 0),
                   {},
                   nullptr,
                   0,
                   0,
                   {kAway + "12 new messages in 2 accounts while you were away"}},
                  {At(7, 1), {}, nullptr, 0, 0, {}}}},
        QuietRow{
            "summary_before_the_first_check_after",
            "0",
            {{At(23, 0), {}, "Work", 1, 4, {}},
             {At(8, 0),
              {},
              "Work",
              2,
              4,
              {kAway + "1 new message in 1 account while you were away", "sound", "flash", "led",
               "3d", "popup New Mail: You have 2 new messages in Work account", "client"}}}},
        QuietRow{"one_account_many_messages",
                 "0",
                 {{At(22, 0), {}, "Work", 3, 4, {}},
                  {At(12, 0),
                   {},
                   nullptr,
                   0,
                   0,
                   {kAway + "3 new messages in 1 account while you were away"}}}},
        QuietRow{"nothing_held_no_summary", "0", {{At(7, 0), {}, nullptr, 0, 0, {}}}},
        QuietRow{"do_not_disturb_followed",
                 "1",
                 {{At(12, 0), true, "Work", 2, 4, {}},
                  {At(12, 5), true, nullptr, 0, 0, {}},
                  {At(12, 10),
                   false,
                   nullptr,
                   0,
                   0,
                   {kAway + "2 new messages in 1 account while you were away"}}}},
        QuietRow{
            "do_not_disturb_ignored_when_off", "0", {{At(12, 0), true, "Work", 2, 4, kEverything}}},
        QuietRow{"server_without_the_property_is_not_quiet",
                 "1",
                 {{At(12, 0), std::nullopt, "Work", 2, 4, kEverything}}}),
    [](const auto& info) { return std::string(info.param.name); });

// "DesktopNotify": every popup goes to the notification server instead, and comes as the
// popup after all when no server shows it.
struct RouteRow {
    const char* name;
    const char* desktopNotify;
    bool serverShows;
    int count;
    int result;
    std::vector<std::string> calls;
};
POSTWATCH_ROW_PRINTS_NAME(RouteRow)

class NoticeRoute : public ::testing::TestWithParam<RouteRow>
{
protected:
    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", dir.File("sysconfig")};
};

TEST_P(NoticeRoute, DesktopOrPopup)
{
    QtTestApp::Ensure();
    std::filesystem::create_directories(dir.File("config"));
    Write("Message", "1");
    Write("DesktopNotify", GetParam().desktopNotify);
    TestClock clock;
    Recording actions;
    actions.serverShows = GetParam().serverShows;
    CNotifyDispatcher dispatcher(actions, &clock);
    dispatcher.Notify("Work", GetParam().count, GetParam().result);
    EXPECT_EQ(actions.calls, GetParam().calls);
}

const std::string kNewMail = "New Mail: You have 2 new messages in Work account";
const std::string kRefused =
    "Work: The server refused the log-in. Please check the user name and password.";

INSTANTIATE_TEST_SUITE_P(
    Table, NoticeRoute,
    ::testing::Values(RouteRow{"popup_by_default", "", true, 2, 4, {"popup " + kNewMail}},
                      RouteRow{"desktop_new_mail", "1", true, 2, 4, {"desktop Work 0 " + kNewMail}},
                      RouteRow{"desktop_failure", "1", true, 0, 2, {"desktop Work 1 " + kRefused}},
                      RouteRow{"no_server_falls_back_to_the_popup",
                               "1",
                               false,
                               2,
                               4,
                               {"desktop Work 0 " + kNewMail, "popup " + kNewMail}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
