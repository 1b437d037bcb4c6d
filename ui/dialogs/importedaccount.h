#pragma once

#include <string>

// An account of the system's mail client chosen in the import dialog: what the new account
// wizard takes over from it.
struct ImportedAccount {
    std::string name;
    std::string kind; // "POP3" or "IMAP4"
    std::string server;
    std::string userName;
    std::string port;     // empty: the kind's default
    std::string security; // "", "None", "STARTTLS" or "TLS"
};
