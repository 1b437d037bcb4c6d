#include "oauthsignin.h"

#include "accountfile.h"
#include "accountlock.h"
#include "apppaths.h"
#include "authorizationrequest.h"
#include "loopbackredirect.h"
#include "oauthstate.h"
#include "pkce.h"
#include "tokenclient.h"

#include <ctime>

namespace OAuthSignIn
{

Outcome Run(const std::string& account, const std::string& providerName,
            const std::function<void(const std::string& url)>& showUrl,
            std::chrono::milliseconds timeout, const std::atomic<bool>* cancel)
{
    Outcome outcome;
    const std::string path = AppPaths::AccountFile(account);
    AccountRecord record;
    record.name = account;
    if (CAccountFile::ReadAccountFile(path, record) != 1) {
        outcome.message = "cannot read " + path;
        return outcome;
    }
    if (record.mailType != kMailTypePop3 && record.mailType != kMailTypeImap4) {
        outcome.message = account + " is not a POP3 or IMAP4 account";
        return outcome;
    }
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
    showUrl(
        AuthorizationRequest::Url(provider, redirectUri, *state, pkce->challenge, record.userName));
    LoopbackRedirect::Outcome redirect = listener.Wait(*state, timeout, cancel);
    if (!redirect.ok) {
        outcome.message = redirect.error;
        return outcome;
    }
    std::string error;
    TokenClient client;
    const std::time_t now = std::time(nullptr);
    TokenClient::Result tokens =
        client.ExchangeCode(provider, redirect.code, pkce->verifier, redirectUri);
    if (tokens.status != TokenClient::Status::Ok) {
        outcome.message = tokens.message;
        return outcome;
    }
    if (tokens.response.refreshToken.empty()) {
        outcome.message = "the provider " + provider.name +
                          " gave no refresh token, so the account could not check on its own";
        return outcome;
    }

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
    saved.provider = provider.name;
    saved.accessToken = tokens.response.accessToken;
    saved.expires = now + tokens.response.expiresIn;
    if (OAuthState::Save(account, saved, &error) != 1) {
        outcome.message = error;
        return outcome;
    }
    // Read again under the lock: the user may have changed the account meanwhile.
    if (CAccountFile::ReadAccountFile(path, record) != 1) {
        outcome.message = "cannot read " + path;
        return outcome;
    }
    record.name = account;
    record.signIn = kSignInOAuth2;
    record.password = tokens.response.refreshToken;
    if (CAccountFile::WriteAccountFile(path, record, &error) != 1) {
        outcome.message = error;
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

} // namespace OAuthSignIn
