#include "newmailmerge.h"

#include "accountnames.h"
#include "accountrecord.h"
#include "apppaths.h"
#include "crashpoint.h"
#include "enginestate.h"
#include "frontwindowtarget.h"
#include "headerlisttarget.h"
#include "mailboxfile.h"
#include "messageid.h"
#include "notificationtarget.h"
#include "uidfile.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unordered_set>

namespace
{
constexpr char kUnread[] = "No";

// A failed append may still have written the identifiers (only their flush failed), or its
// state may be unknown: taking their messages back out would then hide them for good, so
// they stay unless UID.inf can be read and holds none of them.
bool AnyRecorded(const std::string& uidPath, const std::vector<std::string>& uids)
{
    std::vector<std::string> list;
    if (ReadUids(uidPath, list) != 1)
        return true;
    const std::unordered_set<std::string> recorded(list.begin(), list.end());
    return std::any_of(uids.begin(), uids.end(),
                       [&](const std::string& u) { return recorded.count(u) != 0; });
}
} // namespace

CNewMailMerge::CNewMailMerge(const CEngineState& state, HeaderListTarget* headerList,
                             NotificationTarget* notification, FrontWindowTarget* front)
    : state_(state), headerList_(headerList), notification_(notification), front_(front)
{
}

CNewMailMerge::~CNewMailMerge()
{
    CommitAll();
}

void CNewMailMerge::NoteFailure(const std::string& account, const std::string& reason)
{
    Tally& t = tallies_[account];
    if (t.failure.empty())
        t.failure = reason;
}

bool CNewMailMerge::Store(const std::string& account, const StoredMessage& message,
                          const std::string& uid)
{
    // The account name comes from the sender's record (a plug-in's, too): it becomes a
    // path, so it must be a plain folder name.
    if (!AccountNames::IsSafeFolderName(account)) {
        NoteFailure(account, "cannot store a message for \"" + account +
                                 "\": the name cannot be an account folder");
        return false;
    }
    auto it = pending_.find(account);
    if (it != pending_.end() && !it->second.box->IsCurrent()) {
        // Replaced (the header list removed messages) or grown by another writer: commit
        // what waits and start afresh from a new Open.
        Commit(account);
        it = pending_.end();
    }
    if (it == pending_.end()) {
        Pending p;
        std::string error;
        switch (p.lock.Acquire(AppPaths::AccountDir(account), CAccountLock::kDefaultWait, &error)) {
        case CAccountLock::Outcome::Held:
            break;
        case CAccountLock::Outcome::Busy:
            NoteFailure(account, "cannot store the message: " + CAccountLock::BusyMessage(account) +
                                     " by another program");
            return false;
        case CAccountLock::Outcome::Failed:
            NoteFailure(account, "cannot store the message: " + error);
            return false;
        }
        p.box = std::make_unique<CMailBoxFile>();
        if (p.box->Open(AppPaths::MailBoxFile(account)) != 1) {
            NoteFailure(account, p.box->LastError());
            return false;
        }
        p.start = p.box->End();
        it = pending_.emplace(account, std::move(p)).first;
    }
    // On failure nothing of this message was kept; what waits from before stays whole.
    if (it->second.box->AppendUnflushed(message) != 1) {
        NoteFailure(account, it->second.box->LastError());
        return false;
    }
    if (!uid.empty())
        it->second.uids.push_back(uid);
    it->second.messageIds.push_back(message.messageId);
    ++tallies_[account].kept;
    return true;
}

std::string CNewMailMerge::TakeBack(const std::string& account, Pending& p)
{
    const size_t n = p.messageIds.size();
    const std::string what = std::to_string(n) + (n == 1 ? " message" : " messages");
    // Cutting needs no free space, so it works on the full disk that made the commit
    // fail; a removal rewrites the file and is only for a file someone replaced.
    bool out = p.box->IsOpen() && p.box->CutBack(p.start) == 1;
    std::string why = p.box->LastError();
    if (!out) {
        CMailBoxFile box;
        const std::unordered_set<std::string> ids(p.messageIds.begin(), p.messageIds.end());
        out = box.Open(AppPaths::MailBoxFile(account)) == 1 && box.Delete(ids) == 1;
        why = box.LastError();
    }
    p.box->Close();
    if (!out)
        return "; the " + what + " of this check could not be taken back out (" + why +
               ") and will not be reported again";
    Tally& t = tallies_[account];
    t.kept -= static_cast<int32_t>(std::min<size_t>(n, static_cast<size_t>(t.kept)));
    if (headerList_)
        headerList_->RemoveNewMessages(account, p.messageIds);
    return "; the " + what + " of this check were taken back out and will be reported again";
}

void CNewMailMerge::Commit(std::string account)
{
    auto it = pending_.find(account);
    if (it == pending_.end())
        return;
    Pending p = std::move(it->second);
    pending_.erase(it);
    // Our descriptor may name a file that a removal has replaced since: that rewrite
    // copied our (counted) records and flushed the copy before its rename, so flushing
    // our descriptor covers both cases.
    if (p.box->Flush() != 1) {
        const std::string reason = p.box->LastError();
        if (p.uids.empty()) {
            // A plug-in's records: the plug-in keeps its own list of what it reported and has
            // already written these into it, so taking them back would lose them for good.
            // They were written and counted; only their flush failed.
            NoteFailure(account, reason + "; this check's messages stay stored");
            p.box->Close();
            return;
        }
        NoteFailure(account, reason + TakeBack(account, p));
        return;
    }
    if (p.uids.empty()) {
        p.box->Close();
        return;
    }
    CrashPoint("merge.commit.flushed");
    std::string error;
    if (AppendUids(AppPaths::UidFile(account), p.uids, &error) != 1) {
        const std::string reason = "cannot write the list of seen messages: " + error;
        if (AnyRecorded(AppPaths::UidFile(account), p.uids)) {
            NoteFailure(account, reason + "; this check's messages stay stored");
        } else {
            NoteFailure(account, reason + TakeBack(account, p));
            return;
        }
    }
    p.box->Close();
}

void CNewMailMerge::CommitAll()
{
    while (!pending_.empty())
        Commit(pending_.begin()->first);
}

int CNewMailMerge::Deliver(const std::string& account, StoredMessage& message,
                           const std::string& uid)
{
    if (!Store(account, message, uid))
        return kNotStored;
    if (headerList_)
        headerList_->AddNewMessage(account, message);
    return kHandled;
}

int CNewMailMerge::SendNewMessage(uint32_t kind, const MessageRecord& record)
{
    const char* mailType = kind == CopyDataKind::kPop3Message    ? kMailTypePop3
                           : kind == CopyDataKind::kImap4Message ? kMailTypeImap4
                                                                 : nullptr;
    // An identifier UID.inf cannot hold would be stored again at every check.
    if (!mailType || !IsStorableUid(record.uid))
        return kHandled;
    StoredMessage stored = CMailBoxFile::FromMessageRecord(MessageId(), mailType, kUnread, record);
    return Deliver(record.account, stored, record.uid);
}

int CNewMailMerge::SendExchangeMessage(const ExchangeMessageRecord& r)
{
    StoredMessage stored{
        MessageId(), kMailTypeExchange, kUnread, r.from,   r.subject, r.date, r.size,
        r.body,      r.attachment,      "",      r.folder, r.store};
    return Deliver(r.account, stored, "");
}

int CNewMailMerge::SendWebMailMessage(const WebMailMessageRecord& r)
{
    StoredMessage stored{MessageId(), kMailTypePortalpost, kUnread,      r.from, r.subject, r.date,
                         r.size,      r.reserved,          r.attachment, "",     "",        ""};
    tallies_[r.account].webMail = true;
    return Deliver(r.account, stored, "");
}

int CNewMailMerge::SendSummary(const CheckResultRecord& record)
{
    Commit(record.account);
    CheckResultRecord summary = record;
    auto t = tallies_.find(record.account);
    if (t != tallies_.end()) {
        if (!t->second.failure.empty()) {
            // A message that was delivered but not kept makes the check a failure, however
            // the session with the server ended.
            summary.result =
                t->second.webMail ? WebMailResult::kFailed : CheckResult::kFailedAfterLogin;
            summary.newCount = t->second.kept;
            summary.message = t->second.failure;
            summary.serverReason = false;
        }
        tallies_.erase(t);
    }
    if (state_.checkingEnabled.load() != 0 && notification_)
        notification_->NotifySummary(summary);
    return kHandled;
}

int CNewMailMerge::SendServerState(const ServerStateRecord& record)
{
    const std::string& account = record.account;
    if (!AccountNames::IsSafeFolderName(account) || (record.seen.empty() && record.gone.empty()))
        return kHandled;
    if (pending_.count(account) != 0)
        Commit(account);
    CAccountLock lock;
    if (lock.Acquire(AppPaths::AccountDir(account)) != CAccountLock::Outcome::Held)
        return kHandled;
    CMailBoxFile box;
    if (box.Open(AppPaths::MailBoxFile(account)) != 1)
        return kHandled;
    // Only IMAP4 records: a UID of another kind of message that happens to match is not the
    // server's.
    const std::unordered_set<std::string> seen(record.seen.begin(), record.seen.end());
    const std::unordered_set<std::string> gone(record.gone.begin(), record.gone.end());
    std::unordered_set<std::string> readIds;
    std::unordered_set<std::string> goneIds;
    StoredMessage m;
    while (box.Next() == 1) {
        if (box.ReadCurrent(m, true, false) != 1)
            return kHandled;
        if (m.mailType != kMailTypeImap4)
            continue;
        if (gone.count(m.uid) != 0)
            goneIds.insert(m.messageId);
        else if (seen.count(m.uid) != 0 && m.read != "Yes")
            readIds.insert(m.messageId);
    }
    if (!readIds.empty() && box.SetRead(readIds, "Yes") != 1)
        readIds.clear();
    if (!goneIds.empty() && box.Delete(goneIds) != 1)
        goneIds.clear();
    if (headerList_ && (!readIds.empty() || !goneIds.empty()))
        headerList_->FollowServer(account, {readIds.begin(), readIds.end()},
                                  {goneIds.begin(), goneIds.end()});
    return kHandled;
}

int CNewMailMerge::SendMailboxRenumbered(const std::string& account)
{
    if (!AccountNames::IsSafeFolderName(account)) {
        NoteFailure(account, "cannot unlink the stored messages of \"" + account +
                                 "\": the name cannot be an account folder");
        return kNotStored;
    }
    if (pending_.count(account) != 0)
        Commit(account);
    CAccountLock lock;
    std::string error;
    switch (lock.Acquire(AppPaths::AccountDir(account), CAccountLock::kDefaultWait, &error)) {
    case CAccountLock::Outcome::Held:
        break;
    case CAccountLock::Outcome::Busy:
        NoteFailure(account, "cannot unlink the stored messages from the server: " +
                                 CAccountLock::BusyMessage(account) + " by another program");
        return kNotStored;
    case CAccountLock::Outcome::Failed:
        NoteFailure(account, "cannot unlink the stored messages from the server: " + error);
        return kNotStored;
    }
    // Nothing stored, nothing to unlink; Open would create the file.
    struct stat st {
    };
    const std::string path = AppPaths::MailBoxFile(account);
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return kHandled;
    CMailBoxFile box;
    if (box.Open(path) != 1 || box.ForgetUids(kMailTypeImap4) != 1) {
        NoteFailure(account, box.LastError());
        return kNotStored;
    }
    return kHandled;
}

int CNewMailMerge::SendText(const CheckResultRecord& record)
{
    if (state_.checkingEnabled.load() != 0 && notification_)
        notification_->ShowText(record.account);
    return 1;
}

int CNewMailMerge::SendCheckAnimation(bool on)
{
    if (front_)
        front_->CheckAnimation(on);
    return 1;
}

void CNewMailMerge::PostClose()
{
    if (front_)
        front_->Close();
}
