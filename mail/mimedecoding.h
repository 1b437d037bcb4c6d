#pragma once

#include "messagerecord.h"

#include <string>
#include <string_view>

// Decoding of what HeaderText found: RFC 2047 encoded words in header values, and the first
// lines of the body (the first part of a multipart body, its base64 or quoted-printable
// transfer encoding undone). Every result is UTF-8: text is converted from the character set
// it names; text that names none is kept when it is UTF-8 and read as windows-1252 otherwise.
//
// Free functions without shared state (iconv descriptors are cached per thread): any thread
// may call them at once. Each is linear in its input, never throws and never reads past it.

// RFC 2047: every well-formed encoded word in a character set iconv knows is decoded; white
// space between adjacent encoded words goes (section 6.2); adjacent words in one character set
// are joined before conversion, so a character split between them comes out whole. A word in
// an unknown character set, or a malformed one, stays as written.
std::string DecodeWords(std::string_view text);

// Transfer encodings (RFC 2045 sections 6.7, 6.8); bytes in, bytes out.
std::string DecodeBase64(std::string_view bytes);
std::string DecodeQuotedPrintable(std::string_view bytes);

// The first leaf part of a multipart body (RFC 2046 section 5.1), descending into nested
// multiparts. `found` is false when the delimiter (or a nested one) does not occur; `body` is
// then empty. The closing delimiter may be missing: the text is usually cut short.
struct FirstPartResult {
    bool found = false;
    std::string body;             // the part's text after its header, still transfer-encoded
    std::string transferEncoding; // the part's Content-Transfer-Encoding, empty when absent
    std::string charset;          // the part's charset parameter, empty when absent
};
FirstPartResult FirstPart(std::string_view body, std::string_view boundary);

// Rewrites the subject, then the sender with DecodeWords, then, when it is not empty, the
// preview: the first part of a multipart body (content type contains "multipart"), its
// transfer encoding undone, converted from `charset` (the part's own when it names one).
void DecodeRecord(MessageRecord& record, std::string_view transferEncoding,
                  std::string_view contentType, std::string_view boundary,
                  std::string_view charset = {});
