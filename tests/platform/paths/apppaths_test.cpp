#include "apppaths.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace
{

TEST(AppPaths, DataFolderFollowsTheEnvironment)
{
    {
        ScopedEnv home("POSTWATCH_HOME", "/x/home");
        EXPECT_EQ(AppPaths::DataDir(), "/x/home");
        EXPECT_EQ(AppPaths::AccountFile("Work"), "/x/home/Mail/Work/Account.inf");
        EXPECT_EQ(AppPaths::AccountListFile(), "/x/home/Account.cfg");
    }
    ScopedEnv unset("POSTWATCH_HOME", "");
    ScopedEnv xdg("XDG_DATA_HOME", "/x/data");
    EXPECT_EQ(AppPaths::DataDir(), "/x/data/Koravel/Pigeonpost");
    EXPECT_EQ(AppPaths::UidFile("a b"), "/x/data/Koravel/Pigeonpost/Mail/a b/UID.inf");
}

TEST(AppPaths, MakeDirsCreatesPrivateFolders)
{
    TempDir dir;
    std::string deep = dir.File("a/b/c");
    ASSERT_TRUE(AppPaths::MakeDirs(deep));
    struct stat st {
    };
    ASSERT_EQ(::stat(deep.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(AppPaths::MakeDirs(deep)) << "existing folder is fine";
    WriteWholeFile(dir.File("file"), "x");
    EXPECT_FALSE(AppPaths::MakeDirs(dir.File("file")));
}

} // namespace
