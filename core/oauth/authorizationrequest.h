#pragma once

#include "oauthprovider.h"

#include <string>
#include <string_view>

// The authorization request of RFC 6749 section 4.1.1 with PKCE (RFC 7636 section 4.3):
// response_type=code, client_id, redirect_uri, scope, state, code_challenge,
// code_challenge_method=S256, login_hint when a user name is known, then the provider's
// extra parameters. Stateless; any thread.
namespace AuthorizationRequest
{
std::string Url(const OAuthProvider& provider, const std::string& redirectUri,
                const std::string& state, const std::string& challenge,
                const std::string& loginHint);

// application/x-www-form-urlencoded value encoding: unreserved characters stay, the rest
// is %XX (RFC 3986 section 2.3).
std::string FormEncode(std::string_view text);
// The reverse, for query strings: '+' is a space, a bad %XX stays as written.
std::string FormDecode(std::string_view text);
} // namespace AuthorizationRequest
