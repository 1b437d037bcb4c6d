#pragma once

#include <string>

// The desktop's "start at log-in" entry of the program: the XDG autostart file
// "pigeonpost.desktop", per user in $XDG_CONFIG_HOME/autostart (default ~/.config/autostart),
// machine-wide in /etc/xdg/autostart when that is asked for and the folder is writable.
//
// Write() replaces the file atomically (mode 0644); Remove() deletes it from both places
// where it may be (a machine-wide entry left behind would still start the program). The
// folders are taken at construction (tests pass their own). Results: true on success.
// Threads: any; the file system orders concurrent writers.
class CAutostartEntry
{
public:
    static constexpr const char* kFileName = "pigeonpost.desktop";

    // Folders from the environment now.
    CAutostartEntry();
    CAutostartEntry(std::string userDir, std::string systemDir);

    // Writes the entry for `executable` shown as `name`. `machineWide` asks for the system
    // folder; when it is not writable the per-user folder is used. `error` says why on false.
    bool Write(const std::string& executable, const std::string& name, bool machineWide,
               std::string* error = nullptr);
    bool Remove();
    // Where Write would put the file (whether or not it exists).
    std::string TargetPath(bool machineWide) const;
    const std::string& UserDir() const { return userDir_; }
    const std::string& SystemDir() const { return systemDir_; }

    // The file's text: an Exec line that quotes the path by the Desktop Entry rules.
    static std::string Content(const std::string& executable, const std::string& name);
    // The running program's path (/proc/self/exe); empty when it cannot be read.
    static std::string RunningExecutable();

private:
    std::string userDir_;
    std::string systemDir_;
};
