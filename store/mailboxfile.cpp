#include "mailboxfile.h"

#include "atomicfilewriter.h"
#include "crashpoint.h"
#include "littleendian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace
{

constexpr char kMagic[] = "KORAVELPIGEONPOST";
constexpr size_t kWindowSize = size_t(1) << 20;
constexpr size_t kReadItemSize = 4;

std::string HeaderBytes()
{
    std::string h(CMailBoxFile::kHeaderSize, '\0');
    std::memcpy(h.data(), kMagic, sizeof kMagic - 1);
    return h;
}

uint64_t SumOfLengths(const uint32_t (&lengths)[12])
{
    uint64_t sum = 0;
    for (uint32_t l : lengths)
        sum += l;
    return sum;
}

// The size rule of a record: T / (sum of lengths + 64) == 1 in whole numbers. Summed in 64
// bits so that lengths wrapping 2^32 cannot pass for a small record; the rule then also
// guarantees that every item lies inside the record.
bool Consistent(uint32_t size, uint64_t sum)
{
    uint64_t least = sum + CMailBoxFile::kRecordHeadSize;
    return size >= least && size / least == 1;
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
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        at += w;
    }
    return true;
}

// Items in file order: Read, then fields 0, 1, 3, 4, 5, 6, 8, 9, 10, 11, then the Preview.
std::string* ItemField(StoredMessage& m, int item)
{
    std::string* fields[12] = {&m.read,    &m.messageId, &m.mailType, &m.sender,
                               &m.subject, &m.date,      &m.size,     &m.attachment,
                               &m.uid,     &m.folder,    &m.store,    &m.preview};
    return fields[item];
}

const std::string& ItemField(const StoredMessage& m, int item)
{
    return *ItemField(const_cast<StoredMessage&>(m), item);
}

std::string ToFirstZero(const char* p, size_t n)
{
    const void* z = std::memchr(p, 0, n);
    return std::string(p, z ? static_cast<size_t>(static_cast<const char*>(z) - p) : n);
}

// A Delete killed before its rename leaves its temporary copy ("<name>.tmp-XXXXXX", the
// pattern AtomicFileWriter uses) beside the store; the store itself is whole, so the copy
// is only clutter. Removes such copies and says how many went.
int RemoveStaleCopies(const std::string& path)
{
    namespace fs = std::filesystem;
    const fs::path store(path);
    const std::string prefix = store.filename().string() + ".tmp-";
    std::error_code ec;
    int removed = 0;
    fs::path folder = store.parent_path().empty() ? fs::path(".") : store.parent_path();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            it->is_regular_file(ec))
            removed += fs::remove(it->path(), ec) ? 1 : 0;
    }
    return removed;
}

} // namespace

CMailBoxFile::CMailBoxFile() : cipher_(kMailBoxContainer, kMailBoxPass)
{
}

CMailBoxFile::~CMailBoxFile()
{
    Close();
}

int CMailBoxFile::Fail(std::string text)
{
    error_ = std::move(text);
    return 0;
}

int CMailBoxFile::FailErrno(const std::string& what)
{
    return Fail(what + " " + path_ + ": " + std::strerror(errno));
}

void CMailBoxFile::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    fileSize_ = 0;
    count_ = 0;
    windowLength_ = 0;
    window_.clear();
    window_.shrink_to_fit();
    Rewind();
}

const char* CMailBoxFile::Get(off_t at, size_t length)
{
    if (at < 0 || at > fileSize_ || length > static_cast<uint64_t>(fileSize_ - at)) {
        errno = EIO;
        return nullptr;
    }
    if (length == 0)
        return "";
    if (at >= windowStart_ &&
        at + static_cast<off_t>(length) <= windowStart_ + static_cast<off_t>(windowLength_))
        return window_.data() + (at - windowStart_);
    // Refill from `at`: one large read serves the following records too. A record larger
    // than the window gets a window of its own size (bounded by the file size).
    size_t want = std::max(length, std::min<size_t>(kWindowSize, fileSize_ - at));
    if (window_.size() < want)
        window_.resize(want);
    size_t got = 0;
    while (got < want) {
        ssize_t r = ::pread(fd_, window_.data() + got, want - got, at + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0)
            errno = EIO; // the file shrank under us
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    windowStart_ = at;
    windowLength_ = got;
    if (got < length) {
        windowLength_ = 0;
        return nullptr;
    }
    return window_.data();
}

bool CMailBoxFile::ReadHead(off_t at, Head& head)
{
    const char* p = Get(at, kRecordHeadSize);
    if (!p)
        return false;
    head.size = LoadLe32(p);
    for (int i = 0; i < 12; ++i)
        head.lengths[i] = LoadLe32(p + 4 + 4 * i);
    return true;
}

bool CMailBoxFile::IsZeroFrom(off_t at, bool& zero)
{
    zero = true;
    while (at < fileSize_) {
        size_t n = static_cast<size_t>(std::min<off_t>(fileSize_ - at, kWindowSize));
        const char* p = Get(at, n);
        if (!p)
            return false;
        for (size_t i = 0; i < n; ++i)
            if (p[i] != 0) {
                zero = false;
                return true;
            }
        at += static_cast<off_t>(n);
    }
    return true;
}

int CMailBoxFile::WriteCount(uint32_t count)
{
    char b[4];
    StoreLe32(b, count);
    if (!PwriteAll(fd_, b, 4, kCountOffset))
        return FailErrno("cannot write the message count of");
    return 1;
}

int CMailBoxFile::Open(const std::string& path)
{
    Close();
    path_ = path;
    error_.clear();
    repair_.clear();
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT) {
        // A new store appears whole or not at all.
        AtomicFileWriter writer(path, 0600);
        if (!writer.Open() || !writer.Write(HeaderBytes()) || !writer.Commit())
            return Fail("cannot create the message store: " + writer.Error());
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd_ < 0)
        return FailErrno("cannot open for reading and writing");
    struct stat st {
    };
    if (::fstat(fd_, &st) != 0) {
        int rc = FailErrno("cannot inspect");
        Close();
        return rc;
    }
    if (!S_ISREG(st.st_mode)) {
        Close();
        return Fail("not a regular file: " + path);
    }
    fileSize_ = st.st_size;
    if (fileSize_ == 0) {
        // Holds nothing to lose; give it the header rather than refuse the store for good.
        std::string h = HeaderBytes();
        if (!PwriteAll(fd_, h.data(), h.size(), 0) || ::fdatasync(fd_) != 0) {
            int rc = FailErrno("cannot write the header of");
            Close();
            return rc;
        }
        fileSize_ = kHeaderSize;
        repair_ = "an empty file was given the message store header";
    }
    if (Validate() == 0) {
        std::string keep = error_;
        Close();
        error_ = keep;
        return 0;
    }
    if (int stale = RemoveStaleCopies(path))
        repair_ += (repair_.empty() ? "" : "; ") + std::string("removed ") + std::to_string(stale) +
                   " copy left by an interrupted removal";
    Rewind();
    return 1;
}

int CMailBoxFile::Validate()
{
    if (fileSize_ < kHeaderSize)
        return Fail(path_ + " is not a message store: it is " + std::to_string(fileSize_) +
                    " bytes long, shorter than its 2048-byte header; it was left untouched");
    const char* p = Get(kCountOffset, 4);
    if (!p)
        return FailErrno("cannot read");
    const uint32_t stated = LoadLe32(p);

    // Walk the counted records. Each consistent record is at least 64 bytes long, so the
    // walk ends within fileSize / 64 steps whatever N says.
    off_t cursor = kHeaderSize;
    uint32_t found = 0;
    off_t tornAt = -1;
    while (found < stated && cursor < fileSize_) {
        Head head;
        if (fileSize_ - cursor < static_cast<off_t>(kRecordHeadSize)) {
            tornAt = cursor;
            break;
        }
        if (!ReadHead(cursor, head))
            return FailErrno("cannot read");
        if (!Consistent(head.size, SumOfLengths(head.lengths))) {
            bool zero = false;
            if (!IsZeroFrom(cursor, zero))
                return FailErrno("cannot read");
            if (zero) { // space reserved for a record that was never written
                tornAt = cursor;
                break;
            }
            return Fail(path_ + " is damaged: message " + std::to_string(found + 1) +
                        " at offset " + std::to_string(cursor) +
                        " has a size that does not match its contents; it was left untouched");
        }
        if (head.size > fileSize_ - cursor) { // the last record was cut short
            tornAt = cursor;
            break;
        }
        cursor += head.size;
        ++found;
    }

    if (found == stated && cursor < fileSize_) {
        // Bytes after the last counted record. An append in progress leaves there whole
        // records not yet counted, then at most one partial record (or zeros): cut. They
        // are not lost: their identifiers reach UID.inf only after the count, so the next
        // check reports those messages again. Anything else is not ours to drop.
        off_t c = cursor;
        bool torn = false;
        while (!torn) {
            const off_t left = fileSize_ - c;
            if (left < static_cast<off_t>(kRecordHeadSize)) {
                torn = true;
                break;
            }
            Head head;
            if (!ReadHead(c, head))
                return FailErrno("cannot read");
            if (!Consistent(head.size, SumOfLengths(head.lengths))) {
                if (!IsZeroFrom(c, torn))
                    return FailErrno("cannot read");
                break;
            }
            if (head.size >= left) {
                torn = true;
                break;
            }
            c += head.size;
        }
        if (!torn)
            return Fail(path_ + " is damaged: " + std::to_string(fileSize_ - cursor) +
                        " stray bytes follow its last message (offset " + std::to_string(cursor) +
                        "); it was left untouched");
        tornAt = cursor;
    }

    if (tornAt >= 0 || found != stated) {
        const off_t cut = tornAt >= 0 ? tornAt : cursor;
        std::string what;
        if (cut < fileSize_)
            what = "cut an unfinished message of " + std::to_string(fileSize_ - cut) +
                   " bytes at offset " + std::to_string(cut);
        if (found != stated)
            what += std::string(what.empty() ? "" : "; ") + "corrected the message count from " +
                    std::to_string(stated) + " to " + std::to_string(found);
        if (cut < fileSize_ && ::ftruncate(fd_, cut) != 0)
            return FailErrno("cannot repair (cut an unfinished message of)");
        windowLength_ = 0;
        fileSize_ = cut;
        if (found != stated && !WriteCount(found))
            return 0;
        if (::fdatasync(fd_) != 0)
            return FailErrno("cannot flush the repair of");
        repair_ += (repair_.empty() ? "" : "; ") + what;
    }
    count_ = found;
    return 1;
}

void CMailBoxFile::Rewind()
{
    current_ = 0;
    next_ = kHeaderSize;
    remaining_ = count_;
}

int CMailBoxFile::Next()
{
    if (fd_ < 0 || remaining_ == 0) {
        current_ = 0;
        return 0;
    }
    Head head;
    if (!ReadHead(next_, head)) {
        current_ = 0;
        return FailErrno("cannot read");
    }
    current_ = next_;
    next_ += head.size;
    --remaining_;
    return 1;
}

int CMailBoxFile::ReadCurrent(StoredMessage& out, bool allFields, bool preview)
{
    out = StoredMessage{};
    if (fd_ < 0 || current_ == 0)
        return Fail("no current message to read");
    Head head;
    if (!ReadHead(current_, head))
        return FailErrno("cannot read");
    const char* p = Get(current_, head.size); // validated on Open: inside the file
    if (!p)
        return FailErrno("cannot read");
    size_t at = kRecordHeadSize;
    for (int item = 0; item < 12; ++item) {
        const size_t n = head.lengths[item];
        const bool wanted = item <= 2 || (item == 11 ? allFields && preview : allFields);
        if (wanted) {
            if (item == 11) {
                std::string text(p + at, n);
                if (!cipher_.Unprotect(text.data(), text.size()))
                    return Fail("cannot decipher the preview in " + path_);
                out.preview = ToFirstZero(text.data(), text.size());
            } else {
                *ItemField(out, item) = ToFirstZero(p + at, n);
            }
        }
        at += n;
    }
    return 1;
}

bool CMailBoxFile::IsKnownMailType(const std::string& mailType)
{
    return mailType == "POP3" || mailType == "IMAP4" || mailType == "Portalpost" ||
           mailType == "Exchange(MAPI)";
}

StoredMessage CMailBoxFile::FromMessageRecord(const std::string& messageId,
                                              const std::string& mailType,
                                              const std::string& readText,
                                              const MessageRecord& source)
{
    StoredMessage m;
    m.messageId = messageId;
    m.mailType = mailType;
    m.read = readText;
    m.sender = source.sender;
    m.subject = source.subject;
    m.date = source.date;
    m.size = source.size;
    m.preview = source.preview;
    m.attachment = source.attachment;
    m.uid = source.uid;
    return m;
}

bool CMailBoxFile::BuildRecord(const StoredMessage& m, std::string& out)
{
    if (!IsKnownMailType(m.mailType)) {
        Fail("unknown mail type \"" + m.mailType + "\": nothing was stored");
        return false;
    }
    uint32_t lengths[12];
    uint64_t sum = 0;
    for (int item = 0; item < 12; ++item) {
        uint64_t n = item == 0 ? kReadItemSize : ItemField(m, item).size();
        if (n > UINT32_MAX) {
            Fail("message too large to store");
            return false;
        }
        lengths[item] = static_cast<uint32_t>(n);
        sum += n;
    }
    const uint64_t total = (sum + kRecordHeadSize + 63) / 64 * 64;
    if (total > UINT32_MAX) {
        Fail("message too large to store");
        return false;
    }
    const size_t start = out.size();
    out.resize(start + total, '\0');
    char* r = out.data() + start;
    StoreLe32(r, static_cast<uint32_t>(total));
    for (int i = 0; i < 12; ++i)
        StoreLe32(r + 4 + 4 * i, lengths[i]);
    size_t at = kRecordHeadSize;
    std::memcpy(r + at, m.read.data(), std::min(m.read.size(), kReadItemSize));
    at += kReadItemSize;
    for (int item = 1; item < 12; ++item) {
        const std::string& f = ItemField(m, item);
        std::memcpy(r + at, f.data(), f.size());
        if (item == 11 && !cipher_.Protect(r + at, f.size())) {
            out.resize(start);
            Fail("cannot encipher the preview: nothing was stored");
            return false;
        }
        at += f.size();
    }
    return true;
}

int CMailBoxFile::Append(const std::string& messageId, const std::string& mailType,
                         const std::string& readText, const MessageRecord& source)
{
    if (mailType != "POP3" && mailType != "IMAP4")
        return Fail("a message record of mail type \"" + mailType + "\" cannot be stored");
    return Append(FromMessageRecord(messageId, mailType, readText, source));
}

int CMailBoxFile::Append(const StoredMessage& message)
{
    std::string record;
    if (!BuildRecord(message, record))
        return 0;
    return AppendRecords(record, 1, true);
}

int CMailBoxFile::AppendUnflushed(const StoredMessage& message)
{
    std::string record;
    if (!BuildRecord(message, record))
        return 0;
    return AppendRecords(record, 1, false);
}

int CMailBoxFile::Flush()
{
    if (fd_ < 0)
        return Fail("the message store is not open");
    if (FaultPoint("mailbox.flush")) {
        errno = EIO;
        return FailErrno("cannot flush");
    }
    if (::fdatasync(fd_) != 0)
        return FailErrno("cannot flush");
    return 1;
}

bool CMailBoxFile::IsCurrent()
{
    if (fd_ < 0)
        return false;
    windowLength_ = 0; // another object may have marked records in place
    struct stat mine {
    }, named{};
    return ::fstat(fd_, &mine) == 0 && ::stat(path_.c_str(), &named) == 0 &&
           mine.st_dev == named.st_dev && mine.st_ino == named.st_ino && mine.st_size == fileSize_;
}

int CMailBoxFile::Append(const std::vector<StoredMessage>& messages)
{
    std::string records;
    for (const StoredMessage& m : messages)
        if (!BuildRecord(m, records))
            return 0;
    if (messages.size() > UINT32_MAX - count_)
        return Fail("too many messages for one store");
    return AppendRecords(records, static_cast<uint32_t>(messages.size()), true);
}

// The steps, in this order, so that every crash state is one Open recognises:
//   1. the first record head (64 bytes) at the end       -> "mailbox.append.head"
//   2. the rest of the records                           -> "mailbox.append.record"
//   3. flush the records                                 -> "mailbox.append.synced"
//   4. raise N (the commit)                              -> "mailbox.append.count"
//   5. flush N                                           -> "mailbox.append.done"
// Before step 4 the new bytes are an uncommitted tail that Open cuts; after it they are
// counted records. Flushing before the count keeps that order across a power cut too.
// Without `durable` steps 3 and 5 are left out: a killed process still leaves one of the
// states above (the page cache keeps every write that returned), and Flush() later makes
// records and count durable together.
int CMailBoxFile::AppendRecords(const std::string& records, uint32_t added, bool durable)
{
    if (fd_ < 0)
        return Fail("the message store is not open");
    if (added == 0)
        return 1;
    if (count_ > UINT32_MAX - added)
        return Fail("too many messages for one store");
    const off_t end = fileSize_;
    auto rollback = [&](const std::string& what) {
        int rc = FailErrno(what);
        // Leave the old content exactly as it was; should even this fail, Open cuts the
        // uncommitted tail later.
        (void)::ftruncate(fd_, end);
        windowLength_ = 0;
        return rc;
    };
    const size_t head = std::min(records.size(), kRecordHeadSize);
    if (!PwriteAll(fd_, records.data(), head, end))
        return rollback("cannot store the message in");
    CrashPoint("mailbox.append.head");
    if (!PwriteAll(fd_, records.data() + head, records.size() - head,
                   end + static_cast<off_t>(head)))
        return rollback("cannot store the message in");
    CrashPoint("mailbox.append.record");
    if (durable && ::fdatasync(fd_) != 0)
        return rollback("cannot flush the message to");
    CrashPoint("mailbox.append.synced");
    if (!WriteCount(count_ + added))
        return rollback("cannot count the message in");
    CrashPoint("mailbox.append.count");
    if (durable && ::fdatasync(fd_) != 0) {
        int rc = FailErrno("cannot flush the message count of");
        (void)WriteCount(count_);
        (void)::ftruncate(fd_, end);
        windowLength_ = 0;
        return rc;
    }
    CrashPoint("mailbox.append.done");
    fileSize_ = end + static_cast<off_t>(records.size());
    count_ += added;
    remaining_ += added; // a walk in progress also sees the new messages
    return 1;
}

int CMailBoxFile::CutBack(const Mark& mark)
{
    if (fd_ < 0)
        return Fail("the message store is not open");
    if (mark.count > count_ || mark.size > fileSize_ || mark.size < kHeaderSize)
        return Fail("cannot take messages back out of " + path_ + ": it no longer holds them");
    if (mark.count == count_ && mark.size == fileSize_)
        return 1;
    if (!IsCurrent())
        return Fail("cannot take messages back out of " + path_ +
                    ": another writer changed it meanwhile");
    if (!WriteCount(mark.count))
        return 0;
    if (::fdatasync(fd_) != 0) {
        const int rc = FailErrno("cannot flush the message count of");
        (void)WriteCount(count_); // as it was: the records are still there
        return rc;
    }
    CrashPoint("mailbox.cutback.count");
    // From here the store holds mark.count records; a failed cut leaves a tail that Open
    // cuts and that the next append here overwrites.
    count_ = mark.count;
    fileSize_ = mark.size;
    windowLength_ = 0;
    Rewind();
    if (::ftruncate(fd_, mark.size) != 0)
        return FailErrno("cannot cut the messages taken back from");
    if (::fdatasync(fd_) != 0)
        return FailErrno("cannot flush");
    return 1;
}

bool CMailBoxFile::ReadMessageIdAt(off_t at, const Head& head, std::string& id)
{
    const char* p =
        Get(at + static_cast<off_t>(kRecordHeadSize + head.lengths[0]), head.lengths[1]);
    if (!p)
        return false;
    id = ToFirstZero(p, head.lengths[1]);
    return true;
}

int CMailBoxFile::SetRead(const std::string& messageId, const std::string& text)
{
    return SetRead(std::unordered_set<std::string>{messageId}, text);
}

int CMailBoxFile::SetRead(const std::unordered_set<std::string>& messageIds,
                          const std::string& text)
{
    if (fd_ < 0)
        return Fail("the message store is not open");
    if (messageIds.empty())
        return 1;
    char item[kReadItemSize] = {};
    std::memcpy(item, text.data(), std::min(text.size(), kReadItemSize));
    // One pass: the read window serves the record heads and identifiers; only items that
    // change are written, in place, and one flush at the end covers them all.
    std::unordered_set<std::string> found;
    std::vector<std::pair<off_t, size_t>> writes; // (offset, bytes) of Read items to write
    off_t at = kHeaderSize;
    for (uint32_t i = 0; i < count_; ++i) {
        Head head;
        std::string id;
        if (!ReadHead(at, head) || !ReadMessageIdAt(at, head, id))
            return FailErrno("cannot read");
        if (messageIds.count(id)) {
            found.insert(id);
            // Only the bytes the item has: a record whose Read item is shorter than 4 bytes
            // (never written by us) must not have its next item overwritten.
            const size_t n = std::min<size_t>(head.lengths[0], kReadItemSize);
            const off_t itemAt = at + static_cast<off_t>(kRecordHeadSize);
            const char* old = Get(itemAt, n);
            if (!old)
                return FailErrno("cannot read");
            if (std::memcmp(old, item, n) != 0)
                writes.emplace_back(itemAt, n);
        }
        at += head.size;
    }
    for (const auto& w : writes) {
        if (!PwriteAll(fd_, item, w.second, w.first)) {
            windowLength_ = 0;
            return FailErrno("cannot mark the message in");
        }
    }
    windowLength_ = 0; // the window may hold the old bytes
    if (!writes.empty()) {
        CrashPoint("mailbox.setread.written");
        if (::fdatasync(fd_) != 0)
            return FailErrno("cannot flush");
    }
    if (found.size() != messageIds.size())
        return Fail(std::to_string(messageIds.size() - found.size()) + " of " +
                    std::to_string(messageIds.size()) + " messages not found in " + path_);
    return 1;
}

int CMailBoxFile::Delete(const std::string& messageId)
{
    return Delete(std::unordered_set<std::string>{messageId});
}

int CMailBoxFile::Delete(const std::unordered_set<std::string>& messageIds)
{
    if (fd_ < 0)
        return Fail("the message store is not open");
    if (messageIds.empty())
        return 1;
    // Find the records to drop first, so that nothing is written when there is none.
    std::unordered_set<std::string> found;
    std::vector<std::pair<off_t, off_t>> keep; // ranges of records to keep
    off_t at = kHeaderSize;
    off_t runStart = at;
    uint32_t removed = 0;
    for (uint32_t i = 0; i < count_; ++i) {
        Head head;
        std::string id;
        if (!ReadHead(at, head) || !ReadMessageIdAt(at, head, id))
            return FailErrno("cannot read");
        if (messageIds.count(id)) {
            found.insert(id);
            if (at > runStart)
                keep.emplace_back(runStart, at);
            runStart = at + head.size;
            ++removed;
        }
        at += head.size;
    }
    const std::string missing = found.size() == messageIds.size()
                                    ? std::string()
                                    : std::to_string(messageIds.size() - found.size()) + " of " +
                                          std::to_string(messageIds.size()) +
                                          " messages not found in " + path_;
    if (removed == 0)
        return Fail(missing);
    if (at > runStart)
        keep.emplace_back(runStart, at);

    struct stat st {
    };
    mode_t mode = ::fstat(fd_, &st) == 0 ? (st.st_mode & 07777) : 0600;
    AtomicFileWriter writer(path_, mode);
    std::string header(kHeaderSize, '\0');
    const char* h = Get(0, kHeaderSize);
    if (!h)
        return FailErrno("cannot read");
    std::memcpy(header.data(), h, kHeaderSize);
    StoreLe32(header.data() + kCountOffset, count_ - removed);
    bool ok = writer.Open() && writer.Write(header);
    for (const auto& range : keep) {
        if (!ok)
            break;
        ok = writer.CopyFrom(fd_, range.first, range.second - range.first);
    }
    CrashPoint("mailbox.delete.written");
    if (!ok || !writer.Commit())
        return Fail("cannot remove the message: " + writer.Error() +
                    "; the message store is unchanged");
    CrashPoint("mailbox.delete.done");

    off_t size = kHeaderSize;
    for (const auto& range : keep)
        size += range.second - range.first;
    if (Reopen(size, count_ - removed) != 1)
        return 0;
    if (!missing.empty())
        return Fail(missing);
    return 1;
}

// After a rewrite the old descriptor names the replaced file: takes up the new one.
int CMailBoxFile::Reopen(off_t size, uint32_t count)
{
    int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        int rc = FailErrno("cannot reopen");
        Close();
        return rc;
    }
    ::close(fd_);
    fd_ = fd;
    fileSize_ = size;
    count_ = count;
    windowLength_ = 0;
    Rewind();
    return 1;
}

int CMailBoxFile::ForgetUids(const std::string& mailType)
{
    if (fd_ < 0)
        return Fail("the message store is not open");
    // Find the records first, so that nothing is written when none has an identifier.
    std::vector<std::pair<off_t, off_t>> linked; // (offset, size) of records to rebuild
    Rewind();
    StoredMessage m;
    int step;
    while ((step = Next()) == 1) {
        if (ReadCurrent(m, true, false) != 1)
            return 0;
        if (m.mailType == mailType && !m.uid.empty())
            linked.emplace_back(current_, next_ - current_);
    }
    if (step != 0)
        return 0;
    const off_t end = next_;
    Rewind();
    if (linked.empty())
        return 1;

    struct stat st {
    };
    mode_t mode = ::fstat(fd_, &st) == 0 ? (st.st_mode & 07777) : 0600;
    AtomicFileWriter writer(path_, mode);
    const char* h = Get(0, kHeaderSize);
    if (!h)
        return FailErrno("cannot read");
    const std::string header(h, kHeaderSize);
    std::string why; // a reason of our own, before the writer's
    off_t size = kHeaderSize;
    bool ok = writer.Open() && writer.Write(header);
    off_t runStart = kHeaderSize;
    for (const auto& [recordAt, recordSize] : linked) {
        if (ok && recordAt > runStart)
            ok = writer.CopyFrom(fd_, runStart, recordAt - runStart);
        size += recordAt - runStart;
        if (!ok)
            break;
        std::string record;
        current_ = recordAt;
        if (ReadCurrent(m, true, true) != 1) {
            why = error_;
            ok = false;
            break;
        }
        m.uid.clear();
        if (!BuildRecord(m, record)) {
            why = error_;
            ok = false;
            break;
        }
        ok = writer.Write(record);
        size += static_cast<off_t>(record.size());
        runStart = recordAt + recordSize;
    }
    if (ok && end > runStart)
        ok = writer.CopyFrom(fd_, runStart, end - runStart);
    size += end - runStart;
    CrashPoint("mailbox.forget.written");
    if (!ok || !writer.Commit()) {
        Rewind();
        return Fail("cannot unlink the stored messages from the server: " +
                    (why.empty() ? writer.Error() : why) + "; the message store is unchanged");
    }
    CrashPoint("mailbox.forget.done");
    return Reopen(size, count_);
}
