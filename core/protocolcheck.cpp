#include "protocolcheck.h"

#include "capabilitymemory.h"
#include "checkrecords.h"
#include "imap4client.h"
#include "mailconnection.h"
#include "pop3client.h"
#include "sinkbridge.h"

namespace
{

// The connection and the client on it, kept together until the server's last answer is in;
// the client goes first (its Finish still talks over the connection).
template <class Client> struct Live {
    explicit Live(CCheckCancel& cancel) : connection(cancel) {}
    CMailConnection connection;
    std::unique_ptr<Client> client;
};

CheckReport Check(Pop3Client& client, CheckSink& sink, const CheckRequest& request)
{
    return client.CheckPop3Account(sink, request);
}

CheckReport Check(Imap4Client& client, CheckSink& sink, const CheckRequest& request)
{
    return client.CheckImap4Account(sink, request);
}

template <class Client>
int RunClient(const char* protocol, CCapabilityMemory* memory, const CheckRequest& request,
              CEngineSink& sink, int32_t& newCount, CCheckCancel& cancel,
              ProtocolCheck::Closing& closing, std::string& message, PeerCertificate& refused)
{
    auto live = std::make_shared<Live<Client>>(cancel);
    if (!live->connection.Open(request, Client::kImplicitTlsPort)) {
        message = live->connection.Failure().message;
        refused = live->connection.Failure().certificate;
        return CheckResult::kCannotConnect;
    }
    live->client = std::make_unique<Client>(live->connection.Stream());
    const std::string server =
        CCapabilityMemory::ServerKey(protocol, request.server, request.port, request.security);
    if (memory)
        live->client->RememberCapabilities(memory->Recall(request.account, server));

    CSinkBridge bridge(sink);
    const CheckReport report = Check(*live->client, bridge, request);
    newCount += report.newCount;
    // A check that learned nothing (it ended before the server's list) keeps the old memory,
    // unless it was done: then the server has none to give.
    const std::vector<std::string>& learned = live->client->LearnedCapabilities();
    if (memory && (!learned.empty() || report.result == kCheckDone))
        memory->Remember(request.account, server, learned);
    closing = [live] { live->client->Finish(); };
    if (report.result != kCheckDone) {
        message = report.message;
        refused = report.certificate; // a certificate refused after STARTTLS
    }
    return report.result;
}

} // namespace

CProtocolCheck::CProtocolCheck(Protocol protocol, std::shared_ptr<CCapabilityMemory> capabilities)
    : protocol_(protocol), capabilities_(std::move(capabilities))
{
}

int CProtocolCheck::Run(const CheckRequest& request, CEngineSink& sink, int32_t& newCount,
                        CCheckCancel& cancel, Closing& closing, std::string& message,
                        PeerCertificate& refused)
{
    if (protocol_ == Protocol::Pop3)
        return RunClient<Pop3Client>("POP3", capabilities_.get(), request, sink, newCount, cancel,
                                     closing, message, refused);
    return RunClient<Imap4Client>("IMAP4", capabilities_.get(), request, sink, newCount, cancel,
                                  closing, message, refused);
}
