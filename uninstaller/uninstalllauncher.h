#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// The uninstall launcher: finds the product's uninstall registration by its display name and
// starts the removal command it registers.
//
// The wanted name is the command-line words joined by single blanks, one blank, and
// "3D Postwatch" ("uninstaller Koravel" wants "Koravel 3D Postwatch"); it is compared whole,
// however long, without regard to ASCII letter case. The folders are searched in the given
// order (per user first, then system-wide), and within a folder its "*.ini" files in
// case-insensitive name order. The first registration whose DisplayName matches and which
// has a usable UninstallString is started (see UninstallRegistration for which files are
// trusted, ExecCommand for how the command is split) and the search ends there, whether or
// not the start succeeded; a match without a usable UninstallString is passed over.
//
// Run() returns the exit code: kExitEmptyCommandLine when there are no words, otherwise 0.
// It prints nothing. The starter must not wait for the command. Any thread; Run() reads only
// the folders it was given.
class UninstallLauncher
{
public:
    using Starter = std::function<bool(const std::vector<std::string>& argv)>;
    static constexpr int kExitEmptyCommandLine = 255; // -1 as an exit status
    static constexpr const char* kNameSuffix = " 3D Postwatch";

    UninstallLauncher(std::vector<std::string> folders, uid_t user, Starter starter);

    int Run(const std::vector<std::string>& args) const;

    // The name looked for; empty when the command line is empty.
    static std::string WantedName(const std::vector<std::string>& args);

    // The registration folders from the environment, in search order, each once:
    // $XDG_DATA_HOME (default ~/.local/share), then the share folder of the prefix this
    // program is installed in (<prefix>/lib/pigeonpost/uninstaller), then each entry of
    // $XDG_DATA_DIRS (default /usr/local/share:/usr/share); each with "/Koravel/uninstall".
    static std::vector<std::string> FoldersFromEnvironment();

    // Starts argv[0] (searched on PATH when it holds no "/") in a session of its own, with
    // this process's environment and standard files, and returns without waiting.
    static bool StartDetached(const std::vector<std::string>& argv);

private:
    std::vector<std::string> folders_;
    uid_t user_;
    Starter starter_;
};
