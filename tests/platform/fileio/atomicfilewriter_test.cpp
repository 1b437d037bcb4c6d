#include "atomicfilewriter.h"
#include "support/tempdir.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

size_t EntriesIn(const std::string& dir)
{
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}

TEST(AtomicFileWriter, ReplacesContentAndLeavesNoTemporary)
{
    TempDir dir;
    std::string target = dir.File("a.bin");
    WriteWholeFile(target, "old content");
    AtomicFileWriter w(target, 0600);
    ASSERT_TRUE(w.Open());
    ASSERT_TRUE(w.Write(std::string("new")));
    // Until commit the old file is what readers see.
    EXPECT_EQ(ReadWholeFile(target), "old content");
    ASSERT_TRUE(w.Commit()) << w.Error();
    EXPECT_EQ(ReadWholeFile(target), "new");
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
    struct stat st {
    };
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(AtomicFileWriter, DiscardKeepsOldFile)
{
    TempDir dir;
    std::string target = dir.File("a.bin");
    WriteWholeFile(target, "old");
    {
        AtomicFileWriter w(target);
        ASSERT_TRUE(w.Open());
        ASSERT_TRUE(w.Write(std::string("half")));
    } // destroyed without commit
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(AtomicFileWriter, UnwritableFolderGivesClearError)
{
    TempDir dir;
    AtomicFileWriter w(dir.File("missing/a.bin"));
    EXPECT_FALSE(w.Open());
    EXPECT_NE(w.Error().find("No such file or directory"), std::string::npos) << w.Error();
    EXPECT_FALSE(w.Commit());
}

TEST(AtomicFileWriter, CopyFromCopiesARange)
{
    TempDir dir;
    std::string src = dir.File("src");
    WriteWholeFile(src, "0123456789");
    int fd = ::open(src.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    AtomicFileWriter w(dir.File("dst"));
    ASSERT_TRUE(w.Open());
    ASSERT_TRUE(w.CopyFrom(fd, 2, 5));
    EXPECT_FALSE(w.CopyFrom(fd, 8, 5)) << "reading past the end must fail, not pad";
    ::close(fd);
}

} // namespace
