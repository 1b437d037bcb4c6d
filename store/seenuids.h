#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>

// The identifiers a POP3/IMAP4 check must not report again, made ready before the check
// talks to its server. The caller holds the account's lock (CAccountLock).
//
//   1. UID.inf must take appends (CheckUidFileWritable): a check whose identifiers cannot
//      be recorded would store its messages again at every check.
//   2. UID.inf is read.
//   3. Every POP3/IMAP4 record of Message.box whose identifier UID.inf lacks has it
//      appended (one write, flushed). Identifiers are recorded at a check's summary, after
//      its messages; a check killed in between left its messages stored without them, and
//      would otherwise store them all a second time. A missing Message.box holds nothing
//      and is not created. A record without an identifier (one unlinked from a renumbered
//      IMAP4 mailbox, CMailBoxFile::ForgetUids) names nothing on the server and is skipped,
//      here and in the IMAP4 read state below.
//
// Result: Ready with the identifiers in `uids`, or the step that failed with a reason a
// user can read; nothing on disk is lost either way.
class SeenUids
{
public:
    enum class Outcome {
        Ready,
        UidFileNotWritable, // step 1: "cannot write the list of seen messages: ..."
        UidFileUnreadable,  // step 2
        MailBoxUnusable,    // step 3: Message.box cannot be opened or read (damaged)
        RecoveryFailed,     // step 3: the missing identifiers could not be appended
    };

    Outcome Load(const std::string& mailBoxPath, const std::string& uidPath);

    const std::unordered_set<std::string>& Uids() const { return uids_; }
    std::unordered_set<std::string> TakeUids() { return std::move(uids_); }
    // The identifiers of the IMAP4 messages Message.box holds, and of those the ones marked
    // read here: what the check compares with the server's read state.
    std::unordered_set<std::string> TakeStoredImap() { return std::move(storedImap_); }
    std::unordered_set<std::string> TakeReadImap() { return std::move(readImap_); }
    // Identifiers step 3 appended.
    size_t Recovered() const { return recovered_; }
    const std::string& Error() const { return error_; }

private:
    Outcome Fail(Outcome outcome, std::string text);

    std::unordered_set<std::string> uids_;
    std::unordered_set<std::string> storedImap_;
    std::unordered_set<std::string> readImap_;
    size_t recovered_ = 0;
    std::string error_;
};
