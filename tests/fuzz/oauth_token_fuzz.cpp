// A token endpoint's answer and the sign-in state file as hostile input. The parser never
// throws; what it accepts is usable on a protocol line (no control character, no space) and
// its lifetime stays within a year; an error never carries a token. The state file parses
// to what it formats back to, and the form decoder never grows its input.
#include "authorizationrequest.h"
#include "oauthstate.h"
#include "tokenresponse.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

bool LineSafe(const std::string& text)
{
    for (unsigned char c : text)
        if (c <= 0x20 || c >= 0x7f)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const TokenResponse r = TokenResponse::Parse(bytes);
    if (r.ok) {
        if (r.accessToken.empty() || !LineSafe(r.accessToken) || !LineSafe(r.refreshToken) ||
            r.expiresIn < 0 || r.expiresIn > 365LL * 24 * 3600 || !r.error.empty())
            std::abort();
    } else if (r.error.empty() || !r.accessToken.empty() || !r.refreshToken.empty()) {
        std::abort();
    }
    for (unsigned char c : r.error + r.errorDescription)
        if (c < 0x20 || c >= 0x7f)
            std::abort();

    const OAuthState state = OAuthState::Parse(bytes);
    const OAuthState again = OAuthState::Parse(OAuthState::Format(state));
    if (state.provider.find('\n') == std::string::npos &&
        (again.provider != state.provider || again.needsSignIn != state.needsSignIn ||
         again.accessToken != state.accessToken || again.expires != state.expires))
        std::abort();

    if (AuthorizationRequest::FormDecode(bytes).size() > size)
        std::abort();
    return 0;
}
