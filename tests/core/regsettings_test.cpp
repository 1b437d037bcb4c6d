#include "leddevice.h"
#include "oauthprovider.h"
#include "programkey.h"
#include "registrykey.h"
#include "regsettings.h"
#include "settingnumber.h"
#include "support/tempdir.h"
#include "webmailendpoints.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

const std::string kAssets = "/opt/pigeonpost-assets";

// Fresh settings store, desktop and asset folder for every test; the default mail client
// is "Mailer".
class RegSettingsTest : public ::testing::Test
{
protected:
    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", dir.File("sysconfig")};
    ScopedEnv dataHome{"XDG_DATA_HOME", dir.File("data")};
    ScopedEnv dataDirs{"XDG_DATA_DIRS", dir.File("sysdata")};
    ScopedEnv assets{"POSTWATCH_ASSETS", kAssets};
    // No mail LED, whatever the machine running the test has.
    ScopedEnv leds{"POSTWATCH_LED_ROOT", dir.File("no-leds")};

    void SetUp() override
    {
        std::filesystem::create_directories(dir.File("sysdata/applications"));
        std::filesystem::create_directories(dir.File("config"));
        WriteWholeFile(dir.File("sysdata/applications/mailer.desktop"),
                       "[Desktop Entry]\nType=Application\nName=Mailer\n"
                       "Exec=mailer --compose %u\nMimeType=x-scheme-handler/mailto;\n");
        WriteWholeFile(dir.File("config/mimeapps.list"),
                       "[Default Applications]\nx-scheme-handler/mailto=mailer.desktop\n");
    }

    static std::string Read(const std::string& group, const std::string& name)
    {
        CRegistryKey key;
        std::string value = "<no key>";
        if (key.Open(RegistryRoot::CurrentUser, ProgramKey::Path(group)))
            key.ReadString(name, value);
        return value;
    }

    static bool Has(const std::string& group, const std::string& name)
    {
        CRegistryKey key;
        std::string value;
        return key.Open(RegistryRoot::CurrentUser, ProgramKey::Path(group)) &&
               key.ReadString(name, value);
    }

    static void Write(const std::string& group, const std::string& name, const std::string& text)
    {
        CRegistryKey key;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path(group)), 1);
        ASSERT_EQ(key.WriteString(name, text), 1);
    }
};

struct Expected {
    const char* group;
    const char* name;
    std::string value;
};

// Every value a first start writes, group by group.
const std::vector<Expected>& FirstRunValues()
{
    static const std::vector<Expected> values = {
        {"General", "Startup", "1"},
        {"General", "Minimum", "1"},
        {"General", "MailClient", "Mailer"},
        {"General", "MailClientPath", "mailer --compose"},
        {"General", "DefaultExchange", ""},
        {"General", "AutoStartExchange", "1"},
        {"General", "KeepPasswordsInKeyring", "0"},
        {"Network", "UseConnection", "1"},
        {"Network", "DialupEntry", ""},
        {"Network", "AutoHangupAfterCheck", "1"},
        {"Network", "UseExistDialup", "1"},
        {"Network", "TimeOut", "60"},
        {"Network", "ShowProgress", "1"},
        {"Notify", "FlashIcon", "1"},
        {"Notify", "MailClient", "0"},
        {"Notify", "3dEffect", "1"},
        {"Notify", "Message", "1"},
        {"Notify", "Sound", "1"},
        {"Notify", "MailLED", "0"}, // no LED device on this machine
        {"Notify", "SoundFileName", kAssets + "/Sound/Notify.wav"},
        {"Notify", "DesktopNotify", "0"},
        {"Notify", "QuietFrom", ""},
        {"Notify", "QuietUntil", ""},
        {"Notify", "FollowDoNotDisturb", "0"},
        {"Options", "ModelDir", kAssets + "/Model/"},
        {"Options", "TextureDir", kAssets + "/Texture/"},
        {"Options", "TopMost", "1"},
        {"Options", "UsePackageModel", "1"},
        {"Options", "UsePackageTexture", "1"},
        {"Options", "LastPosX", "0"},
        {"Options", "LastPosY", "0"},
        {"Options", "Size", "2"},
        {"Options", "DBClickClose", "0"},
        {"Options", "DBClickShow", "1"},
        {"Options", "LastSelectModel", "default.x"},
        {"Options", "LastSelectTexture", "default.bmp"},
        // Where the web-mail categories are reached: settings, so they can be pointed elsewhere.
        {"Portalpost\\Hotmail", "GatewayUrl", DefaultHotmailEndpoints().gatewayUrl},
        {"Portalpost\\Hotmail", "MailDomain", DefaultHotmailEndpoints().mailDomain},
        {"Portalpost\\Hotmail", "Namespace", DefaultHotmailEndpoints().namespaceUri},
        {"Portalpost\\Yahoo", "EntryUrl", DefaultYahooEndpoints().entryUrl},
        {"Portalpost\\Yahoo", "LoginHost", DefaultYahooEndpoints().loginHost},
        {"Portalpost\\Yahoo", "MailDomain", DefaultYahooEndpoints().mailDomain},
        {"Portalpost\\Yahoo", "Suffix1", DefaultYahooEndpoints().suffix1},
        {"Portalpost\\Yahoo", "Suffix2", DefaultYahooEndpoints().suffix2},
        {"Portalpost\\Yahoo", "Suffix3", DefaultYahooEndpoints().suffix3},
        // The OAuth 2.0 provider profiles, without a client id.
        {"OAuth\\Providers\\Google", "AuthorizationUrl",
         "https://accounts.google.com/o/oauth2/v2/auth"},
        {"OAuth\\Providers\\Google", "TokenUrl", "https://oauth2.googleapis.com/token"},
        {"OAuth\\Providers\\Google", "ClientId", ""},
        {"OAuth\\Providers\\Google", "ClientSecret", ""},
        {"OAuth\\Providers\\Google", "Scopes", "https://mail.google.com/"},
        {"OAuth\\Providers\\Google", "Mechanism", "XOAUTH2"},
        {"OAuth\\Providers\\Google", "ExtraParameters", "access_type=offline&prompt=consent"},
        {"OAuth\\Providers\\Google", "Domains", "gmail.com googlemail.com"},
        {"OAuth\\Providers\\Google", "ImapServer", "imap.gmail.com:993"},
        {"OAuth\\Providers\\Google", "Pop3Server", "pop.gmail.com:995"},
        {"OAuth\\Providers\\Microsoft", "AuthorizationUrl",
         "https://login.microsoftonline.com/consumers/oauth2/v2.0/authorize"},
        {"OAuth\\Providers\\Microsoft", "TokenUrl",
         "https://login.microsoftonline.com/consumers/oauth2/v2.0/token"},
        {"OAuth\\Providers\\Microsoft", "ClientId", ""},
        {"OAuth\\Providers\\Microsoft", "ClientSecret", ""},
        {"OAuth\\Providers\\Microsoft", "Scopes",
         "offline_access https://outlook.office.com/IMAP.AccessAsUser.All "
         "https://outlook.office.com/POP.AccessAsUser.All"},
        {"OAuth\\Providers\\Microsoft", "Mechanism", "XOAUTH2"},
        {"OAuth\\Providers\\Microsoft", "ExtraParameters", ""},
        {"OAuth\\Providers\\Microsoft", "Domains", "outlook.com hotmail.com live.com msn.com"},
        {"OAuth\\Providers\\Microsoft", "ImapServer", "outlook.office365.com:993"},
        {"OAuth\\Providers\\Microsoft", "Pop3Server", "outlook.office365.com:995"},
    };
    return values;
}

TEST_F(RegSettingsTest, FirstRunWritesTheDefaults)
{
    CLedDevice led;
    CRegSettings settings;
    ASSERT_EQ(settings.Prepare(led), 1);
    EXPECT_FALSE(led.HasMailLed());
    for (const Expected& e : FirstRunValues()) {
        SCOPED_TRACE(std::string(e.group) + "\\" + e.name);
        EXPECT_EQ(Read(e.group, e.name), e.value);
    }
    CRegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path()), 1);
    std::vector<std::string> groups;
    ASSERT_EQ(key.EnumSubKeys(groups), 1);
    EXPECT_EQ(groups, (std::vector<std::string>{"Filter Manager", "General", "Network", "Notify",
                                                "OAuth", "Options", "Portalpost"}));
    // The time-out is stored under its historical spelling, and nothing else is in the file.
    std::string ini = ReadWholeFile(dir.File("config/Koravel/Pigeonpost.conf"));
    EXPECT_NE(ini.find("\nTimeout=60\n"), std::string::npos) << ini;
    size_t lines = 0;
    for (size_t p = ini.find('='); p != std::string::npos; p = ini.find('=', p + 1))
        ++lines;
    const size_t markers = 1; // only "Filter Manager" holds nothing that would keep it
    size_t inValues = 0;      // an '=' inside a value ("access_type=offline")
    for (const Expected& e : FirstRunValues())
        inValues += static_cast<size_t>(std::count(e.value.begin(), e.value.end(), '='));
    EXPECT_EQ(lines, FirstRunValues().size() + markers + inValues) << ini;
}

TEST_F(RegSettingsTest, LaterRunsLeaveTheUserValuesAlone)
{
    CRegSettings settings;
    ASSERT_EQ(settings.Prepare(), 1);
    Write("General", "Startup", "0");
    Write("Options", "Size", "5");
    Write("Network", "TIMEOUT", "15");
    {
        CRegistryKey key;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Notify")), 1);
        ASSERT_EQ(key.DeleteValue("Sound"), 1);
    }
    // A different default mail client must not leak into existing settings either.
    std::filesystem::remove(dir.File("config/mimeapps.list"));
    ASSERT_EQ(settings.Prepare(), 1);
    struct Row {
        const char* label;
        const char* group;
        const char* name;
        bool present;
        std::string value;
    };
    const Row rows[] = {
        {"changed switch kept", "General", "Startup", true, "0"},
        {"changed number kept", "Options", "Size", true, "5"},
        {"time-out overwritten in another case", "Network", "TimeOut", true, "15"},
        {"deleted value not filled up", "Notify", "Sound", false, ""},
        {"mail client kept", "General", "MailClientPath", true, "mailer --compose"},
        {"untouched default kept", "Notify", "FlashIcon", true, "1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Has(row.group, row.name), row.present);
        if (row.present)
            EXPECT_EQ(Read(row.group, row.name), row.value);
    }
}

TEST_F(RegSettingsTest, DeletedGroupGetsItsDefaultsBack)
{
    CRegSettings settings;
    ASSERT_EQ(settings.Prepare(), 1);
    Write("General", "Minimum", "0");
    Write("Notify", "FlashIcon", "0");
    Write("Notify", "Extra", "x");
    CRegistryKey key;
    ASSERT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, ProgramKey::Path("Notify")), 1);
    ASSERT_EQ(settings.Prepare(), 1);
    EXPECT_EQ(Read("Notify", "FlashIcon"), "1");
    EXPECT_EQ(Read("Notify", "MailLED"), "0");
    EXPECT_FALSE(Has("Notify", "Extra"));
    EXPECT_EQ(Read("General", "Minimum"), "0") << "other groups stay as they were";
}

TEST_F(RegSettingsTest, LoadsAndSavesGroups)
{
    CRegSettings settings;
    ASSERT_EQ(settings.Prepare(), 1);
    ASSERT_EQ(settings.LoadGeneral(), 1);
    ASSERT_EQ(settings.LoadNetwork(), 1);
    ASSERT_EQ(settings.LoadNotify(), 1);
    EXPECT_EQ(settings.general.mailClient.Get(), "Mailer");
    EXPECT_EQ(settings.general.autoStartExchange.Get(), 1u);
    EXPECT_EQ(settings.network.timeOut.Stored(), "60");
    EXPECT_EQ(settings.notify.soundFileName.Get(), kAssets + "/Sound/Notify.wav");

    settings.general.defaultExchange.Set("Work \xC3\xA9t\xC3\xA9"); // non-ASCII account name
    settings.general.autoStartExchange.Set(0);
    settings.network.timeOut.Set(120);
    settings.notify.effect3d.Set(false);
    ASSERT_EQ(settings.SaveGeneral(), 1);
    ASSERT_EQ(settings.SaveNetwork(), 1);
    ASSERT_EQ(settings.SaveNotify(), 1);
    EXPECT_EQ(Read("Network", "Timeout"), "120") << "saved over the stored spelling";

    CRegSettings again;
    again.general.autoStartExchange.Set(9);
    ASSERT_EQ(again.LoadGeneral(), 1);
    ASSERT_EQ(again.LoadNetwork(), 1);
    ASSERT_EQ(again.LoadNotify(), 1);
    EXPECT_EQ(again.general.defaultExchange.Get(), "Work \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(again.general.autoStartExchange.Get(), 0u);
    EXPECT_EQ(again.network.timeOut.Stored(), "120");
    EXPECT_EQ(again.notify.effect3d.Stored(), "0");
    EXPECT_EQ(again.notify.flashIcon.Stored(), "1");
}

TEST_F(RegSettingsTest, MissingKeysAndOddValues)
{
    CRegSettings settings;
    settings.general.startup.Set(true);
    settings.general.autoStartExchange.Set(7);
    settings.network.timeOut.Set(99);
    EXPECT_EQ(settings.LoadGeneral(), 0);
    EXPECT_EQ(settings.LoadNetwork(), 0);
    EXPECT_EQ(settings.general.startup.Stored(), "");
    EXPECT_FALSE(settings.general.startup.Get());
    EXPECT_EQ(settings.general.autoStartExchange.Get(), 7u) << "the number keeps its value";
    EXPECT_EQ(settings.network.timeOut.Stored(), "");
    EXPECT_EQ(settings.network.TimeOutSeconds(), 60) << "no value: the default is in force";
    EXPECT_EQ(settings.SaveNotify(), 0);
    CRegistryKey key;
    EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Notify")), 0)
        << "saving does not create the key";

    ASSERT_EQ(settings.Prepare(), 1);
    struct Row {
        const char* label;
        std::string stored;
        std::string loaded;
        int number;  // as stored
        int inForce; // the time-out the checks use
    };
    const Row rows[] = {
        {"letters", "abc", "abc", 0, 60},
        {"digits then letters", "45s", "45s", 45, 45},
        {"long value cut to 8 bytes", "1234567890", "12345678", 12345678, 86400},
        {"a day", "86400", "86400", 86400, 86400},
        {"a second more", "86401", "86401", 86401, 86400},
        {"one second", "1", "1", 1, 1},
        {"empty", "", "", 0, 60},
        {"zero", "0", "0", 0, 60},
        {"negative", "-5", "-5", -5, 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Write("Network", "TimeOut", row.stored);
        ASSERT_EQ(settings.LoadNetwork(), 1);
        EXPECT_EQ(settings.network.timeOut.Stored(), row.loaded);
        EXPECT_EQ(settings.network.timeOut.Get(), row.number);
        EXPECT_EQ(settings.network.TimeOutSeconds(), row.inForce);
    }
    Write("General", "AutoStartExchange", "yes");
    settings.general.autoStartExchange.Set(3);
    ASSERT_EQ(settings.LoadGeneral(), 1);
    EXPECT_EQ(settings.general.autoStartExchange.Get(), 3u)
        << "an unreadable number keeps its value";
}

TEST(RegSettings, UnwritableStoreGivesEmptySettings)
{
    TempDir dir;
    WriteWholeFile(dir.File("notafolder"), "x");
    ScopedEnv configHome("XDG_CONFIG_HOME", dir.File("notafolder"));
    CRegSettings settings;
    EXPECT_EQ(settings.Prepare(), 0);
    settings.notify.sound.Set(true);
    EXPECT_EQ(settings.LoadNotify(), 0);
    EXPECT_EQ(settings.notify.sound.Stored(), "");
    EXPECT_EQ(settings.SaveNotify(), 0);
    EXPECT_EQ(ReadWholeFile(dir.File("notafolder")), "x");
}

TEST(SettingNumber, ReadsLikeAtoi)
{
    struct Row {
        const char* label;
        std::string text;
        int value;
    };
    const Row rows[] = {
        {"plain", "60", 60},
        {"leading blanks", " \t 42", 42},
        {"trailing text", "15min", 15},
        {"plus sign", "+7", 7},
        {"minus sign", "-12", -12},
        {"letters", "abc", 0},
        {"empty", "", 0},
        {"sign alone", "-", 0},
        {"blank inside", "1 2", 1},
        {"largest int", "2147483647", INT_MAX},
        {"smallest int", "-2147483648", INT_MIN},
        {"too large is clamped", "99999999999999999999999", INT_MAX},
        {"too small is clamped", "-99999999999999999999999", INT_MIN},
        {"leading zeros", "0009", 9},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(SettingNumber(row.text), row.value);
    }
}

// Every reader of a switch or a number gets one answer from one stored text, and a save that
// did not change a value writes back what was there.
TEST_F(RegSettingsTest, SwitchesAndNumbersReadOneWayAndSaveUntouched)
{
    ASSERT_EQ(CRegSettings().Prepare(), 1);
    struct Row {
        const char* label;
        std::string stored;
        bool on;
        int number;
    };
    const Row rows[] = {
        {"one", "1", true, 1},
        {"zero", "0", false, 0},
        {"two", "2", true, 2},
        {"blank first", " 1", true, 1},
        {"digit then text", "1x", true, 1},
        {"empty", "", false, 0},
        {"text", "yes", false, 0},
        {"hex is text after the zero", "0x1", false, 0},
        {"negative", "-1", true, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Write("Notify", "Sound", row.stored);
        Write("Network", "UseExistDialup", row.stored);
        Write("Network", "UseConnection", row.stored);
        CRegSettings settings;
        ASSERT_EQ(settings.LoadNotify(), 1);
        ASSERT_EQ(settings.LoadNetwork(), 1);
        EXPECT_EQ(settings.notify.sound.Get(), row.on);
        EXPECT_EQ(settings.network.useExistDialup.Get(), row.on);
        EXPECT_EQ(settings.network.useConnection.Get(), row.number);
        settings.notify.flashIcon.Set(!settings.notify.flashIcon.Get());
        ASSERT_EQ(settings.SaveNotify(), 1);
        ASSERT_EQ(settings.SaveNetwork(), 1);
        EXPECT_EQ(Read("Notify", "Sound"), row.stored);
        EXPECT_EQ(Read("Network", "UseConnection"), row.stored);
    }
    CRegSettings settings;
    settings.notify.sound.Set(true);
    settings.network.useConnection.Set(3);
    settings.network.timeOut.Set(-7);
    ASSERT_EQ(settings.SaveNotify(), 1);
    ASSERT_EQ(settings.SaveNetwork(), 1);
    EXPECT_EQ(Read("Notify", "Sound"), "1") << "a switch set on is stored as 1";
    EXPECT_EQ(Read("Network", "UseConnection"), "3");
    EXPECT_EQ(Read("Network", "Timeout"), "-7") << "what is stored is what was set";
}

// The read sizes cut what the program sees, never what the file keeps: a long hand-written
// command or a number padded past 8 bytes survives a save of its group.
TEST_F(RegSettingsTest, ValuesLongerThanTheReadSizeSurviveASave)
{
    ASSERT_EQ(CRegSettings().Prepare(), 1);
    // "\xc3\xa9" straddles byte 260: the read stops before it.
    const std::string command = std::string(259, 'm') + "\xc3\xa9" + std::string(140, 'x');
    Write("General", "MailClientPath", command);
    Write("Network", "TimeOut", "1234567890");
    CRegSettings settings;
    ASSERT_EQ(settings.LoadGeneral(), 1);
    ASSERT_EQ(settings.LoadNetwork(), 1);
    EXPECT_EQ(settings.general.mailClientPath.Get(), std::string(259, 'm'));
    EXPECT_EQ(settings.network.timeOut.Get(), 12345678);
    ASSERT_EQ(settings.SaveGeneral(), 1);
    ASSERT_EQ(settings.SaveNetwork(), 1);
    CRegistryKey key;
    std::string whole;
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("General")), 1);
    ASSERT_EQ(key.ReadString("MailClientPath", whole, 4096), 1);
    EXPECT_EQ(whole, command);
    EXPECT_EQ(Read("Network", "TimeOut"), "1234567890");

    settings.general.mailClientPath.Set("mailer");
    ASSERT_EQ(settings.SaveGeneral(), 1);
    EXPECT_EQ(Read("General", "MailClientPath"), "mailer") << "a value set is saved as set";
}

// A sign-in sends codes and refresh tokens to the TokenUrl: a hand-edited profile may name
// https anywhere, but plain http only when the host really is this machine.
TEST_F(RegSettingsTest, OAuthProfileEndpointsAreHttpsOrThisMachine)
{
    const struct {
        const char* url;
        bool usable;
    } rows[] = {
        {"https://login.example.invalid/token", true},
        {"http://127.0.0.1:8080/token", true},
        {"http://127.0.0.1/token", true},
        {"http://[::1]:9/token", true},
        {"http://localhost", true},
        {"http://127.0.0.1:80@mail.example.invalid/token", false},
        {"http://localhost:@mail.example.invalid/token", false},
        {"http://[::1]:x@mail.example.invalid/", false},
        {"http://127.0.0.1.mail.example.invalid/", false},
        {"http://localhostx.example.invalid/", false},
        {"http://mail.example.invalid/token", false},
        {"https://", false},
        {"https://login.example.invalid/a b", false},
        {"file:///etc/passwd", false},
        {"ftp://127.0.0.1/token", false},
        {"", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        OAuthProvider written{"Hostile", "https://login.example.invalid/authorize",
                              row.url,   "client",
                              "",        "mail",
                              "XOAUTH2", "",
                              "",        "",
                              ""};
        ASSERT_EQ(OAuthProviders::Write(written), 1);
        OAuthProvider read;
        std::string error;
        EXPECT_EQ(OAuthProviders::Read("Hostile", read, error), row.usable ? 1 : 0) << error;
        if (!row.usable)
            EXPECT_NE(error.find("TokenUrl"), std::string::npos) << error;
    }
}

TEST(ProgramKey, PathsWithoutABundle)
{
    EXPECT_EQ(ProgramKey::CompanyWord(), "Koravel");
    EXPECT_EQ(ProgramKey::ApplicationWord(), "Pigeonpost");
    EXPECT_EQ(ProgramKey::Path(), "Software\\Koravel\\Pigeonpost");
    EXPECT_EQ(ProgramKey::Path("Filter Manager"), "Software\\Koravel\\Pigeonpost\\Filter Manager");
}

} // namespace
