#pragma once

#include <algorithm>
#include <cctype>
#include <string>

// ASCII-only helpers for the keys and names of configuration files (desktop entries,
// association lists), which are ASCII by their formats' definitions.

// Without blanks, tabs and carriage returns at both ends.
inline std::string TrimBlanks(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// A-Z lowered; every other byte kept.
inline std::string AsciiLower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return s;
}

// The value of one hexadecimal digit (either case), or -1 for any other byte.
inline int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
