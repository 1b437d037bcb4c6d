// Whole POP3 checks over scripted server bytes: greeting, CAPA, STLS, login, STAT, UIDL,
// LIST, pipelined TOPs, DELE. The first byte picks the options (bits 0-1 the security
// choice, bit 2 a known identifier, bits 3-7 the chunk size); the byte 0xFF separates the
// server's segments (what arrives before and after a TLS upgrade).

#include "memorytransport.h"
#include "pop3client.h"
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

const char* const kSecurity[] = {"", "None", "STARTTLS", "TLS"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t options = data[0];
    MemoryTransport transport;
    transport.SetChunk(options >> 3);
    std::string segment;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0xff) {
            transport.Add(std::move(segment));
            segment.clear();
        } else {
            segment += static_cast<char>(data[i]);
        }
    }
    transport.Add(std::move(segment));

    CheckingSink sink;
    int count = 0;
    std::unordered_set<std::string> known;
    if (options & 4)
        known.insert("a");
    Pop3Client client(transport);
    client.SetFilter([](const std::string& subject, const std::string&) {
        return static_cast<int>(subject.size() % 3);
    });
    int rc = client.CheckPop3Account(sink, "host", "user", "pass", 110, known, "acct", count, 1, 2,
                                     kSecurity[options & 3]);
    if (rc < 0 || rc > 4 || count != sink.delivered)
        __builtin_trap();
    return 0;
}
