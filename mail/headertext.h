#pragma once

#include "messagerecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The header and first body lines of one message, as a POP3 TOP reply or an IMAP fetch
// delivers them (header lines ending in CR LF, a blank line, then the body lines if any), and
// the questions the mail clients ask about it.
//
// The header part is the text before the first "\r\n\r\n" (all of it when there is none), the
// body part the text after it. Results are bytes of the message except where a query says it
// decodes; Fill decodes and converts to UTF-8. Nothing here reads past the text, and every
// query is linear in its length. A const object may be shared between threads. A text sent
// with CR CR LF line ends (a server adding its CR to a message stored with CR LF) is read
// as if its lines ended in CR LF.
class HeaderText
{
public:
    explicit HeaderText(std::string text);

    const std::string& Text() const { return text_; }
    std::string_view HeaderPart() const;
    std::string_view BodyPart() const;

    // The value of header field `name` (compared without regard to case; it must start a line
    // and be followed directly by ":"), unfolded (RFC 5322 section 2.2.3: CR LF removed, tabs
    // made blanks, blanks trimmed at both ends, a CR without its LF dropped). `occurrence`
    // counts from 0. Empty when missing.
    std::string GetField(std::string_view name, int occurrence = 0) const;

    std::string Sender() const;  // the From field as written (encoded words not yet decoded)
    std::string Subject() const; // the Subject field as written
    // The Date field as "year-month-day time" ("2003-05-07 10:20:30"); empty when there is no
    // Date field or it has no sensible day and year.
    std::string DateText() const;
    // The body part, or empty when the header holds "Content-Disposition: ".
    std::string Preview() const;
    // "Yes" when a "Content-Disposition: " line anywhere says attachment or inline, else "No".
    std::string AttachmentFlag() const;
    // The Content-Transfer-Encoding of the message (its first body part's when the header has
    // none), as written.
    std::string TransferEncoding() const;
    // The Content-Type field before its first ";"; empty when it has no parameters.
    std::string ContentType() const;
    // The boundary parameter of the Content-Type field (quoted or not); empty when absent.
    std::string Boundary() const;
    // The charset parameter of the Content-Type field; empty when absent.
    std::string Charset() const;

    // Fills sender, subject, date, size text (when `pop3Size` is given; IMAP fills it itself),
    // preview and attachment flag of `record`, then decodes subject, sender and preview with
    // DecodeRecord; the decoded sender and subject lose trailing blanks, CRs and LFs. The
    // other slots are not touched.
    void Fill(MessageRecord& record, std::optional<uint64_t> pop3Size = std::nullopt) const;

    // Size text of a POP3 LIST size: kilobytes with two decimals, truncated ("12.34 K").
    static std::string SizeText(uint64_t octets);
    // The date display of a Date field value (see DateText).
    static std::string FormatDate(std::string_view value);
    // GetField on any header block (the header of a body part, for instance).
    static std::string FieldOf(std::string_view header, std::string_view name, int occurrence = 0);
    // The first occurrence of each of `count` fields in one pass over `header`.
    static void FieldsOf(std::string_view header, const std::string_view* names, size_t count,
                         std::string* values);
    // The value of parameter `name` in a structured field value (RFC 2045 section 5.1):
    // quoted or a token, name compared without regard to case. Empty when absent.
    static std::string Parameter(std::string_view fieldValue, std::string_view name);

private:
    std::string text_;
    size_t headerEnd_; // offset of the first "\r\n\r\n", or npos
};
