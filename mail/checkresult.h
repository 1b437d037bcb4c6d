#pragma once

#include "neterror.h"

#include <string>

// The result of one POP3 or IMAP4 check, as the engine's summary carries it.
enum CheckResultCode : int {
    kCheckNoMemory = 0,      // the message record could not be allocated
    kCheckFailed = 1,        // a failure after a successful login (network, time-out, refusal),
                             // or a server too slow at any step (category TooSlow)
    kCheckLoginRefused = 2,  // the server refused the credentials (or they cannot be sent)
    kCheckCannotConnect = 3, // look-up, connect, greeting, TLS or the TLS policy failed
    kCheckDone = 4,          // done, also when the mailbox is empty or nothing is new
};

// The result of one check: the result code with what the caller can act on, a message a user
// can read, such as "LOGIN failed, server replied: NO [AUTHENTICATIONFAILED] Authentication
// failed.", and how many messages went to the sink. `code` keeps the numeric network error
// (10060 time-out, 10043 negative reply, 20002 certificate not trusted, 20008 certificate
// changed, ...). `newCount` counts deliveries also when the
// check failed after them.
struct CheckReport {
    int result = kCheckDone;
    NetCategory category = NetCategory::None;
    int code = neterr::kNone;
    std::string message;
    int newCount = 0;
    // The server certificate that was refused (codes kCertificate and kCertificateChanged),
    // for an offer to trust it; empty otherwise.
    PeerCertificate certificate;
};
