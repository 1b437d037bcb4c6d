#pragma once

#include "messagerecord.h"

#include <string>

// The message the crash helper stores as the store's n-th record: every field derives from
// n, so a reader can tell a whole record from a damaged one.
inline StoredMessage CrashMessage(unsigned n)
{
    const std::string k = std::to_string(n);
    StoredMessage m;
    m.messageId = "c0000000-0000-4000-8000-" + std::string(12 - k.size(), '0') + k;
    m.mailType = n % 2 ? "IMAP4" : "POP3";
    m.read = "No";
    m.sender = "Sender " + k + " <sender" + k + "@example.org>";
    m.subject = "Crash test message number " + k;
    m.date = "Mon, 7 Dec 2026 12:00:00";
    m.size = std::to_string(2000 + n);
    m.preview = std::string(200 + n % 900, static_cast<char>('a' + n % 26));
    m.attachment = n % 3 ? "No" : "Yes";
    m.uid = "UID" + k;
    return m;
}
