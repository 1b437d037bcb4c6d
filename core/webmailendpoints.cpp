#include "webmailendpoints.h"

#include "programkey.h"
#include "registrykey.h"

#include <utility>
#include <vector>

namespace
{

using Value = std::pair<const char*, std::string*>;

std::string KeyOf(const char* category)
{
    return ProgramKey::Path("Portalpost") + "\\" + category;
}

void ReadInto(const char* category, const std::vector<Value>& values)
{
    CRegistryKey key;
    if (!key.Open(RegistryRoot::CurrentUser, KeyOf(category)))
        return;
    for (const auto& [name, target] : values) {
        std::string text;
        if (key.ReadString(name, text, 2048) && !text.empty())
            *target = text;
    }
}

int WriteMissing(const char* category, const std::vector<Value>& values)
{
    CRegistryKey key;
    // CreateKey makes the key exist but leaves it closed.
    if (!key.CreateKey(RegistryRoot::CurrentUser, KeyOf(category)) ||
        !key.Open(RegistryRoot::CurrentUser, KeyOf(category)))
        return 0;
    int ok = 1;
    for (const auto& [name, value] : values) {
        std::string present;
        if (!key.ReadString(name, present, 2048) && !key.WriteString(name, *value))
            ok = 0;
    }
    return ok;
}

std::vector<Value> Values(HotmailEndpoints& e)
{
    return {{"GatewayUrl", &e.gatewayUrl},
            {"MailDomain", &e.mailDomain},
            {"Namespace", &e.namespaceUri}};
}

std::vector<Value> Values(YahooEndpoints& e)
{
    return {{"EntryUrl", &e.entryUrl}, {"LoginHost", &e.loginHost}, {"MailDomain", &e.mailDomain},
            {"Suffix1", &e.suffix1},   {"Suffix2", &e.suffix2},     {"Suffix3", &e.suffix3}};
}

} // namespace

HotmailEndpoints DefaultHotmailEndpoints()
{
    return {"http://services.hotmail.com/svcs/hotmail/httpmail.asp", "hotmail.com",
            "http://schemas.hotmail.com/hotmail/"};
}

YahooEndpoints DefaultYahooEndpoints()
{
    return {"http://mail.yahoo.com/", "login.yahoo.com", "@yahoo.com",
            "@yahoo.com.cn",          "@yahoo.com.hk",   "@yahoo.com.tw"};
}

HotmailEndpoints ReadHotmailEndpoints()
{
    HotmailEndpoints e = DefaultHotmailEndpoints();
    ReadInto("Hotmail", Values(e));
    return e;
}

YahooEndpoints ReadYahooEndpoints()
{
    YahooEndpoints e = DefaultYahooEndpoints();
    ReadInto("Yahoo", Values(e));
    return e;
}

int WriteMissingWebMailEndpoints()
{
    HotmailEndpoints hotmail = DefaultHotmailEndpoints();
    YahooEndpoints yahoo = DefaultYahooEndpoints();
    return WriteMissing("Hotmail", Values(hotmail)) & WriteMissing("Yahoo", Values(yahoo));
}
