#include "securitychoice.h"

#include <string>
#include <strings.h>

SecurityChoice ParseSecurityChoice(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    std::string value(text);
    if (::strcasecmp(value.c_str(), "None") == 0)
        return SecurityChoice::None;
    if (::strcasecmp(value.c_str(), "STARTTLS") == 0)
        return SecurityChoice::StartTls;
    if (::strcasecmp(value.c_str(), "TLS") == 0)
        return SecurityChoice::Tls;
    return SecurityChoice::Default;
}

bool UsesImplicitTls(SecurityChoice choice, int port, int implicitTlsPort)
{
    return choice == SecurityChoice::Tls ||
           (choice == SecurityChoice::Default && port == implicitTlsPort);
}

SecurityChoice ConnectionSecurity(std::string_view text, bool pinned, int port, int implicitTlsPort)
{
    const SecurityChoice choice = ParseSecurityChoice(text);
    if (!pinned || choice != SecurityChoice::Default)
        return choice;
    return port == implicitTlsPort ? SecurityChoice::Tls : SecurityChoice::StartTls;
}
