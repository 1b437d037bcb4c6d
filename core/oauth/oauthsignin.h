#pragma once

#include "oauthprovider.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <string>

// One interactive sign-in (RFC 6749 section 4.1 with PKCE, RFC 7636; loopback redirect, RFC
// 8252): makes the verifier and the state, opens the loopback listener, hands the
// authorization URL to `showUrl` (print it, open the browser), waits for the redirect,
// exchanges the code, and stores the result for the account: the refresh token becomes the
// password in Account.inf with "SignIn=OAuth2", and OAuth.state names the provider, caches
// the access token and clears a "needs sign-in" mark.
//
// Run does it all for an existing account (its folder and Account.inf). The new account
// wizard signs in before the account exists: it keeps what Obtain returns and hands it to
// Store once Finish has created the account.
//
// Obtain and Run block the calling thread for up to `timeout` (a thread of its own in a
// desktop). No secret reaches `showUrl`'s text other than the challenge and state, which are
// public by design.
namespace OAuthSignIn
{
struct Outcome {
    bool ok = false;
    std::string message; // for the user when !ok; never holds a secret
};

// What a successful sign-in yields. The tokens are secrets: never log or show them.
struct Tokens {
    std::string provider; // the profile's name as stored
    std::string accessToken;
    std::time_t expires = 0;
    std::string refreshToken;
};

Outcome Run(const std::string& account, const std::string& providerName,
            const std::function<void(const std::string& url)>& showUrl,
            std::chrono::milliseconds timeout, const std::atomic<bool>* cancel = nullptr);

// The sign-in without an account: `loginHint` (the user name, may be empty) is passed to the
// provider. On success `tokens` holds a refresh token.
Outcome Obtain(const std::string& providerName, const std::string& loginHint,
               const std::function<void(const std::string& url)>& showUrl,
               std::chrono::milliseconds timeout, const std::atomic<bool>* cancel, Tokens& tokens);

// Stores `tokens` into the existing POP3/IMAP4 account `account` under its lock: OAuth.state
// first, then Account.inf with "SignIn=OAuth2" and the refresh token as the password.
Outcome Store(const std::string& account, const Tokens& tokens);
} // namespace OAuthSignIn
