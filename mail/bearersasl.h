#pragma once

#include <string>
#include <string_view>

// The SASL messages that carry an OAuth 2.0 access token to a mail server: XOAUTH2 (the
// providers' own mechanism) and OAUTHBEARER (RFC 7628). Both clients send the initial
// response with the AUTH / AUTHENTICATE command when they can, else after the first
// continuation; a server that refuses the token answers with a continuation holding a JSON
// error, which the client acknowledges with AbortResponse before the final refusal comes.
//
// Stateless; any thread.
namespace BearerSasl
{
inline constexpr char kXoauth2[] = "XOAUTH2";
inline constexpr char kOauthBearer[] = "OAUTHBEARER";

// True for "XOAUTH2" and "OAUTHBEARER" (any case).
bool IsKnownMechanism(std::string_view mechanism);
// The canonical spelling of a known mechanism, or empty.
std::string Canonical(std::string_view mechanism);

// The base64 initial client response. OAUTHBEARER names the server's host and port as RFC
// 7628 section 3.1 asks (servers may check them against where they listen).
std::string InitialResponse(std::string_view mechanism, std::string_view user,
                            std::string_view accessToken, std::string_view host, int port);

// What the client sends after a failure continuation: RFC 7628 section 3.2.3 asks for a
// single %x01 in OAUTHBEARER (base64 "AQ=="); XOAUTH2 takes an empty response.
std::string AbortResponse(std::string_view mechanism);

// Standard base64 (RFC 4648 section 4) with padding.
std::string Base64(std::string_view bytes);
} // namespace BearerSasl
