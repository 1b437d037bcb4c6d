#pragma once

#include "cancellabletransport.h"
#include "mailsocket.h"
#include "neterror.h"

#include <string>

class CCheckCancel;
struct CheckRequest;

// The connection of one POP3/IMAP4 check, opened before the client runs so that the client
// talks through a cancellable transport. Implicit TLS when the account's security choice
// says "TLS", or when it says nothing and the port is the protocol's TLS port.
class CMailConnection
{
public:
    explicit CMailConnection(const CCheckCancel& cancel);
    // True when connected; else the thread's last network error says why.
    bool Open(const CheckRequest& params, int implicitTlsPort);
    Transport& Stream() { return cancellable_; }

    // Why the last Open failed, kept for the check's report ("cannot connect to
    // mail.example.com:995: certificate verify failed: self-signed certificate").
    const NetError& Failure() const { return failure_; }

private:
    MailSocket socket_;
    CCancellableTransport cancellable_;
    NetError failure_;
};
