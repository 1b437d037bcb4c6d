// Whole sessions over an in-memory transport: the round trips the clients save (PIPELINING,
// batched UID FETCH), the security choice, and the FETCH response reader.

#include "deletingrules.h"
#include "filterrules.h"
#include "headertext.h"
#include "imap4client.h"
#include "imapfetchresponse.h"
#include "memorytransport.h"
#include "pop3client.h"
#include "protocol/recordingsink.h"
#include "securitychoice.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace
{

int Keep(const std::string&, const std::string&)
{
    return 0;
}

CheckRequest Request(int port, std::unordered_set<std::string> known, int preview)
{
    CheckRequest r;
    r.server = "h";
    r.port = port;
    r.security = "None";
    r.userName = "u";
    r.password = "p";
    r.knownUids = std::move(known);
    r.account = "acct";
    r.timeOutSeconds = 5;
    r.preview = preview;
    return r;
}

// With PIPELINING the client sends USER with PASS, NOOP, STAT and UIDL together, and LIST with
// every TOP in one burst; the server's replies then arrive together too.
TEST(MemorySession, Pop3PipelinesTopCommands)
{
    MemoryTransport t;
    t.Add("+OK hi\r\n");
    t.Add("+OK\r\nPIPELINING\r\nUIDL\r\n.\r\n");
    t.Add("+OK\r\n");
    t.Add("+OK\r\n");
    t.Add("+OK\r\n+OK 3 30\r\n");
    t.Add("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n");
    t.Add("+OK\r\n1 10\r\n2 10\r\n3 10\r\n.\r\n"
          "+OK\r\nSubject: c\r\n\r\n.\r\n+OK\r\nSubject: b\r\n\r\n.\r\n"
          "+OK\r\nSubject: a\r\n\r\n.\r\n");
    t.Add("+OK deleted\r\n");
    t.Add("+OK bye\r\n");
    RecordingSink sink;
    Pop3Client client(t);
    client.SetFilter(
        [](const std::string& subject, const std::string&) { return subject == "b" ? 1 : 0; });
    const CheckReport report = client.CheckPop3Account(sink, Request(110, {"a-old"}, 3));
    EXPECT_EQ(report.result, kCheckDone) << report.message;
    const int count = report.newCount;
    EXPECT_EQ(sink.Subjects(), (std::vector<std::string>{"c", "a"}));
    EXPECT_EQ(count, 2);
    // The deletion waits for its verdict and uses the number of the UIDL line.
    EXPECT_NE(t.Sent().find("TOP 1 3\r\nDELE 2\r\nQUIT\r\n"), std::string::npos) << t.Sent();
    EXPECT_NE(t.Sent().find("USER u\r\nPASS p\r\nNOOP\r\nSTAT\r\nUIDL\r\n"), std::string::npos)
        << t.Sent();
    EXPECT_NE(t.Sent().find("LIST\r\nTOP 3 3\r\nTOP 2 3\r\nTOP 1 3\r\n"), std::string::npos)
        << t.Sent();
    EXPECT_EQ(sink.deliveries[0].record.size, HeaderText::SizeText(10)); // from LIST
}

// Many new UIDs go out as one UID FETCH with a compact set.
TEST(MemorySession, ImapFetchesManyUidsAtOnce)
{
    MemoryTransport t;
    t.Add("* OK [CAPABILITY IMAP4rev1] hi\r\n");
    t.Add("A001 OK in\r\n");
    t.Add("* 5 EXISTS\r\nA004 OK\r\n");
    std::string uids;
    std::string fetched;
    for (int i = 1; i <= 5; ++i) {
        int uid = i < 5 ? 10 + i : 40;
        uids += " " + std::to_string(uid);
        std::string header = "Subject: m" + std::to_string(uid) + "\r\n\r\n";
        fetched += "* " + std::to_string(i) + " FETCH (UID " + std::to_string(uid) +
                   " RFC822.SIZE 2048 BODY[HEADER] {" + std::to_string(header.size()) + "}\r\n" +
                   header + " BODY[TEXT]<0> \"quoted body\")\r\n";
    }
    t.Add("* SEARCH" + uids + "\r\nA008 OK\r\n");
    t.Add(fetched + "A007 OK\r\n");
    t.Add("A088 OK\r\n");
    RecordingSink sink;
    Imap4Client client(t);
    client.SetFilter(Keep);
    const CheckReport report = client.CheckImap4Account(sink, Request(143, {"12"}, 1));
    EXPECT_EQ(report.result, kCheckDone) << report.message;
    const int count = report.newCount;
    EXPECT_EQ(sink.Subjects(), (std::vector<std::string>{"m40", "m14", "m13", "m11"}));
    EXPECT_NE(t.Sent().find("A007 UID FETCH 11,13:14,40 (UID RFC822.SIZE BODY.PEEK[HEADER] "
                            "BODY.PEEK[TEXT]<0.1024>)\r\n"),
              std::string::npos)
        << t.Sent();
    EXPECT_EQ(sink.deliveries[0].record.preview, "quoted body");
    EXPECT_EQ(sink.deliveries[0].record.size, HeaderText::SizeText(2048)); // RFC822.SIZE
    EXPECT_EQ(count, 4);
}

// Counts the round trips of a session: every wait for the server that follows something
// sent (the greeting counts as the first).
class RoundTripCounter final : public Transport
{
public:
    explicit RoundTripCounter(Transport& inner) : inner_(inner) {}
    bool Send(std::string_view bytes) override
    {
        sent_ = true;
        return inner_.Send(bytes);
    }
    RecvResult Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds wait) override
    {
        if (sent_ || trips == 0)
            ++trips;
        sent_ = false;
        return inner_.Receive(buffer, capacity, wait);
    }
    bool StartTls() override { return inner_.StartTls(); }
    void Close() override { inner_.Close(); }
    bool IsOpen() const override { return inner_.IsOpen(); }
    std::string PeerName() const override { return inner_.PeerName(); }
    int trips = 0;

private:
    Transport& inner_;
    bool sent_ = false;
};

enum class Proto { Pop3, Imap };

std::string Pop3Top(const std::string& subject)
{
    return "+OK\r\nSubject: " + subject + "\r\n\r\n.\r\n";
}

const std::string kPop3Burst = "+OK\r\nPIPELINING\r\n.\r\n+OK\r\n+OK\r\n+OK 2 20\r\n"
                               "+OK\r\n1 a\r\n2 b\r\n.\r\n";
const std::string kPop3Fetch =
    "+OK\r\n1 10\r\n2 10\r\n.\r\n" + Pop3Top("b") + Pop3Top("a") + "+OK bye\r\n";
const std::string kImapListed = "A001 OK\r\n* 2 EXISTS\r\nA004 OK\r\n* SEARCH 5 6\r\nA008 OK\r\n";
const std::string kImapFetched = "* 1 FETCH (UID 5 BODY[HEADER] {13}\r\nSubject: a\r\n)\r\n"
                                 "* 2 FETCH (UID 6 BODY[HEADER] {13}\r\nSubject: b\r\n)\r\n"
                                 "A007 OK\r\nA088 OK\r\n";

// Round trips until the result is final (QUIT's answer, when it is left for Finish, is not
// among them).
struct TripRow {
    const char* name;
    Proto proto;
    std::vector<std::string> remembered;
    std::vector<std::string> server; // one segment per burst of replies
    std::unordered_set<std::string> known;
    std::string deleteSubject;
    int trips;
    std::string sent; // what the client must have sent, in one piece
};

class RoundTrips : public testing::TestWithParam<TripRow>
{
};

TEST_P(RoundTrips, UntilTheResultIsFinal)
{
    const TripRow& row = GetParam();
    MemoryTransport t;
    for (const std::string& segment : row.server)
        t.Add(segment);
    RoundTripCounter counter(t);
    RecordingSink sink;
    const bool mayDelete = !row.deleteSubject.empty();
    auto filter = [&](const std::string& subject, const std::string&) {
        return subject == row.deleteSubject ? 1 : 0;
    };
    CheckReport report;
    int trips = 0;
    if (row.proto == Proto::Pop3) {
        Pop3Client client(counter);
        client.SetFilter(filter, mayDelete);
        client.RememberCapabilities(row.remembered);
        report = client.CheckPop3Account(sink, Request(110, row.known, 0));
        trips = counter.trips;
    } else {
        Imap4Client client(counter);
        client.SetFilter(filter, mayDelete);
        client.RememberCapabilities(row.remembered);
        report = client.CheckImap4Account(sink, Request(143, row.known, 0));
        trips = counter.trips;
    }
    EXPECT_EQ(report.result, kCheckDone) << report.message;
    EXPECT_EQ(trips, row.trips);
    EXPECT_NE(t.Sent().find(row.sent), std::string::npos) << t.Sent();
    EXPECT_EQ(t.Unread(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RoundTrips,
    testing::Values(
        TripRow{"Pop3Remembered",
                Proto::Pop3,
                {"PIPELINING"},
                {"+OK hi\r\n", kPop3Burst, kPop3Fetch},
                {},
                "",
                3,
                "CAPA\r\nUSER u\r\nPASS p\r\nSTAT\r\nUIDL\r\n"},
        TripRow{"Pop3RememberedQuitWithLastTop",
                Proto::Pop3,
                {"PIPELINING"},
                {"+OK hi\r\n", kPop3Burst, kPop3Fetch},
                {},
                "",
                3,
                "LIST\r\nTOP 2 0\r\nTOP 1 0\r\nQUIT\r\n"},
        TripRow{"Pop3Unknown",
                Proto::Pop3,
                {},
                {"+OK hi\r\n", "+OK\r\nPIPELINING\r\n.\r\n",
                 "+OK\r\n+OK\r\n+OK\r\n+OK 2 20\r\n+OK\r\n1 a\r\n2 b\r\n.\r\n", kPop3Fetch},
                {},
                "",
                4,
                "USER u\r\nPASS p\r\nNOOP\r\nSTAT\r\nUIDL\r\n"},
        TripRow{"Pop3RememberedNothingNew",
                Proto::Pop3,
                {"PIPELINING"},
                {"+OK hi\r\n", kPop3Burst, "+OK bye\r\n"},
                {"a", "b"},
                "",
                2,
                "UIDL\r\nQUIT\r\n"},
        // A deletion waits for every verdict, then goes with QUIT, whose +OK commits it.
        TripRow{"Pop3RememberedDeletes",
                Proto::Pop3,
                {"PIPELINING"},
                {"+OK hi\r\n", kPop3Burst,
                 "+OK\r\n1 10\r\n2 10\r\n.\r\n" + Pop3Top("b") + Pop3Top("a"),
                 "+OK\r\n+OK bye\r\n"},
                {},
                "b",
                4,
                "TOP 1 0\r\nDELE 2\r\nQUIT\r\n"},
        TripRow{"ImapRemembered",
                Proto::Imap,
                {"IMAP4REV1"},
                {"* OK [CAPABILITY IMAP4rev1] hi\r\n", kImapListed, kImapFetched},
                {},
                "",
                3,
                "A001 LOGIN \"u\" \"p\"\r\nA004 SELECT INBOX\r\nA008 UID SEARCH ALL\r\n"},
        TripRow{"ImapRememberedLogoutWithFetch",
                Proto::Imap,
                {"IMAP4REV1"},
                {"* OK [CAPABILITY IMAP4rev1] hi\r\n", kImapListed, kImapFetched},
                {},
                "",
                3,
                "(UID RFC822.SIZE BODY.PEEK[HEADER])\r\nA088 LOGOUT\r\n"},
        TripRow{"ImapUnknown",
                Proto::Imap,
                {},
                {"* OK [CAPABILITY IMAP4rev1] hi\r\n", "A001 OK\r\n",
                 "* 2 EXISTS\r\nA004 OK\r\n* SEARCH 5 6\r\nA008 OK\r\n", kImapFetched},
                {},
                "",
                4,
                "A004 SELECT INBOX\r\nA008 UID SEARCH ALL\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Whether QUIT may go with the last fetch: only when no rule can delete on the server.
struct DeletingRow {
    const char* name;
    std::vector<FilterRule> rules;
    bool deletes;
};

class DeletingRules : public testing::TestWithParam<DeletingRow>
{
};

TEST_P(DeletingRules, AnyRuleDeletesOnServer)
{
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.Path());
    for (const FilterRule& rule : GetParam().rules)
        ASSERT_EQ(SaveRule(rule), 1);
    EXPECT_EQ(AnyRuleDeletesOnServer(), GetParam().deletes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeletingRules,
    testing::Values(DeletingRow{"NoRules", {}, false},
                    DeletingRow{"HideOnly", {{"a", "Subject", "contains", "x", "0"}}, false},
                    DeletingRow{
                        "OneDeletes",
                        {{"a", "Subject", "contains", "x", "0"}, {"b", "Sender", "is", "y", "1"}},
                        true},
                    DeletingRow{"OddFlagKeeps", {{"a", "Subject", "is", "x", "2"}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct SecurityRow {
    const char* name;
    std::string text;
    int port;
    int tlsPort;
    SecurityChoice want;
    bool implicit;
};

POSTWATCH_ROW_PRINTS_NAME(SecurityRow)

class SecurityChoiceTest : public testing::TestWithParam<SecurityRow>
{
};

TEST_P(SecurityChoiceTest, Parse)
{
    const SecurityRow& row = GetParam();
    SecurityChoice choice = ParseSecurityChoice(row.text);
    EXPECT_EQ(choice, row.want);
    EXPECT_EQ(UsesImplicitTls(choice, row.port, row.tlsPort), row.implicit);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SecurityChoiceTest,
    testing::Values(
        SecurityRow{"EmptyOnPop3s", "", 995, 995, SecurityChoice::Default, true},
        SecurityRow{"EmptyOnImaps", "", 993, 993, SecurityChoice::Default, true},
        SecurityRow{"EmptyOnPlainPort", "", 110, 995, SecurityChoice::Default, false},
        SecurityRow{"ImapsPortForPop3", "", 993, 995, SecurityChoice::Default, false},
        SecurityRow{"Tls", "TLS", 110, 995, SecurityChoice::Tls, true},
        SecurityRow{"StartTlsOn995", "STARTTLS", 995, 995, SecurityChoice::StartTls, false},
        SecurityRow{"NoneOn993", "None", 993, 993, SecurityChoice::None, false},
        SecurityRow{"AnyCaseAndBlanks", " starttls ", 143, 993, SecurityChoice::StartTls, false},
        SecurityRow{"UnknownIsDefault", "SSLv3", 110, 995, SecurityChoice::Default, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct FetchRow {
    const char* name;
    ImapResponse response;
    bool parses;
    std::optional<uint32_t> uid;
    std::optional<uint64_t> size;
    std::optional<std::string> header;
    std::optional<std::string> text;
};

POSTWATCH_ROW_PRINTS_NAME(FetchRow)

class FetchResponseTest : public testing::TestWithParam<FetchRow>
{
};

TEST_P(FetchResponseTest, Parse)
{
    const FetchRow& row = GetParam();
    ImapFetchResponse out;
    ASSERT_EQ(ImapFetchResponse::Parse(row.response, out), row.parses);
    if (!row.parses)
        return;
    EXPECT_EQ(out.uid, row.uid);
    EXPECT_EQ(out.size, row.size);
    EXPECT_EQ(out.header, row.header);
    EXPECT_EQ(out.text, row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FetchResponseTest,
    testing::Values(
        FetchRow{.name = "Literals",
                 .response = {"* 1 FETCH (UID 7 RFC822.SIZE 99 BODY[HEADER] {3} BODY[TEXT]<0> {2})",
                              {"H\r\n", "tx"}},
                 .parses = true,
                 .uid = 7,
                 .size = 99,
                 .header = "H\r\n",
                 .text = "tx"},
        FetchRow{.name = "QuotedAndNil",
                 .response = {"* 2 fetch (uid 8 BODY[HEADER] \"a\\\"b\" BODY[TEXT]<0> NIL)", {}},
                 .parses = true,
                 .uid = 8,
                 .size = std::nullopt,
                 .header = "a\"b",
                 .text = ""},
        FetchRow{.name = "FlagsSkipped",
                 .response = {"* 3 FETCH (FLAGS (\\Seen (x)) UID 9)", {}},
                 .parses = true,
                 .uid = 9},
        FetchRow{.name = "SectionWithList",
                 .response = {"* 3 FETCH (BODY[HEADER.FIELDS (FROM)] {1} UID 4)", {"x"}},
                 .parses = true,
                 .uid = 4},
        FetchRow{.name = "UidRangeRefused",
                 .response = {"* 1 FETCH (UID 1:*)", {}},
                 .parses = true,
                 .uid = std::nullopt},
        FetchRow{.name = "UidTooLarge",
                 .response = {"* 1 FETCH (UID 4294967296)", {}},
                 .parses = true,
                 .uid = std::nullopt},
        FetchRow{.name = "UidZero",
                 .response = {"* 1 FETCH (UID 0)", {}},
                 .parses = true,
                 .uid = std::nullopt},
        FetchRow{.name = "NotFetch", .response = {"* 1 EXISTS", {}}, .parses = false},
        FetchRow{.name = "Unclosed", .response = {"* 1 FETCH (UID 3", {}}, .parses = false},
        FetchRow{.name = "MissingLiteral",
                 .response = {"* 1 FETCH (BODY[HEADER] {5})", {}},
                 .parses = false},
        FetchRow{.name = "UnterminatedQuote",
                 .response = {"* 1 FETCH (BODY[HEADER] \"abc)", {}},
                 .parses = false},
        FetchRow{.name = "Tagged", .response = {"A007 OK FETCH (UID 3)", {}}, .parses = false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
