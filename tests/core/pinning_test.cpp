// Trusting one certificate per account, against a private Dovecot whose certificate no trust
// store knows: refused before, accepted once pinned, refused as "changed" after the server
// restarts with a new certificate. POP3 and IMAP4 go through the engine's protocol check
// (the connection the account's checks use, implicit TLS and STARTTLS), the push session
// through its own connection. No credential may reach the server before the certificate is
// accepted: Dovecot's log counts the log-ins.

#include "certificatepin.h"
#include "checkcancel.h"
#include "checkrecords.h"
#include "dovecotfixture.h"
#include "enginesink.h"
#include "neterror.h"
#include "protocolcheck.h"
#include "pushsession.h"
#include "scriptedserver.h"
#include "support/component.h"
#include "support/tablerow.h"
#include "tempdir.h"
#include "testpki.h"

#include <chrono>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

using namespace std::chrono_literals;

namespace
{

class NullSink final : public CEngineSink
{
public:
    int SendNewMessage(uint32_t, const MessageRecord&) override { return 1; }
    int SendExchangeMessage(const ExchangeMessageRecord&) override { return 1; }
    int SendWebMailMessage(const WebMailMessageRecord&) override { return 1; }
    int SendSummary(const CheckResultRecord&) override { return 1; }
    int SendText(const CheckResultRecord&) override { return 1; }
    int SendCheckAnimation(bool) override { return 1; }
    void PostClose() override {}
};

enum class Via { Pop3, Imap4, Push };

struct PinRow {
    const char* name;
    Via via;
    bool implicitTls;
    std::string security;
};

POSTWATCH_ROW_PRINTS_NAME(PinRow)

// What one connection attempt came to: accepted (the check was done, or the push connection
// reached IDLE), or refused with the reason a user reads.
struct Attempt {
    bool accepted = false;
    std::string message;
    PeerCertificate refused = {}; // the protocol check's; the push session has none
};

CheckRequest RequestFor(DovecotFixture& d, const PinRow& row, const std::string& pin)
{
    CheckRequest request;
    request.server = "127.0.0.1";
    if (row.via == Via::Pop3)
        request.port = row.implicitTls ? d.Pop3sPort() : d.Pop3Port();
    else
        request.port = row.implicitTls ? d.ImapsPort() : d.ImapPort();
    request.security = row.security;
    request.userName = "alice";
    request.password = "alice-pass";
    request.pin = pin;
    request.account = "Pinned";
    request.timeOutSeconds = 10;
    return request;
}

Attempt Push(const CheckRequest& request)
{
    CPushSession session(request, CPushSession::Hooks{[] { return true; }, {}, {}}, {});
    session.Start();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline &&
           session.CurrentState() != CPushSession::State::Connected && session.LastError().empty())
        std::this_thread::sleep_for(10ms);
    Attempt a{session.CurrentState() == CPushSession::State::Connected, session.LastError()};
    session.Stop();
    return a;
}

Attempt Try(DovecotFixture& d, const PinRow& row, const std::string& pin)
{
    const CheckRequest request = RequestFor(d, row, pin);
    if (row.via == Via::Push)
        return Push(request);
    CProtocolCheck check(row.via == Via::Pop3 ? CProtocolCheck::Protocol::Pop3
                                              : CProtocolCheck::Protocol::Imap4,
                         nullptr);
    NullSink sink;
    int32_t newCount = 0;
    CCheckCancel cancel;
    ProtocolCheck::Closing closing;
    Attempt a;
    const int result = check.Run(request, sink, newCount, cancel, closing, a.message, a.refused);
    if (closing)
        closing();
    a.accepted = result == CheckResult::kDone;
    EXPECT_TRUE(a.accepted || result == CheckResult::kCannotConnect) << a.message;
    return a;
}

// The full fingerprint a refusal names, as the command line's error line shows it.
std::string FingerprintIn(const std::string& message)
{
    std::smatch m;
    static const std::regex kFingerprint("SHA-256 fingerprint ([0-9a-f]{64})");
    return std::regex_search(message, m, kFingerprint) ? m[1].str() : std::string();
}

int LoginsIn(const DovecotFixture& d)
{
    const std::string log = d.LogText();
    int count = 0;
    for (std::size_t at = log.find("Login: user=<alice>"); at != std::string::npos;
         at = log.find("Login: user=<alice>", at + 1))
        ++count;
    return count;
}

// Dovecot writes its log through a process of its own: wait for `want` log-ins, then a
// moment longer, so that one more than expected would be seen too.
int LoginsSettled(const DovecotFixture& d, int want)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (LoginsIn(d) < want && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(300ms);
    return LoginsIn(d);
}

class DovecotPinning : public testing::TestWithParam<PinRow>
{
protected:
    // A Dovecot of its own: the rows restart it with a new certificate.
    static void SetUpTestSuite()
    {
        dovecot_ = new DovecotFixture;
        if (!dovecot_->Start()) {
            why_ = dovecot_->Error();
            delete dovecot_;
            dovecot_ = nullptr;
        }
    }
    static void TearDownTestSuite()
    {
        delete dovecot_;
        dovecot_ = nullptr;
    }

    static DovecotFixture* dovecot_;
    static std::string why_;
};

DovecotFixture* DovecotPinning::dovecot_ = nullptr;
std::string DovecotPinning::why_;

TEST_P(DovecotPinning, TrustedUntilTheCertificateChanges)
{
    if (dovecot_ == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", why_);
    DovecotFixture& d = *dovecot_;
    const PinRow& row = GetParam();
    TempDir other;
    TestPki stranger(other.Path(), "Some Other CA");
    ASSERT_TRUE(stranger.Ok());
    ScopedEnv untrusted("SSL_CERT_FILE", stranger.CaFile());

    // Refused, and the refusal names the certificate to trust.
    int logins = LoginsIn(d);
    Attempt refused = Try(d, row, "");
    EXPECT_FALSE(refused.accepted);
    EXPECT_NE(refused.message.find("certificate verify failed"), std::string::npos)
        << refused.message;
    const std::string pin = FingerprintIn(refused.message);
    ASSERT_EQ(pin.size(), kPinDigits) << refused.message;
    if (row.via != Via::Push) {
        EXPECT_EQ(refused.refused.sha256, pin);
        EXPECT_NE(refused.refused.issuer.find("Postwatch Test CA"), std::string::npos);
    }

    // Trusted: accepted though it still does not verify; the first log-in of this row.
    Attempt trusted = Try(d, row, pin);
    EXPECT_TRUE(trusted.accepted) << trusted.message;
    // Forgotten: refused again, though the trusted connection left a session to resume.
    EXPECT_FALSE(Try(d, row, "").accepted);
    EXPECT_EQ(LoginsSettled(d, logins + 1), logins + 1) << "credentials went to a refused server";

    // The server comes back with another certificate: refused as changed, naming both, and
    // also when the trust store vouches for the new one.
    ASSERT_TRUE(d.Restart()) << d.Error();
    logins = LoginsIn(d);
    Attempt changed = Try(d, row, pin);
    EXPECT_FALSE(changed.accepted);
    EXPECT_NE(changed.message.find("certificate changed"), std::string::npos) << changed.message;
    EXPECT_NE(changed.message.find(PinStart(pin)), std::string::npos) << changed.message;
    const std::string now = FingerprintIn(changed.message);
    ASSERT_EQ(now.size(), kPinDigits) << changed.message;
    EXPECT_NE(now, pin);
    if (row.via != Via::Push)
        EXPECT_EQ(changed.refused.sha256, now);
    EXPECT_NE(changed.message.find(PinStart(now)), std::string::npos) << changed.message;
    {
        ScopedEnv trustedCa("SSL_CERT_FILE", d.CaFile());
        EXPECT_FALSE(Try(d, row, pin).accepted);
        // A pinned certificate that also verifies is accepted, of course.
        EXPECT_TRUE(Try(d, row, now).accepted);
    }
    EXPECT_EQ(LoginsSettled(d, logins + 1), logins + 1) << "credentials went to a refused server";
}

INSTANTIATE_TEST_SUITE_P(Connections, DovecotPinning,
                         testing::Values(PinRow{"Pop3s", Via::Pop3, true, "TLS"},
                                         PinRow{"Pop3Stls", Via::Pop3, false, "STARTTLS"},
                                         PinRow{"Imaps", Via::Imap4, true, "TLS"},
                                         PinRow{"ImapStartTls", Via::Imap4, false, "STARTTLS"},
                                         PinRow{"PushImaps", Via::Push, true, "TLS"},
                                         PinRow{"PushStartTls", Via::Push, false, "STARTTLS"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A pinned account with no stored choice has spoken TLS to its server: a server that no
// longer offers STARTTLS (or something in between that strips it) gets no credential in
// plain text, whichever connection asks.
TEST(PinnedAccount, NoStartTlsOfferIsRefusedBeforeTheCredentials)
{
    struct Row {
        const char* name;
        Via via;
        std::function<void(ScriptedServer&)> script;
    } rows[] = {
        {"pop3", Via::Pop3,
         [](ScriptedServer& s) {
             s.Send("+OK ready\r\n").Expect("CAPA").Send("+OK\r\nUSER\r\n.\r\n");
         }},
        {"imap4", Via::Imap4,
         [](ScriptedServer& s) { s.Send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready\r\n"); }},
        {"push", Via::Push,
         [](ScriptedServer& s) {
             s.Send("* OK ready\r\n")
                 .Expect("P1 CAPABILITY")
                 .Send("* CAPABILITY IMAP4rev1 IDLE\r\nP1 OK\r\n");
         }},
    };
    for (const Row& row : rows) {
        ScriptedServer server;
        row.script(server);
        ASSERT_TRUE(server.Start()) << row.name;
        CheckRequest request;
        request.server = "127.0.0.1";
        request.port = server.Port();
        request.userName = "alice";
        request.password = "alice-pass";
        request.pin = std::string(kPinDigits, 'a');
        request.account = "Pinned";
        request.timeOutSeconds = 2;
        Attempt a;
        if (row.via == Via::Push) {
            a = Push(request);
        } else {
            CProtocolCheck check(row.via == Via::Pop3 ? CProtocolCheck::Protocol::Pop3
                                                      : CProtocolCheck::Protocol::Imap4,
                                 nullptr);
            NullSink sink;
            int32_t newCount = 0;
            CCheckCancel cancel;
            ProtocolCheck::Closing closing;
            a.accepted = check.Run(request, sink, newCount, cancel, closing, a.message,
                                   a.refused) == CheckResult::kDone;
            if (closing)
                closing();
        }
        EXPECT_FALSE(a.accepted) << row.name;
        EXPECT_NE(a.message.find("TLS"), std::string::npos) << row.name << ": " << a.message;
        for (const std::string& line : server.Transcript())
            EXPECT_EQ(line.find("alice"), std::string::npos) << row.name << ": " << line;
    }
}

} // namespace
