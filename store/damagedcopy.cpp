#include "damagedcopy.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace
{

std::string Stamp(std::time_t now)
{
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
    return text;
}

} // namespace

bool KeepDamagedCopy(const std::string& path, std::time_t now, std::string& copy,
                     std::string& error)
{
    copy = path + ".damaged-" + Stamp(now);
    for (int n = 2; ::access(copy.c_str(), F_OK) == 0; ++n)
        copy = path + ".damaged-" + Stamp(now) + "-" + std::to_string(n);
    if (::link(path.c_str(), copy.c_str()) != 0) {
        error = "cannot keep the damaged file as " + copy + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
