#include "base64decoder.h"

#include <array>

namespace
{

constexpr std::array<int8_t, 256> MakeTable()
{
    std::array<int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    for (int i = 0; i < 26; ++i) {
        t['A' + i] = static_cast<int8_t>(i);
        t['a' + i] = static_cast<int8_t>(26 + i);
    }
    for (int i = 0; i < 10; ++i)
        t['0' + i] = static_cast<int8_t>(52 + i);
    t['+'] = 62;
    t['/'] = 63;
    return t;
}

constexpr std::array<int8_t, 256> kValue = MakeTable();

} // namespace

void Base64Decoder::Feed(std::string_view chunk, std::string& out)
{
    for (char c : chunk) {
        if (ended_)
            return;
        if (c == '=') {
            if (pendingEquals_) {
                ended_ = true;
                return;
            }
            pendingEquals_ = true;
            continue;
        }
        pendingEquals_ = false;
        const int v = kValue[static_cast<unsigned char>(c)];
        if (v < 0)
            continue;
        bits_ = (bits_ << 6) | static_cast<uint32_t>(v);
        ++count_;
        // Each new character after the first of a group completes one byte.
        if (count_ >= 2)
            out += static_cast<char>((bits_ >> (2 * (4 - count_))) & 0xFF);
        if (count_ == 4) {
            count_ = 0;
            bits_ = 0;
        }
    }
}
