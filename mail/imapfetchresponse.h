#pragma once

#include "imapreplyparser.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

// The parts of one untagged IMAP FETCH response (RFC 3501 section 7.4.2) that a check uses:
//     * 12 FETCH (UID 4711 RFC822.SIZE 2210 BODY[HEADER] {342}<literal> BODY[TEXT]<0> {2048}...)
// Strings may come as literals, quoted strings or NIL; other items (FLAGS, ENVELOPE...) are
// skipped, nested lists included. A UID or size that is not a plain number is left unset:
// such a UID must never reach a UID STORE ("1:*" would name every message).
struct ImapFetchResponse {
    uint32_t sequence = 0;
    std::optional<uint32_t> uid;
    std::optional<uint64_t> size;
    std::optional<std::string> header; // BODY[HEADER] (also RFC822.HEADER)
    std::optional<std::string> text;   // BODY[TEXT] or BODY[TEXT]<origin>

    // False when `response` is not a FETCH response or its item list is malformed.
    static bool Parse(const ImapResponse& response, ImapFetchResponse& out);
};

// The capability names (upper case) of an untagged "* CAPABILITY ..." response or of a
// "[CAPABILITY ...]" response code anywhere in `text` (a greeting, a tagged OK). False when
// `text` holds neither.
bool ParseImapCapabilities(std::string_view text, std::unordered_set<std::string>& out);

// A number of at most 10 digits that fits 32 bits and is not 0 (RFC 3501 nz-number).
std::optional<uint32_t> ParseImapNumber(std::string_view word);

// `value` as an IMAP astring argument (RFC 3501 section 9): a quoted string when every byte
// is printable ASCII, else nothing (the caller must send a literal). Never for CR, LF, NUL.
std::optional<std::string> ImapQuoted(std::string_view value);
