// Whole IMAP4 checks over scripted server bytes: greeting, CAPABILITY, STARTTLS, LOGIN or
// AUTHENTICATE, SELECT, the UID list, batched UID FETCH with literals, STORE and EXPUNGE.
// The input layout is scriptedsegments.h's; a known identifier is UID 1. With option bit 32
// UIDs 1 and 2 are stored (2 read here) and the server's read state is followed; bit 64
// also marks read on the server, and the mailbox's UIDVALIDITY is taken to have been 1.

#include "imap4client.h"
#include "scriptedsegments.h"

#include <cstdint>
#include <string>

namespace
{

class CheckingSink : public CheckSink
{
public:
    void DeliverMessage(int kind, const MessageRecord& record) override
    {
        // An IMAP identifier is a number, never a set such as "1:*".
        if (kind != kRecordImap4 || record.uid.empty() || record.uid.size() > 10 ||
            record.uid.find_first_not_of("0123456789") != std::string::npos)
            __builtin_trap();
        if (renumbered)
            __builtin_trap();
        ++delivered;
    }
    void ServerState(const std::string&, const std::vector<std::string>& seen,
                     const std::vector<std::string>& gone) override
    {
        // Only stored identifiers come back, each once, and never both seen and gone.
        for (const std::vector<std::string>* list : {&seen, &gone})
            for (const std::string& uid : *list)
                if (uid != "1" && uid != "2")
                    __builtin_trap();
        if (seen.size() + gone.size() > 2 || delivered != 0 || renumbered)
            __builtin_trap();
        followed = true;
    }
    int delivered = 0;
    bool followed = false;
    bool renumbered = false;
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
        known.insert("1");
    Imap4Client client(transport);
    client.SetFilter([](const std::string& subject,
                        const std::string&) { return static_cast<int>(subject.size() % 3); },
                     !NeverDeletesOption(options));
    CheckRequest request;
    request.server = "host";
    request.port = 143;
    request.security = SecurityOption(options);
    request.userName = "user";
    request.password = "p\xc3\xa4ss";
    request.knownUids = std::move(known);
    request.account = "acct";
    request.timeOutSeconds = 1;
    request.preview = 1;
    // Read state that follows the server: two stored messages, one read here, and the
    // option that sets \Seen on the server.
    // The mailbox's UIDVALIDITY was 1: any other in SELECT's answer is a renumbered mailbox,
    // listed only, with no read state followed and nothing delivered.
    if (options & 32) {
        request.storedUids = {"1", "2", "x"};
        request.readUids = {"2"};
        request.markReadOnServer = (options & 64) != 0;
        request.uidValidity = 1;
    }
    request.uidValidityFound = [](uint32_t validity) {
        if (validity == 0)
            __builtin_trap();
    };
    request.recordRenumbered = [&sink](std::vector<std::string> uids) {
        for (const std::string& uid : uids)
            if (uid.empty() || uid.find_first_not_of("0123456789") != std::string::npos)
                __builtin_trap();
        if (sink.delivered != 0 || sink.followed)
            __builtin_trap();
        sink.renumbered = true;
    };
    if (RememberedOption(options))
        client.RememberCapabilities({"IMAP4rev1", "LITERAL+", "STARTTLS"});
    const CheckReport report = client.CheckImap4Account(sink, request);
    const int rc = report.result;
    const int count = report.newCount;
    if (rc < 0 || rc > 4 || count != sink.delivered)
        __builtin_trap();
    // An account that requires STARTTLS never sends a credential without TLS, whatever was
    // remembered.
    const std::string& sent = transport.Sent();
    if ((options & 3) == 2 && transport.TlsStarts() == 0 &&
        (sent.find(" LOGIN ") != std::string::npos ||
         sent.find(" AUTHENTICATE ") != std::string::npos))
        __builtin_trap();
    return 0;
}
