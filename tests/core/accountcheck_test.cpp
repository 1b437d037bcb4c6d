// One account check end to end inside the engine: StartCheck, the check thread with a
// scripted protocol check, the merge on its own thread, the account table.
#include "accountcheck.h"
#include "accountfile.h"
#include "accountlock.h"
#include "accountmanager.h"
#include "accountrecord.h"
#include "apppaths.h"
#include "checkcancel.h"
#include "enginefakes.h"
#include "enginestate.h"
#include "exchangeplugin.h"
#include "frontwindowtarget.h"
#include "headerlisttarget.h"
#include "mailboxfile.h"
#include "mergethreadsink.h"
#include "newmailmerge.h"
#include "notificationtarget.h"
#include "protocolcheck.h"
#include "support/filefaults.h"
#include "support/tablerow.h"
#include "support/tempdir.h"
#include "uidfile.h"
#include "webmailplugin.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/file.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace enginetest;

namespace
{

const char kAccount[] = "Work mail";

// Delivers one record per identifier (as a client does for each message its rules keep)
// and answers `result`.
class ScriptedCheck final : public ProtocolCheck
{
public:
    int Run(const CheckRequest& p, CEngineSink& sink, int32_t& newCount, CCheckCancel& cancel,
            Closing&, std::string&, PeerCertificate&) override
    {
        ran = true;
        known = p.knownUids;
        timeOut = p.timeOutSeconds;
        // As the IMAP4 client: SELECT's UIDVALIDITY is told, and a renumbered mailbox is only
        // listed.
        if (validity != 0 && p.uidValidityFound)
            p.uidValidityFound(validity);
        if (p.uidValidity != 0 && validity != 0 && validity != p.uidValidity) {
            if (p.recordRenumbered)
                p.recordRenumbered(onServer);
            return result;
        }
        for (const std::string& uid : deliver) {
            if (skipKnown && p.knownUids.count(uid) != 0)
                continue;
            MessageRecord r;
            r.sender = "Ann <ann@example.org>";
            r.subject = "about " + uid;
            r.date = "2026-12-07 09:00";
            r.size = "1234";
            r.preview = "hello";
            r.attachment = "No";
            r.uid = uid;
            r.account = p.account;
            sink.SendNewMessage(kind, r);
            ++newCount;
        }
        if (afterDelivering)
            afterDelivering();
        if (blockUntilCancelled) {
            while (!cancel.IsCancelled())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return CheckResult::kFailedAfterLogin;
        }
        return result;
    }
    uint32_t kind = 1;
    std::vector<std::string> deliver;
    bool skipKnown = false; // as a client: only identifiers the request does not know
    int result = CheckResult::kDone;
    bool blockUntilCancelled = false;
    std::function<void()> afterDelivering;
    bool ran = false;
    std::unordered_set<std::string> known;
    int timeOut = -1;
    uint32_t validity = 0;             // the UIDVALIDITY SELECT gives
    std::vector<std::string> onServer; // what a renumbered mailbox lists
};

class Front final : public HeaderListTarget, public NotificationTarget, public FrontWindowTarget
{
public:
    void AddNewMessage(const std::string& account, const StoredMessage& m) override
    {
        listed.push_back(account + "|" + m.subject + "|" + m.read + "|" + m.mailType);
    }
    void Notify(const std::string& account, int32_t count, int32_t result) override
    {
        notified.push_back(account + " " + std::to_string(count) + " " + std::to_string(result));
    }
    void NotifySummary(const CheckResultRecord& summary) override
    {
        messages.push_back(summary.message);
        Notify(summary.account, summary.newCount, summary.result);
    }
    void RemoveNewMessages(const std::string&, const std::vector<std::string>& ids) override
    {
        removed += ids.size();
    }
    void ShowText(const std::string& text) override { shown.push_back(text); }
    void CheckAnimation(bool on) override { animation.push_back(on); }
    void Close() override {}
    std::vector<std::string> listed, notified, shown, messages;
    size_t removed = 0;
    std::vector<bool> animation;
};

struct CheckCase {
    const char* name;
    const char* mailType;
    std::vector<std::string> knownBefore; // UID.inf before the check
    std::vector<std::string> deliver;
    std::function<void()> prepare; // after the account files exist
    int checkingEnabled;
    bool selected;
    bool timeOutReadable;
    // Expected:
    bool checkRuns;
    uint32_t stored;
    std::string uidFile;
    std::vector<std::string> notified;
    std::vector<bool> animation;
};

std::string Uids(const std::vector<std::string>& ids)
{
    std::string out;
    for (const auto& id : ids)
        out += id + "\\";
    return out;
}

POSTWATCH_ROW_PRINTS_NAME(CheckCase)

class AccountCheckTest : public ::testing::TestWithParam<CheckCase>
{
protected:
    TempDir dir;
    ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
    ScopedEnv config{"XDG_CONFIG_HOME", dir.File("config")};
};

TEST_P(AccountCheckTest, StoresAndReports)
{
    const CheckCase& c = GetParam();
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(kAccount)));
    AccountRecord record;
    record.name = kAccount;
    record.mailType = c.mailType;
    record.server = "127.0.0.1";
    record.port = "110";
    record.userName = "ann";
    record.password = "secret";
    record.priview = "3";
    ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile(kAccount), record), 1);
    WriteWholeFile(AppPaths::UidFile(kAccount), Uids(c.knownBefore));
    if (c.prepare)
        c.prepare();

    auto accounts = std::make_shared<CAccountManager>();
    accounts->WithTable([](std::vector<AccountEntry>& rows) {
        AccountEntry e = Row(kAccount);
        e.checkState = CheckState::Busy;
        rows.push_back(e);
    });
    auto state = std::make_shared<CEngineState>();
    state->checkingEnabled = c.checkingEnabled;
    if (c.selected)
        state->SetSelectedAccount(kAccount);
    Front front;
    CNewMailMerge merge(*state, &front, &front, &front);
    auto sink = std::make_shared<CMergeThreadSink>(merge);
    auto check = std::make_shared<ScriptedCheck>();
    check->deliver = c.deliver;
    check->kind = std::string(c.mailType) == "IMAP4" ? 2 : 1;

    CheckServices services;
    services.accounts = accounts;
    services.state = state;
    services.sink = sink;
    services.pop3 = check;
    services.imap4 = check;
    services.readTimeOut = [&]() -> std::optional<int> {
        if (!c.timeOutReadable)
            return std::nullopt;
        return 45;
    };
    {
        CAccountCheck checks(services);
        checks.StartCheck(kAccount);
        ASSERT_TRUE(checks.WaitAll(std::chrono::seconds(10)));
    }
    sink->Stop();

    EXPECT_EQ(check->ran, c.checkRuns);
    if (c.checkRuns) {
        EXPECT_EQ(check->known,
                  std::unordered_set<std::string>(c.knownBefore.begin(), c.knownBefore.end()));
        EXPECT_EQ(check->timeOut, 45);
    }
    // The account always leaves Busy.
    EXPECT_TRUE(accounts->Snapshot().at(0).IsDone());

    CMailBoxFile box;
    if (std::filesystem::exists(AppPaths::MailBoxFile(kAccount)) &&
        box.Open(AppPaths::MailBoxFile(kAccount)) == 1) {
        EXPECT_EQ(box.Count(), c.stored);
    } else {
        EXPECT_EQ(c.stored, 0u);
    }
    if (std::filesystem::is_regular_file(AppPaths::UidFile(kAccount)))
        EXPECT_EQ(ReadWholeFile(AppPaths::UidFile(kAccount)), c.uidFile);
    EXPECT_EQ(front.listed.size(), c.stored);
    EXPECT_EQ(front.notified, c.notified);
    EXPECT_EQ(front.animation, c.animation);
}

// A Message.box whose count promises a record that is not a record: refused on open.
void SpoilMailBox()
{
    std::string bytes = "KORAVELPIGEONPOST";
    bytes.resize(1024, '\0');
    bytes += std::string("\x01\x00\x00\x00", 4);
    bytes.resize(2048, '\0');
    bytes += std::string(64, '\x07') + "stray";
    WriteWholeFile(AppPaths::MailBoxFile(kAccount), bytes);
}

const std::string kName = kAccount;

const CheckCase kCheckCases[] = {
    // Three new on the server, a rule deleted one: the client delivers two.
    {"TwoOfThreeKeptAreStored",
     "POP3",
     {"old1"},
     {"u2", "u3"},
     nullptr,
     1,
     false,
     true,
     true,
     2,
     "old1\\u2\\u3\\",
     {kName + " 2 4"},
     {}},
    {"Imap4StoredAlike",
     "IMAP4",
     {},
     {"7", "8"},
     nullptr,
     1,
     false,
     true,
     true,
     2,
     "7\\8\\",
     {kName + " 2 4"},
     {}},
    {"NothingNew",
     "POP3",
     {"a", "b"},
     {},
     nullptr,
     1,
     false,
     true,
     true,
     0,
     "a\\b\\",
     {kName + " 0 4"},
     {}},
    {"DamagedMailBoxEndsBeforeTheServerIsAsked",
     "POP3",
     {},
     {"u1", "u2"},
     SpoilMailBox,
     1,
     false,
     true,
     false,
     0,
     "",
     {kName + " 0 1"},
     {}},
    {"MissingAccountInfEndsAtOnceWithAReason",
     "POP3",
     {},
     {"u1"},
     [] { std::filesystem::remove(AppPaths::AccountFile(kAccount)); },
     1,
     false,
     true,
     false,
     0,
     "",
     {kName + " 0 1"},
     {}},
    {"UnreadableUidFileEndsAtOnceWithAReason",
     "POP3",
     {},
     {"u1"},
     [] {
         std::filesystem::remove(AppPaths::UidFile(kAccount));
         std::filesystem::create_directory(AppPaths::UidFile(kAccount));
     },
     1,
     false,
     true,
     false,
     0,
     "",
     {kName + " 0 1"},
     {}},
    {"UnknownMailTypeEndsAtOnceWithAReason",
     "SMTP",
     {},
     {"u1"},
     nullptr,
     1,
     false,
     true,
     false,
     0,
     "",
     {kName + " 0 1"},
     {}},
    {"WebMailWithoutPlugInEndsAtOnce",
     "Portalpost",
     {},
     {"u1"},
     nullptr,
     1,
     false,
     true,
     false,
     0,
     "",
     {},
     {}},
    {"NoNetworkSettingsEndsWithoutSummary",
     "POP3",
     {},
     {"u1"},
     nullptr,
     1,
     false,
     false,
     false,
     0,
     "",
     {},
     {}},
    // While the program exits: stored, but nothing shown.
    {"DrainingStoresButDoesNotNotify",
     "POP3",
     {},
     {"u1"},
     nullptr,
     0,
     false,
     true,
     true,
     1,
     "u1\\",
     {},
     {}},
    {"SelectedAccountAnimates",
     "POP3",
     {},
     {},
     nullptr,
     1,
     true,
     true,
     true,
     0,
     "",
     {kName + " 0 4"},
     {true, false}},
    {"IdentifierWithBackslashKeptOnce",
     "POP3",
     {},
     {"a\\b"},
     nullptr,
     1,
     false,
     true,
     true,
     1,
     "a\x7f"
     "b\\",
     {kName + " 1 4"},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Engine, AccountCheckTest, ::testing::ValuesIn(kCheckCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- what keeps mail from being stored twice or lost ----------------------------------

// A lock another process holds on the account (flock excludes a second open file
// description even inside this process, which CAccountLock's own sharing does not use).
int g_otherProcessLock = -1;

void HoldLockElsewhere()
{
    g_otherProcessLock =
        ::open((AppPaths::AccountDir(kAccount) + "/Check.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(g_otherProcessLock, 0);
    ASSERT_EQ(::flock(g_otherProcessLock, LOCK_EX), 0);
}

// One stored POP3 message with identifier `uid`, as an earlier check left it.
void StoreEarlier(const std::string& uid)
{
    CMailBoxFile box;
    ASSERT_EQ(box.Open(AppPaths::MailBoxFile(kAccount)), 1);
    StoredMessage m;
    m.messageId = "e0000000-0000-4000-8000-00000000000" + std::to_string(box.Count());
    m.mailType = "POP3";
    m.read = "No";
    m.attachment = "No";
    m.uid = uid;
    ASSERT_EQ(box.Append(m), 1);
}

// Writes beyond these sizes fail as on a full disk (EFBIG).
void LimitFileSizes(rlim_t limit)
{
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit l{};
    ::getrlimit(RLIMIT_FSIZE, &l);
    l.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &l);
}

void NoFileSizeLimit()
{
    rlimit l{};
    ::getrlimit(RLIMIT_FSIZE, &l);
    l.rlim_cur = l.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &l);
}

// "a" (stored earlier) and enough other identifiers to make UID.inf longer than a small
// Message.box.
const std::vector<std::string>& ManyKnown()
{
    static const std::vector<std::string> many = [] {
        std::vector<std::string> v{"a"};
        for (int i = 0; i < 500; ++i)
            v.push_back("seen" + std::to_string(1000 + i));
        return v;
    }();
    return many;
}

struct IntegrityCase {
    const char* name;
    std::vector<std::string> knownBefore; // UID.inf before the check
    std::function<void()> prepare;        // after the account files exist
    std::function<void()> duringCheck;    // after the messages went to the merge
    std::vector<std::string> deliver;
    // Expected after the check:
    bool checkRuns;
    std::unordered_set<std::string> known; // what the check was told (when it runs)
    uint32_t stored;                       // records in Message.box
    std::string uidFile;
    std::string summary; // "count result"
    std::string messageHas;
    size_t takenBackFromList;
    // Then the fault is mended and the same mail checked again:
    std::function<void()> mend;
    uint32_t storedAfterMend;
    std::string uidFileAfterMend;
};

class IntegrityTest : public ::testing::TestWithParam<IntegrityCase>
{
protected:
    // Runs one check of kAccount delivering `deliver`; returns what the front saw.
    void Check(const std::vector<std::string>& deliver, std::function<void()> during, Front& front,
               ScriptedCheck& check)
    {
        auto accounts = std::make_shared<CAccountManager>();
        accounts->WithTable([](std::vector<AccountEntry>& rows) {
            AccountEntry e = Row(kAccount);
            e.checkState = CheckState::Busy;
            rows.push_back(e);
        });
        auto state = std::make_shared<CEngineState>();
        state->checkingEnabled = 1;
        CNewMailMerge merge(*state, &front, &front, &front);
        auto sink = std::make_shared<CMergeThreadSink>(merge);
        auto shared = std::shared_ptr<ScriptedCheck>(&check, [](ScriptedCheck*) {});
        check.deliver = deliver;
        check.afterDelivering = std::move(during);
        CheckServices services;
        services.accounts = accounts;
        services.state = state;
        services.sink = sink;
        services.pop3 = shared;
        services.readTimeOut = [] { return std::optional<int>(45); };
        {
            CAccountCheck checks(services);
            checks.StartCheck(kAccount);
            ASSERT_TRUE(checks.WaitAll(std::chrono::seconds(20)));
        }
        sink->Stop();
        NoFileSizeLimit();
        EXPECT_TRUE(accounts->Snapshot().at(0).IsDone());
    }
    uint32_t Stored()
    {
        CMailBoxFile box;
        if (!std::filesystem::exists(AppPaths::MailBoxFile(kAccount)) ||
            box.Open(AppPaths::MailBoxFile(kAccount)) != 1)
            return 0;
        return box.Count();
    }

    TempDir dir;
    ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
    ScopedEnv config{"XDG_CONFIG_HOME", dir.File("config")};
};

TEST_P(IntegrityTest, NothingDoubledNothingLost)
{
    const IntegrityCase& c = GetParam();
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(kAccount)));
    AccountRecord record;
    record.name = kAccount;
    record.mailType = "POP3";
    record.server = "127.0.0.1";
    record.userName = "ann";
    ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile(kAccount), record), 1);
    WriteWholeFile(AppPaths::UidFile(kAccount), Uids(c.knownBefore));
    if (c.prepare)
        c.prepare();

    Front front;
    ScriptedCheck check;
    Check(c.deliver, c.duringCheck, front, check);
    if (g_otherProcessLock >= 0)
        ::close(g_otherProcessLock), g_otherProcessLock = -1;

    EXPECT_EQ(check.ran, c.checkRuns);
    if (c.checkRuns)
        EXPECT_EQ(check.known, c.known);
    EXPECT_EQ(Stored(), c.stored);
    if (std::filesystem::is_regular_file(AppPaths::UidFile(kAccount)))
        EXPECT_EQ(ReadWholeFile(AppPaths::UidFile(kAccount)), c.uidFile);
    EXPECT_EQ(front.notified, std::vector<std::string>{kName + " " + c.summary});
    ASSERT_EQ(front.messages.size(), 1u);
    EXPECT_NE(front.messages[0].find(c.messageHas), std::string::npos) << front.messages[0];
    if (c.messageHas.empty())
        EXPECT_EQ(front.messages[0], "");
    EXPECT_EQ(front.removed, c.takenBackFromList);

    if (!c.mend)
        return;
    c.mend();
    Front again;
    ScriptedCheck second;
    std::vector<std::string> fresh;
    for (const std::string& uid : c.deliver) // a server reports only what is not known
        if (!std::filesystem::is_regular_file(AppPaths::UidFile(kAccount)) ||
            ReadWholeFile(AppPaths::UidFile(kAccount)).find(uid + "\\") == std::string::npos)
            fresh.push_back(uid);
    Check(fresh, nullptr, again, second);
    EXPECT_EQ(Stored(), c.storedAfterMend);
    EXPECT_EQ(ReadWholeFile(AppPaths::UidFile(kAccount)), c.uidFileAfterMend);
    EXPECT_EQ(again.messages, std::vector<std::string>{""});
}

const IntegrityCase kIntegrityCases[] = {
    {"AnotherProcessIsCheckingIt",
     {"a"},
     HoldLockElsewhere,
     nullptr,
     {"u1"},
     false,
     {},
     0,
     "a\\",
     "0 1",
     "Work mail is already being checked",
     0,
     [] {},
     1,
     "a\\u1\\"},
    {"ReadOnlyUidFileEndsTheCheckAtOnce",
     {"a"},
     [] {
         StoreEarlier("a");
         ::chmod(AppPaths::UidFile(kAccount).c_str(), 0444);
     },
     nullptr,
     {"u1", "u2"},
     false,
     {},
     1,
     "a\\",
     "0 1",
     "cannot write the list of seen messages: ",
     0,
     [] { ::chmod(AppPaths::UidFile(kAccount).c_str(), 0600); },
     3,
     "a\\u1\\u2\\"},
    {"KilledCheckLeftMessagesWithoutIdentifiers",
     {"a"},
     [] {
         StoreEarlier("a");
         StoreEarlier("u1");
         StoreEarlier("u2");
     },
     nullptr,
     {"u3"},
     true,
     {"a", "u1", "u2"},
     4,
     "a\\u1\\u2\\u3\\",
     "1 4",
     "",
     0,
     nullptr,
     0,
     ""},
    {"DiskFullWhileStoring",
     {"a"},
     [] {
         StoreEarlier("a");
         LimitFileSizes(
             static_cast<rlim_t>(std::filesystem::file_size(AppPaths::MailBoxFile(kAccount))) + 10);
     },
     nullptr,
     {"u1", "u2"},
     true,
     {"a"},
     1,
     "a\\",
     "0 1",
     "cannot store the message in ",
     0,
     [] {},
     3,
     "a\\u1\\u2\\"},
    // UID.inf is longer than Message.box, so a limit at Message.box's size fails the
    // identifiers' append alone, as a disk that filled up during the check does.
    {"DiskFullAtTheSummaryTakesTheMessagesBack",
     ManyKnown(),
     [] { StoreEarlier("a"); },
     [] {
         LimitFileSizes(
             static_cast<rlim_t>(std::filesystem::file_size(AppPaths::MailBoxFile(kAccount))));
     },
     {"u1", "u2"},
     true,
     {ManyKnown().begin(), ManyKnown().end()},
     1,
     Uids(ManyKnown()),
     "0 1",
     "cannot write the list of seen messages: ",
     2,
     [] {},
     3,
     Uids(ManyKnown()) + "u1\\u2\\"},
    {"DamagedMailBoxEndsTheCheckAtOnce",
     {"a"},
     SpoilMailBox,
     nullptr,
     {"u1"},
     false,
     {},
     0,
     "a\\",
     "0 1",
     "--repair",
     0,
     nullptr,
     0,
     ""},
    {"MissingAccountFolderIsNamed",
     {},
     [] { std::filesystem::remove_all(AppPaths::AccountDir(kAccount)); },
     nullptr,
     {"u1"},
     false,
     {},
     0,
     "",
     "0 1",
     "the account folder ",
     0,
     nullptr,
     0,
     ""},
    {"EmptyAccountInfIsNamed",
     {},
     [] { WriteWholeFile(AppPaths::AccountFile(kAccount), ""); },
     nullptr,
     {"u1"},
     false,
     {},
     0,
     "",
     "0 1",
     "Account.inf is empty",
     0,
     nullptr,
     0,
     ""},
};

INSTANTIATE_TEST_SUITE_P(Engine, IntegrityTest, ::testing::ValuesIn(kIntegrityCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A check that never ends by itself is cancelled by the engine's end.
TEST(AccountCheckExit, StuckCheckIsCancelledAndStillFinishes)
{
    TempDir dir;
    ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(kAccount)));
    AccountRecord record;
    record.name = kAccount;
    record.mailType = "POP3";
    ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile(kAccount), record), 1);

    auto accounts = std::make_shared<CAccountManager>();
    accounts->WithTable([](std::vector<AccountEntry>& rows) { rows.push_back(Row(kAccount)); });
    auto sink = std::make_shared<RecordingSink>();
    auto check = std::make_shared<ScriptedCheck>();
    check->blockUntilCancelled = true;
    CheckServices services;
    services.accounts = accounts;
    services.state = std::make_shared<CEngineState>();
    services.sink = sink;
    services.pop3 = check;
    services.readTimeOut = [] { return std::optional<int>(30); };
    {
        CAccountCheck checks(services, std::chrono::milliseconds(50));
        checks.StartCheck(kAccount);
        EXPECT_FALSE(checks.WaitAll(std::chrono::milliseconds(50)));
    } // the destructor cancels
    ASSERT_EQ(sink->summaries.size(), 1u);
    EXPECT_EQ(sink->summaries[0].result, CheckResult::kFailedAfterLogin);
    EXPECT_TRUE(accounts->Snapshot().at(0).IsDone());
}

// The INBOX's UIDVALIDITY kept beside UID.inf: unknown (or damaged) is simply remembered;
// a renumbered mailbox has its stored IMAP4 records unlinked from the old UIDs, UID.inf
// replaced by what the server lists now, nothing delivered, and only then is the new value
// kept. A failed step keeps the old value, so the next check takes the same path again.
// After it, a new message that comes to carry an old UID is reported.
TEST(AccountCheckUidValidity, RenumberedMailboxIsTakenAsSeen)
{
    struct Check {
        uint32_t server;       // the UIDVALIDITY SELECT gives
        int result;            // what the session with the server ends with
        bool readOnly = false; // the account folder takes no new file
        std::vector<std::string> deliver = {"8"};
        // Expected:
        int want = CheckResult::kDone;
        size_t delivered = 0;
        std::string uidFile;
        std::string fileAfter;
        size_t texts = 0;
        std::string imapUid = "5"; // the stored IMAP4 record's identifier afterwards
    };
    struct Case {
        const char* name;
        const char* fileBefore; // nullptr: no file
        std::vector<Check> checks;
    };
    const Case cases[] = {
        {"Unknown",
         nullptr,
         {{.server = 7,
           .result = CheckResult::kDone,
           .delivered = 1,
           .uidFile = "5\\p1\\8\\",
           .fileAfter = "7\n"}}},
        {"Damaged",
         "7x\n",
         {{.server = 7,
           .result = CheckResult::kDone,
           .delivered = 1,
           .uidFile = "5\\p1\\8\\",
           .fileAfter = "7\n"}}},
        {"Same",
         "7\n",
         {{.server = 7,
           .result = CheckResult::kDone,
           .delivered = 1,
           .uidFile = "5\\p1\\8\\",
           .fileAfter = "7\n"}}},
        // Then the server's new message 5 is not the stored message 5 of before.
        {"Changed",
         "7\n",
         {{.server = 9,
           .result = CheckResult::kDone,
           .uidFile = "1\\2\\",
           .fileAfter = "9\n",
           .texts = 1,
           .imapUid = ""},
          {.server = 9,
           .result = CheckResult::kDone,
           .deliver = {"1", "2", "5"},
           .delivered = 1,
           .uidFile = "1\\2\\p1\\5\\",
           .fileAfter = "9\n",
           .imapUid = ""}}},
        {"ChangedButFailed",
         "7\n",
         {{.server = 9,
           .result = CheckResult::kFailedAfterLogin,
           .want = CheckResult::kFailedAfterLogin,
           .uidFile = "5\\p1\\",
           .fileAfter = "7\n"}}},
        {"ChangedButUnlinkFails",
         "7\n",
         {{.server = 9,
           .result = CheckResult::kDone,
           .readOnly = true,
           .want = CheckResult::kFailedAfterLogin,
           .uidFile = "5\\p1\\",
           .fileAfter = "7\n"},
          {.server = 9,
           .result = CheckResult::kDone,
           .uidFile = "1\\2\\",
           .fileAfter = "9\n",
           .texts = 1,
           .imapUid = ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
        const std::string folder = AppPaths::AccountDir(kAccount);
        ASSERT_TRUE(AppPaths::MakeDirs(folder));
        AccountRecord record;
        record.name = kAccount;
        record.mailType = "IMAP4";
        ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile(kAccount), record), 1);
        // Stored by earlier checks: IMAP4 message 5 (read), and a POP3 one the account kept
        // from before it was IMAP4, which no IMAP4 numbering touches.
        {
            CMailBoxFile box;
            ASSERT_EQ(box.Open(AppPaths::MailBoxFile(kAccount)), 1);
            for (const char* kind : {"IMAP4", "POP3"}) {
                StoredMessage m;
                m.messageId = std::string("e0000000-0000-4000-8000-00000000000") +
                              (kind[0] == 'I' ? "1" : "2");
                m.mailType = kind;
                m.read = "Yes";
                m.subject = std::string("kept ") + kind;
                m.preview = "the text";
                m.attachment = "No";
                m.uid = kind[0] == 'I' ? "5" : "p1";
                ASSERT_EQ(box.Append(m), 1);
            }
        }
        WriteWholeFile(AppPaths::UidFile(kAccount), "5\\p1\\");
        if (c.fileBefore)
            WriteWholeFile(AppPaths::UidValidityFile(kAccount), c.fileBefore);
        // The lock file exists, as after any earlier check.
        ::close(::open((folder + "/" + CAccountLock::kFileName).c_str(), O_RDWR | O_CREAT, 0600));

        for (const Check& k : c.checks) {
            auto accounts = std::make_shared<CAccountManager>();
            accounts->WithTable(
                [](std::vector<AccountEntry>& rows) { rows.push_back(Row(kAccount)); });
            auto state = std::make_shared<CEngineState>();
            state->checkingEnabled = 1;
            Front front;
            CNewMailMerge merge(*state, &front, &front, &front);
            auto sink = std::make_shared<CMergeThreadSink>(merge);
            auto check = std::make_shared<ScriptedCheck>();
            check->kind = 2;
            check->deliver = k.deliver;
            check->skipKnown = true;
            check->validity = k.server;
            check->onServer = {"1", "2"};
            check->result = k.result;
            CheckServices services;
            services.accounts = accounts;
            services.state = state;
            services.sink = sink;
            services.imap4 = check;
            services.readTimeOut = [] { return std::optional<int>(30); };
            auto run = [&] {
                CAccountCheck checks(services);
                checks.StartCheck(kAccount);
                return checks.WaitAll(std::chrono::seconds(10)) ? 1 : 0;
            };
            ASSERT_EQ(k.readOnly ? WithReadOnlyFolder(folder, run) : run(), 1);
            sink->Stop();

            ASSERT_EQ(front.notified.size(), 1u);
            EXPECT_EQ(front.notified[0],
                      kName + " " + std::to_string(k.delivered) + " " + std::to_string(k.want))
                << front.messages[0];
            if (k.readOnly)
                EXPECT_NE(front.messages[0].find("unlink"), std::string::npos) << front.messages[0];
            EXPECT_EQ(front.listed.size(), k.delivered);
            EXPECT_EQ(ReadWholeFile(AppPaths::UidFile(kAccount)), k.uidFile);
            EXPECT_EQ(ReadWholeFile(AppPaths::UidValidityFile(kAccount)), k.fileAfter);
            ASSERT_EQ(front.shown.size(), k.texts);
            if (k.texts)
                EXPECT_NE(front.shown[0].find("renumbered"), std::string::npos) << front.shown[0];
            // The stored messages stay, whole; only the IMAP4 one may have lost its UID.
            CMailBoxFile box;
            ASSERT_EQ(box.Open(AppPaths::MailBoxFile(kAccount)), 1);
            std::vector<std::string> kept;
            StoredMessage m;
            while (box.Next() == 1) {
                ASSERT_EQ(box.ReadCurrent(m, true, true), 1);
                if (m.subject.rfind("kept ", 0) == 0)
                    kept.push_back(m.mailType + "|" + m.uid + "|" + m.read + "|" + m.preview);
            }
            EXPECT_EQ(kept, (std::vector<std::string>{"IMAP4|" + k.imapUid + "|Yes|the text",
                                                      "POP3|p1|Yes|the text"}));
        }
    }
}

// The plug-in kinds: the Exchange log-on's retry loop and the web-mail check.
class FakeExchange final : public ExchangePlugin
{
public:
    int LogonExchange(CEngineSink&, const std::string& profile, const std::string&, int dialog,
                      int32_t& newCount, uint32_t bodyLimit) override
    {
        profiles.push_back(profile);
        dialogs.push_back(dialog);
        limit = bodyLimit;
        newCount = 3;
        if (next < answers.size())
            return answers[next++];
        return 0;
    }
    std::vector<int> answers;
    size_t next = 0;
    std::vector<std::string> profiles;
    std::vector<int> dialogs;
    uint32_t limit = 0;
};

class FakeWebMail final : public WebMailPlugin
{
public:
    int CheckPortalpostMsg(CEngineSink&, const std::string& category, const std::string&,
                           const std::string&, const std::string& password, int32_t& newCount,
                           int timeOut, std::string& failure) override
    {
        seen = category + "|" + password + "|" + std::to_string(timeOut);
        newCount = 2;
        failure = said;
        return answer;
    }
    int answer = 4;
    std::string said;
    std::string seen;
};

struct PlugInCase {
    const char* name;
    const char* mailType;
    std::vector<int> answers; // Exchange: log-on results in turn; web mail: the one result
    std::vector<int> dialogs; // Exchange: the dialog flag of each log-on
    int loggedOn;
    std::vector<std::pair<int, int>> summaries; // (result, count)
    // Web mail: the summary's message when the plug-in says "words" (as the server's).
    std::string message = {};
};

POSTWATCH_ROW_PRINTS_NAME(PlugInCase)

class PlugInCheckTest : public ::testing::TestWithParam<PlugInCase>
{
};

TEST_P(PlugInCheckTest, RunsThePlugIn)
{
    const PlugInCase& c = GetParam();
    TempDir dir;
    ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(kAccount)));
    AccountRecord record;
    record.name = kAccount;
    record.mailType = c.mailType;
    record.server = "Profile A";
    record.password = "pw";
    record.priview = "3";
    ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile(kAccount), record), 1);

    auto accounts = std::make_shared<CAccountManager>();
    accounts->WithTable([](std::vector<AccountEntry>& rows) { rows.push_back(Row(kAccount)); });
    auto sink = std::make_shared<RecordingSink>();
    auto exchange = std::make_shared<FakeExchange>();
    exchange->answers = c.answers;
    auto web = std::make_shared<FakeWebMail>();
    web->answer = c.answers.empty() ? 4 : c.answers[0];
    web->said = "words";
    CheckServices services;
    services.accounts = accounts;
    services.state = std::make_shared<CEngineState>();
    services.sink = sink;
    services.exchange = exchange;
    services.webMail = web;
    services.readTimeOut = [] { return std::optional<int>(30); };
    {
        CAccountCheck checks(services);
        checks.StartCheck(kAccount);
        ASSERT_TRUE(checks.WaitAll(std::chrono::seconds(10)));
    }
    std::vector<std::pair<int, int>> got;
    for (const auto& r : sink->summaries) {
        EXPECT_EQ(r.account, kAccount);
        EXPECT_EQ(r.message, c.message);
        EXPECT_TRUE(r.message.empty() || r.serverReason);
        got.push_back({r.result, r.newCount});
    }
    EXPECT_EQ(got, c.summaries);
    EXPECT_EQ(services.state->exchangeLoggedOn.load(), c.loggedOn);
    EXPECT_TRUE(accounts->Snapshot().at(0).IsDone());
    if (std::string(c.mailType) == "Exchange(MAPI)") {
        EXPECT_EQ(exchange->dialogs, c.dialogs);
        EXPECT_EQ(exchange->limit, 3u * 1024u);
    } else {
        EXPECT_EQ(web->seen, "Profile A|pw|30");
    }
}

const PlugInCase kPlugInCases[] = {
    {"ExchangeLoggedOnAtOnce", "Exchange(MAPI)", {1}, {0}, 1, {{4, 3}}},
    {"ExchangeRetriesWithoutThenWithDialog", "Exchange(MAPI)", {2, 3, 1}, {0, 0, 1}, 1, {{4, 3}}},
    {"ExchangeFourTakenAsLoggedOn", "Exchange(MAPI)", {4}, {0}, 1, {{4, 3}}},
    {"ExchangeFailedForGoodSendsNoSummary", "Exchange(MAPI)", {0}, {0}, 0, {}},
    {"ExchangeUnexpectedResultEndsTheLoop", "Exchange(MAPI)", {7}, {0}, 0, {}},
    {"WebMailResultAndWordsGoUnchangedIntoTheSummary", "Portalpost", {1}, {}, 0, {{1, 2}}, "words"},
    {"WebMailSuccessCarriesNoWords", "Portalpost", {4}, {}, 0, {{4, 2}}},
};

INSTANTIATE_TEST_SUITE_P(Engine, PlugInCheckTest, ::testing::ValuesIn(kPlugInCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A message the merge cannot store makes its check's summary a failure in the words of the
// account's kind: a web-mail 1 would read as a time-out.
struct UnstoredCase {
    const char* name;
    bool webMail;
    std::string notified; // "account count result"
};
POSTWATCH_ROW_PRINTS_NAME(UnstoredCase)

class UnstoredTest : public ::testing::TestWithParam<UnstoredCase>
{
};

TEST_P(UnstoredTest, SummaryFails)
{
    const UnstoredCase& c = GetParam();
    TempDir dir;
    ScopedEnv home{"POSTWATCH_HOME", dir.Path()}; // no account folder: nothing can be stored
    CEngineState state;
    state.checkingEnabled = 1;
    Front front;
    CNewMailMerge merge(state, &front, &front, &front);
    if (c.webMail) {
        WebMailMessageRecord r;
        r.account = kAccount;
        EXPECT_EQ(merge.SendWebMailMessage(r), CEngineSink::kNotStored);
    } else {
        MessageRecord r{};
        r.account = kAccount;
        r.uid = "u1";
        EXPECT_EQ(merge.SendNewMessage(1, r), CEngineSink::kNotStored);
    }
    merge.SendSummary({4, 1, kAccount});
    EXPECT_EQ(front.notified, std::vector<std::string>{c.notified});
    ASSERT_EQ(front.messages.size(), 1u);
    EXPECT_FALSE(front.messages[0].empty());
}

const UnstoredCase kUnstoredCases[] = {
    {"MailClientCheckFailsWithOne", false, std::string(kAccount) + " 0 1"},
    {"WebMailCheckFailsWithFive", true, std::string(kAccount) + " 0 5"},
};

INSTANTIATE_TEST_SUITE_P(Merge, UnstoredTest, ::testing::ValuesIn(kUnstoredCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A commit whose flush fails: a mail client's messages are taken back out, since their
// identifiers never reached UID.inf and they will come again; a plug-in's stay, since the
// plug-in has already recorded them as reported and would never send them again.
TEST(MergeFlushRefused, PlugInMessagesStayMailClientMessagesGo)
{
    struct Row {
        const char* name;
        bool webMail;
        uint32_t stored;      // records in Message.box afterwards
        std::string notified; // "account count result"
        const char* says;
    } rows[] = {
        {"mail-client-taken-back", false, 0, std::string(kAccount) + " 0 1", "taken back out"},
        {"web-mail-kept", true, 1, std::string(kAccount) + " 1 5", "stay stored"},
    };
    for (const Row& r : rows) {
        TempDir dir;
        ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
        ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(kAccount)));
        CEngineState state;
        state.checkingEnabled = 1;
        Front front;
        CNewMailMerge merge(state, &front, &front, &front);
        if (r.webMail) {
            WebMailMessageRecord m;
            m.account = kAccount;
            m.subject = "kept";
            ASSERT_EQ(merge.SendWebMailMessage(m), CEngineSink::kHandled) << r.name;
        } else {
            MessageRecord m{};
            m.account = kAccount;
            m.uid = "u1";
            m.attachment = "No";
            ASSERT_EQ(merge.SendNewMessage(CopyDataKind::kPop3Message, m), CEngineSink::kHandled)
                << r.name;
        }
        {
            ScopedEnv fail{"POSTWATCH_FAIL_AT", "mailbox.flush"};
            merge.SendSummary({4, 1, kAccount});
        }
        EXPECT_EQ(front.notified, std::vector<std::string>{r.notified}) << r.name;
        ASSERT_EQ(front.messages.size(), 1u) << r.name;
        EXPECT_NE(front.messages[0].find(r.says), std::string::npos) << front.messages[0];
        CMailBoxFile box;
        ASSERT_EQ(box.Open(AppPaths::MailBoxFile(kAccount)), 1) << r.name;
        EXPECT_EQ(box.Count(), r.stored) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::UidFile(kAccount)), "") << r.name;
    }
}

// The merge's group commit, driven directly: identifiers reach UID.inf only when their
// account is committed (its summary, CommitAll, the end of the merge), after Message.box.
// Steps: A / B a message for that account, a / b its summary, * CommitAll, x the header
// list removes A's first stored message (Message.box is replaced), ~ the merge ends.
TEST(MergeGroupCommit, IdentifiersFollowTheirMessages)
{
    struct Row {
        const char* name;
        const char* steps;
        std::string uidA, uidB; // UID.inf afterwards
        uint32_t storedA;       // records in A's Message.box afterwards
        size_t listed;          // messages given to the header list
    } rows[] = {
        {"waits-for-the-summary", "AA", "", "", 2, 2},
        {"summary-commits", "AAa", "a1\\a2\\", "", 2, 2},
        {"summary-commits-only-its-account", "ABa", "a1\\", "", 1, 2},
        {"commit-all", "AB*", "a1\\", "b1\\", 1, 2},
        {"end-of-merge-commits", "AB~", "a1\\", "b1\\", 1, 2},
        {"summary-without-mail", "a", "", "", 0, 0},
        {"removal-between-appends", "AAxAa", "a1\\a2\\a3\\", "", 2, 3},
        {"second-round-appends", "AaAa", "a1\\a2\\", "", 2, 2},
    };
    for (const auto& r : rows) {
        TempDir dir;
        ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
        for (const char* account : {"A", "B"})
            ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(account)));
        CEngineState state;
        Front front;
        auto merge = std::make_unique<CNewMailMerge>(state, &front, &front, &front);
        int sent[2] = {0, 0};
        for (const char* step = r.steps; *step; ++step) {
            const char c = *step;
            if (c == 'A' || c == 'B') {
                MessageRecord m;
                m.account = std::string(1, c);
                m.uid = std::string(1, static_cast<char>(c - 'A' + 'a')) +
                        std::to_string(++sent[c - 'A']);
                m.attachment = "No";
                merge->SendNewMessage(CopyDataKind::kPop3Message, m);
            } else if (c == 'a' || c == 'b') {
                CheckResultRecord summary;
                summary.result = 4;
                summary.account = std::string(1, static_cast<char>(c - 'a' + 'A'));
                merge->SendSummary(summary);
            } else if (c == '*') {
                merge->CommitAll();
            } else if (c == 'x') {
                CMailBoxFile box;
                ASSERT_EQ(box.Open(AppPaths::MailBoxFile("A")), 1);
                ASSERT_EQ(box.Next(), 1);
                StoredMessage first;
                ASSERT_EQ(box.ReadCurrent(first, false, false), 1);
                ASSERT_EQ(box.Delete(first.messageId), 1) << r.name;
            } else if (c == '~') {
                merge.reset();
            }
        }
        EXPECT_EQ(ReadWholeFile(AppPaths::UidFile("A")), r.uidA) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::UidFile("B")), r.uidB) << r.name;
        CMailBoxFile box;
        if (r.storedA) {
            ASSERT_EQ(box.Open(AppPaths::MailBoxFile("A")), 1) << r.name;
            EXPECT_TRUE(box.LastRepair().empty()) << r.name << box.LastRepair();
            EXPECT_EQ(box.Count(), r.storedA) << r.name;
        }
        EXPECT_EQ(front.listed.size(), r.listed) << r.name;
    }
}

} // namespace
