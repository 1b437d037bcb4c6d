#include "newmailmerge.h"

#include "accountnames.h"
#include "accountrecord.h"
#include "apppaths.h"
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

bool CNewMailMerge::Store(const std::string& account, const StoredMessage& message)
{
    // The account name comes from the sender's record (a plug-in's, too): it becomes a
    // path, so it must be a plain folder name.
    if (!AccountNames::IsSafeFolderName(account))
        return false;
    CMailBoxFile box;
    if (box.Open(AppPaths::MailBoxFile(account)) != 1)
        return false;
    return box.Append(message) == 1;
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
    if (!Store(record.account, stored))
        return 1;
    if (AppendUid(AppPaths::UidFile(record.account), record.uid) != 1)
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
    if (Store(r.account, stored) && headerList_)
        headerList_->AddNewMessage(r.account, stored);
    return 1;
}

int CNewMailMerge::SendWebMailMessage(const WebMailMessageRecord& r)
{
    StoredMessage stored{MessageId(), kMailTypePortalpost, kUnread,      r.from, r.subject, r.date,
                         r.size,      r.reserved,          r.attachment, "",     "",        ""};
    if (Store(r.account, stored) && headerList_)
        headerList_->AddNewMessage(r.account, stored);
    return 1;
}

int CNewMailMerge::SendSummary(const CheckResultRecord& record)
{
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
