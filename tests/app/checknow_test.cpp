// --check-now as the real program against a private Dovecot: new mail stored and printed,
// nothing new the second time, a delete rule that removes the message on the server, the
// failures a user meets (unknown account, wrong password) with their reasons, results
// printed as each check ends, mail that tries to drive the user's terminal, and an INBOX
// the server renumbers between checks.
#include "dovecotenvironment.h"
#include "filterrule.h"
#include "filterrules.h"
#include "mailboxfile.h"
#include "resourcelibrary.h"
#include "scriptedserver.h"
#include "support/runprocess.h"
#include "support/tempdir.h"
#include "testpki.h"
#include "uidfile.h"

#include <QByteArray>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

std::string Message(const std::string& subject, const std::string& from = "Bob <bob@example.org>")
{
    return "From: " + from + "\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Mon, 7 Dec 2026 09:30:00 +0000\r\n\r\nfirst line\r\nsecond line\r\n";
}

size_t MaildirCount(const std::string& maildir)
{
    size_t n = 0;
    for (const char* sub : {"new", "cur"}) {
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator(maildir + "/" + sub, ec);
             !ec && it != std::filesystem::directory_iterator(); ++it)
            ++n;
    }
    return n;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The output of --check-now split into message lines (six fields) and result lines (four),
// each sorted: results come in the order the checks end.
struct CheckOutput {
    std::vector<std::string> messages;
    std::vector<std::string> results;
};

CheckOutput Split(const std::string& out)
{
    CheckOutput split;
    for (const std::string& line : Lines(out))
        (std::count(line.begin(), line.end(), '\t') == 5 ? split.messages : split.results)
            .push_back(line);
    std::sort(split.messages.begin(), split.messages.end());
    std::sort(split.results.begin(), split.results.end());
    return split;
}

// The program run in the background with its output in files, for a test that watches
// what it prints while it runs. Killed (by its own id) if still running at the end.
class Background
{
public:
    Background(const std::vector<std::string>& args, const std::vector<std::string>& env,
               const TempDir& dir)
        : out_(dir.File("background.out")), err_(dir.File("background.err"))
    {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int in = ::open("/dev/null", O_RDONLY);
            if (out < 0 || err < 0 || in < 0)
                ::_exit(127);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::dup2(in, 0);
            for (const std::string& e : env)
                ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> argv{const_cast<char*>(POSTWATCH_BINARY)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(POSTWATCH_BINARY, argv.data());
            ::_exit(127);
        }
    }
    ~Background()
    {
        if (pid_ > 0 && exitCode_ == kRunning) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    bool Running()
    {
        int status = 0;
        if (exitCode_ == kRunning && ::waitpid(pid_, &status, WNOHANG) == pid_)
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitCode_ == kRunning;
    }
    int ExitCode() const { return exitCode_; }
    std::string Out() const { return ReadWholeFile(out_); }
    std::string Err() const { return ReadWholeFile(err_); }

private:
    static constexpr int kRunning = -2;
    pid_t pid_ = -1;
    int exitCode_ = kRunning;
    std::string out_;
    std::string err_;
};

// Polls `ready` until it holds or `seconds` pass; generous limits, short naps.
bool WaitFor(const std::function<bool()>& ready, int seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ready();
}

class CheckNowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dovecot_ = DovecotEnvironment::Get();
        if (!dovecot_)
            GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
        ASSERT_TRUE(dovecot_->ClearMailbox("alice"));
    }

    std::vector<std::string> Env() const
    {
        return {"POSTWATCH_HOME=" + dir_.File("data"), "XDG_CONFIG_HOME=" + dir_.File("config"),
                "XDG_DATA_HOME=" + dir_.File("share")};
    }
    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "")
    {
        return RunProcess(POSTWATCH_BINARY, args, input, Env());
    }
    void Add(const std::string& name, const std::string& kind, int port,
             const std::string& password = "alice-pass", bool fromNow = false)
    {
        std::vector<std::string> args{
            "--add-account", name,     "--kind", kind,     "--server",
            "127.0.0.1",     "--user", "alice",  "--port", std::to_string(port),
            "--security",    "none"};
        if (fromNow)
            args.push_back("--from-now");
        auto r = Run(args, password + "\n");
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    DovecotFixture* dovecot_ = nullptr;
    TempDir dir_;
};

// One command and what it must print: message lines and result lines in any order
// (messages arrive in the server's newest-first order, results as the checks end).
struct Step {
    const char* what;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> messageLines; // sorted
    std::vector<std::string> summaryLines; // sorted
    std::string errHas;
};

void RunSteps(CheckNowTest* test, const std::vector<Step>& steps,
              const std::function<ProcessResult(const std::vector<std::string>&)>& run)
{
    (void)test;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        ProcessResult r = run(s.args);
        EXPECT_EQ(r.exitCode, s.exitCode) << r.out << r.err;
        const CheckOutput split = Split(r.out);
        EXPECT_EQ(split.messages, s.messageLines);
        EXPECT_EQ(split.results, s.summaryLines);
        if (s.errHas.empty())
            EXPECT_EQ(r.err, "");
        else
            EXPECT_NE(r.err.find(s.errHas), std::string::npos) << r.err;
    }
}

const std::string kBob = "Bob <bob@example.org>";

std::string Line(const std::string& account, const std::string& subject)
{
    return account + "\t" + kBob + "\t" + subject + "\t";
}

TEST_F(CheckNowTest, NewMailStoredOnceForBothProtocols)
{
    for (const char* s : {"first", "second", "=?UTF-8?B?R3LDvMOfZQ==?="})
        ASSERT_FALSE(dovecot_->Deliver("alice", Message(s)).empty());
    Add("Pop", "POP3", dovecot_->Pop3Port());
    Add("Imap", "IMAP4", dovecot_->ImapPort());
    auto run = [&](const std::vector<std::string>& a) { return Run(a); };

    // The date and size columns depend on the server; compare up to the subject.
    auto cut = [](std::vector<std::string> lines) {
        for (std::string& l : lines) {
            size_t tab = 0;
            for (int i = 0; i < 3 && tab != std::string::npos; ++i)
                tab = l.find('\t', tab + (i ? 1 : 0));
            l = l.substr(0, tab + 1);
        }
        return lines;
    };
    ProcessResult first = Run({"--check-now", "Pop"});
    EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
    std::vector<std::string> lines = Lines(first.out);
    ASSERT_EQ(lines.size(), 4u) << first.out;
    EXPECT_EQ(lines.back(), "Pop\t4\tdone\t3");
    std::vector<std::string> messages = cut({lines.begin(), lines.end() - 1});
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages, (std::vector<std::string>{Line("Pop", "Grüße"), Line("Pop", "first"),
                                                  Line("Pop", "second")}));
    // Each message line has six fields; the attachment column says "No".
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), '\t'), 5);
    EXPECT_EQ(lines[0].substr(lines[0].rfind('\t') + 1), "No");

    // Stored, decoded, unread.
    ProcessResult listed = Run({"--list-messages", "Pop"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(Lines(listed.out).size(), 3u);
    EXPECT_NE(listed.out.find("\tNo\t" + kBob + "\tGrüße\t"), std::string::npos) << listed.out;

    RunSteps(
        this,
        {{"nothing new the second time", {"--check-now", "Pop"}, 0, {}, {"Pop\t4\tdone\t0"}, ""},
         {"unknown account", {"--check-now", "Pop", "Nope"}, 1, {}, {}, "Nope"}},
        run);

    // All accounts when none is named: IMAP sees the three as new, POP3 nothing.
    ProcessResult all = Run({"--check-now"});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    const CheckOutput split = Split(all.out);
    EXPECT_EQ(split.messages.size(), 3u) << all.out;
    EXPECT_EQ(split.results, (std::vector<std::string>{"Imap\t4\tdone\t3", "Pop\t4\tdone\t0"}));
    // An account's messages come before its result line.
    EXPECT_LT(all.out.find("Imap\tBob"), all.out.find("Imap\t4\tdone"));
}

TEST_F(CheckNowTest, DeleteRuleRemovesTheMessageOnTheServer)
{
    for (const char* s : {"keep me", "Cheap SPAM offer"})
        ASSERT_FALSE(dovecot_->Deliver("alice", Message(s)).empty());
    Add("Pop", "POP3", dovecot_->Pop3Port());
    {
        // The rule as the filter dialog would save it, in the program's settings.
        ScopedEnv config("XDG_CONFIG_HOME", dir_.File("config"));
        std::string error;
        ASSERT_TRUE(ResourceLibrary::LoadDefault(&error)) << error;
        FilterKeywords words = FilterKeywords::Load();
        ASSERT_TRUE(words.Usable());
        ASSERT_EQ(SaveRule({"spam", words.subject, words.contains, "spam", "1"}), 1);
    }
    ProcessResult r = Run({"--check-now", "Pop"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0].substr(0, Line("Pop", "keep me").size()), Line("Pop", "keep me"));
    EXPECT_EQ(lines[1], "Pop\t4\tdone\t1");
    EXPECT_EQ(MaildirCount(dovecot_->Maildir("alice")), 1u);
}

TEST_F(CheckNowTest, FailuresGiveExitOne)
{
    Add("Wrong", "POP3", dovecot_->Pop3Port(), "not-the-password");
    Add("Nobody", "IMAP4", 1); // nothing listens on port 1
    auto run = [&](const std::vector<std::string>& a) { return Run(a); };
    RunSteps(this,
             {{"login refused",
               {"--check-now", "Wrong"},
               1,
               {},
               {"Wrong\t2\tlogin refused\t0"},
               "postwatch: Wrong: login refused"},
              {"cannot connect",
               {"--check-now", "Nobody"},
               1,
               {},
               {"Nobody\t3\tcannot connect\t0"},
               "postwatch: Nobody: cannot connect"},
              {"no accounts named and both fail",
               {"--check-now"},
               1,
               {},
               {"Nobody\t3\tcannot connect\t0", "Wrong\t2\tlogin refused\t0"},
               "postwatch: Wrong: login refused"}},
             run);
}

TEST_F(CheckNowTest, AnAccountsResultIsPrintedWhenItsCheckEnds)
{
    // A server that takes the connection and never says a word, until the test lets go.
    auto silent = std::make_unique<ScriptedServer>();
    ASSERT_TRUE(silent->Start());
    Add("Silent", "POP3", silent->Port());
    Add("Pop", "POP3", dovecot_->Pop3Port());

    Background check({"--check-now", "Silent", "Pop"}, Env(), dir_);
    const std::string healthy = "Pop\t4\tdone\t0\n";
    ASSERT_TRUE(WaitFor([&] { return check.Out().find(healthy) != std::string::npos; }, 60))
        << "no result for the healthy account while the other one hangs: " << check.Out()
        << check.Err();
    EXPECT_TRUE(check.Running());
    EXPECT_EQ(check.Out().find("Silent"), std::string::npos) << check.Out();

    silent.reset(); // the silent server closes: that check fails now
    ASSERT_TRUE(WaitFor([&] { return !check.Running(); }, 60)) << check.Out() << check.Err();
    EXPECT_EQ(check.ExitCode(), 1);
    const std::vector<std::string> lines = Lines(check.Out());
    ASSERT_EQ(lines.size(), 2u) << check.Out();
    EXPECT_EQ(lines[0] + "\n", healthy);
    EXPECT_EQ(lines[1].rfind("Silent\t", 0), 0u) << lines[1];
    EXPECT_EQ(lines[1].find("\t4\t"), std::string::npos) << lines[1];
    EXPECT_EQ(check.Err().rfind("postwatch: Silent: ", 0), 0u) << check.Err();
}

// Nothing a message says reaches the terminal as a control: both commands print the same
// visible text for it.
TEST_F(CheckNowTest, MailCannotDriveTheTerminal)
{
    const std::string r = "\xEF\xBF\xBD"; // U+FFFD
    struct Case {
        const char* name;
        std::string decoded; // what the encoded subject says
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"retitle and clear the terminal",
         "\x1B]0;owned\x07\x1B[2J\xC2\x9B"
         "1mhi",
         r + "]0;owned" + r + r + "[2J" + r + "1mhi"},
        {"text after a NUL is not shown by either", std::string("cut\0\x1B[2J", 6), "cut"},
    };
    Add("Pop", "POP3", dovecot_->Pop3Port());
    // Cleared once: a mailbox cleared between rows restarts its UIDs, and within the same
    // second its identifiers repeat, so a later row's message would look already seen.
    ASSERT_TRUE(dovecot_->ClearMailbox("alice"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray encoded =
            QByteArray(c.decoded.data(), static_cast<qsizetype>(c.decoded.size())).toBase64();
        ASSERT_FALSE(
            dovecot_->Deliver("alice", Message("=?UTF-8?B?" + encoded.toStdString() + "?="))
                .empty());

        ProcessResult checked = Run({"--check-now", "Pop"});
        EXPECT_EQ(checked.exitCode, 0) << checked.err;
        ProcessResult listed = Run({"--list-messages", "Pop"});
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        for (const std::string& out : {checked.out, listed.out}) {
            EXPECT_EQ(std::count_if(out.begin(), out.end(),
                                    [](char ch) {
                                        const auto u = static_cast<unsigned char>(ch);
                                        return u < 0x20 && ch != '\t' && ch != '\n';
                                    }),
                      0)
                << out;
            EXPECT_EQ(out.find("\xC2\x9B"), std::string::npos) << out;
        }
        const std::vector<std::string> checkLines = Lines(checked.out);
        const std::vector<std::string> listLines = Lines(listed.out);
        ASSERT_EQ(checkLines.size(), 2u) << checked.out;
        ASSERT_FALSE(listLines.empty()); // earlier rows' messages stay stored: this one is last
        // check-now: account, sender, subject ...; list-messages: id, read, sender, subject ...
        EXPECT_NE(checkLines[0].find("\t" + kBob + "\t" + c.shown + "\t"), std::string::npos)
            << checkLines[0];
        EXPECT_NE(listLines.back().find("\t" + kBob + "\t" + c.shown + "\t"), std::string::npos)
            << listLines.back();
    }
}

// Records in an account's Message.box and how many distinct identifiers they carry.
std::pair<size_t, size_t> RecordsAndDistinct(const std::string& mailBox)
{
    CMailBoxFile box;
    if (box.Open(mailBox) != 1)
        return {0, 0};
    std::set<std::string> uids;
    size_t records = 0;
    StoredMessage m;
    while (box.Next() == 1 && box.ReadCurrent(m, true, false) == 1) {
        uids.insert(m.uid);
        ++records;
    }
    return {records, uids.size()};
}

// Two command lines check one account at the same moment: one waits and reports the other
// at work, or they take turns; no message is stored twice either way.
TEST_F(CheckNowTest, TwoProcessesCheckingOneAccountStoreEachMessageOnce)
{
    constexpr int kMessages = 300;
    for (int i = 0; i < kMessages; ++i)
        ASSERT_FALSE(dovecot_->Deliver("alice", Message("m" + std::to_string(i))).empty());
    Add("Pop", "POP3", dovecot_->Pop3Port());

    auto first = std::async(std::launch::async, [&] { return Run({"--check-now", "Pop"}); });
    auto second = std::async(std::launch::async, [&] { return Run({"--check-now", "Pop"}); });
    int stored = 0;
    for (ProcessResult r : {first.get(), second.get()}) {
        std::vector<std::string> lines = Lines(r.out);
        ASSERT_FALSE(lines.empty()) << r.err;
        if (r.exitCode == 0) {
            EXPECT_EQ(lines.back().rfind("Pop\t4\tdone\t", 0), 0u) << lines.back();
            stored += std::stoi(lines.back().substr(lines.back().rfind('\t') + 1));
        } else {
            EXPECT_EQ(lines.back(), "Pop\t1\tPop is already being checked\t0");
            EXPECT_NE(r.err.find("Pop is already being checked"), std::string::npos) << r.err;
        }
    }
    EXPECT_EQ(stored, kMessages);
    const auto [records, distinct] = RecordsAndDistinct(dir_.File("data/Mail/Pop/Message.box"));
    EXPECT_EQ(records, static_cast<size_t>(kMessages));
    EXPECT_EQ(distinct, static_cast<size_t>(kMessages));
    std::vector<std::string> uids;
    ASSERT_EQ(ReadUids(dir_.File("data/Mail/Pop/UID.inf"), uids), 1);
    EXPECT_EQ(std::set<std::string>(uids.begin(), uids.end()).size(),
              static_cast<size_t>(kMessages));
}

// A list of seen messages that cannot be written: the check fails at once, says why on
// standard error, stores nothing; once it can be written, the mail comes once.
TEST_F(CheckNowTest, StoreFailureIsAFailure)
{
    for (const char* s : {"one", "two"})
        ASSERT_FALSE(dovecot_->Deliver("alice", Message(s)).empty());
    Add("Pop", "POP3", dovecot_->Pop3Port());
    const std::string uidFile = dir_.File("data/Mail/Pop/UID.inf");
    WriteWholeFile(uidFile, "");
    ASSERT_EQ(::chmod(uidFile.c_str(), 0444), 0);
    auto run = [&](const std::vector<std::string>& a) { return Run(a); };
    const std::string refused =
        "cannot write the list of seen messages: " + uidFile + " is read only";
    RunSteps(this,
             {{"read-only list of seen messages",
               {"--check-now", "Pop"},
               1,
               {},
               {"Pop\t1\t" + refused + "\t0"},
               refused}},
             run);
    EXPECT_EQ(RecordsAndDistinct(dir_.File("data/Mail/Pop/Message.box")).first, 0u);
    ASSERT_EQ(::chmod(uidFile.c_str(), 0600), 0);
    ProcessResult mended = Run({"--check-now", "Pop"});
    EXPECT_EQ(mended.exitCode, 0) << mended.err;
    EXPECT_EQ(Lines(mended.out).back(), "Pop\t4\tdone\t2");
    ProcessResult again = Run({"--check-now", "Pop"});
    EXPECT_EQ(Lines(again.out).back(), "Pop\t4\tdone\t0");
    EXPECT_EQ(RecordsAndDistinct(dir_.File("data/Mail/Pop/Message.box")),
              std::make_pair(size_t(2), size_t(2)));
}

// "Only mail that arrives from now on": the first check records what the server holds and
// stores and reports none of it; a first check that fails keeps the request for the next;
// mail delivered afterwards is reported as usual.
TEST_F(CheckNowTest, FromNowReportsOnlyMailThatArrivesLater)
{
    struct Row {
        const char* account;
        const char* kind;
        bool refusedFirst; // the first check is refused a log-in
    } rows[] = {
        {"Pop", "POP3", false},
        {"Imap", "IMAP4", false},
        {"Late", "IMAP4", true},
    };
    for (const char* s : {"old one", "old two", "old three"})
        ASSERT_FALSE(dovecot_->Deliver("alice", Message(s)).empty());
    auto marker = [&](const Row& r) {
        return std::filesystem::exists(
            dir_.File("data/Mail/" + std::string(r.account) + "/FromNow"));
    };
    for (const Row& r : rows) {
        const std::string kind = r.kind;
        Add(r.account, kind, kind == "POP3" ? dovecot_->Pop3Port() : dovecot_->ImapPort(),
            r.refusedFirst ? "not-the-password" : "alice-pass", true);
        EXPECT_TRUE(marker(r)) << r.account;
    }
    for (const Row& r : rows) {
        SCOPED_TRACE(r.account);
        const std::string account = r.account;
        if (r.refusedFirst) {
            ProcessResult refused = Run({"--check-now", account});
            EXPECT_EQ(refused.exitCode, 1) << refused.out;
            EXPECT_TRUE(marker(r));
            ProcessResult mended =
                Run({"--set-account", account, "--password-stdin"}, "alice-pass\n");
            ASSERT_EQ(mended.exitCode, 0) << mended.err;
        }
        ProcessResult first = Run({"--check-now", account});
        EXPECT_EQ(first.exitCode, 0) << first.err;
        EXPECT_EQ(Lines(first.out), std::vector<std::string>{account + "\t4\tdone\t0"});
        EXPECT_EQ(Run({"--list-messages", account}).out, "");
        EXPECT_EQ(RecordsAndDistinct(dir_.File("data/Mail/" + account + "/Message.box")).first, 0u);
        std::vector<std::string> uids;
        ASSERT_EQ(ReadUids(dir_.File("data/Mail/" + account + "/UID.inf"), uids), 1);
        EXPECT_EQ(uids.size(), 3u);
        EXPECT_FALSE(marker(r));
    }
    ASSERT_FALSE(dovecot_->Deliver("alice", Message("later")).empty());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.account);
        const std::string account = r.account;
        ProcessResult next = Run({"--check-now", account});
        EXPECT_EQ(next.exitCode, 0) << next.err;
        const std::vector<std::string> lines = Lines(next.out);
        ASSERT_EQ(lines.size(), 2u) << next.out;
        EXPECT_EQ(lines[0].rfind(Line(account, "later"), 0), 0u) << lines[0];
        EXPECT_EQ(lines[1], account + "\t4\tdone\t1");
    }
}

// What a raw IMAP session saw of the INBOX: its UIDVALIDITY and, from the last UID SEARCH,
// its UIDs.
struct ServerView {
    std::string uidValidity;
    std::vector<std::string> uids;
};

ServerView SeeInbox(DovecotFixture& dovecot)
{
    const std::string said = dovecot.ImapSession("alice", {"UID SEARCH ALL"});
    ServerView view;
    std::smatch m;
    if (std::regex_search(said, m, std::regex(R"(\[UIDVALIDITY (\d+)\])")))
        view.uidValidity = m[1].str();
    if (std::regex_search(said, m, std::regex(R"(\* SEARCH([ 0-9]*)\r\n)"))) {
        std::istringstream in(m[1].str());
        for (std::string uid; in >> uid;)
            view.uids.push_back(uid);
    }
    return view;
}

// The server renumbers the INBOX (a new UIDVALIDITY, UIDs from 1 again) between two checks:
// the mail already stored is neither reported nor stored again and keeps no old UID, UID.inf
// becomes the new numbering, and a message that arrives later under one of the old UIDs is
// reported once.
TEST_F(CheckNowTest, RenumberedInboxReportsOnlyLaterMail)
{
    // Three messages expunged before the first check push the stored UIDs above the ones
    // the renumbered INBOX hands out.
    for (const char* s : {"gone 1", "gone 2", "gone 3", "one", "two", "three"})
        ASSERT_FALSE(dovecot_->Deliver("alice", Message(s)).empty());
    ASSERT_NE(dovecot_->ImapSession("alice", {"UID STORE 1:3 +FLAGS (\\Deleted)", "EXPUNGE"}), "");
    const ServerView before = SeeInbox(*dovecot_);
    ASSERT_EQ(before.uids, (std::vector<std::string>{"4", "5", "6"}));
    Add("Imap", "IMAP4", dovecot_->ImapPort());
    const std::string uidFile = dir_.File("data/Mail/Imap/UID.inf");
    const std::string validityFile = dir_.File("data/Mail/Imap/UidValidity");
    const std::string mailBox = dir_.File("data/Mail/Imap/Message.box");
    // UID.inf as a set: its order is the order the messages were reported in.
    using Uids = std::set<std::string>;
    auto stored = [&] {
        std::vector<std::string> uids;
        EXPECT_EQ(ReadUids(uidFile, uids), 1);
        EXPECT_EQ(Uids(uids.begin(), uids.end()).size(), uids.size()) << "a UID twice";
        return Uids(uids.begin(), uids.end());
    };
    auto onServer = [](const ServerView& view) { return Uids(view.uids.begin(), view.uids.end()); };
    auto listed = [&] {
        ProcessResult r = Run({"--list-messages", "Imap"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::multiset<std::string> subjects;
        for (const std::string& subject : {"one", "two", "three", "four"})
            for (const std::string& line : Lines(r.out))
                if (line.find("\t" + kBob + "\t" + subject + "\t") != std::string::npos)
                    subjects.insert(subject);
        EXPECT_EQ(Lines(r.out).size(), subjects.size()) << r.out;
        return subjects;
    };

    ProcessResult first = Run({"--check-now", "Imap"});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(Split(first.out).results, std::vector<std::string>{"Imap\t4\tdone\t3"});
    EXPECT_EQ(stored(), onServer(before));
    EXPECT_EQ(ReadWholeFile(validityFile), before.uidValidity + "\n");

    ASSERT_TRUE(dovecot_->Renumber("alice"));
    const ServerView after = SeeInbox(*dovecot_);
    ASSERT_NE(after.uidValidity, before.uidValidity) << "Dovecot kept its UIDVALIDITY";
    ASSERT_EQ(after.uids, (std::vector<std::string>{"1", "2", "3"}));

    ProcessResult second = Run({"--check-now", "Imap"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    // The user hears why nothing is new, without a failure.
    EXPECT_EQ(second.err.rfind("postwatch: Imap: the server renumbered its messages", 0), 0u)
        << second.err;
    EXPECT_EQ(Split(second.out).messages, std::vector<std::string>{}) << second.out;
    EXPECT_EQ(Split(second.out).results, std::vector<std::string>{"Imap\t4\tdone\t0"});
    EXPECT_EQ(listed(), (std::multiset<std::string>{"one", "two", "three"}));
    EXPECT_EQ(stored(), onServer(after));
    EXPECT_EQ(ReadWholeFile(validityFile), after.uidValidity + "\n");
    // No record keeps an old UID, which now names another message on the server.
    EXPECT_EQ(RecordsAndDistinct(mailBox), std::make_pair(size_t(3), size_t(1)));

    // The next message gets UID 4, which the first numbering gave to "one".
    ASSERT_FALSE(dovecot_->Deliver("alice", Message("four")).empty());
    ProcessResult third = Run({"--check-now", "Imap"});
    EXPECT_EQ(third.exitCode, 0) << third.err;
    const CheckOutput split = Split(third.out);
    ASSERT_EQ(split.messages.size(), 1u) << third.out;
    EXPECT_EQ(split.messages[0].rfind(Line("Imap", "four"), 0), 0u) << split.messages[0];
    EXPECT_EQ(split.results, std::vector<std::string>{"Imap\t4\tdone\t1"});
    EXPECT_EQ(listed(), (std::multiset<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(stored(), (Uids{"1", "2", "3", "4"}));
    EXPECT_EQ(onServer(SeeInbox(*dovecot_)), stored());
    EXPECT_EQ(Lines(Run({"--check-now", "Imap"}).out),
              std::vector<std::string>{"Imap\t4\tdone\t0"});
}

// A server whose certificate no trusted authority signed: --check-now names its fingerprint,
// --pin trusts exactly that certificate (in the shape other tools print it too), --pin none
// forgets it; --add-account takes the pin at once.
TEST_F(CheckNowTest, PinTrustsTheServersOwnCertificate)
{
    TempDir other;
    TestPki stranger(other.Path(), "Some Other CA");
    ASSERT_TRUE(stranger.Ok());
    std::vector<std::string> env = Env();
    env.push_back("SSL_CERT_FILE=" + stranger.CaFile());
    auto run = [&](std::vector<std::string> args, const std::string& input = "") {
        return RunProcess(POSTWATCH_BINARY, args, input, env);
    };
    const std::vector<std::string> add{
        "--add-account", "Own",       "--kind",     "IMAP4",
        "--server",      "127.0.0.1", "--port",     std::to_string(dovecot_->ImapsPort()),
        "--user",        "alice",     "--security", "tls"};
    ASSERT_EQ(run(add, "alice-pass\n").exitCode, 0);

    ProcessResult refused = run({"--check-now", "Own"});
    EXPECT_EQ(refused.exitCode, 1) << refused.out;
    std::smatch found;
    const std::regex fingerprint("postwatch: Own: .*certificate verify failed.*"
                                 "SHA-256 fingerprint ([0-9a-f]{64})");
    ASSERT_TRUE(std::regex_search(refused.err, found, fingerprint)) << refused.err;
    const std::string pin = found[1].str();
    std::string colons;
    for (std::size_t i = 0; i < pin.size(); i += 2)
        colons += (i ? ":" : "") + pin.substr(i, 2);

    struct Row {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        std::string outHas;
        std::string errHas;
    } rows[] = {
        {"not-a-fingerprint", {"--set-account", "Own", "--pin", "3fa1c2"}, 2, "", "--pin"},
        {"pinned", {"--set-account", "Own", "--pin", colons}, 0, "", ""},
        {"accepted", {"--check-now", "Own"}, 0, "Own\t4\tdone\t0", ""},
        {"forgotten", {"--set-account", "Own", "--pin", "NONE"}, 0, "", ""},
        {"refused-again", {"--check-now", "Own"}, 1, "Own\t3", pin},
        {"added-with-a-pin",
         {"--add-account", "Own2", "--kind", "IMAP4", "--server", "127.0.0.1", "--port",
          std::to_string(dovecot_->ImapsPort()), "--user", "alice", "--security", "tls", "--pin",
          pin},
         0,
         "",
         ""},
        {"accepted-at-once", {"--check-now", "Own2"}, 0, "Own2\t4\tdone\t0", ""},
        {"web-mail-takes-no-pin",
         {"--add-account", "Web", "--kind", "WebMail", "--category", "Hotmail", "--user", "u",
          "--pin", pin},
         2,
         "",
         "--pin is not for"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ProcessResult r = run(row.args, "alice-pass\n");
        EXPECT_EQ(r.exitCode, row.exitCode) << r.out << r.err;
        EXPECT_NE(r.out.find(row.outHas), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(row.errHas), std::string::npos) << r.err;
    }
}

} // namespace
