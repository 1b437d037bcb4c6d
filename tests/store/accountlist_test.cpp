#include "accountlist.h"
#include "accounttestutil.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
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

} // namespace
