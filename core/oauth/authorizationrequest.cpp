#include "authorizationrequest.h"

#include "asciitext.h"

#include <cctype>

namespace AuthorizationRequest
{
namespace
{

} // namespace

std::string FormEncode(std::string_view text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string FormDecode(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Url(const OAuthProvider& provider, const std::string& redirectUri,
                const std::string& state, const std::string& challenge,
                const std::string& loginHint)
{
    std::string url = provider.authorizationUrl;
    url += url.find('?') == std::string::npos ? '?' : '&';
    url += "response_type=code&client_id=" + FormEncode(provider.clientId) +
           "&redirect_uri=" + FormEncode(redirectUri) + "&scope=" + FormEncode(provider.scopes) +
           "&state=" + FormEncode(state) + "&code_challenge=" + FormEncode(challenge) +
           "&code_challenge_method=S256";
    if (!loginHint.empty())
        url += "&login_hint=" + FormEncode(loginHint);
    if (!provider.extraParameters.empty())
        url += "&" + provider.extraParameters;
    return url;
}

} // namespace AuthorizationRequest
