#include "pkce.h"

#include "bearersasl.h"

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
    // The same code as the SASL encodings, with the URL-safe letters and no padding.
    std::string out = BearerSasl::Base64(bytes);
    while (!out.empty() && out.back() == '=')
        out.pop_back();
    for (char& c : out)
        c = c == '+' ? '-' : c == '/' ? '_' : c;
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
