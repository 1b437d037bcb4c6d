#include "autostartentry.h"
#include "dialogtestsupport.h"
#include "pageexchangedlg.h"
#include "pagegeneraldlg.h"
#include "pagenetworkdlg.h"
#include "pagenotifydlg.h"
#include "programkey.h"
#include "registrykey.h"
#include "regsettings.h"
#include "sysconfigdlg.h"
#include "wizardstep3finish.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;

// A sandbox with prepared settings, its own machine-wide settings folder and autostart
// folders.
struct SettingsSandbox {
    SettingsSandbox() : machineConfig("XDG_CONFIG_DIRS", ui.Dir().File("machine"))
    {
        fs::create_directories(ui.Dir().File("machine"));
        fs::create_directories(ui.Dir().File("system-autostart"));
        EXPECT_EQ(CRegSettings().Prepare(), 1);
        env.executable = "/opt/pigeon post/bin/postwatch";
        env.autostartUserDir = ui.Dir().File("user-autostart");
        env.autostartSystemDir = ui.Dir().File("system-autostart");
        env.mailClients = {{"a.desktop", "Mailer", "mailer --compose"},
                           {"b.desktop", "", "nameless"},
                           {"c.desktop", "Reader", "reader"},
                           {"d.desktop", "Broken", ""}};
    }
    // Stores `text` as it would be written by hand; nullptr removes the value.
    static void Write(const std::string& group, const char* name, const char* text)
    {
        CRegistryKey key;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path(group)), 1);
        if (text)
            ASSERT_EQ(key.WriteString(name, text), 1) << name;
        else
            ASSERT_EQ(key.DeleteValue(name), 1) << name;
    }
    struct Values {
        CRegSettings::General general;
        CRegSettings::Network network;
        CRegSettings::Notify notify;
    };
    Values Stored()
    {
        CRegSettings s;
        s.LoadGeneral();
        s.LoadNetwork();
        s.LoadNotify();
        return {s.general, s.network, s.notify};
    }
    UiSandbox ui;
    ScopedEnv machineConfig;
    SettingsEnvironment env;
};

TEST(SettingsGeneral, OpeningAppliesStartupAndTheClient)
{
    struct Row {
        const char* name;
        const char* startup;
        const char* forUser; // nullptr: absent
        const char* client;
        bool userEntry;
        bool systemEntry;
        const char* shownClient;
        const char* command;
    } rows[] = {
        {"for-user-absent-goes-machine-wide", "1", nullptr, "Reader", false, true, "Reader",
         "reader"},
        {"for-user-zero-goes-to-the-user", "1", "0", "Mailer", true, false, "Mailer",
         "mailer --compose"},
        {"startup-off-removes", "0", "0", "Reader", false, false, "Reader", "reader"},
        {"unknown-client-takes-the-first", "0", nullptr, "Gone", false, false, "Mailer",
         "mailer --compose"},
        {"empty-client-takes-the-first", "0", nullptr, "", false, false, "Mailer",
         "mailer --compose"},
    };
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.Write("General", "Startup", r.startup);
        box.Write("General", "MailClient", r.client);
        box.Write("General", "MailClientPath", "stale");
        if (r.forUser) {
            CRegistryKey key;
            ASSERT_EQ(key.CreateKey(RegistryRoot::LocalMachine, ProgramKey::Path()), 1);
            ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, ProgramKey::Path()), 1);
            ASSERT_EQ(key.WriteDword("ForUser", std::stoul(r.forUser)), 1) << r.name;
        }
        // An entry left from before: "off" must remove it.
        CAutostartEntry(box.env.autostartUserDir, box.env.autostartSystemDir)
            .Write("/old", "Old", false);
        const bool keepOld = std::string(r.startup) == "1" && r.systemEntry;
        CPageGeneralDlg page(box.env);
        const std::string user = box.env.autostartUserDir + "/pigeonpost.desktop";
        const std::string system = box.env.autostartSystemDir + "/pigeonpost.desktop";
        EXPECT_EQ(fs::exists(user), r.userEntry || keepOld) << r.name;
        EXPECT_EQ(fs::exists(system), r.systemEntry) << r.name;
        if (r.userEntry)
            EXPECT_NE(ReadWholeFile(user).find("Exec=\"/opt/pigeon post/bin/postwatch\"\n"),
                      std::string::npos)
                << r.name;
        EXPECT_EQ(page.ClientList()->count(), 2) << r.name; // nameless and command-less left out
        EXPECT_EQ(page.ClientList()->currentText().toStdString(), r.shownClient) << r.name;
        const auto stored = box.Stored();
        EXPECT_EQ(stored.general.startup.Stored(), r.startup) << r.name;
        EXPECT_EQ(stored.general.mailClient.Get(), r.shownClient) << r.name;
        EXPECT_EQ(stored.general.mailClientPath.Get(), r.command) << r.name;
    }
}

TEST(SettingsNetwork, UseConnectionLoadsAndApplies)
{
    struct Row {
        const char* name;
        const char* stored;
        int shown;  // -1 none
        int choose; // 0: leave, -1: clear all
        const char* after;
    } rows[] = {
        {"one", "1", 1, 0, "1"},
        {"two", "2", 2, 0, "2"},
        {"three", "3", 3, 0, "3"},
        {"seven-shows-none", "7", -1, 0, "0"},
        {"empty-shows-none", "", -1, 0, "0"},
        {"zero-shows-none", "0", -1, 0, "0"},
        // Read as every reader of the settings reads a number, and as the network test uses it.
        {"digits-then-text-read-as-the-number", "3x", 3, 0, "3"},
        {"blank-then-digits-read-as-the-number", " 2", 2, 0, "2"},
        {"choose-three", "1", 1, 3, "3"},
        // A click on the checked button keeps it: the choices are one exclusive group.
        {"click-on-the-checked-keeps-it", "2", 2, -1, "2"},
    };
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.Write("Network", "UseConnection", r.stored);
        CPageNetworkDlg page(box.env);
        EXPECT_EQ(page.Connection()->checkedId(), r.shown) << r.name;
        if (r.choose > 0)
            page.Connection()->button(r.choose)->setChecked(true);
        if (r.choose < 0)
            page.Connection()->checkedButton()->click();
        page.Apply();
        EXPECT_EQ(box.Stored().network.useConnection.Stored(), r.after) << r.name;
    }
}

TEST(SettingsNetwork, EntriesAndTimeout)
{
    SettingsSandbox box;
    box.env.dialupEntries = {"Modem", "Phone"};
    box.Write("Network", "DialupEntry", "Gone");
    box.Write("Network", "TimeOut", "5000");
    CPageNetworkDlg page(box.env);
    EXPECT_EQ(page.EntryList()->currentText(), QStringLiteral("Modem"));
    EXPECT_EQ(page.TimeoutBox()->Text(), QStringLiteral("5000"));
    page.EntryList()->setCurrentIndex(1);
    page.Apply();
    EXPECT_EQ(box.Stored().network.dialupEntry.Get(), "Phone");
    EXPECT_EQ(box.Stored().network.timeOut.Stored(), "5000");
}

TEST(SettingsNetwork, ClicksKeepExactlyOneConnection)
{
    struct Row {
        const char* name;
        const char* stored;
        std::vector<int> clicks;
        int shown; // -1 none
        const char* after;
    } rows[] = {
        {"none-then-one", "0", {2}, 2, "2"},
        {"switch", "1", {3}, 3, "3"},
        {"checked-twice-stays", "1", {1, 1}, 1, "1"},
        {"back-and-forth", "2", {1, 3, 3}, 3, "3"},
        {"untouched-none-stays-none", "9", {}, -1, "0"},
    };
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.Write("Network", "UseConnection", r.stored);
        CPageNetworkDlg page(box.env);
        for (int id : r.clicks) {
            page.Connection()->button(id)->click();
            int checked = 0;
            for (QAbstractButton* b : page.Connection()->buttons())
                checked += b->isChecked() ? 1 : 0;
            EXPECT_EQ(checked, 1) << r.name << " after clicking " << id;
        }
        EXPECT_EQ(page.Connection()->checkedId(), r.shown) << r.name;
        page.Apply();
        EXPECT_EQ(box.Stored().network.useConnection.Stored(), r.after) << r.name;
    }
}

// The field shows the time-out in force; untouched, the stored text stays as it was.
TEST(SettingsNetwork, TimeoutShowsWhatIsInForceAndArrowsStepInRange)
{
    struct Row {
        const char* name;
        const char* stored; // nullptr: no value at all
        const char* typed;  // nullptr: untouched; typing ends with Return
        int steps;          // arrow steps after typing (0: none)
        const char* shown;
        const char* after; // the stored text after Apply ("" also when missing)
    } rows[] = {
        {"below-range-kept", "5", nullptr, 0, "5", "5"},
        {"above-range-kept", "1200", nullptr, 0, "1200", "1200"},
        {"a-day-kept", "86400", nullptr, 0, "86400", "86400"},
        {"missing-shows-the-default-and-stays-missing", nullptr, nullptr, 0, "60", ""},
        {"zero-shows-the-default", "0", nullptr, 0, "60", "0"},
        {"negative-shows-the-default", "-5", nullptr, 0, "60", "-5"},
        {"letters-show-the-default", "abc", nullptr, 0, "60", "abc"},
        {"above-a-day-shows-the-cap", "100000", nullptr, 0, "86400", "100000"},
        {"in-range-kept", "45", nullptr, 0, "45", "45"},
        {"leading-zero-shows-the-number", "030", nullptr, 0, "30", "030"},
        {"typed-below-range", "60", "3", 0, "3", "3"},
        {"typed-above-range", "60", "900", 0, "900", "900"},
        {"typed-letters-refused", "60", "x7y", 0, "7", "7"},
        {"typed-zero-gives-the-default", "45", "0", 0, "60", "60"},
        {"typed-nothing-gives-the-default", "45", "", 0, "60", "60"},
        {"typed-above-a-day-is-capped", "45", "999999999", 0, "86400", "86400"},
        {"typed-leading-zero-shows-the-number", "45", "0090", 0, "90", "90"},
        {"up-steps", "60", nullptr, 2, "62", "62"},
        {"up-stops-at-600", "599", nullptr, 5, "600", "600"},
        {"down-stops-at-10", "12", nullptr, -5, "10", "10"},
        {"up-from-below-lands-on-10", "5", nullptr, 1, "10", "10"},
        {"down-from-above-lands-on-600", "1200", nullptr, -1, "600", "600"},
        {"up-from-missing-steps-from-the-default", nullptr, nullptr, 1, "61", "61"},
        {"up-from-letters-steps-from-the-default", "abc", nullptr, 1, "61", "61"},
    };
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.Write("Network", "TimeOut", r.stored);
        CPageNetworkDlg page(box.env);
        page.show();
        CTimeoutBox* field = page.TimeoutBox();
        if (r.typed) {
            field->setFocus();
            field->selectAll();
            QTest::keyClick(field, Qt::Key_Delete);
            QTest::keyClicks(field, QString::fromUtf8(r.typed));
            QTest::keyClick(field, Qt::Key_Return);
        }
        if (r.steps)
            field->stepBy(r.steps);
        EXPECT_EQ(field->Text().toStdString(), r.shown) << r.name;
        page.Apply();
        EXPECT_EQ(box.Stored().network.timeOut.Stored(), r.after) << r.name;
    }
}

TEST(SettingsNotify, SoundAndLed)
{
    struct Row {
        const char* name;
        bool led;
        const char* storedLed;
        bool soundOn;
        bool turnSoundOff;
        const char* sound;
        const char* file;
        const char* ledAfter;
    } rows[] = {
        {"sound-kept", true, "1", true, false, "1", "/s/new.wav", "1"},
        {"sound-off-clears-file", true, "1", true, true, "0", "", "1"},
        {"stored-off-clears-file", true, "0", false, false, "0", "", "0"},
        {"no-led-keeps-stored", false, "1", true, false, "1", "/s/new.wav", "1"},
    };
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.env.mailLed = r.led;
        box.Write("Notify", "MailLED", r.storedLed);
        box.Write("Notify", "Sound", r.soundOn ? "1" : "0");
        box.Write("Notify", "SoundFileName", "/s/new.wav");
        std::vector<std::string> played;
        box.env.play = [&](const std::string& f) { played.push_back(f); };
        CPageNotifyDlg page(box.env);
        EXPECT_EQ(page.LedBox()->isEnabled(), r.led) << r.name;
        EXPECT_EQ(page.PlayButton()->isEnabled(), r.soundOn) << r.name;
        EXPECT_EQ(page.SoundFile()->isEnabled(), r.soundOn) << r.name;
        if (r.turnSoundOff)
            page.SoundBox()->setChecked(false);
        EXPECT_EQ(page.BrowseButton()->isEnabled(), r.soundOn && !r.turnSoundOff) << r.name;
        page.Apply();
        const auto stored = box.Stored();
        EXPECT_EQ(stored.notify.sound.Stored(), r.sound) << r.name;
        EXPECT_EQ(stored.notify.soundFileName.Get(), r.file) << r.name;
        EXPECT_EQ(stored.notify.mailLed.Stored(), r.ledAfter) << r.name;
    }
}

TEST(SettingsNotify, BrowseAndPlay)
{
    SettingsSandbox box;
    std::vector<std::string> played;
    box.env.play = [&](const std::string& f) { played.push_back(f); };
    box.env.browse = [](const std::string&) { return std::string("/s/ding.wav"); };
    CPageNotifyDlg page(box.env);
    page.SoundBox()->setChecked(true);
    page.SoundFile()->clear();
    page.Play(); // nothing to play
    page.BrowseButton()->click();
    page.PlayButton()->click();
    EXPECT_EQ(played, std::vector<std::string>{"/s/ding.wav"});
    page.Apply();
    EXPECT_EQ(box.Stored().notify.soundFileName.Get(), "/s/ding.wav");
}

TEST(SettingsNotify, DesktopNoticesAndQuietHours)
{
    struct Row {
        const char* name;
        const char* storedFrom; // nullptr: the value is missing
        const char* storedUntil;
        const char* message;
        const char* setFrom; // nullptr: left as shown
        const char* setUntil;
        bool desktopEnabled;
        const char* from;
        const char* until;
    } rows[] = {
        {"window-kept", "22:00", "07:00", "1", nullptr, nullptr, true, "22:00", "07:00"},
        {"window-set", nullptr, nullptr, "1", "23:30", "06:15", true, "23:30", "06:15"},
        {"same-time-stores-none", "22:00", "07:00", "1", "08:00", "08:00", true, "", ""},
        {"half-a-window-shows-none", "22:00", nullptr, "1", nullptr, nullptr, true, "", ""},
        {"mistyped-shows-none", "25:00", "07:00", "1", nullptr, nullptr, true, "", ""},
        {"no-popup-no-desktop", nullptr, nullptr, "0", nullptr, nullptr, false, "", ""},
    };
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.Write("Notify", "QuietFrom", r.storedFrom);
        box.Write("Notify", "QuietUntil", r.storedUntil);
        box.Write("Notify", "Message", r.message);
        CPageNotifyDlg page(box.env);
        EXPECT_EQ(page.DesktopBox()->isEnabled(), r.desktopEnabled) << r.name;
        if (r.setFrom)
            page.QuietFrom()->setTime(QTime::fromString(r.setFrom, "HH:mm"));
        if (r.setUntil)
            page.QuietUntil()->setTime(QTime::fromString(r.setUntil, "HH:mm"));
        page.DesktopBox()->setChecked(true);
        page.FollowDndBox()->setChecked(true);
        page.Apply();
        const auto stored = box.Stored();
        EXPECT_EQ(stored.notify.quietFrom.Get(), r.from) << r.name;
        EXPECT_EQ(stored.notify.quietUntil.Get(), r.until) << r.name;
        EXPECT_TRUE(stored.notify.desktopNotify.Get()) << r.name;
        EXPECT_TRUE(stored.notify.followDoNotDisturb.Get()) << r.name;
    }
}

// The wizard's last page offers desktop notices only where a notification server answers.
TEST(SettingsNotify, WizardOffersDesktopNotices)
{
    struct Row {
        const char* name;
        bool server;
        const char* message;
        bool untick;
        bool shown;
        bool ticked;
        const char* stored; // "DesktopNotify" afterwards
    } rows[] = {
        {"server-popup-on", true, "1", false, true, true, "1"},
        {"server-user-declines", true, "1", true, true, true, "0"},
        {"server-popup-off-not-ticked", true, "0", false, true, false, "0"},
        {"no-server-not-offered", false, "1", false, false, false, "0"},
    };
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.Write("Notify", "Message", r.message);
        box.Write("Notify", "DesktopNotify", "0");
        CWizardStep3Finish page;
        page.OfferDesktopNotices(r.server);
        EXPECT_EQ(!page.DesktopBox()->isHidden(), r.shown) << r.name;
        EXPECT_EQ(page.DesktopBox()->isChecked(), r.ticked) << r.name;
        if (r.untick)
            page.DesktopBox()->setChecked(false);
        page.Apply();
        EXPECT_EQ(box.Stored().notify.desktopNotify.Stored(), r.stored) << r.name;
    }
}

TEST(SettingsExchange, DefaultExchangeIsReplacedWhenItNamesNoAccount)
{
    struct Row {
        const char* name;
        std::vector<std::string> accounts;
        const char* stored;
        const char* afterOpen;
    } rows[] = {
        {"kept", {"A", "B"}, "B", "B"},
        {"gone-replaced-at-once", {"A", "B"}, "Gone", "A"},
        {"empty-replaced", {"A"}, "", "A"},
        {"no-accounts-untouched", {}, "Gone", "Gone"},
    };
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.env.mapiPresent = true;
        box.env.exchangeAccounts = r.accounts;
        box.Write("General", "DefaultExchange", r.stored);
        CPageExchangedlg page(box.env);
        EXPECT_EQ(box.Stored().general.defaultExchange.Get(), r.afterOpen) << r.name;
    }
}

TEST(SettingsDialog, PagesHelpAndApply)
{
    struct Row {
        const char* name;
        bool mapi;
        int tabs;
    } rows[] = {{"without-provider", false, 3}, {"with-provider", true, 4}};
    for (const auto& r : rows) {
        SettingsSandbox box;
        box.env.mapiPresent = r.mapi;
        box.env.exchangeAccounts = {"Ex"};
        std::vector<std::string> topics;
        box.env.openHelp = [&](const std::string& t) { topics.push_back(t); };
        CSysConfigDlg dlg(box.env);
        ASSERT_EQ(dlg.Tabs()->count(), r.tabs) << r.name;
        const char* expected[] = {"settings-general", "settings-network", "settings-notify",
                                  "settings-exchange"};
        for (int i = 0; i < r.tabs; ++i) {
            dlg.Tabs()->setCurrentIndex(i);
            EXPECT_EQ(dlg.HelpTopic(), expected[i]) << r.name;
        }
        dlg.Tabs()->setCurrentIndex(0);
        dlg.General()->MinimumBox()->setChecked(true);
        dlg.accept();
        EXPECT_EQ(box.Stored().general.minimum.Stored(), "1") << r.name;
        if (r.mapi)
            EXPECT_EQ(box.Stored().general.defaultExchange.Get(), "Ex") << r.name;
    }
}

TEST(Autostart, ExecQuoting)
{
    struct Row {
        const char* name;
        const char* path;
        const char* exec;
    } rows[] = {
        {"plain", "/usr/bin/postwatch", "Exec=\"/usr/bin/postwatch\"\n"},
        {"blank", "/opt/a b/postwatch", "Exec=\"/opt/a b/postwatch\"\n"},
        {"dollar-and-quote", "/x/$a\"b", "Exec=\"/x/\\\\$a\\\\\"b\"\n"},
        {"backslash", "/x\\y", "Exec=\"/x\\\\\\\\y\"\n"},
        {"percent", "/x%u", "Exec=\"/x%%u\"\n"},
        {"newline-cannot-add-a-key", "/x\nHidden=true", "Exec=\"/x Hidden=true\"\n"},
    };
    for (const auto& r : rows) {
        const std::string content = CAutostartEntry::Content(r.path, "Pigeonpost");
        EXPECT_NE(content.find(r.exec), std::string::npos) << r.name << ":\n" << content;
        EXPECT_EQ(content.find("\nHidden"), std::string::npos) << r.name;
    }
}

} // namespace
