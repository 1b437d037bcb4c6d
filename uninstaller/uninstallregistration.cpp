#include "uninstallregistration.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool SameWordIgnoringCase(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

std::string Trim(const std::string& s)
{
    size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

} // namespace

UninstallRegistration UninstallRegistration::Parse(const std::string& text)
{
    UninstallRegistration reg;
    // A zero byte cannot be part of a name or a command: the file is not one of ours.
    if (text.find('\0') != std::string::npos)
        return reg;
    bool inSection = true; // keys before any section count
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';')
            continue;
        if (trimmed[0] == '[') {
            inSection = trimmed.back() == ']' &&
                        SameWordIgnoringCase(trimmed.substr(1, trimmed.size() - 2), "Uninstall");
            continue;
        }
        if (!inSection)
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (SameWordIgnoringCase(key, "DisplayName")) {
            if (!reg.displayName_)
                reg.displayName_ = std::move(value);
        } else if (SameWordIgnoringCase(key, "UninstallString")) {
            if (!reg.uninstallString_)
                reg.uninstallString_ = std::move(value);
        }
    }
    return reg;
}

UninstallRegistration::Status UninstallRegistration::Read(const std::string& path, uid_t user,
                                                          UninstallRegistration* out)
{
    *out = UninstallRegistration();
    // O_NONBLOCK: a FIFO planted in the folder must not stop the search.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return Status::Unreadable;
    // The checks look at the file actually opened, so it cannot be swapped in between.
    struct stat st {
    };
    Status status = Status::Ok;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > static_cast<off_t>(kMaxFileSize))
        status = Status::Unreadable;
    else if ((st.st_uid != user && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        status = Status::Unsafe;
    std::string text;
    if (status == Status::Ok) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                status = Status::Unreadable;
                break;
            }
            if (n == 0)
                break;
            text.append(buffer, static_cast<size_t>(n));
            if (text.size() > kMaxFileSize) { // it grew while being read
                status = Status::Unreadable;
                break;
            }
        }
    }
    ::close(fd);
    if (status == Status::Ok)
        *out = Parse(text);
    return status;
}
