#include "accountlist.h"

#include "accountnames.h"
#include "atomicfilewriter.h"
#include "crashpoint.h"
#include "passcipher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr char kMagic[] = "KORAVELPIGEONPOST";
// A list of 87 000 accounts; anything larger is not an account list.
constexpr off_t kMaxFileSize = 16 << 20;

std::recursive_mutex& ListLock()
{
    static std::recursive_mutex lock;
    return lock;
}

// How deep this thread holds the writers' lock: only the outermost hold takes the file
// lock (a second flock on a new descriptor would wait for the first forever).
thread_local int tWriteDepth = 0;

// A rewrite killed before its rename leaves "<file>.tmp-XXXXXX" behind. No writer can be
// running while the writers' lock is held, so any such file is an orphan.
void RemoveStaleTemps(const std::string& path)
{
    auto slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp-";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = ::readdir(d))
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
            ::unlink((dir + "/" + e->d_name).c_str());
    ::closedir(d);
}

uint32_t GetLe32(const std::string& b, size_t at)
{
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

void PutLe32(std::string& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// The bytes of the slot at `at` as a reader sees them: its 4-byte length and data, or an
// empty slot when the length is over 60 or the data runs past the end of the file.
std::string RawSlot(const std::string& b, size_t at)
{
    if (at + 4 > b.size())
        return std::string(4, '\0');
    uint32_t len = GetLe32(b, at);
    if (len > CAccountList::kMaxValue || at + 4 + len > b.size())
        return std::string(4, '\0');
    return b.substr(at, 4 + len);
}

std::string SlotData(const std::string& raw)
{
    return raw.substr(4);
}

// The file as the reader sees it, in canonical form: the header with the count of the
// records present, then each record rebuilt from its readable slots.
struct ListImage {
    std::string header;               // 2048 bytes
    std::vector<std::string> records; // 192 bytes each
};

ListImage ReadImage(const std::string& b)
{
    ListImage image;
    image.header = b.substr(0, std::min(b.size(), CAccountList::kHeaderSize));
    image.header.resize(CAccountList::kHeaderSize, '\0');
    uint32_t count =
        b.size() >= CAccountList::kCountOffset + 4 ? GetLe32(b, CAccountList::kCountOffset) : 0;
    size_t present = 0;
    if (b.size() > CAccountList::kHeaderSize)
        present = (b.size() - CAccountList::kHeaderSize + CAccountList::kRecordSize - 1) /
                  CAccountList::kRecordSize;
    size_t n = std::min<size_t>(count, present);
    for (size_t i = 0; i < n; ++i) {
        size_t base = CAccountList::kHeaderSize + CAccountList::kRecordSize * i;
        std::string record;
        for (size_t s = 0; s < 3; ++s) {
            std::string slot = RawSlot(b, base + s * CAccountList::kSlotSize);
            slot.resize(CAccountList::kSlotSize, '\0');
            record += slot;
        }
        image.records.push_back(record);
    }
    return image;
}

std::string ImageBytes(ListImage image)
{
    PutLe32(image.header, CAccountList::kCountOffset, static_cast<uint32_t>(image.records.size()));
    std::string out = image.header;
    for (const auto& r : image.records)
        out += r;
    return out;
}

std::string SlotText(const std::string& record, size_t slot, bool isProtected)
{
    std::string data = SlotData(RawSlot(record, slot * CAccountList::kSlotSize));
    if (isProtected) {
        CPassCipher cipher(kAccountCfgContainer, kAccountCfgPass);
        if (cipher.Unprotect(data.data(), data.size()) != 1)
            return {};
    }
    return data;
}

// A slot holding `value`, protected when asked; false when protection fails.
bool MakeSlot(const std::string& value, bool isProtected, std::string& slot)
{
    std::string data = value;
    if (isProtected) {
        CPassCipher cipher(kAccountCfgContainer, kAccountCfgPass);
        if (cipher.Protect(data.data(), data.size()) != 1)
            return false;
    }
    slot.assign(4, '\0');
    PutLe32(slot, 0, static_cast<uint32_t>(data.size()));
    slot += data;
    slot.resize(CAccountList::kSlotSize, '\0');
    return true;
}

bool ReadAll(const std::string& path, std::string& out, std::string& error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || st.st_size > kMaxFileSize) {
        ::close(fd);
        error = path + " is not an account list (too large).";
        return false;
    }
    out.clear();
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "Cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > static_cast<size_t>(kMaxFileSize)) {
            ::close(fd);
            error = path + " is not an account list (too large).";
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool PWriteAll(int fd, const std::string& bytes, off_t at)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

CAccountList::WriteLock::WriteLock(const std::string& path)
{
    ListLock().lock();
    if (tWriteDepth++ > 0)
        return;
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0)
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    RemoveStaleTemps(path);
    RemoveStaleTemps(path + kMovesSuffix);
}

CAccountList::WriteLock::~WriteLock()
{
    if (--tWriteDepth == 0 && fd_ >= 0)
        ::close(fd_); // releases the file lock
    ListLock().unlock();
}

CAccountList::CAccountList(std::string path) : path_(std::move(path))
{
}

int CAccountList::Fail(const std::string& text)
{
    error_ = text;
    return 0;
}

std::vector<AccountListRecord> CAccountList::Parse(const std::string& bytes)
{
    std::vector<AccountListRecord> out;
    for (const auto& record : ReadImage(bytes).records)
        out.push_back(
            {SlotText(record, 0, false), SlotText(record, 1, true), SlotText(record, 2, true)});
    return out;
}

int CAccountList::Load(std::vector<AccountListRecord>& records)
{
    std::lock_guard<std::recursive_mutex> guard(ListLock());
    records.clear();
    struct stat st {
    };
    if (::stat(path_.c_str(), &st) != 0 && errno == ENOENT)
        return 1;
    std::string bytes;
    if (!ReadAll(path_, bytes, error_))
        return 0;
    records = Parse(bytes);
    return 1;
}

// Creates the file with its header when it is missing, or rebuilds a header too short to
// hold the count; both atomically, so a crash leaves no half header.
int CAccountList::EnsureHeader()
{
    struct stat st {
    };
    std::string prefix;
    if (::stat(path_.c_str(), &st) == 0) {
        if (static_cast<size_t>(st.st_size) >= kHeaderSize)
            return 1;
        // A file this short holds no record; keep what it has of the magic area.
        if (!ReadAll(path_, prefix, error_))
            return 0;
        prefix.resize(std::min(prefix.size(), kCountOffset));
    } else if (errno != ENOENT) {
        return Fail("Cannot open " + path_ + ": " + std::strerror(errno));
    } else {
        prefix = kMagic;
    }
    std::string header = prefix;
    header.resize(kHeaderSize, '\0');
    AtomicFileWriter writer(path_, 0600);
    if (!writer.Open() || !writer.Write(header) || !writer.Commit())
        return Fail("Cannot create the account list: " + writer.Error());
    CrashPoint("accountcfg.append.header");
    return 1;
}

// Brings the file to its canonical length for the count it holds (see the header).
int CAccountList::Repair(int fd, uint32_t& count)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        return Fail("Cannot read " + path_ + ": " + std::strerror(errno));
    std::string countBytes(4, '\0');
    if (::pread(fd, countBytes.data(), 4, static_cast<off_t>(kCountOffset)) != 4)
        return Fail("Cannot read the account count of " + path_ + ".");
    count = GetLe32(countBytes, 0);
    uint64_t expected = kHeaderSize + static_cast<uint64_t>(kRecordSize) * count;
    if (static_cast<uint64_t>(st.st_size) == expected)
        return 1;
    std::string bytes;
    if (!ReadAll(path_, bytes, error_))
        return 0;
    ListImage image = ReadImage(bytes);
    AtomicFileWriter writer(path_, 0600);
    if (!writer.Open() || !writer.Write(ImageBytes(image)) || !writer.Commit())
        return Fail("Cannot repair the account list: " + writer.Error());
    count = static_cast<uint32_t>(image.records.size());
    CrashPoint("accountcfg.append.repaired");
    return 1;
}

static std::string ValueProblem(const std::string* name, const std::string* access,
                                const std::string* copy)
{
    if (name && !AccountNames::IsSafeFolderName(*name))
        return "The account name \"" + *name + "\" cannot name a folder.";
    if (name && name->size() > CAccountList::kMaxValue)
        return "The account name is longer than 60 bytes.";
    if (access && access->size() > CAccountList::kMaxValue)
        return "The access password is longer than 60 bytes.";
    if (copy && copy->size() > CAccountList::kMaxValue)
        return "The password is longer than 60 bytes.";
    return {};
}

int CAccountList::Append(const std::string& name, const std::string& accessPassword,
                         const std::string& passwordCopy)
{
    std::string problem = ValueProblem(&name, &accessPassword, &passwordCopy);
    if (!problem.empty())
        return Fail(problem);
    // Protect first: a failure then leaves the file untouched.
    std::string slots[3];
    if (!MakeSlot(name, false, slots[0]) || !MakeSlot(accessPassword, true, slots[1]) ||
        !MakeSlot(passwordCopy, true, slots[2]))
        return Fail("Cannot protect the passwords of the account.");

    WriteLock guard(path_);
    if (!EnsureHeader())
        return 0;
    int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return Fail("Cannot open " + path_ + ": " + std::strerror(errno));
    uint32_t count = 0;
    if (!Repair(fd, count)) {
        ::close(fd);
        return 0;
    }
    if (count == UINT32_MAX) {
        ::close(fd);
        return Fail("The account list is full.");
    }
    // The repair may have replaced the file: write to the one now at the path.
    ::close(fd);
    fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return Fail("Cannot open " + path_ + ": " + std::strerror(errno));

    off_t at = static_cast<off_t>(kHeaderSize + static_cast<uint64_t>(kRecordSize) * count);
    static const char* const kSteps[] = {"accountcfg.append.slot1", "accountcfg.append.slot2",
                                         "accountcfg.append.slot3"};
    bool ok = PWriteAll(fd, std::string(kRecordSize, '\0'), at);
    CrashPoint("accountcfg.append.grow");
    for (size_t s = 0; ok && s < 3; ++s) {
        ok = PWriteAll(fd, slots[s], at + static_cast<off_t>(s * kSlotSize));
        CrashPoint(kSteps[s]);
    }
    // The record must be on disk before the count that makes it part of the list.
    ok = ok && ::fsync(fd) == 0;
    CrashPoint("accountcfg.append.synced");
    std::string countBytes(4, '\0');
    PutLe32(countBytes, 0, count + 1);
    bool counted = ok && PWriteAll(fd, countBytes, static_cast<off_t>(kCountOffset));
    CrashPoint("accountcfg.append.count");
    ok = counted && ::fsync(fd) == 0;
    if (!ok) {
        std::string reason = std::strerror(errno);
        // Leave no uncounted tail behind (the next append would cut it anyway). Once the
        // count is raised the record stays: a reader may already have seen it.
        if (!counted && ::ftruncate(fd, at) != 0) {
        }
        ::close(fd);
        return Fail("Cannot write " + path_ + ": " + reason);
    }
    ::close(fd);
    return 1;
}

int CAccountList::Delete(const std::string& name)
{
    return Rewrite(name, nullptr, nullptr, nullptr, true);
}

int CAccountList::Update(const std::string& name, const std::string* newName,
                         const std::string* accessPassword, const std::string* passwordCopy)
{
    std::string problem = ValueProblem(newName, accessPassword, passwordCopy);
    if (!problem.empty())
        return Fail(problem);
    return Rewrite(name, newName, accessPassword, passwordCopy, false);
}

int CAccountList::Rewrite(const std::string& name, const std::string* newName,
                          const std::string* accessPassword, const std::string* passwordCopy,
                          bool remove)
{
    const char* step = remove ? "accountcfg.delete" : "accountcfg.update";
    WriteLock guard(path_);
    std::string bytes;
    if (!ReadAll(path_, bytes, error_))
        return 0;
    ListImage image = ReadImage(bytes);
    auto it = std::find_if(image.records.begin(), image.records.end(),
                           [&](const std::string& r) { return SlotText(r, 0, false) == name; });
    if (it == image.records.end())
        return Fail("There is no account named \"" + name + "\" in the account list.");
    if (remove) {
        image.records.erase(it);
    } else {
        const std::string* values[3] = {newName, accessPassword, passwordCopy};
        for (size_t s = 0; s < 3; ++s) {
            if (!values[s])
                continue;
            std::string slot;
            // On failure the old record stays as it was: nothing has been written yet.
            if (!MakeSlot(*values[s], s > 0, slot))
                return Fail("Cannot protect the passwords of the account.");
            it->replace(s * kSlotSize, kSlotSize, slot);
        }
    }
    AtomicFileWriter writer(path_, 0600);
    if (!writer.Open() || !writer.Write(ImageBytes(image)))
        return Fail("Cannot write the account list: " + writer.Error());
    CrashPoint((std::string(step) + ".written").c_str());
    if (!writer.Commit())
        return Fail("Cannot write the account list: " + writer.Error());
    CrashPoint((std::string(step) + ".committed").c_str());
    return 1;
}
