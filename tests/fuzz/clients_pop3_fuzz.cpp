// Whole POP3 checks over scripted server bytes: greeting, CAPA, STLS, login, STAT, UIDL,
// LIST, pipelined TOPs, DELE. The input layout is scriptedsegments.h's; a known identifier
// is "a".

#include "pop3client.h"
#include "scriptedsegments.h"
#include "uidfile.h"

#include <cstdint>
#include <string>

namespace
{

class CheckingSink : public CheckSink
{
public:
    void DeliverMessage(int kind, const MessageRecord& record) override
    {
        // Only identifiers that UID.inf can keep may reach the merge.
        if (kind != kRecordPop3 || !IsStorableUid(record.uid) || record.account != "acct")
            __builtin_trap();
        ++delivered;
    }
    int delivered = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t options = data[0];
    MemoryTransport transport;
    LoadServerSegments(transport, data, size);

    CheckingSink sink;
    std::unordered_set<std::string> known;
    if (options & 4)
        known.insert("a");
    Pop3Client client(transport);
    client.SetFilter([](const std::string& subject,
                        const std::string&) { return static_cast<int>(subject.size() % 3); },
                     !NeverDeletesOption(options));
    CheckRequest request;
    request.server = "host";
    request.port = 110;
    request.security = SecurityOption(options);
    request.userName = "user";
    request.password = "pass";
    request.knownUids = std::move(known);
    request.account = "acct";
    request.timeOutSeconds = 1;
    request.preview = 2;
    if (RememberedOption(options))
        client.RememberCapabilities({"PIPELINING", "STLS", "UIDL", "USER"});
    const CheckReport report = client.CheckPop3Account(sink, request);
    const int rc = report.result;
    const int count = report.newCount;
    if (rc < 0 || rc > 4 || count != sink.delivered)
        __builtin_trap();
    // An account that requires STARTTLS never sends a credential without TLS, whatever was
    // remembered.
    const std::string& sent = transport.Sent();
    if ((options & 3) == 2 && transport.TlsStarts() == 0 &&
        (sent.find("USER ") != std::string::npos || sent.find("PASS ") != std::string::npos))
        __builtin_trap();
    return 0;
}
