#include "seenuids.h"

#include "mailboxfile.h"
#include "uidfile.h"

#include <cerrno>
#include <sys/stat.h>
#include <vector>

SeenUids::Outcome SeenUids::Fail(Outcome outcome, std::string text)
{
    error_ = std::move(text);
    return outcome;
}

SeenUids::Outcome SeenUids::Load(const std::string& mailBoxPath, const std::string& uidPath)
{
    uids_.clear();
    recovered_ = 0;
    error_.clear();
    std::string error;
    if (CheckUidFileWritable(uidPath, &error) != 1)
        return Fail(Outcome::UidFileNotWritable,
                    "cannot write the list of seen messages: " + error);
    std::vector<std::string> list;
    if (ReadUids(uidPath, list, &error) != 1)
        return Fail(Outcome::UidFileUnreadable, "cannot read the list of seen messages: " + error);
    uids_.reserve(list.size());
    for (std::string& uid : list)
        uids_.insert(std::move(uid));

    struct stat st {
    };
    if (::stat(mailBoxPath.c_str(), &st) != 0 && errno == ENOENT)
        return Outcome::Ready;
    CMailBoxFile box;
    if (box.Open(mailBoxPath) != 1)
        return Fail(Outcome::MailBoxUnusable, box.LastError());
    std::vector<std::string> missing;
    StoredMessage m;
    while (box.Next() == 1) {
        if (box.ReadCurrent(m, true, false) != 1)
            return Fail(Outcome::MailBoxUnusable, box.LastError());
        if (m.mailType == "IMAP4" && IsStorableUid(m.uid)) {
            storedImap_.insert(m.uid);
            if (m.read == "Yes")
                readImap_.insert(m.uid);
        }
        if ((m.mailType == "POP3" || m.mailType == "IMAP4") && IsStorableUid(m.uid) &&
            uids_.insert(m.uid).second)
            missing.push_back(std::move(m.uid));
    }
    if (!box.LastError().empty())
        return Fail(Outcome::MailBoxUnusable, box.LastError());
    if (missing.empty())
        return Outcome::Ready;
    if (AppendUids(uidPath, missing, &error) != 1)
        return Fail(Outcome::RecoveryFailed, "cannot write the list of seen messages: " + error);
    recovered_ = missing.size();
    return Outcome::Ready;
}
