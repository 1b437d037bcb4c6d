#pragma once

#include "oauthprovider.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

// One interactive sign-in (RFC 6749 section 4.1 with PKCE, RFC 7636; loopback redirect, RFC
// 8252): makes the verifier and the state, opens the loopback listener, hands the
// authorization URL to `showUrl` (print it, open the browser), waits for the redirect,
// exchanges the code, and stores the result for the account: the refresh token becomes the
// password in Account.inf with "SignIn=OAuth2", and OAuth.state names the provider, caches
// the access token and clears a "needs sign-in" mark.
//
// The account must exist (its folder and Account.inf). Blocks the calling thread for up to
// `timeout` (a thread of its own in a desktop). No secret reaches `showUrl`'s text other
// than the challenge and state, which are public by design.
namespace OAuthSignIn
{
struct Outcome {
    bool ok = false;
    std::string message; // for the user when !ok; never holds a secret
};

Outcome Run(const std::string& account, const std::string& providerName,
            const std::function<void(const std::string& url)>& showUrl,
            std::chrono::milliseconds timeout, const std::atomic<bool>* cancel = nullptr);
} // namespace OAuthSignIn
