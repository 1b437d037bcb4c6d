#include "bearersasl.h"

#include <strings.h>

namespace BearerSasl
{

std::string Canonical(std::string_view mechanism)
{
    for (const char* known : {kXoauth2, kOauthBearer}) {
        const std::string_view k(known);
        if (mechanism.size() == k.size() &&
            ::strncasecmp(mechanism.data(), k.data(), k.size()) == 0)
            return std::string(k);
    }
    return {};
}

bool IsKnownMechanism(std::string_view mechanism)
{
    return !Canonical(mechanism).empty();
}

std::string InitialResponse(std::string_view mechanism, std::string_view user,
                            std::string_view accessToken, std::string_view host, int port)
{
    std::string message;
    if (Canonical(mechanism) == kOauthBearer) {
        // RFC 7628 section 3.1: a GS2 header naming the user, then key=value pairs each
        // ended by ^A, and a final ^A. A ',' or '=' in the name is escaped (RFC 5801).
        std::string name;
        for (char c : user) {
            if (c == ',')
                name += "=2C";
            else if (c == '=')
                name += "=3D";
            else
                name += c;
        }
        message = "n,a=" + name + ",\x01host=" + std::string(host) +
                  "\x01port=" + std::to_string(port) + "\x01" + "auth=Bearer " +
                  std::string(accessToken) + "\x01\x01";
    } else {
        message = "user=" + std::string(user) + "\x01" + "auth=Bearer " + std::string(accessToken) +
                  "\x01\x01";
    }
    return Base64(message);
}

std::string AbortResponse(std::string_view mechanism)
{
    return Canonical(mechanism) == kOauthBearer ? "AQ==" : "";
}

std::string Base64(std::string_view bytes)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                     static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace BearerSasl
