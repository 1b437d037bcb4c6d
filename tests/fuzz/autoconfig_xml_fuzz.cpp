// Hostile configuration documents. Besides not crashing or hanging: every server that comes
// back is usable as it stands (a kind and security the wizard knows, a valid host, a port in
// range, a user name without control characters), and never more than the cap.
#include "autoconfigxml.h"
#include "emailaddress.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace
{

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const EmailAddress address = *EmailAddress::Parse("fuzz.user@example.test");
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    std::vector<DiscoveredServer> servers;
    std::string error;
    const bool read = AutoconfigXml::Read(document, address, &servers, &error);
    Require(read || (servers.empty() && !error.empty()));
    Require(servers.size() <= AutoconfigXml::kMaxServers);
    for (const DiscoveredServer& s : servers) {
        Require(s.kind == "IMAP4" || s.kind == "POP3");
        Require(s.security == "TLS" || s.security == "STARTTLS" || s.security == "None");
        Require(ValidHostName(s.host));
        Require(s.port >= 1 && s.port <= 65535);
        Require(!s.userName.empty());
        for (const char c : s.userName)
            Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    }
    return 0;
}
