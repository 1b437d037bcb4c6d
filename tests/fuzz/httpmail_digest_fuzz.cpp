// Arbitrary response headers through the Digest challenge finder: whatever it accepts must
// give an Authorization value that stays one header line.
#include "digestauth.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string headers(reinterpret_cast<const char*>(data), size);
    DigestAuth::Challenge challenge;
    std::string error;
    if (!DigestAuth::FindChallenge(headers, challenge, &error)) {
        if (error.empty())
            __builtin_trap(); // a refusal always says why
        return 0;
    }
    if (challenge.nonce.empty() || challenge.realm.size() > DigestAuth::kMaxParamLength ||
        challenge.nonce.size() > DigestAuth::kMaxParamLength)
        __builtin_trap();
    DigestAuth auth;
    auth.SetChallenge(challenge);
    const std::string answer = auth.Authorization("PROPFIND", "/svcs/x", "user@d", "pw");
    for (const char c : answer) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            __builtin_trap();
    }
    // The answer parses back as a list of parameters with the same nonce.
    DigestAuth::Challenge back;
    if (!DigestAuth::ParseChallenge(answer, back, &error) || back.nonce != challenge.nonce ||
        back.realm != challenge.realm || back.opaque != challenge.opaque)
        __builtin_trap();
    return 0;
}
