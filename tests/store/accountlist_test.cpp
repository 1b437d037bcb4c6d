#include "accountlist.h"
#include "accounttestutil.h"
#include "support/filefaults.h"
#include "support/tempdir.h"

#include <dirent.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace accounttest;

namespace
{

std::vector<std::string> Names(const std::vector<AccountListRecord>& records)
{
    std::vector<std::string> names;
    for (const auto& r : records)
        names.push_back(r.name);
    return names;
}

std::vector<std::string> LoadNames(const std::string& path)
{
    CAccountList list(path);
    std::vector<AccountListRecord> records;
    EXPECT_EQ(list.Load(records), 1) << list.Error();
    return Names(records);
}

TEST(AccountCfg, ThreeAccountsThenDeleteTheMiddleOne)
{
    TempDir dir;
    std::string path = dir.File("Account.cfg");
    CAccountList list(path);
    ASSERT_EQ(list.Append("Home", "", "pw-home"), 1) << list.Error();
    ASSERT_EQ(list.Append("Work", "lock", "pw-work"), 1) << list.Error();
    ASSERT_EQ(list.Append("Club", "", ""), 1) << list.Error();
    const std::string home = CfgRecord("Home", "", "pw-home");
    const std::string work = CfgRecord("Work", "lock", "pw-work");
    const std::string club = CfgRecord("Club", "", "");
    EXPECT_EQ(ReadWholeFile(path), CfgHeader(3) + home + work + club);
    struct stat st {
    };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ASSERT_EQ(list.Delete("Work"), 1) << list.Error();
    EXPECT_EQ(ReadWholeFile(path), CfgHeader(2) + home + club);

    std::vector<AccountListRecord> records;
    ASSERT_EQ(list.Load(records), 1);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "Home");
    EXPECT_EQ(records[0].passwordCopy, "pw-home");
    EXPECT_EQ(records[1].name, "Club");
}

TEST(AccountCfg, UpdateRewritesTheGivenSlots)
{
    const std::string renamed = "Office", access = "new-lock", copy = "new-pw";
    const std::string bad = "a/b", tooLong(61, 'x');
    struct Row {
        const char* name;
        const char* target;
        const std::string* newName;
        const std::string* access;
        const std::string* copy;
        int result;
        std::string expectedSecond; // the bytes of record 2 afterwards
    } rows[] = {
        {"rename-only", "Work", &renamed, nullptr, nullptr, 1,
         CfgRecord("Office", "lock", "pw-work")},
        {"passwords-only", "Work", nullptr, &access, &copy, 1,
         CfgRecord("Work", "new-lock", "new-pw")},
        {"no-such-account", "work", &renamed, nullptr, nullptr, 0,
         CfgRecord("Work", "lock", "pw-work")},
        {"refused-name", "Work", &bad, nullptr, nullptr, 0, CfgRecord("Work", "lock", "pw-work")},
        {"refused-long-password", "Work", nullptr, nullptr, &tooLong, 0,
         CfgRecord("Work", "lock", "pw-work")},
    };
    for (const auto& r : rows) {
        TempDir dir;
        CAccountList list(dir.File("Account.cfg"));
        ASSERT_EQ(list.Append("Home", "", "a"), 1);
        ASSERT_EQ(list.Append("Work", "lock", "pw-work"), 1);
        EXPECT_EQ(list.Update(r.target, r.newName, r.access, r.copy), r.result) << r.name;
        if (r.result == 0)
            EXPECT_FALSE(list.Error().empty()) << r.name;
        EXPECT_EQ(ReadWholeFile(list.Path()),
                  CfgHeader(2) + CfgRecord("Home", "", "a") + r.expectedSecond)
            << r.name;
    }
}

TEST(AccountCfg, AppendRefusesNamesAndValuesThatCannotBeStored)
{
    struct Row {
        const char* name;
        std::string account, access, copy;
    } rows[] = {
        {"empty", "", "", ""},
        {"dot", ".", "", ""},
        {"dot-dot", "..", "", ""},
        {"slash", "a/b", "", ""},
        {"traversal", "../../etc", "", ""},
        {"line-feed", "a\nb", "", ""},
        {"nul", std::string("a\0b", 3), "", ""},
        {"name-over-60", std::string(61, 'n'), "", ""},
        {"access-over-60", "ok", std::string(61, 'a'), ""},
        {"copy-over-60", "ok", "", std::string(61, 'c')},
    };
    TempDir dir;
    CAccountList list(dir.File("Account.cfg"));
    ASSERT_EQ(list.Append("Home", "", ""), 1);
    const std::string before = ReadWholeFile(list.Path());
    for (const auto& r : rows) {
        EXPECT_EQ(list.Append(r.account, r.access, r.copy), 0) << r.name;
        EXPECT_FALSE(list.Error().empty()) << r.name;
        EXPECT_EQ(ReadWholeFile(list.Path()), before) << r.name;
    }
    EXPECT_EQ(list.Append(std::string(60, 'n'), std::string(60, 'a'), std::string(60, 'c')), 1);
}

// The reader meets files this writer never leaves: each row says what it must read.
TEST(AccountCfg, ReaderSurvivesDamagedFiles)
{
    const std::string a = CfgRecord("A", "", "pa");
    const std::string b = CfgRecord("B", "", "pb");
    std::string longSlot = a;
    longSlot.replace(0, 4, Le32(61));
    std::string exact60 = CfgRecord(std::string(60, 'x'), "", "");
    std::string hugeLength = a;
    hugeLength.replace(0, 4, Le32(0xFFFFFFFFu));
    struct Row {
        const char* name;
        std::string bytes;
        std::vector<std::string> names;
        std::string firstCopy;
    } rows[] = {
        {"empty-file", "", {}, ""},
        {"short-header", std::string(1000, 'K'), {}, ""},
        {"count-but-no-records", CfgHeader(2), {}, ""},
        {"count-over-records", CfgHeader(5) + a + b, {"A", "B"}, "pa"},
        {"count-all-ones", CfgHeader(0xFFFFFFFFu) + a, {"A"}, "pa"},
        {"uncounted-tail", CfgHeader(1) + a + b, {"A"}, "pa"},
        {"slot-length-61", CfgHeader(1) + longSlot, {""}, "pa"},
        {"slot-length-huge", CfgHeader(1) + hugeLength, {""}, "pa"},
        {"slot-length-60", CfgHeader(1) + exact60, {std::string(60, 'x')}, ""},
        {"record-cut-in-name", CfgHeader(1) + a.substr(0, 4), {""}, ""},
        {"record-cut-in-copy", CfgHeader(1) + a.substr(0, 130), {"A"}, ""},
        {"record-cut-after-copy-data", CfgHeader(1) + a.substr(0, 134), {"A"}, "pa"},
    };
    for (const auto& r : rows) {
        auto records = CAccountList::Parse(r.bytes);
        EXPECT_EQ(Names(records), r.names) << r.name;
        if (!records.empty())
            EXPECT_EQ(records[0].passwordCopy, r.firstCopy) << r.name;
    }
}

// Before every append the file is brought back to what a reader sees; the new record
// then lands right after the counted ones.
TEST(AccountCfg, AppendRepairsTornFiles)
{
    const std::string a = CfgRecord("A", "", "pa");
    const std::string b = CfgRecord("B", "", "pb");
    struct Row {
        const char* name;
        std::optional<std::string> bytes; // nullopt: no file
        std::vector<std::string> names;   // after appending "New"
    } rows[] = {
        {"no-file", std::nullopt, {"New"}},
        {"short-file", std::string(500, 'K'), {"New"}},
        {"header-only", CfgHeader(0), {"New"}},
        {"uncounted-whole-record", CfgHeader(1) + a + b, {"A", "New"}},
        {"uncounted-half-record", CfgHeader(1) + a + b.substr(0, 100), {"A", "New"}},
        {"uncounted-zero-record", CfgHeader(1) + a + std::string(192, '\0'), {"A", "New"}},
        {"count-over-a-torn-record", CfgHeader(2) + a + b.substr(0, 70), {"A", "B", "New"}},
        {"count-over-nothing", CfgHeader(3) + a, {"A", "New"}},
    };
    for (const auto& r : rows) {
        TempDir dir;
        std::string path = dir.File("Account.cfg");
        if (r.bytes)
            WriteWholeFile(path, *r.bytes);
        CAccountList list(path);
        ASSERT_EQ(list.Append("New", "", "pn"), 1) << r.name << ": " << list.Error();
        EXPECT_EQ(LoadNames(path), r.names) << r.name;
        std::string after = ReadWholeFile(path);
        EXPECT_EQ(after.size(), 2048 + 192 * r.names.size()) << r.name;
        EXPECT_EQ(after.substr(2048 + 192 * (r.names.size() - 1)), CfgRecord("New", "", "pn"))
            << r.name;
    }
}

TEST(AccountCfg, MissingFile)
{
    TempDir dir;
    CAccountList list(dir.File("Account.cfg"));
    std::vector<AccountListRecord> records{{"x", "", ""}};
    EXPECT_EQ(list.Load(records), 1);
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(list.Delete("x"), 0);
    EXPECT_FALSE(list.Error().empty());
}

// The names in `folder` other than the list and its lock file: what a failed write left.
std::vector<std::string> StrayFiles(const std::string& folder)
{
    std::vector<std::string> stray;
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return stray;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != ".." && name != "Account.cfg" && name != "Account.cfg.lock")
            stray.push_back(name);
    }
    ::closedir(d);
    return stray;
}

// A write that fails (full disk, read-only folder) says why, leaves the old file as it was
// and leaves the list usable: the next append succeeds on a file that needs no repair.
TEST(AccountCfgFaults, FailedWritesLeaveOldContent)
{
    const std::string home = CfgRecord("Home", "", "pw-home");
    const std::string work = CfgRecord("Work", "lock", "pw-work");
    const std::string two = CfgHeader(2) + home + work;
    const std::string renamed = "Office", copy = "new-pw";
    enum class Fault { DiskFull, ReadOnlyFolder };
    struct Row {
        const char* name;
        std::optional<std::string> bytes; // nullopt: no file yet
        Fault fault;
        off_t headroom; // DiskFull: bytes the file may grow by
        std::function<int(CAccountList&)> operation;
        std::optional<std::string> after; // the file after the failure; nullopt: as before
        std::vector<std::string> names;   // after appending "Next" once the fault is gone
    } rows[] = {
        {"append-no-room",
         two,
         Fault::DiskFull,
         0,
         [](CAccountList& l) { return l.Append("Club", "", "pw-club"); },
         std::nullopt,
         {"Home", "Work", "Next"}},
        {"append-half-a-record",
         two,
         Fault::DiskFull,
         100,
         [](CAccountList& l) { return l.Append("Club", "", "pw-club"); },
         std::nullopt,
         {"Home", "Work", "Next"}},
        {"append-creates-header",
         std::nullopt,
         Fault::DiskFull,
         1000,
         [](CAccountList& l) { return l.Append("Club", "", "pw-club"); },
         std::nullopt,
         {"Next"}},
        // The repair before the append fits, the append does not: the file keeps the
        // repaired form, which reads exactly as the torn one did.
        {"append-after-repair",
         CfgHeader(1) + home + work.substr(0, 100),
         Fault::DiskFull,
         0,
         [](CAccountList& l) { return l.Append("Club", "", "pw-club"); },
         CfgHeader(1) + home,
         {"Home", "Next"}},
        {"delete-rewrite",
         two,
         Fault::DiskFull,
         -300,
         [](CAccountList& l) { return l.Delete("Home"); },
         std::nullopt,
         {"Home", "Work", "Next"}},
        {"update-rewrite",
         two,
         Fault::DiskFull,
         -1,
         [&](CAccountList& l) { return l.Update("Work", &renamed, nullptr, &copy); },
         std::nullopt,
         {"Home", "Work", "Next"}},
        {"read-only-delete",
         two,
         Fault::ReadOnlyFolder,
         0,
         [](CAccountList& l) { return l.Delete("Work"); },
         std::nullopt,
         {"Home", "Work", "Next"}},
        {"read-only-update",
         two,
         Fault::ReadOnlyFolder,
         0,
         [&](CAccountList& l) { return l.Update("Home", &renamed, nullptr, nullptr); },
         std::nullopt,
         {"Home", "Work", "Next"}},
        {"read-only-new-list",
         std::nullopt,
         Fault::ReadOnlyFolder,
         0,
         [](CAccountList& l) { return l.Append("Club", "", "pw-club"); },
         std::nullopt,
         {"Next"}},
        {"read-only-repair",
         CfgHeader(1) + home + work.substr(0, 100),
         Fault::ReadOnlyFolder,
         0,
         [](CAccountList& l) { return l.Append("Club", "", "pw-club"); },
         std::nullopt,
         {"Home", "Next"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        const std::string path = dir.File("Account.cfg");
        if (r.bytes)
            WriteWholeFile(path, *r.bytes);
        const std::string before = r.bytes.value_or("");
        CAccountList list(path);
        const int result =
            r.fault == Fault::DiskFull
                ? WithFileSizeLimit(
                      static_cast<rlim_t>(static_cast<off_t>(before.size()) + r.headroom),
                      [&] { return r.operation(list); })
                : WithReadOnlyFolder(dir.Path(), [&] { return r.operation(list); });
        EXPECT_EQ(result, 0);
        EXPECT_NE(list.Error().find("Account.cfg"), std::string::npos) << list.Error();
        EXPECT_EQ(ReadWholeFile(path), r.after.value_or(before));
        EXPECT_EQ(StrayFiles(dir.Path()), std::vector<std::string>{});

        ASSERT_EQ(list.Append("Next", "", "pw-next"), 1) << list.Error();
        EXPECT_EQ(LoadNames(path), r.names);
        const std::string now = ReadWholeFile(path);
        EXPECT_EQ(now.size(), 2048 + 192 * r.names.size()) << "the file needs no repair";
        EXPECT_EQ(now.substr(now.size() - 192), CfgRecord("Next", "", "pw-next"));
    }
}

} // namespace
