#include "accountlist.h"
#include "accountmanager.h"
#include "accounttestutil.h"
#include "apppaths.h"
#include "newaccount.h"
#include "support/tempdir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace accounttest;

namespace
{

namespace fs = std::filesystem;
using Category = NewAccountResult::Category;

// Account.inf of a new account, from the documented line order and the kind's defaults.
std::string ExpectedInf(const std::string& name, const std::string& kind, const std::string& server,
                        const std::string& port, const std::string& priview,
                        const std::string& security)
{
    std::string out = "[" + name + "]\r\nMailType=" + kind +
                      "\r\nUserName=alice\r\nServer=" + server + "\r\nPort=" + port +
                      "\r\nPeriodCheck=No\r\nPeriod=15\r\nSpecifiedTimeCheck=No\r\n"
                      "SpecifiedTime=09:00\r\nPriview=" +
                      priview + "\r\n";
    if (!security.empty())
        out += "Security=" + security + "\r\n";
    return out + "Password=" + Protected("pw", kAccountInfContainer, kAccountInfPass) + "\r\n";
}

TEST(NewAccount, WritesTheFilesOfEachKind)
{
    struct Row {
        const char* name;
        NewAccountRequest request;
        std::string inf;
        int usable;
        bool offerDefault;
    } rows[] = {
        {"pop3",
         {"Work", "POP3", "mail.example.org", "alice", "pw", std::nullopt, ""},
         ExpectedInf("Work", "POP3", "mail.example.org", "110", "99", ""),
         1,
         false},
        {"pop3-starttls",
         {"Work", "POP3", "mail.example.org", "alice", "pw", std::nullopt, "STARTTLS"},
         ExpectedInf("Work", "POP3", "mail.example.org", "110", "99", "STARTTLS"),
         1,
         false},
        {"imap4-tls-port",
         {"Box", "IMAP4", "imap.example.org", "alice", "pw", "993", "TLS"},
         ExpectedInf("Box", "IMAP4", "imap.example.org", "993", "2", "TLS"),
         1,
         false},
        {"pop3-tls-default-port",
         {"Work", "POP3", "mail.example.org", "alice", "pw", std::nullopt, "TLS"},
         ExpectedInf("Work", "POP3", "mail.example.org", "995", "99", "TLS"),
         1,
         false},
        {"imap4-tls-default-port",
         {"Box", "IMAP4", "imap.example.org", "alice", "pw", std::nullopt, "TLS"},
         ExpectedInf("Box", "IMAP4", "imap.example.org", "993", "2", "TLS"),
         1,
         false},
        {"webmail",
         {"Web", "Portalpost", "Yahoo", "alice", "pw", std::nullopt, ""},
         ExpectedInf("Web", "Portalpost", "Yahoo", "", "", ""),
         1,
         false},
        {"exchange",
         {"Ex", "Exchange(MAPI)", "Outlook", "alice", "pw", std::nullopt, ""},
         ExpectedInf("Ex", "Exchange(MAPI)", "Outlook", "", "2", ""),
         0,
         true},
        {"trimmed-name",
         {"  Work  ", "POP3", "h", "alice", "pw", std::nullopt, ""},
         ExpectedInf("Work", "POP3", "h", "110", "99", ""),
         1,
         false},
    };
    for (const auto& r : rows) {
        TempDir home;
        ScopedEnv env("POSTWATCH_HOME", home.Path());
        CAccountManager m;
        NewAccountResult result = CreateNewAccount(r.request, &m);
        ASSERT_TRUE(result.Ok()) << r.name << ": " << result.message;
        EXPECT_EQ(result.offerAsDefaultExchange, r.offerDefault) << r.name;
        std::string name = r.request.name == "  Work  " ? "Work" : r.request.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile(name)), r.inf) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountListFile()),
                  CfgHeader(1) + CfgRecord(name, "", "pw"))
            << r.name;
        struct stat st {
        };
        ASSERT_EQ(::stat(AppPaths::AccountDir(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << r.name;
        auto table = m.Snapshot();
        ASSERT_EQ(table.size(), 1u) << r.name;
        EXPECT_EQ(table[0].name, name);
        EXPECT_TRUE(table[0].IsIdle()) << r.name;
        EXPECT_EQ(table[0].usable, r.usable) << r.name;
    }
}

TEST(NewAccount, RefusalsCreateNothing)
{
    struct Row {
        const char* name;
        NewAccountRequest request;
        Category category;
    } rows[] = {
        {"unknown-kind", {"New", "SMTP", "h", "u", "pw", std::nullopt, ""}, Category::UnknownKind},
        {"kind-is-case-sensitive",
         {"New", "pop3", "h", "u", "pw", std::nullopt, ""},
         Category::UnknownKind},
        {"colon-in-name", {"a:b", "POP3", "h", "u", "pw", std::nullopt, ""}, Category::InvalidName},
        {"blank-name", {"  ", "POP3", "h", "u", "pw", std::nullopt, ""}, Category::InvalidName},
        {"dot-dot", {"..", "POP3", "h", "u", "pw", std::nullopt, ""}, Category::InvalidName},
        {"name-over-60",
         {std::string(61, 'n'), "POP3", "h", "u", "pw", std::nullopt, ""},
         Category::InvalidName},
        {"taken-other-case",
         {"OLD", "IMAP4", "h", "u", "pw", std::nullopt, ""},
         Category::NameTaken},
        {"crlf-in-server",
         {"New", "POP3", "h\r\nPort=1", "u", "pw", std::nullopt, ""},
         Category::InvalidValue},
        {"lf-in-user", {"New", "POP3", "h", "u\n", "pw", std::nullopt, ""}, Category::InvalidValue},
        {"bad-security",
         {"New", "POP3", "h", "u", "pw", std::nullopt, "SSL"},
         Category::InvalidValue},
        {"password-over-60",
         {"New", "POP3", "h", "u", std::string(61, 'p'), std::nullopt, ""},
         Category::InvalidValue},
    };
    for (bool withTable : {true, false}) {
        for (const auto& r : rows) {
            TempDir home;
            ScopedEnv env("POSTWATCH_HOME", home.Path());
            CAccountManager m;
            ASSERT_TRUE(
                CreateNewAccount({"Old", "POP3", "h", "u", "pw", std::nullopt, ""}, &m).Ok());
            const std::string before = ReadWholeFile(AppPaths::AccountListFile());
            NewAccountResult result = CreateNewAccount(r.request, withTable ? &m : nullptr);
            EXPECT_EQ(result.category, r.category) << r.name;
            EXPECT_FALSE(result.message.empty()) << r.name;
            EXPECT_EQ(ReadWholeFile(AppPaths::AccountListFile()), before) << r.name;
            EXPECT_FALSE(fs::exists(AppPaths::AccountDir("New"))) << r.name;
            EXPECT_EQ(m.Snapshot().size(), 1u) << r.name;
        }
    }
}

TEST(NewAccount, WriteFailuresLeaveNoAccount)
{
    struct Row {
        const char* name;
        void (*spoil)();
    } rows[] = {
        // A file where the mail folder should be: the account folder cannot be made.
        {"mail-folder-is-a-file", [] { WriteWholeFile(AppPaths::MailDir(), "not a folder"); }},
        // A folder where the list should be: the append fails after Account.inf was written.
        {"list-is-a-folder", [] { fs::create_directories(AppPaths::AccountListFile()); }},
    };
    for (const auto& r : rows) {
        TempDir home;
        ScopedEnv env("POSTWATCH_HOME", home.Path());
        r.spoil();
        CAccountManager m;
        NewAccountResult result =
            CreateNewAccount({"New", "POP3", "h", "u", "pw", std::nullopt, ""}, &m);
        EXPECT_EQ(result.category, Category::WriteFailed) << r.name;
        EXPECT_FALSE(result.message.empty()) << r.name;
        EXPECT_FALSE(fs::exists(AppPaths::AccountFile("New"))) << r.name;
        EXPECT_TRUE(m.Snapshot().empty()) << r.name;
    }
}

} // namespace
