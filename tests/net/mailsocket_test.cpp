// MailSocket against scripted servers on the loopback: connecting, idle time-outs measured
// from the last byte, hang-ups, certificate verification and the STARTTLS upgrade.

#include "mailsocket.h"
#include "neterror.h"
#include "replyreader.h"
#include "scriptedserver.h"
#include "tempdir.h"
#include "testpki.h"

#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Kind = Pop3ReplyParser::Kind;

namespace
{

// A port on which nothing listens: bound, never listened on, so connects are refused.
struct ClosedPort {
    ClosedPort()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~ClosedPort() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

// A listener whose accept queue is full and never drained: the kernel drops further SYNs, so
// a connect to it hangs until the client gives up.
struct FullListener {
    FullListener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
        ::listen(fd, 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        for (int& c : fillers) {
            c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), len);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~FullListener()
    {
        for (int c : fillers)
            ::close(c);
        ::close(fd);
    }
    int fd = -1;
    int port = 0;
    int fillers[3] = {-1, -1, -1};
};

bool HaveIpv6Loopback()
{
    ScriptedServer probe;
    return probe.Start(true);
}

long long Millis(Clock::duration d)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// One certificate authority and the server certificates of the TLS tables, made once.
class Certs
{
public:
    static Certs& Get()
    {
        static Certs certs;
        return certs;
    }
    TempDir dir;
    TempDir otherDir;
    TestPki pki{dir.Path()};
    TestPki otherPki{otherDir.Path(), "Some Other CA"};
    TestPki::Cert good = pki.Issue("good", TestPki::Localhost());
    TestPki::Cert otherName = pki.Issue("other", {{"mail.other.example"}, {}});
    TestPki::Cert expired = pki.Issue("expired", TestPki::Localhost(), -7200, -3600);
    TestPki::Cert notYetValid = pki.Issue("future", TestPki::Localhost(), 3600, 7200);
    TestPki::Cert selfSigned = pki.SelfSigned("self", TestPki::Localhost());
    TestPki::Cert unknownCa = otherPki.Issue("unknown", TestPki::Localhost());
};

TEST(SocketConnect, ResolvesOrFailsClearly)
{
    ClosedPort closed;
    struct Row {
        const char* name;
        std::string host;
        int port; // 0: the scripted server's port
        int code; // 0: connects
        const char* says;
    } rows[] = {
        {"address_literal", "127.0.0.1", 0, 0, ""},
        {"host_name", "localhost", 0, 0, ""},
        {"refused", "127.0.0.1", closed.port, neterr::kRefused, "connection refused"},
        {"unknown_host", "no-such-host.invalid", 0, neterr::kUnknownHost, "host not found"},
        {"empty_host", "", 0, neterr::kUnknownHost, "no server name"},
        {"port_out_of_range", "127.0.0.1", 70000, neterr::kUnknownHost, "no server name"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server;
        server.Send("+OK hello\r\n");
        ASSERT_TRUE(server.Start());
        MailSocket socket;
        ClearNetError();
        bool ok = socket.Connect(row.host, row.port == 0 ? server.Port() : row.port, 2s);
        EXPECT_EQ(ok, row.code == 0) << LastNetError().message;
        EXPECT_EQ(LastNetErrorCode(), row.code);
        EXPECT_EQ(socket.IsOpen(), ok);
        if (!ok) {
            EXPECT_EQ(LastNetError().message.rfind("cannot connect to ", 0), 0u);
            EXPECT_NE(LastNetError().message.find(row.says), std::string::npos)
                << LastNetError().message;
            continue;
        }
        ReplyReader reader(socket, 2s);
        Pop3Reply reply;
        EXPECT_EQ(reader.ReadReply(Kind::SingleLine, reply), 1);
        EXPECT_EQ(reply.status, "+OK hello");
    }
}

TEST(SocketConnect, ConnectIsBoundedByTheTimeOut)
{
    FullListener full;
    MailSocket socket;
    auto start = Clock::now();
    EXPECT_FALSE(socket.Connect("127.0.0.1", full.port, 500ms));
    long long took = Millis(Clock::now() - start);
    EXPECT_EQ(LastNetErrorCode(), neterr::kTimedOut) << LastNetError().message;
    EXPECT_EQ(LastNetError().category, NetCategory::ConnectFailed);
    EXPECT_GE(took, 450);
    EXPECT_LE(took, 1500);
}

TEST(SocketConnect, Ipv6Loopback)
{
    if (!HaveIpv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    for (const char* host : {"::1", "[::1]"}) {
        SCOPED_TRACE(host);
        ScriptedServer server;
        server.Send("* OK ready\r\n").Expect("A000 CAPABILITY").Send("A000 OK done\r\n");
        ASSERT_TRUE(server.Start(true));
        MailSocket socket;
        ASSERT_TRUE(socket.Connect(host, server.Port(), 2s)) << LastNetError().message;
        EXPECT_EQ(socket.PeerName(), "[::1]:" + std::to_string(server.Port()));
        ASSERT_TRUE(socket.Send("A000 CAPABILITY\r\n"));
        ReplyReader reader(socket, 2s);
        ImapReply reply;
        EXPECT_EQ(reader.ReadTagged("A000 OK", reply), 1);
        EXPECT_TRUE(server.Finish()) << server.Failure();
    }
}

// The idle time-out counts from the last byte received: a slow drip never times out, silence
// longer than the time-out does, and a hang-up ends the read at once.
TEST(SocketTimeouts, IdleTimeOutCountsFromTheLastByte)
{
    struct Row {
        const char* name;
        std::function<void(ScriptedServer&)> script;
        int rc;
        int code;
        long long minMs;
        long long maxMs;
    } rows[] = {
        {"drip_every_300_ms_under_1_s", [](ScriptedServer& s) { s.Send("+OK\r\n", 1, 300ms); }, 1,
         0, 1000, 5000},
        {"silence_of_1_2_s_times_out",
         [](ScriptedServer& s) { s.Send("+OK").Silence(1200ms).Send(" late\r\n"); }, -1,
         neterr::kTimedOut, 900, 1190},
        {"close_mid_reply_ends_at_once", [](ScriptedServer& s) { s.Send("+OK par").Close(); }, -1,
         neterr::kClosed, 0, 500},
        {"reset_ends_at_once", [](ScriptedServer& s) { s.Send("+OK par").Reset(); }, -1,
         neterr::kClosed, 0, 500},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server;
        row.script(server);
        ASSERT_TRUE(server.Start());
        MailSocket socket;
        ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 1s));
        ReplyReader reader(socket, 1s);
        ClearNetError();
        Pop3Reply reply;
        auto start = Clock::now();
        EXPECT_EQ(reader.ReadReply(Kind::SingleLine, reply), row.rc);
        long long took = Millis(Clock::now() - start);
        EXPECT_EQ(LastNetErrorCode(), row.code) << LastNetError().message;
        EXPECT_GE(took, row.minMs);
        EXPECT_LE(took, row.maxMs);
    }
}

// Writing to a server that hung up fails with an error, and never kills the process with
// SIGPIPE, in plain text and under TLS.
TEST(SocketHangUp, SendAfterHangUpFailsWithoutSigpipe)
{
    Certs& certs = Certs::Get();
    ASSERT_TRUE(certs.pki.Ok());
    ScopedEnv trust("SSL_CERT_FILE", certs.pki.CaFile());
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "tls" : "plain");
        ScriptedServer server;
        if (tls)
            server.StartTls(certs.good.certFile, certs.good.keyFile);
        // The reset waits until the client has surely finished connecting: a reset that
        // races the connect fails the connect instead of the send under test.
        server.Send("+OK bye\r\n").Silence(200ms).Reset();
        ASSERT_TRUE(server.Start());
        MailSocket socket;
        ASSERT_TRUE(
            socket.Connect("127.0.0.1", server.Port(), 2s,
                           tls ? MailSocket::Security::ImplicitTls : MailSocket::Security::Plain))
            << LastNetError().message;
        ASSERT_TRUE(server.Finish());
        std::this_thread::sleep_for(50ms);
        bool failed = false;
        for (int i = 0; i < 50 && !failed; ++i)
            failed = !socket.Send(std::string(4096, 'x'));
        EXPECT_TRUE(failed);
        EXPECT_EQ(LastNetError().category, NetCategory::Closed) << LastNetError().message;
    }
}

// Implicit TLS: the certificate must chain to a trusted CA, name the host we asked for, and
// be valid now; every failure says why.
TEST(SocketTls, CertificateIsVerified)
{
    Certs& certs = Certs::Get();
    ASSERT_TRUE(certs.pki.Ok());
    struct Row {
        const char* name;
        TestPki::Cert cert;
        std::string host;
        int code;
        const char* says;
    } rows[] = {
        {"trusted_by_address", certs.good, "127.0.0.1", 0, ""},
        {"trusted_by_name", certs.good, "localhost", 0, ""},
        {"unknown_ca", certs.unknownCa, "localhost", neterr::kCertificate,
         "unable to get local issuer certificate"},
        {"self_signed", certs.selfSigned, "127.0.0.1", neterr::kCertificate, "self-signed"},
        {"wrong_name", certs.otherName, "localhost", neterr::kCertificate, "hostname mismatch"},
        {"wrong_address", certs.otherName, "127.0.0.1", neterr::kCertificate,
         "IP address mismatch"},
        {"expired", certs.expired, "localhost", neterr::kCertificate, "has expired"},
        {"not_yet_valid", certs.notYetValid, "localhost", neterr::kCertificate, "not yet valid"},
    };
    ScopedEnv trust("SSL_CERT_FILE", certs.pki.CaFile());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.cert.certFile.empty());
        ScriptedServer server;
        server.StartTls(row.cert.certFile, row.cert.keyFile).Send("+OK secret\r\n");
        ASSERT_TRUE(server.Start());
        MailSocket socket;
        ClearNetError();
        bool ok = socket.Connect(row.host, server.Port(), 2s, MailSocket::Security::ImplicitTls);
        EXPECT_EQ(ok, row.code == 0) << LastNetError().message;
        EXPECT_EQ(LastNetErrorCode(), row.code);
        if (!ok) {
            EXPECT_NE(LastNetError().message.find("certificate verify failed: "),
                      std::string::npos);
            EXPECT_NE(LastNetError().message.find(row.says), std::string::npos)
                << LastNetError().message;
            EXPECT_FALSE(socket.IsOpen());
            continue;
        }
        EXPECT_TRUE(socket.IsTls());
        ReplyReader reader(socket, 2s);
        Pop3Reply reply;
        EXPECT_EQ(reader.ReadReply(Kind::SingleLine, reply), 1);
        EXPECT_EQ(reply.status, "+OK secret");
    }
}

TEST(SocketTls, HandshakeFailuresAreBounded)
{
    Certs& certs = Certs::Get();
    ScopedEnv trust("SSL_CERT_FILE", certs.pki.CaFile());
    struct Row {
        const char* name;
        std::function<void(ScriptedServer&)> script;
        int code;
        long long maxMs;
    } rows[] = {
        {"server_speaks_plain_text",
         [](ScriptedServer& s) { s.Send("+OK I do not speak TLS\r\n").Silence(2s); }, neterr::kTls,
         900},
        {"server_stays_silent", [](ScriptedServer& s) { s.Silence(3s); }, neterr::kTimedOut, 1900},
        {"server_hangs_up", [](ScriptedServer& s) { s.Close(); }, neterr::kTls, 900},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server;
        row.script(server);
        ASSERT_TRUE(server.Start());
        MailSocket socket;
        auto start = Clock::now();
        EXPECT_FALSE(
            socket.Connect("localhost", server.Port(), 1s, MailSocket::Security::ImplicitTls));
        EXPECT_LE(Millis(Clock::now() - start), row.maxMs);
        EXPECT_EQ(LastNetErrorCode(), row.code) << LastNetError().message;
        EXPECT_FALSE(socket.IsOpen());
    }
}

// STLS on a plain connection: a clean upgrade works; plain text queued behind the go-ahead
// (read along with it, or still in the socket) is refused; silence after it times out.
TEST(SocketStartTls, UpgradeAfterTheGoAhead)
{
    Certs& certs = Certs::Get();
    ScopedEnv trust("SSL_CERT_FILE", certs.pki.CaFile());
    const TestPki::Cert& cert = certs.good;
    struct Row {
        const char* name;
        std::function<void(ScriptedServer&)> script;
        std::chrono::milliseconds pauseBeforeTls;
        int code;
    } rows[] = {
        {"clean",
         [&](ScriptedServer& s) {
             s.Send("+OK begin TLS\r\n").StartTls(cert.certFile, cert.keyFile).Send("+OK safe\r\n");
         },
         0ms, 0},
        {"injection_read_with_the_go_ahead",
         [](ScriptedServer& s) { s.Send("+OK begin\r\n+OK injected\r\n").Silence(2s); }, 0ms,
         neterr::kStartTlsInjection},
        {"injection_queued_in_the_socket",
         [](ScriptedServer& s) {
             s.Send("+OK begin\r\n").Silence(50ms).Send("+OK injected\r\n").Silence(2s);
         },
         300ms, neterr::kStartTlsInjection},
        {"silence_after_the_go_ahead",
         [](ScriptedServer& s) { s.Send("+OK begin\r\n").Silence(3s); }, 0ms, neterr::kTimedOut},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server;
        server.Send("+OK ready\r\n").Expect("STLS");
        row.script(server);
        ASSERT_TRUE(server.Start());
        MailSocket socket;
        ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 1s));
        ReplyReader reader(socket, 1s);
        Pop3Reply reply;
        ASSERT_EQ(reader.ReadReply(Kind::SingleLine, reply), 1);
        ASSERT_TRUE(socket.Send("STLS\r\n"));
        ASSERT_EQ(reader.ReadReply(Kind::SingleLine, reply), 1);
        std::this_thread::sleep_for(row.pauseBeforeTls);
        ClearNetError();
        auto start = Clock::now();
        bool ok = reader.StartTls();
        EXPECT_EQ(ok, row.code == 0) << LastNetError().message;
        EXPECT_EQ(LastNetErrorCode(), row.code) << LastNetError().message;
        EXPECT_LE(Millis(Clock::now() - start), 1900);
        if (!ok) {
            EXPECT_FALSE(socket.IsOpen());
            continue;
        }
        ASSERT_EQ(reader.ReadReply(Kind::SingleLine, reply), 1);
        EXPECT_EQ(reply.status, "+OK safe");
    }
}

} // namespace
