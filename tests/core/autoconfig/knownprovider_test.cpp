// The known providers' servers come from the sign-in profiles in the settings store, for the
// domains each profile lists; a profile a user wrote wrongly gives nothing rather than junk.

#include "oauthprovider.h"
#include "providersettings.h"
#include "settingsdiscovery.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace
{

struct ProviderRow {
    const char* name;
    const char* domains;
    const char* imap;
    const char* pop3;
    const char* address;
    std::vector<DiscoveredServer> want;
};
POSTWATCH_ROW_PRINTS_NAME(ProviderRow)

const ProviderRow kRows[] = {
    {"BothServers",
     "example.com example.org",
     "imap.example.com:993",
     "pop.example.com:995",
     "ann@Example.ORG",
     {{"IMAP4", "imap.example.com", 993, "TLS", "ann@example.org"},
      {"POP3", "pop.example.com", 995, "TLS", "ann@example.org"}}},
    {"OtherDomainAsksTheDomain", "example.com", "imap.example.com:993", "", "ann@example.net", {}},
    {"BadPortAndHostSkipped",
     "example.com",
     "imap.example.com:99999",
     "bad host:995",
     "ann@example.com",
     {}},
    {"ImapOnly",
     "EXAMPLE.com",
     "imap.example.com:993",
     "",
     "bob@example.com",
     {{"IMAP4", "imap.example.com", 993, "TLS", "bob@example.com"}}},
};

class KnownProviderTest : public ::testing::TestWithParam<ProviderRow>
{
protected:
    TempDir dir_;
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.File("config")};
};

TEST_P(KnownProviderTest, ServersOfTheProfileThatServesTheDomain)
{
    const ProviderRow& row = GetParam();
    OAuthProvider profile;
    profile.name = "Example";
    profile.domains = row.domains;
    profile.imapServer = row.imap;
    profile.pop3Server = row.pop3;
    ASSERT_EQ(OAuthProviders::Write(profile), 1);

    DiscoverySources sources;
    sources.providers = KnownProviderServers;
    const std::atomic<bool> cancel(false);
    const SettingsDiscovery::Result found =
        SettingsDiscovery(std::move(sources)).Discover(row.address, cancel);
    EXPECT_EQ(found.servers, row.want);
}

INSTANTIATE_TEST_SUITE_P(Table, KnownProviderTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The defaults know the two large providers' domains before any client id is filled in.
TEST(KnownProviderDefaults, ServeTheirDomainsWithoutAClientId)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.File("config"));
    ASSERT_EQ(OAuthProviders::WriteMissingDefaults(), 1);
    const std::vector<DiscoveredServer> servers = KnownProviderServers("gmail.com");
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[0].host, "imap.gmail.com");
    EXPECT_TRUE(KnownProviderServers("example.com").empty());
}

} // namespace
