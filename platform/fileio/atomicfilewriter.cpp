#include "atomicfilewriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

AtomicFileWriter::AtomicFileWriter(std::string path, mode_t mode)
    : path_(std::move(path)), mode_(mode)
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    Discard();
}

bool AtomicFileWriter::Fail(const std::string& what)
{
    error_ = what + " " + (tempPath_.empty() ? path_ : tempPath_) + ": " + std::strerror(errno);
    return false;
}

bool AtomicFileWriter::Open()
{
    Discard();
    std::string templ = path_ + ".tmp-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    fd_ = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd_ < 0)
        return Fail("create");
    tempPath_ = buf.data();
    if (::fchmod(fd_, mode_) != 0)
        return Fail("chmod");
    return true;
}

bool AtomicFileWriter::Write(const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail("write");
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFileWriter::CopyFrom(int fromFd, off_t offset, off_t size)
{
    std::vector<char> buf(1 << 16);
    while (size > 0) {
        size_t want = static_cast<size_t>(std::min<off_t>(size, static_cast<off_t>(buf.size())));
        ssize_t n = ::pread(fromFd, buf.data(), want, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return Fail("read for");
        }
        if (!Write(buf.data(), static_cast<size_t>(n)))
            return false;
        offset += n;
        size -= n;
    }
    return true;
}

bool AtomicFileWriter::Commit()
{
    if (fd_ < 0) {
        errno = EBADF;
        return Fail("commit");
    }
    if (::fsync(fd_) != 0)
        return Fail("sync");
    if (::close(fd_) != 0) {
        fd_ = -1;
        return Fail("close");
    }
    fd_ = -1;
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0)
        return Fail("rename");
    tempPath_.clear();
    if (!SyncParentDirectory(path_)) {
        error_ = "sync folder of " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void AtomicFileWriter::Discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool SyncParentDirectory(const std::string& path)
{
    auto slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return false;
    int rc = ::fsync(dfd);
    int saved = errno;
    ::close(dfd);
    errno = saved;
    return rc == 0;
}
