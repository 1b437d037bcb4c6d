#include "passcipher.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Counting(size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>(i * 7 + 1);
    return s;
}

TEST(PassCipher, Rc4KnownAnswers)
{
    struct Row {
        const char* name;
        std::string key;
        std::string plain;
        const char* cipherHex;
    } rows[] = {
        // RFC 6229, 40-bit key 0102030405, key stream at offset 0.
        {"rfc6229", std::string("\x01\x02\x03\x04\x05", 5), std::string(16, '\0'),
         "b2396305f03dc027ccc3524a0a1118a8"},
        // The older provider's published example: digest bytes 73 40 e6 e2 74 followed by
        // 11 zero bytes, enciphering 00 01 .. 1f.
        {"legacy-provider", std::string("\x73\x40\xe6\xe2\x74", 5) + std::string(11, '\0'),
         [] {
             std::string s;
             for (int i = 0; i < 32; ++i)
                 s += static_cast<char>(i);
             return s;
         }(),
         "2659de2444fa369c110cbb9db6a2bd24042ee3ba7276f3278dd5b42f56cff8c9"},
    };
    for (auto& r : rows) {
        std::string data = r.plain;
        CPassCipher::ApplyRc4(reinterpret_cast<const unsigned char*>(r.key.data()), r.key.size(),
                              data.data(), data.size());
        EXPECT_EQ(Hex(data), r.cipherHex) << r.name;
    }
}

// Expected bytes computed with an independent MD5 + RC4 implementation.
TEST(PassCipher, KeyDerivationForTheThreeUses)
{
    const std::string plain("secret\r\n\0pw", 11);
    struct Row {
        const char* container;
        const char* pass;
        const char* full128Hex;
        const char* legacy40Hex;
    } rows[] = {
        {kAccountInfContainer, kAccountInfPass, "3bcd9e23454f509b81ae57", "f13f6345458c4e1d238a7f"},
        {kAccountCfgContainer, kAccountCfgPass, "f1dd4c5a1ba5640f039c0d", "555fd588f48767a92a547a"},
        {kMailBoxContainer, kMailBoxPass, "a17346486340bb4eb54fd3", "4c19abb1397230e5b6acf2"},
    };
    for (auto& r : rows) {
        std::string full = plain;
        ASSERT_EQ(CPassCipher(r.container, r.pass).Protect(full.data(), full.size()), 1);
        EXPECT_EQ(Hex(full), r.full128Hex) << r.container;
        std::string legacy = plain;
        CPassCipher(r.container, r.pass, CPassCipher::KeyStyle::Legacy40)
            .Protect(legacy.data(), legacy.size());
        EXPECT_EQ(Hex(legacy), r.legacy40Hex) << r.container;
    }
}

TEST(PassCipher, RoundTripsKeepLengthAndBytes)
{
    CPassCipher cipher(kMailBoxContainer, kMailBoxPass);
    for (size_t length : {0u, 1u, 511u, 512u, 513u, 1024u}) {
        std::string original = Counting(length);
        if (length > 3)
            original.replace(0, 3, std::string("\r\n\0", 3));
        std::string data = original;
        ASSERT_EQ(cipher.Protect(data.data(), data.size()), 1);
        EXPECT_EQ(data.size(), length);
        if (length > 0)
            EXPECT_NE(data, original) << length;
        ASSERT_EQ(cipher.Unprotect(data.data(), data.size()), 1);
        EXPECT_EQ(data, original) << length;
    }
}

TEST(PassCipher, ZeroLengthTouchesNothing)
{
    CPassCipher cipher(kAccountCfgContainer, kAccountCfgPass);
    char byte = 'x';
    EXPECT_EQ(cipher.Protect(&byte, 0), 1);
    EXPECT_EQ(cipher.Protect(nullptr, 0), 1);
    EXPECT_EQ(byte, 'x');
}

} // namespace
