#include "midsfile.h"

#include "crashpoint.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

void SetError(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
}

std::string Reason(const char* what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

uint32_t ReadLe32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint32_t>(u[0]) | static_cast<uint32_t>(u[1]) << 8 |
           static_cast<uint32_t>(u[2]) << 16 | static_cast<uint32_t>(u[3]) << 24;
}

void PutLe32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

bool PwriteAll(int fd, const char* p, size_t n, off_t at)
{
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, at);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        at += w;
    }
    return true;
}

bool ReadWhole(int fd, std::string& bytes)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        return false;
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t r = ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    bytes.resize(got);
    return true;
}

bool WriteCount(int fd, uint32_t count)
{
    std::string le;
    PutLe32(le, count);
    return PwriteAll(fd, le.data(), le.size(), 0);
}

} // namespace

CMidsFile::~CMidsFile()
{
    Close();
}

void CMidsFile::Close()
{
    if (fd_ >= 0) {
        Flush();
        ::close(fd_); // drops the lock
    }
    fd_ = -1;
    unflushed_ = false;
    order_.clear();
    known_.clear();
    end_ = 4;
}

size_t CMidsFile::Parse(std::string_view bytes, std::vector<std::string>& ids)
{
    ids.clear();
    if (bytes.size() < 4)
        return 0;
    size_t at = 4;
    while (bytes.size() - at >= 4) {
        const uint32_t length = ReadLe32(bytes.data() + at);
        if (length == 0 || length > kMaxIdentifierLength || bytes.size() - at - 4 < length)
            break;
        ids.emplace_back(bytes.substr(at + 4, length));
        at += 4 + length;
    }
    return at;
}

CMidsFile::OpenResult CMidsFile::Open(const std::string& path, std::chrono::milliseconds lockWait,
                                      std::string* error)
{
    Close();
    path_ = path;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetError(error, Reason("cannot open", path));
        return OpenResult::kFailed;
    }
    const auto until = std::chrono::steady_clock::now() + lockWait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= until) {
            const bool busy = errno == EWOULDBLOCK;
            SetError(error,
                     busy ? path + " is in use by another check" : Reason("cannot lock", path));
            ::close(fd);
            return busy ? OpenResult::kBusy : OpenResult::kFailed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string bytes;
    if (!ReadWhole(fd, bytes)) {
        SetError(error, Reason("cannot read", path));
        ::close(fd);
        return OpenResult::kFailed;
    }
    std::vector<std::string> ids;
    size_t end = Parse(bytes, ids);
    if (bytes.size() < 4)
        end = 4;
    // Count and records must agree: cut a torn or impossible tail, then say how many whole
    // records there are (also when the writer died before raising the count).
    const bool countDiffers = bytes.size() < 4 || ReadLe32(bytes.data()) != ids.size();
    if (end != bytes.size() || countDiffers) {
        if ((end < bytes.size() && ::ftruncate(fd, static_cast<off_t>(end)) != 0) ||
            !WriteCount(fd, static_cast<uint32_t>(ids.size())) || ::fdatasync(fd) != 0) {
            SetError(error, Reason("cannot repair", path));
            ::close(fd);
            return OpenResult::kFailed;
        }
    }
    fd_ = fd;
    end_ = end;
    order_ = std::move(ids);
    known_.insert(order_.begin(), order_.end());
    return OpenResult::kOpen;
}

bool CMidsFile::Contains(std::string_view id) const
{
    return known_.find(std::string(id)) != known_.end();
}

bool CMidsFile::Append(std::string_view id, std::string* error)
{
    return Append(std::vector<std::string>{std::string(id)}, error);
}

bool CMidsFile::Append(const std::vector<std::string>& ids, std::string* error)
{
    return AppendRecords(ids, true, error);
}

bool CMidsFile::AppendUnflushed(std::string_view id, std::string* error)
{
    return AppendRecords(std::vector<std::string>{std::string(id)}, false, error);
}

bool CMidsFile::Flush(std::string* error)
{
    if (fd_ < 0 || !unflushed_)
        return true;
    if (::fdatasync(fd_) != 0) {
        SetError(error, Reason("cannot flush", path_));
        return false;
    }
    unflushed_ = false;
    return true;
}

bool CMidsFile::AppendRecords(const std::vector<std::string>& ids, bool flush, std::string* error)
{
    if (fd_ < 0) {
        SetError(error, "the identifier file is not open");
        return false;
    }
    if (ids.empty())
        return true;
    std::string block;
    for (const std::string& id : ids) {
        if (id.empty() || id.size() > kMaxIdentifierLength) {
            SetError(error, "a message identifier of " + std::to_string(id.size()) +
                                " bytes cannot be recorded in " + path_ + " (1 to " +
                                std::to_string(kMaxIdentifierLength) + " bytes)");
            return false;
        }
        PutLe32(block, static_cast<uint32_t>(id.size()));
        block += id;
    }
    // A failed append must leave no whole record behind: the next open counts every record
    // beyond the count, and the caller reports none of these messages, so each would be
    // taken as handled and never come. Cutting needs no free space.
    auto cutBack = [&](const std::string& reason) {
        SetError(error, reason);
        if (::ftruncate(fd_, static_cast<off_t>(end_)) == 0)
            ::fdatasync(fd_);
        return false;
    };
    if (!PwriteAll(fd_, block.data(), block.size(), static_cast<off_t>(end_)))
        return cutBack(Reason("cannot write", path_));
    CrashPoint("mids.append.records");
    if (flush && ::fdatasync(fd_) != 0)
        return cutBack(Reason("cannot flush", path_));
    CrashPoint("mids.append.count");
    if (!WriteCount(fd_, static_cast<uint32_t>(order_.size() + ids.size())))
        return cutBack(Reason("cannot write the count of", path_));
    end_ += block.size();
    for (const std::string& id : ids) {
        order_.push_back(id);
        known_.insert(id);
    }
    // A flushed append also makes the unflushed ones before it durable (the same file).
    unflushed_ = !flush;
    return true;
}

bool CMidsFile::RemoveLast(std::string_view id, std::string* error)
{
    if (fd_ < 0 || order_.empty() || order_.back() != id) {
        SetError(error, "the last recorded identifier is not the one to take back");
        return false;
    }
    const uint64_t start = end_ - 4 - id.size();
    // The count first: a crash between the two steps leaves a record beyond the count,
    // which the next open counts again, so the message is at worst never reported twice.
    if (!WriteCount(fd_, static_cast<uint32_t>(order_.size() - 1)) ||
        ::ftruncate(fd_, static_cast<off_t>(start)) != 0 || ::fdatasync(fd_) != 0) {
        SetError(error, Reason("cannot take back the last record of", path_));
        return false;
    }
    known_.erase(order_.back());
    order_.pop_back();
    end_ = start;
    return true;
}
