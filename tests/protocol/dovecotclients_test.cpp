// The clients against a private Dovecot on 127.0.0.1: plain, STARTTLS/STLS and implicit TLS,
// empty and full inboxes, filter deletions that really remove the message, refused logins,
// long headers and the preview settings of both protocols.

#include "dovecotenvironment.h"
#include "filterrules.h"
#include "imap4client.h"
#include "pop3client.h"
#include "protocol/recordingsink.h"
#include "support/tablerow.h"
#include "tempdir.h"
#include "testpki.h"

#include <functional>
#include <gtest/gtest.h>

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

enum class Proto { Pop3, Imap };
enum class Port { Plain, Tls };

const std::string kUser = "alice";

std::string Message(const std::string& subject, std::size_t headerPad = 0,
                    const std::string& body = "first line\r\nsecond line\r\nthird line\r\n")
{
    std::string m = "From: Bob <bob@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
                    "\r\nDate: Mon, 7 Dec 2026 09:30:00 +0000\r\n";
    for (std::size_t i = 0; i * 70 < headerPad; ++i)
        m += "Received: from relay" + std::to_string(i) + ".example.org by mx.example.org " +
             std::string(20, 'r') + "\r\n";
    return m + "\r\n" + body;
}

struct Outcome {
    int result = -1;
    CheckReport report;
    RecordingSink sink;
    int count = 0;
    std::vector<std::string> learned; // the capabilities the client would remember
};

Outcome Check(DovecotFixture& d, Proto proto, Port port, std::string security = "",
              const std::unordered_set<std::string>& known = {}, int preview = 0,
              const std::string& password = "alice-pass", Pop3Client::Filter filter = {},
              const std::vector<std::string>& remembered = {})
{
    Outcome o;
    const bool mayDelete = static_cast<bool>(filter);
    if (!filter)
        filter = [](const std::string&, const std::string&) { return kFilterKeep; };
    CheckRequest request;
    request.password = password;
    request.userName = kUser;
    request.knownUids = known;
    request.account = "Home";
    request.timeOutSeconds = 10;
    request.preview = preview;
    request.security = security;
    if (proto == Proto::Pop3) {
        Pop3Client client;
        client.SetFilter(filter, mayDelete);
        client.RememberCapabilities(remembered);
        request.server = "127.0.0.1";
        request.port = port == Port::Tls ? d.Pop3sPort() : d.Pop3Port();
        o.report = client.CheckPop3Account(o.sink, request);
        o.learned = client.LearnedCapabilities();
    } else {
        Imap4Client client;
        client.SetFilter(filter, mayDelete);
        client.RememberCapabilities(remembered);
        request.server = "localhost";
        request.port = port == Port::Tls ? d.ImapsPort() : d.ImapPort();
        o.report = client.CheckImap4Account(o.sink, request);
        o.learned = client.LearnedCapabilities();
    }
    o.result = o.report.result;
    o.count = o.report.newCount;
    return o;
}

std::unordered_set<std::string> UidsOf(const Outcome& o)
{
    std::unordered_set<std::string> uids;
    for (const auto& d : o.sink.deliveries)
        uids.insert(d.record.uid);
    return uids;
}

struct Row {
    const char* name;
    Proto proto;
    Port port;
    std::string security;
    std::function<void(DovecotFixture&)> deliver;
    int preview;
    // Checks the outcome; may run more checks against the server.
    std::function<void(DovecotFixture&, const Outcome&)> verify;
    int want = kCheckDone;
    std::string password = "alice-pass";
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

void DeliverThree(DovecotFixture& d)
{
    d.Deliver(kUser, Message("one"));
    d.Deliver(kUser, Message("two"), true);
    d.Deliver(kUser, Message("three"));
}

void ExpectNewestFirst(DovecotFixture&, const Outcome& o)
{
    EXPECT_EQ(o.sink.Subjects(), (std::vector<std::string>{"three", "two", "one"}));
    EXPECT_EQ(o.count, 3);
    for (const auto& d : o.sink.deliveries) {
        EXPECT_EQ(d.record.sender, "Bob <bob@example.org>");
        EXPECT_FALSE(d.record.size.empty());
        EXPECT_EQ(d.record.attachment, "No");
        EXPECT_FALSE(d.record.uid.empty());
    }
}

class DovecotClients : public testing::TestWithParam<Row>
{
protected:
    void SetUp() override
    {
        dovecot_ = DovecotEnvironment::Get();
        if (dovecot_ == nullptr)
            GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
        ASSERT_TRUE(dovecot_->ClearMailbox(kUser));
    }
    DovecotFixture* dovecot_ = nullptr;
};

TEST_P(DovecotClients, Check)
{
    const Row& row = GetParam();
    ScopedEnv trust("SSL_CERT_FILE", dovecot_->CaFile());
    if (row.deliver)
        row.deliver(*dovecot_);
    Outcome o = Check(*dovecot_, row.proto, row.port, row.security, {}, row.preview, row.password);
    EXPECT_EQ(o.result, row.want) << o.report.message;
    // Again with what the first check learned, as the next check of the account starts: the
    // first commands go out in bursts, and nothing else may change.
    Outcome again = Check(*dovecot_, row.proto, row.port, row.security, {}, row.preview,
                          row.password, {}, o.learned);
    EXPECT_EQ(again.result, o.result) << again.report.message;
    EXPECT_EQ(again.sink.Subjects(), o.sink.Subjects());
    if (row.want == kCheckDone)
        EXPECT_FALSE(o.learned.empty());
    if (row.verify)
        row.verify(*dovecot_, o);
}

// The same rows for both protocols.
std::vector<Row> Rows(Proto p)
{
    return {
        Row{.name = "EmptyInbox",
            .proto = p,
            .port = Port::Plain,
            .verify = [](DovecotFixture&,
                         const Outcome& o) { EXPECT_TRUE(o.sink.deliveries.empty()); }},
        Row{.name = "ThreeNewNewestFirst",
            .proto = p,
            .port = Port::Plain,
            .deliver = DeliverThree,
            .verify = ExpectNewestFirst},
        Row{.name = "NothingNew",
            .proto = p,
            .port = Port::Plain,
            .deliver = DeliverThree,
            .verify =
                [p](DovecotFixture& d, const Outcome& o) {
                    ASSERT_EQ(o.sink.deliveries.size(), 3u);
                    Outcome again = Check(d, p, Port::Plain, "", UidsOf(o));
                    EXPECT_EQ(again.result, kCheckDone);
                    EXPECT_TRUE(again.sink.deliveries.empty());
                    // One known, two new: only those two, newest first.
                    std::unordered_set<std::string> known{o.sink.deliveries[2].record.uid};
                    Outcome partly = Check(d, p, Port::Plain, "", known);
                    EXPECT_EQ(partly.sink.Subjects(), (std::vector<std::string>{"three", "two"}));
                }},
        Row{.name = "HeaderOver20kB",
            .proto = p,
            .port = Port::Plain,
            .deliver = [](DovecotFixture& d) { d.Deliver(kUser, Message("long header", 24000)); },
            .verify =
                [](DovecotFixture&, const Outcome& o) {
                    EXPECT_EQ(o.sink.Subjects(), (std::vector<std::string>{"long header"}));
                }},
        Row{.name = "ImplicitTlsChosen",
            .proto = p,
            .port = Port::Tls,
            .security = "TLS",
            .deliver = DeliverThree,
            .verify = ExpectNewestFirst},
        Row{.name = "StartTlsRequired",
            .proto = p,
            .port = Port::Plain,
            .security = "STARTTLS",
            .deliver = DeliverThree,
            .verify = ExpectNewestFirst},
        Row{.name = "StartTlsOpportunistic",
            .proto = p,
            .port = Port::Plain,
            .deliver = DeliverThree,
            .verify = ExpectNewestFirst},
        Row{.name = "PlainChosen",
            .proto = p,
            .port = Port::Plain,
            .security = "None",
            .deliver = DeliverThree,
            .verify = ExpectNewestFirst},
        Row{.name = "WrongPassword",
            .proto = p,
            .port = Port::Plain,
            .deliver = DeliverThree,
            .verify =
                [](DovecotFixture&, const Outcome& o) {
                    EXPECT_TRUE(o.sink.deliveries.empty());
                    EXPECT_EQ(o.report.category, NetCategory::NegativeReply);
                    EXPECT_NE(o.report.message.find("failed, server replied: "), std::string::npos)
                        << o.report.message;
                },
            .want = kCheckLoginRefused,
            .password = "wrong"},
    };
}

INSTANTIATE_TEST_SUITE_P(Pop3, DovecotClients, testing::ValuesIn(Rows(Proto::Pop3)),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Imap, DovecotClients, testing::ValuesIn(Rows(Proto::Imap)),
                         [](const auto& info) { return std::string(info.param.name); });

// The preview settings: POP3 counts body lines, IMAP kilobytes of body text (0: none).
struct PreviewRow {
    const char* name;
    Proto proto;
    int preview;
    std::string body;
    std::string wantPreview; // the preview starts with this
    std::size_t maxPreview;  // and is at most this long
};

void PrintTo(const PreviewRow& row, std::ostream* os)
{
    *os << row.name;
}

class DovecotPreview : public testing::TestWithParam<PreviewRow>
{
};

const std::string kLines = "first line\r\nsecond line\r\nthird line\r\n";
std::string Kilobytes(std::size_t n)
{
    std::string body;
    while (body.size() < n * 1024)
        body += std::string(62, 'k') + "\r\n";
    return body;
}

TEST_P(DovecotPreview, Preview)
{
    const PreviewRow& row = GetParam();
    DovecotFixture* d = DovecotEnvironment::Get();
    if (d == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    ASSERT_TRUE(d->ClearMailbox(kUser));
    ScopedEnv trust("SSL_CERT_FILE", d->CaFile());
    // A long header must not push the body out of the preview.
    d->Deliver(kUser, Message("preview", 6000, row.body));
    Outcome o = Check(*d, row.proto, Port::Plain, "", {}, row.preview);
    ASSERT_EQ(o.result, kCheckDone) << o.report.message;
    ASSERT_EQ(o.sink.deliveries.size(), 1u);
    const std::string& preview = o.sink.deliveries[0].record.preview;
    EXPECT_EQ(preview.rfind(row.wantPreview, 0), 0u) << preview.substr(0, 80);
    EXPECT_LE(preview.size(), row.maxPreview);
    EXPECT_EQ(o.sink.deliveries[0].record.subject, "preview");
}

INSTANTIATE_TEST_SUITE_P(
    Both, DovecotPreview,
    testing::Values(
        PreviewRow{"Pop3NoLines", Proto::Pop3, 0, kLines, "", 0},
        PreviewRow{"Pop3TwoLines", Proto::Pop3, 2, kLines, "first line\r\nsecond line", 30},
        PreviewRow{"Pop3ManyLines", Proto::Pop3, 99, kLines,
                   "first line\r\nsecond line\r\nthird line", 40},
        PreviewRow{"ImapHeaderOnly", Proto::Imap, 0, kLines, "", 0},
        PreviewRow{"ImapTwoKilobytes", Proto::Imap, 2, Kilobytes(5), std::string(62, 'k'), 2048},
        PreviewRow{"ImapShortBody", Proto::Imap, 2, kLines, "first line", 40}),
    [](const auto& info) { return std::string(info.param.name); });

// A rule that deletes on the server: the message is gone afterwards, the others stay.
struct DeleteRow {
    const char* name;
    Proto proto;
    bool remembered; // the server's capabilities known from an earlier check
};

POSTWATCH_ROW_PRINTS_NAME(DeleteRow)

class DovecotFilterDelete : public testing::TestWithParam<DeleteRow>
{
};

TEST_P(DovecotFilterDelete, RightMessageGone)
{
    DovecotFixture* d = DovecotEnvironment::Get();
    if (d == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    ASSERT_TRUE(d->ClearMailbox(kUser));
    ScopedEnv trust("SSL_CERT_FILE", d->CaFile());
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.Path());
    const FilterKeywords words{"Sender", "Subject", "contains", "is"};
    ASSERT_EQ(SaveRule({"No offers", "Subject", "contains", "offer", "1"}), 1);
    auto rules = [&](const std::string& subject, const std::string& sender) {
        return EvaluateFilters(subject, sender, words, FilterManagerPath());
    };
    d->Deliver(kUser, Message("keep one"));
    d->Deliver(kUser, Message("Special offer"));
    d->Deliver(kUser, Message("keep two"));

    std::vector<std::string> remembered;
    if (GetParam().remembered)
        remembered = Check(*d, GetParam().proto, Port::Plain, "").learned;
    Outcome first =
        Check(*d, GetParam().proto, Port::Plain, "", {}, 0, "alice-pass", rules, remembered);
    ASSERT_EQ(first.result, kCheckDone) << first.report.message;
    EXPECT_EQ(first.sink.Subjects(), (std::vector<std::string>{"keep two", "keep one"}));
    EXPECT_EQ(first.count, 2);

    Outcome after = Check(*d, GetParam().proto, Port::Plain, "");
    EXPECT_EQ(after.sink.Subjects(), (std::vector<std::string>{"keep two", "keep one"}));
}

INSTANTIATE_TEST_SUITE_P(Both, DovecotFilterDelete,
                         testing::Values(DeleteRow{"Pop3", Proto::Pop3, false},
                                         DeleteRow{"Imap", Proto::Imap, false},
                                         DeleteRow{"Pop3Remembered", Proto::Pop3, true},
                                         DeleteRow{"ImapRemembered", Proto::Imap, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A certificate the client does not trust: no connection (3), a TLS category, OpenSSL's words
// for the problem, no login. Earlier checks of the same server left TLS sessions to resume:
// the certificate is refused all the same.
struct UntrustedRow {
    const char* name;
    Proto proto;
    Port port;
    std::string security;
    std::string says = "certificate verify failed: unable to get local issuer certificate";
};

POSTWATCH_ROW_PRINTS_NAME(UntrustedRow)

class DovecotUntrusted : public testing::TestWithParam<UntrustedRow>
{
};

TEST_P(DovecotUntrusted, Refused)
{
    DovecotFixture* d = DovecotEnvironment::Get();
    if (d == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    TempDir other;
    TestPki stranger(other.Path(), "Some Other CA");
    ASSERT_TRUE(stranger.Ok());
    ScopedEnv trust("SSL_CERT_FILE", stranger.CaFile());
    const UntrustedRow& row = GetParam();
    Outcome o = Check(*d, row.proto, row.port, row.security);
    EXPECT_EQ(o.result, kCheckCannotConnect) << o.report.message;
    EXPECT_EQ(o.report.category, NetCategory::Tls) << o.report.message;
    EXPECT_EQ(o.report.code, neterr::kCertificate) << o.report.message;
    EXPECT_NE(o.report.message.find(row.says), std::string::npos) << o.report.message;
}

INSTANTIATE_TEST_SUITE_P(
    Both, DovecotUntrusted,
    testing::Values(
        UntrustedRow{.name = "Pop3s", .proto = Proto::Pop3, .port = Port::Tls, .security = "TLS"},
        UntrustedRow{
            .name = "Pop3Stls", .proto = Proto::Pop3, .port = Port::Plain, .security = "STARTTLS"},
        UntrustedRow{.name = "Pop3StlsOpportunistic",
                     .proto = Proto::Pop3,
                     .port = Port::Plain,
                     .security = ""},
        UntrustedRow{.name = "Imaps", .proto = Proto::Imap, .port = Port::Tls, .security = "TLS"},
        UntrustedRow{.name = "ImapStartTls",
                     .proto = Proto::Imap,
                     .port = Port::Plain,
                     .security = "STARTTLS"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
