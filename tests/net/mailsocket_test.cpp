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

// Every read is bounded: a line must come whole within the time-out, a multi-line reply must
// keep up 1 KiB per time-out period, silence ends a read; a steady transfer above the floor
// goes through, and a hang-up ends the read at once.
TEST(SocketTimeouts, ReadsAreBounded)
{
    std::string big; // about 6 KiB, dot-terminated
    while (big.size() < 6000)
        big += "line " + std::to_string(big.size()) + std::string(60, 'x') + "\r\n";
    const std::string multi = "+OK\r\n" + big + ".\r\n";
    struct Row {
        const char* name;
        std::function<void(ScriptedServer&)> script;
        Kind kind;
        int rc;
        NetCategory category;
        const char* says;
        long long minMs;
        long long maxMs;
    } rows[] = {
        {"single_line_at_once", [](ScriptedServer& s) { s.Send("+OK\r\n"); }, Kind::SingleLine, 1,
         NetCategory::None, "", 0, 500},
        {"single_line_dripping_is_too_slow",
         [](ScriptedServer& s) { s.Send("+OK dripping\r\n", 1, 300ms); }, Kind::SingleLine, -1,
         NetCategory::TooSlow, "the server is too slow", 900, 1500},
        {"single_line_stalled_mid_line",
         [](ScriptedServer& s) { s.Send("+OK").Silence(1200ms).Send(" late\r\n"); },
         Kind::SingleLine, -1, NetCategory::TooSlow, "the server is too slow", 900, 1190},
        {"silence_from_the_start_is_no_greeting", [](ScriptedServer& s) { s.Silence(1500ms); },
         Kind::SingleLine, -1, NetCategory::NoGreeting, "no greeting within 1 s", 900, 1400},
        {"multi_line_below_the_floor_is_too_slow",
         [&](ScriptedServer& s) { s.Send(multi, 50, 100ms); }, Kind::MultiLine, -1,
         NetCategory::TooSlow, "the server is too slow", 900, 1500},
        {"multi_line_steady_above_the_floor_arrives",
         [&](ScriptedServer& s) { s.Send(multi, 400, 100ms); }, Kind::MultiLine, 1,
         NetCategory::None, "", 1000, 5000},
        {"multi_line_stalled_after_a_burst",
         [&](ScriptedServer& s) { s.Send(multi.substr(0, 3000)).Silence(1500ms); }, Kind::MultiLine,
         -1, NetCategory::TimedOut, "the server sent nothing for 1 s", 900, 1400},
        {"close_mid_reply_ends_at_once", [](ScriptedServer& s) { s.Send("+OK par").Close(); },
         Kind::SingleLine, -1, NetCategory::Closed, "closed the connection", 0, 500},
        {"reset_ends_at_once", [](ScriptedServer& s) { s.Send("+OK par").Reset(); },
         Kind::SingleLine, -1, NetCategory::Closed, "closed the connection", 0, 500},
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
        EXPECT_EQ(reader.ReadReply(row.kind, reply), row.rc);
        long long took = Millis(Clock::now() - start);
        EXPECT_EQ(LastNetError().category, row.category) << LastNetError().message;
        EXPECT_NE(LastNetError().message.find(row.says), std::string::npos)
            << LastNetError().message;
        if (row.rc < 0)
            EXPECT_EQ(LastNetErrorCode(),
                      row.category == NetCategory::Closed ? neterr::kClosed : neterr::kTimedOut);
        else if (row.kind == Kind::MultiLine)
            EXPECT_EQ(reply.body, big);
        EXPECT_GE(took, row.minMs);
        EXPECT_LE(took, row.maxMs);
    }
}

// Once the greeting has come, silence is silence, not a missing greeting.
TEST(SocketTimeouts, SilenceAfterTheGreeting)
{
    ScriptedServer server;
    server.Send("+OK ready\r\n").Silence(1500ms);
    ASSERT_TRUE(server.Start());
    MailSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 1s));
    ReplyReader reader(socket, 1s);
    Pop3Reply reply;
    ASSERT_EQ(reader.ReadReply(Kind::SingleLine, reply), 1);
    EXPECT_EQ(reader.ReadReply(Kind::SingleLine, reply), -1);
    EXPECT_EQ(LastNetError().category, NetCategory::TimedOut) << LastNetError().message;
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
        {"wrong_name", certs.otherName, "localhost", neterr::kCertificate,
         "hostname mismatch (the certificate is not for localhost)"},
        {"wrong_address", certs.otherName, "127.0.0.1", neterr::kCertificate,
         "IP address mismatch (the certificate is not for 127.0.0.1)"},
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
        NetCategory category;
        long long maxMs;
    } rows[] = {
        {"server_speaks_plain_text",
         [](ScriptedServer& s) { s.Send("+OK I do not speak TLS\r\n").Silence(2s); }, neterr::kTls,
         NetCategory::Tls, 900},
        {"server_stays_silent", [](ScriptedServer& s) { s.Silence(3s); }, neterr::kTimedOut,
         NetCategory::NoGreeting, 1900},
        // A record header announcing 512 bytes, then a byte every 100 ms.
        {"server_drips_a_record",
         [](ScriptedServer& s) {
             s.Send(std::string("\x16\x03\x03\x02\x00", 5) + std::string(512, '\x01'), 1, 100ms);
         },
         neterr::kTimedOut, NetCategory::TimedOut, 1900},
        {"server_hangs_up", [](ScriptedServer& s) { s.Close(); }, neterr::kTls, NetCategory::Tls,
         900},
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
        EXPECT_EQ(LastNetError().category, row.category) << LastNetError().message;
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
