// Hostile header and body text through HeaderText and the decoders. Besides not crashing,
// every displayed slot must be valid UTF-8 and the incremental decoders must not depend on
// where their input is split.
#include "base64decoder.h"
#include "charsetconverter.h"
#include "headertext.h"
#include "mimedecoding.h"
#include "quotedprintabledecoder.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

void RequireUtf8(const std::string& s)
{
    if (CharsetConverter::ValidUtf8Prefix(s) != s.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const HeaderText header(text);
    MessageRecord record;
    header.Fill(record, size);
    RequireUtf8(record.sender);
    RequireUtf8(record.subject);
    RequireUtf8(record.date);
    RequireUtf8(record.preview);
    RequireUtf8(DecodeWords(text));

    // The same bytes through the incremental decoders, whole and split in two.
    const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    std::string whole, split;
    Base64Decoder b1, b2;
    b1.Feed(text, whole);
    b2.Feed(std::string_view(text).substr(0, cut), split);
    b2.Feed(std::string_view(text).substr(cut), split);
    if (whole != split)
        std::abort();
    whole.clear();
    split.clear();
    QuotedPrintableDecoder q1, q2;
    q1.Feed(text, whole);
    q2.Feed(std::string_view(text).substr(0, cut), split);
    q2.Feed(std::string_view(text).substr(cut), split);
    if (whole != split)
        std::abort();

    // The first line as a boundary for the rest.
    const size_t eol = text.find('\n');
    if (eol != std::string::npos)
        (void)FirstPart(std::string_view(text).substr(eol + 1),
                        std::string_view(text).substr(0, eol));
    return 0;
}
