#pragma once

#include <optional>
#include <string>

class CAccountManager;

// What a new account is made of: the values the new-account wizard gathers, or the
// command line's options.
struct NewAccountRequest {
    std::string name;
    std::string kind;   // "POP3", "IMAP4", "Portalpost" or "Exchange(MAPI)"
    std::string server; // host; the category for "Portalpost", the profile for Exchange
    std::string userName;
    std::string password;
    std::optional<std::string> port; // unset: the kind's default ("110", "143", none)
    std::string security;            // "", "None", "STARTTLS" or "TLS"
    bool push = false;               // IMAP4: keep a push connection (IDLE) open
    bool markReadOnServer = false;   // IMAP4: marking read here sets \Seen on the server
    std::string pin = {};            // the one trusted certificate's SHA-256, or empty
    // The account's own periodic check: on or off, and every `period` minutes (1-99999).
    bool periodCheck = false;
    int period = 15;
    // POP3 and IMAP4: the first check records the mail already on the server as seen
    // (FromNow marker, fromnowmarker.h) instead of reporting it. Other kinds ignore it.
    bool fromNowOn = false;
    // The password goes to the desktop's keyring (Account.inf then says "Secret=keyring"
    // and holds an empty one); when the keyring cannot take it, the file keeps it.
    bool keepInKeyring = false;
    // POP3 and IMAP4: kSignInOAuth2 writes "SignIn=OAuth2" (the password slot then holds the
    // refresh token once signed in); empty signs in with the password.
    std::string signIn = {};
};

struct NewAccountResult {
    enum class Category {
        Created,      // all files written, and the account entered into the table
        InvalidName,  // the name cannot name an account
        NameTaken,    // an account of that name (any case) exists, or a rename claims it
        UnknownKind,  // not one of the four kinds: nothing was created
        InvalidValue, // a value cannot be stored (CR/LF/NUL, over 60 bytes, bad security,
                      // a password PasswordRule refuses)
        WriteFailed,  // a file could not be written; the account is not listed
    };
    Category category = Category::Created;
    std::string message; // for the user; empty when created
    // An Exchange account was created: the caller makes it the "DefaultExchange" account
    // of the General settings when that is still empty (the store does not read settings).
    bool offerAsDefaultExchange = false;

    bool Ok() const { return category == Category::Created; }
};

// Creates an account as the wizard's Finish does: creates its folder Mail/<name> (0700),
// writes its Account.inf (0600) with the kind's defaults (the request's periodic check, no
// daily check, "SpecifiedTime" "09:00"; "Port"/"Priview" "110"/"99" for POP3,
// "143"/"2" for IMAP4, ""/"" for web mail, ""/"2" for Exchange) and, when asked, the FromNow
// marker of a POP3/IMAP4 account, appends it to
// Account.cfg last (no access password, the password as the password copy: the record is
// the commit point, so a crash before it leaves only an unlisted folder), and enters it into
// `manager` at rest with the password copy (not trusted), so it is usable exactly when it
// would be after a restart. The name is checked against Account.cfg under its writers' lock,
// which is held until the record is appended, so of two processes adding one name exactly
// one succeeds; `manager` (nullptr: none) adds the names that waiting renames claim.
//
// Every value is checked before anything is written; when the Account.cfg append fails
// the new Account.inf and marker are removed again (the folder stays, as a deleted account's does).
// Call from the thread that owns the account table's changes (the user-interface thread).
NewAccountResult CreateNewAccount(const NewAccountRequest& request, CAccountManager* manager);
