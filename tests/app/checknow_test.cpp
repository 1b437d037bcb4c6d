// --check-now as the real program against a private Dovecot: new mail stored and printed,
// nothing new the second time, a delete rule that removes the message on the server, and
// the failures a user meets (unknown account, wrong password).
#include "dovecotenvironment.h"
#include "filterrule.h"
#include "filterrules.h"
#include "resourcelibrary.h"
#include "support/runprocess.h"
#include "support/tempdir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

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
            GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
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

} // namespace
