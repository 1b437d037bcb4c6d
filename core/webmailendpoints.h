#pragma once

#include <string>

// Where the two web-mail categories are reached. The services these categories were made for
// have changed their protocols since, so the addresses are settings, not constants: under
// the program's key, subkey "Portalpost", one subkey per category, each value defaulting to
// the one below when absent. An advanced user (or a test) points a category at another
// server by changing them.
//
//   Portalpost\Hotmail  GatewayUrl  the HTTPMail gateway (http or https URL)
//                       MailDomain  appended to the user name after "@" for the log-in
//                       Namespace   the provider's schema URI declared in PROPFIND bodies
//   Portalpost\Yahoo    EntryUrl    the mail entry page (http or https URL)
//                       LoginHost   the host of the log-in form (a log-in that ends there
//                                   was refused)
//                       MailDomain  the bare address suffix ("@" + domain), layout 0
//                       Suffix1..3  the regional address suffixes, layouts 1 to 3
//
// Reading never fails: a missing or unreadable value gives its default.

struct HotmailEndpoints {
    std::string gatewayUrl;
    std::string mailDomain;
    std::string namespaceUri;
};

struct YahooEndpoints {
    std::string entryUrl;
    std::string loginHost;
    std::string mailDomain;
    std::string suffix1;
    std::string suffix2;
    std::string suffix3;
};

HotmailEndpoints DefaultHotmailEndpoints();
YahooEndpoints DefaultYahooEndpoints();

// From the settings store (HKEY_CURRENT_USER, the program's key).
HotmailEndpoints ReadHotmailEndpoints();
YahooEndpoints ReadYahooEndpoints();

// Writes every default that is absent; values already there stay. 1 on success.
int WriteMissingWebMailEndpoints();
