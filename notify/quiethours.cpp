#include "quiethours.h"

std::optional<int> QuietHours::ParseTime(const std::string& text)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    int hours = 0;
    for (size_t i = 0; i < colon; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        hours = hours * 10 + (text[i] - '0');
    }
    if (text[colon + 1] < '0' || text[colon + 1] > '5' || text[colon + 2] < '0' ||
        text[colon + 2] > '9' || hours > 23)
        return std::nullopt;
    return hours * 60 + (text[colon + 1] - '0') * 10 + (text[colon + 2] - '0');
}

QuietHours QuietHours::FromSettings(const std::string& from, const std::string& until)
{
    QuietHours quiet;
    const std::optional<int> start = ParseTime(from);
    const std::optional<int> end = ParseTime(until);
    if (start && end) {
        quiet.from_ = *start;
        quiet.until_ = *end;
    }
    return quiet;
}

bool QuietHours::Contains(int secondsOfDay) const
{
    if (!Defined())
        return false;
    const int minute = (secondsOfDay < 0 ? 0 : secondsOfDay / 60) % (24 * 60);
    if (from_ < until_)
        return minute >= from_ && minute < until_;
    return minute >= from_ || minute < until_; // past midnight
}
