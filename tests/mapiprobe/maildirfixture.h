#pragma once

#include "support/tempdir.h"

#include <filesystem>
#include <string>
#include <sys/stat.h>

// Maildirs for the provider's tests, in a temporary folder.

// Makes a Maildir (cur/, new/, tmp/) at `path`, with its parents.
inline void MakeMaildir(const std::string& path)
{
    for (const char* sub : {"cur", "new", "tmp"})
        std::filesystem::create_directories(path + "/" + sub);
}

// Delivers `message` into `maildir` as the Maildir delivery protocol does: written whole
// into tmp/, then renamed into new/. Returns the path in new/.
inline std::string DeliverByProtocol(const std::string& maildir, const std::string& name,
                                     const std::string& message)
{
    const std::string tmp = maildir + "/tmp/" + name;
    WriteWholeFile(tmp, message);
    const std::string target = maildir + "/new/" + name;
    std::filesystem::rename(tmp, target);
    return target;
}

inline bool Exists(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0;
}
