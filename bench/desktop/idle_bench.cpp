// The desktop program at rest: 5 accounts, 100 000 stored messages in one of them.
//
//   bench_desktop_idle [seconds=60] [messages=100000]
//
// Starts the real program (offscreen unless QT_QPA_PLATFORM says otherwise) on a data
// folder of its own, lets it settle, then reports over `seconds` its resident memory, CPU
// share and wake-ups per second (context switches of all its threads). Then, in this
// process, the time the header list takes to show the big account and to remove every
// other message of it. Targets: under 60 MB resident, under 1% CPU, the big list in under
// 1 s.
#include "apppaths.h"
#include "mailboxfile.h"
#include "mailheadlist.h"
#include "messageid.h"
#include "resourcelibrary.h"

#include <QApplication>
#include <QItemSelection>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

StoredMessage Realistic(unsigned n)
{
    StoredMessage m;
    m.messageId = MessageId();
    m.mailType = "POP3";
    m.read = n % 7 ? "Yes" : "No";
    m.sender = "Ann Example <ann" + std::to_string(n % 1000) + "@example.org>";
    m.subject = "Re: quarterly figures for the northern region, draft " + std::to_string(n);
    m.date = "Mon 07/12/2026 12:34";
    m.size = std::to_string(4000 + n % 50000);
    m.preview = std::string(512, 'x');
    m.attachment = n % 5 ? "No" : "Yes";
    m.uid = "UID" + std::to_string(100000000 + n);
    return m;
}

int Run(const std::vector<std::string>& args, bool wait)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (!wait)
        return pid;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long StatusField(const std::string& file, const std::string& field)
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return 0;
}

long Switches(pid_t pid)
{
    long total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        const std::string status = task.path().string() + "/status";
        total += StatusField(status, "voluntary_ctxt_switches") +
                 StatusField(status, "nonvoluntary_ctxt_switches");
    }
    return total;
}

double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    std::string rest = text.substr(text.rfind(')') + 2);
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end; (end = rest.find(' ', start)) != std::string::npos; start = end + 1)
        fields.push_back(rest.substr(start, end - start));
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / ticks;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const unsigned total = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 100000;
    const std::string dir = std::filesystem::temp_directory_path().string() + "/pw-bench-desktop-" +
                            std::to_string(::getpid());
    ::setenv("POSTWATCH_HOME", (dir + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir + "/share").c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // Five accounts through the command line; "Big" gets the messages.
    for (const char* name : {"Big", "Home", "Work", "Club", "Old"}) {
        if (Run({"/bin/sh", "-c",
                 "echo secret | '" POSTWATCH_BINARY "' --add-account " + std::string(name) +
                     " --kind POP3 --server 127.0.0.1 --port 1 --user u"},
                true) != 0) {
            std::fprintf(stderr, "could not add account %s\n", name);
            return 1;
        }
    }
    {
        CMailBoxFile box;
        if (!box.Open(AppPaths::MailBoxFile("Big"))) {
            std::fprintf(stderr, "cannot open the big store: %s\n", box.LastError().c_str());
            return 1;
        }
        for (unsigned n = 0; n < total;) {
            std::vector<StoredMessage> batch;
            for (unsigned k = 0; k < 1000 && n < total; ++k)
                batch.push_back(Realistic(n++));
            box.Append(batch);
        }
        box.Close();
    }

    const pid_t pid = Run({POSTWATCH_BINARY}, false);
    std::this_thread::sleep_for(std::chrono::seconds(5)); // start-up settles
    const double cpu0 = CpuSeconds(pid);
    const long switches0 = Switches(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = (CpuSeconds(pid) - cpu0) / elapsed * 100.0;
    const double wakeups = static_cast<double>(Switches(pid) - switches0) / elapsed;
    const long rssKiB = StatusField("/proc/" + std::to_string(pid) + "/status", "VmRSS");
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);

    std::printf("idle over %.0f s: resident %.1f MB, CPU %.2f %%, %.1f wake-ups/s\n", elapsed,
                static_cast<double>(rssKiB) / 1024.0, cpu, wakeups);

    // The big list, shown in this process the way the window shows it.
    QApplication app(argc, argv);
    std::string error;
    ResourceLibrary::LoadDefault(&error);
    CMailHeadList list;
    list.resize(900, 600);
    list.show();
    QCoreApplication::processEvents();
    const auto t1 = Clock::now();
    list.Load("Big");
    QCoreApplication::processEvents();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t1).count();
    std::printf("big account shown: %u messages in %.0f ms\n", total, ms);

    // A scattered selection removed the way a user does it: every other message selected,
    // then Remove (one rewrite of Message.box and the rows taken out of the list).
    QItemSelection everyOther;
    const int columns = list.Model()->columnCount();
    for (int r = 0; r < list.Model()->Rows(); r += 2)
        everyOther.select(list.Model()->index(r, 0), list.Model()->index(r, columns - 1));
    list.selectionModel()->select(everyOther, QItemSelectionModel::ClearAndSelect);
    const int before = list.Model()->Rows();
    const auto t2 = Clock::now();
    list.RemoveSelected();
    QCoreApplication::processEvents();
    const double removeMs = std::chrono::duration<double, std::milli>(Clock::now() - t2).count();
    std::printf("every other message removed: %d rows in %.0f ms\n", before - list.Model()->Rows(),
                removeMs);
    std::filesystem::remove_all(dir);
    return 0;
}
