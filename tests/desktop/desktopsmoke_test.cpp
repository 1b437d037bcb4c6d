// The desktop program as a user meets it, under a private X server with a tray host: the
// tray icon appears, a second start hands over to the first and ends, a check against a
// private Dovecot stores the new mail and shows a popup, and SIGTERM ends the program
// through its exit sequence. Screenshots of each stage are kept for a human to look at.
#include "accountlist.h"
#include "dovecotenvironment.h"
#include "regsettings.h"
#include "support/runprocess.h"
#include "support/tempdir.h"

#include <QColor>
#include <QImage>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

using Clock = std::chrono::steady_clock;
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;
constexpr int kTrayWidth = 120;
constexpr int kTrayHeight = 24;

std::string FindTool(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

// Polls `ready` until it holds or `seconds` pass; generous limits, short naps.
bool WaitFor(const std::function<bool()>& ready, int seconds)
{
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return ready();
}

// A background process with extra environment and its output in a file; killed (by its
// own id) when the object goes, unless it has ended.
class Child
{
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& logFile, int keepFd = -1)
    {
        pid_ = ::fork();
        if (pid_ == 0) {
            int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0)
                ::dup2(null, 0);
            if (keepFd >= 0)
                ::fcntl(keepFd, F_SETFD, 0);
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
    ~Child()
    {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    // True once it has ended; the exit code then in ExitCode() (-1 for a signal).
    bool Ended()
    {
        if (ended_ || pid_ <= 0)
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return ended_;
    }
    int ExitCode() const { return exitCode_; }
    void Signal(int number) { ::kill(pid_, number); }

private:
    pid_t pid_ = -1;
    bool ended_ = false;
    int exitCode_ = -1;
};

class DesktopSmokeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "trayer", "import", "xdotool"}) {
            tools_[tool] = FindTool(tool);
            if (tools_[tool].empty()) {
                const std::string why = std::string("'") + tool +
                                        "' is not installed (packages xvfb, trayer, "
                                        "imagemagick, xdotool; scripts/bootstrap.sh installs "
                                        "them)";
                GTEST_SKIP() << MissingComponent(
                    std::string(tool) == "trayer" ? "the tray host (trayer)" : tool, why);
            }
        }
        dovecot_ = DovecotEnvironment::Get();
        if (!dovecot_)
            GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
        ASSERT_TRUE(dovecot_->ClearMailbox("alice"));
        std::filesystem::create_directories(SCREENSHOT_DIR);
        StartX();
    }

    void StartX()
    {
        // Xvfb chooses a free display itself and writes its number to the pipe.
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        xvfb_ = std::make_unique<Child>(
            std::vector<std::string>{tools_["Xvfb"], "-displayfd", std::to_string(fds[1]),
                                     "-noreset", "-nolisten", "tcp", "-screen", "0",
                                     std::to_string(kScreenWidth) + "x" +
                                         std::to_string(kScreenHeight) + "x24"},
            std::vector<std::string>{}, dir_.File("xvfb.log"), fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (number.find('\n') == std::string::npos && Clock::now() < end) {
            if (::poll(&p, 1, 200) > 0) {
                char buffer[16];
                ssize_t n = ::read(fds[0], buffer, sizeof buffer);
                if (n <= 0)
                    break;
                number.append(buffer, static_cast<size_t>(n));
            }
        }
        ::close(fds[0]);
        ASSERT_NE(number.find('\n'), std::string::npos)
            << "Xvfb did not start: " << ReadWholeFile(dir_.File("xvfb.log"));
        display_ = ":" + number.substr(0, number.find('\n'));
        tray_ = std::make_unique<Child>(
            std::vector<std::string>{
                tools_["trayer"], "--edge", "top", "--align", "right", "--widthtype", "pixel",
                "--width", std::to_string(kTrayWidth), "--heighttype", "pixel", "--height",
                std::to_string(kTrayHeight), "--tint", "0x808080", "--transparent", "false"},
            std::vector<std::string>{"DISPLAY=" + display_}, dir_.File("trayer.log"));
    }

    std::vector<std::string> Env() const
    {
        return {"DISPLAY=" + display_,
                "WAYLAND_DISPLAY=",
                "QT_QPA_PLATFORM=xcb",
                "POSTWATCH_HOME=" + dir_.File("data"),
                "XDG_CONFIG_HOME=" + dir_.File("config"),
                "XDG_DATA_HOME=" + dir_.File("share"),
                "XDG_RUNTIME_DIR=" + dir_.File("runtime"),
                "POSTWATCH_LED_ROOT=" + dir_.File("leds")};
    }

    ProcessResult Headless(const std::vector<std::string>& args, const std::string& input = "")
    {
        return RunProcess(POSTWATCH_BINARY, args, input, Env());
    }

    std::string Tool(const char* name) { return tools_[name]; }

    // A screenshot of the whole screen, kept under the build tree's screenshots folder.
    QImage Screenshot(const std::string& name)
    {
        const std::string file = std::string(SCREENSHOT_DIR) + "/desktop-smoke-" + name + ".png";
        std::filesystem::remove(file);
        RunProcess(tools_["import"], {"-window", "root", file}, "", {"DISPLAY=" + display_});
        return QImage(QString::fromStdString(file));
    }

    // Pixels of `area` that differ from its most common colour.
    static int Busy(const QImage& shot, const QRect& area)
    {
        std::map<QRgb, int> counts;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ++counts[shot.pixel(x, y)];
        int most = 0;
        int total = 0;
        for (const auto& [colour, n] : counts) {
            most = std::max(most, n);
            total += n;
        }
        return total - most;
    }

    std::vector<std::string> VisibleMainWindows() { return VisibleWindows("^Pigeonpost$"); }

    std::vector<std::string> VisibleWindows(const std::string& namePattern)
    {
        ProcessResult r =
            RunProcess(tools_["xdotool"], {"search", "--onlyvisible", "--name", namePattern}, "",
                       {"DISPLAY=" + display_});
        std::vector<std::string> ids;
        std::istringstream in(r.out);
        for (std::string id; std::getline(in, id);)
            if (!id.empty())
                ids.push_back(id);
        return ids;
    }

    TempDir dir_;
    DovecotFixture* dovecot_ = nullptr;
    std::map<std::string, std::string> tools_;
    std::string display_;
    std::unique_ptr<Child> xvfb_;
    std::unique_ptr<Child> tray_;
};

std::string Message(const std::string& subject)
{
    return "From: Bob <bob@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Mon, 7 Dec 2026 09:30:00 +0000\r\n\r\nbody\r\n";
}

TEST_F(DesktopSmokeTest, TrayHandOverCheckPopupAndExit)
{
    const QRect trayArea(kScreenWidth - kTrayWidth, 0, kTrayWidth, kTrayHeight);
    const QRect popupArea(kScreenWidth - 100, kScreenHeight - 90, 90, 80);

    // An account, and "start in the tray".
    ProcessResult added =
        Headless({"--add-account", "Work", "--kind", "POP3", "--server", "127.0.0.1", "--port",
                  std::to_string(dovecot_->Pop3Port()), "--user", "alice", "--security", "none"},
                 "alice-pass\n");
    ASSERT_EQ(added.exitCode, 0) << added.err;
    {
        ScopedEnv config("XDG_CONFIG_HOME", dir_.File("config"));
        ScopedEnv led("POSTWATCH_LED_ROOT", dir_.File("leds"));
        CRegSettings settings;
        ASSERT_EQ(settings.Prepare(), 1);
        settings.LoadGeneral();
        settings.general.minimum.Set(true);
        ASSERT_EQ(settings.SaveGeneral(), 1);
    }

    QImage before;
    ASSERT_TRUE(WaitFor(
        [&] {
            before = Screenshot("0-empty-tray");
            return !before.isNull();
        },
        20))
        << "no screenshot of display " << display_;
    const int emptyTray = Busy(before, trayArea);

    Child program({POSTWATCH_BINARY}, Env(), dir_.File("postwatch.log"));
    auto log = [&] { return ReadWholeFile(dir_.File("postwatch.log")); };

    // The tray icon appears in the tray host.
    QImage shot;
    EXPECT_TRUE(WaitFor(
        [&] {
            shot = Screenshot("1-tray-icon");
            return program.Ended() || Busy(shot, trayArea) > emptyTray + 20;
        },
        30))
        << "no tray icon; " << log();
    ASSERT_FALSE(program.Ended()) << log();
    // "Minimum": nothing but the icon.
    EXPECT_TRUE(VisibleMainWindows().empty());

    // A second start hands over and ends at once; the first shows its window.
    ProcessResult second = RunProcess(POSTWATCH_BINARY, {}, "", Env());
    EXPECT_EQ(second.exitCode, 0) << second.err;
    std::vector<std::string> windows;
    ASSERT_TRUE(WaitFor(
        [&] {
            windows = VisibleMainWindows();
            return !windows.empty();
        },
        20))
        << "the first instance did not show its window; " << log();
    EXPECT_EQ(windows.size(), 1u); // the second made none of its own
    // The header list of the centred window, between its header and the preview pane.
    const QRect listArea(420, 216, 640, 230);
    const int emptyList = Busy(Screenshot("2-second-start"), listArea);

    // New mail, and the check command from the keyboard (File, Check Selected Account).
    ASSERT_NE(dovecot_->Deliver("alice", Message("Smoke one")), "");
    ASSERT_NE(dovecot_->Deliver("alice", Message("Smoke two")), "");
    const std::string box = dir_.File("data/Mail/Work/Message.box");
    auto stored = [&] {
        const std::string text = ReadWholeFile(box);
        return text.find("Smoke one") != std::string::npos &&
               text.find("Smoke two") != std::string::npos;
    };
    bool checked = false;
    for (int attempt = 0; attempt < 5 && !checked; ++attempt) {
        RunProcess(Tool("xdotool"), {"windowfocus", "--sync", windows.front()}, "",
                   {"DISPLAY=" + display_});
        RunProcess(Tool("xdotool"), {"key", "--clearmodifiers", "alt+f"}, "",
                   {"DISPLAY=" + display_});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        RunProcess(Tool("xdotool"), {"key", "c"}, "", {"DISPLAY=" + display_});
        checked = WaitFor(stored, 8);
    }
    ASSERT_TRUE(checked) << "the check stored nothing; " << log();

    // The new-mail popup slides out of the bottom-right corner.
    EXPECT_TRUE(WaitFor([&] { return Busy(Screenshot("3-popup"), popupArea) > 200; }, 20))
        << "no popup; " << log();
    // Only for the kept picture: the popup fully out.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    Screenshot("3-popup");

    // The messages as rows: the account has no access password, so its own item, selected
    // since the start, shows them without opening anything.
    EXPECT_TRUE(WaitFor([&] { return Busy(Screenshot("4-rows"), listArea) > emptyList + 100; }, 15))
        << "no rows in the header list; " << log();

    // SIGTERM runs the exit sequence; the process ends after the drain, in bounded time.
    const auto askedAt = Clock::now();
    program.Signal(SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return program.Ended(); }, 20)) << "still running; " << log();
    EXPECT_EQ(program.ExitCode(), 0) << log();
    EXPECT_LT(Clock::now() - askedAt, std::chrono::seconds(15));
    Screenshot("5-after-exit");

    // What the window showed was stored: the command line lists both messages.
    ProcessResult listed = Headless({"--list-messages", "Work"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("Smoke one"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("Smoke two"), std::string::npos) << listed.out;
}

// Accounts changed while the program runs show in its tree without a restart: one added by
// the command line (which tells the program), one removed by editing the account list
// directly (which the program notices in its files).
TEST_F(DesktopSmokeTest, AccountChangesShowInTheRunningTree)
{
    // The tree pane of the centred window, below the toolbar: a row per account.
    const QRect treeArea(116, 196, 190, 150);
    auto account = [&](const std::string& name) {
        return Headless({"--add-account", name, "--kind", "POP3", "--server", "127.0.0.1", "--port",
                         "1", "--user", "alice", "--security", "none"},
                        "alice-pass\n");
    };
    ProcessResult added = account("Work");
    ASSERT_EQ(added.exitCode, 0) << added.err;
    {
        // The window on the screen at start, not only the tray icon.
        ScopedEnv config("XDG_CONFIG_HOME", dir_.File("config"));
        ScopedEnv led("POSTWATCH_LED_ROOT", dir_.File("leds"));
        CRegSettings settings;
        ASSERT_EQ(settings.Prepare(), 1);
        settings.LoadGeneral();
        settings.general.minimum.Set(false);
        ASSERT_EQ(settings.SaveGeneral(), 1);
    }

    Child program({POSTWATCH_BINARY}, Env(), dir_.File("postwatch.log"));
    auto log = [&] { return ReadWholeFile(dir_.File("postwatch.log")); };
    ASSERT_TRUE(WaitFor([&] { return program.Ended() || !VisibleMainWindows().empty(); }, 30))
        << "no window; " << log();
    ASSERT_FALSE(program.Ended()) << log();
    // The tree as drawn once the window has settled.
    int before = -1;
    ASSERT_TRUE(WaitFor(
        [&] {
            const int now = Busy(Screenshot("6-one-account"), treeArea);
            const bool settled = now == before && now > 0;
            before = now;
            return settled;
        },
        20));

    added = account("Second");
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const auto addedAt = Clock::now();
    EXPECT_TRUE(WaitFor(
        [&] { return Busy(Screenshot("7-added-by-command-line"), treeArea) > before + 40; }, 20))
        << "the added account is not in the tree; " << log();
    RecordProperty(
        "added_to_tree_ms",
        static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - addedAt).count()));

    ASSERT_EQ(CAccountList(dir_.File("data/Account.cfg")).Delete("Second"), 1);
    EXPECT_TRUE(WaitFor(
        [&] { return Busy(Screenshot("8-removed-in-the-file"), treeArea) < before + 20; }, 20))
        << "the removed account is still in the tree; " << log();

    program.Signal(SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return program.Ended(); }, 20)) << "still running; " << log();
    EXPECT_EQ(program.ExitCode(), 0) << log();
}

// A logout while a modal dialog is open ends the program too: the first start of a user
// without accounts shows the wizard before the main loop runs, and neither the wizard's own
// loop nor the main loop started after it may keep the process alive.
TEST_F(DesktopSmokeTest, ExitWhileTheFirstStartWizardIsOpen)
{
    Child program({POSTWATCH_BINARY}, Env(), dir_.File("postwatch.log"));
    auto log = [&] { return ReadWholeFile(dir_.File("postwatch.log")); };
    ASSERT_TRUE(WaitFor(
        [&] { return program.Ended() || !VisibleWindows("^New Account Wizard$").empty(); }, 30))
        << "no wizard; " << log();
    ASSERT_FALSE(program.Ended()) << log();

    program.Signal(SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return program.Ended(); }, 20)) << "still running; " << log();
    EXPECT_EQ(program.ExitCode(), 0) << log();
}

// Without a display the program says so in one line and ends with 2: no crash, no core.
TEST(DesktopWithoutDisplay, SaysSoInOneLineAndEnds)
{
    struct Case {
        const char* name;
        std::string display;
        std::string platform;
    };
    const std::vector<Case> cases = {
        {"nothing set", "", ""},
        {"a display nobody serves", ":60123", ""},
        {"xcb asked for a display nobody serves", ":60123", "xcb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ProcessResult r = RunProcess(
            POSTWATCH_BINARY, {}, "",
            {"DISPLAY=" + c.display, "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=" + c.platform,
             "POSTWATCH_HOME=" + dir.File("data"), "XDG_CONFIG_HOME=" + dir.File("config"),
             "XDG_RUNTIME_DIR=" + dir.File("runtime")});
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(r.out, "");
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err; // exactly one line
        EXPECT_NE(r.err.find("--check-now"), std::string::npos) << r.err;
        // Nothing was set up for a program that cannot show itself.
        EXPECT_FALSE(std::filesystem::exists(dir.File("data/Mail")));
    }
}

} // namespace
