#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Incremental base64 decoder for body parts and encoded words (RFC 2045 section 6.8).
//
// Characters outside the alphabet (line ends, blanks, a lone "=") are skipped one by one, so
// line breaks anywhere and stray bytes do not shift the bit order. Decoding ends at the first
// "==" pair. Feeding the input in any split gives the same bytes as feeding it whole.
// Not thread-safe; one object per stream.
class Base64Decoder
{
public:
    // Appends the bytes decoded from `chunk` to `out`.
    void Feed(std::string_view chunk, std::string& out);
    // True once the "==" end mark has been seen; later input is ignored.
    bool Ended() const { return ended_; }
    void Reset() { *this = Base64Decoder(); }

private:
    uint32_t bits_ = 0;
    int count_ = 0; // characters held in bits_ (0..3)
    bool pendingEquals_ = false;
    bool ended_ = false;
};
