// The headless command line, run as the real program against a data folder and settings of
// the test's own.
#include "accountfile.h"
#include "accountlock.h"
#include "mailboxfile.h"
#include "support/runprocess.h"
#include "support/tempdir.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace
{

struct Step {
    std::vector<std::string> args;
    std::string input;
    int exitCode;
    std::string out;    // expected standard output exactly, unless "*" (anything)
    std::string errHas; // a piece the standard error must hold ("" = must be empty)
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

ProcessResult RunPostwatch(const TempDir& dir, const Step& step, std::vector<std::string> env = {})
{
    env.push_back("POSTWATCH_HOME=" + dir.File("data"));
    env.push_back("XDG_CONFIG_HOME=" + dir.File("config"));
    env.push_back("XDG_DATA_HOME=" + dir.File("share"));
    // The mailbox plug-in looks for the user's own mail: there is none here.
    env.push_back("HOME=" + dir.File("home"));
    env.push_back("MAILDIR=" + dir.File("home/Maildir"));
    // No display: without options the program is the desktop one, which must then say so.
    env.push_back("DISPLAY=");
    env.push_back("WAYLAND_DISPLAY=");
    env.push_back("QT_QPA_PLATFORM=");
    return RunProcess(POSTWATCH_BINARY, step.args, step.input, env);
}

const std::vector<std::string> kAddWork = {
    "--add-account", "Work", "--kind", "POP3", "--server", "mail.example.org", "--user", "alice"};

TEST(HeadlessCommandLine, Scenarios)
{
    const Scenario scenarios[] = {
        {"add-pop3-then-list",
         {{kAddWork, "secret\n", 0, "", ""},
          {{"--list-accounts"}, "", 0, "Work\tPOP3\tmail.example.org\t110\talice\n", ""}}},
        {"imap4-with-security-and-port-keeps-table-order",
         {{kAddWork, "secret\n", 0, "", ""},
          {{"--add-account=Home", "--kind", "imap4", "--server=imap.example.org", "--user", "bob",
            "--security", "tls", "--port", "993", "--push", "--mark-read-on-server"},
           "pw\n",
           0,
           "",
           ""},
          // The desktop's word for the kind is taken too; the file keeps the literal.
          {{"--add-account", "Desk", "--kind", "Imap", "--server", "d", "--user", "d"},
           "pw\n",
           0,
           "",
           ""},
          {{"--list-accounts"},
           "",
           0,
           "Work\tPOP3\tmail.example.org\t110\talice\nHome\tIMAP4\timap.example.org\t993\tbob\n"
           "Desk\tIMAP4\td\t143\td\n",
           ""}}},
        {"refused-names",
         {{{"--add-account", "a:b", "--kind", "POP3", "--server", "s", "--user", "u"},
           "x\n",
           1,
           "",
           "a:b"},
          {{"--add-account", "  ", "--kind", "POP3", "--server", "s", "--user", "u"},
           "x\n",
           1,
           "",
           "postwatch:"},
          {{"--add-account", "..", "--kind", "POP3", "--server", "s", "--user", "u"},
           "x\n",
           1,
           "",
           "postwatch:"},
          {{"--list-accounts"}, "", 0, "", ""}}},
        {"name-in-use-without-regard-to-case",
         {{kAddWork, "secret\n", 0, "", ""},
          {{"--add-account", "WORK", "--kind", "IMAP4", "--server", "s", "--user", "u"},
           "x\n",
           1,
           "",
           "WORK"}}},
        {"missing-values-are-checked-before-anything-is-written",
         {{{"--add-account", "A", "--kind", "POP3", "--server", "", "--user", "u"},
           "x\n",
           1,
           "",
           "POP3"},
          {{"--add-account", "A", "--kind", "POP3", "--server", "s", "--user", ""},
           "x\n",
           1,
           "",
           "user"},
          {{"--add-account", "A", "--kind", "POP3", "--server", "s", "--user", "u"},
           "",
           1,
           "",
           "password"},
          {{"--list-accounts"}, "", 0, "", ""}}},
        {"bad-usage",
         {{{"--add-account", "A", "--server", "s", "--user", "u"}, "x\n", 2, "", "--kind"},
          {{"--add-account", "A", "--kind", "Portalpost", "--server", "s", "--user", "u"},
           "x\n",
           2,
           "",
           "--category"},
          {{"--add-account", "A", "--kind", "POP3", "--user", "u"}, "x\n", 2, "", "--server"},
          {{"--add-account", "A", "--kind", "POP3", "--server", "s", "--user", "u", "--port", "0"},
           "x\n",
           2,
           "",
           "--port"},
          {{"--add-account", "A", "--kind", "POP3", "--server", "s", "--user", "u", "--port",
            "70000"},
           "x\n",
           2,
           "",
           "--port"},
          {{"--add-account", "A", "--kind", "POP3", "--server", "s", "--user", "u", "--security",
            "ssl"},
           "x\n",
           2,
           "",
           "--security"},
          {{"--add-account", "A", "--kind", "POP3", "--server", "s", "--user", "u", "--user", "v"},
           "x\n",
           2,
           "",
           "twice"},
          // POP3 has no push and no read state on the server.
          {{"--add-account", "A", "--kind", "POP3", "--server", "s", "--user", "u", "--push"},
           "x\n",
           2,
           "",
           "--push needs an IMAP4 account"},
          {{"--add-account", "A", "--kind", "POP3", "--server", "s", "--user", "u",
            "--mark-read-on-server"},
           "x\n",
           2,
           "",
           "--mark-read-on-server needs an IMAP4 account"},
          // Web mail keeps its own list of what it has seen.
          {{"--add-account", "A", "--kind", "Portalpost", "--category", "Yahoo", "--user", "u",
            "--from-now"},
           "x\n",
           2,
           "",
           "--from-now needs a POP3 or IMAP4 account"},

          {{"--add-account"}, "", 2, "", "account name"},
          {{"--list-accounts", "extra"}, "", 2, "", "unexpected"},
          {{"--frobnicate"}, "", 2, "", "unknown option"},
          {{"--list-accounts"}, "", 0, "", ""}}},
        {"list-messages-of-unknown-and-empty-accounts",
         {{{"--list-messages", "Nope"}, "", 1, "", "Nope"},
          {kAddWork, "secret\n", 0, "", ""},
          {{"--list-messages", "Work"}, "", 0, "", ""}}},
        {"check-now-without-a-server",
         {{{"--check-now"}, "", 0, "", ""},
          {{"--check-now", "Nope"}, "", 1, "", "Nope"},
          {{"--add-account", "Dead", "--kind", "POP3", "--server", "127.0.0.1", "--port", "1",
            "--user", "u"},
           "pw\n",
           0,
           "",
           ""},
          {{"--check-now", "Dead"},
           "",
           1,
           "Dead\t3\tcannot connect\t0\n",
           "postwatch: Dead: cannot connect"},
          {{"--check-now=Dead", "Dead"},
           "",
           1,
           "Dead\t3\tcannot connect\t0\n",
           "postwatch: Dead: cannot connect"},
          {{"--check-now", "Dead", "Nope"}, "", 1, "", "Nope"}}},
        {"rename",
         {{kAddWork, "secret\n", 0, "", ""},
          {{"--rename-account", "Work", "Office"}, "", 0, "", ""},
          {{"--list-accounts"}, "", 0, "Office\tPOP3\tmail.example.org\t110\talice\n", ""},
          {{"--rename-account", "Work", "Desk"}, "", 1, "", "Work"},
          {kAddWork, "secret\n", 0, "", ""},
          {{"--rename-account", "Office", "WORK"}, "", 1, "", "already exists"},
          {{"--rename-account", "Office", "a:b"}, "", 1, "", "cannot contain"},
          {{"--rename-account", "Office", "  "}, "", 1, "", "enter a name"},
          {{"--rename-account", "Office"}, "", 2, "", "old and the new"},
          {{"--rename-account", "Office", "Desk", "--user", "u"}, "", 2, "", "unexpected"},
          {{"--list-accounts"},
           "",
           0,
           "Office\tPOP3\tmail.example.org\t110\talice\nWork\tPOP3\tmail.example.org\t110\t"
           "alice\n",
           ""}}},
        {"remove-then-add-again",
         {{kAddWork, "secret\n", 0, "", ""},
          {{"--add-account", "Home", "--kind", "IMAP4", "--server", "h", "--user", "bob"},
           "pw\n",
           0,
           "",
           ""},
          {{"--remove-account", "Work"}, "", 0, "", ""},
          {{"--list-accounts"}, "", 0, "Home\tIMAP4\th\t143\tbob\n", ""},
          {{"--remove-account", "Work"}, "", 1, "", "Work"},
          {{"--remove-account"}, "", 2, "", "account name"},
          {kAddWork, "secret\n", 0, "", ""},
          {{"--list-messages", "Work"}, "", 0, "", ""}}},
        {"set-account",
         {{kAddWork, "secret\n", 0, "", ""},
          {{"--set-account", "Work", "--server", "pop.example.net", "--port", "995", "--security",
            "tls", "--user", "bob"},
           "",
           0,
           "",
           ""},
          {{"--list-accounts"}, "", 0, "Work\tPOP3\tpop.example.net\t995\tbob\n", ""},
          {{"--set-account", "Work"}, "", 2, "", "something to change"},
          {{"--set-account", "Work", "--period", "x"}, "", 2, "", "--period"},
          {{"--set-account", "Work", "--port", "0"}, "", 2, "", "--port"},
          {{"--set-account", "Work", "--security", "ssl"}, "", 2, "", "--security"},
          {{"--set-account", "Work", "--password-stdin=1"}, "", 2, "", "takes no value"},
          {{"--set-account", "Nope", "--port", "1"}, "", 1, "", "Nope"},
          {{"--set-account", "Work", "--server", " "}, "", 1, "", "POP3"},
          {{"--set-account", "Work", "--user", ""}, "", 1, "", "user"},
          {{"--set-account", "Work", "--password-stdin"}, "", 1, "", "password"},
          {{"--set-account", "Work", "--password-stdin"}, "a\rb\n", 1, "", "line break"},
          {{"--list-accounts"}, "", 0, "Work\tPOP3\tpop.example.net\t995\tbob\n", ""}}},
        {"password-with-a-line-break-or-zero-byte-is-refused-at-once",
         {{kAddWork, "a\rb\n", 1, "", "line break"},
          {kAddWork, std::string("a\0b\n", 4), 1, "", "zero byte"},
          {{"--list-accounts"}, "", 0, "", ""}}},
        {"web-mail-and-exchange-accounts",
         {{{"--add-account", "Web", "--kind", "Portalpost", "--category", "Hotmail", "--user",
            "bob"},
           "pw\n",
           0,
           "",
           ""},
          {{"--list-accounts"}, "", 0, "Web\tPortalpost\tHotmail\t\tbob\n", ""},
          // Categories compare exactly, as the web-mail library compares them.
          {{"--add-account", "W2", "--kind", "portalpost", "--category", "hotmail", "--user", "b"},
           "pw\n",
           2,
           "",
           "no category \"hotmail\""},
          {{"--add-account", "W2", "--kind", "Portalpost", "--user", "b"},
           "pw\n",
           2,
           "",
           "--category"},
          {{"--add-account", "W2", "--kind", "webmail", "--user", "b"},
           "pw\n",
           2,
           "",
           "--category"},
          {{"--add-account", "W2", "--kind", "Portalpost", "--category", "Yahoo"},
           "pw\n",
           2,
           "",
           "--user"},
          {{"--add-account", "W2", "--kind", "Portalpost", "--category", "Yahoo", "--user", "b",
            "--port", "80"},
           "pw\n",
           2,
           "",
           "--port is not for a Portalpost"},
          {{"--add-account", "W2", "--kind", "Portalpost", "--category", "Yahoo", "--user", ""},
           "pw\n",
           1,
           "",
           "user"},
          {{"--add-account", "W2", "--kind", "Portalpost", "--category", "Yahoo", "--user", "b"},
           "",
           1,
           "",
           "password"},
          {{"--add-account", "E", "--kind", "Exchange"}, "", 2, "", "--profile"},
          {{"--add-account", "E", "--kind", "Exchange", "--profile", "Nope"},
           "",
           2,
           "",
           "profile \"Nope\""},
          {{"--add-account", "E", "--kind", "maildir", "--profile", "Nope"},
           "",
           2,
           "",
           "profile \"Nope\""},
          {{"--add-account", "E", "--kind", "Exchange(MAPI)", "--profile", "Nope", "--user", "u"},
           "",
           2,
           "",
           "--user is not for an Exchange"},
          {{"--add-account", "P", "--kind", "POP3", "--server", "s", "--user", "u", "--category",
            "Yahoo"},
           "pw\n",
           2,
           "",
           "--category is not for a POP3"},
          {{"--set-account", "Web", "--server", "mail.example.org"},
           "",
           2,
           "",
           "--server is not for a Portalpost"},
          {{"--set-account", "Web", "--user", "carol", "--password-stdin"}, "pw2\n", 0, "", ""},
          {{"--list-accounts"}, "", 0, "Web\tPortalpost\tHotmail\t\tcarol\n", ""}}},
        {"help", {{{"--help"}, "", 0, "*", ""}}},
        {"no-option-without-a-display", {{{}, "", 2, "", "--check-now"}}},
    };

    for (const Scenario& s : scenarios) {
        TempDir dir;
        int index = 0;
        for (const Step& step : s.steps) {
            ProcessResult r = RunPostwatch(dir, step);
            std::string where = std::string(s.name) + " step " + std::to_string(index++);
            EXPECT_EQ(r.exitCode, step.exitCode) << where << "\n" << r.err;
            if (step.out != "*")
                EXPECT_EQ(r.out, step.out) << where;
            if (step.errHas.empty())
                EXPECT_EQ(r.err, "") << where;
            else
                EXPECT_NE(r.err.find(step.errHas), std::string::npos) << where << ": " << r.err;
        }
    }
}

TEST(HeadlessCommandLine, PasswordComesFromTheFirstLineOfInput)
{
    TempDir dir;
    ASSERT_EQ(RunPostwatch(dir, {kAddWork, "s3cret pass\r\nsecond line\n", 0, "", ""}).exitCode, 0);
    AccountRecord record;
    record.name = "Work";
    ASSERT_EQ(CAccountFile::ReadAccountFile(dir.File("data/Mail/Work/Account.inf"), record), 1);
    EXPECT_EQ(record.password, "s3cret pass");
    EXPECT_EQ(record.security, "");
    // The password never reaches the listing.
    ProcessResult list = RunPostwatch(dir, {{"--list-accounts"}, "", 0, "", ""});
    EXPECT_EQ(list.out.find("s3cret"), std::string::npos);
}

TEST(HeadlessCommandLine, SetAccountChangesPasswordAndPeriod)
{
    TempDir dir;
    ASSERT_EQ(RunPostwatch(dir, {kAddWork, "secret\n", 0, "", ""}).exitCode, 0);
    const std::string inf = dir.File("data/Mail/Work/Account.inf");
    struct Row {
        const char* name;
        std::vector<std::string> args;
        std::string input;
        std::string password, periodCheck, period;
    } rows[] = {
        {"new-password", {"--password-stdin"}, "n3w pass\r\n", "n3w pass", "No", "15"},
        {"period-on", {"--period", "10"}, "", "n3w pass", "Yes", "10"},
        {"period-off-keeps-minutes", {"--period", "0"}, "", "n3w pass", "No", "10"},
    };
    for (const Row& r : rows) {
        std::vector<std::string> args = {"--set-account", "Work"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        ProcessResult run = RunPostwatch(dir, {args, r.input, 0, "", ""});
        ASSERT_EQ(run.exitCode, 0) << r.name << ": " << run.err;
        AccountRecord record;
        record.name = "Work";
        ASSERT_EQ(CAccountFile::ReadAccountFile(inf, record), 1) << r.name;
        EXPECT_EQ(record.password, r.password) << r.name;
        EXPECT_EQ(record.periodCheck, r.periodCheck) << r.name;
        EXPECT_EQ(record.period, r.period) << r.name;
        EXPECT_EQ(record.server, "mail.example.org") << r.name;
    }
}

// Another process checking the account holds its lock: the edits say so and change nothing.
TEST(HeadlessCommandLine, EditsOfAnAccountBeingCheckedAreRefused)
{
    TempDir dir;
    ASSERT_EQ(RunPostwatch(dir, {kAddWork, "secret\n", 0, "", ""}).exitCode, 0);
    CAccountLock check;
    ASSERT_EQ(check.Acquire(dir.File("data/Mail/Work")), CAccountLock::Outcome::Held);
    const std::vector<std::vector<std::string>> edits = {{"--rename-account", "Work", "Office"},
                                                         {"--remove-account", "Work"}};
    for (const auto& args : edits) {
        ProcessResult r = RunPostwatch(dir, {args, "", 1, "", ""});
        EXPECT_EQ(r.exitCode, 1) << args[0];
        EXPECT_NE(r.err.find("Work is being checked"), std::string::npos) << args[0] << r.err;
    }
    EXPECT_EQ(RunPostwatch(dir, {{"--list-accounts"}, "", 0, "", ""}).out,
              "Work\tPOP3\tmail.example.org\t110\talice\n");
    check.Release();
    EXPECT_EQ(RunPostwatch(dir, {{"--remove-account", "Work"}, "", 0, "", ""}).exitCode, 0);
}

// Pairs of simultaneous adds of one name, as scripts run them: exactly one of each pair
// succeeds, the other says the name is in use, and no duplicate is ever listed.
TEST(HeadlessCommandLine, RacingAddsOfOneNameCreateOneAccount)
{
    TempDir dir;
    for (int round = 0; round < 5; ++round) {
        const std::string name = "S" + std::to_string(round);
        const Step add = {{"--add-account", name, "--kind", "POP3", "--server", "h", "--user", "u"},
                          "pw\n",
                          0,
                          "",
                          ""};
        ProcessResult results[2];
        std::thread first([&] { results[0] = RunPostwatch(dir, add); });
        std::thread second([&] { results[1] = RunPostwatch(dir, add); });
        first.join();
        second.join();
        const int ok = (results[0].exitCode == 0) + (results[1].exitCode == 0);
        EXPECT_EQ(ok, 1) << name << ": " << results[0].err << results[1].err;
        for (const ProcessResult& r : results)
            if (r.exitCode != 0)
                EXPECT_NE(r.err.find("exists already"), std::string::npos) << name << r.err;
    }
    ProcessResult list = RunPostwatch(dir, {{"--list-accounts"}, "", 0, "", ""});
    EXPECT_EQ(list.out, "S0\tPOP3\th\t110\tu\nS1\tPOP3\th\t110\tu\nS2\tPOP3\th\t110\tu\n"
                        "S3\tPOP3\th\t110\tu\nS4\tPOP3\th\t110\tu\n");
}

TEST(HeadlessCommandLine, ListMessagesShowsStoredHeadersInFileOrder)
{
    TempDir dir;
    ASSERT_EQ(RunPostwatch(dir, {kAddWork, "secret\n", 0, "", ""}).exitCode, 0);
    {
        CMailBoxFile box;
        ASSERT_EQ(box.Open(dir.File("data/Mail/Work/Message.box")), 1) << box.LastError();
        MessageRecord first;
        first.sender = "Ann <ann@example.org>";
        first.subject = "Caf\xc3\xa9\tmenu"; // a tab would split the line
        first.date = "2026-12-07 09:15";
        first.size = "2KB";
        first.attachment = "No";
        first.uid = "u1";
        MessageRecord second = first;
        second.subject = "Report";
        second.attachment = "Yes";
        ASSERT_EQ(box.Append("00000000-0000-4000-8000-000000000001", "POP3", "No", first), 1);
        ASSERT_EQ(box.Append("00000000-0000-4000-8000-000000000002", "POP3", "No", second), 1);
        ASSERT_EQ(box.SetRead("00000000-0000-4000-8000-000000000002", "Yes"), 1);
    }
    ProcessResult r = RunPostwatch(dir, {{"--list-messages", "Work"}, "", 0, "", ""});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "00000000-0000-4000-8000-000000000001\tNo\tAnn <ann@example.org>\tCaf\xc3\xa9 "
                     "menu\t2026-12-07 09:15\t2KB\tNo\n"
                     "00000000-0000-4000-8000-000000000002\tYes\tAnn <ann@example.org>\tReport\t"
                     "2026-12-07 09:15\t2KB\tYes\n");
}

TEST(HeadlessCommandLine, MissingResourceBundleEndsWithAClearMessage)
{
    TempDir dir;
    ProcessResult r = RunPostwatch(dir, {{"--list-accounts"}, "", 1, "", ""},
                                   {"POSTWATCH_ASSETS=" + dir.File("no-assets")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("resource bundle"), std::string::npos) << r.err;
}

// Three stored messages for Work ("0", "1", "2" as subjects), as a check leaves them.
void StoreThree(const TempDir& dir)
{
    CMailBoxFile box;
    ASSERT_EQ(box.Open(dir.File("data/Mail/Work/Message.box")), 1) << box.LastError();
    for (int i = 0; i < 3; ++i) {
        MessageRecord m;
        m.subject = std::to_string(i);
        m.attachment = "No";
        m.uid = "u" + std::to_string(i);
        ASSERT_EQ(
            box.Append("00000000-0000-4000-8000-00000000000" + std::to_string(i), "POP3", "No", m),
            1);
    }
}

// Spoils the size of the second record: Open refuses the store from then on.
void SpoilSecondRecord(const TempDir& dir)
{
    const std::string path = dir.File("data/Mail/Work/Message.box");
    std::string bytes = ReadWholeFile(path);
    const auto* u = reinterpret_cast<const unsigned char*>(bytes.data() + 2048);
    const size_t first = u[0] | u[1] << 8 | u[2] << 16 | static_cast<size_t>(u[3]) << 24;
    bytes.replace(2048 + first, 4, "\xff\xff\xff\x7f");
    WriteWholeFile(path, bytes);
}

size_t FilesStartingWith(const std::string& folder, const std::string& prefix)
{
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        n += e.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

TEST(HeadlessCommandLine, RepairKeepsWhatIsStillWhole)
{
    const std::vector<std::string> kAddHome = {"--add-account", "Home",     "--kind",
                                               "IMAP4",         "--server", "imap.example.org",
                                               "--user",        "bob"};
    struct Row {
        const char* name;
        std::function<void(const TempDir&)> damage;
        std::vector<std::string> args;
        int exitCode;
        std::string outHas, errHas;
        size_t messagesAfter;      // --list-messages Work
        std::string accountsAfter; // --list-accounts, first column
        size_t damagedCopies;      // "*.damaged-*" files kept
    } rows[] = {
        {"damaged-message-box-keeps-the-whole-records",
         [](const TempDir& d) {
             StoreThree(d);
             SpoilSecondRecord(d);
         },
         {"--repair", "Work"},
         0,
         "was rebuilt from the 2 messages that were still whole",
         "",
         2,
         "Work\nHome\n",
         1},
        {"store-that-opens-is-left-alone",
         StoreThree,
         {"--repair", "Work"},
         0,
         "is not damaged; nothing was changed",
         "",
         3,
         "Work\nHome\n",
         0},
        {"truncated-account-list-lists-the-folders-again",
         [](const TempDir& d) {
             const std::string list = d.File("data/Account.cfg");
             std::filesystem::resize_file(list, 2048 + 192 + 100);
         },
         {"--repair", "Work"},
         0,
         "listed again: Home; no access password could be recovered for Home",
         "",
         0,
         "Work\nHome\n",
         1},
        {"unknown-account-is-refused",
         nullptr,
         {"--repair", "Nobody"},
         1,
         "",
         "there is no account folder",
         0,
         "Work\nHome\n",
         0},
        {"must-fail-without-a-name",
         nullptr,
         {"--repair"},
         2,
         "",
         "needs an account name",
         0,
         "Work\nHome\n",
         0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        ASSERT_EQ(RunPostwatch(dir, {kAddWork, "secret\n", 0, "", ""}).exitCode, 0);
        ASSERT_EQ(RunPostwatch(dir, {kAddHome, "pw\n", 0, "", ""}).exitCode, 0);
        if (r.damage)
            r.damage(dir);
        ProcessResult got = RunPostwatch(dir, {r.args, "", 0, "", ""});
        EXPECT_EQ(got.exitCode, r.exitCode) << got.out << got.err;
        EXPECT_NE(got.out.find(r.outHas), std::string::npos) << got.out;
        if (r.errHas.empty())
            EXPECT_EQ(got.err, "");
        else
            EXPECT_NE(got.err.find(r.errHas), std::string::npos) << got.err;

        ProcessResult messages = RunPostwatch(dir, {{"--list-messages", "Work"}, "", 0, "", ""});
        EXPECT_EQ(messages.exitCode, 0) << messages.err;
        EXPECT_EQ(static_cast<size_t>(std::count(messages.out.begin(), messages.out.end(), '\n')),
                  r.messagesAfter)
            << messages.out;
        ProcessResult accounts = RunPostwatch(dir, {{"--list-accounts"}, "", 0, "", ""});
        std::string names;
        for (size_t at = 0; at < accounts.out.size();) {
            const size_t tab = accounts.out.find('\t', at), end = accounts.out.find('\n', at);
            names += accounts.out.substr(at, tab - at) + "\n";
            at = end == std::string::npos ? accounts.out.size() : end + 1;
        }
        EXPECT_EQ(names, r.accountsAfter);
        EXPECT_EQ(FilesStartingWith(dir.File("data/Mail/Work"), "Message.box.damaged-") +
                      FilesStartingWith(dir.File("data"), "Account.cfg.damaged-"),
                  r.damagedCopies);
    }
}

// A check that cannot start says what is wrong with the account's files, not a guess.
TEST(HeadlessCommandLine, CheckNowSaysWhatIsMissing)
{
    struct Row {
        const char* name;
        std::function<void(const TempDir&)> damage;
        std::string summaryHas;
    } rows[] = {
        {"missing-account-inf",
         [](const TempDir& d) { std::filesystem::remove(d.File("data/Mail/Work/Account.inf")); },
         "Account.inf is missing"},
        {"empty-account-inf",
         [](const TempDir& d) { WriteWholeFile(d.File("data/Mail/Work/Account.inf"), ""); },
         "Account.inf is empty"},
        {"missing-folder",
         [](const TempDir& d) { std::filesystem::remove_all(d.File("data/Mail/Work")); },
         "the account folder "},
        {"unknown-kind",
         [](const TempDir& d) {
             AccountRecord record;
             record.name = "Work";
             const std::string path = d.File("data/Mail/Work/Account.inf");
             ASSERT_EQ(CAccountFile::ReadAccountFile(path, record), 1);
             record.mailType = "SMTP";
             ASSERT_EQ(CAccountFile::WriteAccountFile(path, record), 1);
         },
         "Work\t1\tunknown account kind \"SMTP\"\t0"},
        // Work's record keeps its name but loses its password copy.
        {"truncated-account-list",
         [](const TempDir& d) { std::filesystem::resize_file(d.File("data/Account.cfg"), 2148); },
         "Account.cfg is damaged: it was cut short"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        ASSERT_EQ(RunPostwatch(dir, {kAddWork, "secret\n", 0, "", ""}).exitCode, 0);
        r.damage(dir);
        ProcessResult got = RunPostwatch(dir, {{"--check-now", "Work"}, "", 1, "", ""});
        EXPECT_EQ(got.exitCode, 1) << got.out << got.err;
        EXPECT_NE((got.out + got.err).find(r.summaryHas), std::string::npos) << got.out << got.err;
        if (std::string(r.name) != "truncated-account-list")
            EXPECT_EQ(got.out.find("password does not match"), std::string::npos) << got.out;
    }
}

} // namespace
