#include "apppaths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string HomeDir()
{
    std::string home = Env("HOME");
    return home.empty() ? std::string("/tmp") : home;
}

bool IsFile(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string AppPaths::DataDir()
{
    std::string dir = Env("POSTWATCH_HOME");
    if (!dir.empty())
        return dir;
    std::string base = Env("XDG_DATA_HOME");
    if (base.empty())
        base = HomeDir() + "/.local/share";
    return base + "/Koravel/Pigeonpost";
}

std::string AppPaths::ExecutableDir()
{
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(buf.data(), static_cast<size_t>(n));
    auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

std::string AppPaths::AssetDir()
{
    std::string dir = Env("POSTWATCH_ASSETS");
    if (!dir.empty())
        return dir;
    std::string exeDir = ExecutableDir();
    if (IsFile(exeDir + "/postwatch.rcc"))
        return exeDir;
    // Installed layout: <prefix>/bin/postwatch and <prefix>/share/pigeonpost.
    auto slash = exeDir.rfind('/');
    std::string prefix = slash == std::string::npos ? std::string("..") : exeDir.substr(0, slash);
    return prefix + "/share/pigeonpost";
}

std::string AppPaths::AccountListFile()
{
    return DataDir() + "/Account.cfg";
}
std::string AppPaths::MailDir()
{
    return DataDir() + "/Mail";
}
std::string AppPaths::AccountDir(const std::string& account)
{
    return MailDir() + "/" + account;
}
std::string AppPaths::AccountFile(const std::string& account)
{
    return AccountDir(account) + "/Account.inf";
}
std::string AppPaths::MailBoxFile(const std::string& account)
{
    return AccountDir(account) + "/Message.box";
}
std::string AppPaths::UidFile(const std::string& account)
{
    return AccountDir(account) + "/UID.inf";
}
std::string AppPaths::FromNowFile(const std::string& account)
{
    return AccountDir(account) + "/FromNow";
}
std::string AppPaths::UidValidityFile(const std::string& account)
{
    return AccountDir(account) + "/UidValidity";
}

bool AppPaths::MakeDirs(const std::string& path, unsigned mode)
{
    if (path.empty())
        return false;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
