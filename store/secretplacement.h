#pragma once

#include "accountrecord.h"
#include "systemkeyring.h"

#include <string>

// Where an edited or renamed account's password goes, as part of CAccountEditor's edit:
// Prepare before the files change (it stores the secret under its new key), then Commit once
// they changed (it deletes the secret the account left behind) or Undo when the edit failed
// (it deletes what Prepare stored under a new key).
//
// Rules: the record to write says where the password should live (`secret` "keyring" or
// not). An empty password in a record whose password lives in the keyring means "unchanged":
// it stays where it is, or is read from the keyring when it has to move (rename, back to the
// file). In Fallback mode (an ordinary edit) a keyring that cannot take the password leaves
// it in the file, and a password the keyring does not give stays in the keyring; in Strict
// mode (moving passwords from the settings dialog) either refuses the edit. A rename always
// refuses when the secret cannot follow.
//
// One object per edit; the caller's thread (the keyring calls are bounded, no prompt).
class SecretPlacement
{
public:
    enum class Mode { Fallback, Strict };

    // `stored` is the account's Account.inf as it is now, under `oldName`; `record` is what
    // will be written under `newName`, and gets the `secret` and `password` the file is to
    // hold. Empty when the edit may go on; else the reason to refuse it (nothing changed).
    std::string Prepare(const AccountRecord& stored, const std::string& oldName,
                        AccountRecord& record, const std::string& newName, Mode mode);
    void Commit();
    void Undo();

    // What did not work out but did not stop the edit (a secret left in the keyring), or
    // empty.
    const std::string& Note() const { return note_; }

private:
    SecretKey oldKey_;
    SecretKey newKey_;
    bool clearOld_ = false; // Commit deletes the old secret
    bool clearNew_ = false; // Undo deletes the new one
    std::string note_;
};
