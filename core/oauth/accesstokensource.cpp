#include "accesstokensource.h"

#include "accountfile.h"
#include "apppaths.h"
#include "checkresult.h"
#include "oauthprovider.h"
#include "oauthstate.h"
#include "tokenclient.h"

CAccessTokenSource::CAccessTokenSource(Clock clock, int timeOutSeconds)
    : clock_(clock ? std::move(clock) : [] { return std::time(nullptr); }),
      timeOutSeconds_(timeOutSeconds)
{
}

std::string CAccessTokenSource::SignInAgainMessage(const std::string& account,
                                                   const std::string& why)
{
    return account + " needs to sign in again (" + why + "): run \"postwatch --sign-in " + account +
           "\" or open the account's properties";
}

void CAccessTokenSource::Forget(const std::string& account)
{
    OAuthState state;
    if (OAuthState::Load(account, state) != 1 || state.accessToken.empty())
        return;
    state.accessToken.clear();
    state.expires = 0;
    OAuthState::Save(account, state, nullptr);
}

CAccessTokenSource::Result CAccessTokenSource::Get(const AccountRecord& record)
{
    Result out;
    const std::string& account = record.name;
    OAuthState state;
    if (OAuthState::Load(account, state) != 1) {
        out.result = kCheckLoginRefused;
        out.ownReason = true;
        out.message = SignInAgainMessage(account, "it has not signed in with OAuth 2.0 yet");
        return out;
    }
    if (state.needsSignIn) {
        out.result = kCheckLoginRefused;
        out.ownReason = true;
        out.message = SignInAgainMessage(account, "the provider no longer accepts its sign-in");
        return out;
    }
    OAuthProvider provider;
    std::string error;
    if (OAuthProviders::Read(state.provider, provider, error) != 1) {
        out.result = kCheckFailed;
        out.ownReason = true;
        out.message = error;
        return out;
    }
    out.mechanism = provider.mechanism;
    const std::time_t now = clock_();
    if (!state.accessToken.empty() && state.expires - now > kMinimumLeft) {
        out.result = kCheckDone;
        out.accessToken = state.accessToken;
        return out;
    }

    auto markNeedsSignIn = [&](const std::string& why) {
        state.needsSignIn = true;
        state.accessToken.clear();
        state.expires = 0;
        OAuthState::Save(account, state, nullptr);
        out.result = kCheckLoginRefused;
        out.ownReason = true;
        out.message = SignInAgainMessage(account, why);
        return out;
    };
    if (record.password.empty())
        return markNeedsSignIn("it holds no refresh token");

    TokenClient client(timeOutSeconds_);
    TokenClient::Result refreshed = client.Refresh(provider, record.password);
    switch (refreshed.status) {
    case TokenClient::Status::Ok:
        break;
    case TokenClient::Status::Refused:
        return markNeedsSignIn(refreshed.message);
    case TokenClient::Status::Unreachable:
        out.result = kCheckCannotConnect;
        out.message = refreshed.message;
        return out;
    case TokenClient::Status::Failed:
        out.result = kCheckFailed;
        out.message = refreshed.message;
        return out;
    }

    state.accessToken = refreshed.response.accessToken;
    state.expires = now + refreshed.response.expiresIn;
    if (OAuthState::Save(account, state, &error) != 1) {
        // The token still serves this check; the next one refreshes again.
        state.accessToken.clear();
    }
    // RFC 6749 section 6: a new refresh token replaces the old, which the provider may
    // already have revoked; losing it would lose the sign-in.
    const std::string& rotated = refreshed.response.refreshToken;
    if (!rotated.empty() && rotated != record.password) {
        AccountRecord updated;
        updated.name = account;
        const std::string path = AppPaths::AccountFile(account);
        if (CAccountFile::ReadAccountFile(path, updated) != 1 ||
            (updated.name = account, updated.password = rotated,
             CAccountFile::WriteAccountFile(path, updated, &error) != 1)) {
            out.result = kCheckFailed;
            out.ownReason = true;
            out.message = "cannot keep the new refresh token in " + path + ": " + error;
            return out;
        }
    }
    out.result = kCheckDone;
    out.accessToken = refreshed.response.accessToken;
    return out;
}
