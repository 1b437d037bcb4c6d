#pragma once

#include <string>
#include <string_view>

// Folder names as IMAP servers and Maildir++ keep them on disk: modified UTF-7 (RFC 3501
// section 5.1.3). Printable ASCII stands for itself except '&'; "&-" is '&'; "&...-" holds
// UTF-16 in modified base64 (',' for '/', no padding).
//
// Decoding is liberal: a run that is not well formed (bad base64, odd bits left over, a lone
// surrogate, no closing '-', encoded ASCII or control characters) stays as written, and bytes
// outside printable ASCII are kept when they form UTF-8 (some tools write UTF-8 names) and become
// U+FFFD otherwise. The result is always valid UTF-8. Pure function, linear in its input.
class ModifiedUtf7
{
public:
    static std::string Decode(std::string_view name);
};
