#pragma once

#include "discoveredserver.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct EmailAddress;

// Reads a mail client configuration document (the "config-v1.1.xml" format that providers
// publish at autoconfig.<domain> and under /.well-known/autoconfig/): every
// clientConfig/emailProvider/incomingServer of type "imap" or "pop3", in document order,
// becomes a DiscoveredServer. hostname and username have their %EMAILADDRESS%,
// %EMAILLOCALPART% and %EMAILDOMAIN% filled from `address`; socketType "SSL" is "TLS",
// "STARTTLS" is "STARTTLS" and "plain" is "None". A server with an unusable host name, a port
// outside 1-65535, an unknown socket type or a user name with a control character is
// skipped; a missing username is the whole address. Other elements (outgoing servers,
// documentation, authentication) are ignored.
//
// Bounded: a document over kMaxBytes, with a document type declaration, nested deeper than
// kMaxDepth or not well-formed is refused as a whole (no servers, *error says why in words);
// at most kMaxServers servers are kept.
//
// Thread-safe (no shared state).
class AutoconfigXml
{
public:
    static constexpr size_t kMaxBytes = 1024 * 1024;
    static constexpr int kMaxDepth = 32;
    static constexpr size_t kMaxServers = 16;

    // True when the document was read (it may still hold no usable server).
    static bool Read(std::string_view document, const EmailAddress& address,
                     std::vector<DiscoveredServer>* servers, std::string* error);
};
