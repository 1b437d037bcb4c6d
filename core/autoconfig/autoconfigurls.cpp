#include "autoconfigurls.h"

#include "programkey.h"
#include "registrykey.h"

std::vector<DiscoverySources::ConfigUrl> ReadAutoconfigUrls()
{
    std::vector<DiscoverySources::ConfigUrl> urls = {
        {"https://autoconfig.%EMAILDOMAIN%/mail/config-v1.1.xml", false},
        {"https://%EMAILDOMAIN%/.well-known/autoconfig/mail/config-v1.1.xml", true}};
    CRegistryKey key;
    if (!key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Autoconfig")))
        return urls;
    const char* names[2] = {"ProviderUrl", "WellKnownUrl"};
    for (int i = 0; i < 2; ++i) {
        std::string text;
        if (key.ReadString(names[i], text, 2048) && !text.empty())
            urls[i].pattern = text;
    }
    return urls;
}
