#pragma once

#include <string>
#include <vector>

// One OAuth 2.0 provider as a sign-in needs it. Profiles are data in the settings store,
// under the program's key, "OAuth\Providers\<name>", one string value per field:
//
//   AuthorizationUrl  where the browser signs in (RFC 6749 section 3.1)
//   TokenUrl          where codes and refresh tokens become access tokens (section 3.2)
//   ClientId          the program's registration with the provider; the user or the
//                     packager fills it in (the defaults leave it empty)
//   ClientSecret      only for providers that want one from an installed program; optional
//   Scopes            space-separated (section 3.3)
//   Mechanism         the SASL mechanism the mail server takes: XOAUTH2 or OAUTHBEARER
//   ExtraParameters   more query text for the authorization URL ("a=b&c=d"); optional
//   Domains           the mail domains the provider serves, space-separated; optional
//   ImapServer        its IMAP server as host:port (TLS on connect); optional
//   Pop3Server        its POP3 server as host:port (TLS on connect); optional
//
// The last three let the new account wizard fill in the servers of an address at such a
// provider without asking the domain.
//
// Defaults for the two largest consumer providers ("Google", "Microsoft") are written only
// where a value is absent, so a user's change stays. A user adds a provider by adding a key.
struct OAuthProvider {
    std::string name;
    std::string authorizationUrl;
    std::string tokenUrl;
    std::string clientId;
    std::string clientSecret;
    std::string scopes;
    std::string mechanism;
    std::string extraParameters;
    std::string domains;
    std::string imapServer;
    std::string pop3Server;
};

namespace OAuthProviders
{
// The built-in defaults (client id empty).
std::vector<OAuthProvider> Defaults();

// Reads the profile `name` (names compare without case). 1 on success; 0 with a reason in
// `error` when the key is missing or a field the sign-in needs is empty or malformed (the
// URLs must be https, or http to 127.0.0.1, ::1 or localhost; the mechanism one of the two).
int Read(const std::string& name, OAuthProvider& provider, std::string& error);

// Reads the profile `name` as stored, without checking what a sign-in needs (a profile
// without a client id still tells the servers of its domains). 1 when the key exists.
int ReadStored(const std::string& name, OAuthProvider& provider);

// Writes every field of `provider` under its name. 1 on success.
int Write(const OAuthProvider& provider);

// Writes the defaults' values that are absent; values already there stay. 1 on success.
int WriteMissingDefaults();

// The names of the profiles in the store, sorted without regard to case.
std::vector<std::string> Names();
} // namespace OAuthProviders
