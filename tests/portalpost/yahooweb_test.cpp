// The page-reading web client end to end: CheckPortalpostMsg against the simulated provider
// (tests/portalpost/pageprovider.py, two listeners on 127.0.0.1 port 0), with a recording sink,
// the account's MIDS file and the user's filter rules in relocated folders.
#include "filterrules.h"
#include "midsfile.h"
#include "pageproviderprocess.h"
#include "postwatch_plugin.h"
#include "programkey.h"
#include "registrykey.h"
#include "support/component.h"
#include "support/tablerow.h"
#include "support/tempdir.h"
#include "testpki.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{

const char* const kAccount = "web";

// What the sink was given, and what it answers (the i-th record gets answers[i], later ones
// PW_SINK_HANDLED).
struct RecordingSink {
    std::vector<std::vector<std::string>> records;
    std::vector<int32_t> answers;

    std::vector<std::string> failures; // the library's reasons, as they came

    PwSink Sink() { return PwSink{this, &Deliver, nullptr, nullptr, &Failure}; }
    static void Failure(void* ctx, const char* text)
    {
        static_cast<RecordingSink*>(ctx)->failures.emplace_back(text ? text : "(null)");
    }
    static int32_t Deliver(void* ctx, uint32_t kind, const char* const* fields, uint32_t count)
    {
        auto* self = static_cast<RecordingSink*>(ctx);
        if (kind != PW_RECORD_WEBMAIL || count != 8)
            return PW_SINK_FRONT_GONE;
        self->records.emplace_back(fields, fields + count);
        const size_t i = self->records.size() - 1;
        return i < self->answers.size() ? self->answers[i] : PW_SINK_HANDLED;
    }
};

struct Rule {
    std::string name, position, condition, context, deleteInServer;
};

struct WebCase {
    const char* name;
    std::string scenario; // JSON: see pageprovider.py
    std::string password = "secret";
    std::vector<Rule> rules;
    std::vector<int32_t> sinkAnswers; // of the first check
    int timeOut = 10;
    bool tls = false;
    int wantCode = PW_WEBMAIL_SUCCESS;
    // The records of the first check, "{mail}" standing for the mail host's origin; or,
    // when empty, only their number.
    std::vector<std::vector<std::string>> wantRecords;
    size_t wantCount = 0;
    // The second check: its code and records (the first check's sink answers no longer apply).
    int wantSecondCode = PW_WEBMAIL_SUCCESS;
    std::vector<std::vector<std::string>> wantSecondRecords;
    std::vector<std::string> wantMids;                     // checked when not empty
    std::vector<std::pair<std::string, int>> wantRequests; // log text, lines holding it
    std::string wantFailure;                               // in the first check's reason of failure
};

POSTWATCH_ROW_PRINTS_NAME(WebCase)

std::string Messages(const std::string& list)
{
    return R"({"name": "Inbox", "messages": [)" + list + "]}";
}

std::string Scenario(const std::string& layout, const std::string& address,
                     const std::string& folders, const std::string& extra = "")
{
    return R"({"user": "alice", "password": "secret", "challenge": "ch+1/=&x", "layout": ")" +
           layout + R"(", "address": ")" + address + R"(", "folders": [)" + folders + "]" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

// Subject and sender carry entities that must be decoded once; a read message between.
const std::string kThree = Messages(
    R"({"id": "m1", "from": "Ann &amp;amp; Bob", "subject": "Caf&eacute; &quot;menu&quot;",)"
    R"( "date": "&nbsp;Mon 12/07 ", "size": "3k", "attachment": true},)"
    R"({"id": "m2", "from": "Old", "subject": "Read", "date": "d", "size": "1k", "read": true},)"
    R"({"id": "m3", "from": "Cy", "subject": "Hello", "date": "Tue", "size": "12k"})");

const std::vector<std::string> kM1Row = {"{mail}/ym/ShowLetter?MsgId=m1&box=x",
                                         "Caf\xC3\xA9 \"menu\"",
                                         "3k",
                                         "Mon 12/07",
                                         "Ann &amp; Bob",
                                         kAccount,
                                         "Reserved ",
                                         "Yes"};
const std::vector<std::string> kM3Row = {"{mail}/ym/ShowLetter?MsgId=m3&box=x",
                                         "Hello",
                                         "12k",
                                         "Tue",
                                         "Cy",
                                         kAccount,
                                         "Reserved ",
                                         "No"};

// `folders` folders F0, F1 ... with one unread message each, but `first` in F0.
std::string Numbered(int folders, int first)
{
    std::string out;
    for (int f = 0; f < folders; ++f) {
        out += (f ? "," : "") + std::string(R"({"name": "F)") + std::to_string(f) +
               R"(", "messages": [)";
        for (int m = 0; m < (f == 0 ? first : 1); ++m)
            out += (m ? "," : "") + std::string(R"({"id": "f)") + std::to_string(f) + "m" +
                   std::to_string(m) +
                   R"(", "from": "x", "subject": "s", "date": "d", "size": "1k"})";
        out += "]}";
    }
    return out;
}

size_t Lines(const std::string& log, const std::string& text)
{
    size_t n = 0, start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        if (log.substr(start, end - start).find(text) != std::string::npos)
            ++n;
        start = end + 1;
    }
    return n;
}

class YahooWebTest : public testing::TestWithParam<WebCase>
{
protected:
    void WriteSetting(const std::string& key, const std::string& name, const std::string& value)
    {
        CRegistryKey k;
        ASSERT_EQ(k.CreateKey(RegistryRoot::CurrentUser, key), 1);
        ASSERT_EQ(k.Open(RegistryRoot::CurrentUser, key), 1);
        ASSERT_EQ(k.WriteString(name, value), 1);
    }

    void Expect(const std::vector<std::vector<std::string>>& got,
                const std::vector<std::vector<std::string>>& want, const std::string& origin)
    {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            std::vector<std::string> row = want[i];
            if (row[0].rfind("{mail}", 0) == 0)
                row[0] = origin + row[0].substr(6);
            for (size_t f = 0; f < 8; ++f)
                EXPECT_EQ(got[i][f], row[f]) << "record " << i << " field " << f;
        }
    }

    TempDir dir_;
    ScopedEnv home_{"POSTWATCH_HOME", dir_.File("data")};
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.File("config")};
    ScopedEnv assets_{"POSTWATCH_ASSETS", POSTWATCH_BUNDLE_DIR};
};

TEST_P(YahooWebTest, Check)
{
    const WebCase& c = GetParam();
    if (!std::filesystem::exists("/usr/bin/python3"))
        GTEST_SKIP() << MissingComponent("python3", "/usr/bin/python3 is not installed");
    const std::string accountDir = dir_.File("data") + "/Mail/" + kAccount;
    std::filesystem::create_directories(accountDir);

    std::string scenario = c.scenario;
    std::optional<ScopedEnv> trust;
    if (c.tls) {
        TestPki pki(dir_.Path());
        ASSERT_TRUE(pki.Ok());
        const TestPki::Cert cert = pki.Issue("server", TestPki::Localhost());
        trust.emplace("SSL_CERT_FILE", pki.CaFile());
        scenario.pop_back();
        scenario +=
            R"(, "tls": {"cert": ")" + cert.certFile + R"(", "key": ")" + cert.keyFile + "\"}}";
    }
    WriteWholeFile(dir_.File("scenario.json"), scenario);
    PageProvider provider(dir_.File("scenario.json"), dir_.File("log.jsonl"));
    ASSERT_TRUE(provider.Running());

    const std::string scheme = c.tls ? "https://" : "http://";
    const std::string origin = scheme + "127.0.0.1:" + std::to_string(provider.MailPort());
    const std::string endpoints = ProgramKey::Path("Portalpost") + "\\Yahoo";
    WriteSetting(endpoints, "EntryUrl", origin + "/");
    WriteSetting(endpoints, "LoginHost", "127.0.0.1:" + std::to_string(provider.LoginPort()));
    for (const Rule& r : c.rules) {
        const std::string key = FilterManagerPath() + "\\" + r.name;
        WriteSetting(key, "Position", r.position);
        WriteSetting(key, "Condition", r.condition);
        WriteSetting(key, "Context", r.context);
        WriteSetting(key, "CheckDeleteInServer", r.deleteInServer);
    }

    const std::string user =
        scenario.find(R"("user": "al&ce")") != std::string::npos ? "al&ce" : "alice";
    RecordingSink first;
    first.answers = c.sinkAnswers;
    PwSink sink = first.Sink();
    int32_t count = -1;
    EXPECT_EQ(CheckPortalpostMsg(&sink, "Yahoo", kAccount, user.c_str(), c.password.c_str(), &count,
                                 c.timeOut),
              c.wantCode);
    // Every failure, and only a failure, says why once; never with the password.
    EXPECT_EQ(first.failures.size(), c.wantCode == PW_WEBMAIL_SUCCESS ? 0u : 1u);
    for (const std::string& failure : first.failures) {
        EXPECT_NE(failure, "");
        EXPECT_EQ(failure.find(c.password), std::string::npos) << failure;
        EXPECT_NE(failure.find(c.wantFailure), std::string::npos) << failure;
    }
    if (c.wantRecords.empty()) {
        EXPECT_EQ(first.records.size(), c.wantCount);
    } else {
        Expect(first.records, c.wantRecords, origin);
    }
    size_t handled = 0;
    for (size_t i = 0; i < first.records.size(); ++i)
        handled += i >= c.sinkAnswers.size() || c.sinkAnswers[i] == PW_SINK_HANDLED;
    EXPECT_EQ(count, static_cast<int32_t>(handled));

    const std::string log = ReadWholeFile(dir_.File("log.jsonl"));
    for (const auto& [text, lines] : c.wantRequests)
        EXPECT_EQ(Lines(log, text), static_cast<size_t>(lines)) << text << "\n" << log;

    RecordingSink second;
    sink = second.Sink();
    EXPECT_EQ(CheckPortalpostMsg(&sink, "Yahoo", kAccount, user.c_str(), c.password.c_str(), &count,
                                 c.timeOut),
              c.wantSecondCode);
    Expect(second.records, c.wantSecondRecords, origin);

    if (!c.wantMids.empty()) {
        std::vector<std::string> ids;
        CMidsFile::Parse(ReadWholeFile(accountDir + "/MIDS"), ids);
        EXPECT_EQ(ids, c.wantMids);
    }
}

const Rule kDeleteSale{"r", "Subject", "Contains", "sale", "1"};
const Rule kHideSale{"r", "Subject", "Contains", "sale", "0"};
const std::string kSales =
    Messages(R"({"id": "m1", "from": "a", "subject": "Big sale", "date": "d", "size": "1k"},)"
             R"({"id": "m2", "from": "b", "subject": "Hi", "date": "d", "size": "1k"},)"
             R"({"id": "m3", "from": "c", "subject": "sale again", "date": "d", "size": "1k"})");
const std::vector<std::string> kHiRow = {
    "{mail}/ym/ShowLetter?MsgId=m2&box=x", "Hi", "1k", "d", "b", kAccount, "Reserved ", "No"};

INSTANTIATE_TEST_SUITE_P(
    PageClient, YahooWebTest,
    testing::Values(
        WebCase{.name = "RowLayoutRecordsFieldByField",
                .scenario = Scenario("row", "@yahoo.com", kThree),
                .wantRecords = {kM1Row, kM3Row},
                .wantMids = {"m1", "m3"},
                .wantRequests = {{R"("path": "/config/login?&login=alice&passwd=)", 1},
                                 {"ch%2B1%2F%3D%26x", 1},
                                 {"/ym/Logout?YY=7&.rand=3", 1},
                                 {"/config/login?logout=1", 1}}},
        WebCase{.name = "TableLayoutRecordsFieldByField",
                .scenario = Scenario("table", "@yahoo.com.cn", kThree),
                .wantRecords = {{"{mail}/ym/ShowLetter?MsgId=m1&box=x", "Caf\xC3\xA9 \"menu\"",
                                 "3k", "Mon 12/07", "Ann &amp; Bob", kAccount, "Reserved", "Yes"},
                                {"{mail}/ym/ShowLetter?MsgId=m3&box=x", "Hello", "12k", "Tue", "Cy",
                                 kAccount, "Reserved", "No"}}},
        WebCase{.name = "HttpsThroughout",
                .scenario = Scenario("row", "@yahoo.com", kThree),
                .tls = true,
                .wantRecords = {kM1Row, kM3Row}},
        WebCase{.name = "DeleteRulePostsOneRequestAfterAllPages",
                .scenario = Scenario("row", "@yahoo.com", kSales, R"("perPage": 2)"),
                .rules = {kDeleteSale},
                .wantRecords = {kHiRow},
                .wantRequests = {{R"("method": "POST")", 1},
                                 {R"(".crumb=cr%26umb&DEL=1&Mid=m1&Mid=m3")", 1},
                                 {"Npos=2", 1}}},
        WebCase{.name = "HideRuleRecordsWithoutReporting",
                .scenario = Scenario("row", "@yahoo.com", kSales),
                .rules = {kHideSale},
                .wantRecords = {kHiRow},
                .wantMids = {"m1", "m2", "m3"},
                .wantRequests = {{R"("method": "POST")", 0}}},
        WebCase{.name = "WrongPasswordIsRefused",
                .scenario = Scenario("row", "@yahoo.com", kThree),
                .password = "wrong",
                .wantCode = PW_WEBMAIL_LOGIN_REFUSED,
                .wantSecondCode = PW_WEBMAIL_LOGIN_REFUSED,
                .wantRequests = {{"ShowFolder", 0}}},
        // The log-in URL carries the password's hash: a failure that names it hides that.
        WebCase{.name = "LogInPageErrorHidesThePasswordHash",
                .scenario = Scenario("row", "@yahoo.com", kThree,
                                     R"("status": {"/config/login": 500})"),
                .wantCode = PW_WEBMAIL_FAILED,
                .wantSecondCode = PW_WEBMAIL_FAILED,
                .wantFailure = "/config/login?&login=alice&passwd=(hidden)&.challenge="},
        WebCase{.name = "BadRequestAnswerIsRefusalAndStillLogsOut",
                .scenario = Scenario("row", "@yahoo.com", kThree,
                                     R"("status": {"/ym/ShowFolder": 400})"),
                .wantCode = PW_WEBMAIL_LOGIN_REFUSED,
                .wantSecondCode = PW_WEBMAIL_LOGIN_REFUSED,
                .wantRequests = {{"/ym/Logout", 1}}},
        WebCase{.name = "SilentServerTimesOutAndStillLogsOut",
                .scenario = Scenario("row", "@yahoo.com", kThree, R"("silent": "/ym/ShowFolder")"),
                .timeOut = 1,
                .wantCode = PW_WEBMAIL_TIMEOUT,
                .wantSecondCode = PW_WEBMAIL_TIMEOUT,
                .wantRequests = {{"/ym/Logout", 1}}},
        WebCase{.name = "NotStoredComesAgain",
                .scenario = Scenario("row", "@yahoo.com", kThree),
                .sinkAnswers = {PW_SINK_NOT_STORED},
                .wantCode = PW_WEBMAIL_FAILED,
                .wantCount = 1,
                .wantSecondRecords = {kM1Row, kM3Row},
                .wantRequests = {{"/ym/Logout", 1}}},
        WebCase{.name = "FrontGoneEndsAtOnce",
                .scenario = Scenario("row", "@yahoo.com", kThree),
                .sinkAnswers = {PW_SINK_FRONT_GONE},
                .wantCode = PW_WEBMAIL_FAILED,
                .wantCount = 1,
                .wantSecondRecords = {kM1Row, kM3Row},
                .wantRequests = {{"/ym/Logout", 0}}},
        WebCase{.name = "FolderWithoutCountIsNotVisited",
                .scenario = Scenario("row", "@yahoo.com",
                                     kThree + R"(, {"name": "Bulk", "count": false, "messages":)"
                                              R"( [{"id": "b1", "from": "x", "subject": "s",)"
                                              R"( "date": "d", "size": "1k"}]})"),
                .wantCount = 2,
                .wantRequests = {{"box=Bulk", 0}}},
        WebCase{.name = "UnknownAddressReadsNothingButLogsOut",
                .scenario = Scenario("row", "@example.org", kThree),
                .wantCode = PW_WEBMAIL_FAILED,
                .wantSecondCode = PW_WEBMAIL_FAILED,
                .wantRequests = {{"/ym/Logout", 1}}},
        WebCase{.name = "ThirdRegionalAddressIsNotRead",
                .scenario = Scenario("table", "@yahoo.com.tw", kThree),
                .wantCode = PW_WEBMAIL_FAILED,
                .wantSecondCode = PW_WEBMAIL_FAILED},
        WebCase{.name = "DuplicateFolderLinkVisitedOnce",
                .scenario = Scenario("row", "@yahoo.com", kThree, R"("duplicateLinks": 3)"),
                .wantCount = 2,
                .wantRequests = {{R"("/ym/ShowFolder?YY=7&box=Inbox")", 1}}},
        WebCase{.name = "AtMostTenFoldersAndTenExtraPages",
                .scenario = Scenario("row", "@yahoo.com", Numbered(12, 12), R"("perPage": 1)"),
                .wantCount = 11 + 9,
                .wantRequests = {{"box=F10", 0}, {"Npos=11&box=F0", 0}, {"Npos=10&box=F0", 1}}},
        WebCase{.name = "RowWithoutLetterLinkIsRecordedNotReported",
                .scenario = Scenario("row", "@yahoo.com",
                                     Messages(R"({"id": "n1", "from": "x", "subject": "s",)"
                                              R"( "date": "d", "size": "1k", "nolink": true})")),
                .wantMids = {"n1"}},
        WebCase{.name = "OverlongIdentifierIsPassedOver",
                .scenario = Scenario("table", "@yahoo.com.hk",
                                     Messages(R"({"id": ")" + std::string(5000, 'i') +
                                              R"(", "from": "x", "subject": "s", "date": "d",)"
                                              R"( "size": "1k"}, {"id": "m3", "from": "Cy",)"
                                              R"( "subject": "Hello", "date": "Tue", "size":)"
                                              R"( "12k"})")),
                .wantRecords = {{"{mail}/ym/ShowLetter?MsgId=m3&box=x", "Hello", "12k", "Tue", "Cy",
                                 kAccount, "Reserved", "No"}},
                .wantMids = {"m3"}},
        WebCase{.name = "CredentialsWithAmpersandAreEncoded",
                .scenario = R"({"user": "al&ce", "password": "p&ss=1 +", "challenge": "a&b",)"
                            R"( "layout": "row", "address": "@yahoo.com", "folders": [)" +
                            kThree + "]}",
                .password = "p&ss=1 +",
                .wantCount = 2,
                .wantRequests = {{"login=al%26ce&passwd=", 1}}},
        WebCase{.name = "MissingLogoutLinkFailsAfterReporting",
                .scenario = Scenario("row", "@yahoo.com", kThree, R"("noLogoutLink": true)"),
                .wantCode = PW_WEBMAIL_FAILED,
                .wantCount = 2,
                .wantSecondCode = PW_WEBMAIL_FAILED}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
