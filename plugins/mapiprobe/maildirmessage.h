#pragma once

#include "mailprovider.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// What a report needs of one Maildir message file: subject, sender, size, delivery time,
// attachment flag and the start of the body, read with the program's own header and MIME
// decoding (mail/).
//
// Only a bounded window is read (the header up to kHeaderCap, then enough of the body for the
// limit asked for), so a message of any size costs about the same; past the window the file
// is only scanned, a chunk at a time, for an attachment a multipart message may still hold
// (at most 64 MiB of it: a multipart message bigger than that counts as having one).
// A file that cannot be read whole (a read error, a file shorter than its size, a header
// without end within kHeaderCap, a file that cannot be opened at all) still gives what was
// read, with `readProblem` saying what went wrong. Stateless; any thread may call.
class MaildirMessage
{
public:
    static constexpr size_t kHeaderCap = 256 * 1024;

    // Reads the file at `path`. `expectedSize` is the size the file name promises (0: none).
    // False when the file is gone or is no regular file (a file that is there but cannot be
    // opened gives its size and time, and the reason in `readProblem`); `why` then says so. The
    // delivery time is the Date field's; the caller puts the file name's stamp first.
    static bool Read(const std::string& path, uint64_t expectedSize, uint32_t bodyLimit,
                     ProviderMessageDetails& details, std::string* why = nullptr);

    // Fills `details` from the bytes of a message (LF or CR LF line ends). `cut` says that
    // `raw` is only the start of the file, so a character split at its end is dropped, not
    // replaced. `size` is not touched.
    static void Parse(std::string_view raw, bool cut, uint32_t bodyLimit,
                      ProviderMessageDetails& details);

    // An RFC 5322 date-time (section 3.3, with the obsolete forms of section 4.3) as seconds
    // since the epoch; 0 when it is no date.
    static std::time_t ParseDate(std::string_view value);

    // The first mailbox of a From field value, as written: the display name decoded (the
    // address when there is none) and the address.
    static void SplitSender(std::string_view from, std::string& name, std::string& email);

    // `text` cut to at most `limit` bytes, at a UTF-8 character boundary.
    static std::string CutUtf8(std::string text, size_t limit);
};
