#pragma once

#include "peercertificate.h"

#include <cstdint>
#include <string>
#include <utility>

// The records a check hands to the front through CEngineSink, keyed by the copy-data
// kinds the plug-ins share across their C interface. Field order is the record layout;
// texts are owned here (the C side passes pointers valid only during the call, and the
// receiver copies what it keeps).
namespace CopyDataKind
{
inline constexpr uint32_t kPop3Message = 1;     // MessageRecord
inline constexpr uint32_t kImap4Message = 2;    // MessageRecord
inline constexpr uint32_t kExchangeMessage = 3; // ExchangeMessageRecord
inline constexpr uint32_t kWebMailMessage = 4;  // WebMailMessageRecord
inline constexpr uint32_t kCheckSummary = 5;    // CheckResultRecord
inline constexpr uint32_t kShowText = 6;        // CheckResultRecord, third field = the text
} // namespace CopyDataKind

// Check result codes of the POP3 and IMAP4 clients.
namespace CheckResult
{
inline constexpr int32_t kNoMemory = 0;
inline constexpr int32_t kFailedAfterLogin = 1;
inline constexpr int32_t kLoginRefused = 2;
inline constexpr int32_t kCannotConnect = 3;
inline constexpr int32_t kDone = 4;
} // namespace CheckResult

// The summary of one check (kind 5), and the shape of the text record (kind 6), whose
// result is 1, count 0 and third field the text to show.
//
// `message` says what went wrong when the code alone cannot ("<account> is already being
// checked", "cannot store the message in <path>: No space left on device"); empty when the
// code says it all. A web-mail check's reason comes from its plug-in (PwSink.failure), as
// words of the server's side (serverReason). The constructor keeps the three-field brace form
// working for every sender.
struct CheckResultRecord {
    CheckResultRecord(int32_t result_ = 0, int32_t newCount_ = 0, std::string account_ = {},
                      std::string message_ = {}, bool serverReason_ = false)
        : result(result_), newCount(newCount_), account(std::move(account_)),
          message(std::move(message_)), serverReason(serverReason_)
    {
    }
    int32_t result = 0;   // the check's result code
    int32_t newCount = 0; // messages delivered by this check
    std::string account;  // the account name (kind 6: the text)
    std::string message;  // the reason of a failure, for the user
    // Where the reason comes from. True: the conversation with the server (a refusal, a
    // certificate problem, a time-out); the desktop shows such failures the usual way, at
    // each check, as the notification settings say. False: the program's own files (mail
    // that could not be stored, an account file that cannot be used), told once per account
    // until it works again.
    bool serverReason = false;
    // The server certificate the check refused (result 3), for the failure notice's offer to
    // trust it; empty otherwise. It never crosses the plug-ins' C interface.
    PeerCertificate certificate;
};

// A new message from the Exchange plug-in (kind 3): nine texts in this order.
struct ExchangeMessageRecord {
    std::string account;    // 0
    std::string subject;    // 1
    std::string body;       // 2: the first part of the body, becomes the Preview
    std::string size;       // 3
    std::string from;       // 4
    std::string date;       // 5
    std::string folder;     // 6
    std::string store;      // 7
    std::string attachment; // 8: "Yes" or "No"
};

// A new message from the web-mail plug-in (kind 4): eight texts in this order.
struct WebMailMessageRecord {
    std::string url;        // 0: the message's address (not stored)
    std::string subject;    // 1
    std::string size;       // 2
    std::string date;       // 3
    std::string from;       // 4
    std::string account;    // 5
    std::string reserved;   // 6: stored as the Preview
    std::string attachment; // 7: "Yes" or "No"
};

// Words for a result code of the POP3/IMAP4 clients, for logs and the command line.
const char* CheckResultMeaning(int32_t result);

// Result codes of the web-mail plug-in, whose 1 and 3 mean other things than the clients'.
namespace WebMailResult
{
inline constexpr int32_t kTimeOut = 1;
inline constexpr int32_t kLoginRefused = 2;
inline constexpr int32_t kHttpError = 3;
inline constexpr int32_t kDone = 4;
inline constexpr int32_t kFailed = 5;
} // namespace WebMailResult

// Words for a result code of the web-mail plug-in.
const char* WebMailResultMeaning(int32_t result);
