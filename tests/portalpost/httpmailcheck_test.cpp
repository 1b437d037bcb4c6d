// HTTPMail checks through the library's exported function, against the simulated service of
// tests/fakes/httpmailserver.py: what reaches the program, what the server sees, and what a
// second check does.
#include "fakehttpmailserver.h"
#include "filterrules.h"
#include "httpmailclient.h"
#include "midsfile.h"
#include "postwatch_plugin.h"
#include "programkey.h"
#include "registrykey.h"
#include "resourcelibrary.h"
#include "support/component.h"
#include "support/filefaults.h"
#include "support/tablerow.h"
#include "support/tempdir.h"
#include "testpki.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Record = std::vector<std::string>;

// The program's side: keeps every record, answers NOT_STORED to the ones asked.
struct RecordingSink {
    std::vector<Record> records;
    int notStoredAt = -1; // index of the delivery to refuse
    int calls = 0;

    static int32_t Deliver(void* ctx, uint32_t kind, const char* const* fields, uint32_t count)
    {
        auto* self = static_cast<RecordingSink*>(ctx);
        if (kind != PW_RECORD_WEBMAIL || count != 8)
            return PW_SINK_FRONT_GONE;
        if (self->calls++ == self->notStoredAt)
            return PW_SINK_NOT_STORED;
        self->records.emplace_back(fields, fields + count);
        return PW_SINK_HANDLED;
    }
    // The library's reasons of failure, each as it came.
    std::vector<std::string> failures;
    static void Failure(void* ctx, const char* text)
    {
        static_cast<RecordingSink*>(ctx)->failures.emplace_back(text ? text : "(null)");
    }
    PwSink Sink() { return PwSink{this, Deliver, nullptr, nullptr, Failure}; }
};

struct LogEntry {
    std::string method, path, host, authorization, destination;
    int status = 0;
};

std::vector<LogEntry> ReadLog(const FakeHttpMailServer& server)
{
    std::vector<LogEntry> out;
    for (const std::string& line : server.Log()) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        out.push_back({o["method"].toString().toStdString(), o["path"].toString().toStdString(),
                       o["host"].toString().toStdString(),
                       o["authorization"].toString().toStdString(),
                       o["destination"].toString().toStdString(), o["status"].toInt()});
    }
    return out;
}

// Requests of `method` the server answered with `status` (0: any).
int Count(const std::vector<LogEntry>& log, const std::string& method, int status = 0)
{
    int n = 0;
    for (const auto& e : log)
        n += e.method == method && (status == 0 || e.status == status);
    return n;
}

struct RuleRow {
    std::string position; // "subject" or "sender"
    std::string context;
    std::string deleteFlag; // "1" delete, "0" hide
};

// The mailbox most rows use: an inbox whose first message is read, a bulk-mail and a
// sent-items folder with unread mail that must never be read, a plain folder, deleted items.
const char* const kMailbox = R"("folders": [
  {"name": "inbox", "special": "inbox", "messages": [
     {"id": "R1", "subject": "already read", "read": true},
     {"id": "M1", "subject": "=?utf-8?B?R3LDvMOfZQ==?= &lt; &copy;", "from": "Ann <ann@example.org>",
      "date": "2026-12-07T08:09:10", "size": 2048},
     {"id": "M2", "subject": "Big sale", "from": "shop@example.org", "size": 100, "probe": true}]},
  {"name": "junk", "special": "bulkmail", "messages": [{"id": "B1", "subject": "junk"}]},
  {"name": "sent", "special": "sentitems", "messages": [{"id": "S1", "subject": "sent"}]},
  {"name": "projects", "special": "", "messages": [
     {"id": "P1", "subject": "plan", "from": "bob@example.org", "size": 1, "attachment": true}]},
  {"name": "trash", "special": "deleteditems", "messages": [{"id": "T1", "subject": "old"}]}])";

// The records of kMailbox's new messages, with {B} for the server's base URL.
const std::vector<Record> kMailboxRecords = {
    {"{B}/folders/inbox/M1", "Grüße &lt; &copy;", "2.05K", "2026-12-07 08:09:10",
     "Ann <ann@example.org>", "Web", " ", "No"},
    {"{B}/folders/inbox/M2", "Big sale", "0.10K", "2026-12-07 10:11:12", "shop@example.org", "Web",
     " ", "Yes"},
    {"{B}/folders/projects/P1", "plan", "0.00K", "2026-12-07 10:11:12", "bob@example.org", "Web",
     " ", "Yes"},
};

enum class Tls { kNone, kTrusted, kSelfSigned };

struct CheckRow {
    const char* name;
    Tls tls = Tls::kNone;
    std::string config; // the server's JSON without the account
    std::vector<RuleRow> rules;
    int wantCode = PW_WEBMAIL_SUCCESS;
    std::vector<Record> wantRecords;
    int wantCount = -1;      // when set, only the number of records is compared
    int wantSecondCount = 0; // records a second check reports (-1: no second check)
    int notStoredAt = -1;
    std::string password = "s3cret";
    int timeOut = 10;
    std::string category = "Hotmail";
    // When set, the first check runs while no file may grow past this many bytes (a full
    // disk for the MIDS file); the second check runs without the limit.
    rlim_t fileSizeLimit = 0;
    std::function<void(const std::vector<LogEntry>&, const std::string& base)> checkLog;
    // When set, the MIDS file after the first check.
    std::optional<std::vector<std::string>> wantMids;
    // A failing check's reason, as the program is told it, contains this.
    std::string wantFailure;
};

POSTWATCH_ROW_PRINTS_NAME(CheckRow)

// The three PROPFIND bodies, byte for byte, for the namespace the fixture configures.
const std::string kBodyHead = "<?xml version=\"1.0\"?>\r\n<D:propfind xmlns:D=\"DAV:\" "
                              "xmlns:m=\"urn:schemas:mailheader:\" "
                              "xmlns:h=\"http://schemas.mail.test/hm/\" "
                              "xmlns:hm=\"urn:schemas:httpmail:\">\r\n\t<D:prop>\r\n";
const std::string kBodyTail = "\t</D:prop>\r\n</D:propfind>";
const std::string kBodies[] = {
    kBodyHead + "\t\t<hm:msgfolderroot/>\r\n" + kBodyTail,
    kBodyHead +
        "\t\t<D:isfolder/>\r\n\t\t<hm:special/>\r\n\t\t<hm:unreadcount/>\r\n\t\t<D:hassubs/>\r\n" +
        kBodyTail,
    kBodyHead +
        "\t\t<hm:read/>\r\n\t\t<m:from/>\r\n\t\t<m:subject/>\r\n\t\t<m:date/>\r\n"
        "\t\t<D:getcontentlength/>\r\n\t\t<hm:hasattachment/>\r\n" +
        kBodyTail,
};

class HttpMailCheckTest : public testing::TestWithParam<CheckRow>
{
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(ResourceLibrary::Load(POSTWATCH_BUNDLE_PATH, &why)) << why;
        // The account folder, as adding the account made it.
        std::filesystem::create_directories(dir_.Path() + "/Mail/Web");
    }

    void WriteRule(const std::string& name, const RuleRow& rule)
    {
        const FilterKeywords words = FilterKeywords::Load();
        const std::string path = FilterManagerPath() + "\\" + name;
        CRegistryKey key;
        ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, path), 1);
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, path), 1);
        ASSERT_EQ(
            key.WriteString("Position", rule.position == "subject" ? words.subject : words.sender),
            1);
        ASSERT_EQ(key.WriteString("Condition", words.contains), 1);
        ASSERT_EQ(key.WriteString("Context", rule.context), 1);
        ASSERT_EQ(key.WriteString("CheckDeleteInServer", rule.deleteFlag), 1);
    }

    void PointAt(const std::string& gateway)
    {
        CRegistryKey key;
        const std::string path = ProgramKey::Path("Portalpost") + "\\Hotmail";
        ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, path), 1);
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, path), 1);
        ASSERT_EQ(key.WriteString("GatewayUrl", gateway), 1);
        ASSERT_EQ(key.WriteString("MailDomain", "mail.test"), 1);
        ASSERT_EQ(key.WriteString("Namespace", "http://schemas.mail.test/hm/"), 1);
    }

    int Check(RecordingSink& sink, const CheckRow& row, int32_t& count)
    {
        const PwSink s = sink.Sink();
        return CheckPortalpostMsg(&s, row.category.c_str(), "Web", "ann", row.password.c_str(),
                                  &count, row.timeOut);
    }

    TempDir dir_;
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.Path()};
    ScopedEnv home_{"POSTWATCH_HOME", dir_.Path()};
    // The library keeps its own copy of the bundle reader, which finds the bundle here.
    ScopedEnv assets_{"POSTWATCH_ASSETS",
                      std::string(POSTWATCH_BUNDLE_PATH)
                          .substr(0, std::string(POSTWATCH_BUNDLE_PATH).rfind('/'))};
};

std::string Substitute(std::string text, const std::string& base)
{
    const auto at = text.find("{B}");
    if (at != std::string::npos)
        text.replace(at, 3, base);
    return text;
}

TEST_P(HttpMailCheckTest, Check)
{
    const CheckRow& row = GetParam();
    FakeHttpMailServer server;
    std::string why;
    std::string config =
        R"({"user": "ann", "domain": "mail.test", "password": "s3cret", )" + row.config;
    // https: the server's certificate from a throw-away CA the client trusts, or one that
    // signs itself.
    TestPki pki(dir_.Path());
    std::optional<ScopedEnv> trust;
    if (row.tls != Tls::kNone) {
        ASSERT_TRUE(pki.Ok());
        const TestPki::Cert cert = row.tls == Tls::kTrusted
                                       ? pki.Issue("server", TestPki::Localhost())
                                       : pki.SelfSigned("server", TestPki::Localhost());
        config +=
            R"(, "tls": {"cert": ")" + cert.certFile + R"(", "key": ")" + cert.keyFile + R"("})";
        trust.emplace("SSL_CERT_FILE", pki.CaFile());
    }
    config += "}";
    if (!server.Start(dir_.Path(), config, &why, row.tls != Tls::kNone))
        GTEST_SKIP() << MissingComponent("python3", why);
    PointAt(server.GatewayUrl());
    for (size_t i = 0; i < row.rules.size(); ++i)
        WriteRule("rule" + std::to_string(i), row.rules[i]);

    RecordingSink sink;
    sink.notStoredAt = row.notStoredAt;
    int32_t count = -1;
    const int code =
        row.fileSizeLimit > 0
            ? WithFileSizeLimit(row.fileSizeLimit, [&] { return Check(sink, row, count); })
            : Check(sink, row, count);
    EXPECT_EQ(code, row.wantCode);
    // Every failure, and only a failure, says why once; never with the password.
    EXPECT_EQ(sink.failures.size(), code == PW_WEBMAIL_SUCCESS ? 0u : 1u);
    for (const std::string& failure : sink.failures) {
        EXPECT_NE(failure, "");
        EXPECT_LE(failure.size(), PW_FAILURE_TEXT_MAX);
        std::string shown = failure;
        for (size_t at = shown.find("(hidden)"); at != std::string::npos;
             at = shown.find("(hidden)"))
            shown.erase(at, 8);
        EXPECT_EQ(shown.find(row.password), std::string::npos) << failure;
        EXPECT_NE(failure.find(row.wantFailure), std::string::npos) << failure;
    }
    EXPECT_EQ(count, static_cast<int32_t>(sink.records.size()));
    if (row.wantCount >= 0)
        EXPECT_EQ(count, row.wantCount);
    else
        ASSERT_EQ(sink.records.size(), row.wantRecords.size());
    for (size_t i = 0; i < row.wantRecords.size(); ++i) {
        for (size_t f = 0; f < 8; ++f)
            EXPECT_EQ(sink.records[i][f], Substitute(row.wantRecords[i][f], server.BaseUrl()))
                << "record " << i << " field " << f;
    }
    if (row.checkLog)
        row.checkLog(ReadLog(server), server.BaseUrl());
    if (row.wantMids) {
        std::ifstream in(dir_.Path() + "/Mail/Web/MIDS", std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::vector<std::string> ids;
        CMidsFile::Parse(bytes, ids);
        EXPECT_EQ(ids, *row.wantMids);
    }
    for (const std::string& line : server.Bodies()) {
        const std::string body =
            QJsonDocument::fromJson(QByteArray::fromStdString("[" + line + "]"))
                .array()
                .at(0)
                .toString()
                .toStdString();
        EXPECT_TRUE(body == kBodies[0] || body == kBodies[1] || body == kBodies[2]) << body;
    }

    if (row.wantSecondCount >= 0) {
        RecordingSink again;
        int32_t secondCount = -1;
        Check(again, row, secondCount);
        EXPECT_EQ(secondCount, row.wantSecondCount);
        EXPECT_EQ(again.records.size(), static_cast<size_t>(row.wantSecondCount));
    }
}

const std::string kPlain = kMailbox;

// Two checks of one account at once (the desktop's and a --check-now): whichever holds the
// account's MIDS file first reports, the other waits or ends as busy; no message twice.
class HttpMailTwoChecksTest : public HttpMailCheckTest
{
};

TEST_F(HttpMailTwoChecksTest, EachMessageOnce)
{
    FakeHttpMailServer server;
    std::string why;
    const std::string config =
        R"({"user": "ann", "domain": "mail.test", "password": "s3cret", )" + kPlain + "}";
    if (!server.Start(dir_.Path(), config, &why))
        GTEST_SKIP() << MissingComponent("python3", why);
    PointAt(server.GatewayUrl());
    const CheckRow row{.name = "two"};
    RecordingSink sinks[2];
    int codes[2] = {0, 0};
    int32_t counts[2] = {0, 0};
    std::thread other([&] { codes[1] = Check(sinks[1], row, counts[1]); });
    codes[0] = Check(sinks[0], row, counts[0]);
    other.join();
    std::vector<std::string> urls;
    for (const RecordingSink& sink : sinks)
        for (const Record& r : sink.records)
            urls.push_back(r[0]);
    std::sort(urls.begin(), urls.end());
    EXPECT_EQ(urls.size(), kMailboxRecords.size());
    EXPECT_EQ(std::unique(urls.begin(), urls.end()), urls.end());
    EXPECT_TRUE(codes[0] == PW_WEBMAIL_SUCCESS || codes[1] == PW_WEBMAIL_SUCCESS);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(codes[i] == PW_WEBMAIL_SUCCESS || codes[i] == PW_WEBMAIL_FAILED);
        EXPECT_EQ(counts[i], static_cast<int32_t>(sinks[i].records.size()));
    }
}

// An inbox of `n` unread messages, none with an attachment in the listing.
std::string Inbox(int n)
{
    std::string out = R"("folders": [{"name": "inbox", "special": "inbox", "messages": [)";
    for (int i = 0; i < n; ++i)
        out += (i ? "," : "") + std::string(R"({"id": "N)") + std::to_string(i) +
               R"(", "subject": "note"})";
    return out + "]}]";
}

INSTANTIATE_TEST_SUITE_P(
    HttpMail, HttpMailCheckTest,
    testing::Values(
        CheckRow{.name = "NewMessagesFieldByFieldThenNothing",
                 .config = kPlain,
                 .wantRecords = kMailboxRecords,
                 .checkLog =
                     [](const std::vector<LogEntry>& log, const std::string&) {
                         // Never a bulk-mail or sent-items listing; one GET per report
                         // whose listing shows no attachment.
                         for (const auto& e : log) {
                             EXPECT_EQ(e.path.find("/folders/junk/"), std::string::npos);
                             EXPECT_EQ(e.path.find("/folders/sent/"), std::string::npos);
                         }
                         EXPECT_EQ(Count(log, "GET"), 2);
                     }},
        CheckRow{.name = "OtherPrefixesAndAttributes",
                 .config = kPlain + R"(, "prefixes": {"D": "a", "m": "b", "hm": "c"})",
                 .wantRecords = kMailboxRecords,
                 .wantSecondCount = -1},
        CheckRow{.name = "DeleteRuleMovesToDeletedItems",
                 .config = kPlain,
                 .rules = {{"subject", "sale", "1"}},
                 .wantRecords = {kMailboxRecords[0], kMailboxRecords[2]},
                 .checkLog =
                     [](const std::vector<LogEntry>& log, const std::string& base) {
                         ASSERT_EQ(Count(log, "MOVE"), 1);
                         for (const auto& e : log) {
                             if (e.method == "MOVE") {
                                 EXPECT_EQ(e.path, "/folders/inbox/M2");
                                 EXPECT_EQ(e.destination, base + "/folders/trash/M2");
                                 EXPECT_EQ(e.status, 201);
                             }
                         }
                     }},
        CheckRow{.name = "HideRuleRecordsWithoutReport",
                 .config = kPlain,
                 .rules = {{"sender", "bob@", "0"}},
                 .wantRecords = {kMailboxRecords[0], kMailboxRecords[1]},
                 .checkLog = [](const std::vector<LogEntry>& log,
                                const std::string&) { EXPECT_EQ(Count(log, "MOVE"), 0); }},
        CheckRow{.name = "NotStoredComesAgain",
                 .config = kPlain,
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantRecords = {},
                 .wantSecondCount = 3,
                 .notStoredAt = 0},
        CheckRow{.name = "NotStoredSecondKeepsFirst",
                 .config = kPlain,
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantRecords = {kMailboxRecords[0]},
                 .wantSecondCount = 2,
                 .notStoredAt = 1},
        // The inbox's two identifiers go to the MIDS file in one write that only the first
        // fits whole: nothing is reported, and nothing of the failed write may count as
        // handled at the next check.
        CheckRow{.name = "MidsFullReportsNothingAndLosesNothing",
                 .config = kPlain,
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantRecords = {},
                 .wantSecondCount = 3,
                 .fileSizeLimit = 4 + 6 + 3},
        // The inbox's messages were recorded and stored; the next folder's identifier no
        // longer fits: a failure that keeps what was stored, and only the rest comes again.
        CheckRow{.name = "MidsFullAfterStoredFolderFailsAndKeepsIt",
                 .config = kPlain,
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantRecords = {kMailboxRecords[0], kMailboxRecords[1]},
                 .wantSecondCount = 1,
                 .fileSizeLimit = 4 + 12 + 3},
        CheckRow{.name = "WrongPasswordIsRefused",
                 .config = kPlain + R"(, "mode": "badpassword")",
                 .wantCode = PW_WEBMAIL_LOGIN_REFUSED,
                 .wantSecondCount = -1,
                 .password = "wrong",
                 .wantFailure = "the server refused the log-in (Bad Password)"},
        // Taken out wherever it stands, also where it stands in what replaces it.
        CheckRow{.name = "OneLetterPasswordNeverShown",
                 .config = kPlain,
                 .wantCode = PW_WEBMAIL_LOGIN_REFUSED,
                 .wantSecondCount = -1,
                 .password = "e",
                 .wantFailure = "th(hidden) s(hidden)rv(hidden)r r(hidden)fus(hidden)d"},
        CheckRow{.name = "SilentServerTimesOut",
                 .config = kPlain + R"(, "mode": "silent")",
                 .wantCode = PW_WEBMAIL_TIMEOUT,
                 .wantSecondCount = -1,
                 .timeOut = 1},
        // A byte every half second is never a silence, yet 120 bytes would take a minute:
        // the floor rate ends the request after about a second.
        CheckRow{.name = "DrippingServerTooSlow",
                 .config = kPlain + R"(, "mode": "drip")",
                 .wantCode = PW_WEBMAIL_TIMEOUT,
                 .wantSecondCount = -1,
                 .timeOut = 1,
                 .wantFailure = "the server is too slow: "},
        // Attachment probes a server never answers: the first round runs out of time, no
        // further one starts, and the messages are reported with the listing's flags.
        CheckRow{.name = "SilentProbesStopAfterFirstRound",
                 .config = Inbox(40) + R"(, "mode": "silentget")",
                 .wantCount = 40,
                 .wantSecondCount = -1,
                 .timeOut = 1,
                 .checkLog =
                     [](const std::vector<LogEntry>& log, const std::string&) {
                         EXPECT_LE(Count(log, "GET"), WebSession::kMaxParallelPerHost);
                     }},
        // A move that runs out of time ends the check with the time-out: the message
        // before it is reported, it and the rest are left for the next check.
        CheckRow{.name = "SilentMoveEndsCheckAndLeavesTheRest",
                 .config = R"("mode": "silentmove", "folders": [{"name": "inbox", "special":
                     "inbox", "messages": [{"id": "K1", "subject": "hello"}, {"id": "D1",
                     "subject": "note"}, {"id": "D2", "subject": "note"}, {"id": "K2",
                     "subject": "hello"}]}])",
                 .rules = {{"subject", "note", "1"}},
                 .wantCode = PW_WEBMAIL_TIMEOUT,
                 .wantCount = 1,
                 .wantSecondCount = -1,
                 .timeOut = 1,
                 .checkLog = [](const std::vector<LogEntry>& log,
                                const std::string&) { EXPECT_EQ(Count(log, "MOVE"), 1); },
                 .wantMids = std::vector<std::string>{"K1"}},
        CheckRow{.name = "Status503IsRefused",
                 .config = kPlain + R"(, "mode": "status503")",
                 .wantCode = PW_WEBMAIL_LOGIN_REFUSED,
                 .wantSecondCount = -1},
        CheckRow{.name = "Status500RetriedOnce",
                 .config = kPlain + R"(, "mode": "status500")",
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantSecondCount = -1,
                 .checkLog = [](const std::vector<LogEntry>& log,
                                const std::string&) { EXPECT_EQ(Count(log, "PROPFIND", 500), 2); }},
        CheckRow{.name = "EndlessChallengesBounded",
                 .config = kPlain + R"(, "mode": "always401")",
                 .wantCode = PW_WEBMAIL_LOGIN_REFUSED,
                 .wantSecondCount = -1,
                 .checkLog =
                     [](const std::vector<LogEntry>& log, const std::string&) {
                         // The first request and three answered challenges, each with a
                         // fresh nonce answered once.
                         EXPECT_EQ(Count(log, "PROPFIND"), 4);
                     }},
        CheckRow{.name = "RedirectLoopBounded",
                 .config = kPlain + R"(, "mode": "redirectloop")",
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantSecondCount = -1,
                 .checkLog = [](const std::vector<LogEntry>& log,
                                const std::string&) { EXPECT_EQ(Count(log, "PROPFIND"), 6); }},
        CheckRow{.name = "HttpsVerified",
                 .tls = Tls::kTrusted,
                 .config = kPlain,
                 .wantRecords = kMailboxRecords},
        CheckRow{.name = "HttpsSelfSignedRefused",
                 .tls = Tls::kSelfSigned,
                 .config = kPlain,
                 .wantCode = PW_WEBMAIL_HTTP_ERROR,
                 .wantSecondCount = -1},
        CheckRow{.name = "RedirectFromHttpsToHttpRefused",
                 .tls = Tls::kTrusted,
                 .config = kPlain + R"(, "mode": "redirecthttp")",
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantSecondCount = -1},
        CheckRow{.name = "AnswerOver16MiBRefused",
                 .config = kPlain + R"(, "mode": "hugeanswer")",
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantSecondCount = -1},
        CheckRow{.name = "IdentifierTooLongSkipped",
                 .config = R"("folders": [{"name": "inbox", "special": "inbox", "messages": [
                     {"id": ")" +
                           std::string(5000, 'x') +
                           R"(", "subject": "long"},
                     {"id": "P1", "subject": "plan", "from": "bob@example.org", "size": 1,
                      "attachment": true}]}])",
                 .wantRecords = {{"{B}/folders/inbox/P1", "plan", "0.00K", "2026-12-07 10:11:12",
                                  "bob@example.org", "Web", " ", "Yes"}}},
        CheckRow{.name = "RedirectToOtherSchemeRefused",
                 .config = kPlain + R"(, "mode": "redirectftp")",
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantSecondCount = -1},
        CheckRow{.name = "NoAuthorizationToAnotherHost",
                 .config = kPlain + R"(, "mode": "redirecthost")",
                 .wantCount = 3,
                 .wantSecondCount = -1,
                 .checkLog =
                     [](const std::vector<LogEntry>& log, const std::string&) {
                         bool first = true;
                         for (const auto& e : log) {
                             if (e.host.rfind("localhost", 0) != 0)
                                 continue;
                             if (first)
                                 EXPECT_EQ(e.authorization, "") << "sent to the new host";
                             first = false;
                         }
                         EXPECT_FALSE(first) << "the redirect was not followed";
                     }},
        CheckRow{
            .name = "TwentyFoldersOnlyNineteenRead",
            .config =
                R"("extraFolders": 20, "deletedLast": true, "folders": [{"name": "trash", "special": "deleteditems"}])",
            .rules = {{"subject", "extra 0", "1"}},
            .wantCount = 18,
            .wantSecondCount = -1,
            .checkLog =
                [](const std::vector<LogEntry>& log, const std::string&) {
                    // Root, folder list, then 19 folders; the deleted-items folder after
                    // them is unseen, so the move goes to the identifier alone.
                    EXPECT_EQ(Count(log, "PROPFIND", 207), 2 + 19);
                    for (const auto& e : log) {
                        if (e.method == "MOVE")
                            EXPECT_EQ(e.destination, "X00");
                    }
                }},
        CheckRow{
            .name = "RootAnswerWithoutFolderRoot",
            .config =
                kPlain +
                R"(, "mode": "rawrootanswer", "rawroot": "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/</D:href></D:response></D:multistatus>")",
            .wantCode = PW_WEBMAIL_FAILED,
            .wantSecondCount = -1},
        CheckRow{
            .name = "MalformedRootAnswer",
            .config =
                kPlain +
                R"(, "mode": "rawrootanswer", "rawroot": "<D:multistatus xmlns:D=\"DAV:\"><D:response><hm:msgfolderroot>")",
            .wantCode = PW_WEBMAIL_FAILED,
            .wantSecondCount = -1},
        // An error page where the folder list should be is a failure, not a mailbox
        // without new mail.
        CheckRow{.name = "FolderListNotMultistatus",
                 .config = kPlain + R"(, "rawfolders": "<html><body>Internal error</body></html>")",
                 .wantCode = PW_WEBMAIL_FAILED,
                 .wantRecords = {},
                 .wantSecondCount = -1},
        CheckRow{
            .name = "UndeclaredPrefixesStillRead",
            .config =
                kPlain +
                R"(, "mode": "rawrootanswer", "rawroot": "<D:multistatus><D:response><hm:msgfolderroot>/folders/</hm:msgfolderroot></D:response></D:multistatus>")",
            .wantRecords = kMailboxRecords,
            .wantSecondCount = -1},
        CheckRow{.name = "LowerCaseCategoryUnknown",
                 .config = kPlain,
                 .wantRecords = {},
                 .wantSecondCount = -1,
                 .category = "hotmail",
                 .checkLog = [](const std::vector<LogEntry>& log,
                                const std::string&) { EXPECT_TRUE(log.empty()); }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
