#include "mailconnection.h"

#include "protocolcheck.h"
#include "securitychoice.h"

#include <algorithm>

CMailConnection::CMailConnection(const CCheckCancel& cancel) : cancellable_(socket_, cancel)
{
}

bool CMailConnection::Open(const CheckRequest& params, int implicitTlsPort)
{
    const bool tls =
        UsesImplicitTls(ParseSecurityChoice(params.security), params.port, implicitTlsPort);
    // The same bound as the clients' idle time-out (at least a second).
    const std::chrono::milliseconds timeout(std::clamp(params.timeOutSeconds, 1, 24 * 3600) *
                                            1000LL);
    failure_ = NetError{};
    socket_.SetPinnedCertificate(params.pin);
    if (socket_.Connect(params.server, params.port, timeout,
                        tls ? MailSocket::Security::ImplicitTls : MailSocket::Security::Plain))
        return true;
    failure_ = LastNetError();
    return false;
}
