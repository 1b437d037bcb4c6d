#include "uninstalllauncher.h"

#include "execcommand.h"
#include "uninstallregistration.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace
{

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

// The order in which the Windows registry lists subkeys: letters compared without case; names
// that differ only in case keep a fixed order by their bytes.
bool NameOrder(const std::string& a, const std::string& b)
{
    const bool less =
        std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(Lower(x)) < static_cast<unsigned char>(Lower(y));
        });
    if (less)
        return true;
    if (EqualIgnoringCase(a, b))
        return a < b;
    return false;
}

bool EndsWithIni(const std::string& name)
{
    return name.size() > 4 && EqualIgnoringCase(name.substr(name.size() - 4), ".ini");
}

std::vector<std::string> RegistrationFiles(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (EndsWithIni(name))
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), NameOrder);
    return names;
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The folder that holds the running program; empty when it cannot be found.
std::string ProgramFolder()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    std::string exe(buffer, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

} // namespace

UninstallLauncher::UninstallLauncher(std::vector<std::string> folders, uid_t user, Starter starter)
    : folders_(std::move(folders)), user_(user), starter_(std::move(starter))
{
}

std::string UninstallLauncher::WantedName(const std::vector<std::string>& args)
{
    std::string words;
    for (size_t i = 0; i < args.size(); ++i)
        words += (i == 0 ? "" : " ") + args[i];
    if (words.empty())
        return std::string();
    return words + kNameSuffix;
}

int UninstallLauncher::Run(const std::vector<std::string>& args) const
{
    const std::string wanted = WantedName(args);
    if (wanted.empty())
        return kExitEmptyCommandLine;
    for (const std::string& folder : folders_) {
        for (const std::string& name : RegistrationFiles(folder)) {
            UninstallRegistration reg;
            if (UninstallRegistration::Read(folder + "/" + name, user_, &reg) !=
                UninstallRegistration::Status::Ok)
                continue;
            if (!reg.DisplayName() || !EqualIgnoringCase(*reg.DisplayName(), wanted))
                continue;
            std::vector<std::string> argv;
            if (!reg.UninstallString() || !ExecCommand::Split(*reg.UninstallString(), &argv))
                continue;
            starter_(argv); // a failed start is not reported
            return 0;
        }
    }
    return 0;
}

std::vector<std::string> UninstallLauncher::FoldersFromEnvironment()
{
    std::vector<std::string> bases;
    std::string user = Env("XDG_DATA_HOME");
    if (user.empty() || user[0] != '/') {
        const std::string home = Env("HOME");
        if (!home.empty())
            user = home + "/.local/share";
        else
            user.clear();
    }
    if (!user.empty())
        bases.push_back(user);

    // Installed as <prefix>/lib/pigeonpost/uninstaller: the install registers beside itself.
    const std::string own = ProgramFolder();
    const std::string privateLib = "/lib/pigeonpost";
    if (own.size() > privateLib.size() &&
        own.compare(own.size() - privateLib.size(), privateLib.size(), privateLib) == 0)
        bases.push_back(own.substr(0, own.size() - privateLib.size()) + "/share");

    std::string dirs = Env("XDG_DATA_DIRS");
    if (dirs.empty())
        dirs = "/usr/local/share:/usr/share";
    size_t pos = 0;
    while (pos <= dirs.size()) {
        size_t end = dirs.find(':', pos);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = dirs.substr(pos, end - pos);
        if (!dir.empty() && dir[0] == '/')
            bases.push_back(dir);
        pos = end + 1;
    }

    std::vector<std::string> folders;
    std::vector<std::string> seen;
    for (std::string base : bases) {
        while (base.size() > 1 && base.back() == '/')
            base.pop_back();
        const std::string folder = base + "/Koravel/uninstall";
        char resolved[PATH_MAX];
        const std::string key = ::realpath(folder.c_str(), resolved) ? resolved : folder;
        if (std::find(seen.begin(), seen.end(), key) != seen.end())
            continue;
        seen.push_back(key);
        folders.push_back(folder);
    }
    return folders;
}

bool UninstallLauncher::StartDetached(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return false;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0)
        return false;
    // A session of its own: the removal goes on when the launcher and its terminal are gone.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0;
}
