// The 3D notifier's cost: CPU of this process while the model turns (sizes 1 and 2) and
// while the window is inactive, the time between frames, and the event latency of the GUI
// thread (which the main window shares) while the model turns.
//
//   bench_notifier3d [seconds=5]
//
// Runs on the X display of $DISPLAY (run it under tests/support/with-xvfb.sh 1024x768) with
// Mesa's software OpenGL, on a settings store of its own. Latency: an event is posted every
// 7 ms and the time until it is handled is recorded. Targets: no timer and no CPU while
// inactive; latency median under 5 ms, 99th percentile under 16 ms.
#include "notifier3dwindow.h"
#include "programkey.h"
#include "registrykey.h"
#include "regsettings.h"
#include "resourcelibrary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace
{

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class Probe : public QObject
{
public:
    QElapsedTimer clock;
    std::vector<double> latencies; // ms
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        latencies.push_back(double(clock.nsecsElapsed() - sentAt_) / 1e6);
        return true;
    }
    void Send()
    {
        sentAt_ = clock.nsecsElapsed();
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }

private:
    qint64 sentAt_ = 0;
};

// Runs the event loop (sleeping when idle, as the program does) for `ms` milliseconds.
void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double Percentile(std::vector<double> values, double part)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(part * double(values.size())))];
}

struct Figures {
    double cpuShare = 0; // of one core
    int frames = 0;
    double frameMs = 0;
};

Figures Measure(CNotifier3dWindow& window, int seconds)
{
    int frames = 0;
    auto connection = QObject::connect(&window, &QOpenGLWindow::frameSwapped, [&] { ++frames; });
    const double cpu = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunFor(seconds * 1000);
    Figures f;
    f.cpuShare = (CpuSeconds() - cpu) / (double(wall.nsecsElapsed()) / 1e9);
    f.frames = frames;
    f.frameMs = frames ? double(wall.elapsed()) / frames : 0;
    QObject::disconnect(connection);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string home = std::filesystem::temp_directory_path() /
                             ("pw-bench-notifier3d-" + std::to_string(getpid()));
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    QApplication app(argc, argv);
    std::string error;
    ResourceLibrary::LoadDefault(&error);
    CRegSettings().Prepare();

    for (int size : {1, 2}) {
        {
            CRegistryKey key;
            key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Options"));
            key.WriteDword("Size", uint32_t(size));
        }
        CNotifier3dWindow window;
        if (!window.Create()) {
            std::fprintf(stderr, "bench_notifier3d: the 3D window did not come up\n");
            return 1;
        }
        RunFor(500);
        const Figures turning = Measure(window, seconds);
        std::printf("size %d (%dx%d) turning: CPU %.1f %% of a core, %d frames in %d s, "
                    "%.1f ms per frame\n",
                    size, window.Pixels(), window.Pixels(), turning.cpuShare * 100, turning.frames,
                    seconds, turning.frameMs);

        if (size == 2) {
            Probe probe;
            probe.clock.start();
            QTimer sender;
            sender.setInterval(7);
            QObject::connect(&sender, &QTimer::timeout, [&] { probe.Send(); });
            sender.start();
            RunFor(seconds * 1000);
            sender.stop();
            RunFor(50);
            std::printf("event latency while turning: %zu events, median %.2f ms, p99 %.2f ms, "
                        "max %.2f ms\n",
                        probe.latencies.size(), Percentile(probe.latencies, 0.5),
                        Percentile(probe.latencies, 0.99), Percentile(probe.latencies, 1.0));

            window.Deactivated();
            RunFor(200);
            const Figures idle = Measure(window, seconds);
            std::printf("inactive: frame timer %s, CPU %.2f %% of a core, %d frames in %d s\n",
                        window.Animating() ? "running" : "stopped", idle.cpuShare * 100,
                        idle.frames, seconds);
        }
        window.close();
        RunFor(200);
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
