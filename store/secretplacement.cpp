#include "secretplacement.h"

#include "accountsecret.h"

using Prompt = SystemKeyring::Prompt;

std::string SecretPlacement::Prepare(const AccountRecord& stored, const std::string& oldName,
                                     AccountRecord& record, const std::string& newName, Mode mode)
{
    const bool wasInKeyring = stored.secret == kSecretKeyring;
    const bool wantKeyring = record.secret == kSecretKeyring;
    const bool renaming = oldName != newName;
    if (!wasInKeyring && !wantKeyring)
        return {};
    oldKey_ = AccountSecret::KeyOf(stored, oldName);
    newKey_ = AccountSecret::KeyOf(record, newName);

    std::string password = record.password;
    const bool unchanged = wasInKeyring && record.password.empty();
    if (unchanged) {
        if (wantKeyring && !renaming) {
            // Stays as it is; only the file is rewritten.
            record.password.clear();
            return {};
        }
        // It moves (to a new key, or back to the file): read it first.
        SystemKeyring::Result r = SystemKeyring::Lookup(oldKey_, Prompt::Never);
        if (!r.Ok()) {
            if (mode == Mode::Strict || renaming)
                return "the password in the system keyring cannot be read: " + r.error;
            // An ordinary edit of an account whose password the keyring keeps locked away:
            // it stays there.
            record.secret = kSecretKeyring;
            record.password.clear();
            return {};
        }
        password.swap(r.secret);
    }

    if (!wantKeyring) {
        record.password = password;
        clearOld_ = wasInKeyring;
        return {};
    }
    SystemKeyring::Result r = SystemKeyring::Store(newKey_, password);
    if (!r.Ok()) {
        if (mode == Mode::Strict || (unchanged && renaming))
            return "the system keyring cannot take the password: " + r.error;
        // No keyring to be had: the file keeps the password, as without the setting.
        record.secret.clear();
        record.password = password;
        clearOld_ = wasInKeyring;
        return {};
    }
    record.password.clear();
    clearNew_ = renaming || !wasInKeyring;
    clearOld_ = wasInKeyring && renaming;
    return {};
}

void SecretPlacement::Commit()
{
    if (!clearOld_)
        return;
    clearOld_ = false;
    SystemKeyring::Result r = SystemKeyring::Clear(oldKey_);
    if (!r.Ok() && r.outcome != SystemKeyring::Outcome::NotFound)
        note_ = "the old password stays in the system keyring: " + r.error;
}

void SecretPlacement::Undo()
{
    if (!clearNew_)
        return;
    clearNew_ = false;
    SystemKeyring::Clear(newKey_);
}
