#include "oauthprovider.h"

#include "programkey.h"
#include "registrykey.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace OAuthProviders
{
namespace
{

using Field = std::pair<const char*, std::string OAuthProvider::*>;

const Field kFields[] = {
    {"AuthorizationUrl", &OAuthProvider::authorizationUrl},
    {"TokenUrl", &OAuthProvider::tokenUrl},
    {"ClientId", &OAuthProvider::clientId},
    {"ClientSecret", &OAuthProvider::clientSecret},
    {"Scopes", &OAuthProvider::scopes},
    {"Mechanism", &OAuthProvider::mechanism},
    {"ExtraParameters", &OAuthProvider::extraParameters},
    {"Domains", &OAuthProvider::domains},
    {"ImapServer", &OAuthProvider::imapServer},
    {"Pop3Server", &OAuthProvider::pop3Server},
};

std::string KeyOf(const std::string& name)
{
    return ProgramKey::Path("OAuth\\Providers") + "\\" + CRegistryKey::EscapeKeyName(name);
}

// The SASL mechanisms that carry a bearer token, in their canonical spelling, or empty.
std::string Mechanism(const std::string& text)
{
    std::string upper;
    for (char c : text)
        upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return upper == "XOAUTH2" || upper == "OAUTHBEARER" ? upper : std::string();
}

// Plain http to this machine: the authority (everything up to the first '/', '?', '#' or
// '\\') is exactly a loopback host with an optional port. A prefix test would let
// "http://127.0.0.1:x@mail.example/" through, which sends the token to the host after '@'.
bool IsLoopbackHttp(const std::string& url)
{
    constexpr std::string_view kHttp = "http://";
    if (url.rfind(kHttp, 0) != 0)
        return false;
    const size_t end = url.find_first_of("/?#\\", kHttp.size());
    const std::string_view authority = std::string_view(url).substr(
        kHttp.size(), end == std::string::npos ? std::string_view::npos : end - kHttp.size());
    for (std::string_view host : {"127.0.0.1", "[::1]", "localhost"}) {
        if (authority.rfind(host, 0) != 0)
            continue;
        const std::string_view rest = authority.substr(host.size());
        if (rest.empty())
            return true;
        const std::string_view port = rest.substr(1);
        return rest[0] == ':' && port.size() <= 5 &&
               std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    }
    return false;
}

// https, or plain http to this machine only: RFC 6749 section 3.1 and 3.2 ask for TLS, and
// codes and refresh tokens must not cross a network in the clear. No blank or control
// character: the address goes to the browser and to the HTTP library as it stands.
bool IsWebUrl(const std::string& url)
{
    if (std::any_of(url.begin(), url.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; }))
        return false;
    if (url.rfind("https://", 0) == 0)
        return url.size() > 8;
    return IsLoopbackHttp(url);
}

} // namespace

std::vector<OAuthProvider> Defaults()
{
    // The providers' documented endpoints for installed programs with PKCE and a loopback
    // redirect. Google hands out a refresh token only with access_type=offline, and again
    // on a repeated sign-in only with prompt=consent.
    return {
        {"Google", "https://accounts.google.com/o/oauth2/v2/auth",
         "https://oauth2.googleapis.com/token", "", "", "https://mail.google.com/", "XOAUTH2",
         "access_type=offline&prompt=consent", "gmail.com googlemail.com", "imap.gmail.com:993",
         "pop.gmail.com:995"},
        {"Microsoft", "https://login.microsoftonline.com/consumers/oauth2/v2.0/authorize",
         "https://login.microsoftonline.com/consumers/oauth2/v2.0/token", "", "",
         "offline_access https://outlook.office.com/IMAP.AccessAsUser.All "
         "https://outlook.office.com/POP.AccessAsUser.All",
         "XOAUTH2", "", "outlook.com hotmail.com live.com msn.com", "outlook.office365.com:993",
         "outlook.office365.com:995"},
    };
}

int ReadStored(const std::string& name, OAuthProvider& provider)
{
    provider = OAuthProvider{};
    provider.name = name;
    CRegistryKey key;
    if (name.empty() || !key.Open(RegistryRoot::CurrentUser, KeyOf(name)))
        return 0;
    for (const auto& [value, field] : kFields) {
        std::string text;
        if (key.ReadString(value, text, 4096))
            provider.*field = text;
    }
    return 1;
}

int Read(const std::string& name, OAuthProvider& provider, std::string& error)
{
    if (!ReadStored(name, provider)) {
        error = "no OAuth 2.0 provider \"" + name + "\" in the settings (key OAuth\\Providers)";
        return 0;
    }
    const std::string where = "the OAuth 2.0 provider \"" + name + "\"";
    if (!IsWebUrl(provider.authorizationUrl) || !IsWebUrl(provider.tokenUrl)) {
        error = where + " needs an https AuthorizationUrl and TokenUrl (plain http only on "
                        "this machine)";
        return 0;
    }
    if (provider.clientId.empty()) {
        error = where +
                " has no ClientId: register the program with the provider and put "
                "its client id in the settings (OAuth\\Providers\\" +
                name + "\\ClientId)";
        return 0;
    }
    provider.mechanism = Mechanism(provider.mechanism);
    if (provider.mechanism.empty()) {
        error = where + " needs a Mechanism of XOAUTH2 or OAUTHBEARER";
        return 0;
    }
    return 1;
}

int Write(const OAuthProvider& provider)
{
    CRegistryKey key;
    const std::string path = KeyOf(provider.name);
    if (!key.CreateKey(RegistryRoot::CurrentUser, path) ||
        !key.Open(RegistryRoot::CurrentUser, path))
        return 0;
    int ok = 1;
    for (const auto& [value, field] : kFields)
        if (!key.WriteString(value, provider.*field))
            ok = 0;
    return ok;
}

int WriteMissingDefaults()
{
    int ok = 1;
    for (const OAuthProvider& provider : Defaults()) {
        CRegistryKey key;
        const std::string path = KeyOf(provider.name);
        if (!key.CreateKey(RegistryRoot::CurrentUser, path) ||
            !key.Open(RegistryRoot::CurrentUser, path)) {
            ok = 0;
            continue;
        }
        for (const auto& [value, field] : kFields) {
            std::string present;
            if (!key.ReadString(value, present, 4096) && !key.WriteString(value, provider.*field))
                ok = 0;
        }
    }
    return ok;
}

std::vector<std::string> Names()
{
    std::vector<std::string> names;
    CRegistryKey key;
    if (key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("OAuth\\Providers")))
        key.EnumSubKeys(names);
    return names;
}

} // namespace OAuthProviders
