// The mail LED on the kernel's LED class, against fake LED folders, and its blink sequence.
#include "leddevice.h"
#include "mailledblinker.h"
#include "qttestapp.h"
#include "regsettings.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;

// One entry of a fake LED root: a device folder (or a plain file, or a link to a folder
// elsewhere, as sysfs lists them) with optional attribute files.
struct FakeLed {
    std::string name;
    enum class Kind { Folder, File, Link } kind = Kind::Folder;
    const char* brightness = "0"; // nullptr: no such file
    const char* maxBrightness = "255";
};

void MakeLeds(const std::string& root, const std::vector<FakeLed>& leds)
{
    fs::create_directories(root);
    for (const FakeLed& led : leds) {
        const std::string path = root + "/" + led.name;
        if (led.kind == FakeLed::Kind::File) {
            WriteWholeFile(path, "0");
            continue;
        }
        std::string folder = path;
        if (led.kind == FakeLed::Kind::Link) {
            folder = root + "/../devices/" + led.name;
            fs::create_directories(folder);
            fs::create_symlink(folder, path);
        }
        fs::create_directories(folder);
        if (led.brightness)
            WriteWholeFile(folder + "/brightness", led.brightness);
        if (led.maxBrightness)
            WriteWholeFile(folder + "/max_brightness", led.maxBrightness);
    }
}

struct OpenRow {
    const char* name;
    std::vector<FakeLed> leds;
    bool makeRoot;
    bool open;
    uint32_t capabilities;
    const char* device;  // chosen folder's name, "" when closed
    const char* onValue; // brightness after SetMailLed(1); nullptr: file must not change
};

using K = FakeLed::Kind;

// clang-format off
const std::vector<OpenRow> kOpenRows = {
    {"NoRootFolder", {}, false, false, 0, "", nullptr},
    {"EmptyRoot", {}, true, false, 0, "", nullptr},
    {"OnlyOtherLeds", {{"input3::capslock"}, {"phy0-led"}}, true, false, 0, "", nullptr},
    {"MailInTheMiddleOfTheName", {{"asus::mail-x"}}, true, false, 0, "", nullptr},
    {"PlainFileNamedLikeADevice", {{"asus::mail", K::File}}, true, false, 0, "", nullptr},
    {"DeviceWithoutBrightness", {{"asus::mail", K::Folder, nullptr}}, true, true, 0, "asus::mail", nullptr},
    {"WritableDevice", {{"asus::mail"}}, true, true, 2, "asus::mail", "255\n"},
    {"LinkedDeviceAsInSysfs", {{"acer-wmi::mail", K::Link}}, true, true, 2, "acer-wmi::mail", "255\n"},
    {"NoMaxBrightnessMeansOne", {{"clevo::mail", K::Folder, "0", nullptr}}, true, true, 2, "clevo::mail", "1\n"},
    {"GarbageMaxBrightnessMeansOne", {{"clevo::mail", K::Folder, "0", "lots"}}, true, true, 2, "clevo::mail", "1\n"},
    {"WritableDeviceWinsOverAnEarlierOne", {{"a::mail", K::Folder, nullptr}, {"b::mail", K::Folder, "0", "7"}},
     true, true, 2, "b::mail", "7\n"},
    {"FirstByNameOfTwoWritable", {{"z::mail", K::Folder, "0", "9"}, {"m::mail"}}, true, true, 2, "m::mail", "255\n"},
};
// clang-format on

POSTWATCH_ROW_PRINTS_NAME(OpenRow)

class LedDeviceOpen : public ::testing::TestWithParam<OpenRow>
{
};

TEST_P(LedDeviceOpen, FindsTheMailLed)
{
    const OpenRow& row = GetParam();
    TempDir dir;
    const std::string root = dir.File("leds");
    if (row.makeRoot)
        MakeLeds(root, row.leds);

    CLedDevice led(root);
    EXPECT_EQ(led.Open(), row.open);
    EXPECT_EQ(led.IsOpen(), row.open);
    EXPECT_EQ(led.Capabilities(), row.capabilities);
    EXPECT_EQ(led.HasMailLed(), row.capabilities == CLedDevice::kMailLedBit);
    EXPECT_EQ(led.DevicePath(), row.open ? root + "/" + row.device : "");

    EXPECT_EQ(led.SetMailLed(1), 1);
    if (!row.onValue) {
        // Nothing may be written anywhere below the root.
        for (const FakeLed& fake : row.leds)
            if (fake.kind == FakeLed::Kind::Folder && fake.brightness)
                EXPECT_EQ(ReadWholeFile(root + "/" + fake.name + "/brightness"), fake.brightness);
        return;
    }
    const std::string brightness = led.DevicePath() + "/brightness";
    EXPECT_EQ(ReadWholeFile(brightness), row.onValue);
    EXPECT_EQ(led.SetMailLed(0), 1);
    EXPECT_EQ(ReadWholeFile(brightness), "0\n");
}

INSTANTIATE_TEST_SUITE_P(Table, LedDeviceOpen, ::testing::ValuesIn(kOpenRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LedDeviceRoot, EnvironmentNamesTheRoot)
{
    {
        ScopedEnv root(CLedDevice::kRootVariable, "/tmp/fake-leds");
        EXPECT_EQ(CLedDevice::DefaultRoot(), "/tmp/fake-leds");
        EXPECT_EQ(CLedDevice().Root(), "/tmp/fake-leds");
    }
    ScopedEnv empty(CLedDevice::kRootVariable, "");
    EXPECT_EQ(CLedDevice::DefaultRoot(), "/sys/class/leds");
}

// The start-up preparation asks the device for the "MailLED" default of a new Notify key.
struct PrepareRow {
    const char* name;
    std::vector<FakeLed> leds;
    const char* mailLed;
};

const std::vector<PrepareRow> kPrepareRows = {
    {"WritableMailLed", {{"asus::mail"}}, "1"},
    {"MailLedWithoutBrightness", {{"asus::mail", K::Folder, nullptr}}, "0"},
    {"NoMailLed", {{"input3::capslock"}}, "0"},
};

POSTWATCH_ROW_PRINTS_NAME(PrepareRow)

class LedPrepare : public ::testing::TestWithParam<PrepareRow>
{
};

TEST_P(LedPrepare, MailLedDefault)
{
    TempDir dir;
    ScopedEnv configHome("XDG_CONFIG_HOME", dir.File("config"));
    ScopedEnv configDirs("XDG_CONFIG_DIRS", dir.File("sysconfig"));
    ScopedEnv dataHome("XDG_DATA_HOME", dir.File("data"));
    ScopedEnv dataDirs("XDG_DATA_DIRS", dir.File("sysdata"));
    ScopedEnv root(CLedDevice::kRootVariable, dir.File("leds"));
    fs::create_directories(dir.File("config"));
    MakeLeds(dir.File("leds"), GetParam().leds);

    CLedDevice led;
    CRegSettings settings;
    ASSERT_EQ(settings.Prepare(led), 1);
    ASSERT_EQ(settings.LoadNotify(), 1);
    EXPECT_EQ(settings.notify.mailLed.Stored(), GetParam().mailLed);
    EXPECT_EQ(led.HasMailLed(), std::string(GetParam().mailLed) == "1");
}

INSTANTIATE_TEST_SUITE_P(Table, LedPrepare, ::testing::ValuesIn(kPrepareRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The blink as the user sees it: each row is one operation and the LED's value after it
// ("-" while nothing has been written since the start).
struct BlinkRow {
    const char* name;
    std::vector<std::pair<char, const char*>> steps; // S start, T tick, X stop
    bool blinkingAtEnd;
};

const std::vector<BlinkRow> kBlinkRows = {
    {"StartsWithOffThenAlternates",
     {{'S', "-"}, {'T', "0"}, {'T', "255"}, {'T', "0"}, {'T', "255"}},
     true},
    {"StopRestsOn", {{'S', "-"}, {'T', "0"}, {'X', "255"}}, false},
    {"StopRightAfterStartRestsOn", {{'S', "-"}, {'X', "255"}}, false},
    {"StopWithoutBlinkStillRestsOn", {{'X', "255"}}, false},
    {"NewMailWhileBlinkingStartsAgainFromOff",
     {{'S', "-"}, {'T', "0"}, {'S', "255"}, {'T', "0"}, {'T', "255"}},
     true},
    {"NewMailAfterOnPhaseAlsoStartsFromOff",
     {{'S', "-"}, {'T', "0"}, {'T', "255"}, {'S', "255"}, {'T', "0"}},
     true},
};

POSTWATCH_ROW_PRINTS_NAME(BlinkRow)

class MailLedBlink : public ::testing::TestWithParam<BlinkRow>
{
protected:
    void SetUp() override { QtTestApp::Ensure(); }
};

TEST_P(MailLedBlink, Sequence)
{
    TempDir dir;
    const std::string root = dir.File("leds");
    MakeLeds(root, {{"asus::mail", K::Folder, "-"}});
    CLedDevice led(root);
    ASSERT_TRUE(led.Open());
    const std::string brightness = root + "/asus::mail/brightness";

    CMailLedBlinker blinker(led);
    int step = 0;
    for (const auto& [op, expected] : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(step++) + " " + op);
        if (op == 'S')
            blinker.StartBlink();
        else if (op == 'T')
            blinker.BlinkStep();
        else
            blinker.StopBlink();
        std::string value = ReadWholeFile(brightness);
        if (!value.empty() && value.back() == '\n')
            value.pop_back();
        EXPECT_EQ(value, expected);
        if (op == 'S') {
            EXPECT_TRUE(blinker.IsBlinking());
            EXPECT_TRUE(blinker.MailFlagged());
            EXPECT_EQ(blinker.PeriodMs(), CMailLedBlinker::kPeriodMs);
        }
        if (op == 'X')
            EXPECT_FALSE(blinker.Phase());
    }
    EXPECT_EQ(blinker.IsBlinking(), GetParam().blinkingAtEnd);
}

INSTANTIATE_TEST_SUITE_P(Table, MailLedBlink, ::testing::ValuesIn(kBlinkRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The timer drives the steps, and a blinker that goes away leaves the LED resting.
TEST(MailLedBlinkTimer, RunsOnItsTimerAndRestsWhenDestroyed)
{
    QtTestApp::Ensure();
    TempDir dir;
    const std::string root = dir.File("leds");
    MakeLeds(root, {{"asus::mail", K::Folder, "-"}});
    CLedDevice led(root);
    ASSERT_TRUE(led.Open());
    const std::string brightness = root + "/asus::mail/brightness";
    {
        CMailLedBlinker blinker(led);
        blinker.StartBlink();
        QElapsedTimer waited;
        waited.start();
        while (ReadWholeFile(brightness) != "0\n" && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        EXPECT_EQ(ReadWholeFile(brightness), "0\n");
    }
    EXPECT_EQ(ReadWholeFile(brightness), "255\n");
}

} // namespace
