// The log-on's sink outlives the check that logged on: the watch's later reports reach the
// program's own sink, and after log-off nothing reaches anyone. Played by a library that keeps
// the sink it was given and reports from a thread of its own, as the real one's watch does.
#include "hostfakes.h"
#include "mapiprobelibrary.h"
#include "portalpostlibrary.h"
#include "support/tablerow.h"

#include <atomic>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>

namespace
{

using hosttest::LineSink;

// The scripted library: one record during the log-on, its answer and count from the row.
PwSink g_kept{};
int32_t g_logonAnswer = PW_LOGON_DONE;
int32_t g_logonCount = 1;
std::atomic<int> g_logoffs{0};

const char* const kScanRecord[9] = {"Local", "scan", "", "1.00 K", "a", "d", "Inbox", "Mail", "No"};
const char* const kLaterRecord[9] = {"Local", "later", "",     "1.00 K", "a",
                                     "d",     "Inbox", "Mail", "No"};

int32_t ScriptedLogon(const PwSink* sink, const char*, const char*, int32_t, int32_t* newCount,
                      uint32_t)
{
    g_kept = *sink; // the library copies the sink and keeps it for its watch
    sink->deliver(sink->ctx, PW_RECORD_EXCHANGE, kScanRecord, 9);
    *newCount = g_logonCount;
    return g_logonAnswer;
}

void ScriptedLogoff(const PwSink*)
{
    ++g_logoffs;
}

int32_t NoProfiles(char**)
{
    return 0;
}

int32_t Present()
{
    return 1;
}

const MapiprobeFunctions kScripted{ScriptedLogon, ScriptedLogoff, NoProfiles, Present};

// A report from the library's own thread, after the log-on call has returned.
int32_t ReportLater()
{
    int32_t answer = -1;
    std::thread watch([&answer] {
        answer = g_kept.deliver(g_kept.ctx, PW_RECORD_EXCHANGE, kLaterRecord, 9);
        g_kept.result(g_kept.ctx, 4, 1, "Local");
    });
    watch.join();
    return answer;
}

const std::string kScanLine = "exchange Local|scan||1.00 K|a|d|Inbox|Mail|No";
const std::string kLaterLine = "exchange Local|later||1.00 K|a|d|Inbox|Mail|No";

struct LogonRow {
    const char* name;
    int32_t answer;
    int32_t count;
    bool loggedOn;        // the host counts a watch to end
    bool laterReachesApp; // the watch's report after the call reaches the program
    int32_t countSeen;    // the count the engine gets
};
POSTWATCH_ROW_PRINTS_NAME(LogonRow)

const LogonRow kLogonRows[] = {
    {"LoggedOnWatchReportsToTheProgram", PW_LOGON_DONE, 1, true, true, 1},
    {"AlreadyLoggedOnKeepsTheWatch", PW_LOGON_ALREADY, 0, true, true, 0},
    {"RetryLeavesNoWatch", PW_LOGON_RETRY, 0, false, false, 0},
    {"RetryWithDialogLeavesNoWatch", PW_LOGON_RETRY_DIALOG, 0, false, false, 0},
    {"FailedLeavesNoWatch", PW_LOGON_FAILED, 0, false, false, 0},
    {"NegativeCountIsNone", PW_LOGON_DONE, -4, true, true, 0},
};

class Logon : public ::testing::TestWithParam<LogonRow>
{
};

TEST_P(Logon, SinkLifetime)
{
    const LogonRow& row = GetParam();
    g_logonAnswer = row.answer;
    g_logonCount = row.count;
    g_logoffs = 0;
    auto program = std::make_shared<LineSink>();
    {
        MapiprobeLibrary library(program, kScripted);
        int32_t count = 0;
        {
            LineSink check; // the check's sink ends with the check
            EXPECT_EQ(library.LogonExchange(check, "Local mail", "Local", 0, count, 2048),
                      row.answer);
            EXPECT_EQ(check.Lines(), std::vector<std::string>{kScanLine});
        }
        EXPECT_EQ(count, row.countSeen);
        EXPECT_EQ(library.LoggedOn(), row.loggedOn);
        EXPECT_EQ(ReportLater(), row.laterReachesApp ? PW_SINK_HANDLED : PW_SINK_FRONT_GONE);
        const std::vector<std::string> later = {kLaterLine, "summary 4 1 Local"};
        EXPECT_EQ(program->Lines(), row.laterReachesApp ? later : std::vector<std::string>());

        EXPECT_EQ(library.LogoffIfLoggedOn(), row.loggedOn);
        EXPECT_FALSE(library.LoggedOn());
        // After log-off the kept sink still answers, but nobody hears it.
        EXPECT_EQ(ReportLater(), PW_SINK_FRONT_GONE);
        EXPECT_EQ(program->Lines().size(), row.laterReachesApp ? 2u : 0u);
    }
    EXPECT_EQ(g_logoffs.load(), row.loggedOn ? 1 : 0); // the destructor had nothing left
}

INSTANTIATE_TEST_SUITE_P(Table, Logon, ::testing::ValuesIn(kLogonRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A watch still running when the program ends is logged off by the library object's end.
TEST(MapiprobeLibrary, EndLogsOff)
{
    g_logonAnswer = PW_LOGON_DONE;
    g_logoffs = 0;
    {
        MapiprobeLibrary library(std::make_shared<LineSink>(), kScripted);
        LineSink check;
        int32_t count = 0;
        library.LogonExchange(check, "Local mail", "Local", 0, count, 2048);
    }
    EXPECT_EQ(g_logoffs.load(), 1);
}

// A web-mail library's answer outside its codes must not read as success.
int32_t g_checkAnswer = PW_WEBMAIL_SUCCESS;
std::optional<std::string> g_checkFailure; // passed to the sink's failure when set
int32_t ScriptedCheck(const PwSink* sink, const char*, const char* account, const char*,
                      const char*, int32_t* newCount, int32_t)
{
    const char* const record[8] = {"u", "s", "1.00K", "d", "f", account, " ", "No"};
    sink->deliver(sink->ctx, PW_RECORD_WEBMAIL, record, 8);
    *newCount = 1;
    if (g_checkFailure)
        sink->failure(sink->ctx, g_checkFailure->c_str());
    return g_checkAnswer;
}
int32_t NoCategories(const char**)
{
    return 0;
}

TEST(PortalpostLibrary, CodesOutsideTheirRangeAreFailures)
{
    PortalpostLibrary library({NoCategories, ScriptedCheck});
    for (const auto& [answer, expected] :
         std::vector<std::pair<int32_t, int>>{{4, 4}, {1, 1}, {5, 5}, {0, 5}, {6, 5}, {-1, 5}}) {
        g_checkAnswer = answer;
        LineSink check;
        int32_t count = 0;
        std::string failure = "stale";
        EXPECT_EQ(library.CheckPortalpostMsg(check, "Hotmail", "Web", "u", "p", count, 60, failure),
                  expected)
            << answer;
        EXPECT_EQ(count, 1);
        EXPECT_EQ(failure, "") << answer;
        EXPECT_EQ(check.Lines(), std::vector<std::string>{"webmail u|s|1.00K|d|f|Web| |No"});
    }
}

// The library's reason of a failure reaches the check as words a terminal or a log can
// take: no control characters, no broken characters, at most PW_FAILURE_TEXT_MAX bytes.
struct FailureRow {
    const char* name;
    int32_t answer;
    std::optional<std::string> said;
    std::string want;
};
POSTWATCH_ROW_PRINTS_NAME(FailureRow)

const std::string kR = "\xEF\xBF\xBD"; // U+FFFD

const FailureRow kFailureRows[] = {
    {"KeptAsSaid", PW_WEBMAIL_LOGIN_REFUSED, "http://127.0.0.1:8/: the server refused the log-in",
     "http://127.0.0.1:8/: the server refused the log-in"},
    {"ControlsReplaced", PW_WEBMAIL_FAILED, "a\x1B]0;title\x07\r\nb\xC2\x9B",
     "a" + kR + "]0;title" + kR + kR + kR + "b" + kR},
    {"LongCutWithMark", PW_WEBMAIL_HTTP_ERROR, std::string(100000, 'x'),
     std::string(PW_FAILURE_TEXT_MAX - 3, 'x') + "..."},
    // Two-byte characters over the bound: the cut never splits one.
    {"LongCutBetweenCharacters", PW_WEBMAIL_FAILED,
     [] {
         std::string s;
         for (int i = 0; i < 600; ++i)
             s += "\xC3\xBC";
         return s;
     }(),
     [] {
         std::string s;
         for (unsigned i = 0; i < (PW_FAILURE_TEXT_MAX - 3) / 2; ++i)
             s += "\xC3\xBC";
         return s + "...";
     }()},
    {"NoneSaid", PW_WEBMAIL_TIMEOUT, std::nullopt, ""},
    {"NullText", PW_WEBMAIL_FAILED, std::nullopt, ""},
    {"IgnoredWithSuccess", PW_WEBMAIL_SUCCESS, "nothing wrong", ""},
};

class PortalpostFailure : public ::testing::TestWithParam<FailureRow>
{
};

int32_t NullFailureCheck(const PwSink* sink, const char*, const char*, const char*, const char*,
                         int32_t*, int32_t)
{
    sink->failure(sink->ctx, nullptr);
    return PW_WEBMAIL_FAILED;
}

TEST_P(PortalpostFailure, ReachesTheCheckBoundedAndPrintable)
{
    const FailureRow& row = GetParam();
    g_checkAnswer = row.answer;
    g_checkFailure = row.said;
    const bool nullText = std::string(row.name) == "NullText";
    PortalpostLibrary library({NoCategories, nullText ? NullFailureCheck : ScriptedCheck});
    LineSink check;
    int32_t count = 0;
    std::string failure;
    EXPECT_EQ(library.CheckPortalpostMsg(check, "Hotmail", "Web", "u", "p", count, 60, failure),
              row.answer);
    EXPECT_EQ(failure, row.want);
    EXPECT_LE(failure.size(), PW_FAILURE_TEXT_MAX);
    g_checkFailure.reset();
}

INSTANTIATE_TEST_SUITE_P(Table, PortalpostFailure, ::testing::ValuesIn(kFailureRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
