// Guessed servers (imap., pop., mail. + the domain) probed against the private Dovecot: the
// probe reaches the fixture's ports through a table of what "exists" under the guessed names.

#include "dovecotenvironment.h"
#include "greetingprobe.h"
#include "settingsdiscovery.h"
#include "support/component.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <map>

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

constexpr const char* kAddress = "carol@fixture.test";

enum class Port { Imaps, Imap, Pop3s, Pop3 };

// Connects a guess to the fixture port its table names under "localhost" (the name the
// fixture's certificate holds); a guess the table lacks finds a closed port.
class FixtureProbe final : public ServerProbe
{
public:
    FixtureProbe(const DovecotFixture& dovecot, std::map<std::string, Port> exists)
        : dovecot_(dovecot), exists_(std::move(exists))
    {
    }
    bool Answers(const DiscoveredServer& server, const std::atomic<bool>& cancel) override
    {
        tried.push_back(server.host + ":" + std::to_string(server.port));
        DiscoveredServer real = server;
        real.host = "localhost";
        const auto it = exists_.find(tried.back());
        if (it == exists_.end()) {
            real.port = 1; // nothing listens there
        } else {
            const int ports[4] = {dovecot_.ImapsPort(), dovecot_.ImapPort(), dovecot_.Pop3sPort(),
                                  dovecot_.Pop3Port()};
            real.port = ports[static_cast<int>(it->second)];
        }
        return probe_.Answers(real, cancel);
    }
    std::vector<std::string> tried;

private:
    const DovecotFixture& dovecot_;
    std::map<std::string, Port> exists_;
    GreetingProbe probe_;
};

struct GuessRow {
    const char* name;
    std::map<std::string, Port> exists;
    std::vector<DiscoveredServer> expected;
    std::vector<std::string> tried; // every probe, in order
};
POSTWATCH_ROW_PRINTS_NAME(GuessRow)

const std::vector<std::string> kAll = {"imap.fixture.test:993", "imap.fixture.test:143",
                                       "mail.fixture.test:993", "mail.fixture.test:143",
                                       "pop.fixture.test:995",  "pop.fixture.test:110",
                                       "mail.fixture.test:995", "mail.fixture.test:110"};

const GuessRow kGuessRows[] = {
    {"TlsPortsFirst",
     {{"imap.fixture.test:993", Port::Imaps},
      {"imap.fixture.test:143", Port::Imap},
      {"pop.fixture.test:995", Port::Pop3s}},
     {{"IMAP4", "imap.fixture.test", 993, "TLS", kAddress},
      {"POP3", "pop.fixture.test", 995, "TLS", kAddress}},
     {"imap.fixture.test:993", "pop.fixture.test:995"}},
    {"StartTlsOnThePlainPorts",
     {{"imap.fixture.test:143", Port::Imap}, {"pop.fixture.test:110", Port::Pop3}},
     {{"IMAP4", "imap.fixture.test", 143, "STARTTLS", kAddress},
      {"POP3", "pop.fixture.test", 110, "STARTTLS", kAddress}},
     {"imap.fixture.test:993", "imap.fixture.test:143", "pop.fixture.test:995",
      "pop.fixture.test:110"}},
    {"MailHostServesBoth",
     {{"mail.fixture.test:993", Port::Imaps}, {"mail.fixture.test:110", Port::Pop3}},
     {{"IMAP4", "mail.fixture.test", 993, "TLS", kAddress},
      {"POP3", "mail.fixture.test", 110, "STARTTLS", kAddress}},
     {"imap.fixture.test:993", "imap.fixture.test:143", "mail.fixture.test:993",
      "pop.fixture.test:995", "pop.fixture.test:110", "mail.fixture.test:995",
      "mail.fixture.test:110"}},
    // A POP3 server behind the IMAP port, an IMAP server behind the POP3 one, TLS spoken on
    // a port guessed as STARTTLS: none of them is proposed.
    {"WrongServerBehindThePortIsNotProposed",
     {{"imap.fixture.test:993", Port::Pop3s},
      {"pop.fixture.test:995", Port::Imaps},
      {"imap.fixture.test:143", Port::Imaps}},
     {},
     kAll},
    {"NothingAnswers", {}, {}, kAll},
};

class GuessTest : public ::testing::TestWithParam<GuessRow>
{
};

TEST_P(GuessTest, ProbesInOrder)
{
    const GuessRow& row = GetParam();
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    if (dovecot == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    ScopedEnv trust("SSL_CERT_FILE", dovecot->CaFile());
    auto probe = std::make_shared<FixtureProbe>(*dovecot, row.exists);
    DiscoverySources sources;
    sources.probe = probe;
    const std::atomic<bool> cancel{false};
    const SettingsDiscovery::Result result = SettingsDiscovery(sources).Discover(kAddress, cancel);
    EXPECT_EQ(result.servers, row.expected);
    EXPECT_EQ(probe->tried, row.tried);
}

INSTANTIATE_TEST_SUITE_P(Table, GuessTest, ::testing::ValuesIn(kGuessRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GuessTest, GuessDomainReplacesTheAddressDomainAndCancelStopsAtOnce)
{
    auto probe = std::make_shared<FixtureProbe>(DovecotFixture(), std::map<std::string, Port>{});
    DiscoverySources sources;
    sources.probe = probe;
    sources.guessDomain = "other.test";
    std::atomic<bool> cancel{false};
    SettingsDiscovery(sources).Discover(kAddress, cancel);
    ASSERT_FALSE(probe->tried.empty());
    EXPECT_EQ(probe->tried.front(), "imap.other.test:993");

    probe->tried.clear();
    cancel = true;
    EXPECT_TRUE(SettingsDiscovery(sources).Discover(kAddress, cancel).servers.empty());
    EXPECT_TRUE(probe->tried.empty());
}

} // namespace
