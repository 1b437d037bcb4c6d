#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// HTTP Digest access authentication (RFC 7616) for the HTTPMail client.
//
// A challenge is read as the RFC's list of auth-params: name=value pairs, values quoted
// (with backslash escapes) or plain tokens, in any order, separated by commas and optional
// white space. Unknown parameters are ignored; "opaque" is echoed back. Algorithms MD5 and
// SHA-256 (and their "-sess" forms) are answered; with "qop" the answer uses "auth", and a
// challenge without qop (the older RFC 2069 form) gets the answer without nc and cnonce.
// A challenge that offers qop but not "auth", names another algorithm, has an unterminated
// quote, a control character in a value or a parameter longer than kMaxParamLength is
// refused, so nothing a server sends can break the Authorization line apart.
//
// Every answer gets a fresh random cnonce (getrandom); nc counts the answers given to one
// nonce and starts again at 1 for a new nonce. One object per session; not thread-safe.
class DigestAuth
{
public:
    static constexpr size_t kMaxParamLength = 1024;

    struct Challenge {
        std::string realm;
        std::string nonce;
        std::string opaque;
        std::string algorithm; // as the server wrote it; empty means MD5
        bool qopAuth = false;  // "auth" is among the offered qop values
        bool stale = false;
    };

    // Parses the parameters of one Digest challenge: `text` starts at the scheme name
    // ("Digest realm=...") or at the first parameter. The list ends at the end of `text` or
    // where another scheme's challenge begins. False with *error on anything refused above.
    static bool ParseChallenge(std::string_view text, Challenge& out, std::string* error);

    // Finds the Digest challenge among the WWW-Authenticate lines of a raw header block
    // (CR LF or LF lines; the field name without regard to case) and parses it.
    static bool FindChallenge(std::string_view rawHeaders, Challenge& out, std::string* error);

    // Takes a challenge: the nonce count starts again when the nonce changed.
    void SetChallenge(const Challenge& challenge);
    bool HasChallenge() const { return !challenge_.nonce.empty(); }

    // The value of the Authorization header for `method` on `uri` (the request target):
    // "Digest username=..., realm=..., ...". Raises nc. `cnonce` empty means a fresh random
    // one (tests pass a fixed one to compare with known answers). Empty when the user name
    // or password holds a CR, LF or NUL.
    std::string Authorization(std::string_view method, std::string_view uri, std::string_view user,
                              std::string_view password, std::string_view cnonce = {});

    // Lowercase hex digests.
    static std::string Md5Hex(std::string_view data);
    static std::string Sha256Hex(std::string_view data);

private:
    Challenge challenge_;
    uint32_t nonceCount_ = 0;
};
