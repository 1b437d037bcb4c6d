// Kills a child process with SIGKILL at each step of the Account.cfg writers, then checks
// that the file reopens consistent: every acknowledged record is there, the interrupted
// change is either whole or absent, and adding an account still works.
#include "accountlist.h"
#include "support/tempdir.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::vector<std::string> LoadNames(const std::string& path)
{
    CAccountList list(path);
    std::vector<AccountListRecord> records;
    EXPECT_EQ(list.Load(records), 1) << list.Error();
    std::vector<std::string> names;
    for (const auto& r : records)
        names.push_back(r.name);
    return names;
}

// Runs `op` in a child armed to die at `step`; true when the child was killed there.
bool KilledAt(const std::string& step, const std::function<void()>& op)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("POSTWATCH_CRASH_AT", step.c_str(), 1);
        op();
        ::_exit(0); // the step was not reached
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

using Names = std::vector<std::string>;

TEST(AccountCfgCrash, KillAtEveryStep)
{
    enum Op { AppendC, DeleteA, RenameB };
    const std::vector<Names> afterAppend = {{"A", "B"}, {"A", "B", "C"}};
    const std::vector<Names> afterDelete = {{"A", "B"}, {"B"}};
    const std::vector<Names> afterRename = {{"A", "B"}, {"A", "B2"}};
    struct Row {
        const char* step;
        bool startEmpty; // no Account.cfg before the operation
        bool tornTail;   // the file carries an uncounted half record
        Op op;
        std::vector<Names> allowed; // what a reader may see afterwards
    } rows[] = {
        {"accountcfg.append.header", true, false, AppendC, {{}, {"C"}}},
        {"accountcfg.append.repaired", false, true, AppendC, afterAppend},
        {"accountcfg.append.grow", false, false, AppendC, afterAppend},
        {"accountcfg.append.slot1", false, false, AppendC, afterAppend},
        {"accountcfg.append.slot2", false, false, AppendC, afterAppend},
        {"accountcfg.append.slot3", false, false, AppendC, afterAppend},
        {"accountcfg.append.synced", false, false, AppendC, afterAppend},
        {"accountcfg.append.count", false, false, AppendC, afterAppend},
        {"accountcfg.delete.written", false, false, DeleteA, afterDelete},
        {"accountcfg.delete.committed", false, false, DeleteA, afterDelete},
        {"accountcfg.update.written", false, false, RenameB, afterRename},
        {"accountcfg.update.committed", false, false, RenameB, afterRename},
    };
    const std::string b2 = "B2";
    for (const auto& r : rows) {
        TempDir dir;
        std::string path = dir.File("Account.cfg");
        CAccountList list(path);
        if (!r.startEmpty) {
            ASSERT_EQ(list.Append("A", "", "pa"), 1);
            ASSERT_EQ(list.Append("B", "lock", "pb"), 1);
        }
        if (r.tornTail) {
            std::string bytes = ReadWholeFile(path);
            WriteWholeFile(path, bytes + std::string(100, 'T'));
        }
        ASSERT_TRUE(KilledAt(r.step,
                             [&] {
                                 if (r.op == AppendC)
                                     list.Append("C", "", "pc");
                                 else if (r.op == DeleteA)
                                     list.Delete("A");
                                 else
                                     list.Update("B", &b2, nullptr, nullptr);
                             }))
            << r.step << " was never reached";

        Names seen = LoadNames(path);
        bool ok = false;
        for (const auto& allowed : r.allowed)
            ok = ok || seen == allowed;
        EXPECT_TRUE(ok) << r.step << ": unexpected list after the kill";

        // Adding an account works and lands after what is there, on a whole-record file.
        ASSERT_EQ(list.Append("D", "", "pd"), 1) << r.step << ": " << list.Error();
        Names after = LoadNames(path);
        Names expected = seen;
        expected.push_back("D");
        EXPECT_EQ(after, expected) << r.step;
        EXPECT_EQ(ReadWholeFile(path).size(), 2048 + 192 * expected.size()) << r.step;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
                << r.step << ": left behind " << entry.path();
    }
}

} // namespace
