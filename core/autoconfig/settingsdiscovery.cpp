#include "settingsdiscovery.h"

#include "autoconfigurls.h"
#include "autoconfigxml.h"
#include "emailaddress.h"
#include "greetingprobe.h"
#include "httpsfetch.h"
#include "providersettings.h"
#include "resolverdnsquery.h"
#include "srvanswer.h"

namespace
{

struct ServiceName {
    const char* label;
    const char* kind;
    const char* security;
};

// RFC 6186 3: the services in the order tried; TLS from the first byte before STARTTLS.
constexpr ServiceName kServices[4] = {{"_imaps._tcp.", "IMAP4", "TLS"},
                                      {"_imap._tcp.", "IMAP4", "STARTTLS"},
                                      {"_pop3s._tcp.", "POP3", "TLS"},
                                      {"_pop3._tcp.", "POP3", "STARTTLS"}};

struct Guess {
    const char* prefix;
    const char* kind;
    int port;
    const char* security;
};

constexpr Guess kGuesses[8] = {{"imap.", "IMAP4", 993, "TLS"}, {"imap.", "IMAP4", 143, "STARTTLS"},
                               {"mail.", "IMAP4", 993, "TLS"}, {"mail.", "IMAP4", 143, "STARTTLS"},
                               {"pop.", "POP3", 995, "TLS"},   {"pop.", "POP3", 110, "STARTTLS"},
                               {"mail.", "POP3", 995, "TLS"},  {"mail.", "POP3", 110, "STARTTLS"}};

bool HasKind(const std::vector<DiscoveredServer>& servers, const std::string& kind)
{
    for (const DiscoveredServer& s : servers)
        if (s.kind == kind)
            return true;
    return false;
}

} // namespace

DiscoverySources DiscoverySources::Default()
{
    DiscoverySources sources;
    sources.providers = KnownProviderServers;
    sources.configUrls = ReadAutoconfigUrls();
    sources.dns = std::make_shared<ResolverDnsQuery>();
    sources.probe = std::make_shared<GreetingProbe>();
    return sources;
}

SettingsDiscovery::Result SettingsDiscovery::Discover(const std::string& text,
                                                      const std::atomic<bool>& cancel) const
{
    Result result;
    const std::optional<EmailAddress> address = EmailAddress::Parse(text);
    if (!address) {
        result.notes.push_back("not an e-mail address whose domain can be looked up");
        return result;
    }
    auto done = [&](Source source) {
        if (cancel) {
            result.servers.clear();
            result.source = Source::None;
            return true;
        }
        if (result.servers.empty())
            return false;
        result.source = source;
        return true;
    };

    if (sources_.providers) {
        result.servers = sources_.providers(address->domain);
        for (DiscoveredServer& server : result.servers)
            if (server.userName.empty())
                server.userName = address->address;
    }
    if (done(Source::Provider))
        return result;

    for (const DiscoverySources::ConfigUrl& url : sources_.configUrls) {
        const std::string target = FillAddressPlaceholders(url.pattern, *address);
        const HttpsFetch::Result answer = HttpsFetch::Get(target, url.sameHostOnly, cancel);
        std::string error;
        if (!answer.ok)
            result.notes.push_back(answer.error);
        else if (!AutoconfigXml::Read(answer.body, *address, &result.servers, &error))
            result.notes.push_back(target + ": " + error);
        if (done(Source::ConfigDocument))
            return result;
    }

    if (sources_.dns) {
        for (const ServiceName& service : kServices) {
            if (cancel || HasKind(result.servers, service.kind))
                continue;
            std::vector<unsigned char> packet;
            std::vector<SrvRecord> records;
            std::string error;
            const std::string name = service.label + address->domain;
            if (!sources_.dns->QuerySrv(name, &packet)) {
                result.notes.push_back(name + ": no answer from the DNS");
                continue;
            }
            if (packet.empty())
                continue;
            if (!SrvAnswer::Parse(packet.data(), packet.size(), &records, &error)) {
                result.notes.push_back(name + ": " + error);
                continue;
            }
            for (const SrvRecord& record : records) {
                if (!ValidHostName(record.target))
                    continue;
                result.servers.push_back(
                    {service.kind, record.target, record.port, service.security, address->address});
                break;
            }
        }
        if (done(Source::Srv))
            return result;
    }

    if (sources_.probe) {
        const std::string domain =
            sources_.guessDomain.empty() ? address->domain : sources_.guessDomain;
        for (const Guess& guess : kGuesses) {
            if (cancel || HasKind(result.servers, guess.kind))
                continue;
            const DiscoveredServer candidate{guess.kind, guess.prefix + domain, guess.port,
                                             guess.security, address->address};
            if (sources_.probe->Answers(candidate, cancel))
                result.servers.push_back(candidate);
        }
        if (done(Source::Guess))
            return result;
    }
    return result;
}
