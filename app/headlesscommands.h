#pragma once

#include "commandlineoptions.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

class AccountPlugins;
struct NewAccountRequest;

// The headless front: the command line's actions on the same engine the desktop uses.
//
// Each action writes its results to `out`, reasons for failure to `err`, and returns the
// process exit status: 0 success, 1 failure (also: the account is being checked, try
// again later), 2 bad usage. Runs on the main thread; the data folder and settings follow
// POSTWATCH_HOME and XDG_CONFIG_HOME. The account edits go through CAccountEditor, as the
// desktop's do. `plugins` answers which web-mail categories and Exchange profiles exist
// (nullptr: the linked plug-in libraries); a category or profile they do not offer is bad
// usage.
class HeadlessCommands
{
public:
    HeadlessCommands(std::istream& in, std::ostream& out, std::ostream& err,
                     std::shared_ptr<const AccountPlugins> plugins = nullptr);

    int Run(const CommandLineOptions& options);
    // Opens an address in the user's browser (a sign-in); unset: the address is only
    // printed.
    void SetBrowserOpener(std::function<void(const std::string& url)> open)
    {
        openBrowser_ = std::move(open);
    }

    static constexpr int kExitOk = 0;
    static constexpr int kExitFailure = 1;
    static constexpr int kExitUsage = 2;

private:
    int AddAccount(const CommandLineOptions& options);
    int AddWebMailAccount(const CommandLineOptions& options);
    int AddExchangeAccount(const CommandLineOptions& options);
    // Writes the account's files and lists it (the wizard's Finish).
    int CreateAccount(const NewAccountRequest& request);
    // OAuth 2.0 sign-in of a POP3/IMAP4 account with `provider`, or the one it used before.
    int SignIn(const std::string& account, std::optional<std::string> provider);
    int RenameAccount(const std::string& oldName, const std::string& newName);
    // Asks nothing: the account's record, settings and stored mail go.
    int RemoveAccount(const std::string& name);
    int SetAccount(const CommandLineOptions& options);
    int ListAccounts();
    int ListMessages(const std::string& account);
    int CheckNow(const std::vector<std::string>& names);
    int Repair(const std::string& account);
    // The start-up preparation every front does: the mail folder and the settings.
    bool PrepareDataAndSettings();
    int Usage(const std::string& problem);
    int Failure(const std::string& message);
    // The first line of standard input, without its line end; "" with the reason told when
    // it is empty or PasswordRule refuses it.
    bool ReadPassword(std::string& password);
    // The General setting "KeepPasswordsInKeyring".
    static bool KeepPasswordsInKeyring();

    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
    std::shared_ptr<const AccountPlugins> plugins_;
    std::function<void(const std::string& url)> openBrowser_;
};
