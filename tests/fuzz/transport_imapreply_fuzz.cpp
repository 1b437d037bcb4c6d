// Arbitrary server bytes through the IMAP reply reader. The first byte picks the options:
// bit 0 stop at continuation requests, bit 1 a small reply cap, bits 2-7 the chunk size
// (0: as large as the reader asks). Replies to tag "A1" are read until one fails.

#include "memorytransport.h"
#include "replyreader.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t options = data[0];
    MemoryTransport transport(std::string(reinterpret_cast<const char*>(data) + 1, size - 1),
                              options >> 2);
    ReplyReader reader(transport, std::chrono::milliseconds(1000));
    if (options & 2)
        reader.SetMaxReplyBytes(256);
    for (int i = 0; i < 64; ++i) {
        ImapReply reply;
        int rc = (options & 1) ? reader.ReadContinuation("A1", reply)
                               : reader.ReadTagged("A1 OK", reply);
        if (rc < 0)
            break;
        // A completed reply has a status unless it stopped at a continuation request.
        if (!reply.continuation && reply.status == ImapStatus::None)
            __builtin_trap();
        std::size_t literalBytes = 0;
        for (const ImapResponse& r : reply.responses)
            for (const std::string& l : r.literals)
                literalBytes += l.size();
        if ((options & 2) && literalBytes > 256)
            __builtin_trap();
    }
    return 0;
}
