#pragma once

#include <cstddef>
#include <string>

// The in-place, length-preserving cipher that protects passwords and previews on disk.
//
// Key: the MD5 digest of the pass bytes (up to their first zero byte), used whole as a
// 16-byte RC4 key (what files written by current systems use). Files from the oldest
// systems used a 40-bit key: the first 5 digest bytes followed by 11 zero bytes
// (KeyStyle::Legacy40). RC4 runs over the buffer as one stream; enciphering and
// deciphering are the same operation.
//
// Each user makes its own object (cheap); objects are independent, so any thread may use
// its own without locks. The container name is kept only as a label.
class CPassCipher
{
public:
    enum class KeyStyle { Full128, Legacy40 };

    CPassCipher(std::string containerName, std::string passBytes,
                KeyStyle style = KeyStyle::Full128);

    // 1 on success, 0 on failure. A length of 0 succeeds and touches nothing.
    int Protect(void* buffer, size_t length) const;
    int Unprotect(void* buffer, size_t length) const;

    const std::string& ContainerName() const { return container_; }

    // RC4 with a raw key over a buffer in place (the stream step of Protect).
    static void ApplyRc4(const unsigned char* key, size_t keyLength, void* buffer, size_t length);

private:
    std::string container_;
    std::string pass_;
    KeyStyle style_;
};

// The three fixed uses: container names and pass bytes.
inline constexpr char kAccountCfgContainer[] = "KORAVELPIGEONPOST";
inline constexpr char kAccountCfgPass[] = "\x31\x0A\x52\x07\x6C";
inline constexpr char kAccountInfContainer[] = "KORAVELPIGEONPOST1";
inline constexpr char kAccountInfPass[] = "\x4E\x13\x29\x75\x02";
inline constexpr char kMailBoxContainer[] = "KORAVELPIGEONPOST2";
inline constexpr char kMailBoxPass[] = "\x5B\x21\x3C\x0E\x66";
