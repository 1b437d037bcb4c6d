#include "mailboxfile.h"
#include "messageid.h"
#include "support/filefaults.h"
#include "support/tempdir.h"
#include "uidfile.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace
{

using List = std::vector<std::string>;

TEST(UidInf, ParsePieces)
{
    struct Row {
        const char* name;
        std::string bytes;
        List expected;
    } rows[] = {
        {"empty", "", {}},
        {"one", "abc\\", {"abc"}},
        {"two-in-order", "b\\a\\", {"b", "a"}},
        {"torn-tail-ignored", "abc\\de", {"abc"}},
        {"only-torn", "abc", {}},
        {"empty-piece", "\\x\\", {"", "x"}},
        {"escaped-backslash",
         "a\x7f"
         "b\\",
         {"a\\b"}},
        {"zero-byte-kept", std::string("a\0b\\", 4), {std::string("a\0b", 3)}},
        {"line-ends-are-bytes", "a\r\n\\", {"a\r\n"}},
    };
    for (const auto& r : rows) {
        List got{"stale"};
        ParseUids(r.bytes, got);
        EXPECT_EQ(got, r.expected) << r.name;
    }
}

TEST(UidInf, AppendBytes)
{
    struct Row {
        const char* name;
        std::string before;
        List uids;
        int result; // of the last append
        std::string after;
    } rows[] = {
        {"new-file", "", {"a", "b"}, 1, "a\\b\\"},
        {"grows-at-end", "x\\", {"1234"}, 1, "x\\1234\\"},
        {"backslash-escaped", "", {"dom\\user"}, 1, "dom\x7fuser\\"},
        {"torn-tail-cut-first", "abc\\de", {"xyz"}, 1, "abc\\xyz\\"},
        {"torn-only-cut", "dangling", {"u"}, 1, "u\\"},
        {"refuse-empty", "a\\", {""}, 0, "a\\"},
        {"refuse-escape-byte", "a\\", {"b\x7f"}, 0, "a\\"},
        {"refuse-too-long", "a\\", {std::string(kMaxUidLength + 1, 'u')}, 0, "a\\"},
        {"longest-stored",
         "",
         {std::string(kMaxUidLength, 'u')},
         1,
         std::string(kMaxUidLength, 'u') + "\\"},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string path = dir.File("UID.inf");
        if (!r.before.empty())
            WriteWholeFile(path, r.before);
        int result = -1;
        std::string error;
        for (const auto& uid : r.uids)
            result = AppendUid(path, uid, &error);
        EXPECT_EQ(result, r.result) << r.name;
        EXPECT_EQ(result == 0, !error.empty()) << r.name << ": " << error;
        EXPECT_EQ(ReadWholeFile(path), r.after) << r.name;
    }
}

// Several identifiers in one write: the order kept, refused ones left out (result 0) while
// the others still go in, a torn tail cut first.
TEST(UidInf, AppendSeveralBytes)
{
    struct Row {
        const char* name;
        std::string before;
        List uids;
        int result;
        std::string after;
    } rows[] = {
        {"in-order", "", {"a", "b", "c"}, 1, "a\\b\\c\\"},
        {"after-old", "x\\", {"1", "2"}, 1, "x\\1\\2\\"},
        {"torn-tail-cut-first", "abc\\de", {"p", "q"}, 1, "abc\\p\\q\\"},
        {"escaped-among-plain", "", {"d\\u", "v"}, 1, "d\x7fu\\v\\"},
        {"empty-list-writes-nothing", "x\\", {}, 1, "x\\"},
        {"refused-left-out", "", {"a", "", "b"}, 0, "a\\b\\"},
        {"only-refused", "x\\", {"b\x7f"}, 0, "x\\"},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string path = dir.File("UID.inf");
        if (!r.before.empty())
            WriteWholeFile(path, r.before);
        std::string error;
        EXPECT_EQ(AppendUids(path, r.uids, &error), r.result) << r.name;
        EXPECT_EQ(r.result == 0, !error.empty()) << r.name << ": " << error;
        EXPECT_EQ(ReadWholeFile(path), r.after) << r.name;
    }
}

TEST(UidInf, RoundTripKeepsEveryStorableIdentifier)
{
    TempDir dir;
    const std::string path = dir.File("UID.inf");
    List uids{"1", "0001a2b3c4", "a\\b\\\\", "!~\"#$%&'()*+,-./:;<=>?@[]^_`{|}", "42"};
    for (const auto& u : uids)
        ASSERT_EQ(AppendUid(path, u), 1) << u;
    List back;
    ASSERT_EQ(ReadUids(path, back), 1);
    EXPECT_EQ(back, uids);
}

TEST(UidInf, FilesAndModes)
{
    TempDir dir;
    const std::string path = dir.File("UID.inf");
    List list{"stale"};
    ASSERT_EQ(ReadUids(path, list), 1); // a missing file is created, empty
    EXPECT_TRUE(list.empty());
    struct stat st {
    };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);

    ::mkdir(dir.File("folder").c_str(), 0700);
    std::string error;
    EXPECT_EQ(ReadUids(dir.File("folder"), list, &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(AppendUid(dir.File("missing/UID.inf"), "a", &error), 0);
    EXPECT_NE(error.find("missing/UID.inf"), std::string::npos) << error;
}

TEST(UidInf, MegabyteTailStaysBounded)
{
    TempDir dir;
    const std::string path = dir.File("UID.inf");
    const std::string huge(1 << 20, 'h');
    WriteWholeFile(path, "first\\" + huge + "\\" + huge);
    List list;
    ASSERT_EQ(ReadUids(path, list), 1);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].size(), huge.size());
    ASSERT_EQ(AppendUid(path, "next"), 1);
    ASSERT_EQ(ReadUids(path, list), 1);
    EXPECT_EQ(list, (List{"first", huge, "next"}));
}

// A full disk (here: the file size limit) leaves the identifiers as they were.
TEST(UidInf, FailedAppendKeepsTheList)
{
    TempDir dir;
    const std::string path = dir.File("UID.inf");
    const std::string before = "one\\two\\thr";
    WriteWholeFile(path, before);
    std::string error;
    const int result = WithFileSizeLimit(before.size(), [&] {
        return AppendUid(path, "a-long-identifier-that-does-not-fit", &error);
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(error.empty());
    List list;
    ASSERT_EQ(ReadUids(path, list), 1);
    EXPECT_EQ(list, (List{"one", "two"}));
    ASSERT_EQ(AppendUid(path, "three"), 1);
    ASSERT_EQ(ReadUids(path, list), 1);
    EXPECT_EQ(list, (List{"one", "two", "three"}));
}

// Removing a message from Message.box does not remove its identifier: the check still
// knows the message and does not report it again.
TEST(UidInf, DeletedMessageStaysSeen)
{
    TempDir dir;
    CMailBoxFile box;
    ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
    MessageRecord rec;
    rec.uid = "UIDL-17";
    rec.attachment = "No";
    const std::string id = MessageId();
    ASSERT_EQ(box.Append(id, "POP3", "No", rec), 1);
    ASSERT_EQ(AppendUid(dir.File("UID.inf"), rec.uid), 1);
    ASSERT_EQ(box.Delete(id), 1);
    EXPECT_EQ(box.Count(), 0u);
    List seen;
    ASSERT_EQ(ReadUids(dir.File("UID.inf"), seen), 1);
    EXPECT_EQ(seen, List{"UIDL-17"});
}

// A failed append says why, keeps the identifiers that were there and leaves no piece of a
// new one: a torn piece would merge with the next append into an identifier that was never
// stored, and the message it names would then be reported again and again.
TEST(UidInfFaults, FailedAppendsLeaveNoTornIdentifier)
{
    enum class Fault { DiskFull, ReadOnlyFolder };
    struct Row {
        const char* name;
        std::optional<std::string> bytes; // nullopt: no file yet
        List uids;
        Fault fault;
        size_t room;                      // DiskFull: bytes the file may grow by
        std::optional<std::string> after; // nullopt: as before
    } rows[] = {
        {"no-room", "one\\two\\", {"three"}, Fault::DiskFull, 0, std::nullopt},
        {"cut-in-the-identifier", "one\\two\\", {"three"}, Fault::DiskFull, 3, std::nullopt},
        {"cut-before-the-separator", "one\\two\\", {"three"}, Fault::DiskFull, 5, std::nullopt},
        {"cut-in-an-escaped-backslash", "one\\", {"a\\b\\c"}, Fault::DiskFull, 2, std::nullopt},
        {"several-cut-in-the-second", "one\\", {"abc", "defgh"}, Fault::DiskFull, 6, std::nullopt},
        {"several-cut-after-a-separator",
         "one\\",
         {"abc", "defgh"},
         Fault::DiskFull,
         4,
         std::nullopt},
        {"new-file-cut", std::nullopt, {"first"}, Fault::DiskFull, 2, std::nullopt},
        // The torn tail of an earlier crash is cut (that only shrinks the file); what the
        // reader sees stays the same.
        {"after-a-torn-tail", "one\\two\\thr", {"three"}, Fault::DiskFull, 0, "one\\two\\"},
        {"read-only-new-file", std::nullopt, {"first"}, Fault::ReadOnlyFolder, 0, std::nullopt},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        const std::string path = dir.File("UID.inf");
        if (r.bytes)
            WriteWholeFile(path, *r.bytes);
        const std::string before = r.bytes.value_or("");
        List old;
        ParseUids(before, old);
        std::string error;
        auto append = [&] { return AppendUids(path, r.uids, &error); };
        const int result = r.fault == Fault::DiskFull
                               ? WithFileSizeLimit(before.size() + r.room, append)
                               : WithReadOnlyFolder(dir.Path(), append);
        EXPECT_EQ(result, 0);
        EXPECT_NE(error.find("UID.inf"), std::string::npos) << error;
        const std::string after = r.after.value_or(before);
        EXPECT_EQ(ReadWholeFile(path), after);
        List list;
        ASSERT_EQ(ReadUids(path, list), 1);
        EXPECT_EQ(list, old);

        ASSERT_EQ(AppendUid(path, "next", &error), 1) << error;
        EXPECT_EQ(ReadWholeFile(path), after + "next\\");
        old.push_back("next");
        ASSERT_EQ(ReadUids(path, list), 1);
        EXPECT_EQ(list, old);
    }
}

} // namespace
