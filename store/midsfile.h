#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// The identifiers of the messages a plug-in has already handled for one account: "MIDS" of
// a web-mail account, "MIDs" of a watched mailbox, both in the account folder.
//
// Layout (little-endian): a 4-byte record count N, then N records of a 4-byte length L and L
// bytes of identifier. Records are only ever appended, and a message's identifier is
// appended before the message is filtered or reported, so each message is handled once.
//
// Reading trusts the records, not the count: the records are read one after the other while
// a whole one is left, at most kMaxIdentifierLength bytes each; a count that promises more
// than the file holds is ignored (hostile or damaged files cannot make the reader allocate
// more than the file's size), and a record beyond the count (an append whose count was not
// yet raised when the writer died) counts, because its message may already have been
// reported. A torn last record, or one with an impossible length, ends the list: Open cuts
// the file there and rewrites the count, so count and records agree again.
//
// Writes: the record goes to the end of the file and is flushed to the disk before the count
// is raised; an append that fails is cut back off the file, so none of its records counts
// at the next open. Open takes an exclusive lock on the file for as long as the object holds it
// open, so a second check of the same account (in this process or another) gets kBusy.
// New files are 0600. Not thread-safe: one object per check.
class CMidsFile
{
public:
    static constexpr uint32_t kMaxIdentifierLength = 4095;

    enum class OpenResult { kOpen, kBusy, kFailed };

    CMidsFile() = default;
    ~CMidsFile();
    CMidsFile(const CMidsFile&) = delete;
    CMidsFile& operator=(const CMidsFile&) = delete;

    // Opens `path`, creating it with the count 0, waits up to `lockWait` for the lock, reads
    // the identifiers and repairs a torn tail. kFailed and kBusy put a readable reason into
    // *error.
    OpenResult Open(const std::string& path, std::chrono::milliseconds lockWait,
                    std::string* error = nullptr);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // Exact, case-sensitive; an identifier matches only a record of its own length.
    bool Contains(std::string_view id) const;
    size_t Count() const { return order_.size(); }
    // The identifiers in file order.
    const std::vector<std::string>& Identifiers() const { return order_; }

    // Appends the identifiers in order (one write, one flush, then the count). An empty one,
    // or one longer than kMaxIdentifierLength, is refused before anything is written: false
    // with the reason. Identifiers already present are appended again only if asked twice
    // in one list; callers test Contains first.
    bool Append(const std::vector<std::string>& ids, std::string* error = nullptr);
    bool Append(std::string_view id, std::string* error = nullptr);

    // A group commit for a burst of new messages (a log-on's scan): the record is written and
    // counted at once but reaches the disk only at the next Flush, flushed Append or Close.
    // The page cache keeps it when only the process dies; after a power loss the message may
    // be handled once more, never lost. Refuses what Append refuses.
    bool AppendUnflushed(std::string_view id, std::string* error = nullptr);
    bool Flush(std::string* error = nullptr);

    // Takes back the last record when it is `id` (a message the program could not store
    // must come again at the next check): lowers the count, then cuts the record.
    bool RemoveLast(std::string_view id, std::string* error = nullptr);

    // The reader's parse over bytes in memory (Open uses it; so does the fuzz target).
    // Fills `ids` with the whole records and returns the offset where they end.
    static size_t Parse(std::string_view bytes, std::vector<std::string>& ids);

private:
    bool AppendRecords(const std::vector<std::string>& ids, bool flush, std::string* error);

    int fd_ = -1;
    bool unflushed_ = false;
    uint64_t end_ = 4; // where the next record goes
    std::string path_;
    std::vector<std::string> order_;
    std::unordered_set<std::string> known_;
};
