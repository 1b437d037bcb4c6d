#pragma once

#include "accountrecord.h"
#include "systemkeyring.h"

#include <string>

// An account's password as the rest of the program sees it, wherever it lives: in
// Account.inf, or in the desktop's keyring when the record's `secret` is "keyring".
//
// Stateless; any thread (the keyring calls are bounded, see SystemKeyring).
class AccountSecret
{
public:
    // The keyring key of the account's password: account `name`, its user and server.
    static SecretKey KeyOf(const AccountRecord& record, const std::string& name);

    // Whether the account's kind has a password at all (not a watched mailbox).
    static bool HasPassword(const AccountRecord& record);

    // Fills `record.password` from the keyring when the record says it lives there (keyed by
    // `record.name`); a record whose password is in the file is left alone and answers Ok.
    static SystemKeyring::Result Resolve(AccountRecord& record, SystemKeyring::Prompt prompt,
                                         std::chrono::milliseconds limit);

    // The `secret` value an edited record gets: "keyring" when the setting is on (for a
    // kind that has a password), else the file ("") — an unknown value is kept as it is.
    static std::string Placement(const AccountRecord& record, bool keepInKeyring);

    // "password unavailable: <why>", the summary text of a check whose password the keyring
    // does not give (text 40900).
    static std::string UnavailableText(const std::string& why);
};
