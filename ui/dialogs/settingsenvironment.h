#pragma once

#include "mailclientlist.h"

#include <functional>
#include <string>
#include <vector>

class CAccountManager;

// What the settings pages ask of the system, gathered once when the dialog opens, so tests
// can give their own answers.
struct SettingsEnvironment {
    std::vector<MailClientInfo> mailClients; // the default first
    std::vector<std::string> dialupEntries;  // NetworkManager connection profiles
    bool mailLed = false;                    // a writable mail LED exists
    bool mapiPresent = false;
    std::vector<std::string> exchangeAccounts; // accounts of kind Exchange, list order
    std::string executable;                    // for the autostart entry; empty: unknown
    std::string autostartUserDir;              // empty: $XDG_CONFIG_HOME/autostart
    std::string autostartSystemDir;            // empty: /etc/xdg/autostart
    std::function<void(const std::string& file)> play;
    std::function<void(const std::string& topic)> openHelp;
    // Asks for a wave file; empty when cancelled. Default: a file dialog.
    std::function<std::string(const std::string& current)> browse;
    // Moves every account's password into the keyring (true) or back into its file; returns
    // one line ("account: why") per account that stayed as it was. Unset: nothing is moved.
    std::function<std::vector<std::string>(bool toKeyring)> moveSecrets;

    // The answers of this desktop. `table` gives the Exchange accounts (may be nullptr).
    static SettingsEnvironment FromSystem(const CAccountManager* table, bool mapiPresent);
};
