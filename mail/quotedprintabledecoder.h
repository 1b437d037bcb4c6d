#pragma once

#include <string>
#include <string_view>

// Incremental quoted-printable decoder (RFC 2045 section 6.7).
//
// "=" and two hexadecimal digits (either case) give one byte; "=" at a line end (CR LF or a
// bare LF, after optional blanks) is a soft line break and vanishes; any other "=" is kept as
// written. An "=" left incomplete at the end of the input is dropped (the text was cut short).
// Feeding the input in any split gives the same bytes as feeding it whole.
// Not thread-safe; one object per stream.
class QuotedPrintableDecoder
{
public:
    // Appends the bytes decoded from `chunk` to `out`.
    void Feed(std::string_view chunk, std::string& out);
    // Ends the input: whatever is still held back is dropped.
    void Finish() { pending_.clear(); }
    void Reset() { pending_.clear(); }

private:
    void Step(char c, std::string& out);

    // The "=" sequence not yet decided: "=" then at most two more characters, or "=" then
    // blanks (capped: a long run of blanks cannot be a soft line break any more).
    std::string pending_;
};
