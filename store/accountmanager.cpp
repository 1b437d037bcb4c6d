#include "accountmanager.h"

#include "accountfile.h"
#include "accountlist.h"
#include "accountlock.h"
#include "accountmoves.h"
#include "accountnames.h"
#include "accountrecord.h"
#include "apppaths.h"
#include "atomicfilewriter.h"
#include "dialoguebox.h"
#include "resourcelibrary.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace
{

// Per thread: how deep this thread holds each lock (both locks are recursive).
thread_local int tTableDepth = 0;
thread_local int tRenameDepth = 0;
std::atomic<int> gLockOrderViolations{0};

// Moves an account's folder. An account without a folder has nothing to move; any other
// failure is reported, so that the name and the files never part.
bool RenameFolder(const std::string& from, const std::string& to, std::string* error)
{
    const std::string src = AppPaths::AccountDir(from);
    const std::string dst = AppPaths::AccountDir(to);
    struct stat st {
    };
    if (::lstat(src.c_str(), &st) != 0 && errno == ENOENT)
        return true;
    // rename() would replace an empty folder of the new name silently and fail on a full
    // one; either way that folder is not this account's.
    if (::lstat(dst.c_str(), &st) == 0) {
        if (error)
            *error = "The folder " + dst + " is in the way; move it elsewhere and try again.";
        return false;
    }
    if (std::rename(src.c_str(), dst.c_str()) != 0) {
        if (error)
            *error = "Cannot rename " + src + ": " + std::strerror(errno);
        return false;
    }
    SyncParentDirectory(dst);
    return true;
}

} // namespace

CAccountManager::TableGuard::TableGuard(const CAccountManager& m) : m_(m)
{
    if (tRenameDepth > 0 && tTableDepth == 0) {
        ++gLockOrderViolations;
        std::fprintf(stderr, "account table: table lock taken while holding the rename lock\n");
    }
    m_.tableLock_.lock();
    ++tTableDepth;
}

CAccountManager::TableGuard::~TableGuard()
{
    --tTableDepth;
    m_.tableLock_.unlock();
}

CAccountManager::RenameGuard::RenameGuard(const CAccountManager& m) : m_(m)
{
    m_.renameLock_.lock();
    ++tRenameDepth;
}

CAccountManager::RenameGuard::~RenameGuard()
{
    --tRenameDepth;
    m_.renameLock_.unlock();
}

int CAccountManager::LockOrderViolations()
{
    return gLockOrderViolations.load();
}

CAccountManager::CAccountManager(std::shared_ptr<const AccountPlugins> plugins)
{
    SetPlugins(std::move(plugins));
}

void CAccountManager::SetPlugins(std::shared_ptr<const AccountPlugins> plugins)
{
    TableGuard guard(*this);
    plugins_ = plugins ? std::move(plugins) : std::make_shared<AccountPlugins>();
}

AccountEntry* CAccountManager::Find(const std::string& name)
{
    auto it = std::find_if(rows_.begin(), rows_.end(),
                           [&](const AccountEntry& e) { return e.name == name; });
    return it == rows_.end() ? nullptr : &*it;
}

const AccountEntry* CAccountManager::Find(const std::string& name) const
{
    return const_cast<CAccountManager*>(this)->Find(name);
}

template <class F> int CAccountManager::WithRow(const std::string& name, F&& f)
{
    TableGuard guard(*this);
    AccountEntry* row = Find(name);
    if (!row)
        return 0;
    f(*row);
    return 1;
}

int CAccountManager::LoadAll(const std::string& defaultExchange, int autoStartExchange,
                             std::string* error)
{
    CAccountList list(AppPaths::AccountListFile());
    std::vector<AccountListRecord> records;
    {
        // Edits that a killed process left half done are settled before anyone reads the
        // folders; the list decides which side of each wins.
        CAccountList::WriteLock listLock(list.Path());
        if (!list.Load(records)) {
            if (error)
                *error = list.Error();
            return 0;
        }
        std::vector<std::string> names;
        for (const auto& r : records)
            names.push_back(r.name);
        CAccountMoves(list.Path()).Recover(names, AppPaths::MailDir());
    }
    TableGuard guard(*this);
    for (const auto& r : records) {
        // A name that cannot be a folder ("..", "a/b", empty) would point the account's
        // files outside the mail folder: leave such a record out.
        if (!AccountNames::IsSafeFolderName(r.name))
            continue;
        int atRest = (r.name == defaultExchange && autoStartExchange != 0) ? 0 : 1;
        EnterOrRequest(r.name, atRest, &r.accessPassword, &r.passwordCopy, 0);
    }
    return 1;
}

int CAccountManager::EnterOrRequest(const std::string& name, int atRest,
                                    const std::string* accessPassword,
                                    const std::string* passwordCopy, int trusted)
{
    if (!AccountNames::IsSafeFolderName(name))
        return kEnterRefused;
    TableGuard guard(*this);
    if (AccountEntry* row = Find(name)) {
        if (!row->IsIdle())
            return kEnterUnchanged; // requests are not queued
        row->checkState = CheckState::Requested;
        return kEnterRequested;
    }

    AccountRecord record;
    record.name = name;
    // Without its Account.inf the row has empty fields; an empty password copy would match
    // them, so only a trusted row counts as usable then.
    const bool readable = CAccountFile::ReadAccountFile(AppPaths::AccountFile(name), record) == 1;

    AccountEntry row;
    row.name = name;
    row.checkState = atRest ? CheckState::Idle : CheckState::Requested;
    row.periodMinutes = DerivedPeriodMinutes(record);
    row.specifiedSeconds = DerivedSpecifiedSeconds(record);
    row.kind = DerivedKind(record);
    // An OAuth 2.0 account's password slot holds its refresh token, which changes and does
    // not fit the account list: its copy there stays empty.
    const std::string expectedCopy = UsesOAuthSignIn(record) ? std::string() : record.password;
    row.usable = trusted ? 1 : (readable && passwordCopy && *passwordCopy == expectedCopy) ? 1 : 0;
    if (row.kind == kKindExchange) {
        if (!plugins_->MapiPresent()) {
            row.usable = 0;
        } else {
            auto profiles = plugins_->Profiles();
            if (std::find(profiles.begin(), profiles.end(), record.server) == profiles.end())
                row.usable = 0;
        }
    } else if (row.kind == kKindWebMail) {
        auto categories = plugins_->PortalpostCategories();
        if (std::find(categories.begin(), categories.end(), record.server) == categories.end())
            row.usable = 0;
    }
    row.accessPassword = accessPassword ? *accessPassword : std::string();
    rows_.push_back(std::move(row));
    return kEnterAdded;
}

int CAccountManager::Remove(const std::string& name)
{
    TableGuard guard(*this);
    auto it = std::find_if(rows_.begin(), rows_.end(),
                           [&](const AccountEntry& e) { return e.name == name; });
    if (it == rows_.end())
        return 0;
    rows_.erase(it);
    return 1;
}

int CAccountManager::Rename(const std::string& oldName, const std::string& newName,
                            std::string* error)
{
    if (!AccountNames::IsSafeFolderName(newName))
        return kRenameNothing;
    TableGuard guard(*this);
    if (AccountEntry* row = Find(oldName)) {
        // Two rows of one name would share a folder.
        if (newName != oldName && Find(newName))
            return kRenameNothing;
        if (!row->IsBusy()) {
            if (newName != oldName && !RenameFolder(oldName, newName, error))
                return kRenameNothing;
            row->name = newName;
            return kRenamedNow;
        }
        // The running check still uses the old folder: rename when it has finished.
        RenameGuard renameGuard(*this);
        pending_.push_back({oldName, newName});
        return kRenameDeferred;
    }
    RenameGuard renameGuard(*this);
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const PendingRename& p) { return p.newName == oldName; });
    if (it == pending_.end())
        return kRenameNothing;
    it->newName = newName;
    if (it->oldName == it->newName)
        pending_.erase(it);
    return kRenameRedirected;
}

std::string CAccountManager::ApplyPendingRename(const std::string& name)
{
    TableGuard guard(*this);
    RenameGuard renameGuard(*this);
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const PendingRename& p) { return p.oldName == name; });
    if (it == pending_.end())
        return name;
    PendingRename pair = *it;
    // Another process (the command line) may be checking the account in this folder: the
    // rename then waits for the next check's end here.
    CAccountLock lock;
    if (lock.Acquire(AppPaths::AccountDir(pair.oldName), std::chrono::milliseconds(0)) ==
        CAccountLock::Outcome::Busy)
        return name;
    if (!RenameFolder(pair.oldName, pair.newName, nullptr)) {
        // The folder cannot follow (a folder of the new name is in the way): the account
        // keeps working under its old folder and name until the user renames it again.
        std::fprintf(stderr, "account table: the folder of %s cannot be renamed to %s\n",
                     pair.oldName.c_str(), pair.newName.c_str());
    }
    pending_.erase(it);
    if (AccountEntry* row = Find(pair.oldName))
        row->name = pair.newName;
    return pair.newName;
}

std::string CAccountManager::TranslateName(const std::string& name, int direction) const
{
    TableGuard guard(*this);
    RenameGuard renameGuard(*this);
    for (const auto& p : pending_) {
        if (direction == 1 && p.oldName == name)
            return p.newName;
        if (direction == 0 && p.newName == name)
            return p.oldName;
    }
    return name;
}

int CAccountManager::SetAccessPassword(const std::string& name, const std::string& text)
{
    return WithRow(name, [&](AccountEntry& e) { e.accessPassword = text; });
}

int CAccountManager::VerifyAccessPassword(const std::string& name, const std::string& text)
{
    int unlocked = 0;
    WithRow(name, [&](AccountEntry& e) {
        e.unlocked = (!text.empty() && text == e.accessPassword) ? 1 : 0;
        unlocked = e.unlocked;
    });
    return unlocked;
}

int CAccountManager::SetPeriod(const std::string& name, const std::string& text)
{
    return WithRow(name, [&](AccountEntry& e) {
        e.periodMinutes = LeadingDecimal(text);
        e.minutesElapsed = 0;
    });
}

int CAccountManager::PeriodOff(const std::string& name)
{
    return WithRow(name, [&](AccountEntry& e) {
        e.periodMinutes = -1;
        e.minutesElapsed = 0;
    });
}

int CAccountManager::SetSpecifiedTime(const std::string& name, const std::string& text)
{
    AccountRecord r;
    r.specifiedTimeCheck = "Yes";
    r.specifiedTime = text;
    int seconds = DerivedSpecifiedSeconds(r);
    return WithRow(name, [&](AccountEntry& e) { e.specifiedSeconds = seconds; });
}

int CAccountManager::SpecifiedTimeOff(const std::string& name)
{
    return WithRow(name, [&](AccountEntry& e) { e.specifiedSeconds = -1; });
}

int CAccountManager::CheckFinished(const std::string& name)
{
    return WithRow(name, [&](AccountEntry& e) { e.checkState = CheckState::Done; });
}

// These two were read without the lock once; a row may be removed meanwhile, so they
// take it (it is recursive, so the worker may call them inside WithTable).
int CAccountManager::IsUsable(const std::string& name) const
{
    TableGuard guard(*this);
    const AccountEntry* row = Find(name);
    return row ? row->usable : 0;
}

int CAccountManager::HasAccessPassword(const std::string& name) const
{
    TableGuard guard(*this);
    const AccountEntry* row = Find(name);
    return (row && !row->accessPassword.empty()) ? 1 : 0;
}

bool CAccountManager::NameTaken(const std::string& name) const
{
    TableGuard guard(*this);
    bool exists = std::any_of(rows_.begin(), rows_.end(), [&](const AccountEntry& e) {
        return AccountNames::SameIgnoringCase(e.name, name);
    });
    RenameGuard renameGuard(*this);
    if (exists)
        return std::none_of(pending_.begin(), pending_.end(), [&](const PendingRename& p) {
            return AccountNames::SameIgnoringCase(p.oldName, name);
        });
    return std::any_of(pending_.begin(), pending_.end(), [&](const PendingRename& p) {
        return AccountNames::SameIgnoringCase(p.newName, name);
    });
}

int CAccountManager::NameInUse(std::string& newName, void* owner, const std::string* oldName,
                               int showMessage)
{
    if (!AccountNames::ValidateName(newName, owner))
        return 1;
    if (oldName && AccountNames::SameIgnoringCase(*oldName, newName))
        return 0;
    bool taken = NameTaken(newName); // the locks are released before any message
    if (taken && showMessage)
        DialogueBox(LoadResourceString(AccountNames::kNameInUseText),
                    LoadResourceString(AccountNames::kCaption), owner, kDialogueOk,
                    kDialogueIconExclamation);
    return taken ? 1 : 0;
}

std::vector<AccountEntry> CAccountManager::Snapshot() const
{
    TableGuard guard(*this);
    return rows_;
}

std::vector<PendingRename> CAccountManager::PendingRenames() const
{
    TableGuard guard(*this);
    RenameGuard renameGuard(*this);
    return pending_;
}
