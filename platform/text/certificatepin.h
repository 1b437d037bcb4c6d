#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A trusted server certificate is named by the SHA-256 of its DER bytes, written as 64
// lower-case hexadecimal digits: the form Account.inf keeps ("Pin=") and the command line
// prints. People copy fingerprints from other tools in other shapes ("AB:CD:...", groups
// with blanks, upper case), so the reader takes those too.

inline constexpr std::size_t kPinDigits = 64;

// `text` as a pin: 64 hex digits, any case, colons, blanks and tabs between them ignored.
// Empty when it is not one (too few or too many digits, any other character).
inline std::string CanonicalPin(std::string_view text)
{
    std::string pin;
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '\t')
            continue;
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) || pin.size() == kPinDigits)
            return {};
        pin += c;
    }
    return pin.size() == kPinDigits ? pin : std::string();
}

// The first digits of a pin, enough to tell two apart in a message: "3fa1c2d0e4b5f607...".
inline std::string PinStart(const std::string& pin)
{
    constexpr std::size_t kShown = 16;
    return pin.size() <= kShown ? pin : pin.substr(0, kShown) + "...";
}

// The pin in pairs for reading ("3F:A1:C2:..."), as certificate viewers show it.
inline std::string PinForReading(const std::string& pin)
{
    std::string out;
    for (std::size_t i = 0; i < pin.size(); ++i) {
        if (i > 0 && i % 2 == 0)
            out += ':';
        char c = pin[i];
        out += c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}
