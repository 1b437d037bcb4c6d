#pragma once

#include <algorithm>
#include <string>

// A field of a tab-separated output line: tabs and line breaks inside it would split the
// line, so they become blanks.
inline std::string TabField(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return text;
}
