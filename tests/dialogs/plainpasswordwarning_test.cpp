// The warning under the security field, on a real X server: it shows while "None" is chosen
// and a password is entered, goes away for SSL/TLS, STARTTLS and an empty password, follows
// every change at once, sits right under the security field, shows whole and moves no field.
#include "accountpropertiesdlg.h"
#include "dialogtestsupport.h"
#include "plainpasswordwarning.h"
#include "wizardstep2imap4.h"
#include "wizardstep2pop3.h"
#include "wizardtestsupport.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace
{

constexpr int kTls = 0;
constexpr int kStartTls = 1;
constexpr int kNone = 2;

// The three fields the warning follows, wherever they sit.
struct SecurityFields {
    QComboBox* security;
    QLineEdit* password;
    PlainPasswordWarning* warning;
    QWidget* below; // the next field of the form (port)
};

// A sandbox with a POP3 account "Work" (password "pw") and a web-mail and an Exchange account.
struct Accounts {
    Accounts() : plugins(std::make_shared<ExchangePlugins>()), table(plugins)
    {
        const NewAccountRequest requests[] = {
            {"Work", "POP3", "pop.example.org", "alice", "pw", std::nullopt, "TLS"},
            {"Plain", "IMAP4", "imap.example.org", "bob", "pw", std::nullopt, "None"},
            {"Web", "Portalpost", "Yahoo", "alice", "pw", std::nullopt, ""},
            {"Office", "Exchange(MAPI)", "Office", "", "", std::nullopt, ""},
        };
        for (const NewAccountRequest& request : requests)
            EXPECT_TRUE(CreateNewAccount(request, &table).Ok()) << request.name;
    }
    UiSandbox sandbox;
    std::shared_ptr<const AccountPlugins> plugins;
    CAccountManager table;
};

struct Place {
    const char* name;
    // Builds and shows the window; fills `fields`.
    std::function<std::unique_ptr<QWidget>(Accounts&, SecurityFields&)> open;
};

std::unique_ptr<QWidget> WizardPage(Accounts& a, SecurityFields& f, const char* kind)
{
    auto wizard = std::make_unique<CAccountWizard>(&a.table, a.plugins);
    wizard->show();
    EXPECT_TRUE(PassStep1(*wizard, "New", kind));
    CWizardStep2Server* page = std::string(kind) == "IMAP4"
                                   ? static_cast<CWizardStep2Server*>(wizard->Imap4Page())
                                   : static_cast<CWizardStep2Server*>(wizard->Pop3Page());
    f = {page->SecurityList(), page->PasswordEdit(), page->PlainWarning(), page->PortEdit()};
    return wizard;
}

std::unique_ptr<QWidget> Properties(Accounts& a, SecurityFields& f)
{
    auto dlg = std::make_unique<CAccountPropertiesDlg>(&a.table, "Work", a.plugins);
    dlg->show();
    f = {dlg->SecurityList(), dlg->PasswordEdit(), dlg->PlainWarning(), dlg->PortEdit()};
    return dlg;
}

const Place kPlaces[] = {
    {"wizard-pop3", [](Accounts& a, SecurityFields& f) { return WizardPage(a, f, "POP3"); }},
    {"wizard-imap4", [](Accounts& a, SecurityFields& f) { return WizardPage(a, f, "IMAP4"); }},
    {"properties", Properties},
};

TEST(PlainPasswordWarning, FollowsTheSecurityChoiceAndThePassword)
{
    // Applied in order to one window: each step changes one field as a user would.
    struct Step {
        const char* name;
        int security;
        const char* password; // nullptr: leave it; "+x": type x at the end
        bool shown;
    } steps[] = {
        {"tls-with-password", kTls, "pw", false}, {"none-with-password", kNone, nullptr, true},
        {"starttls", kStartTls, nullptr, false},  {"none-again", kNone, nullptr, true},
        {"password-cleared", kNone, "", false},   {"password-typed", kNone, "+s", true},
        {"back-to-tls", kTls, nullptr, false},
    };
    for (const Place& place : kPlaces) {
        Accounts accounts;
        SecurityFields f{};
        std::unique_ptr<QWidget> window = place.open(accounts, f);
        ASSERT_TRUE(f.security && f.password && f.warning) << place.name;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get())) << place.name;
        int hiddenPortY = -1; // where the port field was at the step before
        for (const Step& s : steps) {
            const std::string where = std::string(place.name) + "/" + s.name;
            f.security->setCurrentIndex(s.security);
            if (s.password && s.password[0] == '+')
                QTest::keyClicks(f.password, QString::fromUtf8(s.password + 1));
            else if (s.password)
                f.password->setText(QString::fromUtf8(s.password));
            // The layouts settle in posted events, as they would before the next paint.
            QApplication::processEvents();
            QApplication::processEvents();
            QLabel* label = f.warning->Label();
            EXPECT_EQ(label->isVisible(), s.shown) << where;
            EXPECT_EQ(f.warning->Applies(), s.shown) << where;
            // The fields below stay where they were while the user goes through the list.
            const int portY = f.below->mapTo(window.get(), QPoint()).y();
            if (hiddenPortY >= 0)
                EXPECT_EQ(portY, hiddenPortY) << where;
            hiddenPortY = portY;
            if (!s.shown)
                continue;
            EXPECT_EQ(label->text(), QStringLiteral("The password will travel unencrypted."))
                << where;
            // Between the security field and the next one, and tall and wide enough for its text.
            const int securityBottom =
                f.security->mapTo(window.get(), QPoint(0, f.security->height())).y();
            const int warningTop = label->mapTo(window.get(), QPoint()).y();
            EXPECT_GE(warningTop, securityBottom) << where;
            EXPECT_LE(warningTop + label->height(), portY) << where;
            EXPECT_GE(label->width(), label->sizeHint().width()) << where;
            EXPECT_GE(label->height(), label->sizeHint().height()) << where;
        }
    }
}

TEST(PlainPasswordWarning, PropertiesOpenWithTheStoredChoice)
{
    struct Row {
        const char* account;
        bool hasField; // web mail and Exchange accounts have no security field
        bool shown;
    } rows[] = {
        {"Work", true, false},
        {"Plain", true, true},
        {"Web", false, false},
        {"Office", false, false},
    };
    Accounts accounts;
    for (const Row& r : rows) {
        CAccountPropertiesDlg dlg(&accounts.table, r.account, accounts.plugins);
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg)) << r.account;
        ASSERT_EQ(dlg.PlainWarning() != nullptr, r.hasField) << r.account;
        if (dlg.PlainWarning())
            EXPECT_EQ(dlg.PlainWarning()->Label()->isVisible(), r.shown) << r.account;
    }
}

} // namespace
