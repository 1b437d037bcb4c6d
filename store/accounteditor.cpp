#include "accounteditor.h"

#include "accountfile.h"
#include "accountlist.h"
#include "accountlock.h"
#include "accountmanager.h"
#include "accountmoves.h"
#include "accountnames.h"
#include "accountsecret.h"
#include "apppaths.h"
#include "crashpoint.h"
#include "passwordrule.h"
#include "resourcelibrary.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace
{

using Category = AccountEditResult::Category;

AccountEditResult Refuse(Category category, std::string message, const std::string& name)
{
    AccountEditResult r;
    r.category = category;
    r.message = std::move(message);
    r.name = name;
    return r;
}

std::string Text(unsigned id, const char* fallback)
{
    std::string text = LoadResourceString(id);
    return text.empty() ? std::string(fallback) : text;
}

bool FolderExists(const std::string& account)
{
    struct stat st {
    };
    return ::lstat(AppPaths::AccountDir(account).c_str(), &st) == 0;
}

const AccountListRecord* FindRecord(const std::vector<AccountListRecord>& records,
                                    const std::string& name)
{
    auto it = std::find_if(records.begin(), records.end(),
                           [&](const AccountListRecord& r) { return r.name == name; });
    return it == records.end() ? nullptr : &*it;
}

// Reads Account.cfg (the caller holds its writers' lock) and finds `account` in it. Empty
// when found; else the refusal to return.
std::optional<AccountEditResult> LoadListed(CAccountList& list,
                                            std::vector<AccountListRecord>& records,
                                            const std::string& account,
                                            const AccountListRecord** listed = nullptr)
{
    if (!list.Load(records))
        return Refuse(Category::WriteFailed, list.Error(), account);
    const AccountListRecord* found = FindRecord(records, account);
    if (!found)
        return Refuse(Category::NoSuchAccount, "There is no account named \"" + account + "\".",
                      account);
    if (listed)
        *listed = found;
    return std::nullopt;
}

std::string FolderInTheWay(const std::string& name)
{
    return "The folder " + AppPaths::AccountDir(name) +
           " is in the way (left by an earlier account?); move it elsewhere and try again.";
}

} // namespace

CAccountEditor::CAccountEditor(CAccountManager& table, std::chrono::milliseconds lockWait)
    : table_(table), lockWait_(lockWait)
{
}

std::string CAccountEditor::BusyMessage(const std::string& account)
{
    return account + " is being checked; try again when the check ends.";
}

AccountEditResult CAccountEditor::Rename(const std::string& account, const std::string& newName)
{
    return Edit(account, newName, nullptr, nullptr);
}

AccountEditResult CAccountEditor::ApplyProperties(const std::string& account,
                                                  const AccountRecord& edited,
                                                  const std::string* accessPassword)
{
    return Edit(account, edited.name, &edited, accessPassword);
}

AccountEditResult CAccountEditor::MoveSecret(const std::string& account, bool toKeyring)
{
    AccountRecord stored;
    stored.name = table_.TranslateName(account, 0);
    if (CAccountFile::ReadAccountFile(AppPaths::AccountFile(stored.name), stored) != 1)
        return Refuse(Category::WriteFailed,
                      "cannot read the settings of \"" + account + "\" (" +
                          AppPaths::AccountFile(stored.name) + ")",
                      account);
    const bool inKeyring = stored.secret == kSecretKeyring;
    if (inKeyring == toKeyring || !AccountSecret::HasPassword(stored)) {
        AccountEditResult r;
        r.name = account;
        return r;
    }
    AccountRecord edited = stored;
    edited.name = account;
    edited.secret = toKeyring ? kSecretKeyring : "";
    return Edit(account, account, &edited, nullptr, SecretPlacement::Mode::Strict);
}

AccountEditResult CAccountEditor::Edit(const std::string& account, std::string newName,
                                       const AccountRecord* edited,
                                       const std::string* accessPassword,
                                       SecretPlacement::Mode mode)
{
    // 1. Every value is checked before anything changes.
    bool renaming = newName != account;
    if (renaming) {
        switch (AccountNames::Check(newName)) {
        case AccountNames::Problem::ForbiddenCharacter:
            return Refuse(Category::InvalidName,
                          Text(AccountNames::kBadCharacterText,
                               "An account name cannot contain \\ / : * ? \" < > |."),
                          account);
        case AccountNames::Problem::Blank:
            return Refuse(Category::BlankName,
                          Text(AccountNames::kBlankText, "Please enter a name for the account."),
                          account);
        case AccountNames::Problem::None:
            break;
        }
        renaming = newName != account; // only blanks around it were typed
    }
    AccountRecord record;
    if (edited) {
        record = *edited;
        record.name = newName;
        // An OAuth 2.0 account's refresh token stays out of the account list (its copy there
        // is empty), so its length is no limit.
        if (newName.size() > CAccountList::kMaxValue ||
            (!UsesOAuthSignIn(record) && record.password.size() > CAccountList::kMaxValue) ||
            (accessPassword && accessPassword->size() > CAccountList::kMaxValue))
            return Refuse(Category::InvalidValue, "a name or password is longer than 60 bytes",
                          account);
        std::string problem = PasswordRule::Problem(record.password);
        std::string bytes;
        if (problem.empty())
            CAccountFile::FormatAccountInf(record, bytes, &problem);
        if (!problem.empty())
            return Refuse(Category::InvalidValue, problem, account);
    } else if (newName.size() > CAccountList::kMaxValue) {
        return Refuse(Category::InvalidValue, "The account name is longer than 60 bytes.", account);
    }

    // 2. The name check and the write are one step against every other writer.
    const std::string listPath = AppPaths::AccountListFile();
    CAccountList::WriteLock listLock(listPath);
    CAccountList list(listPath);
    std::vector<AccountListRecord> records;
    const AccountListRecord* listed = nullptr;
    if (auto refused = LoadListed(list, records, account, &listed))
        return *refused;
    const AccountListRecord before = *listed;
    if (renaming) {
        bool taken = std::any_of(records.begin(), records.end(), [&](const AccountListRecord& r) {
            return r.name != account && AccountNames::SameIgnoringCase(r.name, newName);
        });
        // The table knows the names that waiting renames claim.
        if (!taken && !AccountNames::SameIgnoringCase(newName, account))
            taken = table_.NameTaken(newName);
        if (taken)
            return Refuse(
                Category::NameTaken,
                Text(AccountNames::kNameInUseText, "An account with this name already exists."),
                account);
    }

    // The row and the folder keep the old name while a rename waits for a check.
    const std::string folder = table_.TranslateName(account, 0);
    CAccountLock lock;
    if (renaming && FolderExists(folder) &&
        lock.Acquire(AppPaths::AccountDir(folder), lockWait_) == CAccountLock::Outcome::Busy)
        return Refuse(Category::Busy, BusyMessage(account), account);

    AccountRecord stored;
    stored.name = folder;
    const bool readable = CAccountFile::ReadAccountFile(AppPaths::AccountFile(folder), stored) == 1;
    AccountRecord renamedOnly = stored;
    renamedOnly.name = newName;

    // The password's place is settled before the files change, outside the table's lock (the
    // keyring may take a moment): a secret that cannot follow refuses the edit here.
    SecretPlacement secret;
    if (readable && (edited || renaming)) {
        AccountRecord& target = edited ? record : renamedOnly;
        const std::string refused = secret.Prepare(stored, account, target, newName, mode);
        if (!refused.empty())
            return Refuse(Category::WriteFailed, refused, account);
    }

    AccountEditResult result = table_.WithTable([&](std::vector<AccountEntry>& rows)
                                                    -> AccountEditResult {
        auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const AccountEntry& e) { return e.name == folder; });
        int kind = CAccountManager::kRenameNothing;
        if (renaming)
            kind = account != folder                      ? CAccountManager::kRenameRedirected
                   : (row != rows.end() && row->IsBusy()) ? CAccountManager::kRenameDeferred
                                                          : CAccountManager::kRenamedNow;
        if (renaming && newName != folder && FolderExists(newName))
            return Refuse(Category::WriteFailed, FolderInTheWay(newName), account);

        std::string error;
        CAccountMoves moves(listPath);
        const AccountMove move{AccountMove::Kind::Rename, folder, newName};
        const bool journalled = renaming && newName != folder;
        if (journalled && !moves.Add(move, &error))
            return Refuse(Category::WriteFailed, error, account);
        CrashPoint("accountedit.journal");
        const auto forget = [&] {
            if (journalled)
                moves.Drop(move);
        };

        if (kind == CAccountManager::kRenamedNow &&
            table_.Rename(folder, newName, &error) != CAccountManager::kRenamedNow) {
            forget();
            return Refuse(Category::WriteFailed,
                          error.empty() ? "The account could not be renamed." : error, account);
        }
        CrashPoint("accountedit.folder");

        // 3. Account.cfg, the commit point. Its password copy stays empty for a refresh
        // token (OAuth 2.0) and for a password in the keyring.
        const std::string passwordCopy = UsesOAuthSignIn(record) ? std::string() : record.password;
        if (!list.Update(account, renaming ? &newName : nullptr, accessPassword,
                         edited ? &passwordCopy : nullptr)) {
            error = list.Error();
            if (kind == CAccountManager::kRenamedNow)
                table_.Rename(newName, account);
            forget();
            return Refuse(Category::WriteFailed, error, account);
        }
        CrashPoint("accountedit.list");
        if (kind == CAccountManager::kRenameDeferred || kind == CAccountManager::kRenameRedirected)
            table_.Rename(account, newName);

        // 4. Account.inf in the folder that holds the files now. Its section line names
        // the account, so a rename alone rewrites it too.
        const std::string filesIn = kind == CAccountManager::kRenamedNow ? newName : folder;
        const AccountRecord* inf = edited                   ? &record
                                   : (renaming && readable) ? &renamedOnly
                                                            : nullptr;
        if (inf && !CAccountFile::WriteAccountFile(AppPaths::AccountFile(filesIn), *inf, &error)) {
            if (list.Update(renaming ? newName : account, renaming ? &account : nullptr,
                            &before.accessPassword, &before.passwordCopy)) {
                if (renaming)
                    table_.Rename(newName, account);
                forget();
                return Refuse(Category::WriteFailed, error, account);
            }
            // Account.cfg cannot go back: the account stays whole under the new name, with
            // the Account.inf it had, and the edit can be tried again under that name.
            if (kind == CAccountManager::kRenamedNow)
                forget();
            AccountEditResult r = Refuse(Category::WriteFailed, error, newName);
            r.rename = kind;
            return r;
        }
        CrashPoint("accountedit.inf");

        // 5. The table follows the files.
        const std::string rowName = kind == CAccountManager::kRenamedNow ? newName : folder;
        if (accessPassword)
            table_.SetAccessPassword(rowName, *accessPassword);
        if (edited) {
            const bool periodOn = record.periodCheck == "Yes";
            const bool wasPeriodOn = stored.periodCheck == "Yes";
            if (periodOn && (!wasPeriodOn || record.period != stored.period))
                table_.SetPeriod(rowName, record.period);
            else if (!periodOn && wasPeriodOn)
                table_.PeriodOff(rowName);
            const bool dailyOn = record.specifiedTimeCheck == "Yes";
            const bool wasDailyOn = stored.specifiedTimeCheck == "Yes";
            if (dailyOn && (!wasDailyOn || record.specifiedTime != stored.specifiedTime))
                table_.SetSpecifiedTime(rowName, record.specifiedTime);
            else if (!dailyOn && wasDailyOn)
                table_.SpecifiedTimeOff(rowName);
        }
        // A rename that waits keeps its journal entry until its folder has moved (the next
        // start settles it when the program is killed before).
        if (kind == CAccountManager::kRenamedNow)
            forget();
        CrashPoint("accountedit.done");
        AccountEditResult r;
        r.rename = kind;
        r.name = newName;
        return r;
    });
    if (result.Ok()) {
        secret.Commit();
        result.message = secret.Note();
    } else {
        secret.Undo();
    }
    return result;
}

AccountEditResult CAccountEditor::Remove(const std::string& account)
{
    const std::string listPath = AppPaths::AccountListFile();
    CAccountList::WriteLock listLock(listPath);
    CAccountList list(listPath);
    std::vector<AccountListRecord> records;
    if (auto refused = LoadListed(list, records, account))
        return *refused;
    // A rename that waits means a check of the account is running in this process.
    const std::string folder = table_.TranslateName(account, 0);
    if (folder != account)
        return Refuse(Category::Busy, BusyMessage(account), account);
    CAccountLock lock;
    if (FolderExists(folder) &&
        lock.Acquire(AppPaths::AccountDir(folder), lockWait_) == CAccountLock::Outcome::Busy)
        return Refuse(Category::Busy, BusyMessage(account), account);

    AccountRecord stored;
    stored.name = folder;
    const bool inKeyring =
        CAccountFile::ReadAccountFile(AppPaths::AccountFile(folder), stored) == 1 &&
        stored.secret == kSecretKeyring;

    AccountEditResult result =
        table_.WithTable([&](std::vector<AccountEntry>& rows) -> AccountEditResult {
            auto row = std::find_if(rows.begin(), rows.end(),
                                    [&](const AccountEntry& e) { return e.name == folder; });
            if (row != rows.end() && row->IsBusy())
                return Refuse(Category::Busy, BusyMessage(account), account);

            std::string error;
            CAccountMoves moves(listPath);
            const AccountMove move{AccountMove::Kind::Remove, folder, {}};
            if (!moves.Add(move, &error))
                return Refuse(Category::WriteFailed, error, account);
            CrashPoint("accountedit.remove.journal");
            if (!list.Delete(account)) {
                error = list.Error();
                moves.Drop(move);
                return Refuse(Category::WriteFailed, error, account);
            }
            CrashPoint("accountedit.remove.list");
            table_.Remove(folder);
            std::error_code ec;
            std::filesystem::remove_all(AppPaths::AccountDir(folder), ec);
            CrashPoint("accountedit.remove.folder");
            AccountEditResult r;
            r.name = account;
            if (ec) {
                // The account is gone; its files go at the next start (the journal keeps the
                // removal until then).
                r.message = "The folder " + AppPaths::AccountDir(folder) +
                            " could not be removed yet: " + ec.message();
                return r;
            }
            moves.Drop(move);
            return r;
        });
    // Every secret of the account goes with it (a later kind, e.g. a token, too).
    if (result.Ok() && inKeyring) {
        SecretKey key = AccountSecret::KeyOf(stored, account);
        key.kind.clear();
        const SystemKeyring::Result cleared = SystemKeyring::Clear(key);
        if (!cleared.Ok() && cleared.outcome != SystemKeyring::Outcome::NotFound)
            result.message += (result.message.empty() ? "" : "; ") +
                              std::string("its password stays in the system keyring: ") +
                              cleared.error;
    }
    return result;
}
