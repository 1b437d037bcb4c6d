#pragma once

#include "discoveredserver.h"

#include <string>
#include <vector>

// The incoming servers of a provider the program knows by name (the sign-in provider
// profiles kept under "OAuth\Providers" in the settings: "Domains", "ImapServer",
// "Pop3Server"), for a mail domain: IMAP4 then POP3, TLS on connect, no user name (the
// look-up fills in the address). Empty when no known provider serves `domain`; the look-up
// then asks the domain itself.
//
// Threads: any.
std::vector<DiscoveredServer> KnownProviderServers(const std::string& domain);

// The name of the first profile whose "Domains" lists `domain` (any case), or empty.
std::string KnownProviderName(const std::string& domain);
