// Configuration documents fetched from a local https server: good, malformed, huge,
// redirecting (within bounds, too often, to another host), and the order of the addresses.

#include "configdocumentserver.h"
#include "settingsdiscovery.h"
#include "support/component.h"
#include "support/tablerow.h"
#include "support/tempdir.h"
#include "support/testpki.h"

#include <gtest/gtest.h>

namespace
{

constexpr const char* kAddress = "alice@example.test";

const std::string kGood = R"(<?xml version="1.0" encoding="UTF-8"?>
<clientConfig version="1.1">
  <emailProvider id="example.test">
    <domain>example.test</domain>
    <displayName>Example Mail</displayName>
    <incomingServer type="imap">
      <hostname>imap.%EMAILDOMAIN%</hostname>
      <port>993</port>
      <socketType>SSL</socketType>
      <authentication>password-cleartext</authentication>
      <username>%EMAILADDRESS%</username>
    </incomingServer>
    <incomingServer type="pop3">
      <hostname> pop.example.test </hostname>
      <port>110</port>
      <socketType>STARTTLS</socketType>
      <username>%EmailLocalPart%</username>
    </incomingServer>
    <outgoingServer type="smtp">
      <hostname>smtp.example.test</hostname><port>465</port><socketType>SSL</socketType>
    </outgoingServer>
  </emailProvider>
</clientConfig>
)";

// Every server but the last is unusable; the last has no username (the address is used).
const std::string kMixed = R"(<clientConfig><emailProvider>
  <incomingServer type="imap"><hostname>bad host</hostname><port>993</port><socketType>SSL</socketType></incomingServer>
  <incomingServer type="imap"><hostname>imap.example.test</hostname><port>99999</port><socketType>SSL</socketType></incomingServer>
  <incomingServer type="imap"><hostname>imap.example.test</hostname><port>993</port><socketType>TLS1.3</socketType></incomingServer>
  <incomingServer type="exchange"><hostname>ews.example.test</hostname><port>443</port><socketType>SSL</socketType></incomingServer>
  <incomingServer type="imap"><hostname>imap.example.test</hostname><port>143</port><socketType>plain</socketType><username>a&#10;b</username></incomingServer>
  <incomingServer type="pop3"><hostname>mail.example.test</hostname><port>995</port><socketType>SSL</socketType></incomingServer>
</emailProvider></clientConfig>)";

const std::string kMalformed = "<clientConfig><emailProvider><incomingServer type=\"imap\">"
                               "<hostname>imap.example.test</hostname></emailProvider>";
const std::string kEntities = R"(<?xml version="1.0"?>
<!DOCTYPE clientConfig [<!ENTITY a "aaaaaaaaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">]>
<clientConfig><emailProvider><incomingServer type="imap"><hostname>&b;</hostname>
<port>993</port><socketType>SSL</socketType></incomingServer></emailProvider></clientConfig>)";
const std::string kNotConfig = "<html><body>Not here</body></html>";

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"";
}

struct Route {
    Route(std::string p, int s, std::string b = {}, int r = 1, std::string l = {})
        : path(std::move(p)), status(s), body(std::move(b)), repeat(r), location(std::move(l))
    {
    }
    std::string path;
    int status;
    std::string body;
    int repeat;
    std::string location; // "{port}" is the server's port
};

struct DocumentRow {
    const char* name;
    std::vector<Route> routes;
    std::vector<DiscoverySources::ConfigUrl> urls; // "{base}" is the server's address
    std::vector<DiscoveredServer> expected;
    const char* note;       // a note the look-up must leave, or ""
    const char* neverAsked; // a request path the server must not see, or ""
};
POSTWATCH_ROW_PRINTS_NAME(DocumentRow)

const DiscoveredServer kGoodImap{"IMAP4", "imap.example.test", 993, "TLS", kAddress};
const DiscoveredServer kGoodPop{"POP3", "pop.example.test", 110, "STARTTLS", "alice"};

const DocumentRow kDocumentRows[] = {
    {"GoodDocumentGivesBothServersInOrder",
     {{"/mail/config-v1.1.xml", 200, kGood}},
     {{"{base}/mail/config-v1.1.xml", false}},
     {kGoodImap, kGoodPop},
     "",
     ""},
    {"DomainPlaceholderInTheAddress",
     {{"/example.test/config.xml", 200, kGood}},
     {{"{base}/%EMAILDOMAIN%/config.xml", false}},
     {kGoodImap, kGoodPop},
     "",
     ""},
    {"UnusableServersAreSkipped",
     {{"/mixed.xml", 200, kMixed}},
     {{"{base}/mixed.xml", false}},
     {{"POP3", "mail.example.test", 995, "TLS", kAddress}},
     "",
     ""},
    {"MalformedDocumentFindsNothing",
     {{"/bad.xml", 200, kMalformed}},
     {{"{base}/bad.xml", false}},
     {},
     "not well-formed",
     ""},
    {"DocumentTypeDeclarationIsRefused",
     {{"/dtd.xml", 200, kEntities}},
     {{"{base}/dtd.xml", false}},
     {},
     "document type",
     ""},
    {"OtherDocumentFindsNothing",
     {{"/page.xml", 200, kNotConfig}},
     {{"{base}/page.xml", false}},
     {},
     "not a mail client configuration",
     ""},
    {"HugeAnswerIsRefused",
     {{"/huge.xml", 200, kGood.substr(0, 60) + std::string(4096, ' '), 300}},
     {{"{base}/huge.xml", false}},
     {},
     "larger than 1 MiB",
     ""},
    {"MissingDocumentFallsToTheNextAddress",
     {{"/second.xml", 200, kGood}},
     {{"{base}/first.xml", false}, {"{base}/second.xml", true}},
     {kGoodImap, kGoodPop},
     "404",
     ""},
    {"RedirectOnTheSameHostIsFollowed",
     {{"/moved.xml", 301, "", 1, "/mail/config-v1.1.xml"}, {"/mail/config-v1.1.xml", 200, kGood}},
     {{"{base}/moved.xml", true}},
     {kGoodImap, kGoodPop},
     "",
     ""},
    {"RedirectToAnotherHostIsFollowedForTheProviderAddress",
     {{"/moved.xml", 302, "", 1, "https://localhost:{port}/elsewhere.xml"},
      {"/elsewhere.xml", 200, kGood}},
     {{"{base}/moved.xml", false}},
     {kGoodImap, kGoodPop},
     "",
     ""},
    {"RedirectToAnotherHostIsRefusedForTheWellKnownAddress",
     {{"/.well-known/autoconfig/mail/config-v1.1.xml", 302, "", 1,
       "https://localhost:{port}/elsewhere.xml"},
      {"/elsewhere.xml", 200, kGood}},
     {{"{base}/.well-known/autoconfig/mail/config-v1.1.xml", true}},
     {},
     "another host",
     "/elsewhere.xml"},
    {"RedirectToPlainHttpIsRefused",
     {{"/moved.xml", 307, "", 1, "http://127.0.0.1:1/config.xml"}},
     {{"{base}/moved.xml", false}},
     {},
     "only https",
     ""},
    {"RedirectLoopEndsAfterThreeHops",
     {{"/a.xml", 302, "", 1, "/b.xml"}, {"/b.xml", 302, "", 1, "/a.xml"}},
     {{"{base}/a.xml", false}},
     {},
     "too many redirects",
     ""},
    {"PlainHttpAddressIsNotAsked",
     {{"/mail/config-v1.1.xml", 200, kGood}},
     {{"http://127.0.0.1:9/mail/config-v1.1.xml", false}},
     {},
     "only https",
     ""},
};

class ConfigDocumentTest : public ::testing::TestWithParam<DocumentRow>
{
};

TEST_P(ConfigDocumentTest, LooksUp)
{
    const DocumentRow& row = GetParam();
    TempDir dir;
    TestPki pki(dir.Path());
    ASSERT_TRUE(pki.Ok());
    const TestPki::Cert cert = pki.Issue("server", TestPki::Localhost());
    std::string routes = "{";
    for (const Route& r : row.routes) {
        routes += (routes.size() > 1 ? ", " : "") + JsonString(r.path) +
                  ": {\"status\": " + std::to_string(r.status) +
                  ", \"body\": " + JsonString(r.body) +
                  ", \"repeat\": " + std::to_string(r.repeat) +
                  (r.location.empty() ? "" : ", \"location\": " + JsonString(r.location)) + "}";
    }
    ConfigDocumentServer server;
    std::string error;
    if (!server.Start(dir.Path(), cert.certFile, cert.keyFile, routes + "}", &error))
        GTEST_SKIP() << MissingComponent("python3", error);
    ScopedEnv trust("SSL_CERT_FILE", pki.CaFile());

    DiscoverySources sources;
    for (DiscoverySources::ConfigUrl url : row.urls) {
        if (const size_t at = url.pattern.find("{base}"); at != std::string::npos)
            url.pattern.replace(at, 6, server.Base());
        sources.configUrls.push_back(url);
    }
    const std::atomic<bool> cancel{false};
    const SettingsDiscovery::Result result = SettingsDiscovery(sources).Discover(kAddress, cancel);

    EXPECT_EQ(result.servers, row.expected);
    EXPECT_EQ(result.source, row.expected.empty() ? SettingsDiscovery::Source::None
                                                  : SettingsDiscovery::Source::ConfigDocument);
    if (*row.note) {
        std::string notes;
        for (const std::string& n : result.notes)
            notes += n + "\n";
        EXPECT_NE(notes.find(row.note), std::string::npos) << notes;
    }
    if (*row.neverAsked) {
        for (const std::string& line : server.Log())
            EXPECT_EQ(line.find(row.neverAsked), std::string::npos) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ConfigDocumentTest, ::testing::ValuesIn(kDocumentRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
