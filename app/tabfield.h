#pragma once

#include "printabletext.h"

#include <algorithm>
#include <string>

// A field of a tab-separated output line. Tabs and line breaks inside it would split the
// line, so they become blanks; every other control character (and bytes that are not
// UTF-8) could drive the reader's terminal, so they become U+FFFD (PrintableText).
inline std::string TabField(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return PrintableText(text);
}

// A message field as the store gives it back: its text ends at the first NUL. Printing
// what was stored, and not what arrived, keeps --check-now and --list-messages identical.
inline std::string StoredField(const std::string& text)
{
    return TabField(text.substr(0, text.find('\0')));
}
