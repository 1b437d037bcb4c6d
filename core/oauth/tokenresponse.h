#pragma once

#include <string>
#include <string_view>

// The token endpoint's answer (RFC 6749 sections 5.1 and 5.2), read from untrusted bytes.
//
// At most kMaxBytes are read (more is an error); the body must be one JSON object. A
// success needs "access_token" and a "token_type" of Bearer (any case); "expires_in" is
// clamped to [0, one year] (missing: one hour), "refresh_token" is optional. An error
// answer gives "error" and "error_description" (printable ASCII only, at most 200
// characters each). Never throws; any bytes are accepted.
struct TokenResponse {
    bool ok = false;
    std::string accessToken;
    std::string refreshToken; // empty when the provider kept the old one
    long long expiresIn = 0;  // seconds
    std::string error;        // the OAuth error code, or a description of a malformed answer
    std::string errorDescription;

    static constexpr std::size_t kMaxBytes = 64 * 1024;
    static TokenResponse Parse(std::string_view body);
};
