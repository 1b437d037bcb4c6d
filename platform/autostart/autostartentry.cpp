#include "autostartentry.h"

#include "apppaths.h"
#include "atomicfilewriter.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace
{

std::string ConfigHome()
{
    if (const char* dir = std::getenv("XDG_CONFIG_HOME"); dir && *dir == '/')
        return dir;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config";
}

// A value of a desktop file holds no line breaks: they would start a new key.
std::string OneLine(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (c == '\n' || c == '\r') ? ' ' : c;
    return out;
}

} // namespace

CAutostartEntry::CAutostartEntry()
    : CAutostartEntry(ConfigHome() + "/autostart", "/etc/xdg/autostart")
{
}

CAutostartEntry::CAutostartEntry(std::string userDir, std::string systemDir)
    : userDir_(std::move(userDir)), systemDir_(std::move(systemDir))
{
}

std::string CAutostartEntry::TargetPath(bool machineWide) const
{
    const bool system = machineWide && ::access(systemDir_.c_str(), W_OK) == 0;
    return (system ? systemDir_ : userDir_) + "/" + kFileName;
}

std::string CAutostartEntry::Content(const std::string& executable, const std::string& name)
{
    // The freedesktop desktop-entry format's rules for Exec: inside double quotes the characters
    // " ` $ \ are escaped with a backslash, and "%" becomes "%%" (no field code). The
    // string value type then escapes each backslash once more.
    std::string quoted = "\"";
    for (char c : OneLine(executable)) {
        if (c == '"' || c == '`' || c == '$')
            quoted += std::string("\\\\") + c;
        else if (c == '\\')
            quoted += "\\\\\\\\";
        else if (c == '%')
            quoted += "%%";
        else
            quoted += c;
    }
    quoted += '"';
    return "[Desktop Entry]\nType=Application\nName=" + OneLine(name) + "\nExec=" + quoted +
           "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
}

std::string CAutostartEntry::RunningExecutable()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

bool CAutostartEntry::Write(const std::string& executable, const std::string& name,
                            bool machineWide, std::string* error)
{
    const std::string path = TargetPath(machineWide);
    if (!machineWide || path.rfind(userDir_, 0) == 0)
        AppPaths::MakeDirs(userDir_, 0700);
    AtomicFileWriter writer(path, 0644);
    if (!writer.Open() || !writer.Write(Content(executable, name)) || !writer.Commit()) {
        if (error)
            *error = writer.Error();
        return false;
    }
    return true;
}

bool CAutostartEntry::Remove()
{
    bool ok = true;
    if (::unlink((userDir_ + "/" + kFileName).c_str()) != 0 && errno != ENOENT)
        ok = false;
    // A machine-wide entry this user may not remove is the administrator's to keep.
    if (::unlink((systemDir_ + "/" + kFileName).c_str()) != 0 && errno != ENOENT &&
        errno != EACCES && errno != EPERM && errno != EROFS)
        ok = false;
    return ok;
}
