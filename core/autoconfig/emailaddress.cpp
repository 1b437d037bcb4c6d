#include "emailaddress.h"

#include <algorithm>
#include <cctype>

namespace
{

bool HostChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

} // namespace

bool ValidHostName(std::string_view name)
{
    if (name.empty() || name.size() > 253 || !std::all_of(name.begin(), name.end(), HostChar))
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('.', start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view label = name.substr(start, end - start);
        if (label.empty() || label.size() > 63 || label.front() == '-')
            return false;
        start = end + 1;
    }
    return true;
}

std::optional<EmailAddress> EmailAddress::Parse(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    const size_t at = text.rfind('@');
    if (at == std::string_view::npos || at == 0 || at > 64)
        return std::nullopt;
    EmailAddress result;
    result.local = std::string(text.substr(0, at));
    for (const char c : result.local)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return std::nullopt;
    result.domain = std::string(text.substr(at + 1));
    std::transform(result.domain.begin(), result.domain.end(), result.domain.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!ValidHostName(result.domain) || result.domain.find('.') == std::string::npos ||
        result.domain.find('_') != std::string::npos)
        return std::nullopt;
    result.address = result.local + "@" + result.domain;
    return result;
}

std::string FillAddressPlaceholders(std::string_view pattern, const EmailAddress& address)
{
    static constexpr std::string_view kNames[3] = {"%EMAILADDRESS%", "%EMAILLOCALPART%",
                                                   "%EMAILDOMAIN%"};
    const std::string* values[3] = {&address.address, &address.local, &address.domain};
    std::string out;
    size_t i = 0;
    while (i < pattern.size()) {
        bool replaced = false;
        if (pattern[i] == '%') {
            for (int n = 0; n < 3 && !replaced; ++n) {
                if (StartsWithNoCase(pattern.substr(i), kNames[n])) {
                    out += *values[n];
                    i += kNames[n].size();
                    replaced = true;
                }
            }
        }
        if (!replaced)
            out += pattern[i++];
    }
    return out;
}
