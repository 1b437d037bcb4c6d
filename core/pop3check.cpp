#include "pop3check.h"

#include "checkrecords.h"
#include "mailconnection.h"
#include "pop3client.h"
#include "sinkbridge.h"

int CPop3Check::Run(const ProtocolCheckParams& p, CEngineSink& sink, int32_t& newCount,
                    CCheckCancel& cancel)
{
    CMailConnection connection(cancel);
    if (!connection.Open(p, Pop3Client::kImplicitTlsPort))
        return CheckResult::kCannotConnect;
    CSinkBridge bridge(sink);
    int count = 0;
    int result = 0;
    {
        // The client sends QUIT when it is destroyed: before the connection goes.
        Pop3Client client(connection.Stream());
        result =
            client.CheckPop3Account(bridge, p.server, p.userName, p.password, p.port, p.knownUids,
                                    p.account, count, p.timeOutSeconds, p.preview, p.security);
    }
    newCount += count;
    return result;
}
