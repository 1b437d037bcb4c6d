#pragma once

#include "accountlock.h"
#include "enginesink.h"
#include "mailboxfile.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CEngineState;
class FrontWindowTarget;
class HeaderListTarget;
class NotificationTarget;

// The front's handling of the engine's messages: stores new mail and passes on what the
// user should see.
//
// New message (kinds 1-4): appends the message to the account's Message.box under a new
// MessageId with Read "No" and gives it to the header list at once; for POP3/IMAP4 its
// identifier waits in memory for UID.inf. A Message.box that cannot be used stores nothing
// and keeps no identifier, so the message comes again at the next check.
//
// Group commit. Flushing every message on its own cost three flushes each on the one
// handling thread; instead an account's appends are written unflushed (visible to every
// reader at once, see CMailBoxFile's "Deferred flushing") and committed together: flush
// Message.box, then append the waiting identifiers to UID.inf with one write and one flush.
// The rule that keeps mail safe: an identifier reaches UID.inf only after its message is
// durable in Message.box, since an identifier without its message would hide that message
// for good. The converse (a stored message whose identifier never arrived, after a crash or
// a failed flush) only means the message is reported once more. An account is committed
// at its summary (kind 5, before the notification, so the user is told of durable mail
// only), when Message.box was replaced or grown by someone else meanwhile, and on
// CommitAll(), which the destructor calls at exit. Every check ends with its summary, so
// nothing waits longer than the check that brought it.
//
// A check's messages stay stored only if their identifiers are: when the flush or the
// UID.inf append fails, the batch is taken back out of Message.box (cut back to where it
// began, or removed by MessageId when someone rewrote the file meanwhile) and out of the
// header list, so the next check reports those messages once. Should even that fail, the
// records stay and the next check's start records their identifiers (SeenUids).
//
// Failures reach the check. A message that cannot be stored (no account folder, the
// account locked by another process, an unusable Message.box, a write error) is answered
// with kNotStored and nothing of it is kept; the first such reason since the account's
// last summary, or the failure of its commit, turns that summary into a failure (result 1;
// 5 for web mail, whose 1 means a time-out) with the reason in its message and the count of
// messages actually kept.
//
// Lock. While an account has appends waiting, the merge holds its CAccountLock (shared
// with the check of this process that delivers them, exclusive against other processes).
//
// Sequence and crash points: append (mailbox.append.*) ... summary -> flush Message.box ->
// "merge.commit.flushed" -> UID.inf write ("uidfile.append.written") -> flush.
// Summary (5) and text (6) reach the notification target only while checking is enabled:
// while the program exits (draining) mail is still stored, but nothing is shown.
//
// Threads: the methods are the handler itself; call them on one thread only (the
// desktop's UI thread, or CMergeThreadSink's merge thread), which is what makes every
// store write happen one at a time. Targets may be null (nothing is passed on). They all
// return 1, as the window's handler did.
class CNewMailMerge final : public CEngineSink
{
public:
    CNewMailMerge(const CEngineState& state, HeaderListTarget* headerList,
                  NotificationTarget* notification, FrontWindowTarget* front);

    int SendNewMessage(uint32_t kind, const MessageRecord& record) override;
    int SendExchangeMessage(const ExchangeMessageRecord& record) override;
    int SendWebMailMessage(const WebMailMessageRecord& record) override;
    int SendSummary(const CheckResultRecord& record) override;
    int SendText(const CheckResultRecord& record) override;
    // Marks the stored messages the server has seen read and removes those it no longer
    // has, in Message.box (SetRead, then Delete: each an atomic rewrite) and in the header
    // list. Waiting appends of the account are committed first. A Message.box that cannot
    // be used changes nothing; the next check reports the same state again.
    int SendServerState(const ServerStateRecord& record) override;
    // Empties the Uid of the account's IMAP4 records in Message.box (CMailBoxFile::ForgetUids),
    // waiting appends committed first. kNotStored when that fails (the reason goes into the
    // account's next summary); kHandled when done or when there is no Message.box.
    int SendMailboxRenumbered(const std::string& account) override;
    int SendCheckAnimation(bool on) override;
    void PostClose() override;

    ~CNewMailMerge() override;
    // Commits every account with messages waiting for their flush (see above).
    void CommitAll();
    // Accounts with uncommitted messages (for tests).
    size_t PendingAccounts() const { return pending_.size(); }

private:
    struct Pending {
        CAccountLock lock;                   // held while appends wait for their commit
        std::unique_ptr<CMailBoxFile> box;   // open while its appends wait for the flush
        CMailBoxFile::Mark start;            // where the batch began, to take it back
        std::vector<std::string> uids;       // identifiers waiting for UID.inf, in order
        std::vector<std::string> messageIds; // the batch's messages, for taking them back
    };
    struct Tally {
        int32_t kept = 0;     // messages stored since the account's last summary
        std::string failure;  // the first reason something was not kept, if any
        bool webMail = false; // its messages came from the web-mail plug-in
    };

    // Appends `message` to the account's Message.box, unflushed, and queues `uid` (POP3
    // and IMAP4; empty for the others) for UID.inf; true when stored. Records the reason
    // of a failure in the account's tally.
    bool Store(const std::string& account, const StoredMessage& message, const std::string& uid);
    int Deliver(const std::string& account, StoredMessage& message, const std::string& uid);
    // By value: callers pass the key of the entry this erases.
    void Commit(std::string account);
    // Takes a batch whose identifiers could not be recorded back out; says how it went.
    std::string TakeBack(const std::string& account, Pending& p);
    void NoteFailure(const std::string& account, const std::string& reason);

    std::map<std::string, Pending> pending_; // by account name
    std::map<std::string, Tally> tallies_;   // by account name, until its summary

    const CEngineState& state_;
    HeaderListTarget* headerList_;
    NotificationTarget* notification_;
    FrontWindowTarget* front_;
};
