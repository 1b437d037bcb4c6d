#include "tlspolicy.h"

#include "neterror.h"

namespace
{

std::string Named(std::string_view command)
{
    // POP3 calls it STLS (RFC 2595 section 4); users know it as STARTTLS.
    return command == "STARTTLS" ? std::string("STARTTLS")
                                 : "STARTTLS (" + std::string(command) + ")";
}

} // namespace

bool FailStartTlsMissing(const std::string& peer, std::string_view command)
{
    return SetNetError(neterr::kStartTlsMissing, NetCategory::Tls,
                       "cannot connect to " + peer + ": the server does not offer " +
                           Named(command) +
                           " and the account requires TLS; nothing was sent in plain text");
}

bool FailStartTlsRefused(const std::string& peer, std::string_view command,
                         std::string_view serverLine)
{
    return SetNetError(neterr::kStartTlsRefused, NetCategory::Tls,
                       "cannot connect to " + peer + ": the server refused " + Named(command) +
                           ", replying \"" + QuoteServerText(serverLine) +
                           "\"; nothing was sent in plain text");
}

bool FailLoginWithoutTls(const std::string& peer)
{
    return SetNetError(neterr::kLoginWithoutTls, NetCategory::Tls,
                       "cannot connect to " + peer +
                           ": the server skipped log-in without TLS (PREAUTH), and the account "
                           "requires TLS");
}
