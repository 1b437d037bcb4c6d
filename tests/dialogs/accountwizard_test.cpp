#include "accountlist.h"
#include "accountwizard.h"
#include "apppaths.h"
#include "connectiontester.h"
#include "dialogtestsupport.h"
#include "passcipher.h"
#include "regsettings.h"
#include "scriptedserver.h"
#include "wizardstep2exchange.h"
#include "wizardstep2imap4.h"
#include "wizardstep2pop3.h"
#include "wizardstep2portalpost.h"
#include "wizardstep3finish.h"
#include "wizardtestsupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <gtest/gtest.h>

namespace
{

TEST(AccountWizard, Step1NameRulesAndThePageOfEachKind)
{
    struct Row {
        const char* name;
        const char* accountName;
        const char* kind;
        int page; // -1: stays on step 1
        const char* message;
    } rows[] = {
        {"pop3", "Home", "POP3", CAccountWizard::kStepPop3, ""},
        {"imap4", "Home", "IMAP4", CAccountWizard::kStepImap4, ""},
        {"portalpost", "Home", "Portalpost", CAccountWizard::kStepPortalpost, ""},
        {"exchange", "Home", "Exchange(MAPI)", CAccountWizard::kStepExchange, ""},
        {"empty-name", "", "POP3", -1, "Please enter a name for the account."},
        {"blank-name", "   ", "POP3", -1, "Please enter a name for the account."},
        {"colon", "a:b", "POP3", -1,
         "An account name cannot contain any of these characters:\n\\ / : * ? \" < > |"},
        {"taken-other-case", "WORK", "IMAP4", -1,
         "An account with this name already exists. Please choose another name."},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        ASSERT_TRUE(MakeAccount(table));
        CAccountWizard wizard(&table, nullptr);
        wizard.show();
        EXPECT_EQ(wizard.currentId(), CAccountWizard::kStep1) << r.name;
        EXPECT_FALSE(wizard.button(QWizard::BackButton)->isEnabled()) << r.name;
        const bool moved = PassStep1(wizard, r.accountName, r.kind);
        EXPECT_EQ(moved, r.page >= 0) << r.name;
        EXPECT_EQ(wizard.currentId(), r.page >= 0 ? r.page : CAccountWizard::kStep1) << r.name;
        if (*r.message) {
            ASSERT_EQ(sandbox.dialogue->calls.size(), 1u) << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].text, r.message) << r.name;
        } else {
            EXPECT_TRUE(sandbox.dialogue->calls.empty()) << r.name;
            EXPECT_TRUE(wizard.button(QWizard::BackButton)->isEnabled()) << r.name;
        }
    }
}

TEST(AccountWizard, Step2ChecksReportTheFirstFailure)
{
    static const char kPasswordRefused[] =
        "The password cannot contain a line break or a zero byte: a mail server could never "
        "receive it. Please type it again.";
    struct Row {
        const char* name;
        const char* kind;
        const char* server; // POP3/IMAP4 only
        const char* user;
        const char* password;
        bool mapi;
        const char* message; // empty: reaches step 3
        const char* caption;
    } rows[] = {
        {"pop3-all-empty", "POP3", "", "", "", false, "Please enter the POP3 server name.",
         "New Account"},
        {"pop3-blank-server", "POP3", "  ", "u", "p", false, "Please enter the POP3 server name.",
         "New Account"},
        {"imap4-no-server", "IMAP4", "", "u", "p", false, "Please enter the IMAP4 server name.",
         "New Account"},
        {"pop3-no-user", "POP3", "h", "", "", false, "Please enter the user name.", "New Account"},
        {"imap4-no-password", "IMAP4", "h", "u", "", false, "Please enter the password.",
         "New Account"},
        {"pop3-complete", "POP3", "h", "u", "p", false, "", ""},
        {"portalpost-needs-no-server", "Portalpost", "", "u", "p", false, "", ""},
        {"portalpost-no-user", "Portalpost", "", "", "p", false, "Please enter the user name.",
         "New Account"},
        {"portalpost-no-password", "Portalpost", "", "u", "", false, "Please enter the password.",
         "New Account"},
        {"pop3-password-with-a-line-break", "POP3", "h", "u", "a\rb", false, kPasswordRefused,
         "New Account"},
        {"portalpost-password-with-a-line-feed", "Portalpost", "", "u", "a\nb", false,
         kPasswordRefused, "New Account"},
        {"exchange-without-provider", "Exchange(MAPI)", "", "", "", false,
         "Please choose an Exchange profile.", "New Account Wizard"},
        {"exchange-with-profile", "Exchange(MAPI)", "", "", "", true, "", ""},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        std::shared_ptr<const AccountPlugins> plugins;
        if (r.mapi)
            plugins = std::make_shared<ExchangePlugins>();
        CAccountWizard wizard(&table, plugins);
        wizard.show();
        ASSERT_TRUE(PassStep1(wizard, "New", r.kind)) << r.name;
        const std::string kind = r.kind;
        if (kind == "POP3" || kind == "IMAP4") {
            FillServer(kind == "POP3" ? static_cast<CWizardStep2Server*>(wizard.Pop3Page())
                                      : wizard.Imap4Page(),
                       r.server, r.user, r.password);
        } else if (kind == "Portalpost") {
            wizard.PortalpostPage()->UserEdit()->setText(QString::fromUtf8(r.user));
            wizard.PortalpostPage()->PasswordEdit()->setText(QString::fromUtf8(r.password));
        }
        wizard.next();
        if (*r.message) {
            EXPECT_NE(wizard.currentId(), CAccountWizard::kStep3) << r.name;
            ASSERT_EQ(sandbox.dialogue->calls.size(), 1u) << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].text, r.message) << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].caption, r.caption) << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].icon, kDialogueIconExclamation) << r.name;
        } else {
            EXPECT_EQ(wizard.currentId(), CAccountWizard::kStep3) << r.name;
            EXPECT_TRUE(sandbox.dialogue->calls.empty()) << r.name;
        }
    }
}

TEST(AccountWizard, BackKeepsWhatWasTypedAndChecksOnlyOnNext)
{
    UiSandbox sandbox;
    CAccountManager table;
    CAccountWizard wizard(&table, nullptr);
    wizard.show();
    ASSERT_TRUE(PassStep1(wizard, "New", "POP3"));
    // Incomplete entries: Back must not complain about them.
    FillServer(wizard.Pop3Page(), "pop.example.org", "", "");
    wizard.back();
    EXPECT_EQ(wizard.currentId(), CAccountWizard::kStep1);
    EXPECT_TRUE(sandbox.dialogue->calls.empty());
    EXPECT_FALSE(wizard.button(QWizard::BackButton)->isEnabled());
    EXPECT_EQ(wizard.Step1()->NameEdit()->text(), QStringLiteral("New"));
    ASSERT_TRUE(PassStep1(wizard, "New", "POP3"));
    EXPECT_EQ(wizard.Pop3Page()->ServerEdit()->text(), QStringLiteral("pop.example.org"));
    wizard.next();
    EXPECT_EQ(sandbox.dialogue->calls.size(), 1u); // the user name is now checked
    FillServer(wizard.Pop3Page(), "pop.example.org", "ann", "pw");
    wizard.next();
    ASSERT_EQ(wizard.currentId(), CAccountWizard::kStep3);
    EXPECT_TRUE(wizard.button(QWizard::FinishButton)->isVisible());
    EXPECT_FALSE(wizard.button(QWizard::NextButton)->isEnabled() &&
                 wizard.button(QWizard::NextButton)->isVisible());
    wizard.back();
    EXPECT_EQ(wizard.currentId(), CAccountWizard::kStepPop3);
    EXPECT_EQ(wizard.Pop3Page()->PasswordEdit()->text(), QStringLiteral("pw"));
    // Changing the kind on the way back leads to the other kind's page.
    wizard.back();
    ASSERT_TRUE(PassStep1(wizard, "New", "IMAP4"));
    EXPECT_EQ(wizard.currentId(), CAccountWizard::kStepImap4);
}

TEST(AccountWizard, SecuritySetsTheStandardPortUnlessOneWasTyped)
{
    struct Row {
        const char* name;
        bool imap;
        const char* typedPort; // nullptr: leave the field as the security set it
        int security;          // 0 TLS, 1 STARTTLS, 2 None
        const char* port;
        const char* word;
    } rows[] = {
        {"pop3-tls", false, nullptr, 0, "995", "TLS"},
        {"pop3-starttls", false, nullptr, 1, "110", "STARTTLS"},
        {"pop3-none", false, nullptr, 2, "110", "None"},
        {"imap4-tls", true, nullptr, 0, "993", "TLS"},
        {"imap4-none", true, nullptr, 2, "143", "None"},
        {"typed-port-kept", false, "2110", 0, "2110", "TLS"},
        {"cleared-port-is-standard", true, "", 1, "143", "STARTTLS"},
        {"zero-port-is-standard", false, "0", 0, "995", "TLS"},
    };
    for (const auto& r : rows) {
        CWizardStep2Server page(r.imap ? "IMAP4" : "POP3");
        if (r.typedPort)
            page.PortEdit()->setText(QString::fromUtf8(r.typedPort));
        page.SecurityList()->setCurrentIndex(r.security);
        EXPECT_EQ(page.Port(), r.port) << r.name;
        EXPECT_EQ(page.Security(), r.word) << r.name;
    }
}

// The schedule lines of Account.inf: the periodic check as the last page set it.
std::string Schedule(const char* periodCheck, int period)
{
    return std::string("PeriodCheck=") + periodCheck + "\r\nPeriod=" + std::to_string(period) +
           "\r\nSpecifiedTimeCheck=No\r\nSpecifiedTime=09:00\r\n";
}

TEST(AccountWizard, FinishWritesTheAccountOfEachKind)
{
    struct Row {
        const char* name;
        const char* kind;
        int security; // POP3/IMAP4: 0 TLS, 1 STARTTLS, 2 None
        int period;   // 0: untick the periodic check; else the minutes typed on the last page
        bool fromNow; // "only mail that arrives from now on" picked on the last page
        std::string inf;
        bool marker; // the FromNow marker is written
    } rows[] = {
        {"pop3-tls-defaults", "POP3", 0, 15, false,
         ExpectedInf("New", "POP3", "ann", "mail.example.org", "995", "99", "TLS", "pw",
                     Schedule("Yes", 15)),
         false},
        {"imap4-starttls-30-from-now", "IMAP4", 1, 30, true,
         ExpectedInf("New", "IMAP4", "ann", "mail.example.org", "143", "2", "STARTTLS", "pw",
                     Schedule("Yes", 30)),
         true},
        {"pop3-none-unscheduled-from-now", "POP3", 2, 0, true,
         ExpectedInf("New", "POP3", "ann", "mail.example.org", "110", "99", "None", "pw",
                     Schedule("No", 15)),
         true},
        {"portalpost", "Portalpost", 0, 15, false,
         ExpectedInf("New", "Portalpost", "ann", "Yahoo", "", "", "", "pw", Schedule("Yes", 15)),
         false},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        CAccountWizard wizard(&table, nullptr);
        wizard.show();
        ASSERT_TRUE(PassStep1(wizard, "New", r.kind)) << r.name;
        const std::string kind = r.kind;
        if (kind == "Portalpost") {
            wizard.PortalpostPage()->UserEdit()->setText(QStringLiteral("ann"));
            wizard.PortalpostPage()->PasswordEdit()->setText(QStringLiteral("pw"));
        } else {
            CWizardStep2Server* page = kind == "POP3"
                                           ? static_cast<CWizardStep2Server*>(wizard.Pop3Page())
                                           : wizard.Imap4Page();
            page->SecurityList()->setCurrentIndex(r.security);
            FillServer(page, "mail.example.org", "ann", "pw");
        }
        wizard.next();
        ASSERT_EQ(wizard.currentId(), CAccountWizard::kStep3) << r.name;
        // Nothing is written before Finish.
        EXPECT_FALSE(std::filesystem::exists(AppPaths::AccountListFile())) << r.name;
        CWizardStep3Finish* last = wizard.FinishPage();
        last->PeriodBox()->setChecked(r.period != 0);
        if (r.period != 0)
            last->PeriodSpin()->setValue(r.period);
        (r.fromNow ? last->FromNowButton() : last->ShowExistingButton())->click();
        wizard.accept();
        EXPECT_EQ(wizard.result(), QDialog::Accepted) << r.name;
        EXPECT_EQ(wizard.CreatedName(), "New") << r.name;
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("New")), r.inf) << r.name;
        EXPECT_EQ(std::filesystem::exists(AppPaths::FromNowFile("New")), r.marker) << r.name;
        std::vector<AccountListRecord> list;
        ASSERT_EQ(CAccountList(AppPaths::AccountListFile()).Load(list), 1) << r.name;
        ASSERT_EQ(list.size(), 1u) << r.name;
        EXPECT_EQ(list[0].name, "New") << r.name;
        EXPECT_EQ(list[0].passwordCopy, "pw") << r.name;
        ASSERT_EQ(table.Snapshot().size(), 1u) << r.name;
    }
}

TEST(AccountWizard, FinishRefusedWhenTheNameWasTakenMeanwhile)
{
    UiSandbox sandbox;
    CAccountManager table;
    CAccountWizard wizard(&table, nullptr);
    wizard.show();
    ASSERT_TRUE(PassStep1(wizard, "Work", "POP3"));
    FillServer(wizard.Pop3Page(), "h", "u", "p");
    wizard.next();
    ASSERT_TRUE(MakeAccount(table)); // another window created "Work" in between
    wizard.accept();
    EXPECT_NE(wizard.result(), QDialog::Accepted);
    EXPECT_TRUE(wizard.CreatedName().empty());
    EXPECT_EQ(sandbox.dialogue->calls.size(), 1u);
    EXPECT_EQ(table.Snapshot().size(), 1u);
}

TEST(AccountWizard, TheFirstExchangeAccountBecomesTheDefault)
{
    UiSandbox sandbox;
    ASSERT_EQ(CRegSettings().Prepare(), 1);
    CAccountManager table;
    auto plugins = std::make_shared<ExchangePlugins>();
    struct Row {
        const char* name;
        const char* account;
        int profile;
        std::string defaultAfter;
    } rows[] = {
        {"first-becomes-default", "Ex1", 1, "Ex1"},
        {"second-does-not-replace", "Ex2", 0, "Ex1"},
    };
    for (const auto& r : rows) {
        CAccountWizard wizard(&table, plugins);
        wizard.show();
        ASSERT_TRUE(PassStep1(wizard, r.account, "Exchange(MAPI)")) << r.name;
        wizard.ExchangePage()->ProfileList()->setCurrentIndex(r.profile);
        wizard.next();
        wizard.accept();
        ASSERT_EQ(wizard.result(), QDialog::Accepted) << r.name;
        CRegSettings settings;
        ASSERT_EQ(settings.LoadGeneral(), 1);
        EXPECT_EQ(settings.general.defaultExchange.Get(), r.defaultAfter) << r.name;
        const std::string inf = ReadWholeFile(AppPaths::AccountFile(r.account));
        EXPECT_NE(inf.find(r.profile ? "Server=Home\r\n" : "Server=Office\r\n"), std::string::npos)
            << r.name;
    }
}

TEST(AccountWizard, ImportLocksNameKindServerAndUser)
{
    UiSandbox sandbox;
    CAccountManager table;
    CAccountWizard wizard(&table, nullptr);
    wizard.show();
    std::optional<ImportedAccount> offer =
        ImportedAccount{"Mailbox", "IMAP4", "imap.example.org", "ann", "993", "TLS"};
    wizard.SetImporter([&](QWidget*) { return offer; });
    wizard.Step1()->NameEdit()->setText(QStringLiteral("Typed"));
    wizard.Step1()->ImportButton()->click();
    EXPECT_EQ(wizard.Step1()->NameEdit()->text(), QStringLiteral("Mailbox"));
    EXPECT_EQ(wizard.Step1()->KindList()->currentData().toString(), QStringLiteral("IMAP4"));
    EXPECT_FALSE(wizard.Step1()->NameEdit()->isEnabled());
    EXPECT_FALSE(wizard.Step1()->KindList()->isEnabled());
    wizard.next();
    ASSERT_EQ(wizard.currentId(), CAccountWizard::kStepImap4);
    EXPECT_EQ(wizard.Imap4Page()->ServerEdit()->text(), QStringLiteral("imap.example.org"));
    EXPECT_FALSE(wizard.Imap4Page()->ServerEdit()->isEnabled());
    EXPECT_FALSE(wizard.Imap4Page()->UserEdit()->isEnabled());
    EXPECT_EQ(wizard.Imap4Page()->Port(), "993");
    // A cancelled import restores what the user had typed.
    wizard.back();
    offer.reset();
    wizard.Step1()->ImportButton()->click();
    EXPECT_EQ(wizard.Step1()->NameEdit()->text(), QStringLiteral("Typed"));
    EXPECT_TRUE(wizard.Step1()->NameEdit()->isEnabled());
    EXPECT_EQ(wizard.Step1()->KindList()->currentData().toString(), QStringLiteral("POP3"));
}

TEST(AccountWizard, DroppedImportRestoresWhatWasTyped)
{
    struct Row {
        const char* name;
        const char* kind;
        const char* server;
        int security; // 0 TLS, 1 STARTTLS, 2 None
        const char* port;
        const char* user;
        ImportedAccount imported;
    } rows[] = {
        {"imap4-typed-port",
         "IMAP4",
         "typed.example.org",
         2,
         "1143",
         "me",
         {"Mailbox", "IMAP4", "imap.example.org", "ann", "993", "TLS"}},
        {"pop3-standard-port",
         "POP3",
         "pop.typed.org",
         1,
         "110",
         "bob",
         {"Box", "POP3", "pop.example.org", "ann", "2995", "TLS"}},
        {"import-without-port",
         "POP3",
         "",
         0,
         "995",
         "",
         {"Box", "POP3", "x.org", "u", "", "None"}},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        CAccountWizard wizard(&table, nullptr);
        wizard.show();
        std::optional<ImportedAccount> offer;
        wizard.SetImporter([&](QWidget*) { return offer; });
        ASSERT_TRUE(PassStep1(wizard, "Typed", r.kind)) << r.name;
        CWizardStep2Server* page = std::string(r.kind) == "IMAP4"
                                       ? static_cast<CWizardStep2Server*>(wizard.Imap4Page())
                                       : static_cast<CWizardStep2Server*>(wizard.Pop3Page());
        page->ServerEdit()->setText(QString::fromUtf8(r.server));
        page->SecurityList()->setCurrentIndex(r.security);
        page->PortEdit()->setText(QString::fromUtf8(r.port));
        page->UserEdit()->setText(QString::fromUtf8(r.user));
        // Import, look at the page twice (Back and Next again), then drop the import.
        wizard.back();
        offer = r.imported;
        wizard.Step1()->ImportButton()->click();
        wizard.next();
        wizard.back();
        wizard.next();
        ASSERT_EQ(page->ServerEdit()->text().toStdString(), r.imported.server) << r.name;
        wizard.back();
        offer.reset();
        wizard.Step1()->ImportButton()->click();
        SelectKind(wizard, r.kind);
        wizard.next();
        ASSERT_EQ(wizard.currentPage(), page) << r.name;
        EXPECT_EQ(page->ServerEdit()->text().toStdString(), r.server) << r.name;
        EXPECT_EQ(page->SecurityList()->currentIndex(), r.security) << r.name;
        EXPECT_EQ(page->PortEdit()->text().toStdString(), r.port) << r.name;
        EXPECT_EQ(page->UserEdit()->text().toStdString(), r.user) << r.name;
        EXPECT_TRUE(page->ServerEdit()->isEnabled()) << r.name;
        EXPECT_TRUE(page->UserEdit()->isEnabled()) << r.name;
    }
}

TEST(AccountWizard, TestConnectionReportsWithoutStoring)
{
    struct Row {
        const char* name;
        bool listen;
        std::function<void(ScriptedServer&)> script;
        bool ok;
        const char* textStart;
    } rows[] = {
        {"empty-mailbox", true,
         [](ScriptedServer& s) {
             s.Send("+OK ready\r\n")
                 .Expect("CAPA")
                 .Send("+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.\r\n")
                 .Expect("USER ann")
                 .Send("+OK\r\n")
                 .Expect("PASS pw")
                 .Send("+OK\r\n")
                 .Expect("NOOP")
                 .Send("+OK\r\n")
                 .Expect("STAT")
                 .Send("+OK 0 0\r\n")
                 .Expect("QUIT")
                 .Send("+OK\r\n")
                 .Close();
         },
         true, "Connected: 0 messages"},
        {"login-refused", true,
         [](ScriptedServer& s) {
             s.Send("+OK ready\r\n")
                 .Expect("CAPA")
                 .Send("+OK\r\nUSER\r\n.\r\n")
                 .Expect("USER ann")
                 .Send("+OK\r\n")
                 .Expect("PASS pw")
                 .Send("-ERR no\r\n")
                 .Expect("QUIT")
                 .Send("+OK\r\n")
                 .Close();
         },
         false, "The test failed"},
        {"nobody-listening", false, nullptr, false, "The test failed"},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        ScriptedServer server;
        int port = 1; // nothing listens on port 1 of the loopback
        if (r.listen) {
            r.script(server);
            ASSERT_TRUE(server.Start()) << r.name;
            port = server.Port();
        }
        CWizardStep2POP3 page;
        page.SecurityList()->setCurrentIndex(2);
        page.PortEdit()->setText(QString::number(port));
        FillServer(&page, "127.0.0.1", "ann", "pw");
        QSignalSpy spy(page.Tester(), &CConnectionTester::Finished);
        page.TestButton()->click();
        EXPECT_FALSE(page.TestButton()->isEnabled()) << r.name;
        ASSERT_TRUE(spy.wait(30000)) << r.name;
        EXPECT_EQ(spy.at(0).at(0).toBool(), r.ok) << r.name;
        EXPECT_TRUE(page.TestResult()->text().startsWith(QString::fromUtf8(r.textStart)))
            << r.name << ": " << page.TestResult()->text().toStdString();
        EXPECT_TRUE(page.TestButton()->isEnabled()) << r.name;
        EXPECT_FALSE(std::filesystem::exists(AppPaths::AccountListFile())) << r.name;
    }
}

// The test turns push on when the IMAP server lists IDLE, and leaves it as it was otherwise.
TEST(AccountWizard, TestConnectionTurnsPushOnWhenTheServerOffersIdle)
{
    struct Row {
        const char* name;
        const char* capabilities;
        bool push;
    } rows[] = {
        {"idle-offered", "IMAP4rev1 IDLE", true},
        {"no-idle", "IMAP4rev1", false},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        ScriptedServer server;
        server.Send(std::string("* OK [CAPABILITY ") + r.capabilities + "] ready\r\n")
            .Expect("A001 LOGIN")
            .Send("A001 OK\r\n")
            .Expect("A004 SELECT")
            .Expect("A008 UID SEARCH")
            .Send("* 0 EXISTS\r\nA004 OK\r\n* SEARCH\r\nA008 OK\r\n")
            .Expect("A088 LOGOUT")
            .Send("* BYE\r\nA088 OK\r\n")
            .Close();
        ASSERT_TRUE(server.Start()) << r.name;
        CWizardStep2IMAP4 page;
        page.SecurityList()->setCurrentIndex(2);
        page.PortEdit()->setText(QString::number(server.Port()));
        FillServer(&page, "127.0.0.1", "ann", "pw");
        ASSERT_NE(page.PushBox(), nullptr);
        EXPECT_FALSE(page.Push()) << r.name << ": off until the test";
        QSignalSpy spy(page.Tester(), &CConnectionTester::Finished);
        page.TestButton()->click();
        ASSERT_TRUE(spy.wait(30000)) << r.name;
        EXPECT_TRUE(spy.at(0).at(0).toBool()) << r.name;
        EXPECT_EQ(page.Push(), r.push) << r.name;
        EXPECT_FALSE(page.MarkReadOnServer()) << r.name << ": off by default";
    }
    CWizardStep2POP3 pop3;
    EXPECT_EQ(pop3.PushBox(), nullptr) << "POP3 has no push";
}

// The last page: a periodic check every 15 minutes unless changed, and "from now on" chosen
// for the user when the connection test counted more than 500 messages.
TEST(AccountWizard, LastPageOffersTheScheduleAndFromNowAboveFiveHundred)
{
    struct Row {
        const char* name;
        const char* kind;
        int messages; // on the scripted IMAP server; -1: no connection test
        bool offered; // the question about mail already on the server is shown
        bool fromNow;
    } rows[] = {
        {"imap4-untested", "IMAP4", -1, true, false},   {"imap4-500", "IMAP4", 500, true, false},
        {"imap4-501", "IMAP4", 501, true, true},        {"pop3-untested", "POP3", -1, true, false},
        {"portalpost", "Portalpost", -1, false, false},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        CAccountWizard wizard(&table, nullptr);
        wizard.show();
        ASSERT_TRUE(PassStep1(wizard, "New", r.kind)) << r.name;
        ScriptedServer server;
        const std::string kind = r.kind;
        if (kind == "Portalpost") {
            wizard.PortalpostPage()->UserEdit()->setText(QStringLiteral("ann"));
            wizard.PortalpostPage()->PasswordEdit()->setText(QStringLiteral("pw"));
        } else {
            CWizardStep2Server* page = kind == "POP3"
                                           ? static_cast<CWizardStep2Server*>(wizard.Pop3Page())
                                           : wizard.Imap4Page();
            FillServer(page, "127.0.0.1", "ann", "pw");
            if (r.messages >= 0) {
                std::string uids;
                for (int uid = 1; uid <= r.messages; ++uid)
                    uids += " " + std::to_string(uid);
                // Counted from the UID list alone: a FETCH would find no script line.
                server.Send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
                    .Expect("A001 LOGIN")
                    .Send("A001 OK\r\n")
                    .Expect("A004 SELECT")
                    .Expect("A008 UID SEARCH")
                    .Send("* " + std::to_string(r.messages) + " EXISTS\r\nA004 OK\r\n* SEARCH" +
                          uids + "\r\nA008 OK\r\n")
                    .Expect("A088 LOGOUT")
                    .Send("* BYE\r\nA088 OK\r\n")
                    .Close();
                ASSERT_TRUE(server.Start()) << r.name;
                page->SecurityList()->setCurrentIndex(2);
                page->PortEdit()->setText(QString::number(server.Port()));
                QSignalSpy spy(page->Tester(), &CConnectionTester::Finished);
                page->TestButton()->click();
                ASSERT_TRUE(spy.wait(30000)) << r.name;
                ASSERT_TRUE(spy.at(0).at(0).toBool()) << r.name;
                EXPECT_EQ(page->Tester()->MessageCount(), r.messages) << r.name;
            }
        }
        wizard.next();
        ASSERT_EQ(wizard.currentId(), CAccountWizard::kStep3) << r.name;
        const CWizardStep3Finish* last = wizard.FinishPage();
        EXPECT_TRUE(last->PeriodBox()->isChecked()) << r.name;
        EXPECT_EQ(last->PeriodSpin()->value(), 15) << r.name;
        EXPECT_EQ(last->PeriodSpin()->minimum(), 1) << r.name;
        EXPECT_EQ(last->PeriodSpin()->maximum(), 99999) << r.name;
        EXPECT_EQ(last->FromNowButton()->isVisible(), r.offered) << r.name;
        EXPECT_EQ(last->ShowExistingButton()->isVisible(), r.offered) << r.name;
        EXPECT_EQ(last->FromNowOn(), r.fromNow) << r.name;
        // A choice of the user's own outlasts Back and Next.
        if (r.offered) {
            (r.fromNow ? last->ShowExistingButton() : last->FromNowButton())->click();
            wizard.back();
            wizard.next();
            EXPECT_EQ(last->FromNowOn(), !r.fromNow) << r.name;
        }
    }
}

} // namespace
