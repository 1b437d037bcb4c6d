// Arbitrary server bytes through the POP3 reply reader. The first byte picks the options:
// bit 0 multi-line, bit 1 dot-unstuffing, bit 2 a small reply cap, bits 3-7 the chunk size
// (0: as large as the reader asks). Replies are read until one fails, as a session would.

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
                              options >> 3);
    ReplyReader reader(transport, std::chrono::milliseconds(1000));
    if (options & 4)
        reader.SetMaxReplyBytes(256);
    const auto kind =
        (options & 1) ? Pop3ReplyParser::Kind::MultiLine : Pop3ReplyParser::Kind::SingleLine;
    for (int i = 0; i < 64; ++i) {
        Pop3Reply reply;
        int rc = reader.ReadReply(kind, reply, (options & 2) != 0);
        if (rc < 0)
            break;
        // The pieces must agree with each other whatever the input was.
        if (reply.Text().compare(0, reply.status.size(), reply.status) != 0)
            __builtin_trap();
        if (!reply.body.empty() && reply.body.compare(reply.body.size() - 2, 2, "\r\n") != 0)
            __builtin_trap();
    }
    return 0;
}
