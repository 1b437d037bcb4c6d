// Feeds arbitrary bytes to the journal reader: no crash, nothing larger than the input, and
// every move it returns names folders that stay inside the mail folder and reads back the
// same after being written.
#include "accountmoves.h"
#include "accountnames.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<AccountMove> moves = CAccountMoves::Parse(bytes);
    const std::string text = CAccountMoves::Format(moves);
    if (text.size() > size)
        std::abort();
    for (const AccountMove& m : moves) {
        if (!AccountNames::IsSafeFolderName(m.folder))
            std::abort();
        if (m.kind == AccountMove::Kind::Rename && !AccountNames::IsSafeFolderName(m.name))
            std::abort();
    }
    if (CAccountMoves::Parse(text) != moves)
        std::abort();
    return 0;
}
