// --check-now as the real program through the two plug-in libraries: web-mail accounts
// against the simulated HTTPMail service and the simulated page provider, an Exchange account
// over a Maildir that mail reaches by the delivery protocol. New mail is stored and printed like
// the other kinds' mail, a second check finds nothing new, and the Exchange account's watch ends
// with the program.
#include "fakehttpmailserver.h"
#include "portalpost/pageproviderprocess.h"
#include "programkey.h"
#include "registrykey.h"
#include "support/component.h"
#include "support/runprocess.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Field `index` of a tab-separated line.
std::string FieldOf(const std::string& line, size_t index)
{
    std::istringstream in(line);
    std::string field;
    for (size_t i = 0; i <= index && std::getline(in, field, '\t'); ++i) {
    }
    return field;
}

// What a row's account needs running while the program checks it.
struct Provider {
    std::unique_ptr<FakeHttpMailServer> httpMail;
    std::unique_ptr<PageProvider> pages;
};

struct KindRow {
    const char* name;
    // Starts what the account reaches; "" on success, else why it cannot run (skipped).
    std::function<std::string(const TempDir& dir, Provider& provider)> prepare;
    std::vector<std::string> add;      // the --add-account arguments after the name
    std::string password;              // standard input of --add-account
    std::vector<std::string> subjects; // of the new messages, sorted
};
POSTWATCH_ROW_PRINTS_NAME(KindRow)

void WriteSetting(const std::string& key, const std::string& name, const std::string& text)
{
    CRegistryKey k;
    ASSERT_EQ(k.CreateKey(RegistryRoot::CurrentUser, ProgramKey::Path(key)), 1);
    ASSERT_EQ(k.Open(RegistryRoot::CurrentUser, ProgramKey::Path(key)), 1);
    ASSERT_EQ(k.WriteString(name, text), 1);
}

std::string StartHttpMail(const TempDir& dir, Provider& provider)
{
    provider.httpMail = std::make_unique<FakeHttpMailServer>();
    std::string why;
    const char* config = R"({"user": "ann", "domain": "mail.test", "password": "s3cret",
      "folders": [
        {"name": "inbox", "special": "inbox", "messages": [
          {"id": "R1", "subject": "already read", "read": true},
          {"id": "M1", "subject": "Lunch", "from": "Bob <bob@example.org>", "size": 2048},
          {"id": "M2", "subject": "Plans", "from": "cat@example.org", "size": 10}]},
        {"name": "trash", "special": "deleteditems", "messages": []}]})";
    if (!provider.httpMail->Start(dir.Path(), config, &why))
        return MissingComponent("python3", why);
    WriteSetting("Portalpost\\Hotmail", "GatewayUrl", provider.httpMail->GatewayUrl());
    WriteSetting("Portalpost\\Hotmail", "MailDomain", "mail.test");
    WriteSetting("Portalpost\\Hotmail", "Namespace", "http://schemas.mail.test/hm/");
    return {};
}

std::string StartPageProvider(const TempDir& dir, Provider& provider)
{
    if (!std::filesystem::exists("/usr/bin/python3"))
        return MissingComponent("python3", "/usr/bin/python3 is not installed");
    WriteWholeFile(dir.File("scenario.json"),
                   R"({"user": "alice", "password": "secret", "challenge": "ch+1/=&x",
                       "layout": "row", "address": "@yahoo.com", "folders": [
                       {"name": "Inbox", "messages": [
                         {"id": "m1", "from": "Bob", "subject": "Lunch", "date": "Mon",
                          "size": "3k"},
                         {"id": "m2", "from": "Old", "subject": "already read", "date": "Mon",
                          "size": "1k", "read": true},
                         {"id": "m3", "from": "Cy", "subject": "Plans", "date": "Tue",
                          "size": "1k"}]}]})");
    provider.pages =
        std::make_unique<PageProvider>(dir.File("scenario.json"), dir.File("pages.jsonl"));
    if (!provider.pages->Running())
        return "the simulated page provider did not start";
    WriteSetting("Portalpost\\Yahoo", "EntryUrl",
                 "http://127.0.0.1:" + std::to_string(provider.pages->MailPort()) + "/");
    WriteSetting("Portalpost\\Yahoo", "LoginHost",
                 "127.0.0.1:" + std::to_string(provider.pages->LoginPort()));
    return {};
}

// The user's Maildir ($MAILDIR): one message read, two delivered and not yet seen.
std::string FillMaildir(const TempDir& dir, Provider&)
{
    const std::string maildir = dir.File("home/Maildir");
    for (const char* sub : {"cur", "new", "tmp"})
        std::filesystem::create_directories(maildir + "/" + sub);
    auto deliver = [&](const std::string& name, const std::string& subject, const char* folder) {
        const std::string tmp = maildir + "/tmp/" + name;
        WriteWholeFile(tmp, "From: Bob <bob@example.org>\r\nSubject: " + subject +
                                "\r\nDate: Mon, 7 Dec 2026 09:30:00 +0000\r\n\r\nHello\r\n");
        std::filesystem::rename(tmp, maildir + "/" + folder + "/" + name);
    };
    deliver("1700000000.M1P1.host", "Lunch", "new");
    deliver("1700000001.M2P1.host", "Plans", "new");
    deliver("1700000002.M3P1.host:2,S", "already read", "cur");
    return {};
}

const KindRow kKinds[] = {
    {"WebMailOverHttpMail",
     StartHttpMail,
     {"--kind", "Portalpost", "--category", "Hotmail", "--user", "ann"},
     "s3cret\n",
     {"Lunch", "Plans"}},
    {"WebMailOverPages",
     StartPageProvider,
     {"--kind", "Portalpost", "--category", "Yahoo", "--user", "alice"},
     "secret\n",
     {"Lunch", "Plans"}},
    {"ExchangeOverMaildir",
     FillMaildir,
     {"--kind", "Exchange", "--profile", "Local mail"},
     "",
     {"Lunch", "Plans"}},
};

class PlugInCheckNow : public ::testing::TestWithParam<KindRow>
{
protected:
    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "")
    {
        return RunProcess(POSTWATCH_BINARY, args, input,
                          {"POSTWATCH_HOME=" + dir_.File("data"),
                           "XDG_CONFIG_HOME=" + dir_.File("config"),
                           "XDG_DATA_HOME=" + dir_.File("share"), "HOME=" + dir_.File("home"),
                           "MAILDIR=" + dir_.File("home/Maildir")});
    }

    TempDir dir_;
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.File("config")};
};

TEST_P(PlugInCheckNow, StoresPrintsAndFindsNothingTheSecondTime)
{
    const KindRow& row = GetParam();
    Provider provider;
    if (const std::string why = row.prepare(dir_, provider); !why.empty())
        GTEST_SKIP() << why;

    std::vector<std::string> add = {"--add-account", "Acct"};
    add.insert(add.end(), row.add.begin(), row.add.end());
    ProcessResult added = Run(add, row.password);
    ASSERT_EQ(added.exitCode, 0) << added.err;

    ProcessResult first = Run({"--check-now", "Acct"});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    std::vector<std::string> subjects;
    std::vector<std::string> results;
    for (const std::string& line : Lines(first.out)) {
        if (std::count(line.begin(), line.end(), '\t') == 5) {
            EXPECT_EQ(FieldOf(line, 0), "Acct") << line;
            subjects.push_back(FieldOf(line, 2));
        } else {
            results.push_back(line);
        }
    }
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects, row.subjects);
    EXPECT_EQ(results,
              std::vector<std::string>{"Acct\t4\tdone\t" + std::to_string(row.subjects.size())});
    EXPECT_EQ(Lines(Run({"--list-messages", "Acct"}).out).size(), row.subjects.size());

    ProcessResult second = Run({"--check-now", "Acct"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, "Acct\t4\tdone\t0\n");
}

INSTANTIATE_TEST_SUITE_P(Table, PlugInCheckNow, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

// A web-mail check that fails says why in the library's words after the code's meaning, as a
// mail server's refusal does; the result line keeps the meaning scripts match, and neither
// names the password.
TEST(PlugInCheckNowWebMail, FailureSaysWhyInTheLibrarysWords)
{
    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", dir.File("config")};
    Provider provider;
    if (const std::string why = StartHttpMail(dir, provider); !why.empty())
        GTEST_SKIP() << why;
    auto run = [&](const std::vector<std::string>& args, const std::string& input = "") {
        return RunProcess(POSTWATCH_BINARY, args, input,
                          {"POSTWATCH_HOME=" + dir.File("data"),
                           "XDG_CONFIG_HOME=" + dir.File("config"), "HOME=" + dir.File("home")});
    };
    ASSERT_EQ(run({"--add-account", "Acct", "--kind", "Portalpost", "--category", "Hotmail",
                   "--user", "ann"},
                  "wrongpass\n")
                  .exitCode,
              0);
    const ProcessResult failed = run({"--check-now", "Acct"});
    EXPECT_EQ(failed.exitCode, 1) << failed.err;
    EXPECT_EQ(failed.out, "Acct\t2\tlogin refused\t0\n");
    EXPECT_EQ(failed.err, "postwatch: Acct: login refused: " + provider.httpMail->GatewayUrl() +
                              ": the server refused the log-in 3 times\n");
    EXPECT_EQ(failed.err.find("wrongpass"), std::string::npos);
}

// The plug-in watches one local mailbox at a time: of two Exchange accounts asked for at
// once, the one not logged on is reported as not checked, never as done.
TEST(PlugInCheckNowExchange, SecondLocalMailboxIsNotCheckedAndSaysWhy)
{
    TempDir dir;
    Provider unused;
    ASSERT_EQ(FillMaildir(dir, unused), "");
    auto run = [&](const std::vector<std::string>& args) {
        return RunProcess(POSTWATCH_BINARY, args, "",
                          {"POSTWATCH_HOME=" + dir.File("data"),
                           "XDG_CONFIG_HOME=" + dir.File("config"), "HOME=" + dir.File("home"),
                           "MAILDIR=" + dir.File("home/Maildir")});
    };
    for (const char* name : {"One", "Two"})
        ASSERT_EQ(
            run({"--add-account", name, "--kind", "Exchange", "--profile", "Local mail"}).exitCode,
            0);
    ProcessResult both = run({"--check-now", "One", "Two"});
    EXPECT_EQ(both.exitCode, 1) << both.err;
    int done = 0;
    for (const std::string& line : Lines(both.out))
        done += line.find("\t4\tdone\t2") != std::string::npos;
    EXPECT_EQ(done, 1) << both.out;
    EXPECT_NE(both.err.find("not checked: another local mailbox is logged on"), std::string::npos)
        << both.err;
}

} // namespace
