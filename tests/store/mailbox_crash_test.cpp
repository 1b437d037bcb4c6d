// Kills a process that writes Message.box (SIGKILL at each crash point, then at random
// moments) and checks what the next Open finds: a usable store in which every
// acknowledged message is kept whole, and an interrupted message is absent or whole.
#include "mailbox_crash_helper.h"
#include "mailboxfile.h"
#include "support/tempdir.h"
#include "uidfile.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace
{

struct Run {
    pid_t pid = -1;
    std::string out;
};

pid_t Spawn(const std::vector<std::string>& args, const std::string& outFile)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    ::unsetenv("POSTWATCH_CRASH_AT");
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int Wait(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::vector<unsigned> Acks(const std::string& out)
{
    std::vector<unsigned> acks;
    std::istringstream in(out);
    std::string word;
    unsigned n = 0;
    while (in >> word >> n)
        if (word == "ack")
            acks.push_back(n);
    return acks;
}

bool Same(const StoredMessage& a, const StoredMessage& b)
{
    return a.messageId == b.messageId && a.mailType == b.mailType && a.read == b.read &&
           a.sender == b.sender && a.subject == b.subject && a.date == b.date && a.size == b.size &&
           a.preview == b.preview && a.attachment == b.attachment && a.uid == b.uid;
}

// Every record k of the store is CrashMessage(k), whole. Returns the count, or -1.
long CheckStore(const std::string& path, const char* name, int& repairs)
{
    CMailBoxFile box;
    if (!box.Open(path)) {
        ADD_FAILURE() << name << ": " << box.LastError();
        return -1;
    }
    repairs += !box.LastRepair().empty();
    unsigned k = 0;
    while (box.Next()) {
        StoredMessage m;
        EXPECT_EQ(box.ReadCurrent(m, true, true), 1) << name;
        EXPECT_TRUE(Same(m, CrashMessage(k))) << name << ": record " << k << " damaged";
        ++k;
    }
    EXPECT_EQ(k, box.Count()) << name;
    return k;
}

TEST(MailBoxCrash, KilledAtEachStep)
{
    struct Row {
        const char* name;
        const char* mode;
        const char* step;
        long arg;        // append: messages to store; delete: index to remove
        long armAfter;   // append: number of messages stored before arming
        unsigned before; // records stored by a clean run first
        std::vector<unsigned> records;
    } rows[] = {
        {"append-head", "append", "mailbox.append.head", 3, 2, 0, {0, 1}},
        {"append-record", "append", "mailbox.append.record", 3, 2, 0, {0, 1}},
        {"append-synced", "append", "mailbox.append.synced", 3, 2, 0, {0, 1}},
        {"append-count", "append", "mailbox.append.count", 3, 2, 0, {0, 1, 2}},
        {"append-done", "append", "mailbox.append.done", 3, 2, 0, {0, 1, 2}},
        {"append-first-head", "append", "mailbox.append.head", 1, 0, 0, {}},
        {"delete-written", "delete", "mailbox.delete.written", 1, 0, 3, {0, 1, 2}},
        {"delete-done", "delete", "mailbox.delete.done", 1, 0, 3, {0, 2}},
        // Records 1 and 3 are IMAP4: their identifiers go with the rename, never before.
        {"forget-written", "forget", "mailbox.forget.written", 0, 0, 4, {0, 1, 2, 3}},
        {"forget-done", "forget", "mailbox.forget.done", 0, 0, 4, {0, 1, 2, 3}},
        // Killed once the count is lowered, before the cut: the tail is uncounted, cut.
        {"cutback-count", "cutback", "mailbox.cutback.count", 2, 0, 3, {0, 1, 2}},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string box = dir.File("Message.box"), uid = dir.File("UID.inf"),
                          out = dir.File("out");
        if (r.before) {
            pid_t pid = Spawn(
                {MAILBOX_CRASH_HELPER, "append", box, uid, std::to_string(r.before), "-1", "none"},
                out);
            ASSERT_GT(pid, 0);
            int st = Wait(pid);
            ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << r.name;
        }
        pid_t pid = Spawn({MAILBOX_CRASH_HELPER, r.mode, box, uid, std::to_string(r.arg),
                           std::to_string(r.armAfter), r.step},
                          out);
        ASSERT_GT(pid, 0) << r.name;
        int st = Wait(pid);
        EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL) << r.name << " status " << st;
        std::vector<unsigned> acks = Acks(ReadWholeFile(out));
        if (std::string(r.mode) == "append")
            EXPECT_EQ(acks.size(), static_cast<size_t>(r.armAfter)) << r.name;

        CMailBoxFile reopened;
        ASSERT_EQ(reopened.Open(box), 1) << r.name << ": " << reopened.LastError();
        std::vector<unsigned> got;
        while (reopened.Next()) {
            StoredMessage m;
            ASSERT_EQ(reopened.ReadCurrent(m, true, true), 1) << r.name;
            unsigned n = static_cast<unsigned>(std::stoul(m.messageId.substr(24)));
            StoredMessage want = CrashMessage(n);
            if (std::string(r.step) == "mailbox.forget.done" && want.mailType == "IMAP4")
                want.uid.clear();
            EXPECT_TRUE(Same(m, want)) << r.name << ": record " << n;
            got.push_back(n);
        }
        EXPECT_EQ(got, r.records) << r.name;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            EXPECT_EQ(entry.path().filename().string().find("Message.box.tmp-"), std::string::npos)
                << r.name << ": copy left behind";
        // The store goes on: a clean run adds one more and it opens without repair.
        reopened.Close();
        pid = Spawn({MAILBOX_CRASH_HELPER, "append", box, uid, "1", "-1", "none"}, out);
        st = Wait(pid);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << r.name;
        ASSERT_EQ(reopened.Open(box), 1) << r.name;
        EXPECT_TRUE(reopened.LastRepair().empty()) << r.name << reopened.LastRepair();
        EXPECT_EQ(reopened.Count(), r.records.size() + 1) << r.name;
    }
}

// POSTWATCH_CRASH_LOOPS sets the number of kills (1000 for the long run).
TEST(MailBoxCrash, RandomKills)
{
    const char* env = std::getenv("POSTWATCH_CRASH_LOOPS");
    const int loops = env ? std::atoi(env) : 50;
    TempDir dir;
    const std::string box = dir.File("Message.box"), uid = dir.File("UID.inf"),
                      out = dir.File("out");
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> delay(0, 150);
    long count = 0;  // records in the store before the run
    long acked = 0;  // messages acknowledged over all runs
    int repairs = 0; // kills that left a torn append behind
    for (int i = 0; i < loops; ++i) {
        const std::string name = "kill " + std::to_string(i);
        pid_t pid = Spawn({MAILBOX_CRASH_HELPER, "append", box, uid, "1000", "-1", "none"}, out);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
        ::kill(pid, SIGKILL);
        const int status = Wait(pid);
        ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) != 0)
            << name << ": helper failed with " << WEXITSTATUS(status);
        const std::string text = ReadWholeFile(out);
        const std::vector<unsigned> acks = Acks(text);
        acked += static_cast<long>(acks.size());
        // Every acknowledged message is kept; beyond the last one at most the message in
        // flight, whole. A helper killed before it opened the store changed nothing.
        long least = count, most = count;
        if (text.rfind("start ", 0) == 0) {
            const long start = std::stol(text.substr(6));
            EXPECT_EQ(start, count) << name;
            least = acks.empty() ? start : acks.back() + 1;
            most = least + 1;
        }
        const long now = CheckStore(box, name.c_str(), repairs);
        ASSERT_GE(now, 0) << name;
        EXPECT_GE(now, least) << name;
        EXPECT_LE(now, most) << name;
        count = now;
        // UID.inf names only stored messages, in order (a kill between the two writes
        // leaves one stored message without its identifier: reported once more).
        std::vector<std::string> uids;
        ASSERT_EQ(ReadUids(uid, uids), 1);
        long last = -1;
        for (const auto& u : uids) {
            long n = std::stol(u.substr(3));
            EXPECT_GT(n, last) << name;
            EXPECT_LT(n, count) << name;
            last = n;
        }
    }
    RecordProperty("torn_appends_repaired", repairs);
    std::printf("%d kills, %d left a torn append that Open cut, %ld messages acknowledged, "
                "%ld stored\n",
                loops, repairs, acked, count);
}

// ---- the merge's group commit ----------------------------------------------------------

// What a killed merge leaves: the store opens; every acknowledged message is in it whole
// (the page cache keeps unflushed appends when only the process dies); UID.inf names only
// stored messages, in order, and at least those of every commit that returned. Returns the
// store's count, or -1.
long CheckMerge(const std::string& home, const std::string& out, const std::string& name,
                long before)
{
    const std::string box = home + "/Mail/Acct/Message.box", uid = home + "/Mail/Acct/UID.inf";
    const std::string text = ReadWholeFile(out);
    std::vector<unsigned> acks = Acks(text);
    long committed = -1;
    {
        std::istringstream in(text);
        std::string word;
        unsigned n = 0;
        while (in >> word >> n)
            if (word == "committed")
                committed = n;
    }
    std::filesystem::create_directories(home + "/Mail/Acct"); // killed before it made it
    CMailBoxFile reopened;
    if (!reopened.Open(box)) {
        ADD_FAILURE() << name << ": " << reopened.LastError();
        return -1;
    }
    std::vector<unsigned> stored;
    while (reopened.Next()) {
        StoredMessage m;
        EXPECT_EQ(reopened.ReadCurrent(m, true, true), 1) << name;
        const unsigned n = static_cast<unsigned>(std::stoul(m.uid.substr(3)));
        StoredMessage expected = CrashMessage(n);
        expected.messageId = m.messageId; // the merge names its messages itself
        expected.mailType = "POP3";       // and the helper sends POP3 records only
        EXPECT_TRUE(Same(m, expected)) << name << ": record " << n << " damaged";
        EXPECT_EQ(n, before + static_cast<long>(stored.size())) << name << ": out of order";
        stored.push_back(n);
    }
    const long count = static_cast<long>(stored.size());
    if (!acks.empty())
        EXPECT_GT(count, static_cast<long>(acks.back())) << name << ": acknowledged mail lost";
    std::vector<std::string> uids;
    EXPECT_EQ(ReadUids(uid, uids), 1) << name;
    long last = -1;
    for (const auto& u : uids) {
        const long n = std::stol(u.substr(3));
        EXPECT_GT(n, last) << name << ": UID.inf out of order";
        EXPECT_LT(n, count) << name << ": identifier of a message not stored";
        last = n;
    }
    EXPECT_GE(last, committed) << name << ": a commit that returned was not kept";
    return count;
}

TEST(MergeCrash, KilledAroundTheCommit)
{
    struct Row {
        const char* name;
        const char* step;
        long armAfter;      // messages sent before arming
        long stored;        // records in Message.box afterwards
        std::string uidInf; // UID.inf afterwards
    } rows[] = {
        // Messages 0-2 are committed by the first summary; 3 and 4 wait for the second.
        {"unflushed-head-torn", "mailbox.append.head", 4, 4, "UID0\\UID1\\UID2\\"},
        {"unflushed-record-uncounted", "mailbox.append.record", 4, 4, "UID0\\UID1\\UID2\\"},
        {"unflushed-counted", "mailbox.append.count", 4, 5, "UID0\\UID1\\UID2\\"},
        {"flushed-before-identifiers", "merge.commit.flushed", 4, 6, "UID0\\UID1\\UID2\\"},
        {"identifiers-written-not-flushed", "uidfile.append.written", 4, 6,
         "UID0\\UID1\\UID2\\UID3\\UID4\\UID5\\"},
        {"first-commit-flushed", "merge.commit.flushed", 0, 3, ""},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string out = dir.File("out");
        pid_t pid = Spawn({MAILBOX_CRASH_HELPER, "merge", dir.Path(), "Acct", "9",
                           std::to_string(r.armAfter), r.step},
                          out);
        ASSERT_GT(pid, 0) << r.name;
        const int st = Wait(pid);
        EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL) << r.name << " status " << st;
        EXPECT_EQ(CheckMerge(dir.Path(), out, r.name, 0), r.stored) << r.name;
        EXPECT_EQ(ReadWholeFile(dir.File("Mail/Acct/UID.inf")), r.uidInf) << r.name;
        // A clean run goes on from there; the messages whose identifiers were lost are
        // the ones a check would report once more.
        pid = Spawn({MAILBOX_CRASH_HELPER, "merge", dir.Path(), "Acct", "2", "-1", "none"}, out);
        const int again = Wait(pid);
        EXPECT_TRUE(WIFEXITED(again) && WEXITSTATUS(again) == 0) << r.name;
        EXPECT_EQ(CheckMerge(dir.Path(), out, r.name, 0), r.stored + 2) << r.name;
    }
}

TEST(MergeCrash, RandomKills)
{
    const char* env = std::getenv("POSTWATCH_CRASH_LOOPS");
    const int loops = env ? std::atoi(env) / 2 : 25;
    TempDir dir;
    const std::string out = dir.File("out");
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delay(0, 60);
    long count = 0;
    for (int i = 0; i < loops; ++i) {
        const std::string name = "merge kill " + std::to_string(i);
        pid_t pid =
            Spawn({MAILBOX_CRASH_HELPER, "merge", dir.Path(), "Acct", "1000", "-1", "none"}, out);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
        ::kill(pid, SIGKILL);
        const int status = Wait(pid);
        ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << name;
        const long now = CheckMerge(dir.Path(), out, name, 0);
        ASSERT_GE(now, count) << name;
        count = now;
    }
}

// ---- a whole check killed -------------------------------------------------------------

// Records and distinct identifiers in the account's Message.box, and distinct identifiers
// in its UID.inf.
struct CheckState {
    long records = -1;
    size_t distinct = 0;
    size_t uids = 0;
};

CheckState ReadCheckState(const std::string& home)
{
    CheckState s;
    const std::string path = home + "/Mail/Acct/Message.box";
    if (!std::filesystem::exists(path)) // killed before its first message
        return CheckState{0, 0, 0};
    CMailBoxFile box;
    if (!box.Open(path))
        return s;
    std::set<std::string> ids;
    s.records = 0;
    while (box.Next()) {
        StoredMessage m;
        if (box.ReadCurrent(m, true, false) != 1)
            return CheckState{};
        ids.insert(m.uid);
        ++s.records;
    }
    s.distinct = ids.size();
    std::vector<std::string> uids;
    if (ReadUids(home + "/Mail/Acct/UID.inf", uids) == 1)
        s.uids = std::set<std::string>(uids.begin(), uids.end()).size();
    return s;
}

// A check of 500 new messages killed at random moments, and at the merge's steps: the next
// check stores what was missing and nothing twice.
TEST(CheckCrash, NextCheckStoresEachMessageOnce)
{
    constexpr long kMessages = 500;
    struct Row {
        std::string name;
        long armAfter;
        const char* step;
        int killAtAck; // kill once this many messages went to the merge; < 0: crash point
    };
    std::vector<Row> rows = {
        {"summary-flushed-before-identifiers", kMessages - 1, "merge.commit.flushed", -1},
        {"identifiers-half-written", kMessages - 1, "uidfile.append.written", -1},
        {"mid-append", 300, "mailbox.append.record", -1},
    };
    const char* env = std::getenv("POSTWATCH_CRASH_LOOPS");
    const int loops = env ? std::atoi(env) / 50 : 6;
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> acks(0, kMessages - 1);
    for (int i = 0; i < loops; ++i)
        rows.push_back({"random-kill-" + std::to_string(i), -1, "none", acks(random)});

    for (const Row& r : rows) {
        TempDir dir;
        const std::string out = dir.File("out");
        pid_t pid = Spawn({MAILBOX_CRASH_HELPER, "check", dir.Path(), "Acct",
                           std::to_string(kMessages), std::to_string(r.armAfter), r.step},
                          out);
        ASSERT_GT(pid, 0) << r.name;
        if (r.killAtAck >= 0) {
            // The kill lands wherever the check has got to by then: inside an append, in
            // the merge's hand-over, or at the summary.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (Acks(ReadWholeFile(out)).size() < static_cast<size_t>(r.killAtAck) &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            ::kill(pid, SIGKILL);
        }
        const int st = Wait(pid);
        if (r.killAtAck < 0)
            EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL) << r.name << " status " << st;
        const CheckState killed = ReadCheckState(dir.Path());
        EXPECT_EQ(killed.records, static_cast<long>(killed.distinct)) << r.name;
        std::printf("%s: %ld records, %zu identifiers after the kill\n", r.name.c_str(),
                    killed.records, killed.uids);

        pid = Spawn({MAILBOX_CRASH_HELPER, "check", dir.Path(), "Acct", std::to_string(kMessages),
                     "-1", "none"},
                    out);
        const int again = Wait(pid);
        EXPECT_TRUE(WIFEXITED(again) && WEXITSTATUS(again) == 0) << r.name << " status " << again;
        const CheckState next = ReadCheckState(dir.Path());
        EXPECT_EQ(next.records, kMessages)
            << r.name << " (" << killed.records << " records after the kill)";
        EXPECT_EQ(next.distinct, static_cast<size_t>(kMessages)) << r.name;
        EXPECT_EQ(next.uids, static_cast<size_t>(kMessages)) << r.name;
    }
}

} // namespace
