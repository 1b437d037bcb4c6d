#include "accountreadmarker.h"

#include "accountlock.h"
#include "mailboxfile.h"

#include <filesystem>
#include <sys/stat.h>
#include <unordered_set>

int AccountReadMarker::MarkAllRead(const std::string& mailBoxPath, std::string* error)
{
    struct stat st {
    };
    if (::stat(mailBoxPath.c_str(), &st) != 0)
        return 0; // nothing stored yet; Open would create the file
    const std::string folder = std::filesystem::path(mailBoxPath).parent_path().string();
    CAccountLock lock;
    if (lock.Acquire(folder.empty() ? "." : folder) != CAccountLock::Outcome::Held) {
        *error = "the account is being checked; try again in a moment";
        return -1;
    }
    CMailBoxFile box;
    if (box.Open(mailBoxPath) != 1) {
        *error = box.LastError();
        return -1;
    }
    std::unordered_set<std::string> unread;
    box.Rewind();
    while (box.Next() == 1) {
        StoredMessage m;
        if (box.ReadCurrent(m, false, false) != 1) {
            *error = box.LastError();
            return -1;
        }
        if (m.read == "No")
            unread.insert(m.messageId);
    }
    if (unread.empty())
        return 0;
    if (box.SetRead(unread, "Yes") != 1) {
        *error = box.LastError();
        return -1;
    }
    return static_cast<int>(unread.size());
}
