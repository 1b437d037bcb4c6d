#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// The name of one message file in a Maildir: "<unique>[:2,<flags>]".
//
// The unique part (before the first ':') names the message for its whole life: a mail client
// that moves it from new/ to cur/ or changes its flags keeps it and only rewrites the info
// after ":2,". Flags are single characters, upper-case letters in ASCII order (D draft,
// F flagged, P passed, R replied, S seen, T trashed); lower-case letters are a server's
// keywords and are kept as they are. The unique part usually starts with the delivery time in
// seconds since the epoch ("1733600000.M2P3.host"), which Stamp() reads.
//
// Names come from the file system and may hold any bytes: nothing here reads past them or
// trusts them, and Valid() says whether a name can be a message at all. Pure functions.
class MaildirName
{
public:
    explicit MaildirName(std::string_view fileName);

    // False for names that are no message: empty, hidden (".", "..", ".nfs..."), or holding
    // '/' or NUL.
    bool Valid() const { return valid_; }
    const std::string& Unique() const { return unique_; }
    // The flag letters after ":2,"; empty without them (or with info of another version).
    const std::string& Flags() const { return flags_; }
    bool HasFlag(char flag) const;

    // Unread: every message in new/ and, in cur/, one without the seen flag "S"; a message
    // marked trashed ("T") is never unread.
    bool Unread(bool inNew) const;

    // The delivery time at the start of the unique part, or 0 when it has none that makes
    // sense (not all digits up to the first '.', more than 11 digits, or 0).
    std::time_t Stamp() const;

    // The size a delivery agent wrote into the unique part (",S=<bytes>"), or 0.
    uint64_t SizeHint() const;

    // The file name with `flag` added to the info (":2," made when missing), upper-case flags
    // kept in ASCII order.
    std::string WithFlag(char flag) const;

    // Whether `entryId` can be a unique part: not empty, not hidden, no '/', ':' or NUL. An
    // identifier handed back by a caller goes through this before it reaches a path.
    static bool ValidUnique(std::string_view entryId);

private:
    bool valid_ = false;
    std::string unique_;
    std::string flags_;
};
