#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The unread counts a status bar shows: per account, the stored messages (Message.box) not
// marked read, in the order of the account list, and their total.
struct UnreadCounts {
    int total = 0;
    std::vector<std::pair<std::string, int>> accounts;

    bool operator==(const UnreadCounts&) const = default;
};

// Counts the unread messages of every listed account, reading each Message.box only when it
// changed (size or modification time) since the last Count().
//
// An account without a Message.box counts 0; one whose file cannot be read keeps the count
// it had (0 when it never had one): a damaged file is the list's to report, and a bar that
// flickers to 0 tells the user nothing. Opening a Message.box may mend a torn tail, so each
// file is read under the account's lock (CAccountLock, not waiting): an account that another
// process is checking keeps its count until the next Count(). Inside one process that lock
// does not exclude, so the caller keeps its own merge out while Count() runs (the desktop
// counts on the merge's thread; --watch holds one mutex around both).
//
// Threads: one object per thread.
class UnreadCounter
{
public:
    UnreadCounts Count();

private:
    struct Seen {
        std::string name;
        off_t size = -1;
        long long modifiedNs = -1;
        int unread = 0;
    };
    std::vector<Seen> seen_;
};
