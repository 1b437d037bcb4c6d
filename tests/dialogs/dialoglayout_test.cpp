// Every dialog as a user meets it on a real X server: it fits the screen, no control is cut
// off or squeezed, every text shows whole, Tab walks the controls in reading order and each
// Alt+letter leads to one place. Run at 100 % and 200 % scale and with large text (see
// CMakeLists.txt); a picture of each dialog is kept under <build>/screenshots/ for review.
#include "aboutbox.h"
#include "accesspassworddlg.h"
#include "accountpropertiesdlg.h"
#include "dialogtestsupport.h"
#include "filtermanagerdlg.h"
#include "filterrules.h"
#include "importdlg.h"
#include "layoutinspector.h"
#include "regsettings.h"
#include "setaccesspassworddlg.h"
#include "settingsenvironment.h"
#include "sysconfigdlg.h"
#include "wizardstep2imap4.h"
#include "wizardstep2pop3.h"
#include "wizardtestsupport.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace
{

// What every dialog is built from: a sandbox with one account of each kind.
struct Desk {
    Desk() : plugins(std::make_shared<ExchangePlugins>()), table(plugins)
    {
        EXPECT_EQ(CRegSettings().Prepare(), 1);
        const NewAccountRequest accounts[] = {
            {"Work", "POP3", "pop.example.org", "alice", "pw", std::nullopt, "TLS"},
            {"Home", "IMAP4", "imap.example.org", "alice", "pw", std::nullopt, "STARTTLS"},
            {"Web", "Portalpost", "Yahoo", "alice", "pw", std::nullopt, ""},
            {"Office", "Exchange(MAPI)", "Office", "", "", std::nullopt, ""},
        };
        for (const NewAccountRequest& request : accounts)
            EXPECT_TRUE(CreateNewAccount(request, &table).Ok()) << request.name;
        SaveRule({"Newsletters", "Sender", "Contains", "news@example.org", "0"});
        env.mailClients = {{"mailer.desktop", "Mailer", "mailer --compose"},
                           {"reader.desktop", "Reader", "reader"}};
        env.dialupEntries = {"Home DSL", "Mobile broadband"};
        env.mailLed = true;
        env.mapiPresent = true;
        env.exchangeAccounts = {"Office"};
        env.executable = "/usr/bin/postwatch";
        env.autostartUserDir = sandbox.Dir().File("autostart");
        env.autostartSystemDir = sandbox.Dir().File("system-autostart");
        env.play = [](const std::string&) {};
        env.openHelp = [](const std::string&) {};
        env.browse = [](const std::string& current) { return current; };
    }

    UiSandbox sandbox;
    std::shared_ptr<const AccountPlugins> plugins;
    CAccountManager table;
    SettingsEnvironment env;
};

std::unique_ptr<QWidget> Wizard(Desk& desk, const char* kind, bool toFinish)
{
    auto wizard = std::make_unique<CAccountWizard>(&desk.table, desk.plugins);
    wizard->show();
    if (*kind)
        EXPECT_TRUE(PassStep1(*wizard, "New account", kind));
    if (toFinish) {
        FillServer(wizard->Pop3Page(), "pop.example.org", "alice", "pw");
        wizard->next();
        EXPECT_EQ(wizard->currentId(), CAccountWizard::kStep3);
    }
    return wizard;
}

std::unique_ptr<QWidget> Settings(Desk& desk, int tab)
{
    auto dlg = std::make_unique<CSysConfigDlg>(desk.env);
    dlg->Tabs()->setCurrentIndex(tab);
    return dlg;
}

struct Case {
    const char* name;
    std::function<std::unique_ptr<QWidget>(Desk&)> build;
};

const Case kCases[] = {
    {"access-password-prompt",
     [](Desk& d) {
         return std::make_unique<CAccessPasswordDlg>(&d.table, QStringLiteral("Work"));
     }},
    {"set-access-password",
     [](Desk&) { return std::make_unique<CSetAccessPasswordDlg>(QStringLiteral("Work")); }},
    {"wizard-step1", [](Desk& d) { return Wizard(d, "", false); }},
    {"wizard-pop3", [](Desk& d) { return Wizard(d, "POP3", false); }},
    {"wizard-imap4", [](Desk& d) { return Wizard(d, "IMAP4", false); }},
    {"wizard-webmail", [](Desk& d) { return Wizard(d, "Portalpost", false); }},
    {"wizard-exchange", [](Desk& d) { return Wizard(d, "Exchange(MAPI)", false); }},
    {"wizard-finish", [](Desk& d) { return Wizard(d, "POP3", true); }},
    {"wizard-pop3-unencrypted",
     [](Desk& d) {
         auto wizard = Wizard(d, "POP3", false);
         auto* page = static_cast<CAccountWizard&>(*wizard).Pop3Page();
         FillServer(page, "pop.example.org", "alice", "pw");
         page->SecurityList()->setCurrentIndex(2);
         return wizard;
     }},
    {"settings-general", [](Desk& d) { return Settings(d, 0); }},
    {"settings-network", [](Desk& d) { return Settings(d, 1); }},
    {"settings-notify", [](Desk& d) { return Settings(d, 2); }},
    {"settings-exchange", [](Desk& d) { return Settings(d, 3); }},
    {"import",
     [](Desk&) {
         return std::make_unique<CImportDlg>(std::vector<ForeignMailAccount>{
             {"Home", "POP3", "pop.example.org", "995", "alice@example.org", "TLS"},
             {"Work mail with a long name", "IMAP4", "imap.mail.example.com", "", "a.user",
              "STARTTLS"},
             {"Old", "POP3", "mail.example.net", "110", "old", "None"}});
     }},
    {"properties-pop3",
     [](Desk& d) { return std::make_unique<CAccountPropertiesDlg>(&d.table, "Work", d.plugins); }},
    {"properties-pop3-unencrypted",
     [](Desk& d) {
         auto dlg = std::make_unique<CAccountPropertiesDlg>(&d.table, "Work", d.plugins);
         dlg->SecurityList()->setCurrentIndex(2);
         return dlg;
     }},
    {"properties-imap4",
     [](Desk& d) { return std::make_unique<CAccountPropertiesDlg>(&d.table, "Home", d.plugins); }},
    {"properties-webmail",
     [](Desk& d) { return std::make_unique<CAccountPropertiesDlg>(&d.table, "Web", d.plugins); }},
    {"properties-exchange",
     [](Desk& d) {
         return std::make_unique<CAccountPropertiesDlg>(&d.table, "Office", d.plugins);
     }},
    {"filter-manager", [](Desk&) { return std::make_unique<CFilterManagerDlg>(); }},
    {"about", [](Desk&) { return std::make_unique<CAboutBox>(); }},
};

// The picture the X server shows of the window, kept for review; the tag names the scale.
QImage Screenshot(QWidget& window, const char* name)
{
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    const QByteArray tag = qgetenv("POSTWATCH_SCREEN_TAG");
    QDir().mkpath(QStringLiteral(POSTWATCH_SCREENSHOT_DIR));
    shot.save(QStringLiteral(POSTWATCH_SCREENSHOT_DIR "/dialog-%1-%2.png")
                  .arg(QString::fromUtf8(name),
                       tag.isEmpty() ? QStringLiteral("plain") : QString::fromUtf8(tag)));
    return shot;
}

// How many pixels differ from the top-left one: a drawn dialog has plenty.
int Drawn(const QImage& image)
{
    int drawn = 0;
    const QRgb background = image.isNull() ? 0 : image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2)
            drawn += image.pixel(x, y) != background;
    }
    return drawn;
}

// A user's larger font setting: the text grows while the sizes given in pixels stay.
void ApplyFontScale()
{
    const double scale = qEnvironmentVariable("POSTWATCH_TEST_FONT_SCALE").toDouble();
    if (scale <= 0)
        return;
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * scale);
    QApplication::setFont(font);
}

TEST(DialogLayout, EveryDialogFitsAndIsKeyboardUsable)
{
    ApplyFontScale();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Desk desk;
        std::unique_ptr<QWidget> window = c.build(desk);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QTest::qWait(50);
        for (const std::string& finding : LayoutInspector(window.get()).Findings())
            ADD_FAILURE() << c.name << ": " << finding;
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            EXPECT_GT(Drawn(Screenshot(*window, c.name)), 500) << c.name;
        window->close();
    }
}

TEST(DialogLayout, MnemonicTextsAreReadAsTheToolkitReadsThem)
{
    struct Row {
        const char* text;
        const char* shown;
        char key;
    } rows[] = {
        {"&Password:", "Password:", 'p'},
        {"Con&firm", "Confirm", 'f'},
        {"Tom && Jerry", "Tom & Jerry", 0},
        {"&&Save &As", "&Save As", 'a'},
        {"plain", "plain", 0},
        {"trailing&", "trailing&", 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(LayoutInspector::ShownText(QString::fromUtf8(r.text)).toStdString(), r.shown)
            << r.text;
        const QChar key = LayoutInspector::Mnemonic(QString::fromUtf8(r.text));
        EXPECT_EQ(key.isNull() ? 0 : key.toLatin1(), r.key) << r.text;
    }
}

} // namespace
