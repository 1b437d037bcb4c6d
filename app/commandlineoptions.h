#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// The parsed command line of the headless front.
//
// Grammar: one action option (--add-account NAME (--kind, --server, --user, --port,
// --security, --category, --profile, --pin), --rename-account OLD NEW,
// --remove-account NAME, --set-account NAME, --sign-in NAME (--oauth), --list-accounts,
// --list-messages NAME,
// --check-now [NAME...], --repair NAME, --watch, --help, --version), then the action's own options,
// each
// "--name value" or "--name=value", or a bare flag (--password-stdin); --check-now takes
// account names instead.
// Parse() never exits or prints; it reports what is wrong in Error().
class CommandLineOptions
{
public:
    enum class Action {
        None,
        Help,
        AddAccount,
        ListAccounts,
        ListMessages,
        CheckNow,
        RenameAccount,
        RemoveAccount,
        SetAccount,
        Repair,
        Version,
        Watch,
        SignIn,
    };

    bool Parse(const std::vector<std::string>& args);

    Action GetAction() const { return action_; }
    // The value that follows the action option (the account name), if any.
    const std::string& Subject() const { return subject_; }
    // The second name of --rename-account (the new name).
    const std::string& Target() const { return target_; }
    // A flag option (one without a value) was given.
    bool Has(const std::string& option) const { return values_.count(option) != 0; }
    // The account names given to --check-now, in order (empty: all accounts).
    const std::vector<std::string>& Names() const { return names_; }
    std::optional<std::string> Value(const std::string& option) const;
    // The action changes accounts (the list, a name, an account's files): once it has
    // succeeded, a running desktop program is told to show the change.
    bool ChangesAccounts() const;
    const std::string& Error() const { return error_; }

    static std::string Usage();

private:
    bool Fail(std::string message);

    Action action_ = Action::None;
    std::string subject_;
    std::string target_;
    std::vector<std::string> names_;
    std::map<std::string, std::string> values_;
    std::string error_;
};
