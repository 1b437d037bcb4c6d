#pragma once

#include <string>

// One incoming server found for an e-mail address: what the wizard puts into its fields.
// `kind` is an account kind's stored literal ("POP3" or "IMAP4"), `security` one of the
// stored words of Account.inf ("TLS", "STARTTLS", "None"). `host` is a host name or address
// literal that has passed ValidHostName; `userName` holds no control character.
struct DiscoveredServer {
    std::string kind;
    std::string host;
    int port = 0;
    std::string security;
    std::string userName;

    bool operator==(const DiscoveredServer&) const = default;
};
