#pragma once

#include <chrono>
#include <string>

// Which secret of which account: the attributes a secret carries in the keyring, besides
// "application" = "postwatch". Items are found by account and kind; user and server are
// stored so that the user can tell the items apart in a keyring manager.
struct SecretKey {
    std::string account;
    std::string kind = "password"; // "password"; later also e.g. "refresh-token"
    std::string user;
    std::string server;
};

// The desktop's keyring (the Secret Service on the session D-Bus, through libsecret).
//
// Every call is synchronous and bounded: it gives up after `limit` and then answers
// Unavailable, so a keyring daemon that hangs costs a caller at most that long. A call that
// may show the keyring's unlock prompt (Prompt::Allowed) needs a limit long enough for the
// user to type. Prefer calling from a thread other than the user-interface thread.
//
// Only the unlock prompt gets the caller's `limit`; finding the service and the item is
// bounded by kQuickLimit (or `limit`, when shorter), so a service that does not answer costs
// seconds even when a prompt would have been allowed.
//
// A locked keyring is asked to unlock once per process: after the user dismissed the prompt
// (or no prompt could be shown), later look-ups answer Locked at once without asking again,
// until a look-up finds the keyring open (unlocked by other means).
//
// No secret is ever written to a log or put in an error text.
// Threads: any; calls may run at the same time.
class SystemKeyring
{
public:
    enum class Outcome {
        Ok,          // done; for Lookup `secret` holds the value
        NotFound,    // Lookup: the keyring holds no such item; Clear: nothing to delete
        Locked,      // the item or the keyring stays locked (prompt dismissed or impossible)
        Unavailable, // no Secret Service on the bus, an error, or the time limit ran out
    };
    struct Result {
        Outcome outcome = Outcome::Unavailable;
        std::string secret; // Lookup only
        std::string error;  // why, for the user, when not Ok (never holds a secret)
        bool Ok() const { return outcome == Outcome::Ok; }
    };
    enum class Prompt { Allowed, Never };

    static constexpr std::chrono::milliseconds kQuickLimit{5000};
    static constexpr std::chrono::milliseconds kPromptLimit{120000};

    // The secret stored under `key` (account and kind). With Prompt::Allowed a locked keyring
    // is asked to unlock (once per process, see above).
    static Result Lookup(const SecretKey& key, Prompt prompt,
                         std::chrono::milliseconds limit = kQuickLimit);
    // Stores `secret` in the default keyring, replacing what `key` held before.
    static Result Store(const SecretKey& key, const std::string& secret,
                        std::chrono::milliseconds limit = kQuickLimit);
    // Deletes the account's secrets of `key.kind`, or of every kind when `key.kind` is empty.
    // Ok when something was deleted, NotFound when there was nothing (or only locked items).
    static Result Clear(const SecretKey& key, std::chrono::milliseconds limit = kQuickLimit);
    // Whether a Secret Service answers on the session bus.
    static bool Available(std::chrono::milliseconds limit = kQuickLimit);

    // Whether this process has a display on which an unlock prompt could meet its user. A
    // keyring reached over the runtime folder's bus (a shell over ssh, a timer) would show its
    // prompt on a screen nobody may be looking at, and the look-up would wait for it.
    static bool PromptCanBeSeen();

    // Forgets that the unlock prompt was dismissed (tests; the settings dialog's migration).
    static void AllowPromptAgain();

    // The "application" attribute of every item.
    static constexpr char kApplication[] = "postwatch";
};
