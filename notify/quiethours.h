#pragma once

#include <optional>
#include <string>

// The user's quiet hours: a daily window of local time, "from" included, "until" excluded,
// that may run past midnight (22:00-07:00). Times are "H:MM" or "HH:MM" (00:00-23:59);
// anything else, or the same time twice, is no window at all, so a mistyped setting never
// silences the program for good.
class QuietHours
{
public:
    // Minutes after midnight of "HH:MM"; nothing when it is not one.
    static std::optional<int> ParseTime(const std::string& text);
    static QuietHours FromSettings(const std::string& from, const std::string& until);

    bool Defined() const { return from_ != until_; }
    // Whether `secondsOfDay` (0..86399, local) lies in the window.
    bool Contains(int secondsOfDay) const;

private:
    int from_ = 0;
    int until_ = 0;
};
