#pragma once

#include <string>
#include <string_view>

// Text from outside (a subject, a sender, a server's reply) as it may be written to a
// terminal or a log: mail must not be able to move the cursor, retitle the window, clear
// the screen or cut a line short.
//
// Valid UTF-8 is kept, except the control characters: C0 (U+0000..U+001F) other than TAB,
// DEL (U+007F) and C1 (U+0080..U+009F, bytes C2 80..C2 9F), each of which becomes U+FFFD.
// A byte sequence that is not UTF-8 (a stray continuation byte, a truncated, overlong or
// surrogate sequence, anything beyond U+10FFFF) becomes one U+FFFD per maximal ill-formed
// part, as decoders conventionally count them. Never throws on any input.
std::string PrintableText(std::string_view text);

// PrintableText cut to at most `maxBytes` bytes, never inside a character; a text that was cut
// ends in "..." (within the bound), so the reader sees that more was said. For a text from
// another party that goes into a message for the user (a plug-in's reason of a failure).
std::string BoundedPrintableText(std::string_view text, size_t maxBytes);
