// File and folder names as any program may leave them in a Maildir. Besides not crashing:
// every shown name is UTF-8, adding "T" keeps the unique part and makes the message read,
// and decoding a name cut at any byte behaves like decoding any other name.
#include "charsetconverter.h"
#include "maildirname.h"
#include "maildirtree.h"
#include "modifiedutf7.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

void CheckName(std::string_view bytes)
{
    const MaildirName name(bytes);
    if (name.Valid()) {
        Require(MaildirName::ValidUnique(name.Unique()));
        const MaildirName trashed(name.WithFlag('T'));
        Require(trashed.Valid() && trashed.Unique() == name.Unique());
        Require(trashed.HasFlag('T') && !trashed.Unread(true) && !trashed.Unread(false));
        (void)name.Stamp();
        (void)name.SizeHint();
    }
    const std::string text = ModifiedUtf7::Decode(bytes);
    Require(CharsetConverter::ValidUtf8Prefix(text) == text.size());
    const std::string folder = MaildirTree::DisplayName(std::string(bytes));
    Require(CharsetConverter::ValidUtf8Prefix(folder) == folder.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckName(bytes);
    // Names arrive whole, but a name cut short (a full disk, a sync tool) is a name too.
    for (size_t cut = 0; cut < size && cut < 64; ++cut)
        CheckName(bytes.substr(0, cut));
    return 0;
}
