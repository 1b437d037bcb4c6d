// --check-now as the real program against a private Dovecot: new mail stored and printed,
// nothing new the second time, a delete rule that removes the message on the server, and
// the failures a user meets (unknown account, wrong password).
#include "dovecotenvironment.h"
#include "filterrule.h"
#include "filterrules.h"
#include "mailboxfile.h"
#include "resourcelibrary.h"
#include "support/runprocess.h"
#include "support/tempdir.h"
#include "uidfile.h"

#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/stat.h>

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

class CheckNowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dovecot_ = DovecotEnvironment::Get();
        if (!dovecot_)
            GTEST_SKIP() << DovecotEnvironment::Why();
        ASSERT_TRUE(dovecot_->ClearMailbox("alice"));
    }

    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "")
    {
        return RunProcess(POSTWATCH_BINARY, args, input,
                          {"POSTWATCH_HOME=" + dir_.File("data"),
                           "XDG_CONFIG_HOME=" + dir_.File("config"),
                           "XDG_DATA_HOME=" + dir_.File("share")});
    }
    void Add(const std::string& name, const std::string& kind, int port,
             const std::string& password = "alice-pass")
    {
        auto r = Run({"--add-account", name, "--kind", kind, "--server", "127.0.0.1", "--user",
                      "alice", "--port", std::to_string(port), "--security", "none"},
                     password + "\n");
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    DovecotFixture* dovecot_ = nullptr;
    TempDir dir_;
};

// One command and what it must print (lines in any order for messages, which arrive in the
// server's newest-first order, then the summaries in the order asked).
struct Step {
    const char* what;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> messageLines; // sorted
    std::vector<std::string> summaryLines;
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
        std::vector<std::string> lines = Lines(r.out);
        ASSERT_GE(lines.size(), s.summaryLines.size()) << r.out;
        std::vector<std::string> summaries(lines.end() - s.summaryLines.size(), lines.end());
        std::vector<std::string> messages(lines.begin(), lines.end() - s.summaryLines.size());
        std::sort(messages.begin(), messages.end());
        EXPECT_EQ(messages, s.messageLines);
        EXPECT_EQ(summaries, s.summaryLines);
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
    lines = Lines(all.out);
    ASSERT_EQ(lines.size(), 5u) << all.out;
    EXPECT_EQ(lines[3], "Pop\t4\tdone\t0");
    EXPECT_EQ(lines[4], "Imap\t4\tdone\t3");
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
    RunSteps(
        this,
        {{"login refused", {"--check-now", "Wrong"}, 1, {}, {"Wrong\t2\tlogin refused\t0"}, ""},
         {"cannot connect", {"--check-now", "Nobody"}, 1, {}, {"Nobody\t3\tcannot connect\t0"}, ""},
         {"no accounts named and one fails",
          {"--check-now"},
          1,
          {},
          {"Wrong\t2\tlogin refused\t0", "Nobody\t3\tcannot connect\t0"},
          ""}},
        run);
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

} // namespace
