#include "passcipher.h"

#include <cstring>
#include <nettle/arcfour.h>
#include <nettle/md5.h>

CPassCipher::CPassCipher(std::string containerName, std::string passBytes, KeyStyle style)
    : container_(std::move(containerName)), pass_(std::move(passBytes)), style_(style)
{
    // The pass bytes are hashed up to their first zero byte, as they always were.
    auto nul = pass_.find('\0');
    if (nul != std::string::npos)
        pass_.resize(nul);
}

int CPassCipher::Protect(void* buffer, size_t length) const
{
    if (length == 0)
        return 1;
    if (buffer == nullptr)
        return 0;

    uint8_t digest[MD5_DIGEST_SIZE];
    md5_ctx md5;
    md5_init(&md5);
    md5_update(&md5, pass_.size(), reinterpret_cast<const uint8_t*>(pass_.data()));
    md5_digest(&md5, sizeof digest, digest);

    uint8_t key[16];
    std::memcpy(key, digest, sizeof key);
    if (style_ == KeyStyle::Legacy40)
        std::memset(key + 5, 0, sizeof key - 5); // 40 key bits, the rest zero ("no salt")

    // One RC4 stream over the whole buffer; the historical 512-byte blocks continued the
    // same stream, so block boundaries do not change the bytes.
    ApplyRc4(key, sizeof key, buffer, length);
    return 1;
}

void CPassCipher::ApplyRc4(const unsigned char* key, size_t keyLength, void* buffer, size_t length)
{
    arcfour_ctx rc4;
    arcfour_set_key(&rc4, keyLength, key);
    auto* bytes = static_cast<uint8_t*>(buffer);
    arcfour_crypt(&rc4, length, bytes, bytes);
}

int CPassCipher::Unprotect(void* buffer, size_t length) const
{
    return Protect(buffer, length);
}
