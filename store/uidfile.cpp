#include "uidfile.h"

#include "atomicfilewriter.h"
#include "crashpoint.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr char kSeparator = '\\';
constexpr char kEscapedSeparator = '\x7f';

std::string Reason(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

void SetError(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
}

// Closes the descriptor (and so drops the flock) on every path out.
struct Fd {
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

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

// Offset just past the last backslash of the file (0 when there is none): where a torn
// tail begins. Scans backwards in blocks so that a long tail costs no more than its size.
bool EndOfLastIdentifier(int fd, off_t size, off_t& end)
{
    char buf[4096];
    off_t pos = size;
    while (pos > 0) {
        off_t from = std::max<off_t>(0, pos - static_cast<off_t>(sizeof buf));
        size_t want = static_cast<size_t>(pos - from);
        ssize_t r = ::pread(fd, buf, want, from);
        if (r < 0 && errno == EINTR)
            continue;
        if (r != static_cast<ssize_t>(want)) {
            if (r >= 0)
                errno = EIO;
            return false;
        }
        for (size_t i = want; i > 0; --i) {
            if (buf[i - 1] == kSeparator) {
                end = from + static_cast<off_t>(i);
                return true;
            }
        }
        pos = from;
    }
    end = 0;
    return true;
}

} // namespace

bool IsStorableUid(std::string_view uid)
{
    return !uid.empty() && uid.size() <= kMaxUidLength &&
           uid.find(kEscapedSeparator) == std::string_view::npos;
}

void ParseUids(std::string_view bytes, std::vector<std::string>& list)
{
    list.clear();
    size_t start = 0;
    for (;;) {
        size_t end = bytes.find(kSeparator, start);
        if (end == std::string_view::npos)
            break; // a torn tail: not an identifier
        std::string uid(bytes.substr(start, end - start));
        std::replace(uid.begin(), uid.end(), kEscapedSeparator, kSeparator);
        list.push_back(std::move(uid));
        start = end + 1;
    }
}

int AppendUid(const std::string& path, const std::string& uid, std::string* error)
{
    return AppendUids(path, {uid}, error);
}

namespace
{

// The bytes of `uids` as the file holds them; identifiers IsStorableUid refuses are left out
// and the first one's reason goes to `refused`.
std::string Encode(const std::vector<std::string>& uids, std::string& refused)
{
    std::string pieces;
    for (const std::string& uid : uids) {
        if (!IsStorableUid(uid)) {
            if (refused.empty())
                refused = uid.empty() ? "an empty unique identifier cannot be stored"
                          : uid.size() > kMaxUidLength
                              ? "unique identifier longer than " + std::to_string(kMaxUidLength) +
                                    " bytes cannot be stored"
                              : "unique identifier contains the byte 0x7F and cannot be stored";
            continue;
        }
        std::string piece = uid;
        std::replace(piece.begin(), piece.end(), kSeparator, kEscapedSeparator);
        pieces += piece;
        pieces += kSeparator;
    }
    return pieces;
}

} // namespace

int AppendUids(const std::string& path, const std::vector<std::string>& uids, std::string* error)
{
    std::string refused;
    const std::string pieces = Encode(uids, refused);
    if (pieces.empty()) {
        SetError(error, refused);
        return refused.empty() ? 1 : 0;
    }
    Fd f{::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
    if (f.fd < 0) {
        SetError(error, Reason("cannot open", path));
        return 0;
    }
    if (::flock(f.fd, LOCK_EX) != 0) {
        SetError(error, Reason("cannot lock", path));
        return 0;
    }
    struct stat st {
    };
    if (::fstat(f.fd, &st) != 0) {
        SetError(error, Reason("cannot inspect", path));
        return 0;
    }
    off_t end = 0;
    if (!EndOfLastIdentifier(f.fd, st.st_size, end)) {
        SetError(error, Reason("cannot read", path));
        return 0;
    }
    if (end != st.st_size && ::ftruncate(f.fd, end) != 0) {
        SetError(error, Reason("cannot cut the torn end of", path));
        return 0;
    }
    if (!PwriteAll(f.fd, pieces.data(), pieces.size(), end)) {
        SetError(error, Reason("cannot write to", path));
        // Leave no half identifier behind; the reader would ignore it anyway.
        (void)::ftruncate(f.fd, end);
        return 0;
    }
    CrashPoint("uidfile.append.written");
    // Durable before the caller relies on it, so a power cut does not re-report the message.
    if (::fdatasync(f.fd) != 0) {
        SetError(error, Reason("cannot flush", path));
        return 0;
    }
    SetError(error, refused);
    return refused.empty() ? 1 : 0;
}

int CheckUidFileWritable(const std::string& path, std::string* error)
{
    Fd f{::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600)};
    if (f.fd < 0) {
        SetError(error, Reason("cannot open for writing", path));
        return 0;
    }
    struct stat st {
    };
    if (::fstat(f.fd, &st) != 0) {
        SetError(error, Reason("cannot inspect", path));
        return 0;
    }
    if (!S_ISREG(st.st_mode)) {
        SetError(error, path + " is not a regular file");
        return 0;
    }
    if ((st.st_mode & S_IWUSR) == 0) {
        SetError(error, path + " is read only");
        return 0;
    }
    return 1;
}

int ReadUids(const std::string& path, std::vector<std::string>& list, std::string* error)
{
    list.clear();
    Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0 && errno == ENOENT) {
        f.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (f.fd >= 0)
            return 1;
    }
    if (f.fd < 0) {
        SetError(error, Reason("cannot open", path));
        return 0;
    }
    // Read up to the end as it is now; the buffer never exceeds what the file holds.
    std::string bytes;
    char buf[65536];
    for (;;) {
        ssize_t r = ::read(f.fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            SetError(error, Reason("cannot read", path));
            return 0;
        }
        if (r == 0)
            break;
        bytes.append(buf, static_cast<size_t>(r));
    }
    ParseUids(bytes, list);
    return 1;
}

int ReplaceUids(const std::string& path, const std::vector<std::string>& uids, std::string* error)
{
    std::string refused;
    const std::string pieces = Encode(uids, refused);
    AtomicFileWriter writer(path, 0600);
    if (!writer.Open() || !writer.Write(pieces) || !writer.Commit()) {
        SetError(error, writer.Error());
        writer.Discard();
        return 0;
    }
    SetError(error, refused);
    return refused.empty() ? 1 : 0;
}
