#include "accountlock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

struct Holder {
    int fd = -1;
    int count = 0;
};

// One descriptor per folder in this process. flock() belongs to the open file description,
// so a second open() of the same file in this process would exclude the first: sharing
// the descriptor is what makes the lock process-wide.
std::mutex& TableLock()
{
    static std::mutex m;
    return m;
}

std::map<std::string, Holder>& Table()
{
    static std::map<std::string, Holder> t;
    return t;
}

std::string Canonical(const std::string& folder)
{
    char* real = ::realpath(folder.c_str(), nullptr);
    if (!real)
        return {};
    std::string out(real);
    std::free(real);
    return out;
}

} // namespace

CAccountLock::~CAccountLock()
{
    Release();
}

CAccountLock::CAccountLock(CAccountLock&& other) noexcept : key_(std::move(other.key_))
{
    other.key_.clear();
}

CAccountLock& CAccountLock::operator=(CAccountLock&& other) noexcept
{
    if (this != &other) {
        Release();
        key_ = std::move(other.key_);
        other.key_.clear();
    }
    return *this;
}

CAccountLock::Outcome CAccountLock::Acquire(const std::string& folder,
                                            std::chrono::milliseconds wait, std::string* error)
{
    Release();
    const std::string key = Canonical(folder);
    if (key.empty()) {
        if (error)
            *error = "cannot open the account folder " + folder + ": " + std::strerror(errno);
        return Outcome::Failed;
    }
    {
        std::lock_guard<std::mutex> guard(TableLock());
        auto it = Table().find(key);
        if (it != Table().end()) {
            ++it->second.count;
            key_ = key;
            return Outcome::Held;
        }
    }
    const std::string path = key + "/" + kFileName;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        // flock needs no write access: a lock file left read only, or a folder on a
        // read-only mount, must not stop a check that may find it has nothing to write.
        const int first = errno;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            errno = first;
    }
    if (fd < 0) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return Outcome::Failed;
    }
    // Poll rather than block: a blocking flock cannot be given a deadline.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            break;
        const int e = errno;
        if (e == EINTR)
            continue;
        if (e != EWOULDBLOCK) {
            if (error)
                *error = "cannot lock " + path + ": " + std::strerror(e);
            ::close(fd);
            return Outcome::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return Outcome::Busy;
        }
        // Another thread of this process may have taken it meanwhile: join it.
        {
            std::lock_guard<std::mutex> guard(TableLock());
            auto it = Table().find(key);
            if (it != Table().end()) {
                ++it->second.count;
                ::close(fd);
                key_ = key;
                return Outcome::Held;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::lock_guard<std::mutex> guard(TableLock());
    auto [it, inserted] = Table().emplace(key, Holder{fd, 0});
    if (!inserted)
        ::close(fd); // another thread got there first with its own descriptor
    ++it->second.count;
    key_ = key;
    return Outcome::Held;
}

void CAccountLock::Release()
{
    if (key_.empty())
        return;
    std::lock_guard<std::mutex> guard(TableLock());
    auto it = Table().find(key_);
    if (it != Table().end() && --it->second.count == 0) {
        ::close(it->second.fd); // drops the flock
        Table().erase(it);
    }
    key_.clear();
}

std::string CAccountLock::BusyMessage(const std::string& account)
{
    return account + " is already being checked";
}
