// The lines of an idling IMAP connection as the push session reads them. The first byte
// picks the size of the pieces the rest arrives in; the same bytes fed a byte at a time
// must give the same lines and the same mailbox changes.

#include "idlelines.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{

struct Outcome {
    std::vector<std::string> lines;
    std::vector<int> changes; // IdleLines::Change, with the message number
    bool overflow = false;
};

Outcome Read(std::string_view bytes, std::size_t piece)
{
    Outcome out;
    IdleLines lines;
    std::string line;
    for (std::size_t at = 0; at < bytes.size() && !out.overflow; at += piece) {
        lines.Feed(bytes.substr(at, piece));
        int r;
        while ((r = lines.Next(line)) > 0) {
            if (line.find("\r\n") != std::string::npos || line.size() > IdleLines::kMaxLine)
                __builtin_trap();
            out.lines.push_back(line);
            std::uint32_t number = 0;
            const IdleLines::Change change = IdleLines::Classify(line, &number);
            if (IdleLines::IsMailboxChange(line) != (change != IdleLines::Change::None))
                __builtin_trap();
            out.changes.push_back(static_cast<int>(change));
            out.changes.push_back(static_cast<int>(number));
        }
        out.overflow = r < 0;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Outcome whole = Read(bytes, piece);
    const Outcome dripped = Read(bytes, 1);
    if (whole.overflow != dripped.overflow || whole.lines != dripped.lines ||
        whole.changes != dripped.changes)
        __builtin_trap();
    return 0;
}
