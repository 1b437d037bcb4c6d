#include "maildirname.h"

#include <algorithm>

MaildirName::MaildirName(std::string_view fileName)
{
    if (fileName.empty() || fileName.front() == '.' ||
        fileName.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
        return;
    const size_t colon = fileName.find(':');
    unique_ = std::string(fileName.substr(0, colon));
    valid_ = !unique_.empty();
    if (colon == std::string_view::npos)
        return;
    // Only version 2 info carries flags; other versions are left alone and count as none.
    const std::string_view info = fileName.substr(colon + 1);
    if (info.size() >= 2 && info[0] == '2' && info[1] == ',')
        flags_ = std::string(info.substr(2));
}

bool MaildirName::HasFlag(char flag) const
{
    return flags_.find(flag) != std::string::npos;
}

bool MaildirName::Unread(bool inNew) const
{
    if (HasFlag('T'))
        return false;
    return inNew || !HasFlag('S');
}

std::time_t MaildirName::Stamp() const
{
    const size_t dot = unique_.find('.');
    const std::string_view digits = std::string_view(unique_).substr(0, dot);
    // Eleven digits reach the year 5138; more is not a time stamp.
    if (digits.empty() || digits.size() > 11 || dot == std::string::npos)
        return 0;
    std::time_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

uint64_t MaildirName::SizeHint() const
{
    const size_t at = unique_.find(",S=");
    if (at == std::string::npos)
        return 0;
    uint64_t value = 0;
    size_t digits = 0;
    for (size_t i = at + 3; i < unique_.size() && unique_[i] >= '0' && unique_[i] <= '9'; ++i) {
        if (++digits > 15)
            return 0; // no message is a petabyte
        value = value * 10 + static_cast<uint64_t>(unique_[i] - '0');
    }
    return value;
}

std::string MaildirName::WithFlag(char flag) const
{
    std::string flags = flags_;
    if (flags.find(flag) == std::string::npos) {
        // Upper-case flags stay in ASCII order, ahead of any keyword letters.
        size_t at = 0;
        while (at < flags.size() && flags[at] >= 'A' && flags[at] <= 'Z' && flags[at] < flag)
            ++at;
        flags.insert(at, 1, flag);
    }
    return unique_ + ":2," + flags;
}

bool MaildirName::ValidUnique(std::string_view entryId)
{
    return !entryId.empty() && entryId.front() != '.' &&
           entryId.find_first_of(std::string_view("/:\0", 3)) == std::string_view::npos;
}
