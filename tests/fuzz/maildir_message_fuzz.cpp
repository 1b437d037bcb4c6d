// Hostile message files through the provider's reader: every text it gives is UTF-8, the
// body keeps to its limit, and reading a file cut at any point never fails harder than
// reading it whole.
#include "charsetconverter.h"
#include "maildirmessage.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

void Check(std::string_view raw, bool cut, uint32_t limit)
{
    ProviderMessageDetails details;
    MaildirMessage::Parse(raw, cut, limit, details);
    for (const std::string* text :
         {&details.subject, &details.senderName, &details.senderEmail, &details.body})
        if (CharsetConverter::ValidUtf8Prefix(*text) != text->size())
            std::abort();
    if (details.body.size() > limit)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint32_t limit = data[0] * 4u; // 0 .. 1020 bytes of body
    const std::string_view raw(reinterpret_cast<const char*>(data + 1), size - 1);
    Check(raw, false, limit);
    // The reader sees only the start of a big file: the same text cut short.
    const size_t at = size > 2 ? data[1] % raw.size() : 0;
    Check(raw.substr(0, at), true, limit);
    (void)MaildirMessage::ParseDate(raw);
    return 0;
}
