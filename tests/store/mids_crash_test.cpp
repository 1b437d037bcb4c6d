// Kills a process that appends to a MIDs file (SIGKILL at each crash point, then at random
// moments) and checks what the next Open finds: every acknowledged identifier, in order,
// then at most the one in flight, and a file whose count and records agree again.
#include "midsfile.h"
#include "support/tempdir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace
{

// Runs the helper with its standard output in `outFile`; returns its wait status, or kills
// it after `killAfter` when that is not negative.
int RunHelper(const std::vector<std::string>& args, const std::string& outFile,
              std::chrono::milliseconds killAfter = std::chrono::milliseconds(-1))
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(MIDS_CRASH_HELPER));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    ::unsetenv("POSTWATCH_CRASH_AT");
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    if (killAfter.count() >= 0) {
        std::this_thread::sleep_for(killAfter);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

struct HelperOutput {
    long start = -1; // -1: killed before it opened the file
    std::vector<long> acks;
};

HelperOutput ReadOutput(const std::string& out)
{
    HelperOutput h;
    std::istringstream in(ReadWholeFile(out));
    std::string word;
    long n = 0;
    while (in >> word >> n) {
        if (word == "start")
            h.start = n;
        else if (word == "ack")
            h.acks.push_back(n);
    }
    return h;
}

// The file opens, its identifiers are id0, id1, ... in order, and it needed no repair
// beyond what Open does. Returns the count, or -1.
long CheckFile(const std::string& path, const std::string& name)
{
    CMidsFile mids;
    std::string error;
    if (mids.Open(path, std::chrono::milliseconds(0), &error) != CMidsFile::OpenResult::kOpen) {
        ADD_FAILURE() << name << ": " << error;
        return -1;
    }
    const auto& ids = mids.Identifiers();
    for (size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(ids[i], "id" + std::to_string(i)) << name;
    return static_cast<long>(ids.size());
}

TEST(MidsCrash, KilledAtEachStep)
{
    struct Row {
        const char* name;
        const char* step;
        long kept; // of 3 appends, the crash armed before the third
        const char* mode = "each";
    } rows[] = {
        // Killed after the record reached the file, before it was flushed: the page cache
        // keeps it, and a record beyond the count counts.
        {"records", "mids.append.records", 3},
        {"count", "mids.append.count", 3},
        {"group-records", "mids.append.records", 3, "group"},
        {"group-count", "mids.append.count", 3, "group"},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string path = dir.File("MIDs"), out = dir.File("out");
        const int status = RunHelper({path, "3", "2", r.step, r.mode}, out);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << r.name;
        EXPECT_EQ(ReadOutput(out).acks.size(), 2u) << r.name;
        EXPECT_EQ(CheckFile(path, r.name), r.kept) << r.name;
        // The file goes on: a clean run adds one after them.
        const int clean = RunHelper({path, "1", "-1", "none"}, out);
        EXPECT_TRUE(WIFEXITED(clean) && WEXITSTATUS(clean) == 0) << r.name;
        EXPECT_EQ(CheckFile(path, r.name), r.kept + 1) << r.name;
    }
}

// POSTWATCH_CRASH_LOOPS sets the number of kills (1000 for the long run). Every other run
// appends as a group commit does.
TEST(MidsCrash, RandomKills)
{
    const char* env = std::getenv("POSTWATCH_CRASH_LOOPS");
    const int loops = env ? std::atoi(env) : 30;
    TempDir dir;
    const std::string path = dir.File("MIDs"), out = dir.File("out");
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> delay(0, 60);
    long count = 0;
    for (int i = 0; i < loops; ++i) {
        const std::string name = "kill " + std::to_string(i);
        const int status = RunHelper({path, "100000", "-1", "none", i % 2 ? "group" : "each"}, out,
                                     std::chrono::milliseconds(delay(random)));
        ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << name;
        const HelperOutput h = ReadOutput(out);
        long least = count, most = count;
        if (h.start >= 0) {
            EXPECT_EQ(h.start, count) << name;
            least = h.acks.empty() ? h.start : h.acks.back() + 1;
            most = least + 1; // the append in flight, whole or not at all
        }
        const long now = CheckFile(path, name);
        ASSERT_GE(now, least) << name;
        ASSERT_LE(now, most) << name;
        count = now;
    }
}

} // namespace
