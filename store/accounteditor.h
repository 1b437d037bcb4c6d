#pragma once

#include "accountrecord.h"
#include "secretplacement.h"

#include <chrono>
#include <string>

class CAccountManager;

// The outcome of an account edit: what happened, and for the user why not.
struct AccountEditResult {
    enum class Category {
        Done,          // applied (a rename may wait for a running check: see `rename`)
        NoSuchAccount, // Account.cfg has no account of that name
        InvalidName,   // the new name holds \ / : * ? " < > |, a line break, or is "." / ".."
        BlankName,     // the new name is empty or blank
        NameTaken,     // another account has the name (any case), or a waiting rename has it
        InvalidValue,  // a value the files cannot hold; nothing was changed
        Busy,          // the account is being checked; nothing was changed, try again later
        WriteFailed,   // a file could not be written or moved; what had changed was undone
    };
    Category category = Category::Done;
    std::string message; // for the user; empty when done
    // The rename's CAccountManager result (kRenamedNow, kRenameDeferred, kRenameRedirected),
    // or kRenameNothing (-1) when the name was not changed.
    int rename = -1;
    std::string name; // the account's name afterwards, as the tree shows it

    bool Ok() const { return category == Category::Done; }
};

// The edits of an existing account as one store operation each: rename, apply the
// properties, remove. Every value is checked before the first change; Account.cfg is the
// commit point; a step that fails after it takes back what came before it, so the account
// stays whole under one name. Folder moves are journalled (CAccountMoves): a process killed
// at any step leaves the account whole under its old or its new name after the next start.
//
// `account` is the name the user sees (the new side while a rename waits for a check); the
// table row and the folder may still carry the old one (CAccountManager::TranslateName).
//
// Locks, in this order: Account.cfg's writers' lock (so the name check and the write are one
// step against other processes), the account's CAccountLock (for the moves of its folder:
// while another process checks the account the result is Busy after `lockWait`), the
// table's lock. An account that this process is checking is renamed deferred, and is not
// removed (Busy).
//
// Call from the thread that makes the table's changes (the user-interface thread, or the
// command line's main thread). No messages are shown: the caller shows the result.
class CAccountEditor
{
public:
    explicit CAccountEditor(CAccountManager& table,
                            std::chrono::milliseconds lockWait = std::chrono::milliseconds(2000));

    // Renames the account; its Account.cfg record, folder and Account.inf's section line
    // follow (the folder at once, or when the running check ends).
    AccountEditResult Rename(const std::string& account, const std::string& newName);

    // Applies the properties dialog: `edited` is the whole new Account.inf (its name is the
    // new name), `accessPassword` the access password (nullptr: keep it). Rename, Account.cfg
    // (name, access password, password copy), Account.inf (replaced atomically in the
    // account's current folder), then the table's access password and schedule.
    AccountEditResult ApplyProperties(const std::string& account, const AccountRecord& edited,
                                      const std::string* accessPassword);

    // Removes the account: its Account.cfg record, its table row and its folder with every
    // file in it (Check.lock too), and its secrets in the keyring when its password lives
    // there (a secret the keyring keeps, e.g. locked, is named in the result's message).
    AccountEditResult Remove(const std::string& account);

    // Moves the account's password into the desktop's keyring (`toKeyring`) or back into
    // Account.inf, as the settings dialog's switch does for every account. Done without a
    // change when it is there already or the kind has no password. When the keyring cannot
    // take or give the password the account stays as it was (WriteFailed, saying why).
    AccountEditResult MoveSecret(const std::string& account, bool toKeyring);

    // The passwords: where an edit's password goes follows the edited record's `secret`
    // ("keyring" or not; see SecretPlacement). An empty password in a record whose password
    // lives in the keyring leaves it unchanged. A rename moves the secret to the new name.

    // The message of a Busy result.
    static std::string BusyMessage(const std::string& account);

private:
    AccountEditResult Edit(const std::string& account, std::string newName,
                           const AccountRecord* edited, const std::string* accessPassword,
                           SecretPlacement::Mode mode = SecretPlacement::Mode::Fallback);

    CAccountManager& table_;
    std::chrono::milliseconds lockWait_;
};
