#pragma once

#include "checkrecords.h"
#include "messagerecord.h"

#include <cstdint>
#include <string>
#include <vector>

// What an IMAP4 check found of the server's read state for messages stored here: their
// identifiers (the UIDs in Message.box), those the server marks \Seen while they are
// unread here, and those it no longer has.
struct ServerStateRecord {
    std::string account;
    std::vector<std::string> seen;
    std::vector<std::string> gone;
};

// What check threads, the worker and the plug-ins say to the front (the main window's
// messages of the desktop program).
//
// The Send* calls are synchronous: they return only after the front has handled the
// record, so the records' texts need to live only for the call and every store write
// happens on the front's one handling thread, one at a time, while the sender waits.
// The desktop marshals them to its UI thread (a blocking queued call); the headless
// front runs them on one merge thread (CMergeThreadSink). PostClose is asynchronous.
//
// Results: Send* return kHandled (1) when the front handled the record, kFrontGone (0)
// when it could not (the front has shut down); senders go on either way. The three
// message calls may also return kNotStored (2): the front could not store the message
// (a full disk, a damaged Message.box, the account being written by another process), so
// its identifier was not recorded and the message comes again at a later check. A check
// that meets kNotStored should end early; the merge has kept the reason and puts it into
// the check's summary (result 1). Marshalling sinks pass the handler's value through.
// Called from any thread, also from several at once; an implementation must not call
// back into the sender.
class CEngineSink
{
public:
    static constexpr int kFrontGone = 0;
    static constexpr int kHandled = 1;
    static constexpr int kNotStored = 2;

    virtual ~CEngineSink() = default;

    // kind 1 (POP3) or 2 (IMAP4): one new message kept by the filter rules.
    virtual int SendNewMessage(uint32_t kind, const MessageRecord& record) = 0;
    // kind 3: one new Exchange message.
    virtual int SendExchangeMessage(const ExchangeMessageRecord& record) = 0;
    // kind 4: one new web-mail message.
    virtual int SendWebMailMessage(const WebMailMessageRecord& record) = 0;
    // kind 5: the summary of a check.
    virtual int SendSummary(const CheckResultRecord& record) = 0;
    // kind 6: a text to show (a dialling error); `record.account` holds the text.
    virtual int SendText(const CheckResultRecord& record) = 0;
    // An IMAP4 check's view of the server's read state: the front marks `seen` read and
    // removes `gone` from the account's Message.box and header list. Sent before the
    // check's new messages. Sinks that do not keep mail may ignore it.
    virtual int SendServerState(const ServerStateRecord& record)
    {
        (void)record;
        return kHandled;
    }
    // An IMAP4 check found the account's mailbox renumbered (a new UIDVALIDITY): the front
    // empties the identifiers of the account's IMAP4 records in Message.box, which name other
    // messages now; the records stay. Sent before the check replaces UID.inf, which it does
    // only on kHandled: done, or no Message.box. kNotStored: it could not be done, nothing
    // changed, and the reason waits for the check's summary as for a message not stored.
    // Sinks that do not keep mail may ignore it.
    virtual int SendMailboxRenumbered(const std::string& account)
    {
        (void)account;
        return kHandled;
    }
    // The tray icon's checking animation for the selected account.
    virtual int SendCheckAnimation(bool on) = 0;
    // The worker has ended: the front may close. Does not wait.
    virtual void PostClose() = 0;
};
