// The Maildir provider at the three moments that matter to a user:
//
//   bench_maildir [messages=50000] [unread=5000] [deliveries=1000] [idle seconds=10]
//
// 1. Log-on scan: a Maildir of `messages` (about 2 KB each, over the inbox and 9 subfolders)
//    of which `unread` are unread (half in new/, half in cur/ without "S"). A child process
//    runs what the log-on asks of the provider: OpenProfile, Folders, Messages of every
//    folder and Details of every unread message (body limit 2 KiB). Time and the child's
//    peak resident memory (VmHWM). Targets: under 2 s, under 50 MB.
// 2. New-mail latency: `deliveries` messages delivered by the Maildir protocol (tmp/, then
//    rename into new/) at 100 per second into a watched store; from just before the rename to
//    the new-mail callback, and to the end of Details in that callback. Median and 99th
//    percentile. Targets: median under 20 ms, p99 under 100 ms.
// 3. Idle: a store of 200 folders watched for `idle seconds` with no mail; the context
//    switches of every thread but the main one (/proc/self/task/*/status). Target: none.
#include "maildirprovider.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
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

std::string Message(unsigned n)
{
    std::string m = "From: =?UTF-8?Q?Ann_M=C3=BCller?= <ann" + std::to_string(n % 1000) +
                    "@example.org>\nTo: bob@example.org\nSubject: Re: quarterly figures, draft " +
                    std::to_string(n) + "\nDate: Mon, 7 Dec 2026 10:00:00 +0100\nMessage-ID: <" +
                    std::to_string(n) +
                    "@example.org>\nContent-Type: text/plain; charset=utf-8\n"
                    "Content-Transfer-Encoding: quoted-printable\n\n";
    while (m.size() < 2000)
        m += "The figures for the northern region are attached below, Gr=C3=BC=C3=9Fe.\n";
    return m;
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The big Maildir: `messages` over the inbox and 9 subfolders, `unread` of them unread.
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
            std::to_string(1700000000 + n) + ".M" + std::to_string(n) + "P1.bench,S=2000";
        std::string path;
        if (n < unread / 2)
            path = folder + "/new/" + unique;
        else if (n < unread)
            path = folder + "/cur/" + unique + ":2,F";
        else
            path = folder + "/cur/" + unique + ":2,RS";
        Write(path, Message(n));
    }
}

void ScanBench(const std::string& root)
{
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const auto start = Clock::now();
        MaildirProvider provider({{"Bench", {root}}});
        std::vector<ProviderStore> stores;
        std::string why;
        size_t folderCount = 0, messageCount = 0, unreadCount = 0, bodyBytes = 0;
        if (provider.OpenProfile("Bench", stores, &why) != ProviderStatus::kOk) {
            std::printf("scan: %s\n", why.c_str());
            ::_exit(1);
        }
        for (const ProviderStore& store : stores) {
            std::vector<ProviderFolder> folders;
            provider.Folders(store, folders, &why);
            for (const ProviderFolder& folder : folders) {
                ++folderCount;
                std::vector<ProviderMessage> messages;
                provider.Messages(folder, messages, &why);
                messageCount += messages.size();
                for (const ProviderMessage& m : messages) {
                    if (m.read)
                        continue;
                    ProviderMessageDetails details;
                    if (provider.Details(folder.id, m.entryId, 2048, details)) {
                        ++unreadCount;
                        bodyBytes += details.body.size();
                    }
                }
            }
        }
        const double ms = Ms(Clock::now() - start);
        std::printf("log-on scan: %zu folders, %zu messages, %zu unread read in %.0f ms "
                    "(%zu body bytes); peak resident %.1f MB\n",
                    folderCount, messageCount, unreadCount, ms, bodyBytes,
                    StatusField("/proc/self/status", "VmHWM") / 1024.0);
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
}

struct Latencies {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<Clock::time_point> seen;
    std::vector<Clock::time_point> read;
};

void LatencyBench(const std::string& root, unsigned deliveries)
{
    MakeMaildir(root);
    MaildirProvider provider({{"Bench", {root}}});
    std::vector<ProviderStore> stores;
    std::string why;
    provider.OpenProfile("Bench", stores, &why);
    Latencies lat;
    std::vector<Clock::time_point> sent(deliveries);
    const int watch = provider.Watch(
        stores.at(0),
        [&](const ProviderNewMail& mail) {
            const auto seen = Clock::now();
            ProviderMessageDetails details;
            provider.Details(mail.folderId, mail.entryId, 2048, details);
            const auto read = Clock::now();
            std::lock_guard lock(lat.mutex);
            lat.seen.push_back(seen);
            lat.read.push_back(read);
            lat.done.notify_all();
        },
        &why);
    if (watch <= 0) {
        std::printf("latency: %s\n", why.c_str());
        return;
    }
    const std::string body = Message(1);
    const auto period = std::chrono::milliseconds(10); // 100 per second
    auto next = Clock::now();
    for (unsigned n = 0; n < deliveries; ++n) {
        std::this_thread::sleep_until(next);
        next += period;
        const std::string unique = std::to_string(1800000000 + n) + ".M1P1.latency";
        Write(root + "/tmp/" + unique, body);
        sent[n] = Clock::now();
        fs::rename(root + "/tmp/" + unique, root + "/new/" + unique);
    }
    {
        std::unique_lock lock(lat.mutex);
        lat.done.wait_for(lock, std::chrono::seconds(30),
                          [&] { return lat.seen.size() >= deliveries; });
    }
    provider.Unwatch(watch);
    std::lock_guard lock(lat.mutex);
    std::vector<double> toCallback, toDetails;
    for (size_t i = 0; i < lat.seen.size() && i < deliveries; ++i) {
        toCallback.push_back(Ms(lat.seen[i] - sent[i]));
        toDetails.push_back(Ms(lat.read[i] - sent[i]));
    }
    auto pct = [](std::vector<double> v, double p) {
        if (v.empty())
            return 0.0;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
    };
    std::printf("new-mail latency over %zu of %u deliveries at 100/s: rename -> callback median "
                "%.2f ms, p99 %.2f ms, max %.2f ms; -> details read median %.2f ms, p99 %.2f ms\n",
                toCallback.size(), deliveries, pct(toCallback, 0.5), pct(toCallback, 0.99),
                pct(toCallback, 1.0), pct(toDetails, 0.5), pct(toDetails, 0.99));
}

long OtherThreadSwitches()
{
    long total = 0;
    const std::string self = std::to_string(::getpid());
    DIR* d = ::opendir("/proc/self/task");
    while (const dirent* e = d ? ::readdir(d) : nullptr) {
        const std::string tid = e->d_name;
        if (tid == "." || tid == ".." || tid == self)
            continue;
        const std::string file = "/proc/self/task/" + tid + "/status";
        total += StatusField(file, "voluntary_ctxt_switches") +
                 StatusField(file, "nonvoluntary_ctxt_switches");
    }
    if (d)
        ::closedir(d);
    return total;
}

void IdleBench(const std::string& root, int seconds)
{
    MakeMaildir(root);
    for (int i = 1; i < 200; ++i)
        MakeMaildir(root + "/.Folder" + std::to_string(i));
    MaildirProvider provider({{"Bench", {root}}});
    std::vector<ProviderStore> stores;
    std::string why;
    provider.OpenProfile("Bench", stores, &why);
    std::atomic<int> mail{0};
    const int watch = provider.Watch(
        stores.at(0), [&](const ProviderNewMail&) { ++mail; }, &why);
    if (watch <= 0) {
        std::printf("idle: %s\n", why.c_str());
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the thread settles
    const long before = OtherThreadSwitches();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long after = OtherThreadSwitches();
    std::printf("idle: 200 folders watched for %d s: %ld wake-ups of the watch thread, "
                "%d new-mail calls\n",
                seconds, after - before, mail.load());
    provider.Unwatch(watch);
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned messages = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 50000;
    const unsigned unread = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 5000;
    const unsigned deliveries = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1000;
    const int idleSeconds = argc > 4 ? std::atoi(argv[4]) : 10;

    std::string templ = (fs::temp_directory_path() / "pwbench-maildir-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
        return 1;
    const std::string dir = templ;

    const auto start = Clock::now();
    Populate(dir + "/Big", messages, unread);
    std::printf("made %u messages (%u unread) in %.0f ms\n", messages, unread,
                Ms(Clock::now() - start));
    ScanBench(dir + "/Big");
    LatencyBench(dir + "/Latency", deliveries);
    IdleBench(dir + "/Idle", idleSeconds);

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
