#pragma once

#include <string>

// "Mark as read" of a desktop notice: every message of one Message.box that is not marked
// read becomes read, as the header list's Mark Read stores it ("Yes").
//
// Takes the account's lock (CAccountLock) like every writer of the file, so a running check
// in any process is never written under; the change is CMailBoxFile::SetRead's in-place
// write of each record's Read item. A missing file marks nothing and succeeds.
// Returns the number of messages marked, or -1 with `error` set (the lock is held by a
// check that does not end in time, the file cannot be read or written).
// Threads: any; one call per file at a time is the lock's business.
class AccountReadMarker
{
public:
    static int MarkAllRead(const std::string& mailBoxPath, std::string* error);
};
