#include "quotedprintabledecoder.h"

#include "asciitext.h"

namespace
{

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// RFC 2045 limits lines to 76 characters, so no soft break has more blanks after its "=".
constexpr size_t kMaxPending = 80;

} // namespace

void QuotedPrintableDecoder::Feed(std::string_view chunk, std::string& out)
{
    for (char c : chunk)
        Step(c, out);
}

void QuotedPrintableDecoder::Step(char c, std::string& out)
{
    if (pending_.empty()) {
        if (c == '=')
            pending_ = '=';
        else
            out += c;
        return;
    }
    // pending_ starts with "=".
    const char first = pending_.size() > 1 ? pending_[1] : '\0';
    if (pending_.size() == 1) {
        if (HexDigitValue(c) >= 0 || IsBlank(c) || c == '\r') {
            pending_ += c;
        } else if (c == '\n') {
            pending_.clear(); // soft line break with a bare LF
        } else {
            out += '=';
            pending_.clear();
            Step(c, out);
        }
        return;
    }
    if (HexDigitValue(first) >= 0 && pending_.size() == 2) {
        if (HexDigitValue(c) >= 0) {
            out += static_cast<char>(HexDigitValue(first) * 16 + HexDigitValue(c));
            pending_.clear();
        } else {
            out += pending_;
            pending_.clear();
            Step(c, out);
        }
        return;
    }
    // "=" followed by blanks and perhaps a CR: a soft line break only if the line ends here.
    if (pending_.back() == '\r') {
        if (c == '\n') {
            pending_.clear();
        } else {
            out += pending_;
            pending_.clear();
            Step(c, out);
        }
        return;
    }
    if (c == '\n') {
        pending_.clear();
    } else if ((IsBlank(c) || c == '\r') && pending_.size() < kMaxPending) {
        pending_ += c;
    } else {
        out += pending_;
        pending_.clear();
        Step(c, out);
    }
}
