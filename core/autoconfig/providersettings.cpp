#include "providersettings.h"

#include "emailaddress.h"
#include "oauthprovider.h"

#include <charconv>
#include <sstream>

namespace
{

// "host:port" as a profile writes it; false for anything else.
bool SplitServer(const std::string& text, std::string& host, int& port)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = text.substr(0, colon);
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, port);
    return error == std::errc() && end == last && port > 0 && port < 65536 && ValidHostName(host);
}

bool Serves(const std::string& domains, const std::string& domain)
{
    std::istringstream words(domains);
    std::string word;
    while (words >> word) {
        for (char& c : word)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (word == domain)
            return true;
    }
    return false;
}

} // namespace

std::vector<DiscoveredServer> KnownProviderServers(const std::string& domain)
{
    std::vector<DiscoveredServer> servers;
    for (const std::string& name : OAuthProviders::Names()) {
        OAuthProvider provider;
        if (!OAuthProviders::ReadStored(name, provider) || !Serves(provider.domains, domain))
            continue;
        // IMAP first, as every other source orders them; the user name is the address,
        // filled in by the look-up.
        for (const auto& [kind, text] :
             {std::pair{"IMAP4", provider.imapServer}, std::pair{"POP3", provider.pop3Server}}) {
            DiscoveredServer server;
            if (!SplitServer(text, server.host, server.port))
                continue;
            server.kind = kind;
            server.security = "TLS";
            servers.push_back(server);
        }
        if (!servers.empty())
            break;
    }
    return servers;
}

std::string KnownProviderName(const std::string& domain)
{
    std::string lower = domain;
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const std::string& name : OAuthProviders::Names()) {
        OAuthProvider provider;
        if (OAuthProviders::ReadStored(name, provider) && Serves(provider.domains, lower))
            return provider.name;
    }
    return {};
}
