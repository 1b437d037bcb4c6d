// The new-mail sound and the mail-client start: neither may block or fail loudly.
#include "mailclientstart.h"
#include "qttestapp.h"
#include "soundplayer.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

// A valid 8-bit mono wave file of 100 silent samples.
std::string SilentWave()
{
    auto le32 = [](uint32_t v) {
        return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                           char(v >> 24)};
    };
    auto le16 = [](uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
    const std::string samples(100, char(0x80));
    return "RIFF" + le32(36 + samples.size()) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
           le32(8000) + le32(8000) + le16(1) + le16(8) + "data" + le32(samples.size()) + samples;
}

struct SoundRow {
    const char* name;
    const char* file; // relative to the test folder; "" the empty name
    bool playsWithAudio;
};

const std::vector<SoundRow> kSoundRows = {
    {"EmptyName", "", false},
    {"MissingFile", "missing.wav", false},
    {"Folder", "sounds", false},
    {"WaveFile", "sounds/Notify.wav", true},
};

POSTWATCH_ROW_PRINTS_NAME(SoundRow)

class SoundPlay : public ::testing::TestWithParam<SoundRow>
{
protected:
    void SetUp() override { QtTestApp::Ensure(); }
};

TEST_P(SoundPlay, PlaysOnlyWhatCanBeHeard)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("sounds"));
    WriteWholeFile(dir.File("sounds/Notify.wav"), SilentWave());
    const std::string file = *GetParam().file ? dir.File(GetParam().file) : "";

    CSoundPlayer player;
    // Without an audio output nothing is handed over at all: an effect would never finish.
    const bool expected = GetParam().playsWithAudio && CSoundPlayer::HasAudioOutput();
    EXPECT_EQ(player.Play(file), expected);
    EXPECT_EQ(player.Play(file), expected); // a second sound replaces the first
    QCoreApplication::processEvents();
}

INSTANTIATE_TEST_SUITE_P(Table, SoundPlay, ::testing::ValuesIn(kSoundRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct ClientRow {
    const char* name;
    const char* command; // "%s" becomes the marker file
    bool started;
    const char* marker; // what the started client writes, "" none
};

const std::vector<ClientRow> kClientRows = {
    {"EmptyCommand", "", false, ""},
    {"OnlyBlanks", "   ", false, ""},
    {"NoSuchProgram", "/nonexistent/mailer --compose", false, ""},
    {"QuotedArgumentsStayTogether", "/bin/sh -c \"echo started > '%s'\"", true, "started\n"},
};

POSTWATCH_ROW_PRINTS_NAME(ClientRow)

class MailClientStart : public ::testing::TestWithParam<ClientRow>
{
protected:
    void SetUp() override { QtTestApp::Ensure(); }
};

TEST_P(MailClientStart, Command)
{
    TempDir dir;
    const std::string marker = dir.File("marker");
    std::string command = GetParam().command;
    if (const size_t at = command.find("%s"); at != std::string::npos)
        command.replace(at, 2, marker);
    EXPECT_EQ(StartMailClientCommand(command), GetParam().started);
    if (!*GetParam().marker)
        return;
    QElapsedTimer waited;
    waited.start();
    while (ReadWholeFile(marker) != GetParam().marker && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(ReadWholeFile(marker), GetParam().marker);
}

INSTANTIATE_TEST_SUITE_P(Table, MailClientStart, ::testing::ValuesIn(kClientRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
