#pragma once

#include "checkrequest.h"    // the request both protocol clients take (mail/)
#include "peercertificate.h" // a refused server certificate (store/record/)

#include <cstdint>
#include <functional>
#include <memory>

class CCapabilityMemory;
class CCheckCancel;
class CEngineSink;

// Runs the protocol check of one account: logs in, finds the messages whose identifiers
// are not known, delivers each kept one synchronously with sink.SendNewMessage (kind 1 for
// POP3, 2 for IMAP4) and counts it in `newCount`.
//
// Result: 0 no memory, 1 failure after login, 2 login refused, 3 cannot connect, 4 done.
// `cancel` ends the check early (the result is then 1 or 3, whatever the stage).
//
// Run returns as soon as the result is final. When the server still owes an answer that no
// result depends on (its reply to QUIT or LOGOUT), Run sets `closing`: calling it (or
// dropping it) waits for that answer, at most what is left of the time-out, and closes the
// connection. The caller sends the summary first. `message` receives the reason of a
// failure in words a user can read (the server's reply, the certificate problem, "no
// greeting within N s"); it stays empty when the result code says it all. `refused`
// receives the server certificate the connection refused (result 3: not trusted, or not the
// one the account trusts), so that the user can be offered to trust it; else it stays empty.
//
// Threads: Run and `closing` are called on the check's own thread; one object may serve
// several checks at once (it must keep no per-check state in itself).
class ProtocolCheck
{
public:
    using Closing = std::function<void()>;

    virtual ~ProtocolCheck() = default;
    virtual int Run(const CheckRequest& request, CEngineSink& sink, int32_t& newCount,
                    CCheckCancel& cancel, Closing& closing, std::string& message,
                    PeerCertificate& refused) = 0;
};

// The POP3 or IMAP4 check of an account over a connection the engine can cancel: implicit TLS
// when the account's security choice or port asks for it, then the protocol's client, which
// starts from the capabilities the server announced at the account's last check.
class CProtocolCheck final : public ProtocolCheck
{
public:
    enum class Protocol { Pop3, Imap4 };

    CProtocolCheck(Protocol protocol, std::shared_ptr<CCapabilityMemory> capabilities);

    int Run(const CheckRequest& request, CEngineSink& sink, int32_t& newCount, CCheckCancel& cancel,
            Closing& closing, std::string& message, PeerCertificate& refused) override;

private:
    const Protocol protocol_;
    const std::shared_ptr<CCapabilityMemory> capabilities_;
};
