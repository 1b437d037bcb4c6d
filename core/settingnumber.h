#pragma once

#include <string>

// The number in a settings text, read the way atoi reads it: leading blanks, an optional
// sign, then decimal digits up to the first other character. "60" gives 60, " 42s" 42,
// "abc" and "" give 0. Unlike atoi it never overflows: values beyond the int range are
// clamped to INT_MAX or INT_MIN. Pure; thread-safe.
int SettingNumber(const std::string& text);
