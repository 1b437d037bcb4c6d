#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// UID.inf: the unique identifiers of every POP3/IMAP4 message ever stored for an account,
// in the order they were stored, each followed by one backslash; no line ends, no count.
// The file only grows, but for a mailbox the server renumbered (ReplaceUids). A check
// reports a server message only when its identifier is not in this list.
//
// Backslashes. The separator cannot appear inside an identifier, yet POP3 UIDL identifiers
// may be any of 0x21..0x7E (RFC 1939 section 7), backslash included. Such an identifier is
// stored with each backslash written as the byte 0x7F, which no valid identifier contains,
// and the reader turns 0x7F back into a backslash; so the message is reported once and
// then never again. An identifier that itself contains 0x7F, is empty or is longer than
// kMaxUidLength is refused (IsStorableUid); callers skip such a message rather than report
// it at every check.
//
// Crash safety. One append is one write() of the identifiers, each with its backslash. A crash
// inside it leaves a torn tail (bytes after the last backslash): the reader ignores it and
// the next append cuts it before writing, so it can never merge with the next identifier.
// Appends take an exclusive flock, so writers in other processes do not interleave.
//
// Files are created with mode 0600. All functions are thread-safe for different paths; for
// one path the flock orders appends. Results: 1 success, 0 failure with a readable reason in
// *error when given.

inline constexpr size_t kMaxUidLength = 1024;

bool IsStorableUid(std::string_view uid);

int AppendUid(const std::string& path, const std::string& uid, std::string* error = nullptr);
// Appends several identifiers in order with one write and one flush (a crash leaves a
// prefix of them, the last one possibly torn). Identifiers IsStorableUid refuses are left
// out and make the result 0 (the others are still appended); an empty list gives 1.
int AppendUids(const std::string& path, const std::vector<std::string>& uids,
               std::string* error = nullptr);
// Replaces the whole list with `uids` (temporary file, flushed, renamed over the old one,
// folder flushed: a crash leaves the old list or the new one). For a mailbox the server
// renumbered, whose old identifiers now name other messages. Identifiers IsStorableUid
// refuses are left out and make the result 0 (the others are written).
int ReplaceUids(const std::string& path, const std::vector<std::string>& uids,
                std::string* error = nullptr);

// Whether identifiers can be appended now: creates the file when there is none and opens
// it for writing. A file without its owner's write permission counts as read only even
// for a user whom permissions do not bind (root), since someone made it so on purpose.
// 0 with the reason in *error.
int CheckUidFileWritable(const std::string& path, std::string* error = nullptr);

// Creates an empty file when there is none (the folder must exist). Replaces `list`.
int ReadUids(const std::string& path, std::vector<std::string>& list, std::string* error = nullptr);

// The reader's parse over bytes already in memory (ReadUids uses it; so does the fuzzer).
void ParseUids(std::string_view bytes, std::vector<std::string>& list);
