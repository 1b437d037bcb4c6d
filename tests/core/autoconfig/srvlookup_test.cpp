// SRV records (RFC 6186) through a stub DNS: the order of services and records, the "."
// target, and hostile answers that must find nothing without harm.

#include "settingsdiscovery.h"
#include "srvpacket.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>
#include <map>

namespace
{

constexpr const char* kAddress = "bob@example.test";

using Packet = std::vector<unsigned char>;

// Answers from a table of names; a name it does not know gets no answer at all.
class StubDns final : public DnsQuery
{
public:
    explicit StubDns(std::map<std::string, Packet> answers) : answers_(std::move(answers)) {}
    bool QuerySrv(const std::string& name, Packet* answer) override
    {
        asked.push_back(name);
        const auto it = answers_.find(name);
        if (it == answers_.end())
            return false;
        *answer = it->second;
        return true;
    }
    std::vector<std::string> asked;

private:
    std::map<std::string, Packet> answers_;
};

Packet Srv(const std::string& name, const std::vector<SrvRecord>& records)
{
    return srvpacket::Answer(name, records);
}

Packet Cut(Packet packet, size_t length)
{
    packet.resize(std::min(length, packet.size()));
    return packet;
}

// The first answer's target turned into a pointer to itself.
Packet PointerLoop()
{
    Packet p = Srv("_imaps._tcp.example.test", {{0, 0, 993, "x"}});
    const size_t target = p.size() - 3; // "\1x\0"
    p[target] = static_cast<unsigned char>(0xC0 | (target >> 8));
    p[target + 1] = static_cast<unsigned char>(target & 0xFF);
    return p;
}

Packet LengthBeyondEnd()
{
    Packet p = Srv("_imaps._tcp.example.test", {{0, 0, 993, "imap.example.test"}});
    // The record's data length (just before priority, weight, port and target) made huge.
    const size_t rdlength = p.size() - 2 - 6 - 19;
    p[rdlength] = 0xFF;
    p[rdlength + 1] = 0xFF;
    return p;
}

struct SrvRow {
    const char* name;
    std::map<std::string, Packet> answers;
    std::vector<DiscoveredServer> expected;
};
POSTWATCH_ROW_PRINTS_NAME(SrvRow)

const std::string kImaps = "_imaps._tcp.example.test";
const std::string kImap = "_imap._tcp.example.test";
const std::string kPop3s = "_pop3s._tcp.example.test";
const std::string kPop3 = "_pop3._tcp.example.test";

const SrvRow kSrvRows[] = {
    {"ImapsRecord",
     {{kImaps, Srv(kImaps, {{0, 1, 993, "mail.example.test"}})}},
     {{"IMAP4", "mail.example.test", 993, "TLS", kAddress}}},
    {"LowestPriorityThenHighestWeight",
     {{kImaps, Srv(kImaps, {{20, 90, 993, "far.example.test"},
                            {10, 5, 993, "light.example.test"},
                            {10, 50, 994, "heavy.example.test"}})}},
     {{"IMAP4", "heavy.example.test", 994, "TLS", kAddress}}},
    {"DotTargetMeansNoServiceSoStartTlsIsUsed",
     {{kImaps, Srv(kImaps, {{0, 0, 0, ""}})},
      {kImap, Srv(kImap, {{0, 0, 143, "imap.example.test"}})}},
     {{"IMAP4", "imap.example.test", 143, "STARTTLS", kAddress}}},
    {"BothKindsImapFirst",
     {{kPop3s, Srv(kPop3s, {{0, 0, 995, "pop.example.test"}})},
      {kImap, Srv(kImap, {{0, 0, 143, "imap.example.test"}})}},
     {{"IMAP4", "imap.example.test", 143, "STARTTLS", kAddress},
      {"POP3", "pop.example.test", 995, "TLS", kAddress}}},
    {"NameErrorIsNoRecords",
     {{kImaps, srvpacket::Answer(kImaps, {}, 3)},
      {kPop3, Srv(kPop3, {{0, 0, 110, "pop.example.test"}})}},
     {{"POP3", "pop.example.test", 110, "STARTTLS", kAddress}}},
    {"TargetThatIsNoHostNameIsSkipped",
     {{kImaps, Srv(kImaps, {{0, 0, 993, "bad host"}, {1, 0, 993, "good.example.test"}})}},
     {{"IMAP4", "good.example.test", 993, "TLS", kAddress}}},
    {"HostilePointerLoop", {{kImaps, PointerLoop()}}, {}},
    {"HostileLengthBeyondTheEnd", {{kImaps, LengthBeyondEnd()}}, {}},
    {"HostileCutInTheHeader", {{kImaps, Cut(Srv(kImaps, {{0, 0, 993, "a.test"}}), 7)}}, {}},
    {"HostileCutInTheTarget",
     {{kImaps, Cut(Srv(kImaps, {{0, 0, 993, "a.example.test"}}), 64)}},
     {}},
    {"HostileQueryNotAnswer",
     {{kImaps,
       [] {
           Packet p = Srv(kImaps, {{0, 0, 993, "a.example.test"}});
           p[2] &= 0x7F;
           return p;
       }()}},
     {}},
    {"HostileBadLabelThenGoodPop",
     {{kImaps,
       [] {
           Packet p = Srv(kImaps, {{0, 0, 993, "a.example.test"}});
           p[p.size() - 16] = 0x80; // the target's first label length becomes a reserved type
           return p;
       }()},
      {kPop3s, Srv(kPop3s, {{0, 0, 995, "pop.example.test"}})}},
     {{"POP3", "pop.example.test", 995, "TLS", kAddress}}},
    {"NoAnswerAtAll", {}, {}},
};

class SrvLookupTest : public ::testing::TestWithParam<SrvRow>
{
};

TEST_P(SrvLookupTest, FindsServers)
{
    const SrvRow& row = GetParam();
    auto dns = std::make_shared<StubDns>(row.answers);
    DiscoverySources sources;
    sources.dns = dns;
    const std::atomic<bool> cancel{false};
    const SettingsDiscovery::Result result = SettingsDiscovery(sources).Discover(kAddress, cancel);
    EXPECT_EQ(result.servers, row.expected);
    EXPECT_EQ(result.source, row.expected.empty() ? SettingsDiscovery::Source::None
                                                  : SettingsDiscovery::Source::Srv);
    // A hostile answer is refused as a whole, and says so.
    if (std::string(row.name).rfind("Hostile", 0) == 0)
        EXPECT_FALSE(result.notes.empty());
    // Once a kind is found its other service is not asked.
    const bool imapFound = !row.expected.empty() && row.expected[0].kind == "IMAP4";
    const bool askedBoth =
        std::find(dns->asked.begin(), dns->asked.end(), kImaps) != dns->asked.end() &&
        std::find(dns->asked.begin(), dns->asked.end(), kImap) != dns->asked.end();
    if (imapFound && row.expected[0].security == "TLS")
        EXPECT_FALSE(askedBoth);
}

INSTANTIATE_TEST_SUITE_P(Table, SrvLookupTest, ::testing::ValuesIn(kSrvRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
