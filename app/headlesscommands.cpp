#include "headlesscommands.h"

#include "accounteditor.h"
#include "accountfile.h"
#include "accountlist.h"
#include "accountlistrepair.h"
#include "accountlock.h"
#include "accountmanager.h"
#include "accountnames.h"
#include "accountrecord.h"
#include "accountsecret.h"
#include "apppaths.h"
#include "certificatepin.h"
#include "headlesscheck.h"
#include "libraryaccountplugins.h"
#include "mailboxfile.h"
#include "mailboxrepair.h"
#include "newaccount.h"
#include "oauthsignin.h"
#include "oauthstate.h"
#include "passwordrule.h"
#include "printabletext.h"
#include "programkey.h"
#include "registrykey.h"
#include "regsettings.h"
#include "resourcelibrary.h"
#include "tabfield.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <istream>
#include <ostream>
#include <sys/stat.h>

namespace
{

// Texts of the new-account checks.
constexpr unsigned kNoPop3Server = 61378;
constexpr unsigned kNoImap4Server = 61379;
constexpr unsigned kNoUserName = 61380;
constexpr unsigned kNoPassword = 61381;

std::string Field(std::string text)
{
    return TabField(std::move(text));
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The resource text, or a plain fallback when the bundle lacks it.
std::string Text(unsigned id, const char* fallback)
{
    std::string text = LoadResourceString(id);
    return text.empty() ? std::string(fallback) : text;
}

bool IsPortNumber(const std::string& text)
{
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

// "Yahoo, Hotmail", or a word saying there is nothing to choose from.
std::string Listed(const std::vector<std::string>& names)
{
    if (names.empty())
        return "none offered";
    std::string text = "offered: ";
    for (size_t i = 0; i < names.size(); ++i)
        text += (i ? ", " : "") + names[i];
    return text;
}

bool AccountListed(const std::string& name, std::string* error)
{
    std::vector<AccountListRecord> records;
    if (CAccountList(AppPaths::AccountListFile()).Load(records) != 1) {
        *error = "cannot read the account list " + AppPaths::AccountListFile();
        return false;
    }
    return std::any_of(records.begin(), records.end(),
                       [&](const AccountListRecord& r) { return r.name == name; });
}

} // namespace

HeadlessCommands::HeadlessCommands(std::istream& in, std::ostream& out, std::ostream& err,
                                   std::shared_ptr<const AccountPlugins> plugins)
    : in_(in), out_(out), err_(err),
      plugins_(plugins ? std::move(plugins) : std::make_shared<LibraryAccountPlugins>())
{
}

int HeadlessCommands::Run(const CommandLineOptions& options)
{
    switch (options.GetAction()) {
    case CommandLineOptions::Action::None:
    case CommandLineOptions::Action::Help:
        out_ << CommandLineOptions::Usage();
        return kExitOk;
    case CommandLineOptions::Action::Version:
        out_ << "postwatch " << POSTWATCH_VERSION_TEXT << "\n";
        return kExitOk;
    case CommandLineOptions::Action::AddAccount:
        return AddAccount(options);
    case CommandLineOptions::Action::SignIn:
        return SignIn(options.Subject(), options.Value("--oauth"));
    case CommandLineOptions::Action::ListAccounts:
        return ListAccounts();
    case CommandLineOptions::Action::ListMessages:
        return ListMessages(options.Subject());
    case CommandLineOptions::Action::CheckNow:
        return CheckNow(options.Names());
    case CommandLineOptions::Action::Repair:
        return Repair(options.Subject());
    case CommandLineOptions::Action::RenameAccount:
        return RenameAccount(options.Subject(), options.Target());
    case CommandLineOptions::Action::RemoveAccount:
        return RemoveAccount(options.Subject());
    case CommandLineOptions::Action::SetAccount:
        return SetAccount(options);
    case CommandLineOptions::Action::Watch:
        // Needs an event loop and the process's arguments: WatchMode, from main().
        return Usage("--watch runs from the program's entry point only");
    }
    return kExitUsage;
}

int HeadlessCommands::Usage(const std::string& problem)
{
    err_ << "postwatch: " << PrintableText(problem) << "\n" << CommandLineOptions::Usage();
    return kExitUsage;
}

int HeadlessCommands::Failure(const std::string& message)
{
    // Reasons quote what they could not use: names, paths, a file's own texts.
    err_ << "postwatch: " << PrintableText(message) << "\n";
    return kExitFailure;
}

bool HeadlessCommands::PrepareDataAndSettings()
{
    if (!AppPaths::MakeDirs(AppPaths::MailDir())) {
        Failure("cannot create the mail folder " + AppPaths::MailDir());
        return false;
    }
    // Settings are prepared as at every start; a settings store that cannot be written
    // leaves the defaults unwritten, which the readers take as empty values.
    CRegSettings settings;
    if (settings.Prepare() != 1) {
        // The one damage worth a word: the file is there but holds a value it must not parse.
        CRegistryKey key;
        if (!key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("General")) &&
            key.LastError() == EBADMSG)
            err_ << "postwatch: the settings file holds a value that is not text (\"@Variant(\" "
                    "or \"@DateTime(\"); it is left as it is, and no setting is in force until "
                    "that value is mended\n";
    }
    return true;
}

int HeadlessCommands::AddAccount(const CommandLineOptions& options)
{
    const std::optional<std::string> kindOption = options.Value("--kind");
    if (!kindOption)
        return Usage("--add-account needs --kind POP3, IMAP4, Portalpost or Exchange");
    // The stored literals, and the words the desktop shows for them ("IMAP", "WebMail",
    // "Maildir"), in any case; the account always stores the literal.
    std::string kind = Upper(*kindOption);
    if (kind == "IMAP")
        kind = kMailTypeImap4;
    const bool webMail = kind == "PORTALPOST" || kind == "WEBMAIL";
    const bool exchange = kind == "EXCHANGE" || kind == "EXCHANGE(MAPI)" || kind == "MAILDIR";
    // Web mail and watched mailboxes keep their own lists of what they have seen.
    if (options.Has("--from-now") && (webMail || exchange))
        return Usage("--from-now needs a POP3 or IMAP4 account");
    if (options.Value("--oauth") && (webMail || exchange))
        return Usage("--oauth needs a POP3 or IMAP4 account");
    if (webMail)
        return AddWebMailAccount(options);
    if (exchange)
        return AddExchangeAccount(options);
    if (kind != "POP3" && kind != "IMAP4")
        return Usage("unknown account kind \"" + *kindOption +
                     "\" (POP3, IMAP4, Portalpost or Exchange)");
    for (const char* other : {"--category", "--profile"})
        if (options.Value(other))
            return Usage(std::string(other) + " is not for a " + kind + " account");
    const std::optional<std::string> oauth = options.Value("--oauth");
    if (oauth && oauth->empty())
        return Usage("--oauth needs the name of a provider profile");
    auto server = options.Value("--server");
    auto user = options.Value("--user");
    if (!server)
        return Usage("--add-account needs --server HOST");
    if (!user)
        return Usage("--add-account needs --user USER");

    NewAccountRequest request;
    request.name = options.Subject();
    request.kind = kind;
    request.server = *server;
    request.userName = *user;
    if (auto port = options.Value("--port")) {
        if (!IsPortNumber(*port))
            return Usage("--port needs a number from 1 to 65535, not \"" + *port + "\"");
        request.port = *port;
    }
    if (auto security = options.Value("--security")) {
        std::string upper = Upper(*security);
        if (upper == "NONE")
            request.security = "None";
        else if (upper == "STARTTLS" || upper == "TLS")
            request.security = upper;
        else
            return Usage("--security takes none, starttls or tls, not \"" + *security + "\"");
    }
    // POP3 has neither push nor read state on the server.
    request.push = options.Has("--push");
    request.markReadOnServer = options.Has("--mark-read-on-server");
    if ((request.push || request.markReadOnServer) && kind != "IMAP4")
        return Usage(std::string(request.push ? "--push" : "--mark-read-on-server") +
                     " needs an IMAP4 account");
    request.fromNowOn = options.Has("--from-now");
    if (auto pin = options.Value("--pin")) {
        request.pin = CanonicalPin(*pin);
        if (request.pin.empty())
            return Usage("--pin takes a SHA-256 fingerprint (64 hexadecimal digits), not \"" +
                         *pin + "\"");
    }

    // The same checks, in the same order, as the new-account wizard's server page.
    if (request.server.find_first_not_of(" \t") == std::string::npos)
        return Failure(kind == "POP3" ? Text(kNoPop3Server, "Enter the POP3 server.")
                                      : Text(kNoImap4Server, "Enter the IMAP4 server."));
    if (request.userName.empty())
        return Failure(Text(kNoUserName, "Enter the user name."));
    if (oauth) {
        // No password: the sign-in below puts the refresh token in its place.
        request.signIn = kSignInOAuth2;
        if (!PrepareDataAndSettings())
            return kExitFailure;
        std::string error;
        OAuthProvider provider;
        if (OAuthProviders::Read(*oauth, provider, error) != 1)
            return Failure(error);
        const int created = CreateAccount(request);
        if (created != kExitOk)
            return created;
        // The provider is remembered at once, so a sign-in abandoned now is taken up again by
        // a plain --sign-in NAME.
        OAuthState state;
        state.provider = provider.name;
        if (OAuthState::Save(request.name, state, &error) != 1)
            return Failure(error);
        return SignIn(request.name, provider.name);
    }
    if (!ReadPassword(request.password))
        return kExitFailure;
    return CreateAccount(request);
}

int HeadlessCommands::SignIn(const std::string& account, std::optional<std::string> provider)
{
    if (!PrepareDataAndSettings())
        return kExitFailure;
    AccountRecord record;
    record.name = account;
    if (CAccountFile::ReadAccountFile(AppPaths::AccountFile(account), record) != 1)
        return Failure("no account \"" + account + "\"");
    // Without --oauth, the provider the account signed in with before. The account's state
    // changes only once the new sign-in has succeeded, so an abandoned one loses nothing.
    if (!provider) {
        OAuthState state;
        OAuthState::Load(account, state);
        if (state.provider.empty())
            return Usage(account + " has no OAuth 2.0 provider yet: name one with --oauth");
        provider = state.provider;
    }
    const OAuthSignIn::Outcome outcome = OAuthSignIn::Run(
        account, *provider,
        [this](const std::string& url) {
            out_ << "Open this address in a browser to sign in:\n" << url << "\n";
            out_.flush();
            if (openBrowser_)
                openBrowser_(url);
        },
        std::chrono::minutes(5));
    if (!outcome.ok)
        return Failure(account + " is not signed in: " + outcome.message +
                       " (try again with \"postwatch --sign-in " + account + "\")");
    out_ << account << " is signed in.\n";
    return kExitOk;
}

int HeadlessCommands::AddWebMailAccount(const CommandLineOptions& options)
{
    for (const char* other : {"--server", "--port", "--security", "--profile", "--pin"})
        if (options.Value(other))
            return Usage(std::string(other) +
                         " is not for a Portalpost account (it takes --category and --user)");
    const auto category = options.Value("--category");
    const auto user = options.Value("--user");
    if (!category)
        return Usage("--add-account needs --category for a Portalpost account (" +
                     Listed(plugins_->PortalpostCategories()) + ")");
    if (!user)
        return Usage("--add-account needs --user USER");
    // The category stands where a server would, and names the client the library runs;
    // compared exactly, as the library compares it.
    const std::vector<std::string> categories = plugins_->PortalpostCategories();
    if (std::find(categories.begin(), categories.end(), *category) == categories.end())
        return Usage("the web-mail plug-in offers no category \"" + *category + "\" (" +
                     Listed(categories) + ")");

    NewAccountRequest request;
    request.name = options.Subject();
    request.kind = kMailTypePortalpost;
    request.server = *category;
    request.userName = *user;
    // The checks of the wizard's web-mail page, in its order.
    if (request.userName.empty())
        return Failure(Text(kNoUserName, "Enter the user name."));
    if (!ReadPassword(request.password))
        return kExitFailure;
    return CreateAccount(request);
}

int HeadlessCommands::AddExchangeAccount(const CommandLineOptions& options)
{
    for (const char* other : {"--server", "--port", "--security", "--user", "--category", "--pin"})
        if (options.Value(other))
            return Usage(std::string(other) +
                         " is not for an Exchange account (it takes --profile only)");
    const auto profile = options.Value("--profile");
    const std::vector<std::string> profiles = plugins_->Profiles();
    if (!profile)
        return Usage("--add-account needs --profile for an Exchange account (" + Listed(profiles) +
                     ")");
    if (!plugins_->MapiPresent())
        return Usage("the mailbox plug-in finds no mail store on this machine, so there is no "
                     "profile \"" +
                     *profile + "\" to watch");
    if (std::find(profiles.begin(), profiles.end(), *profile) == profiles.end())
        return Usage("the mailbox plug-in offers no profile \"" + *profile + "\" (" +
                     Listed(profiles) + ")");

    NewAccountRequest request;
    request.name = options.Subject();
    request.kind = kMailTypeExchange;
    request.server = *profile;
    return CreateAccount(request);
}

int HeadlessCommands::CreateAccount(const NewAccountRequest& asked)
{
    if (!PrepareDataAndSettings())
        return kExitFailure;
    NewAccountRequest request = asked;
    request.keepInKeyring = KeepPasswordsInKeyring();
    CAccountManager manager(plugins_);
    std::string error;
    if (manager.LoadAll("", 0, &error) != 1)
        return Failure(error);
    NewAccountResult result = CreateNewAccount(request, &manager);
    if (!result.Ok())
        return Failure(result.message.empty() ? "the account was not created" : result.message);
    // As the wizard does: the first Exchange account is the one watched at start-up.
    if (result.offerAsDefaultExchange) {
        CRegSettings settings;
        if (settings.LoadGeneral() && settings.general.defaultExchange.Get().empty()) {
            settings.general.defaultExchange.Set(request.name);
            settings.SaveGeneral();
        }
    }
    return kExitOk;
}

bool HeadlessCommands::KeepPasswordsInKeyring()
{
    CRegSettings settings;
    return settings.LoadGeneral() == 1 && settings.general.keepPasswordsInKeyring.Get();
}

bool HeadlessCommands::ReadPassword(std::string& password)
{
    // The password is the first line of standard input (never an argument, which other
    // users could read in the process list).
    password.clear();
    std::getline(in_, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty()) {
        Failure(Text(kNoPassword, "Enter the password."));
        return false;
    }
    if (std::string problem = PasswordRule::Problem(password); !problem.empty()) {
        Failure(problem);
        return false;
    }
    return true;
}

int HeadlessCommands::RenameAccount(const std::string& oldName, const std::string& newName)
{
    CAccountManager manager;
    std::string error;
    if (manager.LoadAll("", 0, &error) != 1)
        return Failure(error);
    const AccountEditResult result = CAccountEditor(manager).Rename(oldName, newName);
    if (!result.Ok())
        return Failure("cannot rename \"" + oldName + "\": " + result.message);
    return kExitOk;
}

int HeadlessCommands::RemoveAccount(const std::string& name)
{
    CAccountManager manager;
    std::string error;
    if (manager.LoadAll("", 0, &error) != 1)
        return Failure(error);
    const AccountEditResult result = CAccountEditor(manager).Remove(name);
    if (!result.Ok())
        return Failure("cannot remove \"" + name + "\": " + result.message);
    if (!result.message.empty())
        err_ << "postwatch: " << result.message << "\n"; // removed; a folder stays behind
    return kExitOk;
}

int HeadlessCommands::SetAccount(const CommandLineOptions& options)
{
    const std::string name = options.Subject();
    const auto server = options.Value("--server");
    const auto port = options.Value("--port");
    const auto user = options.Value("--user");
    const auto security = options.Value("--security");
    const auto period = options.Value("--period");
    const bool newPassword = options.Has("--password-stdin");
    const auto pin = options.Value("--pin");
    if (!server && !port && !user && !security && !period && !newPassword && !pin)
        return Usage("--set-account needs something to change (--server, --port, --user, "
                     "--security, --period, --password-stdin or --pin)");
    // "none" forgets the trusted certificate.
    const std::string pinValue = pin && Upper(*pin) != "NONE" ? CanonicalPin(*pin) : "";
    if (pin && Upper(*pin) != "NONE" && pinValue.empty())
        return Usage("--pin takes a SHA-256 fingerprint (64 hexadecimal digits) or none, not \"" +
                     *pin + "\"");
    if (port && !IsPortNumber(*port))
        return Usage("--port needs a number from 1 to 65535, not \"" + *port + "\"");
    std::string securityWord;
    if (security) {
        const std::string upper = Upper(*security);
        if (upper == "NONE")
            securityWord = "None";
        else if (upper == "STARTTLS" || upper == "TLS")
            securityWord = upper;
        else
            return Usage("--security takes none, starttls or tls, not \"" + *security + "\"");
    }
    if (period && (period->empty() || period->size() > 5 ||
                   !std::all_of(period->begin(), period->end(),
                                [](unsigned char c) { return std::isdigit(c); })))
        return Usage("--period needs minutes from 1 to 99999, or 0 for no periodic check, not \"" +
                     *period + "\"");

    CAccountManager manager;
    std::string error;
    if (manager.LoadAll("", 0, &error) != 1)
        return Failure(error);
    if (!AccountListed(name, &error))
        return Failure(error.empty() ? "no account named \"" + name + "\"" : error);
    AccountRecord record;
    record.name = name;
    if (CAccountFile::ReadAccountFile(AppPaths::AccountFile(manager.TranslateName(name, 0)),
                                      record) != 1)
        return Failure("cannot read the settings of \"" + name + "\" (" +
                       AppPaths::AccountFile(name) + ")");

    // A web-mail account's server field is its category, an Exchange account's its profile:
    // neither is a host, and neither has a port or a security choice.
    if (record.mailType == kMailTypePortalpost || record.mailType == kMailTypeExchange) {
        const bool exchange = record.mailType == kMailTypeExchange;
        for (const auto& [option, given] :
             {std::pair<const char*, bool>{"--server", server.has_value()},
              {"--port", port.has_value()},
              {"--security", security.has_value()},
              {"--pin", pin.has_value()},
              {"--user", exchange && user.has_value()},
              {"--password-stdin", exchange && newPassword}})
            if (given)
                return Usage(std::string(option) + " is not for " +
                             (exchange ? "an Exchange" : "a Portalpost") + " account");
    }

    // The checks of the wizard's pages, for the values given.
    if (server) {
        if (server->find_first_not_of(" \t") == std::string::npos)
            return Failure(record.mailType == "IMAP4"
                               ? Text(kNoImap4Server, "Enter the IMAP4 server.")
                               : Text(kNoPop3Server, "Enter the POP3 server."));
        record.server = *server;
    }
    if (user) {
        if (user->empty())
            return Failure(Text(kNoUserName, "Enter the user name."));
        record.userName = *user;
    }
    if (port)
        record.port = std::to_string(std::stoi(*port));
    if (security)
        record.security = securityWord;
    if (pin)
        record.pin = pinValue;
    if (period) {
        const int minutes = std::stoi(*period);
        // Off keeps the stored period, as the dialog does, for when it is switched on again.
        record.periodCheck = minutes == 0 ? "No" : "Yes";
        if (minutes != 0)
            record.period = std::to_string(minutes);
    }
    if (newPassword && !ReadPassword(record.password))
        return kExitFailure;
    // As the properties dialog does: the setting says where the password goes now; without
    // a new one, a password in the keyring is left as it is (or moved, when it must).
    record.secret = AccountSecret::Placement(record, KeepPasswordsInKeyring());

    const AccountEditResult result = CAccountEditor(manager).ApplyProperties(name, record, nullptr);
    if (!result.Ok())
        return Failure("cannot change \"" + name + "\": " + result.message);
    return kExitOk;
}

int HeadlessCommands::ListAccounts()
{
    std::vector<AccountListRecord> records;
    if (CAccountList(AppPaths::AccountListFile()).Load(records) != 1)
        return Failure("cannot read the account list " + AppPaths::AccountListFile());
    for (const AccountListRecord& r : records) {
        AccountRecord account;
        account.name = r.name;
        CAccountFile::ReadAccountFile(AppPaths::AccountFile(r.name), account);
        out_ << Field(r.name) << '\t' << Field(account.mailType) << '\t' << Field(account.server)
             << '\t' << Field(account.port) << '\t' << Field(account.userName) << '\n';
    }
    return kExitOk;
}

int HeadlessCommands::ListMessages(const std::string& account)
{
    std::string error;
    if (!AccountListed(account, &error))
        return Failure(error.empty() ? "no account named \"" + account + "\"" : error);

    const std::string path = AppPaths::MailBoxFile(account);
    struct stat st {
    };
    if (::stat(path.c_str(), &st) != 0)
        return kExitOk; // nothing stored yet
    CMailBoxFile box;
    if (box.Open(path) != 1)
        return Failure(box.LastError());
    box.Rewind();
    while (box.Next() == 1) {
        StoredMessage m;
        if (box.ReadCurrent(m, true, false) != 1)
            return Failure(box.LastError());
        out_ << StoredField(m.messageId) << '\t' << StoredField(m.read) << '\t'
             << StoredField(m.sender) << '\t' << StoredField(m.subject) << '\t'
             << StoredField(m.date) << '\t' << StoredField(m.size) << '\t'
             << StoredField(m.attachment) << '\n';
    }
    return kExitOk;
}

int HeadlessCommands::CheckNow(const std::vector<std::string>& names)
{
    if (!PrepareDataAndSettings())
        return kExitFailure;
    std::vector<AccountListRecord> records;
    if (CAccountList(AppPaths::AccountListFile()).Load(records) != 1)
        return Failure("cannot read the account list " + AppPaths::AccountListFile());
    std::vector<std::string> wanted;
    for (const std::string& name : names) {
        if (std::none_of(records.begin(), records.end(),
                         [&](const AccountListRecord& r) { return r.name == name; }))
            return Failure("no account named \"" + name + "\"");
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end())
            wanted.push_back(name);
    }
    if (names.empty()) {
        for (const AccountListRecord& r : records)
            if (std::find(wanted.begin(), wanted.end(), r.name) == wanted.end())
                wanted.push_back(r.name);
    }
    // A damaged list hides accounts: checking what is left must not pass for success.
    const std::string damage = AccountListRepair::Damage();
    if (!damage.empty())
        err_ << "postwatch: " << damage << "; \"postwatch --repair NAME\" rebuilds it from the "
             << "account folders\n";
    HeadlessCheck check(out_, err_, plugins_);
    return check.Run(wanted) && damage.empty() ? kExitOk : kExitFailure;
}

int HeadlessCommands::Repair(const std::string& account)
{
    if (!AccountNames::IsSafeFolderName(account))
        return Failure("\"" + account + "\" cannot be an account name");
    bool failed = false;
    // The account list first: a damaged one hides the account from everything else.
    AccountListRepair::Result list = AccountListRepair::Repair(std::time(nullptr));
    if (list.outcome != AccountListRepair::Outcome::NothingToDo) {
        if (list.outcome == AccountListRepair::Outcome::Failed) {
            err_ << "postwatch: " << list.Describe() << "\n";
            failed = true;
        } else {
            out_ << list.Describe() << "\n";
        }
    }

    const std::string folder = AppPaths::AccountDir(account);
    struct stat st {
    };
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Failure("there is no account folder " + folder);
    CAccountLock lock;
    std::string error;
    switch (lock.Acquire(folder, CAccountLock::kDefaultWait, &error)) {
    case CAccountLock::Outcome::Held:
        break;
    case CAccountLock::Outcome::Busy:
        return Failure(CAccountLock::BusyMessage(account) + "; try again when it is done");
    case CAccountLock::Outcome::Failed:
        return Failure(error);
    }
    const std::string path = AppPaths::MailBoxFile(account);
    if (::stat(path.c_str(), &st) == 0) {
        CMailBoxRepair::Result box = CMailBoxRepair::Repair(path, std::time(nullptr));
        if (box.outcome == CMailBoxRepair::Outcome::Failed) {
            err_ << "postwatch: " << box.Describe(path) << "\n";
            failed = true;
        } else {
            out_ << box.Describe(path) << "\n";
        }
    }
    return failed ? kExitFailure : kExitOk;
}
