// The default new-mail sound: a new user with "Sound" on hears the chime that ships in the
// asset folder, at the path the settings give it.
#include "qttestapp.h"
#include "regsettings.h"
#include "support/tempdir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSoundEffect>
#include <QUrl>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

// What the RIFF/WAVE reader found; `error` says why it stopped.
struct Wave {
    std::string error;
    int format = 0;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::vector<int16_t> samples;
};

uint32_t Le(const std::string& bytes, std::size_t at, int size)
{
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | uint8_t(bytes[at + std::size_t(i)]);
    return value;
}

Wave ReadWave(const std::string& bytes)
{
    Wave wave;
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        wave.error = "no RIFF/WAVE header";
        return wave;
    }
    if (Le(bytes, 4, 4) != bytes.size() - 8) {
        wave.error = "the RIFF size is not the file's size";
        return wave;
    }
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const std::size_t size = Le(bytes, at + 4, 4);
        if (at + 8 + size > bytes.size()) {
            wave.error = "chunk \"" + id + "\" runs past the end";
            return wave;
        }
        if (id == "fmt " && size >= 16) {
            wave.format = int(Le(bytes, at + 8, 2));
            wave.channels = int(Le(bytes, at + 10, 2));
            wave.rate = int(Le(bytes, at + 12, 4));
            wave.bits = int(Le(bytes, at + 22, 2));
        } else if (id == "data") {
            for (std::size_t i = 0; i + 1 < size; i += 2)
                wave.samples.push_back(int16_t(Le(bytes, at + 8 + i, 2)));
        }
        at += 8 + size + (size & 1);
    }
    if (wave.format == 0 || wave.samples.empty())
        wave.error = "no \"fmt \" or no \"data\" chunk";
    return wave;
}

// The largest magnitude among samples [from, to), as a fraction of full scale.
double Peak(const Wave& wave, std::size_t from, std::size_t to)
{
    int peak = 0;
    for (std::size_t i = from; i < to && i < wave.samples.size(); ++i)
        peak = std::max(peak, std::abs(int(wave.samples[i])));
    return peak / 32768.0;
}

TEST(DefaultSound, DefaultPathIsAShortSoftChime)
{
    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", dir.File("sysconfig")};
    ScopedEnv dataHome{"XDG_DATA_HOME", dir.File("data")};
    ScopedEnv leds{"POSTWATCH_LED_ROOT", dir.File("no-leds")};
    // The asset folder the program finds by itself: beside this executable in the build tree.
    ScopedEnv assets{"POSTWATCH_ASSETS", ""};

    CRegSettings settings;
    ASSERT_EQ(settings.Prepare(), 1);
    ASSERT_EQ(settings.LoadNotify(), 1);
    EXPECT_TRUE(settings.notify.sound.Get());
    const std::string path = settings.notify.soundFileName.Get();
    ASSERT_TRUE(std::filesystem::is_regular_file(path)) << path;

    const Wave wave = ReadWave(ReadWholeFile(path));
    ASSERT_EQ(wave.error, "") << path;
    const std::size_t count = wave.samples.size();
    const double seconds = double(count) / std::max(wave.rate, 1);
    const std::size_t edge = std::size_t(wave.rate / 1000); // 1 ms
    struct Row {
        const char* name;
        double value;
        double low;
        double high;
    };
    const Row rows[] = {
        {"PcmFormat", double(wave.format), 1, 1},
        {"Mono", double(wave.channels), 1, 1},
        {"SixteenBits", double(wave.bits), 16, 16},
        {"CommonRate", double(wave.rate), 22050, 48000},
        {"ShortSeconds", seconds, 0.3, 1.2},
        {"AudibleButNotLoud", Peak(wave, 0, count), 0.2, 0.7},
        {"SoftAttack", Peak(wave, 0, edge), 0.0, 0.1},
        {"FadesToSilence", Peak(wave, count - edge, count), 0.0, 0.01},
    };
    for (const Row& row : rows) {
        EXPECT_GE(row.value, row.low) << row.name;
        EXPECT_LE(row.value, row.high) << row.name;
    }

    // Qt Multimedia decodes it: the effect loads, with or without an audio output.
    QtTestApp::Ensure();
    QSoundEffect effect;
    effect.setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
    QElapsedTimer timer;
    timer.start();
    while (effect.status() == QSoundEffect::Loading && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(effect.status(), QSoundEffect::Ready);
}

} // namespace
