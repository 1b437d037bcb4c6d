// The log-on logic over a scripted provider: the odd cases a real Maildir will not produce
// (refused profiles and stores, public and secondary stores, vanished and half-readable
// messages, a sink that cannot store), one row each.
#include "apppaths.h"
#include "exchangemessagehandler.h"
#include "filterrule.h"
#include "filterrules.h"
#include "mapiprobe/recordingsink.h"
#include "mapiprobe/scriptedprovider.h"
#include "mapiprobesession.h"
#include "midsfile.h"
#include "resourcelibrary.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{

constexpr uint32_t kBodyLimit = 16;

ScriptedProvider::Message Unread(std::string folder, std::string id, std::string subject)
{
    ScriptedProvider::Message m;
    m.folderId = std::move(folder);
    m.entryId = std::move(id);
    m.details.subject = std::move(subject);
    m.details.senderName = "Ann Example";
    m.details.senderEmail = "ann@example.org";
    m.details.size = 2048;
    m.details.deliveryTime = 1796644800; // 2026-12-07 12:00:00 UTC
    m.details.hasBody = true;
    m.details.body = "hello";
    return m;
}

ScriptedProvider::Message With(ScriptedProvider::Message m,
                               void (*change)(ScriptedProvider::Message&))
{
    change(m);
    return m;
}

const ProviderStore kDefault{"s1", "Personal", true, false, true};

struct SessionRow {
    const char* name;
    std::vector<ProviderStore> stores = {kDefault};
    std::vector<ProviderFolder> folders = {};
    std::vector<ScriptedProvider::Message> messages = {};
    int want = PW_LOGON_DONE;
    std::vector<std::string> reported = {};      // subjects, in order
    std::vector<std::string> reportedAgain = {}; // at a second log-on where all goes well
    unsigned questionCaption = 0;                // resource number of the question's caption
    std::vector<std::string> deleted = {};
    ProviderStatus profileStatus = ProviderStatus::kOk;
    ProviderStatus folderStatus = ProviderStatus::kOk;
    bool watchFails = false;
    int32_t sinkAnswer = PW_SINK_HANDLED;
    int32_t askAnswer = PW_ANSWER_CANCEL;
    std::string body = "hello"; // the body field of the first record
    std::string mids = {};      // the MIDs file before the log-on, when not empty
    // During the log-on the MIDs file is held by another process, or cannot be opened.
    enum { kMidsFree, kMidsHeld, kMidsUnusable } midsState = kMidsFree;
    std::vector<ScriptedProvider::Message> arriving = {}; // ScriptedProvider::arriving
};

POSTWATCH_ROW_PRINTS_NAME(SessionRow)

class MapiprobeSessionTest : public testing::TestWithParam<SessionRow>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("Work")));
        std::string error;
        ASSERT_TRUE(ResourceLibrary::IsLoaded() || ResourceLibrary::LoadDefault(&error)) << error;
        // Subjects with "junk" are deleted, with "quiet" hidden.
        const FilterKeywords words = FilterKeywords::Load();
        ASSERT_EQ(SaveRule({"Junk", words.subject, words.contains, "junk", "1"}), 1);
        ASSERT_EQ(SaveRule({"Quiet", words.subject, words.contains, "quiet", "0"}), 1);
    }

    TempDir home_;
    ScopedEnv data_{"POSTWATCH_HOME", home_.Path()};
    ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
};

TEST_P(MapiprobeSessionTest, Logon)
{
    const SessionRow& r = GetParam();
    auto owned = std::make_unique<ScriptedProvider>();
    ScriptedProvider& provider = *owned;
    provider.stores = r.stores;
    provider.folders = r.folders;
    provider.messages = r.messages;
    provider.profileStatus = r.profileStatus;
    provider.folderStatus = r.folderStatus;
    provider.watchFails = r.watchFails;
    provider.arriving = r.arriving;
    MapiprobeSession session(std::move(owned));
    session.SetRetryPause(std::chrono::milliseconds(0));

    if (!r.mids.empty())
        WriteWholeFile(ExchangeMessageHandler::MidsPath("Work"), r.mids);
    RecordingSink sink;
    sink.SetDeliverAnswer(r.sinkAnswer);
    sink.SetAskAnswer(r.askAnswer);
    auto held = std::make_unique<CMidsFile>();
    if (r.midsState == SessionRow::kMidsUnusable)
        std::filesystem::create_directory(ExchangeMessageHandler::MidsPath("Work"));
    if (r.midsState == SessionRow::kMidsHeld)
        ASSERT_EQ(
            held->Open(ExchangeMessageHandler::MidsPath("Work"), std::chrono::milliseconds(0)),
            CMidsFile::OpenResult::kOpen);
    int32_t count = 0;
    EXPECT_EQ(session.Logon(sink.Sink(), "Scripted", "Work", 0, count, kBodyLimit), r.want);
    held.reset();
    if (r.midsState == SessionRow::kMidsUnusable)
        std::filesystem::remove(ExchangeMessageHandler::MidsPath("Work"));
    EXPECT_EQ(sink.Subjects(), r.reported);
    // What arrives during the scan is the watch's to report, not the scan's to count.
    EXPECT_EQ(count, static_cast<int32_t>(r.reported.size() - r.arriving.size()));
    EXPECT_EQ(provider.deleted, r.deleted);
    const auto questions = sink.Questions();
    if (r.questionCaption) {
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_EQ(questions[0].caption, LoadResourceString(r.questionCaption));
        EXPECT_EQ(questions[0].buttons, PW_ASK_RETRYCANCEL);
        EXPECT_FALSE(questions[0].text.empty());
    } else {
        EXPECT_TRUE(questions.empty());
    }
    EXPECT_EQ(session.LoggedOn(), r.want == PW_LOGON_DONE);
    for (uint32_t limit : provider.bodyLimits)
        EXPECT_EQ(limit, kBodyLimit - 1);
    const auto records = sink.Records();
    if (!records.empty())
        EXPECT_EQ(records[0][2], r.body);

    // Log off (a failed log-on has already undone itself), then all goes well.
    session.Logoff(nullptr);
    EXPECT_EQ(provider.watched, provider.unwatched) << "a watch was left running";
    EXPECT_EQ(provider.opened, provider.closed);
    provider.profileStatus = provider.folderStatus = ProviderStatus::kOk;
    provider.watchFails = false;
    sink.Clear();
    sink.SetDeliverAnswer(PW_SINK_HANDLED);
    count = 0;
    EXPECT_EQ(session.Logon(sink.Sink(), "Scripted", "Work", 0, count, kBodyLimit), 1);
    EXPECT_EQ(sink.Subjects(), r.reportedAgain);
    session.Logoff(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Mapiprobe, MapiprobeSessionTest,
    testing::Values(
        SessionRow{.name = "ReportsUnreadOnce",
                   .folders = {{"s1/Inbox", "Inbox", 2}},
                   .messages = {Unread("s1/Inbox", "a", "one"), Unread("s1/Inbox", "b", "two")},
                   .want = PW_LOGON_DONE,
                   .reported = {"one", "two"}},
        SessionRow{.name = "ReadMessagesAndEmptyFoldersSkipped",
                   .folders = {{"s1/Inbox", "Inbox", 1}, {"s1/Old", "Old", 0}},
                   .messages = {With(Unread("s1/Inbox", "a", "read"),
                                     [](ScriptedProvider::Message& m) { m.read = true; }),
                                Unread("s1/Inbox", "b", "unread"),
                                Unread("s1/Old", "c", "not counted")},
                   .want = PW_LOGON_DONE,
                   .reported = {"unread"}},
        // The folder's unread count is the budget: known messages count against it too.
        SessionRow{
            .name = "UnreadBudgetPerFolder",
            .folders = {{"s1/Inbox", "Inbox", 1}},
            .messages = {Unread("s1/Inbox", "a", "first"), Unread("s1/Inbox", "b", "second")},
            .want = PW_LOGON_DONE,
            .reported = {"first"}},
        SessionRow{.name = "PublicAndSecondaryIdentityStoresSkipped",
                   .stores = {kDefault,
                              {"pub", "Public", false, true, false},
                              {"copy", "Own copy", false, false, true},
                              {"s2", "Archive", false, false, false}},
                   .folders = {{"s1/Inbox", "Inbox", 1},
                               {"pub/Inbox", "Inbox", 1},
                               {"copy/Inbox", "Inbox", 1},
                               {"s2/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "a", "own"), Unread("pub/Inbox", "b", "public"),
                                Unread("copy/Inbox", "c", "copy"),
                                Unread("s2/Inbox", "d", "archive")},
                   .want = PW_LOGON_DONE,
                   .reported = {"own", "archive"}},
        SessionRow{.name = "DeleteRuleMovesHideRuleRecords",
                   .folders = {{"s1/Inbox", "Inbox", 3}},
                   .messages = {Unread("s1/Inbox", "a", "junk offer"),
                                Unread("s1/Inbox", "b", "quiet note"),
                                Unread("s1/Inbox", "c", "kept")},
                   .want = PW_LOGON_DONE,
                   .reported = {"kept"},
                   .deleted = {"a"}},
        // A message already in the MIDs file is neither reported nor filtered again.
        SessionRow{.name = "KnownMessageNotFilteredAgain",
                   .folders = {{"s1/Inbox", "Inbox", 2}},
                   .messages = {Unread("s1/Inbox", "a", "junk"), Unread("s1/Inbox", "ab", "new")},
                   .want = PW_LOGON_DONE,
                   .reported = {"new"},
                   .mids = std::string("\x01\0\0\0\x01\0\0\0a", 9)},
        // Hostile MIDs files: an empty or a short record matches nothing.
        SessionRow{.name = "EmptyRecordNeverSilences",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "abc", "one")},
                   .want = PW_LOGON_DONE,
                   .reported = {"one"},
                   .mids = std::string("\x02\0\0\0\0\0\0\0\x01\0\0\0a", 13)},
        SessionRow{.name = "PrefixRecordDoesNotMatch",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "abc", "one")},
                   .want = PW_LOGON_DONE,
                   .reported = {"one"},
                   .mids = std::string("\x01\0\0\0\x02\0\0\0ab", 10)},
        SessionRow{.name = "HugeCountIgnored",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "a", "one")},
                   .want = PW_LOGON_DONE,
                   .reported = {"one"},
                   .mids = std::string("\xff\xff\xff\xff\xff\xff\xff\x7f", 8)},
        // A message whose body could not be read is reported with what was read.
        SessionRow{.name = "HalfReadMessageStillReported",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {With(Unread("s1/Inbox", "a", "partial"),
                                     [](ScriptedProvider::Message& m) {
                                         m.details.readProblem = "body cut short";
                                         m.details.hasBody = false;
                                     })},
                   .want = PW_LOGON_DONE,
                   .reported = {"partial"},
                   .body = ""},
        SessionRow{.name = "BodyCutToLimitLessOne",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {With(Unread("s1/Inbox", "a", "long"),
                                     [](ScriptedProvider::Message& m) {
                                         m.details.body = "0123456789abcd\xC3\xA9xyz";
                                     })},
                   .want = PW_LOGON_DONE,
                   .reported = {"long"},
                   .body = "0123456789abcd"}, // the cut falls inside the e-acute
        SessionRow{.name = "VanishedMessagePassedOver",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {With(Unread("s1/Inbox", "a", "gone"),
                                     [](ScriptedProvider::Message& m) { m.gone = true; })},
                   .want = PW_LOGON_DONE},
        // An identifier the file cannot record is reported every time rather than never.
        SessionRow{.name = "UnrecordableIdentifierStillReported",
                   .folders = {{"s1/Inbox", "Inbox", 2}},
                   .messages = {Unread("s1/Inbox", "", "no id"), Unread("s1/Inbox", "b", "next")},
                   .want = PW_LOGON_DONE,
                   .reported = {"no id", "next"},
                   .reportedAgain = {"no id"}},
        // Mail that lands after its folder was counted (empty) is reported once, by the watch.
        SessionRow{.name = "ArrivesWhileCounting",
                   .folders = {{"s1/Inbox", "Inbox", 0}},
                   .want = PW_LOGON_DONE,
                   .reported = {"during the scan"},
                   .arriving = {Unread("s1/Inbox", "z", "during the scan")}},
        // Without the MIDs file a message both the watch and the scan see is reported once.
        SessionRow{.name = "ArrivesWhileCountingWithoutMidsFile",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .want = PW_LOGON_DONE,
                   .reported = {"during the scan"},
                   .reportedAgain = {"during the scan"},
                   .midsState = SessionRow::kMidsUnusable,
                   .arriving = {Unread("s1/Inbox", "z", "during the scan")}},
        // Another process logged on to the account (the desktop, while the command line
        // checks) reports its mail: a scan here would file it twice.
        SessionRow{.name = "LoggedOnElsewhere",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "a", "one")},
                   .want = PW_LOGON_FAILED,
                   .reportedAgain = {"one"},
                   .questionCaption = 61345,
                   .midsState = SessionRow::kMidsHeld},
        SessionRow{.name = "NotStoredEndsAndComesAgain",
                   .folders = {{"s1/Inbox", "Inbox", 2}},
                   .messages = {Unread("s1/Inbox", "a", "one"), Unread("s1/Inbox", "b", "two")},
                   .want = PW_LOGON_FAILED,
                   .reportedAgain = {"one", "two"},
                   .sinkAnswer = PW_SINK_NOT_STORED},
        SessionRow{.name = "FrontGoneEndsAndComesAgain",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "a", "one")},
                   .want = PW_LOGON_FAILED,
                   .reportedAgain = {"one"},
                   .sinkAnswer = PW_SINK_FRONT_GONE},
        SessionRow{.name = "ProfileRefusedRetry",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "a", "one")},
                   .want = PW_LOGON_RETRY,
                   .reportedAgain = {"one"},
                   .questionCaption = 61344,
                   .profileStatus = ProviderStatus::kLogonFailed,
                   .askAnswer = PW_ANSWER_RETRY},
        SessionRow{.name = "ProfileRefusedCancel",
                   .want = PW_LOGON_FAILED,
                   .questionCaption = 61344,
                   .profileStatus = ProviderStatus::kLogonFailed},
        SessionRow{.name = "StoreRefusesLogon",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "a", "one")},
                   .want = PW_LOGON_RETRY_DIALOG,
                   .reportedAgain = {"one"},
                   .folderStatus = ProviderStatus::kLogonFailed},
        SessionRow{.name = "StoreUnreadableRetry",
                   .want = PW_LOGON_RETRY,
                   .questionCaption = 61345,
                   .folderStatus = ProviderStatus::kStoreFailed,
                   .askAnswer = PW_ANSWER_RETRY},
        SessionRow{.name = "StoreUnreadableCancel",
                   .want = PW_LOGON_FAILED,
                   .questionCaption = 61345,
                   .folderStatus = ProviderStatus::kStoreFailed},
        SessionRow{.name = "StoreCannotBeWatched",
                   .folders = {{"s1/Inbox", "Inbox", 1}},
                   .messages = {Unread("s1/Inbox", "a", "one")},
                   .want = PW_LOGON_FAILED,
                   .reportedAgain = {"one"},
                   .questionCaption = 61345,
                   .watchFails = true}),
    [](const auto& info) { return std::string(info.param.name); });

// The record's fields, second log-on, notifications while logged on and after log-off.
TEST(MapiprobeSession, FieldsAlreadyAndNotifications)
{
    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.Path());
    ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("Work")));
    auto owned = std::make_unique<ScriptedProvider>();
    ScriptedProvider& provider = *owned;
    provider.stores = {kDefault};
    provider.folders = {{"s1/Inbox", "Inbox", 1}};
    auto m = Unread("s1/Inbox", "a", "Hi");
    m.details.hasAttachment = true;
    provider.messages = {m};
    MapiprobeSession session(std::move(owned));
    RecordingSink sink;
    int32_t count = 0;
    ASSERT_EQ(session.Logon(sink.Sink(), "Scripted", "Work", 0, count, 1024), 1);
    ASSERT_EQ(sink.Records().size(), 1u);
    const std::vector<std::string> want = {
        "Work",   "Hi",          "hello",
        "2.00 K", "Ann Example", ExchangeMessageHandler::DateText(1796644800),
        "Inbox",  "Personal",    "Yes"};
    EXPECT_EQ(sink.Records()[0], want);

    // A second log-on says so and does nothing else (an account name that could lead out of
    // the data folder is refused before that).
    EXPECT_EQ(session.Logon(sink.Sink(), "Scripted", "../Work", 0, count, 1024), 0);
    count = 0;
    EXPECT_EQ(session.Logon(sink.Sink(), "Scripted", "Work", 0, count, 1024), 4);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(sink.Questions().size(), 1u);
    EXPECT_EQ(sink.Questions()[0].text, LoadResourceString(61338));
    EXPECT_EQ(sink.Questions()[0].icon, PW_ASK_ICON_INFORMATION);

    // New mail: reported with a summary; a known one again is neither reported nor filtered.
    provider.messages.push_back(Unread("s1/Inbox", "b", "New"));
    provider.Notify({"s1", "s1/Inbox", "b"});
    provider.Notify({"s1", "s1/Inbox", "b"});
    provider.Notify({"s1", "s1/Inbox", "a"});
    EXPECT_EQ(sink.Subjects(), (std::vector<std::string>{"Hi", "New"}));
    ASSERT_EQ(sink.Summaries().size(), 1u);
    EXPECT_EQ(sink.Summaries()[0].code, 4);
    EXPECT_EQ(sink.Summaries()[0].count, 1);
    EXPECT_EQ(sink.Summaries()[0].account, "Work");

    session.Logoff(nullptr);
    provider.messages.push_back(Unread("s1/Inbox", "c", "Late"));
    provider.Notify({"s1", "s1/Inbox", "c"});
    EXPECT_EQ(sink.Records().size(), 2u) << "reported after log-off";
    // Not logged on: it says so.
    const PwSink s = sink.Sink();
    session.Logoff(&s);
    ASSERT_EQ(sink.Questions().size(), 2u);
    EXPECT_EQ(sink.Questions()[1].text, LoadResourceString(61340));
    EXPECT_EQ(sink.Questions()[1].caption, LoadResourceString(61341));
}

} // namespace

namespace
{

// A sink that logs off from inside its first record.
struct LoggingOffSink {
    MapiprobeSession* session = nullptr;
    int records = 0, summaries = 0;

    static int32_t Deliver(void* ctx, uint32_t, const char* const*, uint32_t)
    {
        auto* self = static_cast<LoggingOffSink*>(ctx);
        if (++self->records == 1)
            self->session->Logoff(nullptr);
        return PW_SINK_HANDLED;
    }
    static int32_t Result(void* ctx, int32_t, int32_t, const char*)
    {
        ++static_cast<LoggingOffSink*>(ctx)->summaries;
        return PW_SINK_HANDLED;
    }
    PwSink Sink() { return PwSink{this, &Deliver, &Result, nullptr, nullptr}; }
};

// Neither a wait for itself nor a use of what it closed: the reports stop, the rest closes at
// the next log-off from outside.
TEST(MapiprobeSession, LogoffFromInsideTheSink)
{
    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.Path());
    ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("Work")));
    auto owned = std::make_unique<ScriptedProvider>();
    ScriptedProvider& provider = *owned;
    provider.stores = {kDefault};
    provider.folders = {{"s1/Inbox", "Inbox", 2}};
    provider.messages = {Unread("s1/Inbox", "a", "one"), Unread("s1/Inbox", "b", "two")};
    MapiprobeSession session(std::move(owned));

    LoggingOffSink scanning{&session};
    int32_t count = 0;
    EXPECT_EQ(session.Logon(scanning.Sink(), "Scripted", "Work", 0, count, 1024), PW_LOGON_FAILED);
    EXPECT_EQ(scanning.records, 1);
    EXPECT_FALSE(session.LoggedOn());
    EXPECT_EQ(provider.watched, provider.unwatched);

    // Now by a notification: "one" was filed, "two" comes at this log-on.
    LoggingOffSink watching{&session, 1};
    count = 0;
    ASSERT_EQ(session.Logon(watching.Sink(), "Scripted", "Work", 0, count, 1024), 1);
    watching.records = 0;
    provider.messages.push_back(Unread("s1/Inbox", "c", "three"));
    provider.messages.push_back(Unread("s1/Inbox", "d", "four"));
    provider.Notify({"s1", "s1/Inbox", "c"});
    provider.Notify({"s1", "s1/Inbox", "d"});
    EXPECT_EQ(watching.records, 1);
    EXPECT_EQ(watching.summaries, 0);
    session.Logoff(nullptr);
    EXPECT_EQ(provider.watched, provider.unwatched);
    EXPECT_EQ(provider.opened, provider.closed);
}

} // namespace
