#include "accountsecret.h"

#include "resourcelibrary.h"

SecretKey AccountSecret::KeyOf(const AccountRecord& record, const std::string& name)
{
    SecretKey key;
    key.account = name;
    key.user = record.userName;
    key.server = record.server;
    return key;
}

bool AccountSecret::HasPassword(const AccountRecord& record)
{
    return record.mailType != kMailTypeExchange;
}

SystemKeyring::Result AccountSecret::Resolve(AccountRecord& record, SystemKeyring::Prompt prompt,
                                             std::chrono::milliseconds limit)
{
    if (record.secret != kSecretKeyring) {
        SystemKeyring::Result r;
        r.outcome = SystemKeyring::Outcome::Ok;
        return r;
    }
    SystemKeyring::Result r = SystemKeyring::Lookup(KeyOf(record, record.name), prompt, limit);
    if (r.Ok())
        record.password.swap(r.secret);
    r.secret.clear();
    return r;
}

std::string AccountSecret::Placement(const AccountRecord& record, bool keepInKeyring)
{
    // An OAuth 2.0 refresh token stays in the file: a check writes a rotated one back there,
    // and the keyring would keep the old one.
    if (keepInKeyring && HasPassword(record) && !UsesOAuthSignIn(record))
        return kSecretKeyring;
    return record.secret == kSecretKeyring ? std::string() : record.secret;
}

std::string AccountSecret::UnavailableText(const std::string& why)
{
    std::string text = LoadResourceString(40900);
    if (text.empty())
        text = "password unavailable: %s";
    const size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, why);
    return text;
}
