#include "unreadcounter.h"

#include "accountlist.h"
#include "accountlock.h"
#include "apppaths.h"
#include "mailboxfile.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace
{

// The header list's rule: a record is unread while its Read item says "No".
bool IsUnread(const std::string& read)
{
    return read == "No";
}

// -1 when the file cannot be read now.
int CountUnreadIn(const std::string& path)
{
    // Opening mends a torn tail, which is a write: it must not meet another process's
    // append in the middle. A busy account keeps its last count until the next round.
    CAccountLock lock;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (lock.Acquire(folder, std::chrono::milliseconds(0)) != CAccountLock::Outcome::Held)
        return -1;
    CMailBoxFile box;
    if (box.Open(path) != 1)
        return -1;
    int unread = 0;
    box.Rewind();
    while (box.Next() == 1) {
        StoredMessage m;
        if (box.ReadCurrent(m, false, false) != 1)
            return -1;
        unread += IsUnread(m.read) ? 1 : 0;
    }
    return unread;
}

} // namespace

UnreadCounts UnreadCounter::Count()
{
    std::vector<AccountListRecord> records;
    CAccountList(AppPaths::AccountListFile()).Load(records);
    std::vector<Seen> now;
    UnreadCounts counts;
    for (const AccountListRecord& r : records) {
        auto old = std::find_if(seen_.begin(), seen_.end(),
                                [&](const Seen& s) { return s.name == r.name; });
        Seen entry = old != seen_.end() ? *old : Seen{r.name};
        const std::string path = AppPaths::MailBoxFile(r.name);
        struct stat st {
        };
        if (::stat(path.c_str(), &st) != 0) {
            entry = Seen{r.name, 0, 0, 0};
        } else {
            const long long modified =
                static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
            if (st.st_size != entry.size || modified != entry.modifiedNs) {
                // Open would create a missing file; only a regular file that exists is read.
                const int unread = S_ISREG(st.st_mode) ? CountUnreadIn(path) : -1;
                if (unread >= 0) {
                    entry.unread = unread;
                    entry.size = st.st_size;
                    entry.modifiedNs = modified;
                }
            }
        }
        counts.total += entry.unread;
        counts.accounts.emplace_back(r.name, entry.unread);
        now.push_back(std::move(entry));
    }
    seen_ = std::move(now);
    return counts;
}
