// The plug-ins' file of handled message identifiers: what Open makes of damaged and hostile
// files, what Append refuses, RemoveLast, the file's mode and its lock.
#include "midsfile.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace
{

std::string Le32(uint32_t v)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    return out;
}

std::string Rec(const std::string& id)
{
    return Le32(static_cast<uint32_t>(id.size())) + id;
}

const std::string kLongest(CMidsFile::kMaxIdentifierLength, 'x');
const std::string kTooLong(CMidsFile::kMaxIdentifierLength + 1, 'x');

struct MidsRow {
    const char* name;
    std::optional<std::string> before; // the file's bytes; none: no file
    std::vector<std::string> ids;      // what Open reads
    std::string after;                 // the file's bytes after Open (and the step below)
    std::vector<std::string> append = {};
    std::string removeLast = {};
    bool stepDone = true;   // what Append or RemoveLast answers
    bool unflushed = false; // append one by one as a group commit, then Flush
};

POSTWATCH_ROW_PRINTS_NAME(MidsRow)

class MidsFileTest : public testing::TestWithParam<MidsRow>
{
protected:
    TempDir dir_;
};

TEST_P(MidsFileTest, OpenAndStep)
{
    const MidsRow& r = GetParam();
    const std::string path = dir_.File("MIDs");
    if (r.before)
        WriteWholeFile(path, *r.before);
    CMidsFile mids;
    std::string error;
    ASSERT_EQ(mids.Open(path, std::chrono::milliseconds(0), &error), CMidsFile::OpenResult::kOpen)
        << error;
    std::vector<std::string> ids = r.ids;
    if (r.unflushed) {
        bool done = true;
        for (const std::string& id : r.append)
            done = done && mids.AppendUnflushed(id, &error);
        EXPECT_EQ(done && mids.Flush(&error), r.stepDone) << error;
        ids.insert(ids.end(), r.append.begin(), r.append.end());
    } else if (!r.append.empty()) {
        EXPECT_EQ(mids.Append(r.append, &error), r.stepDone) << error;
        if (r.stepDone)
            ids.insert(ids.end(), r.append.begin(), r.append.end());
        else
            EXPECT_FALSE(error.empty());
    }
    if (!r.removeLast.empty()) {
        EXPECT_EQ(mids.RemoveLast(r.removeLast, &error), r.stepDone) << error;
        if (r.stepDone)
            ids.pop_back();
    }
    EXPECT_EQ(mids.Identifiers(), ids);
    for (const std::string& id : ids)
        EXPECT_TRUE(mids.Contains(id)) << id;
    EXPECT_FALSE(mids.Contains(""));
    mids.Close();
    EXPECT_EQ(ReadWholeFile(path), r.after);
    // What is on the disk reads back the same, without repair.
    ASSERT_EQ(mids.Open(path, std::chrono::milliseconds(0)), CMidsFile::OpenResult::kOpen);
    EXPECT_EQ(mids.Identifiers(), ids);
    EXPECT_EQ(ReadWholeFile(path), r.after);
}

INSTANTIATE_TEST_SUITE_P(
    Mids, MidsFileTest,
    testing::Values(
        MidsRow{"NoFileMadeWithCountZero", std::nullopt, {}, Le32(0)},
        MidsRow{"EmptyFileGetsCountZero", "", {}, Le32(0)},
        MidsRow{"ShortHeaderRepaired", "\x01", {}, Le32(0)},
        MidsRow{"WholeRecordsKept",
                Le32(2) + Rec("abc") + Rec("d"),
                {"abc", "d"},
                Le32(2) + Rec("abc") + Rec("d")},
        MidsRow{
            "TornTailCut", Le32(2) + Rec("abc") + Le32(9) + "de", {"abc"}, Le32(1) + Rec("abc")},
        MidsRow{"TornLengthCut",
                Le32(1) + Rec("abc") + std::string("\x05\x00", 2),
                {"abc"},
                Le32(1) + Rec("abc")},
        // An append whose count was not yet raised: its message may have been reported.
        MidsRow{"RecordBeyondCountCounts",
                Le32(1) + Rec("a") + Rec("b"),
                {"a", "b"},
                Le32(2) + Rec("a") + Rec("b")},
        MidsRow{"HugeCountIgnored", Le32(0xffffffff), {}, Le32(0)},
        MidsRow{"HugeLengthEnds", Le32(1) + Le32(0x7fffffff) + "abc", {}, Le32(0)},
        MidsRow{
            "EmptyRecordEnds", Le32(2) + Rec("a") + Le32(0) + Rec("b"), {"a"}, Le32(1) + Rec("a")},
        MidsRow{
            "LongestIdentifierKept", Le32(1) + Rec(kLongest), {kLongest}, Le32(1) + Rec(kLongest)},
        MidsRow{"OverlongRecordEnds", Le32(1) + Rec(kTooLong), {}, Le32(0)},
        MidsRow{"AppendRaisesCount",
                Le32(1) + Rec("a"),
                {"a"},
                Le32(3) + Rec("a") + Rec("b") + Rec("c"),
                {"b", "c"}},
        MidsRow{"GroupCommitAppends",
                Le32(1) + Rec("a"),
                {"a"},
                Le32(3) + Rec("a") + Rec("b") + Rec("c"),
                {"b", "c"},
                "",
                true,
                true},
        MidsRow{"OverlongIdentifierRefused",
                Le32(1) + Rec("a"),
                {"a"},
                Le32(1) + Rec("a"),
                {"b", kTooLong},
                "",
                false},
        MidsRow{"EmptyIdentifierRefused", Le32(0), {}, Le32(0), {""}, "", false},
        MidsRow{"RemoveLastTakesBack",
                Le32(2) + Rec("a") + Rec("b"),
                {"a", "b"},
                Le32(1) + Rec("a"),
                {},
                "b"},
        MidsRow{"RemoveLastOnlyTheLast",
                Le32(2) + Rec("a") + Rec("b"),
                {"a", "b"},
                Le32(2) + Rec("a") + Rec("b"),
                {},
                "a",
                false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MidsFile, PrivateAndLocked)
{
    TempDir dir;
    const std::string path = dir.File("MIDs");
    CMidsFile first;
    ASSERT_EQ(first.Open(path, std::chrono::milliseconds(0)), CMidsFile::OpenResult::kOpen);
    struct stat st {
    };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A second watcher or check of the same account is told the file is busy.
    CMidsFile second;
    std::string error;
    EXPECT_EQ(second.Open(path, std::chrono::milliseconds(0), &error),
              CMidsFile::OpenResult::kBusy);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    first.Close();
    EXPECT_EQ(second.Open(path, std::chrono::milliseconds(0)), CMidsFile::OpenResult::kOpen);

    CMidsFile none;
    EXPECT_EQ(none.Open(dir.File("missing/MIDs"), std::chrono::milliseconds(0), &error),
              CMidsFile::OpenResult::kFailed);
    EXPECT_FALSE(none.Append("a"));
}

} // namespace
