#include "mailboxrepair.h"

#include "atomicfilewriter.h"
#include "damagedcopy.h"
#include "littleendian.h"
#include "mailboxfile.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace
{

constexpr char kMagic[] = "KORAVELPIGEONPOST";
constexpr size_t kHead = CMailBoxFile::kRecordHeadSize;

bool IsUuidText(const char* p, size_t n)
{
    if (n != 36)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = p[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// The record at `at` of `bytes` when it is whole and plausible: its size, else 0.
uint32_t WholeRecordAt(const std::string& bytes, size_t at, std::string& messageId)
{
    if (bytes.size() - at < kHead)
        return 0;
    const char* r = bytes.data() + at;
    const uint32_t size = LoadLe32(r);
    uint32_t lengths[12];
    uint64_t sum = 0;
    for (int i = 0; i < 12; ++i) {
        lengths[i] = LoadLe32(r + 4 + 4 * i);
        sum += lengths[i];
    }
    const uint64_t least = sum + kHead;
    if (size < least || size / least != 1 || size % 64 != 0 || size > bytes.size() - at)
        return 0;
    if (lengths[0] != 4)
        return 0;
    const char* id = r + kHead + 4;
    const char* type = id + lengths[1];
    if (!IsUuidText(id, lengths[1]))
        return 0;
    const std::string mailType(type, lengths[2]);
    if (!CMailBoxFile::IsKnownMailType(mailType))
        return 0;
    messageId.assign(id, lengths[1]);
    return size;
}

} // namespace

std::string CMailBoxRepair::Result::Describe(const std::string& path) const
{
    switch (outcome) {
    case Outcome::NothingToDo:
        return path + " is not damaged; nothing was changed";
    case Outcome::Rebuilt:
        return path + " was rebuilt from the " + std::to_string(kept) +
               (kept == 1 ? " message" : " messages") + " that were still whole (" +
               std::to_string(droppedBytes) +
               " damaged bytes left out); the damaged file is kept as " + damagedCopy;
    case Outcome::Failed:
        break;
    }
    return "cannot repair " + path + ": " + error;
}

CMailBoxRepair::Result CMailBoxRepair::Repair(const std::string& path, std::time_t now)
{
    Result result;
    {
        CMailBoxFile box;
        struct stat st {
        };
        if (::stat(path.c_str(), &st) != 0) {
            result.error = std::strerror(errno);
            return result;
        }
        if (box.Open(path) == 1) {
            result.outcome = Outcome::NothingToDo;
            result.kept = box.Count();
            return result;
        }
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = std::strerror(errno);
        return result;
    }
    struct stat st {
    };
    std::string bytes;
    bool readOk = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (readOk) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t r =
                ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                readOk = false;
                break;
            }
            got += static_cast<size_t>(r);
        }
    }
    const int readErrno = errno;
    ::close(fd);
    if (!readOk) {
        result.error = std::string("cannot read it: ") + std::strerror(readErrno);
        return result;
    }

    // A fresh header area: nothing in it but the magic text and the count is ever read.
    std::string header(CMailBoxFile::kHeaderSize, '\0');
    std::memcpy(header.data(), kMagic, sizeof kMagic - 1);
    std::string records;
    std::unordered_set<std::string> ids;
    uint32_t kept = 0;
    size_t at = static_cast<size_t>(CMailBoxFile::kHeaderSize);
    while (at < bytes.size()) {
        std::string id;
        const uint32_t size = WholeRecordAt(bytes, at, id);
        if (size == 0) {
            at += 64;
            continue;
        }
        if (ids.insert(id).second) {
            records.append(bytes, at, size);
            ++kept;
        }
        at += size;
    }
    StoreLe32(header.data() + CMailBoxFile::kCountOffset, kept);
    const uint64_t total = header.size() + records.size();
    result.droppedBytes = bytes.size() > total ? bytes.size() - total : 0;

    // Keep the damaged bytes under a second name first: the rename below then leaves them.
    std::string copy;
    if (!KeepDamagedCopy(path, now, copy, result.error))
        return result;
    AtomicFileWriter writer(path, st.st_mode & 07777);
    if (!writer.Open() || !writer.Write(header) || !writer.Write(records) || !writer.Commit()) {
        ::unlink(copy.c_str());
        result.error = writer.Error() + "; the file is unchanged";
        return result;
    }
    result.outcome = Outcome::Rebuilt;
    result.kept = kept;
    result.damagedCopy = copy;
    return result;
}
