#pragma once

#include "messagerecord.h"

#include <string>
#include <vector>

// Where a POP3 or IMAP4 check hands each message its filter rules keep: the engine's merge
// (store it in Message.box, append its identifier to UID.inf, show it in the header list).
//
// Delivery is synchronous: the client calls DeliverMessage on the check's own thread and
// waits for it to return before it handles the next message. `record` and its texts are
// valid only during the call; the receiver copies what it keeps. The client reuses the
// record for the next message.
//
// `kind` is the record kind of the engine's message table: kRecordPop3 (1) for a POP3
// message, kRecordImap4 (2) for an IMAP4 message.
class CheckSink
{
public:
    virtual ~CheckSink() = default;
    virtual void DeliverMessage(int kind, const MessageRecord& record) = 0;
    // IMAP4, before any new message: stored messages (by identifier) that the server now
    // marks \Seen while they are unread here, and ones the server no longer has (deleted
    // or moved by another client). Called only when one of the lists is not empty.
    virtual void ServerState(const std::string& account, const std::vector<std::string>& seen,
                             const std::vector<std::string>& gone)
    {
        (void)account;
        (void)seen;
        (void)gone;
    }
};

inline constexpr int kRecordPop3 = 1;
inline constexpr int kRecordImap4 = 2;
