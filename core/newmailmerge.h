#pragma once

#include "enginesink.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CMailBoxFile;

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
// nothing waits longer than the check that brought it. A failed flush drops the waiting identifiers (reported again, never lost); a
// failed UID.inf append leaves the messages stored but not announced.
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
    int SendCheckAnimation(bool on) override;
    void PostClose() override;

    ~CNewMailMerge() override;
    // Commits every account with messages waiting for their flush (see above).
    void CommitAll();
    // Accounts with uncommitted messages (for tests).
    size_t PendingAccounts() const { return pending_.size(); }

private:
    struct Pending {
        std::unique_ptr<CMailBoxFile> box; // open while its appends wait for the flush
        std::vector<std::string> uids;     // identifiers waiting for UID.inf, in order
    };

    // Appends `message` to the account's Message.box, unflushed, and queues `uid` (POP3
    // and IMAP4; empty for the others) for UID.inf; true when stored.
    bool Store(const std::string& account, const StoredMessage& message, const std::string& uid);
    // By value: callers pass the key of the entry this erases.
    void Commit(std::string account);

    std::map<std::string, Pending> pending_; // by account name

    const CEngineState& state_;
    HeaderListTarget* headerList_;
    NotificationTarget* notification_;
    FrontWindowTarget* front_;
};
