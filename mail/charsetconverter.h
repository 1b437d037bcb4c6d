#pragma once

#include <string>
#include <string_view>

// Converts mail text from the character set a message names to UTF-8 (the desktop's code page).
//
// Character set names are those of MIME (RFC 2046 section 4.1.2, RFC 2047 section 2), compared
// without regard to case; a few labels that mailers use loosely are read as the superset that
// mail in the wild actually holds (gb2312 as GB18030, iso-8859-1 and us-ascii as windows-1252,
// shift_jis as CP932). HZ-GB-2312 (RFC 1843) is decoded here because iconv lacks it.
//
// Bytes that are not valid in the named set become U+FFFD; nothing throws. Stateless free
// functions; iconv descriptors are cached per thread, so any thread may call them at once.
class CharsetConverter
{
public:
    enum class Tail {
        Replace, // an incomplete character at the end becomes U+FFFD
        Drop,    // it is dropped (text cut short by a TOP line count)
    };

    // True when iconv (or the built-in HZ decoder) knows `charset`.
    static bool IsKnown(std::string_view charset);

    // Converts `bytes` from `charset` to UTF-8 into `out` (replacing its content). Returns false,
    // leaving `out` untouched, when the character set is unknown.
    static bool ToUtf8(std::string_view charset, std::string_view bytes, std::string& out,
                       Tail tail = Tail::Replace);

    // Text of no declared character set (RFC 6532 headers, parts without a charset parameter):
    // kept when it is valid UTF-8, else read as windows-1252. A UTF-8 character cut at the end
    // is handled as `tail` says, when complete UTF-8 characters precede it (a lone high byte
    // after ASCII text is read as windows-1252).
    static std::string Undeclared(std::string_view bytes, Tail tail = Tail::Replace);

    // Length of the longest prefix of `bytes` that is valid UTF-8 (RFC 3629).
    static size_t ValidUtf8Prefix(std::string_view bytes);
    static bool IsAscii(std::string_view bytes);
};
