#include "accountfileproblem.h"

#include "apppaths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string AccountFileProblem(const std::string& account)
{
    const std::string folder = AppPaths::AccountDir(account);
    const std::string path = AppPaths::AccountFile(account);
    struct stat st {
    };
    if (::stat(folder.c_str(), &st) != 0 && errno == ENOENT)
        return "the account folder " + folder + " is missing";
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return path + " is missing";
        return "cannot read " + path + ": " + std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode))
        return path + " is not a regular file";
    if (st.st_size == 0)
        return path + " is empty";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "cannot read " + path + ": " + std::strerror(errno);
    ::close(fd);
    return {};
}
