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
// flickers to 0 tells the user nothing. Reading takes no lock and writes nothing: a writer
// raises the record count last, so a reader sees whole records only.
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
