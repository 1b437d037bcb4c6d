#pragma once

#include <map>
#include <string>
#include <sys/types.h>

// Runs tests/fakes/oauthserver.py (a simulated OAuth 2.0 authorization server with PKCE,
// refresh, revocation and token introspection) as a child process on 127.0.0.1 port 0 for
// the life of the object, and plays the user's browser for a sign-in.
class FakeOAuthServer
{
public:
    FakeOAuthServer() = default;
    ~FakeOAuthServer(); // kills the child by its id
    FakeOAuthServer(const FakeOAuthServer&) = delete;
    FakeOAuthServer& operator=(const FakeOAuthServer&) = delete;

    // False with *error when python3 or the script cannot run.
    bool Start(const std::string& clientId, std::string* error);

    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string IntrospectionUrl() const { return BaseUrl() + "/introspect"; }

    // POST /control/<what> ("lifetime?seconds=N", "revoke", "expire"); true on HTTP 200.
    bool Control(const std::string& what) const;
    // The server's counters (GET /control/stats): "authorize", "code", "refresh", "refused",
    // "introspect", "active".
    std::map<std::string, int> Stats() const;

    // The browser's part of a sign-in: opens the authorization URL, takes the redirect the
    // server answers with and opens it (the program's loopback listener). Returns the
    // listener's HTTP status (200 when it took the code), or -1 when a step failed.
    // `redirect` (when given) receives the redirect address, which holds the code.
    static int FollowSignIn(const std::string& authorizationUrl, std::string* redirect = nullptr);

private:
    pid_t pid_ = -1;
    int port_ = 0;
};
