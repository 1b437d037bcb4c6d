// The dispatcher's choices: Notify settings x main-window state x check result -> actions,
// and the same path on the desktop with the real tray icon, LED blinker and popups.
#include "desktopnotifyactions.h"
#include "leddevice.h"
#include "mailledblinker.h"
#include "notifyactions.h"
#include "notifydispatcher.h"
#include "notifywindow.h"
#include "popupframe.h"
#include "programkey.h"
#include "qttestapp.h"
#include "registrykey.h"
#include "support/tablerow.h"
#include "support/tempdir.h"
#include "trayicon.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace
{

class RecordingActions : public NotifyActions
{
public:
    bool IsMainWindowMinimised() const override { return minimised; }
    void BringMainWindowToFront() override { calls.push_back("front"); }
    void PlaySound(const std::string& fileName) override { calls.push_back("sound " + fileName); }
    void FlashTrayIcon(const std::string& tooltip) override { calls.push_back("flash " + tooltip); }
    void StartLedBlink() override { calls.push_back("led"); }
    void Run3dEffect() override { calls.push_back("3d"); }
    void ShowPopup(const std::string& body, const std::string& title, unsigned bitmapId,
                   int seconds) override
    {
        calls.push_back("popup " + body + " | " + title + " | " + std::to_string(bitmapId) + " | " +
                        std::to_string(seconds));
    }
    void StartMailClient(const std::string& command) override
    {
        calls.push_back("client " + command);
    }
    bool ShowCertificateNotice(const std::string& account, const std::string& title,
                               const std::string& body, const std::string& pin) override
    {
        calls.push_back("trust-notice " + account + " | " + body + " | " + title + " | " + pin);
        return true;
    }

    bool minimised = false;
    std::vector<std::string> calls;
};

// The seven Notify values, in the order 3dEffect, FlashIcon, MailClient, Message, MailLED,
// Sound; nullptr: the Notify key does not exist.
struct Switches {
    const char* effect3d;
    const char* flashIcon;
    const char* mailClient;
    const char* message;
    const char* mailLed;
    const char* sound;
};
constexpr Switches kAllOn = {"1", "1", "1", "1", "1", "1"};
constexpr Switches kAllOff = {"0", "0", "0", "0", "0", "0"};

const std::string kOne = "You have 1 new message in Work account";
const std::string kTwo = "You have 2 new messages in Work account";
const std::string kSound = "sound /opt/pigeonpost/Sound/Notify.wav";
const std::string kClient = "client mailer --compose";

struct DispatchRow {
    const char* name;
    std::optional<Switches> notify;
    bool minimised;
    int32_t count;
    int32_t result;
    std::vector<std::string> calls;
    CNotifyDispatcher::Codes codes = CNotifyDispatcher::Codes::MailClient;
    PeerCertificate refused = {};
    bool desktopNotify = false;
};

const std::string kNewMailPopup1 = "popup " + kOne + " | New Mail | 460 | 3";
const std::string kNewMailPopup2 = "popup " + kTwo + " | New Mail | 460 | 3";
constexpr Switches kOnly(int which)
{
    Switches s = kAllOff;
    const char** fields[] = {&s.effect3d, &s.flashIcon, &s.mailClient,
                             &s.message,  &s.mailLed,   &s.sound};
    *fields[which] = "1";
    return s;
}
enum { k3d, kFlash, kClientOn, kMessage, kLed, kSoundOn };

constexpr CNotifyDispatcher::Codes kWebMail = CNotifyDispatcher::Codes::WebMail;
constexpr CNotifyDispatcher::Codes kMailClient = CNotifyDispatcher::Codes::MailClient;

// A certificate a check refused, and the lines its notice shows after the heading.
PeerCertificate Refused(bool changed)
{
    PeerCertificate c;
    c.subject = "CN=mail.example.org";
    c.issuer = "CN=Example CA";
    c.notBefore = "2026-01-01 00:00:00 UTC";
    c.notAfter = "2027-01-01 00:00:00 UTC";
    c.sha256 = std::string(62, 'a') + "0f";
    c.changed = changed;
    return c;
}
const std::string kCertificateLines =
    "\nSubject: CN=mail.example.org\nIssuer: CN=Example CA\nValid: 2026-01-01 00:00:00 UTC "
    "until 2027-01-01 00:00:00 UTC\nSHA-256: " +
    [] {
        std::string pairs;
        for (int i = 0; i < 31; ++i)
            pairs += "AA:";
        return pairs + "0F";
    }();
const std::string kUntrustedBody = "The server's certificate is not trusted." + kCertificateLines;

// clang-format off
const std::vector<DispatchRow> kDispatchRows = {
    {"AllOnMinimised", kAllOn, true, 1, 4, {kSound, "flash " + kOne, "led", "3d", kNewMailPopup1, kClient}},
    {"AllOnShownRaisesButNeitherFlashesNorBlinks", kAllOn, false, 2, 4, {kSound, "front", "3d", kNewMailPopup2, kClient}},
    {"AllOffMinimised", kAllOff, true, 3, 4, {}},
    {"OnlySound", kOnly(kSoundOn), false, 1, 4, {kSound}},
    {"OnlyFlashWhileShown", kOnly(kFlash), false, 1, 4, {}},
    {"OnlyFlashWhileMinimised", kOnly(kFlash), true, 1, 4, {"flash " + kOne}},
    {"OnlyLedWhileShown", kOnly(kLed), false, 1, 4, {}},
    {"OnlyLedWhileMinimised", kOnly(kLed), true, 1, 4, {"led"}},
    {"Only3dWhileMinimisedDoesNotRaise", kOnly(k3d), true, 1, 4, {"3d"}},
    {"OnlyMessage", kOnly(kMessage), false, 1, 4, {kNewMailPopup1}},
    {"OnlyMailClient", kOnly(kClientOn), true, 5, 4, {kClient}},
    {"SwitchesReadLikeAtoi", Switches{"2", " 1", "1x", "", "0x1", "abc"}, true, 1, 4, {"flash " + kOne, "3d", kClient}},
    {"NewMailWinsOverAFailureResult", kOnly(kMessage), false, 1, 3, {kNewMailPopup1}},
    {"ErrorAfterLogin", kAllOff, false, 0, 1, {"popup The server reported an error while mail was being checked. | Work | 303 | 1"}},
    {"LoginRefused", kAllOn, true, 0, 2, {"popup The server refused the log-in. Please check the user name and password. | Work | 303 | 1"}},
    {"NoConnection", kAllOn, false, 0, 3, {"popup The mail server could not be reached. | Work | 303 | 2"}},
    {"DoneWithoutMailShowsNothing", kAllOn, true, 0, 4, {}},
    {"NoMemoryShowsNothing", kAllOn, true, 0, 0, {}},
    {"UnknownResultShowsNothing", kAllOn, true, 0, 5, {}},
    {"NegativeCountShowsNothing", kAllOn, true, -1, 1, {}},
    {"NoNotifyKeyNewMail", std::nullopt, true, 1, 4, {}},
    {"NoNotifyKeyFailure", std::nullopt, true, 0, 3, {}},
    {"WebMailTimeOut", kAllOff, false, 0, 1, {"popup The web-mail server did not answer in time. | Work | 303 | 1"}, kWebMail},
    {"WebMailLoginRefused", kAllOff, false, 0, 2, {"popup The server refused the log-in. Please check the user name and password. | Work | 303 | 1"}, kWebMail},
    {"WebMailHttpError", kAllOff, false, 0, 3, {"popup The web-mail server answered with an error. | Work | 303 | 2"}, kWebMail},
    {"WebMailOtherFailureShowsNothing", kAllOn, true, 0, 5, {}, kWebMail},
    {"WebMailNewMail", kOnly(kMessage), false, 1, 4, {kNewMailPopup1}, kWebMail},
    // A refused certificate says what it names, long enough to read, whatever the switches.
    {"CertificateRefused", kAllOff, false, 0, 3, {"popup " + kUntrustedBody + " | Work | 303 | 8"}, kMailClient, Refused(false)},
    {"CertificateChanged", kAllOff, false, 0, 3, {"popup The server's certificate has changed since you trusted it." + kCertificateLines + " | Work | 303 | 8"}, kMailClient, Refused(true)},
    {"CertificateNoticeOffersTrust", kAllOff, false, 0, 3, {"trust-notice Work | " + kUntrustedBody + " | Work | " + Refused(false).sha256}, kMailClient, Refused(false), true},
    {"CertificateWithoutDesktopNoticeIsAPopup", kAllOn, true, 0, 3, {"popup " + kUntrustedBody + " | Work | 303 | 8"}, kMailClient, Refused(false), false},
    {"WebMailHasNoCertificateOffer", kAllOff, false, 0, 3, {"popup The web-mail server answered with an error. | Work | 303 | 2"}, kWebMail, Refused(false)},
    {"NoNotifyKeyCertificate", std::nullopt, true, 0, 3, {}, kMailClient, Refused(false)},
};
// clang-format on

// A settings store of its own, with the General key holding the mail-client command.
class DispatcherTest : public ::testing::Test
{
protected:
    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", dir.File("sysconfig")};

    void SetUp() override
    {
        QtTestApp::Ensure();
        std::filesystem::create_directories(dir.File("config"));
        Write("General", "MailClientPath", "mailer --compose");
    }

    static void Write(const std::string& group, const std::string& name, const std::string& text)
    {
        CRegistryKey key;
        ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, ProgramKey::Path(group)), 1);
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path(group)), 1);
        ASSERT_EQ(key.WriteString(name, text), 1);
    }

    static void WriteNotify(const Switches& s)
    {
        Write("Notify", "3dEffect", s.effect3d);
        Write("Notify", "FlashIcon", s.flashIcon);
        Write("Notify", "MailClient", s.mailClient);
        Write("Notify", "Message", s.message);
        Write("Notify", "MailLED", s.mailLed);
        Write("Notify", "Sound", s.sound);
        Write("Notify", "SoundFileName", "/opt/pigeonpost/Sound/Notify.wav");
    }
};

POSTWATCH_ROW_PRINTS_NAME(DispatchRow)

class Dispatch : public DispatcherTest, public ::testing::WithParamInterface<DispatchRow>
{
};

TEST_P(Dispatch, Choices)
{
    const DispatchRow& row = GetParam();
    if (row.notify)
        WriteNotify(*row.notify);
    if (row.desktopNotify)
        Write("Notify", "DesktopNotify", "1");
    RecordingActions actions;
    actions.minimised = row.minimised;
    CNotifyDispatcher dispatcher(actions);
    dispatcher.Notify("Work", row.count, row.result, row.codes, row.refused);
    EXPECT_EQ(actions.calls, row.calls);
}

INSTANTIATE_TEST_SUITE_P(Table, Dispatch, ::testing::ValuesIn(kDispatchRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A change of the settings applies to the very next summary.
TEST_F(DispatcherTest, SettingsAreReadForEverySummary)
{
    WriteNotify(kAllOff);
    RecordingActions actions;
    CNotifyDispatcher dispatcher(actions);
    dispatcher.Notify("Work", 1, 4);
    EXPECT_TRUE(actions.calls.empty());
    Write("Notify", "Sound", "1");
    dispatcher.Notify("Work", 1, 4);
    EXPECT_EQ(actions.calls, std::vector<std::string>{kSound});
}

// The desktop's side: a minimised main window gets the tray flash, the blinking LED and a
// popup on its screen; the 3D command reaches the window.
class FakeWindow : public NotifyWindow
{
public:
    bool IsMinimised() const override { return minimised; }
    void BringToFront() override { ++raised; }
    void Run3dEffect() override { ++effects; }
    QScreen* PopupScreen() const override { return nullptr; }

    bool minimised = true;
    int raised = 0;
    int effects = 0;
};

class NoCommands : public TrayCommands
{
public:
    void RunCommand(unsigned) override {}
    void SelectAccount(const std::string&) override {}
    void BringToFront() override {}
    TrayMenuState MenuState() const override { return {}; }
};

TEST_F(DispatcherTest, DesktopEffectsWhileMinimised)
{
    WriteNotify(Switches{"1", "1", "0", "1", "1", "1"});
    std::filesystem::create_directories(dir.File("leds/test::mail"));
    WriteWholeFile(dir.File("leds/test::mail/brightness"), "0");
    CLedDevice led(dir.File("leds"));
    ASSERT_TRUE(led.Open());
    CMailLedBlinker blinker(led);
    NoCommands commands;
    CTrayIcon tray(commands);
    ASSERT_TRUE(tray.Start(QStringLiteral("Koravel Pigeonpost")));
    FakeWindow window;
    CDesktopNotifyActions actions(window, tray, blinker);
    CNotifyDispatcher dispatcher(actions);

    dispatcher.Notify("Work", 2, 4);
    EXPECT_TRUE(tray.IsAnimating());
    EXPECT_EQ(tray.Tooltip(), QString::fromStdString(kTwo));
    EXPECT_TRUE(blinker.IsBlinking());
    EXPECT_EQ(window.effects, 1);
    EXPECT_EQ(window.raised, 0);
    ASSERT_EQ(CPopupFrame::Popups().size(), 1);
    EXPECT_EQ(CPopupFrame::Popups().front()->Text(),
              QStringLiteral("          New Mail\n") + QString::fromStdString(kTwo));
    CPopupFrame::CloseAll();
    blinker.StopBlink();
    QtTestApp::Flush();
}

} // namespace
