#pragma once

#include <ctime>
#include <string>

// What an OAuth 2.0 account keeps beside its Account.inf, in Mail/<name>/OAuth.state
// (0600, rewritten atomically, moved with the folder on a rename): the provider profile it
// signed in with, whether it must sign in again, and the cached access token with its
// expiry. The refresh token is not here: it is the account's password.
//
// Format: "Key=value" lines ending in LF: "Provider=", "NeedsSignIn=Yes" (only when set),
// "Expires=" (seconds since the epoch), "AccessToken=". A missing, damaged or oversized
// file reads as empty (no provider). Stateless functions; callers hold the account lock.
struct OAuthState {
    std::string provider;
    bool needsSignIn = false;
    std::string accessToken; // a secret: never log it
    std::time_t expires = 0;

    static std::string PathOf(const std::string& account);
    // 1 and the state; 0 when there is no usable file (then `state` is empty).
    static int Load(const std::string& account, OAuthState& state);
    // 1 on success; 0 with the reason in `error`.
    static int Save(const std::string& account, const OAuthState& state, std::string* error);

    // The in-memory halves, shared with the tests.
    static std::string Format(const OAuthState& state);
    static OAuthState Parse(const std::string& bytes);
};
