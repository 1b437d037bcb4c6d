#include "imap4check.h"

#include "checkrecords.h"
#include "imap4client.h"
#include "mailconnection.h"
#include "sinkbridge.h"

int CImap4Check::Run(const ProtocolCheckParams& p, CEngineSink& sink, int32_t& newCount,
                     CCheckCancel& cancel)
{
    CMailConnection connection(cancel);
    if (!connection.Open(p, Imap4Client::kImplicitTlsPort))
        return CheckResult::kCannotConnect;
    CSinkBridge bridge(sink);
    int count = 0;
    int result = 0;
    {
        // The client sends LOGOUT when it is destroyed: before the connection goes.
        Imap4Client client(connection.Stream());
        result =
            client.CheckImap4Account(bridge, p.server, p.userName, p.password, p.port, p.knownUids,
                                     p.account, count, p.timeOutSeconds, p.preview, p.security);
    }
    newCount += count;
    return result;
}
