// The program as a user installs it: the build tree installed into a temporary prefix (once
// for this test program), then run from there headless and on the desktop, its desktop
// files validated, and removed again through "uninstaller Koravel". The Debian package is
// built, listed and run from an extracted root when dpkg-deb is there.
#include "dovecotenvironment.h"
#include "support/component.h"
#include "support/runprocess.h"
#include "support/tablerow.h"
#include "support/tempdir.h"
#include "uninstalllauncher.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

const std::string kAppId = "example.koravel.Pigeonpost";

std::string FindTool(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (::access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return "";
}

// Polls `ready` until it holds or `seconds` pass.
bool WaitFor(const std::function<bool()>& ready, int seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return ready();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

// Every file and link below `root`, as paths relative to it.
std::set<std::string> FilesBelow(const std::string& root)
{
    std::set<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (!it->is_directory() || it->is_symlink())
            files.insert(fs::relative(it->path(), root).string());
    return files;
}

// The build tree installed once into a temporary prefix, a system install (the prefix is
// not inside HOME): registration under the prefix, udev rule installed.
struct Installation {
    TempDir dir;
    // Blanks and a dollar sign: every path quoted on its way into the desktop entries and the
    // registration's command must come back out whole.
    std::string prefix = dir.File("my $prefix");
    std::string home = dir.File("home");
    std::string error;
    std::set<std::string> manifest; // relative to the prefix, as installed

    // The environment of every program this test starts: a home, data and settings folders
    // of its own, and no system registration folders.
    std::vector<std::string> Env() const
    {
        return {"HOME=" + home,
                "XDG_DATA_HOME=" + home + "/.local/share",
                "XDG_CONFIG_HOME=" + home + "/.config",
                "XDG_DATA_DIRS=" + dir.File("no-system-data"),
                "XDG_RUNTIME_DIR=" + dir.File("runtime"),
                "POSTWATCH_HOME=" + dir.File("data"),
                "POSTWATCH_LED_ROOT=" + dir.File("leds"),
                "POSTWATCH_ASSETS=",
                "LD_LIBRARY_PATH=",
                "DESTDIR="};
    }
};

const Installation& Installed()
{
    // A static object: its folder goes at exit, even when a test failed before the removal.
    static Installation installation;
    static const bool done = [](Installation* i) {
        fs::create_directories(i->home);
        fs::create_directories(i->dir.File("runtime"));
        fs::permissions(i->dir.File("runtime"), fs::perms::owner_all);
        ProcessResult r = RunProcess(
            CMAKE_COMMAND, {"--install", POSTWATCH_BUILD_DIR, "--prefix", i->prefix}, "", i->Env());
        if (r.exitCode != 0) {
            i->error = "cmake --install failed: " + r.out + r.err;
            return true;
        }
        for (const std::string& line :
             Lines(ReadWholeFile(i->prefix + "/share/pigeonpost/install-manifest.txt"))) {
            if (line.rfind(i->prefix + "/", 0) != 0)
                i->error += "manifest entry outside the prefix: " + line + "\n";
            else
                i->manifest.insert(line.substr(i->prefix.size() + 1));
        }
        return true;
    }(&installation);
    (void)done;
    return installation;
}

// What a user's desktop and the program itself look for, relative to the prefix.
const char* const kExpectedFiles[] = {
    "bin/postwatch",
    "lib/pigeonpost/libportalpost.so",
    "lib/pigeonpost/libmapiprobe.so",
    "lib/pigeonpost/uninstaller",
    "lib/pigeonpost/pigeonpost-remove",
    "lib/udev/rules.d/70-pigeonpost-mail-led.rules",
    "share/pigeonpost/postwatch.rcc",
    "share/pigeonpost/Sound/Notify.wav",
    "share/pigeonpost/help/index.htm",
    "share/pigeonpost/autostart/pigeonpost.desktop",
    "share/pigeonpost/install-manifest.txt",
    "share/Koravel/uninstall/pigeonpost.ini",
    "share/applications/example.koravel.Pigeonpost.desktop",
    "share/applications/example.koravel.Pigeonpost-uninstall.desktop",
    "share/metainfo/example.koravel.Pigeonpost.metainfo.xml",
    "share/icons/hicolor/16x16/apps/example.koravel.Pigeonpost.png",
    "share/icons/hicolor/48x48/apps/example.koravel.Pigeonpost.png",
    "share/icons/hicolor/256x256/apps/example.koravel.Pigeonpost.png",
    "share/icons/hicolor/scalable/apps/example.koravel.Pigeonpost.svg",
};

// A program in the background (the installed desktop, the tray host), its output in a file;
// killed (by its own id) if still running at the end.
class Background
{
public:
    Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& log)
    {
        pid_ = ::fork();
        if (pid_ == 0) {
            FILE* out = std::freopen(log.c_str(), "w", stdout);
            if (out == nullptr || ::dup2(::fileno(stdout), 2) < 0)
                ::_exit(127);
            for (const std::string& e : env)
                ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }
    ~Background()
    {
        if (pid_ > 0 && !Ended()) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t Pid() const { return pid_; }
    bool Ended()
    {
        int status = 0;
        if (!ended_ && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_)
            ended_ = true;
        return ended_ || pid_ <= 0;
    }

private:
    pid_t pid_ = -1;
    bool ended_ = false;
};

TEST(Install, RunsFromThePrefixAndUninstallsCleanly)
{
    const Installation& in = Installed();
    ASSERT_EQ(in.error, "");
    const std::string& prefix = in.prefix;

    // The manifest lists exactly what is there, and that is what a desktop needs.
    EXPECT_EQ(FilesBelow(prefix), in.manifest);
    for (const char* file : kExpectedFiles)
        EXPECT_TRUE(in.manifest.count(file)) << "not installed: " << file;
    for (const std::string& file : in.manifest)
        EXPECT_FALSE(file.rfind("lib/", 0) == 0 && file.find('/', 4) == std::string::npos)
            << "on the public library path: " << file;

    // Headless from the prefix: the bundle and the plug-ins are found from where it lies.
    const std::string postwatch = prefix + "/bin/postwatch";
    ProcessResult r = RunProcess(postwatch, {"--version"}, "", in.Env());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string("postwatch ") + POSTWATCH_VERSION + "\n");
    r = RunProcess(postwatch, {"--list-accounts"}, "", in.Env());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");

    // A check against the private Dovecot.
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    const std::string port = dovecot ? std::to_string(dovecot->Pop3Port()) : "110";
    r = RunProcess(postwatch,
                   {"--add-account", "Work", "--kind", "POP3", "--server", "127.0.0.1", "--port",
                    port, "--user", "alice", "--security", "none"},
                   "alice-pass\n", in.Env());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    if (dovecot) {
        ASSERT_TRUE(dovecot->ClearMailbox("alice"));
        ASSERT_NE(dovecot->Deliver("alice", "From: Bob <bob@example.org>\r\nSubject: Installed "
                                            "check\r\n\r\nbody\r\n"),
                  "");
        r = RunProcess(postwatch, {"--check-now", "Work"}, "", in.Env());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("Installed check"), std::string::npos) << r.out;
    } else {
        std::cerr << "note: " << MissingComponent("Dovecot", DovecotEnvironment::Why()) << "\n";
    }

    // The desktop program starts from the prefix (with-xvfb.sh gives this test its own X
    // server): its tray icon appears in the tray host, and a second start brings up its main
    // window. A missing bundle would have ended it at once.
    const std::string xdotool = FindTool("xdotool");
    const std::string trayer = FindTool("trayer");
    if (std::getenv("DISPLAY") && !xdotool.empty() && !trayer.empty()) {
        std::vector<std::string> env = in.Env();
        env.push_back("QT_QPA_PLATFORM=xcb");
        Background tray({trayer, "--edge", "top", "--align", "right"}, {},
                        in.dir.File("trayer.log"));
        Background desktop({postwatch}, env, in.dir.File("desktop.log"));
        const auto log = [&] { return ReadWholeFile(in.dir.File("desktop.log")); };
        // The display is this test's own: every window on it is the program's or the tray's.
        const auto windows = [&](const std::vector<std::string>& how) {
            std::vector<std::string> args{"search"};
            args.insert(args.end(), how.begin(), how.end());
            return RunProcess(xdotool, args).out;
        };
        ASSERT_TRUE(WaitFor(
            [&] {
                return desktop.Ended() ||
                       !windows({"--pid", std::to_string(desktop.Pid())}).empty();
            },
            60))
            << log();
        ASSERT_FALSE(desktop.Ended()) << log();
        r = RunProcess(postwatch, {}, "", env);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(WaitFor(
            [&] {
                return !windows({"--onlyvisible", "--name", "^Pigeonpost$"}).empty();
            },
            60))
            << log();
        ::kill(desktop.Pid(), SIGTERM);
        EXPECT_TRUE(WaitFor([&] { return desktop.Ended(); }, 60)) << log();
    } else {
        std::cerr << "note: "
                  << MissingComponent("an X server with xdotool and trayer",
                                      "run through tests/support/with-xvfb.sh; packages xdotool, "
                                      "trayer")
                  << "\n";
    }

    // The desktop files pass the desktop's own validators.
    const std::string desktopValidate = FindTool("desktop-file-validate");
    const std::string appstream = FindTool("appstreamcli");
    if (!desktopValidate.empty()) {
        r = RunProcess(desktopValidate,
                       {prefix + "/share/applications/" + kAppId + ".desktop",
                        prefix + "/share/applications/" + kAppId + "-uninstall.desktop",
                        prefix + "/share/pigeonpost/autostart/pigeonpost.desktop"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    } else {
        std::cerr << "note: "
                  << MissingComponent("desktop-file-validate", "package desktop-file-utils")
                  << "\n";
    }
    if (!appstream.empty()) {
        r = RunProcess(appstream, {"validate", "--no-net",
                                   prefix + "/share/metainfo/" + kAppId + ".metainfo.xml"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    } else {
        std::cerr << "note: " << MissingComponent("appstreamcli", "package appstream") << "\n";
    }

    // Removal: the launcher's exit codes, silence, and then nothing of the program left but
    // the user's data.
    const std::set<std::string> dataBefore = FilesBelow(in.dir.File("data"));
    const std::set<std::string> configBefore = FilesBelow(in.home + "/.config");
    ASSERT_FALSE(dataBefore.empty());
    const std::string uninstaller = prefix + "/lib/pigeonpost/uninstaller";
    const std::string registration = prefix + "/share/Koravel/uninstall/pigeonpost.ini";
    struct Launch {
        std::vector<std::string> args;
        int exitCode;
    };
    for (const Launch& launch : {Launch{{}, 255}, Launch{{"Nobody"}, 0}, Launch{{"Koravel"}, 0}}) {
        r = RunProcess(uninstaller, launch.args, "", in.Env());
        EXPECT_EQ(r.exitCode, launch.exitCode);
        EXPECT_EQ(r.out + r.err, "");
        if (launch.exitCode == 255)
            EXPECT_TRUE(fs::exists(registration));
    }
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(registration); }, 60));
    EXPECT_EQ(FilesBelow(prefix), std::set<std::string>());
    EXPECT_EQ(FilesBelow(in.dir.File("data")), dataBefore);
    EXPECT_EQ(FilesBelow(in.home + "/.config"), configBefore);
}

TEST(Install, PackageHoldsTheProgramAndRuns)
{
    const std::string dpkgDeb = FindTool("dpkg-deb");
    if (dpkgDeb.empty() || FindTool("dpkg-shlibdeps").empty())
        GTEST_SKIP() << MissingComponent("dpkg-deb and dpkg-shlibdeps", "package dpkg-dev");
    const Installation& in = Installed();
    ASSERT_EQ(in.error, "");

    TempDir dir;
    ProcessResult r =
        RunProcess(CPACK_COMMAND,
                   {"-G", "DEB", "--config",
                    std::string(POSTWATCH_BUILD_DIR) + "/CPackConfig.cmake", "-B", dir.Path()},
                   "", in.Env());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::string deb;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        if (entry.path().extension() == ".deb")
            deb = entry.path().string();
    ASSERT_EQ(fs::path(deb).filename().string().rfind(
                  std::string("pigeonpost_") + POSTWATCH_VERSION + "_", 0),
              0u)
        << deb;
    r = RunProcess(dpkgDeb, {"-f", deb, "Version", "Depends"});
    EXPECT_NE(r.out.find(std::string("Version: ") + POSTWATCH_VERSION), std::string::npos);
    EXPECT_NE(r.out.find("libqt6core6"), std::string::npos) << r.out; // from dpkg-shlibdeps

    // The package holds what a system install holds, except the removal script and the
    // manifest: the package manager keeps its own list and removes the package.
    std::set<std::string> expected = in.manifest;
    expected.erase("lib/pigeonpost/pigeonpost-remove");
    expected.erase("share/pigeonpost/install-manifest.txt");
    const std::string root = dir.File("root");
    r = RunProcess(dpkgDeb, {"-x", deb, root});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FilesBelow(root + "/usr"), expected);

    // Extracted anywhere, the program finds its libraries and bundle from where it lies.
    r = RunProcess(root + "/usr/bin/postwatch", {"--list-accounts"}, "", in.Env());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // Its registration removes the package with the system's tools, asking for rights.
    std::vector<std::string> started;
    UninstallLauncher launcher({root + "/usr/share/Koravel/uninstall"}, ::geteuid(),
                               [&](const std::vector<std::string>& argv) {
                                   started = argv;
                                   return true;
                               });
    EXPECT_EQ(launcher.Run({"Koravel"}), 0);
    EXPECT_EQ(started, (std::vector<std::string>{"/usr/bin/pkexec", "/usr/bin/dpkg", "--remove",
                                                 "pigeonpost"}));
}

// Where an install registers for removal: a prefix inside the installing user's home is a
// per-user install, any other a system install that also gets the udev rule.
struct RegistrationRow {
    const char* name;
    std::string prefix;     // relative to the test folder
    std::string dataHome;   // XDG_DATA_HOME, relative to the test folder ("" unset)
    std::string registered; // where the registration lands, relative to the test folder
    bool udevRule;
};
POSTWATCH_ROW_PRINTS_NAME(RegistrationRow)

const RegistrationRow kRegistrationRows[] = {
    {"PrefixInsideHomeIsPerUser", "home/.local", "", "home/.local/share/Koravel/uninstall", false},
    {"HomeItselfIsPerUser", "home", "", "home/.local/share/Koravel/uninstall", false},
    {"PerUserFollowsDataHome", "home/.local", "data-home", "data-home/Koravel/uninstall", false},
    {"RelativeDataHomeIgnored", "home/.local", "relative", "home/.local/share/Koravel/uninstall",
     false},
    {"PrefixBesideHomeIsSystemWide", "home2", "", "home2/share/Koravel/uninstall", true},
    {"OtherPrefixIsSystemWide", "opt/p", "data-home", "opt/p/share/Koravel/uninstall", true},
};

class RegistrationPlace : public ::testing::TestWithParam<RegistrationRow>
{
};

// The registration step alone (it is the last step of every install from the build tree).
TEST_P(RegistrationPlace, FollowsThePrefix)
{
    const RegistrationRow& row = GetParam();
    TempDir dir;
    const std::string dataHome = row.dataHome.empty()         ? ""
                                 : row.dataHome == "relative" ? "relative/share"
                                                              : dir.File(row.dataHome);
    ProcessResult r =
        RunProcess(CMAKE_COMMAND,
                   {"-DCMAKE_INSTALL_PREFIX=" + dir.File(row.prefix), "-P",
                    std::string(POSTWATCH_BUILD_DIR) + "/dist/InstallRegistration.cmake"},
                   "", {"HOME=" + dir.File("home"), "XDG_DATA_HOME=" + dataHome, "DESTDIR="});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string registration = dir.File(row.registered) + "/pigeonpost.ini";
    EXPECT_TRUE(fs::exists(registration)) << r.out;
    EXPECT_EQ(fs::exists(dir.File(row.prefix) + "/lib/udev/rules.d/70-pigeonpost-mail-led.rules"),
              row.udevRule);
    // The manifest names the registration last, where the removal deletes it last.
    const std::vector<std::string> manifest =
        Lines(ReadWholeFile(dir.File(row.prefix) + "/share/pigeonpost/install-manifest.txt"));
    ASSERT_FALSE(manifest.empty());
    EXPECT_EQ(manifest.back(), registration);
}

INSTANTIATE_TEST_SUITE_P(Rules, RegistrationPlace, ::testing::ValuesIn(kRegistrationRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
