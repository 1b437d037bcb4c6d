#pragma once

#include "accountrecord.h"

#include <ctime>
#include <functional>
#include <string>

// Gives a check of an OAuth 2.0 account a usable access token (called on the check's
// thread, under the account's lock, before it connects).
//
// The cached token (OAuthState) is used while more than 60 s of it are left; otherwise the
// refresh token (the account's password) is exchanged at the provider's token endpoint
// (TokenClient), the new access token cached, and a new refresh token, when the provider
// sends one, written to Account.inf in place of the old.
//
// Results (the check result codes): 4 a token; 2 the account must sign in (no sign-in yet,
// or marked so): no network is used; a refresh the provider refuses with invalid_grant
// marks the account, so that later checks ask nobody until the user signs in again (no
// retry storm); 3 the token endpoint cannot be reached; 1 anything else (an unusable
// provider profile, an answer that cannot be used, a file that cannot be written).
// `message` says what to do; `ownReason` is true for result 2, which the desktop then tells
// once per account rather than at every check. No secret is ever in `message`.
class CAccessTokenSource
{
public:
    struct Result {
        int result = 1;
        std::string accessToken;
        std::string mechanism;
        std::string message;
        bool ownReason = false;
    };
    // Seconds of validity a cached token must still have.
    static constexpr int kMinimumLeft = 60;

    using Clock = std::function<std::time_t()>;
    explicit CAccessTokenSource(Clock clock = {}, int timeOutSeconds = 30);

    Result Get(const AccountRecord& record);

    // Drops the cached access token of `account` (the server refused it), so the next Get
    // refreshes. Under the account lock.
    static void Forget(const std::string& account);

    // The words for an account that must sign in.
    static std::string SignInAgainMessage(const std::string& account, const std::string& why);

private:
    Clock clock_;
    int timeOutSeconds_;
};
