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

namespace
{
constexpr char kUnread[] = "No";
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

bool CNewMailMerge::Store(const std::string& account, const StoredMessage& message,
                          const std::string& uid)
{
    // The account name comes from the sender's record (a plug-in's, too): it becomes a
    // path, so it must be a plain folder name.
    if (!AccountNames::IsSafeFolderName(account))
        return false;
    auto it = pending_.find(account);
    if (it != pending_.end() && !it->second.box->IsCurrent()) {
        // Replaced (the header list removed messages) or grown by another writer: commit
        // what waits and start afresh from a new Open.
        Commit(account);
        it = pending_.end();
    }
    if (it == pending_.end()) {
        auto box = std::make_unique<CMailBoxFile>();
        if (box->Open(AppPaths::MailBoxFile(account)) != 1)
            return false;
        it = pending_.emplace(account, Pending{std::move(box), {}}).first;
    }
    // On failure nothing of this message was kept; what waits from before stays whole.
    if (it->second.box->AppendUnflushed(message) != 1)
        return false;
    if (!uid.empty())
        it->second.uids.push_back(uid);
    return true;
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
    const bool durable = p.box->Flush() == 1;
    p.box->Close();
    if (!durable || p.uids.empty())
        return; // not durable: the identifiers stay out, the messages come again
    CrashPoint("merge.commit.flushed");
    (void)AppendUids(AppPaths::UidFile(account), p.uids);
}

void CNewMailMerge::CommitAll()
{
    while (!pending_.empty())
        Commit(pending_.begin()->first);
}

int CNewMailMerge::SendNewMessage(uint32_t kind, const MessageRecord& record)
{
    const char* mailType = kind == CopyDataKind::kPop3Message    ? kMailTypePop3
                           : kind == CopyDataKind::kImap4Message ? kMailTypeImap4
                                                                 : nullptr;
    // An identifier UID.inf cannot hold would be stored again at every check.
    if (!mailType || !IsStorableUid(record.uid))
        return 1;
    StoredMessage stored = CMailBoxFile::FromMessageRecord(MessageId(), mailType, kUnread, record);
    if (!Store(record.account, stored, record.uid))
        return 1;
    if (headerList_)
        headerList_->AddNewMessage(record.account, stored);
    return 1;
}

int CNewMailMerge::SendExchangeMessage(const ExchangeMessageRecord& r)
{
    StoredMessage stored{
        MessageId(), kMailTypeExchange, kUnread, r.from,   r.subject, r.date, r.size,
        r.body,      r.attachment,      "",      r.folder, r.store};
    if (Store(r.account, stored, "") && headerList_)
        headerList_->AddNewMessage(r.account, stored);
    return 1;
}

int CNewMailMerge::SendWebMailMessage(const WebMailMessageRecord& r)
{
    StoredMessage stored{MessageId(), kMailTypePortalpost, kUnread,      r.from, r.subject, r.date,
                         r.size,      r.reserved,          r.attachment, "",     "",        ""};
    if (Store(r.account, stored, "") && headerList_)
        headerList_->AddNewMessage(r.account, stored);
    return 1;
}

int CNewMailMerge::SendSummary(const CheckResultRecord& record)
{
    Commit(record.account);
    if (state_.checkingEnabled.load() != 0 && notification_)
        notification_->Notify(record.account, record.newCount, record.result);
    return 1;
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
