#include "oauthsignin.h"

#include "accountfile.h"
#include "accountlock.h"
#include "apppaths.h"
#include "authorizationrequest.h"
#include "loopbackredirect.h"
#include "oauthstate.h"
#include "pkce.h"
#include "tokenclient.h"

namespace OAuthSignIn
{

namespace
{

// Reads the account's file and checks it can sign in with OAuth 2.0.
Outcome ReadMailAccount(const std::string& account, AccountRecord& record)
{
    Outcome outcome;
    const std::string path = AppPaths::AccountFile(account);
    record.name = account;
    if (CAccountFile::ReadAccountFile(path, record) != 1) {
        outcome.message = "cannot read " + path;
        return outcome;
    }
    if (record.mailType != kMailTypePop3 && record.mailType != kMailTypeImap4) {
        outcome.message = account + " is not a POP3 or IMAP4 account";
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

} // namespace

Outcome Run(const std::string& account, const std::string& providerName,
            const std::function<void(const std::string& url)>& showUrl,
            std::chrono::milliseconds timeout, const std::atomic<bool>* cancel)
{
    AccountRecord record;
    Outcome outcome = ReadMailAccount(account, record);
    if (!outcome.ok)
        return outcome;
    Tokens tokens;
    outcome = Obtain(providerName, record.userName, showUrl, timeout, cancel, tokens);
    if (!outcome.ok)
        return outcome;
    return Store(account, tokens);
}

Outcome Obtain(const std::string& providerName, const std::string& loginHint,
               const std::function<void(const std::string& url)>& showUrl,
               std::chrono::milliseconds timeout, const std::atomic<bool>* cancel, Tokens& tokens)
{
    Outcome outcome;
    OAuthProvider provider;
    if (OAuthProviders::Read(providerName, provider, outcome.message) != 1)
        return outcome;

    const std::optional<PkcePair> pkce = Pkce::Make();
    const std::optional<std::string> state = Pkce::RandomText();
    if (!pkce || !state) {
        outcome.message = "no random numbers to be had for the sign-in";
        return outcome;
    }
    LoopbackRedirect listener;
    if (!listener.Listen()) {
        outcome.message = listener.Error();
        return outcome;
    }
    const std::string redirectUri = listener.RedirectUri();
    showUrl(AuthorizationRequest::Url(provider, redirectUri, *state, pkce->challenge, loginHint));
    LoopbackRedirect::Outcome redirect = listener.Wait(*state, timeout, cancel);
    if (!redirect.ok) {
        outcome.message = redirect.error;
        return outcome;
    }
    TokenClient client;
    const std::time_t now = std::time(nullptr);
    TokenClient::Result answer =
        client.ExchangeCode(provider, redirect.code, pkce->verifier, redirectUri);
    if (answer.status != TokenClient::Status::Ok) {
        outcome.message = answer.message;
        return outcome;
    }
    if (answer.response.refreshToken.empty()) {
        outcome.message = "the provider " + provider.name +
                          " gave no refresh token, so the account could not check on its own";
        return outcome;
    }
    tokens.provider = provider.name;
    tokens.accessToken = answer.response.accessToken;
    tokens.expires = now + answer.response.expiresIn;
    tokens.refreshToken = answer.response.refreshToken;
    outcome.ok = true;
    return outcome;
}

Outcome Store(const std::string& account, const Tokens& tokens)
{
    Outcome outcome;
    std::string error;
    // No check of the account reads its files while they change (CAccountLock).
    CAccountLock lock;
    if (lock.Acquire(AppPaths::AccountDir(account), CAccountLock::kDefaultWait, &error) !=
        CAccountLock::Outcome::Held) {
        outcome.message = error.empty() ? CAccountLock::BusyMessage(account) : error;
        return outcome;
    }
    // The state first: a crash between the two writes leaves an account that still signs
    // in with the old refresh token or asks to sign in again, never one that lost both.
    OAuthState saved;
    saved.provider = tokens.provider;
    saved.accessToken = tokens.accessToken;
    saved.expires = tokens.expires;
    if (OAuthState::Save(account, saved, &error) != 1) {
        outcome.message = error;
        return outcome;
    }
    // Read again under the lock: the user may have changed the account meanwhile.
    AccountRecord record;
    outcome = ReadMailAccount(account, record);
    if (!outcome.ok)
        return outcome;
    outcome.ok = false;
    record.signIn = kSignInOAuth2;
    record.password = tokens.refreshToken;
    if (CAccountFile::WriteAccountFile(AppPaths::AccountFile(account), record, &error) != 1) {
        outcome.message = error;
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

} // namespace OAuthSignIn
