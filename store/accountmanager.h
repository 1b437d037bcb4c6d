#pragma once

#include "accountentry.h"
#include "accountplugins.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The one account table of the process: a row per account in Account.cfg order, the
// renames that wait for a running check, and the two locks that guard them.
//
// Locks: the table lock guards the rows, the rename lock the pending renames. They are
// always taken in that order (table, then rename); the rename lock may also be taken
// alone. Taking the table lock while holding only the rename lock is a lock-order fault:
// it is counted (LockOrderViolations(), for tests) and reported on standard error. Both
// locks are recursive, so an operation may be called from inside WithTable().
//
// Who calls what:
// - the user-interface thread: EnterOrRequest, Remove, Rename, the access-password and
//   schedule setters, NameInUse;
// - the worker thread: LoadAll (once, at its start), WithTable (its scan),
//   ApplyPendingRename;
// - check threads: CheckFinished;
// - any thread: Snapshot, PendingRenames, TranslateName, IsUsable, HasAccessPassword.
// Every operation takes the table lock for its whole run and waits without limit; none
// shows a message while holding a lock.
//
// Names are compared exactly (case-sensitive) by the table operations and without regard
// to case by the name rules (NameInUse, NameTaken).
class CAccountManager
{
public:
    explicit CAccountManager(std::shared_ptr<const AccountPlugins> plugins = nullptr);
    CAccountManager(const CAccountManager&) = delete;
    CAccountManager& operator=(const CAccountManager&) = delete;

    // Replaces the plug-in answers used when accounts enter the table (nullptr restores
    // the default). Call before LoadAll.
    void SetPlugins(std::shared_ptr<const AccountPlugins> plugins);

    // Settles the folder moves that a killed edit left (CAccountMoves::Recover), then reads
    // Account.cfg and enters every record (access password = slot 2, password
    // copy = slot 3, not trusted). The account named `defaultExchange` starts Requested
    // when `autoStartExchange` is non-zero; all others start Idle. Records whose name
    // cannot be a folder name are skipped. 1 on success (a missing Account.cfg is an empty
    // list); 0 when Account.cfg exists but cannot be read (`error` says why).
    int LoadAll(const std::string& defaultExchange, int autoStartExchange,
                std::string* error = nullptr);

    // Results of EnterOrRequest.
    static constexpr int kEnterRefused = -1;  // the name cannot be a folder name
    static constexpr int kEnterUnchanged = 0; // a row exists and is not Idle
    static constexpr int kEnterRequested = 1; // a row existed and was Idle: now Requested
    static constexpr int kEnterAdded = 2;     // a new row was built and appended

    // Enter or request. For a new row the account's Account.inf is read; the row starts
    // Idle when `atRest` is non-zero, else Requested. Usable is 1 when `trusted`, or when
    // `passwordCopy` is given and equals the file's password; then an Exchange account
    // needs an installed provider offering a profile named as its Server, and a web-mail
    // account a category named as its Server. `accessPassword` nullptr = none.
    int EnterOrRequest(const std::string& name, int atRest, const std::string* accessPassword,
                       const std::string* passwordCopy, int trusted);

    // Removes the row; later rows move up. 1 when removed, 0 when there is no such row.
    int Remove(const std::string& name);

    // Results of Rename.
    static constexpr int kRenamedNow = 0;
    static constexpr int kRenameDeferred = 1;
    static constexpr int kRenameRedirected = 2;
    static constexpr int kRenameNothing = -1; // no such account, or the new name is refused

    // Renames an account. A row that is not Busy-only gets its new name and its folder is
    // renamed at once (0). A Busy-only row keeps its name and folder; the pair is kept
    // until ApplyPendingRename (1). A name that is the new side of a pending rename
    // redirects that pair, which disappears when renamed back to its old name (2).
    // Refused (-1): a new name that cannot be a folder name, or that another row has, or a
    // folder that cannot be moved (a folder of the new name is in the way; `error` says
    // why). The files beyond the folder (Account.cfg, Account.inf) are CAccountEditor's.
    int Rename(const std::string& oldName, const std::string& newName,
               std::string* error = nullptr);

    // After a check of `name` has finished: when a rename of it waits, removes the pair,
    // renames the folder and the row, and returns the new name; else returns `name`. While
    // another process holds the account's lock (CAccountLock) the pair stays and `name`
    // comes back: the rename is tried again after the next check.
    std::string ApplyPendingRename(const std::string& name);

    // direction 1: old name -> its pending new name; direction 0: new -> old. A name that
    // is not part of a pending rename yields itself.
    std::string TranslateName(const std::string& name, int direction) const;

    // The setters return 1 when the row exists, 0 when it does not.
    int SetAccessPassword(const std::string& name, const std::string& text);
    // Unlocked := (text non-empty and equal to the access password); returns Unlocked,
    // 0 when there is no such row.
    int VerifyAccessPassword(const std::string& name, const std::string& text);
    int SetPeriod(const std::string& name, const std::string& text); // minutes (leading digits)
    int PeriodOff(const std::string& name);
    int SetSpecifiedTime(const std::string& name, const std::string& text); // "HH:MM"
    int SpecifiedTimeOff(const std::string& name);
    // The check has ended, whatever its outcome: the row becomes Done.
    int CheckFinished(const std::string& name);
    // 0 when there is no such row.
    int IsUsable(const std::string& name) const;
    int HasAccessPassword(const std::string& name) const;

    // Name in use: 1 when `newName` is invalid (ValidateName shows why and may empty or
    // trim it) or taken; 0 when free. A name equal to `oldName` without regard to case is
    // free. When taken and `showMessage` is set, text 61347 is shown (caption 61346).
    int NameInUse(std::string& newName, void* owner, const std::string* oldName, int showMessage);
    // The in-use rule alone, without validation or messages: an existing account's name
    // is taken unless it is the old side of a pending rename; a name no account has is
    // taken when it is the new side of one. Case-insensitive.
    bool NameTaken(const std::string& name) const;

    // Copies for readers (the listing, the tree, the scheduler's display).
    std::vector<AccountEntry> Snapshot() const;
    std::vector<PendingRename> PendingRenames() const;

    // Runs `f(std::vector<AccountEntry>& rows)` under the table lock and returns its
    // result. For the worker's scan: `f` may change run-time fields and call operations of
    // this object, but must not block on the network or show messages.
    template <class F> decltype(auto) WithTable(F&& f)
    {
        TableGuard guard(*this);
        return f(rows_);
    }
    // Runs `f(std::vector<PendingRename>& pending)` under the rename lock alone.
    template <class F> decltype(auto) WithPendingRenames(F&& f)
    {
        RenameGuard guard(*this);
        return f(pending_);
    }

    // How many times the table lock was taken while only the rename lock was held.
    static int LockOrderViolations();

private:
    class TableGuard
    {
    public:
        explicit TableGuard(const CAccountManager& m);
        ~TableGuard();
        TableGuard(const TableGuard&) = delete;
        TableGuard& operator=(const TableGuard&) = delete;

    private:
        const CAccountManager& m_;
    };
    class RenameGuard
    {
    public:
        explicit RenameGuard(const CAccountManager& m);
        ~RenameGuard();
        RenameGuard(const RenameGuard&) = delete;
        RenameGuard& operator=(const RenameGuard&) = delete;

    private:
        const CAccountManager& m_;
    };

    AccountEntry* Find(const std::string& name);
    const AccountEntry* Find(const std::string& name) const;
    template <class F> int WithRow(const std::string& name, F&& f);

    std::vector<AccountEntry> rows_;
    std::vector<PendingRename> pending_;
    mutable std::recursive_mutex tableLock_;
    mutable std::recursive_mutex renameLock_;
    std::shared_ptr<const AccountPlugins> plugins_;
};
