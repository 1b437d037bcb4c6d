#pragma once

#include "messagerecord.h"
#include "passcipher.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <unordered_set>
#include <vector>

// Message.box: the stored headers of one account (binary, little-endian).
//
//   0     1024  "KORAVELPIGEONPOST", then zeros (never checked)
//   1024  4     N, the number of stored messages
//   1028  1020  zeros
//   2048  ...   N records, in the order they were stored
//
// A record: T (4 bytes, the record size, (sum of lengths + 64) rounded up to 64), twelve
// 4-byte lengths, 12 zero bytes, then the items: Read in exactly 4 bytes, the fields 0, 1,
// 3, 4, 5, 6, 8, 9, 10, 11 of StoredMessage, and last the Preview (7), enciphered with
// CPassCipher (kMailBoxContainer / kMailBoxPass); zero padding up to T.
//
// Crash safety. Append writes the whole record past the last counted one, flushes it, and
// only then raises N (the commit point) and flushes again; see the CrashPoint names in the
// .cpp. So a crash leaves either the old store or the old store plus an uncommitted tail
// (nothing, part of a record, or a whole record not yet counted). Open recognises such a
// tail, and also the torn last record an older writer leaves when it crashes after raising
// N, cuts it and corrects N (LastRepair() says what it did). Bytes after the last counted
// record that cannot be a torn append (more than one record, or not a record head) are
// refused and the file is left untouched: they may hold data and nothing here may guess.
// Delete and ForgetUids rewrite the file atomically (temp + fsync + rename + fsync of the
// folder).
//
// Deferred flushing. AppendUnflushed writes the same steps without the two flushes: the
// message is counted and visible to every reader at once, and a killed process leaves one
// of the states above, but only Flush() makes it survive a power cut. Until then a power
// cut may keep the count without the records (Open corrects the count) or the file's new
// size without its bytes (a zero tail, cut). Whoever defers must therefore not let
// anything that depends on the message (its identifier in UID.inf) become durable before
// Flush() has returned 1.
//
// After a successful Open the file holds exactly the header and N well-formed records, and
// every record's items lie inside the record; no length read from the file is trusted
// beyond that, and no buffer is ever larger than the file.
//
// Not thread-safe: one object per thread. The program writes Message.box only on the
// user-interface thread; one writer per file at a time is the caller's duty (every writer
// holds the account's CAccountLock). Results: 1
// success, 0 failure; after a failure LastError() holds a reason a user can read.
class CMailBoxFile
{
public:
    static constexpr off_t kHeaderSize = 2048;
    static constexpr off_t kCountOffset = 1024;
    static constexpr size_t kRecordHeadSize = 64;

    CMailBoxFile();
    ~CMailBoxFile();
    CMailBoxFile(const CMailBoxFile&) = delete;
    CMailBoxFile& operator=(const CMailBoxFile&) = delete;

    // Opens for reading and writing; creates the file (mode 0600) with its header when it
    // does not exist, or fills an empty file with it; validates and mends as above, and
    // removes the temporary copy a Delete killed before its rename leaves beside the
    // file. The folder must exist. 0 when the file cannot be used; it is then left
    // untouched.
    int Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Stores one POP3 or IMAP4 message (mailType "POP3" or "IMAP4"), mapped by field order.
    int Append(const std::string& messageId, const std::string& mailType,
               const std::string& readText, const MessageRecord& source);
    // Stores one message already in stored form; mailType must be one of "POP3", "IMAP4",
    // "Portalpost", "Exchange(MAPI)" (anything else stores nothing). Read keeps 4 bytes.
    int Append(const StoredMessage& message);
    // Stores several messages with one commit: all or none of them are counted.
    int Append(const std::vector<StoredMessage>& messages);
    // As Append(message), but not flushed (see "Deferred flushing" above).
    int AppendUnflushed(const StoredMessage& message);
    // Makes every write made through this object durable (fdatasync). 0 on failure: what
    // was written since the last successful flush may then be lost in a power cut.
    int Flush();
    // The path still names the open file and the file has the size this object left it
    // with: nobody replaced it (Delete's rewrite) or appended to it meanwhile, so appends
    // may go on without a new Open. Also drops the read window, which a SetRead through
    // another object may have made stale.
    bool IsCurrent();

    // Where the store ends now (records and size), so that a later CutBack can take away
    // exactly what was appended after it.
    struct Mark {
        uint32_t count = 0;
        off_t size = 0;
    };
    Mark End() const { return {count_, fileSize_}; }
    // Takes back every record appended since `mark`: lowers N first and flushes (the
    // commit point: the records after it become an uncommitted tail that Open cuts should
    // this be killed), then cuts the file and flushes again. Needs no free space. Refused
    // (0, nothing changed) when the file is no longer the one `mark` was taken of
    // (IsCurrent() false: it was replaced or grown by another writer) or when `mark` lies
    // beyond the end.
    int CutBack(const Mark& mark);

    // Walks the records from the first: Rewind() goes back before the first record; Next()
    // moves to the following one (1) or reports the end (0). ReadCurrent fills Read,
    // MessageId and MailType always, fields 3..6 and 8..11 when allFields, and the
    // deciphered Preview only when allFields and preview are both set (other fields are
    // cleared). Each text ends at its item's first zero byte.
    void Rewind();
    int Next();
    int ReadCurrent(StoredMessage& out, bool allFields, bool preview);

    // Writes the first 4 bytes of `text` (zero padded) as the Read item of every record
    // named by one of `messageIds`: one pass over the file, in-place writes of the items
    // that change, one flush. 1 when every id named at least one record and all was
    // written; 0 when an id was not found (the records that were found are marked all the
    // same; LastError says how many ids were missing) or on a read, write or flush failure
    // (items are independent: some may be marked). An empty set does nothing and gives 1.
    int SetRead(const std::unordered_set<std::string>& messageIds, const std::string& text);
    int SetRead(const std::string& messageId, const std::string& text);
    // Removes every record named by one of `messageIds` with one atomic rewrite. 1 when
    // every id named at least one record; 0 when an id was not found (the records found
    // are removed all the same: Count() drops by their number; LastError says how many ids
    // were missing; with none found the file is unchanged) or when the rewrite fails (the
    // old file stays whole and Count() is unchanged). An empty set does nothing and gives 1.
    int Delete(const std::unordered_set<std::string>& messageIds);
    int Delete(const std::string& messageId);
    // Empties the Uid item of every record of `mailType` that has one, with one atomic
    // rewrite like Delete's (the records rebuilt, everything else in them and their order
    // kept, the file's mode kept). Such a record no longer names a message on the server:
    // it stays for the user, but nothing follows or records the server's state by it. 1 when
    // done or when no such record has an identifier (nothing is written then); 0 when the
    // rewrite fails (the old file stays whole).
    int ForgetUids(const std::string& mailType);

    uint32_t Count() const { return count_; }
    const std::string& Path() const { return path_; }
    const std::string& LastError() const { return error_; }
    // What the last Open mended (a torn record cut, a count corrected); empty if nothing.
    const std::string& LastRepair() const { return repair_; }

    // Builds the stored form of a POP3/IMAP4 message record as the layout table maps it.
    static StoredMessage FromMessageRecord(const std::string& messageId,
                                           const std::string& mailType, const std::string& readText,
                                           const MessageRecord& source);
    static bool IsKnownMailType(const std::string& mailType);

private:
    struct Head {
        uint32_t size = 0;
        uint32_t lengths[12] = {};
    };

    int Fail(std::string text);
    int FailErrno(const std::string& what);
    bool ReadHead(off_t at, Head& head);
    bool IsZeroFrom(off_t at, bool& zero);
    int Validate();
    int WriteCount(uint32_t count);
    bool BuildRecord(const StoredMessage& m, std::string& out);
    int AppendRecords(const std::string& records, uint32_t added, bool durable);
    bool ReadMessageIdAt(off_t at, const Head& head, std::string& id);
    int Reopen(off_t size, uint32_t count);
    const char* Get(off_t at, size_t length);

    CPassCipher cipher_;
    std::string path_;
    int fd_ = -1;
    off_t fileSize_ = 0;
    uint32_t count_ = 0;

    // Cursor: start of the current record (0: before the first), start of the next one,
    // records still to visit.
    off_t current_ = 0;
    off_t next_ = kHeaderSize;
    uint32_t remaining_ = 0;

    // Read window: large preads serve many small reads.
    std::vector<char> window_;
    off_t windowStart_ = 0;
    size_t windowLength_ = 0;

    std::string error_;
    std::string repair_;
};
