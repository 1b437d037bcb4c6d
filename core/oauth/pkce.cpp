#include "pkce.h"

#include <cerrno>
#include <openssl/sha.h>
#include <sys/random.h>

namespace Pkce
{
namespace
{

bool FillRandom(unsigned char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(data + done, size - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string Base64Url(std::string_view bytes)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
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
        if (i + 1 < bytes.size())
            out += kAlphabet[(v >> 6) & 63];
    }
    return out;
}

std::optional<std::string> RandomText(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    if (!FillRandom(reinterpret_cast<unsigned char*>(raw.data()), raw.size()))
        return std::nullopt;
    return Base64Url(raw);
}

std::string ChallengeOf(std::string_view verifier)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return Base64Url(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::optional<PkcePair> Make()
{
    // 32 bytes give the 43 characters RFC 7636 section 4.1 recommends.
    std::optional<std::string> verifier = RandomText(32);
    if (!verifier)
        return std::nullopt;
    PkcePair pair;
    pair.challenge = ChallengeOf(*verifier);
    pair.verifier = std::move(*verifier);
    return pair;
}

} // namespace Pkce
