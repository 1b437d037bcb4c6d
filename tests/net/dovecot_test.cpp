// The transport against a real server: a private Dovecot with implicit TLS and STARTTLS on
// both protocols, certificate checks, and replies larger than any fixed buffer.

#include "dovecotenvironment.h"
#include "mailsocket.h"
#include "neterror.h"
#include "replyreader.h"
#include "tempdir.h"
#include "testpki.h"
#include "tlssessioncache.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Kind = Pop3ReplyParser::Kind;

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

enum class Proto { Pop3, Imap };

struct Session {
    MailSocket socket;
    ReplyReader reader{socket, 5s};

    bool Pop3(const std::string& command, Kind kind, Pop3Reply& reply)
    {
        return socket.Send(command + "\r\n") && reader.ReadReply(kind, reply) == 1;
    }
    bool Imap(const std::string& tag, const std::string& command, ImapReply& reply)
    {
        return socket.Send(tag + " " + command + "\r\n") &&
               reader.ReadTagged(tag + " OK", reply) == 1;
    }
};

std::string Message(const std::string& subject, std::size_t headerPad, std::size_t bodyLines)
{
    std::string m = "From: Sender <sender@example.org>\r\nSubject: " + subject + "\r\n";
    for (std::size_t i = 0; i < headerPad / 70; ++i)
        m += "X-Pad-" + std::to_string(i) + ": " + std::string(60, 'p') + "\r\n";
    m += "\r\n";
    for (std::size_t i = 0; i < bodyLines; ++i)
        m += (i % 7 == 0 ? "." : "") + std::string("line ") + std::to_string(i) + "\r\n";
    return m;
}

TEST(DovecotTls, ImplicitTlsAndStartTls)
{
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    if (dovecot == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    ScopedEnv trust("SSL_CERT_FILE", dovecot->CaFile());
    struct Row {
        const char* name;
        Proto proto;
        int port;
        bool implicitTls;
        std::string host;
    } rows[] = {
        {"pop3s_by_address", Proto::Pop3, dovecot->Pop3sPort(), true, "127.0.0.1"},
        {"pop3s_by_name", Proto::Pop3, dovecot->Pop3sPort(), true, "localhost"},
        {"pop3_stls", Proto::Pop3, dovecot->Pop3Port(), false, "localhost"},
        {"imaps_by_address", Proto::Imap, dovecot->ImapsPort(), true, "127.0.0.1"},
        {"imap_starttls", Proto::Imap, dovecot->ImapPort(), false, "127.0.0.1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Session s;
        ASSERT_TRUE(s.socket.Connect(row.host, row.port, 5s,
                                     row.implicitTls ? MailSocket::Security::ImplicitTls
                                                     : MailSocket::Security::Plain))
            << LastNetError().message;
        if (row.proto == Proto::Pop3) {
            Pop3Reply reply;
            ASSERT_EQ(s.reader.ReadReply(Kind::SingleLine, reply), 1);
            if (!row.implicitTls) {
                ASSERT_TRUE(s.Pop3("STLS", Kind::SingleLine, reply));
                ASSERT_TRUE(s.reader.StartTls()) << LastNetError().message;
            }
            EXPECT_TRUE(s.socket.IsTls());
            ASSERT_TRUE(s.Pop3("USER alice", Kind::SingleLine, reply));
            ASSERT_TRUE(s.Pop3("PASS alice-pass", Kind::SingleLine, reply)) << reply.status;
            EXPECT_TRUE(s.Pop3("STAT", Kind::SingleLine, reply));
            EXPECT_TRUE(s.Pop3("QUIT", Kind::SingleLine, reply));
        } else {
            ImapReply reply;
            if (!row.implicitTls) {
                ASSERT_TRUE(s.Imap("A000", "STARTTLS", reply));
                ASSERT_FALSE(reply.responses.empty()); // the greeting came first
                ASSERT_TRUE(s.reader.StartTls()) << LastNetError().message;
            }
            EXPECT_TRUE(s.socket.IsTls());
            ASSERT_TRUE(s.Imap("A001", "LOGIN alice alice-pass", reply)) << reply.taggedLine;
            EXPECT_TRUE(s.Imap("A004", "SELECT Inbox", reply));
            EXPECT_TRUE(s.Imap("A088", "LOGOUT", reply));
        }
    }
}

TEST(DovecotTls, UntrustedServerIsRefused)
{
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    if (dovecot == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    TempDir other;
    TestPki otherCa(other.Path(), "Unrelated CA");
    ASSERT_TRUE(otherCa.Ok());
    ScopedEnv trust("SSL_CERT_FILE", otherCa.CaFile());
    ScopedEnv noDir("SSL_CERT_DIR", other.Path());
    for (int port : {dovecot->Pop3sPort(), dovecot->ImapsPort()}) {
        MailSocket socket;
        EXPECT_FALSE(socket.Connect("localhost", port, 5s, MailSocket::Security::ImplicitTls));
        EXPECT_EQ(LastNetErrorCode(), neterr::kCertificate) << LastNetError().message;
        EXPECT_NE(LastNetError().message.find("certificate verify failed"), std::string::npos);
    }
}

// A second TLS connection to the same server resumes the session of the first (no full
// handshake), with implicit TLS and after STARTTLS. A session is offered only to the host
// name it was made for, and its certificate is checked again: a CA no longer trusted refuses
// the resumed session too, and the next connection starts afresh.
TEST(DovecotTls, SessionsAreResumedAndStillVerified)
{
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    if (dovecot == nullptr)
        GTEST_SKIP() << DovecotEnvironment::Why();
    TempDir other;
    TestPki stranger(other.Path(), "Unrelated CA");
    ASSERT_TRUE(stranger.Ok());
    const int pop3s = dovecot->Pop3sPort();
    const int imap = dovecot->ImapPort();
    for (const char* host : {"localhost", "127.0.0.1"})
        for (int port : {pop3s, imap})
            TlsSessionCache::Instance().Forget(TlsSessionCache::KeyOf(host, port));
    struct Row {
        const char* name;
        std::string host;
        int port;
        bool trusted;
        bool reused;
        int code;
    } rows[] = {
        {"pop3s_first_is_full", "localhost", pop3s, true, false, 0},
        {"pop3s_second_resumes", "localhost", pop3s, true, true, 0},
        {"pop3s_name_case_resumes", "LocalHost", pop3s, true, true, 0},
        {"other_host_name_is_full", "127.0.0.1", pop3s, true, false, 0},
        {"no_longer_trusted_is_refused", "localhost", pop3s, false, false, neterr::kCertificate},
        {"after_refusal_is_full", "localhost", pop3s, true, false, 0},
        {"starttls_first_is_full", "127.0.0.1", imap, true, false, 0},
        {"starttls_second_resumes", "127.0.0.1", imap, true, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedEnv trust("SSL_CERT_FILE", row.trusted ? dovecot->CaFile() : stranger.CaFile());
        Session s;
        const bool starttls = row.port == imap;
        bool ok = s.socket.Connect(row.host, row.port, 5s,
                                   starttls ? MailSocket::Security::Plain
                                            : MailSocket::Security::ImplicitTls);
        if (ok && starttls) {
            ImapReply reply;
            ok = s.Imap("A000", "STARTTLS", reply) && s.reader.StartTls();
        }
        EXPECT_EQ(ok, row.code == 0) << LastNetError().message;
        if (!ok) {
            EXPECT_EQ(LastNetErrorCode(), row.code) << LastNetError().message;
            EXPECT_NE(LastNetError().message.find("certificate verify failed"), std::string::npos);
            continue;
        }
        EXPECT_EQ(s.socket.SessionReused(), row.reused);
        // Reading after the handshake takes in the server's session tickets (TLS 1.3).
        if (starttls) {
            ImapReply reply;
            EXPECT_TRUE(s.Imap("A001", "NOOP", reply));
            EXPECT_TRUE(s.Imap("A088", "LOGOUT", reply));
        } else {
            Pop3Reply reply;
            EXPECT_EQ(s.reader.ReadReply(Kind::SingleLine, reply), 1);
            EXPECT_TRUE(s.Pop3("QUIT", Kind::SingleLine, reply));
        }
    }
}

// A TOP reply over 9 999 bytes and an IMAP header over 4 999 bytes are read whole; UIDs
// follow the order of delivery.
TEST(DovecotReplies, LargeRepliesAreReadWhole)
{
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    if (dovecot == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    ASSERT_TRUE(dovecot->ClearMailbox("bob"));
    const std::string first = Message("first", 200, 3);
    const std::string big = Message("big", 8000, 2000);
    ASSERT_FALSE(dovecot->Deliver("bob", first).empty());
    ASSERT_FALSE(dovecot->Deliver("bob", big, true).empty());

    {
        Session s;
        ASSERT_TRUE(s.socket.Connect("127.0.0.1", dovecot->Pop3Port(), 5s));
        Pop3Reply reply;
        ASSERT_EQ(s.reader.ReadReply(Kind::SingleLine, reply), 1);
        ASSERT_TRUE(s.Pop3("USER bob", Kind::SingleLine, reply));
        ASSERT_TRUE(s.Pop3("PASS bob pass", Kind::SingleLine, reply)) << reply.status;
        ASSERT_TRUE(s.Pop3("UIDL", Kind::MultiLine, reply));
        EXPECT_EQ(reply.body.substr(0, 2), "1 ");
        EXPECT_NE(reply.body.find("\r\n2 "), std::string::npos);
        ASSERT_TRUE(s.Pop3("TOP 2 5000", Kind::MultiLine, reply));
        EXPECT_GT(reply.body.size(), 9999u);
        EXPECT_EQ(reply.body, big); // dot-stuffed lines come back as delivered
        EXPECT_FALSE(s.Pop3("TOP 9 0", Kind::MultiLine, reply)); // -ERR ends at once
        EXPECT_EQ(LastNetErrorCode(), neterr::kNegativeReply);
        EXPECT_TRUE(s.Pop3("QUIT", Kind::SingleLine, reply));
    }
    {
        Session s;
        ASSERT_TRUE(s.socket.Connect("127.0.0.1", dovecot->ImapPort(), 5s));
        ImapReply reply;
        ASSERT_TRUE(s.Imap("A001", "LOGIN bob \"bob pass\"", reply)) << reply.taggedLine;
        ASSERT_TRUE(s.Imap("A004", "SELECT Inbox", reply));
        ASSERT_TRUE(s.Imap("A008", "FETCH 1:* UID", reply));
        ASSERT_EQ(reply.responses.size(), 2u);
        EXPECT_EQ(reply.responses[0].text, "* 1 FETCH (UID 1)");
        EXPECT_EQ(reply.responses[1].text, "* 2 FETCH (UID 2)");
        ASSERT_TRUE(s.Imap("A007", "UID FETCH 2 (RFC822.HEADER)", reply));
        ASSERT_EQ(reply.responses.size(), 1u);
        ASSERT_EQ(reply.responses[0].literals.size(), 1u);
        const std::string& header = reply.responses[0].literals[0];
        EXPECT_GT(header.size(), 4999u);
        EXPECT_EQ(header, big.substr(0, big.find("\r\n\r\n") + 4));
        EXPECT_TRUE(s.Imap("A088", "LOGOUT", reply));
    }
}

} // namespace
