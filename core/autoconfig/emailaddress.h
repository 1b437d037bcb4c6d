#pragma once

#include <optional>
#include <string>
#include <string_view>

// An e-mail address split for the settings look-up: "local@domain". Only addresses whose
// domain is a plain ASCII host name with at least one dot are taken (an internationalised
// domain is not looked up); the domain is lower-cased. The local part is kept as typed, at
// most 64 bytes, without spaces or control characters.
struct EmailAddress {
    std::string address; // local + "@" + domain
    std::string local;
    std::string domain;

    static std::optional<EmailAddress> Parse(std::string_view text);
};

// Whether `name` may be used as a host to connect to: 1 to 253 bytes of letters, digits,
// '-', '_' and '.', no empty label, no label over 63 bytes or starting with '-'.
bool ValidHostName(std::string_view name);

// `pattern` with %EMAILADDRESS%, %EMAILLOCALPART% and %EMAILDOMAIN% replaced (the names
// match without regard to case, as the documents in use write them both ways).
std::string FillAddressPlaceholders(std::string_view pattern, const EmailAddress& address);
