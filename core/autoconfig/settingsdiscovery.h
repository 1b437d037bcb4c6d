#pragma once

#include "discoveredserver.h"
#include "dnsquery.h"
#include "serverprobe.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Where the look-up asks, in order. Tests replace any part: the document addresses (a local
// https server), the DNS (a stub answering with chosen packets), the probe and the domain
// the guesses are made in.
struct DiscoverySources {
    struct ConfigUrl {
        std::string pattern; // https URL with %EMAILDOMAIN% (and the other placeholders)
        bool sameHostOnly = false;
    };

    // Servers known by provider: a function of the mail domain.
    std::function<std::vector<DiscoveredServer>(const std::string& domain)> providers;
    std::vector<ConfigUrl> configUrls;
    std::shared_ptr<DnsQuery> dns;      // null: no SRV look-up
    std::shared_ptr<ServerProbe> probe; // null: no guesses
    std::string guessDomain;            // empty: the address's domain

    // The program's own: the known providers, the two addresses of the settings (see
    // autoconfigurls.h), the system resolver and the greeting probe.
    static DiscoverySources Default();
};

// Looks up an account's incoming server settings from its e-mail address, in this order,
// stopping at the first step that finds any:
//   1. the known providers;
//   2. each configuration document address in turn (AutoconfigXml);
//   3. DNS SRV records (RFC 6186): _imaps._tcp, _imap._tcp, _pop3s._tcp, _pop3._tcp;
//   4. guesses: imap.<domain> and mail.<domain> on 993 (TLS) and 143 (STARTTLS), then
//      pop.<domain> and mail.<domain> on 995 (TLS) and 110 (STARTTLS), each asked with the
//      probe, stopping at the first of each kind that answers.
// The servers come back in preference order, at most one per kind from SRV and the guesses;
// SRV and guessed servers take the whole address as the user name. Setting `cancel` ends the
// look-up after the step under way (each step is bounded by a few seconds, most end at
// once); the result is then empty.
//
// Threads: a worker thread; Discover may run on several threads at once.
class SettingsDiscovery
{
public:
    enum class Source { None, Provider, ConfigDocument, Srv, Guess };

    struct Result {
        std::vector<DiscoveredServer> servers;
        Source source = Source::None;
        std::vector<std::string> notes; // why each step found nothing, for the log
    };

    explicit SettingsDiscovery(DiscoverySources sources) : sources_(std::move(sources)) {}

    Result Discover(const std::string& address, const std::atomic<bool>& cancel) const;

private:
    DiscoverySources sources_;
};
