// Writes the default new-mail sound, Sound/Notify.wav: a short two-tone chime (G5, then C6 a
// fourth above), each tone a soft bell (a few partials with a gentle attack and an exponential
// decay), 0.6 s of 16-bit PCM mono at 22 050 Hz, peaking well below full scale. The output is
// the same on every run.
//
//     pw_chimegen OUTPUT.wav
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace
{

constexpr int kRate = 22050;
constexpr double kSeconds = 0.6;
constexpr double kPeak = 0.45; // of full scale: a notification, not an alarm

struct Tone {
    double start;     // seconds
    double frequency; // Hz
    double level;
};

constexpr Tone kTones[] = {{0.0, 783.99, 0.8}, {0.16, 1046.50, 1.0}};

// A bell-like tone: the fundamental and two quieter partials that die away faster.
double Bell(double t, double frequency)
{
    constexpr double kAttack = 0.012; // seconds: no click at the start
    const double attack = t < kAttack ? std::sin(0.5 * std::numbers::pi * t / kAttack) : 1.0;
    const double w = 2.0 * std::numbers::pi * frequency * t;
    const double body = std::sin(w) * std::exp(-t / 0.18) +
                        0.30 * std::sin(2.0 * w) * std::exp(-t / 0.09) +
                        0.12 * std::sin(3.0 * w) * std::exp(-t / 0.05);
    return attack * body;
}

void Put16(std::string& out, uint16_t v)
{
    out += char(v & 0xFF);
    out += char(v >> 8);
}

void Put32(std::string& out, uint32_t v)
{
    Put16(out, uint16_t(v & 0xFFFF));
    Put16(out, uint16_t(v >> 16));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    const int count = int(kSeconds * kRate);
    std::vector<double> mix(std::size_t(count), 0.0);
    for (const Tone& tone : kTones) {
        for (int i = int(tone.start * kRate); i < count; ++i)
            mix[std::size_t(i)] +=
                tone.level * Bell(double(i) / kRate - tone.start, tone.frequency);
    }
    // The last 60 ms fade to silence, so the sound ends without a click.
    const int fade = int(0.06 * kRate);
    for (int i = count - fade; i < count; ++i)
        mix[std::size_t(i)] *= 0.5 + 0.5 * std::cos(std::numbers::pi * (i - (count - fade)) / fade);
    double loudest = 0.0;
    for (double v : mix)
        loudest = std::fmax(loudest, std::fabs(v));
    const double gain = loudest > 0.0 ? kPeak * 32767.0 / loudest : 0.0;

    std::string data;
    for (double v : mix)
        Put16(data, uint16_t(int16_t(std::lround(v * gain))));

    // RIFF/WAVE with a PCM "fmt " chunk (format 1, mono, 16 bits) and one "data" chunk.
    std::string file = "RIFF";
    Put32(file, uint32_t(36 + data.size()));
    file += "WAVEfmt ";
    Put32(file, 16);
    Put16(file, 1);
    Put16(file, 1);
    Put32(file, kRate);
    Put32(file, kRate * 2);
    Put16(file, 2);
    Put16(file, 16);
    file += "data";
    Put32(file, uint32_t(data.size()));
    file += data;

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(file.data(), std::streamsize(file.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
