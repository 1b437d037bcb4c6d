#pragma once

#include <climits>
#include <string>

// The number at the start of a stored text, read the way atoi reads it: leading blanks,
// an optional sign, then decimal digits up to the first other character. "60" gives 60,
// " 42s" 42, "abc" and "" give 0. Unlike atoi it never overflows: values beyond the int
// range are clamped to INT_MAX or INT_MIN. Settings and account files keep their numbers
// as texts and were always read this way.
inline int LeadingDecimal(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}
