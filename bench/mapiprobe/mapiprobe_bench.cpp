// The mailbox watcher's whole log-on and watch, from the Maildir to the record at the sink:
//
//   bench_mapiprobe [messages=50000] [unread=5000] [deliveries=1000]
//
// 1. Log-on scan: a Maildir of `messages` (about 2 KB each, inbox and 9 subfolders), `unread`
//    of them unread. A child process logs on through MapiprobeSession over the Maildir
//    provider with a sink that counts the records: every unread message is looked up in and
//    appended to the MIDs file, filtered and reported. Time and the child's peak resident
//    memory (VmHWM); then a second log-on, when every message is known. Targets: under 2 s,
//    under 50 MB.
// 2. New-mail latency: `deliveries` messages delivered by the Maildir protocol (tmp/, then
//    rename into new/) at 100 per second while logged on; from just before the rename to the
//    record at the sink. Median and 99th percentile. Targets: median under 20 ms, p99 under
//    100 ms.
#include "apppaths.h"
#include "maildirprovider.h"
#include "mapiprobesession.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

long StatusField(const std::string& file, const std::string& field)
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return 0;
}

void MakeMaildir(const std::string& path)
{
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(path + "/" + sub);
}

std::string Message(const std::string& subject)
{
    std::string m =
        "From: Ann Example <ann@example.org>\nTo: bob@example.org\nSubject: " + subject +
        "\nDate: Mon, 7 Dec 2026 10:00:00 +0100\n"
        "Content-Type: text/plain; charset=utf-8\n\n";
    while (m.size() < 2000)
        m += "The figures for the northern region are attached below.\n";
    return m;
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void Populate(const std::string& root, unsigned messages, unsigned unread)
{
    std::vector<std::string> folders = {root};
    MakeMaildir(root);
    for (int i = 1; i < 10; ++i) {
        folders.push_back(root + "/.Folder" + std::to_string(i));
        MakeMaildir(folders.back());
    }
    for (unsigned n = 0; n < messages; ++n) {
        const std::string& folder = folders[n % folders.size()];
        const std::string unique =
            std::to_string(1700000000 + n) + ".M" + std::to_string(n) + "P1.bench";
        const std::string path =
            n < unread ? folder + "/new/" + unique : folder + "/cur/" + unique + ":2,S";
        Write(path, Message("message " + std::to_string(n)));
    }
}

// Counts records; for the latency run, notes when each arrives.
struct CountingSink {
    std::mutex mutex;
    std::condition_variable arrived;
    long records = 0;
    std::vector<Clock::time_point> at;

    static int32_t Deliver(void* ctx, uint32_t, const char* const* fields, uint32_t)
    {
        const auto now = Clock::now();
        auto* self = static_cast<CountingSink*>(ctx);
        std::lock_guard<std::mutex> lock(self->mutex);
        ++self->records;
        // Subjects of the latency run are "late <index>".
        const std::string subject = fields[1];
        if (subject.rfind("late ", 0) == 0) {
            const size_t i = std::strtoul(subject.c_str() + 5, nullptr, 10);
            if (i < self->at.size())
                self->at[i] = now;
        }
        self->arrived.notify_all();
        return PW_SINK_HANDLED;
    }
    static int32_t Result(void*, int32_t, int32_t, const char*) { return PW_SINK_HANDLED; }
    static int32_t Ask(void*, const char*, const char*, uint32_t, uint32_t)
    {
        return PW_ANSWER_CANCEL;
    }
    PwSink Sink()
    {
        return PwSink{this, &CountingSink::Deliver, &CountingSink::Result, &CountingSink::Ask,
                      nullptr};
    }
};

void ScanBench(const std::string& root)
{
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        MapiprobeSession session(
            std::make_unique<MaildirProvider>(MaildirProvider::ProfileList{{"Bench", {root}}}));
        for (const char* which : {"first log-on (all new)", "second log-on (all known)"}) {
            CountingSink sink;
            int32_t count = 0;
            const auto start = Clock::now();
            const int result = session.Logon(sink.Sink(), "Bench", "Bench", 0, count, 2048);
            const double ms = Ms(Clock::now() - start);
            session.Logoff(nullptr);
            std::printf("%s: result %d, %d reported in %.0f ms; peak resident %.1f MB\n", which,
                        result, count, ms, StatusField("/proc/self/status", "VmHWM") / 1024.0);
        }
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
}

void LatencyBench(const std::string& root, unsigned deliveries)
{
    MapiprobeSession session(
        std::make_unique<MaildirProvider>(MaildirProvider::ProfileList{{"Bench", {root}}}));
    CountingSink sink;
    sink.at.assign(deliveries, Clock::time_point{});
    int32_t count = 0;
    if (session.Logon(sink.Sink(), "Bench", "Bench", 0, count, 2048) != PW_LOGON_DONE) {
        std::printf("latency: log-on failed\n");
        return;
    }
    std::vector<Clock::time_point> sent(deliveries);
    auto next = Clock::now();
    for (unsigned i = 0; i < deliveries; ++i) {
        std::this_thread::sleep_until(next);
        next += std::chrono::milliseconds(10); // 100 per second
        const std::string name = "1800000000.L" + std::to_string(i) + "P1.bench";
        Write(root + "/tmp/" + name, Message("late " + std::to_string(i)));
        sent[i] = Clock::now();
        fs::rename(root + "/tmp/" + name, root + "/new/" + name);
    }
    {
        std::unique_lock<std::mutex> lock(sink.mutex);
        sink.arrived.wait_for(lock, std::chrono::seconds(30), [&] {
            return sink.records >= count + static_cast<long>(deliveries);
        });
    }
    session.Logoff(nullptr);
    std::vector<double> ms;
    for (unsigned i = 0; i < deliveries; ++i)
        if (sink.at[i] != Clock::time_point{})
            ms.push_back(Ms(sink.at[i] - sent[i]));
    if (ms.empty()) {
        std::printf("latency: nothing arrived\n");
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("new-mail latency over %zu of %u deliveries at 100/s: rename -> record at the "
                "sink median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                ms.size(), deliveries, ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned messages = argc > 1 ? std::atoi(argv[1]) : 50000;
    const unsigned unread = argc > 2 ? std::atoi(argv[2]) : 5000;
    const unsigned deliveries = argc > 3 ? std::atoi(argv[3]) : 1000;
    char dirTemplate[] = "/tmp/pw-bench-mapiprobe-XXXXXX";
    if (!::mkdtemp(dirTemplate))
        return 1;
    const std::string dir = dirTemplate;
    ::setenv("POSTWATCH_HOME", (dir + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    AppPaths::MakeDirs(AppPaths::AccountDir("Bench"));

    const auto start = Clock::now();
    Populate(dir + "/Maildir", messages, unread);
    std::printf("made %u messages (%u unread) in %.0f ms\n", messages, unread,
                Ms(Clock::now() - start));
    ScanBench(dir + "/Maildir");

    MakeMaildir(dir + "/Watched");
    LatencyBench(dir + "/Watched", deliveries);
    fs::remove_all(dir);
    return 0;
}
