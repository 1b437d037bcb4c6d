#include "newaccount.h"

#include "accountfile.h"
#include "accountlist.h"
#include "accountmanager.h"
#include "accountnames.h"
#include "accountrecord.h"
#include "accountsecret.h"
#include "apppaths.h"
#include "fromnowmarker.h"
#include "passwordrule.h"

#include <unistd.h>

namespace
{

using Category = NewAccountResult::Category;

NewAccountResult Refuse(Category category, std::string message)
{
    NewAccountResult r;
    r.category = category;
    r.message = std::move(message);
    return r;
}

struct KindDefaults {
    const char* kind;
    const char* port;
    const char* tlsPort; // implicit TLS listens on a port of its own
    const char* priview;
};

const KindDefaults kKinds[] = {
    {kMailTypePop3, "110", "995", "99"},
    {kMailTypeImap4, "143", "993", "2"},
    {kMailTypePortalpost, "", "", ""},
    {kMailTypeExchange, "", "", "2"},
};

// The periodic check's limit, as the properties dialog offers it.
constexpr int kMaxPeriodMinutes = 99999;

} // namespace

NewAccountResult CreateNewAccount(const NewAccountRequest& request, CAccountManager* manager)
{
    const KindDefaults* kind = nullptr;
    for (const auto& k : kKinds)
        if (request.kind == k.kind)
            kind = &k;
    if (!kind)
        return Refuse(Category::UnknownKind,
                      "Unknown account kind \"" + request.kind +
                          "\" (expected POP3, IMAP4, Portalpost or Exchange(MAPI)).");

    std::string name = request.name;
    if (AccountNames::Check(name) != AccountNames::Problem::None)
        return Refuse(Category::InvalidName,
                      "The account name \"" + request.name +
                          "\" is blank or holds a character a folder name cannot have "
                          "(\\ / : * ? \" < > |).");
    if (name.size() > CAccountList::kMaxValue)
        return Refuse(Category::InvalidName, "The account name is longer than 60 bytes.");
    if (request.password.size() > CAccountList::kMaxValue)
        return Refuse(Category::InvalidValue, "The password is longer than 60 bytes.");
    if (std::string problem = PasswordRule::Problem(request.password); !problem.empty())
        return Refuse(Category::InvalidValue, problem);
    if (request.period < 1 || request.period > kMaxPeriodMinutes)
        return Refuse(Category::InvalidValue,
                      "The period of the check must be from 1 to 99999 minutes, not " +
                          std::to_string(request.period) + ".");

    // The name check and the append are one step: another process adding the same name
    // waits here and then finds it taken (the files of the first are never touched).
    if (!AppPaths::MakeDirs(AppPaths::MailDir(), 0700))
        return Refuse(Category::WriteFailed,
                      "Cannot create the folder " + AppPaths::MailDir() + ".");
    CAccountList list(AppPaths::AccountListFile());
    CAccountList::WriteLock listLock(list.Path());
    std::vector<AccountListRecord> records;
    if (!list.Load(records))
        return Refuse(Category::WriteFailed, list.Error());
    bool taken = false;
    for (const auto& r : records)
        taken = taken || AccountNames::SameIgnoringCase(r.name, name);
    // The table also knows the names that waiting renames claim.
    if (manager)
        taken = taken || manager->NameTaken(name);
    if (taken)
        return Refuse(Category::NameTaken, "An account named \"" + name + "\" exists already.");

    AccountRecord record;
    record.name = name;
    record.mailType = kind->kind;
    record.userName = request.userName;
    record.server = request.server;
    record.port = request.port                ? *request.port
                  : request.security == "TLS" ? kind->tlsPort
                                              : kind->port;
    record.periodCheck = request.periodCheck ? "Yes" : "No";
    record.period = std::to_string(request.period);
    record.specifiedTimeCheck = "No";
    record.specifiedTime = "09:00";
    record.priview = kind->priview;
    record.password = request.password;
    record.security = request.security;
    if (record.mailType == kMailTypePop3 || record.mailType == kMailTypeImap4)
        record.signIn = request.signIn;
    // Push and marking read on the server need IMAP; other kinds keep their file as before.
    if (record.mailType == kMailTypeImap4) {
        record.push = request.push ? "Yes" : "";
        record.markReadOnServer = request.markReadOnServer ? "Yes" : "";
        record.pin = request.pin;
    }
    std::string bytes;
    std::string error;
    if (!CAccountFile::FormatAccountInf(record, bytes, &error))
        return Refuse(Category::InvalidValue, error);

    // The name is ours now (under the list's lock), so a secret of that name is a leftover
    // and may be replaced. Without a keyring the file keeps the password.
    bool inKeyring = false;
    // An OAuth 2.0 account's refresh token stays in the file (AccountSecret::Placement).
    if (request.keepInKeyring && AccountSecret::HasPassword(record) && !UsesOAuthSignIn(record) &&
        SystemKeyring::Store(AccountSecret::KeyOf(record, name), request.password).Ok()) {
        inKeyring = true;
        record.secret = kSecretKeyring;
        record.password.clear();
    }
    const auto dropSecret = [&] {
        if (inKeyring)
            SystemKeyring::Clear(AccountSecret::KeyOf(record, name));
    };

    // The folder and Account.inf come first and the Account.cfg record last: the record is
    // what makes the account exist, so a crash in between leaves an unlisted folder rather
    // than a listed account without settings.
    std::string folder = AppPaths::AccountDir(name);
    if (!AppPaths::MakeDirs(folder, 0700)) {
        dropSecret();
        return Refuse(Category::WriteFailed, "Cannot create the folder " + folder + ".");
    }
    std::string infPath = AppPaths::AccountFile(name);
    if (!CAccountFile::WriteAccountFile(infPath, record, &error)) {
        dropSecret();
        return Refuse(Category::WriteFailed, error);
    }
    // A marker left in a folder that a crash left unlisted must not outlive its request.
    const bool fromNow = request.fromNowOn &&
                         (record.mailType == kMailTypePop3 || record.mailType == kMailTypeImap4);
    if (!(fromNow ? WriteFromNowMarker(name, &error) : RemoveFromNowMarker(name, &error))) {
        ::unlink(infPath.c_str());
        dropSecret();
        return Refuse(Category::WriteFailed, error);
    }
    // The copy in Account.cfg is the file's password: empty when the keyring has it.
    if (!list.Append(name, std::string(), record.password)) {
        ::unlink(infPath.c_str());
        RemoveFromNowMarker(name);
        dropSecret();
        return Refuse(Category::WriteFailed, list.Error());
    }
    if (manager)
        manager->EnterOrRequest(name, 1, nullptr, &record.password, 0);

    NewAccountResult result;
    result.offerAsDefaultExchange = record.mailType == kMailTypeExchange;
    return result;
}
