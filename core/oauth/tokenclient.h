#pragma once

#include "oauthprovider.h"
#include "tokenresponse.h"

#include <string>

// Talks to a provider's token endpoint over libcurl (RFC 6749 sections 4.1.3 and 6): turns
// an authorization code (with its PKCE verifier) or a refresh token into an access token.
//
// A POST of application/x-www-form-urlencoded; the answer is capped at
// TokenResponse::kMaxBytes; 10 s to connect, `timeOutSeconds` in all; no redirects; TLS
// verified as libcurl does. Secrets travel in the body only, never in the URL, a log or an
// error text.
//
// Threads: an object serves one thread; different objects may run at once.
class TokenClient
{
public:
    enum class Status {
        Ok,          // `response` holds the tokens
        Refused,     // the provider said invalid_grant: the refresh token is no longer good
        Failed,      // another refusal by the provider, or an answer that cannot be used
        Unreachable, // no answer: name look-up, connection, TLS or time-out
    };
    struct Result {
        Status status = Status::Failed;
        TokenResponse response;
        std::string message; // for the user when not Ok; holds no secret
    };

    explicit TokenClient(int timeOutSeconds = 30) : timeOutSeconds_(timeOutSeconds) {}

    Result ExchangeCode(const OAuthProvider& provider, const std::string& code,
                        const std::string& verifier, const std::string& redirectUri);
    Result Refresh(const OAuthProvider& provider, const std::string& refreshToken);

private:
    Result Post(const OAuthProvider& provider, const std::string& form);
    int timeOutSeconds_;
};
