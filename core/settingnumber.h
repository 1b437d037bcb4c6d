#pragma once

#include <string>

// The number in a settings text, read the way atoi reads it: leading blanks, an optional
// sign, then decimal digits up to the first other character. "60" gives 60, " 42s" 42,
// "abc" and "" give 0. Unlike atoi it never overflows: values beyond the int range are
// clamped to INT_MAX or INT_MIN. Pure; thread-safe.
int SettingNumber(const std::string& text);

// The protocol time-out, in seconds.
constexpr int kDefaultTimeOutSeconds = 60;
constexpr int kMaxTimeOutSeconds = 24 * 3600;

// The time-out in force for a stored number: a value that is not positive (a missing value,
// letters, 0, a negative number) gives the default, and anything above a day is capped, so a
// slip of the keyboard neither makes every check give up after a second nor hangs it for
// weeks. Pure; thread-safe.
int TimeOutInForce(int stored);
