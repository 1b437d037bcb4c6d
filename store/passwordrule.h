#pragma once

#include <string>

// What a mail password may hold, checked by every place that takes one (the new-account
// wizard, the properties dialog, the command line, the store's writers).
//
// POP3 PASS and IMAP LOGIN carry the password on one command line, so a CR, LF or NUL in
// it can never reach a server intact: stored, it would make every later check fail with
// "login refused" without the password ever being sent. It is refused when typed instead.
// Stateless; any thread.
class PasswordRule
{
public:
    // Why `password` cannot be a mail password, or "" when it can. An empty password is
    // not this rule's concern (an Exchange account has none).
    static std::string Problem(const std::string& password);
};
