#pragma once

#include <optional>
#include <string>
#include <string_view>

// Proof Key for Code Exchange (RFC 7636) and the other random values of a sign-in.
//
// Randomness comes from getrandom(2); without it (a kernel that cannot give it) nothing is
// made, so a sign-in never runs on guessable values. Stateless; any thread.
struct PkcePair {
    std::string verifier;  // 43 characters of base64url (32 random bytes): section 4.1
    std::string challenge; // BASE64URL(SHA256(verifier)): section 4.2, method S256
};

namespace Pkce
{
std::optional<PkcePair> Make();
// `bytes` random bytes as base64url without padding (the `state` of a request).
std::optional<std::string> RandomText(std::size_t bytes = 24);
// The S256 challenge of a verifier.
std::string ChallengeOf(std::string_view verifier);
// Base64url without padding (RFC 4648 section 5), as RFC 7636 appendix A asks.
std::string Base64Url(std::string_view bytes);
} // namespace Pkce
