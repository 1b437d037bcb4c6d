#pragma once

#include <string>
#include <vector>

// One mail account found in another mail program's settings.
struct ForeignMailAccount {
    std::string name;   // the account's display name
    std::string kind;   // "POP3" or "IMAP4"
    std::string server; // host name
    std::string port;   // decimal text; empty when the program keeps its default
    std::string userName;
    std::string security; // "TLS", "STARTTLS", "None"; empty when not stated
};

// The POP3 and IMAP accounts of the user's Thunderbird profiles: profiles.ini names the
// profile folders (the default profile first, the others in file order), each profile's
// prefs.js holds "user_pref(...)" lines with mail.server.serverN.type ("pop3"/"imap"),
// .hostname, .port, .userName, .name and .socketType (3 TLS, 2 STARTTLS, 0 none). Accounts
// come in server-number order per profile; other server types (local folders, news, feeds)
// are left out, and so is a server without a host name.
//
// Files are outside input: unreadable, oversized (over 16 MiB), truncated or malformed
// content gives fewer accounts, never an error. Pure functions; thread-safe.
class ThunderbirdProfiles
{
public:
    // $HOME/.thunderbird.
    static std::string DefaultRoot();
    // Every account of every profile under `root` (the folder holding profiles.ini).
    static std::vector<ForeignMailAccount> ReadAccounts(const std::string& root);
    // The profile folders listed by the profiles.ini text, as absolute paths.
    static std::vector<std::string> ProfileFolders(const std::string& root,
                                                   const std::string& profilesIni);
    // The accounts of one prefs.js text.
    static std::vector<ForeignMailAccount> ParsePrefs(const std::string& prefsJs);

    static constexpr size_t kMaxFileSize = 16u << 20;
};
