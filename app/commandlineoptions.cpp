#include "commandlineoptions.h"

#include "watchformat.h"

#include <set>

namespace
{

struct ActionSpec {
    const char* option;
    CommandLineOptions::Action action;
    bool takesName;
    std::set<std::string> allowed;
    bool takesTarget = false;      // a second name follows the first
    std::set<std::string> flags{}; // options without a value
};

const ActionSpec kActions[] = {
    {"--help", CommandLineOptions::Action::Help, false, {}},
    {"--version", CommandLineOptions::Action::Version, false, {}},
    {"--add-account",
     CommandLineOptions::Action::AddAccount,
     true,
     {"--kind", "--server", "--user", "--port", "--security", "--category", "--profile", "--oauth",
      "--pin"},
     false,
     {"--push", "--mark-read-on-server", "--from-now"}},
    {"--list-accounts", CommandLineOptions::Action::ListAccounts, false, {}},
    {"--sign-in", CommandLineOptions::Action::SignIn, true, {"--oauth"}},
    {"--list-messages", CommandLineOptions::Action::ListMessages, true, {}},
    {"--check-now", CommandLineOptions::Action::CheckNow, false, {}},
    {"--repair", CommandLineOptions::Action::Repair, true, {}},
    {"--watch", CommandLineOptions::Action::Watch, false, {"--format"}},
    {"--rename-account", CommandLineOptions::Action::RenameAccount, true, {}, true},
    {"--remove-account", CommandLineOptions::Action::RemoveAccount, true, {}},
    {"--set-account",
     CommandLineOptions::Action::SetAccount,
     true,
     {"--server", "--port", "--user", "--security", "--period", "--pin"},
     false,
     {"--password-stdin"}},
};

// Every action that changes accounts. A running desktop program reloads its account tree
// when one of them has succeeded; an action left out here shows there only when the
// program notices the files changing.
const CommandLineOptions::Action kAccountChangingActions[] = {
    CommandLineOptions::Action::AddAccount,    CommandLineOptions::Action::RenameAccount,
    CommandLineOptions::Action::RemoveAccount, CommandLineOptions::Action::SetAccount,
    CommandLineOptions::Action::Repair, // may rebuild the account list
    CommandLineOptions::Action::SignIn,
};

} // namespace

bool CommandLineOptions::ChangesAccounts() const
{
    for (Action a : kAccountChangingActions)
        if (a == action_)
            return true;
    return false;
}

bool CommandLineOptions::Fail(std::string message)
{
    error_ = std::move(message);
    return false;
}

bool CommandLineOptions::Parse(const std::vector<std::string>& args)
{
    *this = CommandLineOptions();
    if (args.empty())
        return true;

    const ActionSpec* spec = nullptr;
    for (const ActionSpec& a : kActions) {
        if (args[0] == a.option || args[0].rfind(std::string(a.option) + "=", 0) == 0) {
            spec = &a;
            break;
        }
    }
    if (!spec)
        return Fail("unknown option " + args[0]);
    action_ = spec->action;

    size_t i = 1;
    std::string first = args[0];
    if (action_ == Action::CheckNow) {
        // Every further argument is an account name; names may begin with anything.
        if (first.find('=') != std::string::npos)
            names_.push_back(first.substr(first.find('=') + 1));
        names_.insert(names_.end(), args.begin() + 1, args.end());
        return true;
    }
    if (spec->takesName) {
        auto eq = first.find('=');
        if (eq != std::string::npos) {
            subject_ = first.substr(eq + 1);
        } else if (i < args.size()) {
            subject_ = args[i++];
        } else {
            return Fail(std::string(spec->option) + " needs an account name");
        }
    } else if (first.find('=') != std::string::npos) {
        return Fail(std::string(spec->option) + " takes no value");
    }
    if (spec->takesTarget) {
        if (i >= args.size())
            return Fail(std::string(spec->option) + " needs the old and the new account name");
        target_ = args[i++];
    }

    for (; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool haveValue = false;
        auto eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            haveValue = true;
        }
        if (spec->flags.count(name)) {
            if (haveValue)
                return Fail(name + " takes no value");
            if (values_.count(name))
                return Fail(name + " given twice");
            values_[name] = std::string();
            continue;
        }
        if (!spec->allowed.count(name))
            return Fail("unexpected argument " + args[i] + " for " + spec->option);
        if (!haveValue) {
            if (i + 1 >= args.size())
                return Fail(name + " needs a value");
            value = args[++i];
        }
        if (values_.count(name))
            return Fail(name + " given twice");
        values_[name] = value;
    }
    if (action_ == Action::Watch && values_.count("--format") &&
        !WatchFormat::Parse(values_["--format"]))
        return Fail("--format must be text, json, waybar or i3bar");
    return true;
}

std::optional<std::string> CommandLineOptions::Value(const std::string& option) const
{
    auto it = values_.find(option);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

std::string CommandLineOptions::Usage()
{
    return "usage:\n"
           "  postwatch --add-account NAME --kind POP3|IMAP4|IMAP --server HOST --user USER\n"
           "            [--port N] [--security none|starttls|tls]\n"
           "            [--push] [--mark-read-on-server]   (IMAP4 only)\n"
           "            [--from-now] [--pin SHA256]\n"
           "            (the password is read from the first line of standard input; --from-now:\n"
           "            the first check records the mail already on the server as seen, so\n"
           "            only mail that arrives from now on is reported; --pin: trust the\n"
           "            server's certificate with this SHA-256 fingerprint, and no other)\n"
           "  postwatch --add-account NAME --kind POP3|IMAP4|IMAP --server HOST --user USER\n"
           "            --oauth PROVIDER [--port N] [--security none|starttls|tls] ...\n"
           "            (signs in with OAuth 2.0 instead of a password, as --sign-in does)\n"
           "  postwatch --sign-in NAME [--oauth PROVIDER]\n"
           "            (signs a POP3 or IMAP4 account in with OAuth 2.0: prints the address\n"
           "            to open in a browser, opens it when there is a display, and waits up\n"
           "            to five minutes for the provider's answer; PROVIDER is a profile in\n"
           "            the settings, OAuth\\Providers: Google, Microsoft or one of your own)\n"
           "  postwatch --add-account NAME --kind Portalpost|WebMail --category Hotmail|Yahoo\n"
           "            --user USER\n"
           "            (web mail; the password is read from the first line of standard input)\n"
           "  postwatch --add-account NAME --kind Exchange|Maildir --profile PROFILE\n"
           "            (a mailbox watched through a profile of the mailbox plug-in; no password)\n"
           "  postwatch --rename-account OLD NEW\n"
           "  postwatch --remove-account NAME\n"
           "            (asks nothing: the account's settings and stored mail are removed)\n"
           "  postwatch --set-account NAME [--server HOST] [--port N] [--user USER]\n"
           "            [--security none|starttls|tls] [--period MINUTES|0] [--password-stdin]\n"
           "            [--pin SHA256|none]\n"
           "            (--period 0 switches the periodic check off; --password-stdin reads\n"
           "            the new password from the first line of standard input; --pin trusts\n"
           "            the server certificate with this SHA-256 fingerprint, the one a failed\n"
           "            --check-now names, and no other; --pin none goes back to the system's\n"
           "            trusted authorities)\n"
           "  postwatch --list-accounts\n"
           "  postwatch --list-messages NAME\n"
           "  postwatch --check-now [NAME...]\n"
           "            (checks the named accounts, all when none is named; exit 0 when\n"
           "            every check succeeded; an Exchange account is logged on, its new\n"
           "            messages listed, and logged off again before the program ends)\n"
           "  postwatch --repair NAME\n"
           "            (rebuilds a damaged Message.box of the account from the messages\n"
           "            that are still whole, and Account.cfg from the account folders;\n"
           "            the damaged files are kept beside the new ones)\n"
           "  postwatch --watch [--format text|json|waybar|i3bar]\n"
           "            (prints the unread counts at start and whenever they change, for a\n"
           "            status bar; checks the accounts on their schedules unless a running\n"
           "            program does; ends on SIGTERM or SIGINT)\n"
           "  postwatch --help\n"
           "  postwatch --version\n";
}
