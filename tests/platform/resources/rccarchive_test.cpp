#include "rccarchive.h"
#include "rccwriter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace
{

const std::map<std::string, QByteArray> kFiles = {
    {"a/b/c.txt", "hello"},
    {"a/d.bin", QByteArray("\0\1\2", 3)},
    {"top.txt", ""},
};

QByteArray Sample(unsigned version = 3)
{
    return WriteRcc(kFiles, version);
}

TEST(RccArchive, ReadsEveryFormatVersion)
{
    for (unsigned version : {1u, 2u, 3u}) {
        SCOPED_TRACE(version);
        RccArchive archive;
        std::string error;
        ASSERT_TRUE(archive.Parse(Sample(version), &error)) << error;
        EXPECT_EQ(archive.Files(), kFiles);
    }
}

TEST(RccArchive, ReadsWhatRccWrote)
{
    RccArchive archive;
    std::string error;
    const std::string bytes = ReadWholeFile(POSTWATCH_BUNDLE_PATH);
    ASSERT_TRUE(archive.Parse(QByteArray::fromStdString(bytes), &error)) << error;
    ASSERT_NE(archive.Find("postwatch/bundle.json"), nullptr);
    ASSERT_NE(archive.Find("postwatch/strings/en.tsv"), nullptr);
    EXPECT_EQ(archive.Find("postwatch/no-such-file"), nullptr);
}

struct Damage {
    const char* name;
    std::function<QByteArray()> make;
    const char* expected; // part of the error text
};

QByteArray Patched(int at, unsigned value)
{
    QByteArray bytes = Sample();
    SetU32(&bytes, at, value);
    return bytes;
}

// Offset of the n-th tree node of Sample() (v3: 22 bytes per node).
int Node(int n, const QByteArray& bytes = Sample())
{
    const int tree = (uchar(bytes[8]) << 24) | (uchar(bytes[9]) << 16) | (uchar(bytes[10]) << 8) |
                     uchar(bytes[11]);
    return tree + 22 * n;
}

TEST(RccArchive, RefusesDamagedFiles)
{
    const std::vector<Damage> rows = {
        {"empty", [] { return QByteArray(); }, "no \"qres\" header"},
        {"text file", [] { return QByteArray("hello, world, this is text\n"); }, "no \"qres\""},
        {"version 0", [] { return Patched(4, 0); }, "version 0"},
        {"version 4", [] { return Patched(4, 4); }, "version 4"},
        {"header cut", [] { return Sample().left(22); }, "cut short"},
        {"tree offset beyond end", [] { return Patched(8, 0x7fffffff); }, "beyond the end"},
        {"data offset beyond end", [] { return Patched(12, 0x7fffffff); }, "beyond the end"},
        {"names offset beyond end", [] { return Patched(16, 0x7fffffff); }, "beyond the end"},
        {"root child count huge", [] { return Patched(Node(0) + 6, 0xffffffff); }, "child count"},
        {"root points at itself", [] { return Patched(Node(0) + 10, 0); }, "points backwards"},
        {"child name beyond end", [] { return Patched(Node(1), 0x7ffffff0); }, "name"},
        {"file data beyond end",
         [] {
             // Node 4 is the first file in breadth-first order ("top.txt").
             return Patched(Node(4) + 10, 0x7ffffff0);
         },
         "beyond the end"},
        {"tree cut off", [] { return Sample().left(Node(3) + 5); }, "beyond the end"},
        {"zstd entry",
         [] {
             QByteArray bytes = Sample();
             bytes[Node(4) + 5] = 4;
             return bytes;
         },
         "zstd"},
        {"damaged zlib entry",
         [] {
             QByteArray bytes = Sample();
             bytes[Node(4) + 5] = 1;
             return bytes;
         },
         "compressed entry"},
    };
    for (const Damage& row : rows) {
        SCOPED_TRACE(row.name);
        RccArchive archive;
        std::string error;
        EXPECT_FALSE(archive.Parse(row.make(), &error));
        EXPECT_NE(error.find(row.expected), std::string::npos) << error;
        EXPECT_TRUE(archive.Files().empty());
    }
}

TEST(RccArchive, ReadsZlibEntries)
{
    // rcc compresses by default; a bundle built that way must read the same.
    std::map<std::string, QByteArray> files = {{"x.txt", QByteArray(1000, 'x')}};
    QByteArray bytes = WriteRcc({{"x.txt", qCompress(files["x.txt"])}});
    bytes[Node(1, bytes) + 5] = 1; // node 1 is the only file
    RccArchive archive;
    std::string error;
    ASSERT_TRUE(archive.Parse(bytes, &error)) << error;
    EXPECT_EQ(archive.Files(), files);
}

// Every prefix and every single-byte change of a small archive either parses or fails with a
// message; none may crash, hang or read out of bounds (the sanitizers watch).
TEST(RccArchive, SurvivesEveryTruncationAndByteFlip)
{
    const QByteArray good = Sample();
    for (int length = 0; length < good.size(); ++length) {
        RccArchive archive;
        std::string error;
        if (!archive.Parse(good.left(length), &error))
            EXPECT_FALSE(error.empty()) << "length " << length;
    }
    for (int at = 0; at < good.size(); ++at) {
        for (char value : {char(0), char(0x7f), char(0xff)}) {
            QByteArray bad = good;
            bad[at] = value;
            RccArchive archive;
            std::string error;
            if (!archive.Parse(bad, &error))
                EXPECT_FALSE(error.empty()) << "byte " << at;
        }
    }
}

} // namespace
