#include "accountfile.h"
#include "accountlist.h"
#include "accountpropertiesdlg.h"
#include "apppaths.h"
#include "dialogtestsupport.h"
#include "support/filefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimeEdit>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;

std::string Inf(const std::string& name)
{
    return ExpectedInf(name, "POP3", "alice", "mail.example.org", "110", "99", "", "pw");
}

std::vector<AccountListRecord> ListFile()
{
    std::vector<AccountListRecord> records;
    CAccountList(AppPaths::AccountListFile()).Load(records);
    return records;
}

void MakeBusy(CAccountManager& table, const std::string& name)
{
    table.WithTable([&](std::vector<AccountEntry>& rows) {
        for (auto& row : rows)
            if (row.name == name) {
                row.checkState = CheckState::Busy;
            }
        return 0;
    });
}

TEST(AccountProperties, RenameNowOrDeferredWhileBusy)
{
    struct Row {
        const char* name;
        bool busy;
        int result;
        const char* tableName; // the row's name after OK
        const char* folder;    // where Account.inf is
        bool pending;
    } rows[] = {
        {"idle-renames-now", false, CAccountManager::kRenamedNow, "New", "New", false},
        {"busy-is-deferred", true, CAccountManager::kRenameDeferred, "Work", "Work", true},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        ASSERT_TRUE(MakeAccount(table)) << r.name;
        if (r.busy)
            MakeBusy(table, "Work");
        CAccountPropertiesDlg dlg(&table, "Work");
        ASSERT_TRUE(dlg.Loaded()) << r.name;
        dlg.NameEdit()->setText(QStringLiteral("New"));
        dlg.accept();
        ASSERT_EQ(dlg.result(), QDialog::Accepted) << r.name;
        EXPECT_EQ(dlg.RenameResult(), r.result) << r.name;
        EXPECT_EQ(dlg.NewName(), "New") << r.name;
        EXPECT_EQ(table.Snapshot().at(0).name, r.tableName) << r.name;
        // The file keeps the new name in its section line in both cases.
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile(r.folder)), Inf("New")) << r.name;
        EXPECT_EQ(ListFile().at(0).name, "New") << r.name;
        EXPECT_EQ(table.PendingRenames().size(), r.pending ? 1u : 0u) << r.name;
        if (r.pending) {
            EXPECT_FALSE(fs::exists(AppPaths::AccountDir("New"))) << r.name;
            // The check ends: the folder follows.
            EXPECT_EQ(table.ApplyPendingRename("Work"), "New");
            EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("New")), Inf("New")) << r.name;
        }
        EXPECT_TRUE(sandbox.dialogue->calls.empty()) << r.name;
    }
}

TEST(AccountProperties, RenamingAPendingNameRedirectsThePair)
{
    UiSandbox sandbox;
    CAccountManager table;
    ASSERT_TRUE(MakeAccount(table));
    MakeBusy(table, "Work");
    {
        CAccountPropertiesDlg first(&table, "Work");
        first.NameEdit()->setText(QStringLiteral("New"));
        first.accept();
        ASSERT_EQ(first.result(), QDialog::Accepted);
    }
    struct Row {
        const char* name;
        const char* from;
        const char* to;
        size_t pending;
    } rows[] = {
        {"redirect", "New", "Newer", 1u},
        {"back-to-the-old-name", "Newer", "Work", 0u},
    };
    for (const auto& r : rows) {
        CAccountPropertiesDlg dlg(&table, r.from);
        ASSERT_TRUE(dlg.Loaded()) << r.name; // read from the pair's old folder
        dlg.NameEdit()->setText(QString::fromUtf8(r.to));
        dlg.accept();
        ASSERT_EQ(dlg.result(), QDialog::Accepted) << r.name;
        EXPECT_EQ(dlg.RenameResult(), CAccountManager::kRenameRedirected) << r.name;
        EXPECT_EQ(table.PendingRenames().size(), r.pending) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("Work")), Inf(r.to)) << r.name;
        EXPECT_EQ(ListFile().at(0).name, r.to) << r.name;
    }
}

TEST(AccountProperties, ALaterStepThatFailsTakesTheRenameBack)
{
    // Account.cfg of one account is 2240 bytes; a server name this long makes Account.inf
    // the larger file, so a limit between the two fails the Account.inf rewrite alone.
    const std::string longServer(3000, 's');
    struct Row {
        const char* name;
        rlim_t limit;
        std::string server;
    } rows[] = {
        {"account-cfg-update-fails", 1000, "mail.example.org"},
        {"account-inf-write-fails", 2600, longServer},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        ASSERT_TRUE(MakeAccount(table)) << r.name;
        const std::string cfgBefore = ReadWholeFile(AppPaths::AccountListFile());
        CAccountPropertiesDlg dlg(&table, "Work");
        dlg.NameEdit()->setText(QStringLiteral("New"));
        dlg.ServerEdit()->setText(QString::fromStdString(r.server));
        WithFileSizeLimit(r.limit, [&] {
            dlg.accept();
            return 0;
        });
        EXPECT_NE(dlg.result(), QDialog::Accepted) << r.name;
        EXPECT_EQ(sandbox.dialogue->calls.size(), 1u) << r.name;
        // Whole under the old name: row, folder, Account.inf and Account.cfg agree.
        EXPECT_EQ(table.Snapshot().at(0).name, "Work") << r.name;
        EXPECT_TRUE(table.PendingRenames().empty()) << r.name;
        EXPECT_FALSE(fs::exists(AppPaths::AccountDir("New"))) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("Work")), Inf("Work")) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountListFile()), cfgBefore) << r.name;
        // With room again, a second OK finishes the rename.
        dlg.accept();
        EXPECT_EQ(dlg.result(), QDialog::Accepted) << r.name;
        if (dlg.result() != QDialog::Accepted)
            continue;
        EXPECT_EQ(dlg.RenameResult(), CAccountManager::kRenamedNow) << r.name;
        EXPECT_EQ(table.Snapshot().at(0).name, "New") << r.name;
        EXPECT_FALSE(fs::exists(AppPaths::AccountDir("Work"))) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("New")),
                  ExpectedInf("New", "POP3", "alice", r.server, "110", "99", "", "pw"))
            << r.name;
        EXPECT_EQ(ListFile().at(0).name, "New") << r.name;
    }
}

TEST(AccountProperties, RefusalsChangeNothing)
{
    struct Row {
        const char* name;
        QString newName;
        QString password;
        const char* message;
    } rows[] = {
        {"taken", QStringLiteral("OTHER"), QStringLiteral("pw"),
         "An account with this name already exists. Please choose another name."},
        {"colon", QStringLiteral("a:b"), QStringLiteral("pw"),
         "An account name cannot contain any of these characters:\n\\ / : * ? \" < > |"},
        {"blank", QStringLiteral("  "), QStringLiteral("pw"),
         "Please enter a name for the account."},
        {"password-over-60-bytes", QStringLiteral("Work"), QString(60, QChar(0xe4)),
         "The account could not be saved: a name or password is longer than 60 bytes"},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        ASSERT_TRUE(MakeAccount(table));
        ASSERT_TRUE(MakeAccount(table, "Other"));
        const std::string cfgBefore = ReadWholeFile(AppPaths::AccountListFile());
        CAccountPropertiesDlg dlg(&table, "Work");
        dlg.NameEdit()->setText(r.newName);
        dlg.PasswordEdit()->setText(r.password);
        dlg.ServerEdit()->setText(QStringLiteral("changed.example.org"));
        dlg.accept();
        EXPECT_NE(dlg.result(), QDialog::Accepted) << r.name;
        ASSERT_EQ(sandbox.dialogue->calls.size(), 1u) << r.name;
        EXPECT_EQ(sandbox.dialogue->calls[0].text, r.message) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("Work")), Inf("Work")) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountListFile()), cfgBefore) << r.name;
        EXPECT_EQ(table.Snapshot().at(0).name, "Work") << r.name;
    }
}

TEST(AccountProperties, FieldsAndScheduleAreApplied)
{
    struct Row {
        const char* name;
        std::function<void(CAccountPropertiesDlg&)> edit;
        std::string inf;
        int periodMinutes;
        int specifiedSeconds;
    } rows[] = {
        {"untouched-keeps-bytes", [](CAccountPropertiesDlg&) {}, Inf("Work"), -1, -1},
        // POP3 has no push and no read state on the server: greyed out, never written.
        {"pop3-push-greyed-out",
         [](CAccountPropertiesDlg& d) {
             ASSERT_NE(d.PushBox(), nullptr);
             EXPECT_FALSE(d.PushBox()->isEnabled());
             EXPECT_FALSE(d.MarkReadBox()->isEnabled());
             d.PushBox()->setChecked(true);
             d.MarkReadBox()->setChecked(true);
         },
         Inf("Work"), -1, -1},
        {"period-on",
         [](CAccountPropertiesDlg& d) {
             d.PeriodCheck()->setChecked(true);
             d.Period()->setValue(5);
         },
         ExpectedInf("Work", "POP3", "alice", "mail.example.org", "110", "99", "", "pw",
                     "PeriodCheck=Yes\r\nPeriod=5\r\nSpecifiedTimeCheck=No\r\n"
                     "SpecifiedTime=09:00\r\n"),
         5, -1},
        {"daily-on",
         [](CAccountPropertiesDlg& d) {
             d.DailyCheck()->setChecked(true);
             d.DailyTime()->setTime(QTime(7, 30));
         },
         ExpectedInf("Work", "POP3", "alice", "mail.example.org", "110", "99", "", "pw",
                     "PeriodCheck=No\r\nPeriod=15\r\nSpecifiedTimeCheck=Yes\r\n"
                     "SpecifiedTime=07:30\r\n"),
         -1, 7 * 3600 + 30 * 60},
        {"server-security-port-preview",
         [](CAccountPropertiesDlg& d) {
             d.ServerEdit()->setText(QStringLiteral("pop.example.net"));
             d.SecurityList()->setCurrentIndex(0);
             d.PortEdit()->setText(QStringLiteral("995"));
             d.Preview()->setValue(10);
             d.UserEdit()->setText(QStringLiteral("bob"));
             d.PasswordEdit()->setText(QStringLiteral("new"));
         },
         ExpectedInf("Work", "POP3", "bob", "pop.example.net", "995", "10", "TLS", "new"), -1, -1},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        ASSERT_TRUE(MakeAccount(table));
        CAccountPropertiesDlg dlg(&table, "Work");
        r.edit(dlg);
        dlg.accept();
        ASSERT_EQ(dlg.result(), QDialog::Accepted) << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("Work")), r.inf) << r.name;
        EXPECT_EQ(table.Snapshot().at(0).periodMinutes, r.periodMinutes) << r.name;
        EXPECT_EQ(table.Snapshot().at(0).specifiedSeconds, r.specifiedSeconds) << r.name;
        EXPECT_EQ(ListFile().at(0).passwordCopy, dlg.PasswordEdit()->text().toStdString())
            << r.name;
    }
}

// An OAuth 2.0 account's refresh token is longer than a password may be: the dialog neither
// shows it nor cuts it, and the list keeps an empty copy.
TEST(AccountProperties, OAuthSignInKeepsItsRefreshToken)
{
    UiSandbox sandbox;
    CAccountManager table;
    NewAccountRequest request{"Work", "POP3", "mail.example.org", "alice", "", std::nullopt, ""};
    request.signIn = kSignInOAuth2;
    ASSERT_TRUE(CreateNewAccount(request, &table).Ok());
    AccountRecord record;
    record.name = "Work";
    ASSERT_EQ(CAccountFile::ReadAccountFile(AppPaths::AccountFile("Work"), record), 1);
    const std::string token(120, 'r');
    record.password = token;
    ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile("Work"), record), 1);

    CAccountPropertiesDlg dlg(&table, "Work");
    EXPECT_FALSE(dlg.PasswordEdit()->isEnabled());
    EXPECT_TRUE(dlg.PasswordEdit()->text().isEmpty());
    dlg.ServerEdit()->setText(QStringLiteral("pop.example.net"));
    dlg.accept();
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    AccountRecord back;
    back.name = "Work";
    ASSERT_EQ(CAccountFile::ReadAccountFile(AppPaths::AccountFile("Work"), back), 1);
    EXPECT_EQ(back.server, "pop.example.net");
    EXPECT_EQ(back.signIn, kSignInOAuth2);
    EXPECT_EQ(back.password, token);
    EXPECT_EQ(ListFile().at(0).passwordCopy, "");
}

TEST(AccountProperties, AccessPasswordGoesToTheListAndTheTable)
{
    struct Row {
        const char* name;
        const char* before;
        const char* set;
        int has;
    } rows[] = {{"set", "", "key", 1}, {"clear", "old", "", 0}, {"change", "old", "new", 1}};
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        ASSERT_TRUE(MakeAccount(table));
        std::string before = r.before;
        CAccountList(AppPaths::AccountListFile()).Update("Work", nullptr, &before, nullptr);
        table.SetAccessPassword("Work", r.before);
        CAccountPropertiesDlg dlg(&table, "Work");
        dlg.SetAccessPassword(r.set);
        dlg.accept();
        ASSERT_EQ(dlg.result(), QDialog::Accepted) << r.name;
        EXPECT_EQ(ListFile().at(0).accessPassword, r.set) << r.name;
        EXPECT_EQ(table.HasAccessPassword("Work"), r.has) << r.name;
    }
}

} // namespace
