#include "keyringbus.h"

#include "runprocess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

// The keyring's own password; not one a test checks for in output.
const char kKeyringPassword[] = "keyring-of-the-test";

// No <servicedir>: nothing is started on demand (no prompter, no second keyring).
const char kBusConfig[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig><type>session</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>\n"
    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";

// Starts `argv` with `env` and, when given, `input` on its standard input; -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& input)
{
    int in[2];
    if (::pipe(in) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(in[0], 0);
        ::close(in[0]);
        ::close(in[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        for (const std::string& e : env)
            ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    if (pid > 0 && !input.empty())
        (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);
    return pid;
}

void End(pid_t& pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGCONT); // a frozen one must run to see it
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

} // namespace

KeyringBus::~KeyringBus()
{
    End(keyring_);
    End(bus_);
}

bool KeyringBus::Start(std::string* error)
{
    const std::string socket = dir_.File("bus");
    {
        char config[sizeof kBusConfig + 512];
        std::snprintf(config, sizeof config, kBusConfig, socket.c_str());
        std::ofstream(dir_.File("bus.conf")) << config;
    }
    bus_ = Spawn({"dbus-daemon", "--nofork", "--config-file=" + dir_.File("bus.conf")}, {}, "");
    struct stat st {
    };
    for (int i = 0; i < 250 && ::stat(socket.c_str(), &st) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (bus_ < 0 || ::stat(socket.c_str(), &st) != 0) {
        *error = "dbus-daemon does not start (package dbus-daemon)";
        return false;
    }
    address_ = "unix:path=" + socket;
    ::mkdir(dir_.File("run").c_str(), 0700);
    keyring_ = Spawn({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                     {"DBUS_SESSION_BUS_ADDRESS=" + address_, "HOME=" + dir_.Path(),
                      "XDG_DATA_HOME=" + dir_.File("share"), "XDG_RUNTIME_DIR=" + dir_.File("run")},
                     kKeyringPassword);
    if (keyring_ < 0 || !Control("wait")) {
        *error = "gnome-keyring-daemon does not come up on a private bus (package gnome-keyring)";
        return false;
    }
    return true;
}

bool KeyringBus::Control(const std::string& command, const std::string& input)
{
    const ProcessResult r =
        RunProcess("/usr/bin/python3", {KEYRINGCTL_SCRIPT, command}, input, Env());
    return r.exitCode == 0;
}

bool KeyringBus::Lock()
{
    return Control("lock");
}

bool KeyringBus::Unlock()
{
    return Control("unlock", kKeyringPassword);
}

bool KeyringBus::Freeze(bool frozen)
{
    return keyring_ > 0 && ::kill(keyring_, frozen ? SIGSTOP : SIGCONT) == 0;
}
