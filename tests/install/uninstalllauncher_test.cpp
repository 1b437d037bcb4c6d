// The uninstall launcher's rules over real registration folders: which registration it picks,
// which it passes over, and what it starts. The starter records instead of starting.
#include "execcommand.h"
#include "support/tablerow.h"
#include "support/tempdir.h"
#include "uninstalllauncher.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

// One file in registration folder `folder` (0 per user, 1 system-wide).
struct Registration {
    int folder;
    std::string file;
    std::string text;
    unsigned mode = 0644;
    enum Kind { File, Folder, DanglingLink, OtherOwner, Fifo } kind = File;
};

std::string Entry(const std::string& name, const std::string& command)
{
    return "[Uninstall]\nDisplayName=" + name + "\nUninstallString=" + command + "\n";
}

const std::string kName = "Koravel 3D Postwatch";

struct LauncherRow {
    const char* name;
    std::vector<std::string> args;
    std::vector<Registration> registrations;
    int exitCode;
    std::string started; // the started argv joined by "|"; empty: nothing started
    bool startFails = false;
};
POSTWATCH_ROW_PRINTS_NAME(LauncherRow)

const std::string kLongWords(300, 'K');

const LauncherRow kLauncherRows[] = {
    {"EmptyCommandLineEndsWithMinusOne", {}, {{0, "a.ini", Entry(kName, "/bin/a")}}, 255, ""},
    {"OnlyEmptyWordsCountAsEmpty", {""}, {{0, "a.ini", Entry(kName, "/bin/a")}}, 255, ""},
    {"NoRegistrationIsNoFailure", {"Koravel"}, {}, 0, ""},
    {"OtherProductIsNotStarted",
     {"Koravel"},
     {{0, "a.ini", Entry("Other 3D Postwatch", "/bin/a")}},
     0,
     ""},
    {"FirstMatchOnly",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "/bin/first")}, {0, "b.ini", Entry(kName, "/bin/second")}},
     0,
     "/bin/first"},
    {"NamesInCaseInsensitiveOrder",
     {"Koravel"},
     {{0, "B.ini", Entry(kName, "/bin/upper-b")}, {0, "a.ini", Entry(kName, "/bin/lower-a")}},
     0,
     "/bin/lower-a"},
    {"PerUserBeforeSystemWide",
     {"Koravel"},
     {{1, "a.ini", Entry(kName, "/bin/system")}, {0, "z.ini", Entry(kName, "/bin/user")}},
     0,
     "/bin/user"},
    {"MatchIgnoresCase",
     {"kORAVEL"},
     {{0, "a.ini", Entry("KORAVEL 3d postwatch", "/bin/a")}},
     0,
     "/bin/a"},
    {"WordsJoinedByOneBlank",
     {"Koravel", "Labs"},
     {{0, "a.ini", Entry("Koravel Labs 3D Postwatch", "/bin/labs")}},
     0,
     "/bin/labs"},
    {"MatchWithoutUninstallStringPassedOver",
     {"Koravel"},
     {{0, "a.ini", "[Uninstall]\nDisplayName=" + kName + "\n"},
      {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"KeysOfOtherSectionsIgnored",
     {"Koravel"},
     {{0, "a.ini", "[Other]\nDisplayName=" + kName + "\nUninstallString=/bin/other\n"}},
     0,
     ""},
    {"QuotedCommandSplitByDesktopEntryRules",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "\"/opt/my dir/remove\" \"a \\\"b\\\" \\$c\" plain")}},
     0,
     "/opt/my dir/remove|a \"b\" $c|plain"},
    {"ShellCommandNeverStarted",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "/bin/rm -rf ~; /bin/evil")}, {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"GroupWritableRegistrationSkipped",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "/bin/planted"), 0664}, {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"WorldWritableRegistrationSkipped",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "/bin/planted"), 0646}, {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"OtherUsersRegistrationSkipped",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "/bin/planted"), 0644, Registration::OtherOwner},
      {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"FolderNamedLikeRegistrationSkipped",
     {"Koravel"},
     {{0, "a.ini", "", 0755, Registration::Folder}, {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"DanglingLinkSkipped",
     {"Koravel"},
     {{0, "a.ini", "", 0644, Registration::DanglingLink}, {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"FifoNamedLikeRegistrationSkipped",
     {"Koravel"},
     {{0, "a.ini", "", 0600, Registration::Fifo}, {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"BinaryRegistrationSkipped",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "/bin/binary") + std::string(3, '\0') + "\x89PNG\r\n"},
      {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"OversizedRegistrationSkipped",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "/bin/big") + std::string(70 * 1024, '#')},
      {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/bin/b"},
    {"OtherFileNamesIgnored", {"Koravel"}, {{0, "a.txt", Entry(kName, "/bin/a")}}, 0, ""},
    {"LongNameComparedWhole",
     {kLongWords},
     {{0, "a.ini", Entry((kLongWords + " 3D Postwatch").substr(0, 259), "/bin/cut")},
      {0, "b.ini", Entry(kLongWords + " 3D Postwatch", "/bin/whole")}},
     0,
     "/bin/whole"},
    {"FailedStartNotReportedAndEndsSearch",
     {"Koravel"},
     {{0, "a.ini", Entry(kName, "/nonexistent/remove")}, {0, "b.ini", Entry(kName, "/bin/b")}},
     0,
     "/nonexistent/remove",
     true},
};

class UninstallLauncherTable : public ::testing::TestWithParam<LauncherRow>
{
};

TEST_P(UninstallLauncherTable, StartsTheRightCommand)
{
    const LauncherRow& row = GetParam();
    TempDir dir;
    const std::vector<std::string> folders = {dir.File("user"), dir.File("system")};
    for (const std::string& f : folders)
        std::filesystem::create_directories(f);
    for (const Registration& r : row.registrations) {
        const std::string path = folders[static_cast<size_t>(r.folder)] + "/" + r.file;
        switch (r.kind) {
        case Registration::Folder:
            std::filesystem::create_directories(path);
            continue;
        case Registration::DanglingLink:
            std::filesystem::create_symlink(dir.File("missing"), path);
            continue;
        case Registration::Fifo:
            ASSERT_EQ(::mkfifo(path.c_str(), r.mode), 0);
            continue;
        case Registration::OtherOwner:
            if (::geteuid() != 0)
                GTEST_SKIP() << "giving a file to another user needs root";
            break;
        case Registration::File:
            break;
        }
        WriteWholeFile(path, r.text);
        ASSERT_EQ(::chmod(path.c_str(), r.mode), 0);
        if (r.kind == Registration::OtherOwner)
            ASSERT_EQ(::chown(path.c_str(), 54321, 54321), 0);
    }

    std::vector<std::string> started;
    const UninstallLauncher launcher(folders, ::geteuid(),
                                     [&](const std::vector<std::string>& argv) {
                                         std::string joined;
                                         for (const std::string& a : argv)
                                             joined += (joined.empty() ? "" : "|") + a;
                                         started.push_back(joined);
                                         return !row.startFails;
                                     });
    EXPECT_EQ(launcher.Run(row.args), row.exitCode);
    if (row.started.empty())
        EXPECT_TRUE(started.empty()) << started.front();
    else
        EXPECT_EQ(started, std::vector<std::string>{row.started});
}

INSTANTIATE_TEST_SUITE_P(Rules, UninstallLauncherTable, ::testing::ValuesIn(kLauncherRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The command splitter on its own: what it accepts, and what it refuses rather than guess.
struct SplitRow {
    const char* name;
    std::string command;
    bool ok;
    std::vector<std::string> args;
};
POSTWATCH_ROW_PRINTS_NAME(SplitRow)

const SplitRow kSplitRows[] = {
    {"PlainWords", "/bin/prog  a b", true, {"/bin/prog", "a", "b"}},
    {"QuotedWithEscapes", "\"/a b/p\" \"x\\\\y\\`z\\$\"", true, {"/a b/p", "x\\y`z$"}},
    {"EmptyQuotedArgument", "/bin/p \"\"", true, {"/bin/p", ""}},
    {"ProgramSearchedOnPath",
     "pkexec dpkg --remove pigeonpost",
     true,
     {"pkexec", "dpkg", "--remove", "pigeonpost"}},
    {"Empty", "", false, {}},
    {"OnlyBlanks", "   ", false, {}},
    {"EmptyProgram", "\"\" arg", false, {}},
    {"UnclosedQuote", "\"/bin/p", false, {}},
    {"UnknownEscapeInQuotes", "\"/bin/\\p\"", false, {}},
    {"BackslashOutsideQuotes", "/bin/p a\\ b", false, {}},
    {"SemicolonOutsideQuotes", "/bin/p;reboot", false, {}},
    {"PipeOutsideQuotes", "/bin/p | sh", false, {}},
    {"DollarOutsideQuotes", "/bin/p $HOME", false, {}},
    {"SingleQuotes", "/bin/p 'a b'", false, {}},
    {"TabSeparator", "/bin/p\targ", false, {}},
    {"QuoteGluedToWord", "\"/bin/p\"x", false, {}},
    {"QuoteInsideWord", "/bin/p a\"b\"", false, {}},
};

class ExecCommandTable : public ::testing::TestWithParam<SplitRow>
{
};

TEST_P(ExecCommandTable, SplitsOrRefuses)
{
    const SplitRow& row = GetParam();
    std::vector<std::string> args{"stale"};
    std::string error;
    EXPECT_EQ(ExecCommand::Split(row.command, &args, &error), row.ok) << error;
    EXPECT_EQ(args, row.args);
    EXPECT_EQ(error.empty(), row.ok);
    // Quoting every argument gives a command that splits back into the same arguments.
    if (row.ok) {
        std::string quoted;
        for (const std::string& a : row.args)
            quoted += (quoted.empty() ? "" : " ") + ExecCommand::Quote(a);
        std::vector<std::string> again;
        EXPECT_TRUE(ExecCommand::Split(quoted, &again));
        EXPECT_EQ(again, row.args);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, ExecCommandTable, ::testing::ValuesIn(kSplitRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
