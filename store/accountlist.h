#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One record of the account list file Account.cfg (plain texts in memory).
struct AccountListRecord {
    std::string name;
    std::string accessPassword; // empty = none
    std::string passwordCopy;   // a copy of the mail password
};

// The account list file, Account.cfg: which accounts exist, in order, with their access
// passwords and password copies.
//
// Format (binary, little-endian):
//   0     1024  header: "KORAVELPIGEONPOST" then zeros (written once, never checked)
//   1024  4     record count N, unsigned
//   1028  1020  zeros
//   2048 + 192*i  record i: three 64-byte slots (name; access password; password copy),
//                 each a 4-byte length L <= 60 and L bytes, the rest zero. Slots 2 and 3
//                 are protected with CPassCipher (Account.cfg container and pass bytes),
//                 which keeps the length.
//
// Reading is forgiving: a short file, a slot whose length is over 60 or runs past the end
// of the file reads as an empty slot; a count larger than the records present reads the
// missing ones as empty (and they are left out of Load's list, being nameless).
//
// Crash safety:
// - Delete and Update rewrite the whole file atomically: a crash leaves the old file or
//   the new one.
// - A new file's header is created atomically.
// - Append stays an append: 192 zero bytes, then the slots, then a flush, and only then
//   the count is raised and flushed. The count is the commit point, so the repair rule
//   applied before every Append is:
//     * bytes after the last counted record (2048 + 192*N) belong to an append that never
//       finished and was never acknowledged: they are cut off;
//     * a count larger than the records present (not something this writer leaves, but a
//       foreign or damaged file) is lowered to the records present, the last partial
//       record keeping its whole slots and having its torn slot zeroed: exactly what a
//       reader sees before the repair, so nothing visible changes.
//
// Each object works on one path. All operations of all objects in the process are
// serialised by one lock, so any thread may call them; writers also hold an advisory
// lock on "<list>.lock" beside the list, so another process (the command line next to
// the desktop program) waits its turn. A change that must see the list unchanged between
// its check and its write (a name is free, then it is appended) holds a WriteLock over
// both; the operations may be called while their thread holds one. Temporary files that a
// killed rewrite left behind are removed by the next writer. Operations return 1 on
// success and 0 on failure, with a readable reason in Error().
class CAccountList
{
public:
    // The writers' lock of the list at `path`, in this process and across processes, held
    // for the object's life. Reentrant on one thread; other threads and processes wait.
    // Lock order: take it before the account table's lock, never inside it.
    class WriteLock
    {
    public:
        explicit WriteLock(const std::string& path);
        ~WriteLock();
        WriteLock(const WriteLock&) = delete;
        WriteLock& operator=(const WriteLock&) = delete;

    private:
        int fd_ = -1;
    };

    // The journal of unfinished folder moves lives beside the list (CAccountMoves).
    static constexpr char kMovesSuffix[] = ".moves";

    explicit CAccountList(std::string path);

    // Adds a record at the end. Refuses (0) a name that is empty, ".", "..", holds "/",
    // CR, LF or NUL, and any value longer than 60 bytes.
    int Append(const std::string& name, const std::string& accessPassword,
               const std::string& passwordCopy);
    // Removes the first record named `name` (exact comparison); later records move up.
    // 0 when there is no such record.
    int Delete(const std::string& name);
    // Rewrites the given slots (nullptr = keep) of the first record named `name`.
    // 0 when there is no such record or a value is refused as for Append.
    int Update(const std::string& name, const std::string* newName,
               const std::string* accessPassword, const std::string* passwordCopy);
    // Reads every counted record in file order. A missing file is an empty list (1);
    // 0 only when the file exists and cannot be read.
    int Load(std::vector<AccountListRecord>& records);

    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    // The in-memory reader, shared with the fuzz target: any bytes are accepted.
    static std::vector<AccountListRecord> Parse(const std::string& bytes);

    static constexpr size_t kHeaderSize = 2048;
    static constexpr size_t kCountOffset = 1024;
    static constexpr size_t kRecordSize = 192;
    static constexpr size_t kSlotSize = 64;
    static constexpr size_t kMaxValue = 60;

private:
    int Fail(const std::string& text);
    int Rewrite(const std::string& name, const std::string* newName,
                const std::string* accessPassword, const std::string* passwordCopy, bool remove);
    int EnsureHeader();
    int Repair(int fd, uint32_t& count);

    std::string path_;
    std::string error_;
};
