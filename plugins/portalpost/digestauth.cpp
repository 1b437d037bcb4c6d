#include "digestauth.h"

#include <cctype>
#include <cstdio>
#include <nettle/md5.h>
#include <nettle/sha2.h>
#include <sys/random.h>

namespace
{

bool IsTokenChar(unsigned char c)
{
    // RFC 9110 5.6.2 tchar.
    return std::isalnum(c) ||
           std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t';
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string Hex(const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// RFC 9110 5.6.4: a quoted-string escapes '"' and '\' with a backslash.
std::string Quote(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool HasControl(std::string_view s)
{
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

std::string RandomCnonce()
{
    uint8_t bytes[16] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0)
            continue; // EINTR; getrandom does not fail otherwise once the pool is ready
        got += static_cast<size_t>(n);
    }
    return Hex(bytes, sizeof bytes);
}

// Walks an auth-param list (RFC 9110 11.2). Calls `param(name, value)` for each pair; stops
// at the end or at a token that is not followed by '=' (the next challenge's scheme).
template <typename Param>
bool ParseParams(std::string_view s, size_t pos, Param param, std::string* error)
{
    auto fail = [&](const char* why) {
        if (error)
            *error = why;
        return false;
    };
    while (pos < s.size()) {
        while (pos < s.size() && (IsSpace(s[pos]) || s[pos] == ','))
            ++pos;
        if (pos >= s.size())
            break;
        const size_t nameStart = pos;
        while (pos < s.size() && IsTokenChar(static_cast<unsigned char>(s[pos])))
            ++pos;
        if (pos == nameStart)
            return fail("the Digest challenge holds a character that starts no parameter");
        const std::string_view name = s.substr(nameStart, pos - nameStart);
        size_t look = pos;
        while (look < s.size() && IsSpace(s[look]))
            ++look;
        if (look >= s.size() || s[look] != '=')
            return true; // another scheme's challenge begins here
        pos = look + 1;
        while (pos < s.size() && IsSpace(s[pos]))
            ++pos;
        std::string value;
        if (pos < s.size() && s[pos] == '"') {
            ++pos;
            bool closed = false;
            while (pos < s.size()) {
                char c = s[pos++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (pos >= s.size())
                        break;
                    c = s[pos++];
                }
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                    return fail("the Digest challenge holds a control character");
                if (value.size() >= DigestAuth::kMaxParamLength)
                    return fail("a Digest challenge parameter is too long");
                value += c;
            }
            if (!closed)
                return fail("the Digest challenge has an unterminated quoted value");
        } else {
            const size_t valueStart = pos;
            while (pos < s.size() && IsTokenChar(static_cast<unsigned char>(s[pos])))
                ++pos;
            value.assign(s.substr(valueStart, pos - valueStart));
            if (value.size() > DigestAuth::kMaxParamLength)
                return fail("a Digest challenge parameter is too long");
        }
        while (pos < s.size() && IsSpace(s[pos]))
            ++pos;
        if (pos < s.size() && s[pos] != ',')
            return fail("the Digest challenge has text where a comma belongs");
        param(name, std::move(value));
    }
    return true;
}

} // namespace

bool DigestAuth::ParseChallenge(std::string_view text, Challenge& out, std::string* error)
{
    out = Challenge();
    size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos]))
        ++pos;
    if (text.size() - pos >= 6 && EqualsNoCase(text.substr(pos, 6), "Digest") &&
        (text.size() - pos == 6 || IsSpace(text[pos + 6])))
        pos += 6;
    std::string qop;
    bool haveQop = false;
    const bool ok = ParseParams(
        text, pos,
        [&](std::string_view name, std::string value) {
            if (EqualsNoCase(name, "realm"))
                out.realm = std::move(value);
            else if (EqualsNoCase(name, "nonce"))
                out.nonce = std::move(value);
            else if (EqualsNoCase(name, "opaque"))
                out.opaque = std::move(value);
            else if (EqualsNoCase(name, "algorithm"))
                out.algorithm = std::move(value);
            else if (EqualsNoCase(name, "stale"))
                out.stale = EqualsNoCase(value, "true");
            else if (EqualsNoCase(name, "qop")) {
                haveQop = true;
                qop = std::move(value);
            }
        },
        error);
    if (!ok)
        return false;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (out.nonce.empty())
        return fail("the Digest challenge has no nonce");
    if (haveQop) {
        // qop-options: a comma-separated list inside the quotes.
        size_t i = 0;
        while (i <= qop.size()) {
            size_t comma = qop.find(',', i);
            if (comma == std::string::npos)
                comma = qop.size();
            std::string_view option(qop.data() + i, comma - i);
            while (!option.empty() && IsSpace(option.front()))
                option.remove_prefix(1);
            while (!option.empty() && IsSpace(option.back()))
                option.remove_suffix(1);
            if (EqualsNoCase(option, "auth"))
                out.qopAuth = true;
            i = comma + 1;
        }
        if (!out.qopAuth)
            return fail("the server offers Digest only with qop \"" + qop + "\", not \"auth\"");
    }
    const std::string& a = out.algorithm;
    if (!a.empty() && !EqualsNoCase(a, "MD5") && !EqualsNoCase(a, "MD5-sess") &&
        !EqualsNoCase(a, "SHA-256") && !EqualsNoCase(a, "SHA-256-sess"))
        return fail("the server asks for the Digest algorithm \"" + a + "\", which is not offered");
    return true;
}

bool DigestAuth::FindChallenge(std::string_view headers, Challenge& out, std::string* error)
{
    std::string firstError;
    size_t pos = 0;
    while (pos < headers.size()) {
        size_t end = headers.find('\n', pos);
        if (end == std::string_view::npos)
            end = headers.size();
        std::string_view line = headers.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        constexpr std::string_view kName = "WWW-Authenticate:";
        if (line.size() < kName.size() || !EqualsNoCase(line.substr(0, kName.size()), kName))
            continue;
        std::string_view value = line.substr(kName.size());
        // Several challenges may share a line: find the Digest one.
        for (size_t at = 0; at + 6 <= value.size(); ++at) {
            if (!EqualsNoCase(value.substr(at, 6), "Digest"))
                continue;
            if (at > 0 && !IsSpace(value[at - 1]) && value[at - 1] != ',')
                continue;
            if (at + 6 < value.size() && !IsSpace(value[at + 6]))
                continue;
            std::string why;
            if (ParseChallenge(value.substr(at), out, &why))
                return true;
            if (firstError.empty())
                firstError = why;
            break;
        }
    }
    if (error)
        *error = firstError.empty() ? "the server asked for a log-in without a Digest challenge"
                                    : firstError;
    return false;
}

void DigestAuth::SetChallenge(const Challenge& challenge)
{
    if (challenge.nonce != challenge_.nonce)
        nonceCount_ = 0;
    challenge_ = challenge;
}

std::string DigestAuth::Md5Hex(std::string_view data)
{
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, data.size(), reinterpret_cast<const uint8_t*>(data.data()));
    uint8_t digest[MD5_DIGEST_SIZE];
    md5_digest(&ctx, sizeof digest, digest);
    return Hex(digest, sizeof digest);
}

std::string DigestAuth::Sha256Hex(std::string_view data)
{
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, data.size(), reinterpret_cast<const uint8_t*>(data.data()));
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&ctx, sizeof digest, digest);
    return Hex(digest, sizeof digest);
}

std::string DigestAuth::Authorization(std::string_view method, std::string_view uri,
                                      std::string_view user, std::string_view password,
                                      std::string_view cnonceIn)
{
    if (HasControl(user) ||
        password.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos ||
        HasControl(uri) || HasControl(method))
        return {};
    const std::string& algorithm = challenge_.algorithm;
    const bool sha = algorithm.size() >= 7 && EqualsNoCase(algorithm.substr(0, 7), "SHA-256");
    const bool sess =
        algorithm.size() > 5 &&
        EqualsNoCase(std::string_view(algorithm).substr(algorithm.size() - 5), "-sess");
    auto H = [&](std::string_view s) { return sha ? Sha256Hex(s) : Md5Hex(s); };

    const std::string cnonce = cnonceIn.empty() ? RandomCnonce() : std::string(cnonceIn);
    ++nonceCount_;
    char nc[9];
    std::snprintf(nc, sizeof nc, "%08x", nonceCount_);

    const std::string u(user);
    std::string ha1 = H(u + ":" + challenge_.realm + ":" + std::string(password));
    if (sess) // RFC 7616 3.4.2
        ha1 = H(ha1 + ":" + challenge_.nonce + ":" + cnonce);
    const std::string ha2 = H(std::string(method) + ":" + std::string(uri));
    std::string response;
    if (challenge_.qopAuth)
        response = H(ha1 + ":" + challenge_.nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2);
    else
        response = H(ha1 + ":" + challenge_.nonce + ":" + ha2);

    std::string out = "Digest username=" + Quote(u) + ", realm=" + Quote(challenge_.realm) +
                      ", nonce=" + Quote(challenge_.nonce) + ", uri=" + Quote(uri);
    if (!algorithm.empty())
        out += ", algorithm=" + algorithm;
    if (challenge_.qopAuth)
        out += ", qop=auth, nc=" + std::string(nc) + ", cnonce=" + Quote(cnonce);
    out += ", response=" + Quote(response);
    if (!challenge_.opaque.empty())
        out += ", opaque=" + Quote(challenge_.opaque);
    return out;
}
