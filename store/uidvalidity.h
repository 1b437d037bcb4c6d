#pragma once

#include <cstdint>
#include <string>

// Mail/<name>/UidValidity: the UIDVALIDITY (RFC 3501 section 2.3.1.1) of the IMAP4 INBOX whose
// UIDs UID.inf holds. A server that rebuilds or moves a mailbox gives it a new one and may
// number its messages from the start again: the UIDs recorded before then name other
// messages, so a check must not take them as seen nor follow read state by them. Such a
// check has the IMAP4 records of Message.box unlinked (CMailBoxFile::ForgetUids) and UID.inf
// replaced (ReplaceUids) before the new value is written here.
//
// One line, the number in decimal. Written atomically (0600) under the account's lock. A file
// that is missing, damaged or holds 0 (not a valid UIDVALIDITY) reads as 0: not known.
uint32_t ReadUidValidity(const std::string& account);
// True once `validity` is on disk; false with a readable reason in *error.
bool WriteUidValidity(const std::string& account, uint32_t validity, std::string* error = nullptr);
