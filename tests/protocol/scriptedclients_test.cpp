// The clients against a scripted server on 127.0.0.1: what a real server will not do
// (odd case, bytes one at a time, stray tags, broken TLS policies, hostile UIDs, early
// closes, slow drips, huge replies), checked by result code, deliveries and the transcript
// of what the client sent.

#include "imap4client.h"
#include "pop3client.h"
#include "protocol/recordingsink.h"
#include "scriptedserver.h"
#include "tempdir.h"
#include "testpki.h"

#include <functional>
#include <gtest/gtest.h>
#include <unordered_set>

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;

namespace
{

enum class Proto { Pop3, Imap };

std::string Msg(const std::string& subject, const std::string& body = "hello\r\n")
{
    return "From: Ann <ann@example.org>\r\nSubject: " + subject +
           "\r\nDate: Tue, 1 Dec 2026 10:00:00 +0000\r\n\r\n" + body;
}

// Dot-stuffed POP3 multi-line reply.
std::string Multi(const std::string& status, const std::string& body)
{
    std::string out = status + "\r\n";
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find("\r\n", start);
        std::string line = body.substr(start, end - start);
        out += (line.rfind(".", 0) == 0 ? "." : "") + line + "\r\n";
        start = end == std::string::npos ? body.size() : end + 2;
    }
    return out + ".\r\n";
}

std::string Literal(const std::string& bytes)
{
    return "{" + std::to_string(bytes.size()) + "}\r\n" + bytes;
}

// The usual POP3 start: greeting, CAPA without STLS or PIPELINING, USER, PASS, NOOP, STAT.
void Pop3Login(ScriptedServer& s, int count, std::size_t chunk = 0, const char* ok = "+OK")
{
    std::string k(ok);
    s.Send(k + " ready\r\n", chunk)
        .Expect("CAPA")
        .Send(Multi(k, "USER\r\nUIDL\r\nTOP"), chunk)
        .Expect("USER ann")
        .Send(k + "\r\n", chunk)
        .Expect("PASS secret")
        .Send(k + "\r\n", chunk)
        .Expect("NOOP")
        .Send(k + "\r\n", chunk)
        .Expect("STAT")
        .Send(k + " " + std::to_string(count) + " 900\r\n", chunk);
}

void ImapLogin(ScriptedServer& s, const std::string& caps = "IMAP4rev1 UIDPLUS",
               std::size_t chunk = 0)
{
    s.Send("* OK [CAPABILITY " + caps + "] ready\r\n", chunk)
        .Expect("A001 LOGIN \"ann\" \"secret\"")
        .Send("A001 OK [CAPABILITY " + caps + "] in\r\n", chunk);
}

void ImapSelect(ScriptedServer& s, const std::string& uidLines, int exists, std::size_t chunk = 0)
{
    s.Expect("A004 SELECT INBOX")
        .Send("* " + std::to_string(exists) + " EXISTS\r\nA004 OK [READ-WRITE] done\r\n", chunk)
        .Expect("A008 UID SEARCH ALL")
        .Send(uidLines + "A008 OK done\r\n", chunk);
}

// SELECT with a UIDVALIDITY, and the UID list.
void ImapSelectValidity(ScriptedServer& s, const std::string& uidLines, int exists,
                        uint32_t validity)
{
    s.Expect("A004 SELECT INBOX")
        .Send("* " + std::to_string(exists) + " EXISTS\r\n* OK [UIDVALIDITY " +
              std::to_string(validity) + "] UIDs valid\r\nA004 OK [READ-WRITE] done\r\n")
        .Expect("A008 UID SEARCH ALL")
        .Send(uidLines + "A008 OK done\r\n");
}

struct Row {
    const char* name;
    Proto proto;
    std::function<void(ScriptedServer&)> script;
    int want;
    std::vector<std::string> subjects;    // delivered, in order
    std::vector<std::string> sentInOrder; // line prefixes the client sent, in this order
    std::vector<std::string> neverSent;   // line prefixes that must not appear
    std::string security;
    std::string password = "secret";
    int timeoutSeconds = 5;
    int preview = 0;
    std::string deleteSubject;           // a rule deletes messages with this subject
    std::vector<std::string> remembered; // capabilities known from the last check
    std::vector<std::string> learned;    // what the client must remember; unchecked if empty
    bool scriptCompletes = true;
    std::string says; // words the report's message must hold
    ms within{0};     // the check must end within this bound (0: not checked)
    std::string sasl; // a bearer-token mechanism: `password` is the access token
    std::unordered_set<std::string> stored; // UIDs kept from earlier checks (IMAP read state)
    std::string serverSeen, serverGone;     // what the check reports of them, "1 3 "
    uint32_t validity = 0;                  // IMAP UIDVALIDITY known from the last check
    uint32_t validityFound = 0;             // what the check must tell of SELECT's
    std::string renumbered = "-";           // UIDs it takes as seen, "1 2 "; "-": not called
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

class ScriptedClients : public testing::TestWithParam<Row>
{
};

// A message whose header is about `bytes` long, for transfers that take a while.
std::string Padded(const std::string& subject, std::size_t bytes)
{
    std::string pad;
    for (std::size_t i = 0; pad.size() < bytes; ++i)
        pad += "X-Pad-" + std::to_string(i) + ": " + std::string(60, 'p') + "\r\n";
    return "Subject: " + subject + "\r\n" + pad + "\r\nbody\r\n";
}

// A CA and a server certificate for 127.0.0.1, made once for the rows that start TLS.
struct Pki {
    TempDir dir;
    TestPki pki{dir.Path()};
    TestPki::Cert cert = pki.Issue("server", TestPki::Localhost());
};

const Pki& TestCa()
{
    static Pki pki;
    return pki;
}

TEST_P(ScriptedClients, Session)
{
    const Row& row = GetParam();
    ScopedEnv trust("SSL_CERT_FILE", TestCa().pki.CaFile());
    ScriptedServer server;
    row.script(server);
    ASSERT_TRUE(server.Start());

    RecordingSink sink;
    const auto start = std::chrono::steady_clock::now();
    const bool mayDelete = !row.deleteSubject.empty();
    auto filter = [&](const std::string& subject, const std::string&) {
        return mayDelete && subject == row.deleteSubject ? 1 : 0;
    };
    CheckRequest request;
    request.server = "127.0.0.1";
    request.port = server.Port();
    request.security = row.security;
    request.userName = "ann";
    request.password = row.password;
    request.saslMechanism = row.sasl;
    request.account = "acct";
    request.timeOutSeconds = row.timeoutSeconds;
    request.preview = row.preview;
    request.storedUids = row.stored;
    request.knownUids = row.stored;
    request.uidValidity = row.validity;
    uint32_t validityFound = 0;
    std::string renumbered = "-";
    request.uidValidityFound = [&](uint32_t v) { validityFound = v; };
    request.recordRenumbered = [&](std::vector<std::string> uids) {
        renumbered.clear();
        for (const std::string& uid : uids)
            renumbered += uid + " ";
    };
    CheckReport report;
    std::vector<std::string> learned;
    if (row.proto == Proto::Pop3) {
        Pop3Client client;
        client.SetFilter(filter, mayDelete);
        client.RememberCapabilities(row.remembered);
        report = client.CheckPop3Account(sink, request);
        EXPECT_EQ(client.Report().result, report.result);
        learned = client.LearnedCapabilities();
    } else {
        Imap4Client client;
        client.SetFilter(filter, mayDelete);
        client.RememberCapabilities(row.remembered);
        report = client.CheckImap4Account(sink, request);
        learned = client.LearnedCapabilities();
    }
    const int result = report.result;
    const int count = report.newCount;
    if (result != kCheckDone)
        EXPECT_FALSE(report.message.empty());
    if (!row.learned.empty())
        EXPECT_EQ(learned, row.learned);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, row.want) << report.message;
    EXPECT_NE(report.message.find(row.says), std::string::npos) << report.message;
    if (row.within.count() > 0)
        EXPECT_LE(took, row.within);
    EXPECT_EQ(sink.Subjects(), row.subjects);
    EXPECT_EQ(sink.serverSeen, row.serverSeen);
    EXPECT_EQ(sink.serverGone, row.serverGone);
    EXPECT_EQ(validityFound, row.validityFound);
    EXPECT_EQ(renumbered, row.renumbered);
    EXPECT_EQ(count, static_cast<int>(row.subjects.size()));
    for (const RecordingSink::Delivery& d : sink.deliveries) {
        EXPECT_EQ(d.kind, row.proto == Proto::Pop3 ? kRecordPop3 : kRecordImap4);
        EXPECT_EQ(d.record.account, "acct");
    }
    if (row.scriptCompletes)
        EXPECT_TRUE(server.Finish()) << server.Failure();
    else
        server.Finish(ms(200));

    std::vector<std::string> transcript = server.Transcript();
    std::size_t at = 0;
    for (const std::string& want : row.sentInOrder) {
        while (at < transcript.size() && transcript[at].rfind(want, 0) != 0)
            ++at;
        EXPECT_LT(at, transcript.size()) << "not sent in order: " << want;
    }
    for (const std::string& bad : row.neverSent)
        for (const std::string& line : transcript)
            EXPECT_NE(line.rfind(bad, 0), 0u) << "sent: " << line;
}

const std::string kUidl3 = Multi("+OK", "1 uid-a\r\n2 uid-b\r\n3 uid-c");
const std::string kList3 = Multi("+OK", "1 100\r\n2 200\r\n3 300");

INSTANTIATE_TEST_SUITE_P(
    Pop3, ScriptedClients,
    testing::Values(
        Row{.name = "LowerCaseOk",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 1, 0, "+ok");
                    s.Expect("UIDL").Send(Multi("+ok", "1 only")).Expect("LIST");
                    s.Send(Multi("+ok", "1 2048")).Expect("TOP 1 0").Send(Multi("+ok", Msg("Hi")));
                    s.Expect("QUIT").Send("+ok bye\r\n");
                },
            .want = kCheckDone,
            .subjects = {"Hi"},
            .sentInOrder = {"USER", "PASS", "TOP 1 0", "QUIT"}},
        Row{.name = "OneByteChunksNewestFirst",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 3, 1);
                    s.Expect("UIDL").Send(kUidl3, 1).Expect("LIST").Send(kList3, 1);
                    s.Expect("TOP 3 0").Send(Multi("+OK", Msg("three")), 1);
                    s.Expect("TOP 2 0").Send(Multi("+OK", Msg("two", "..dotted\r\n")), 1);
                    s.Expect("TOP 1 0").Send(Multi("+OK", Msg("one")), 1);
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"three", "two", "one"}},
        Row{.name = "UidlGapsDeleteUsesPrintedNumber",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 3);
                    s.Expect("UIDL").Send(Multi("+OK", "4 a\r\n7 b\r\n9 c")).Expect("LIST");
                    s.Send(Multi("+OK", "4 10\r\n7 10\r\n9 10"));
                    s.Expect("TOP 9 0").Send(Multi("+OK", Msg("spam")));
                    s.Expect("DELE 9").Send("+OK\r\n");
                    s.Expect("TOP 7 0").Send(Multi("+OK", Msg("b")));
                    s.Expect("TOP 4 0").Send(Multi("+OK", Msg("a")));
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"b", "a"},
            .sentInOrder = {"TOP 9 0", "DELE 9", "TOP 7 0", "TOP 4 0", "QUIT"},
            .neverSent = {"DELE 3"},
            .deleteSubject = "spam"},
        Row{.name = "HostileUidlLinesSkipped",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 4);
                    s.Expect("UIDL").Send(Multi("+OK", "1 ok\r\nx bad\r\n2\r\n3 ok\r\n0 zero"));
                    s.Expect("LIST").Send(Multi("+OK", "1 10"));
                    s.Expect("TOP 1 0").Send(Multi("+OK", Msg("first")));
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"first"},
            .neverSent = {"TOP 2", "TOP 3", "TOP 0"}},
        Row{.name = "EofMidReply",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 2);
                    s.Expect("UIDL").Send(Multi("+OK", "1 a\r\n2 b")).Expect("LIST");
                    s.Send(Multi("+OK", "1 10\r\n2 10"));
                    s.Expect("TOP 2 0").Send(Multi("+OK", Msg("kept")));
                    s.Expect("TOP 1 0").Send("+OK\r\nFrom: x\r\nSubj").Close();
                },
            .want = kCheckFailed,
            .subjects = {"kept"}},
        Row{.name = "ResetMidReply",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 1);
                    s.Expect("UIDL").Send(Multi("+OK", "1 a")).Expect("LIST");
                    s.Send(Multi("+OK", "1 10")).Expect("TOP 1 0").Send("+OK\r\nSubj").Reset();
                },
            .want = kCheckFailed},
        Row{.name = "GreetingNeverComes",
            .proto = Proto::Pop3,
            .script = [](ScriptedServer& s) { s.Silence(ms(1500)); },
            .want = kCheckCannotConnect,
            .neverSent = {"USER", "CAPA"},
            .timeoutSeconds = 1,
            .scriptCompletes = false,
            .says = "no greeting within 1 s"},
        Row{.name = "GreetingDripsAByteASecond",
            .proto = Proto::Pop3,
            .script = [](ScriptedServer& s) { s.Send("+OK ready\r\n", 1, ms(1000)); },
            .want = kCheckFailed,
            .neverSent = {"CAPA", "USER"},
            .timeoutSeconds = 1,
            .scriptCompletes = false,
            .says = "the server is too slow",
            .within = ms(3000)},
        Row{.name = "StatusLineDrips",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Send(Multi("+OK", "USER"));
                    s.Expect("USER ann").Send("+OK keep waiting\r\n", 1, ms(200));
                },
            .want = kCheckFailed,
            .sentInOrder = {"USER"},
            .neverSent = {"PASS"},
            .timeoutSeconds = 1,
            .scriptCompletes = false,
            .says = "the server is too slow",
            .within = ms(3000)},
        Row{.name = "TopDripsBelowTheFloor",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 1);
                    s.Expect("UIDL").Send(Multi("+OK", "1 a")).Expect("LIST");
                    s.Send(Multi("+OK", "1 9000"));
                    s.Expect("TOP 1 0").Send(Multi("+OK", Padded("drip", 8000)), 20, ms(200));
                },
            .want = kCheckFailed,
            .timeoutSeconds = 1,
            .scriptCompletes = false,
            .says = "the server is too slow",
            .within = ms(3000)},
        Row{.name = "SlowButSteadyTransfer",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 1);
                    s.Expect("UIDL")
                        .Send(Multi("+OK", "1 a"))
                        .Expect("LIST")
                        .Send(Multi("+OK", "1 9"));
                    // 4 KiB a second for two seconds: four times the floor.
                    s.Expect("TOP 1 0").Send(Multi("+OK", Padded("steady", 8000)), 400, ms(100));
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"steady"},
            .timeoutSeconds = 1},
        Row{.name = "Reply20MB",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    Pop3Login(s, 1);
                    s.Expect("UIDL")
                        .Send(Multi("+OK", "1 a"))
                        .Expect("LIST")
                        .Send(Multi("+OK", "1 9"));
                    std::string huge = "+OK\r\nSubject: big\r\n\r\n";
                    std::string line(998, 'x');
                    line += "\r\n";
                    while (huge.size() < (20u << 20))
                        huge += line;
                    s.Expect("TOP 1 0").Send(huge + ".\r\n");
                },
            .want = kCheckFailed,
            .scriptCompletes = false},
        Row{.name = "StlsMissingWhileRequired",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Send(Multi("+OK", "USER\r\nUIDL"));
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckCannotConnect,
            .sentInOrder = {"CAPA"},
            .neverSent = {"USER", "PASS"},
            .security = "STARTTLS",
            .says = "the server does not offer STARTTLS (STLS)"},
        Row{.name = "InjectionAfterStls",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Send(Multi("+OK", "STLS\r\nUSER"));
                    s.Expect("STLS").Send("+OK begin TLS\r\n+OK injected\r\n");
                },
            .want = kCheckCannotConnect,
            .sentInOrder = {"STLS"},
            .neverSent = {"USER", "PASS"},
            .scriptCompletes = false,
            .says = "plain text after agreeing to start TLS"},
        Row{.name = "LineBreakInPasswordSendsNothing",
            .proto = Proto::Pop3,
            .script = [](ScriptedServer&) {},
            .want = kCheckLoginRefused,
            .neverSent = {"USER", "PASS", "CAPA"},
            .password = "se\r\nDELE 1",
            .scriptCompletes = false},
        Row{.name = "WrongPasswordSendsQuit",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Send("-ERR no CAPA\r\n");
                    s.Expect("USER ann").Send("+OK\r\n").Expect("PASS").Send("-ERR [AUTH] bad\r\n");
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckLoginRefused,
            .sentInOrder = {"PASS", "QUIT"}},
        Row{.name = "CapaAskedAgainAfterStls",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Send(Multi("+OK", "STLS\r\nX-PRE"));
                    s.Expect("STLS").Send("+OK go\r\n");
                    s.StartTls(TestCa().cert.certFile, TestCa().cert.keyFile);
                    s.Expect("CAPA").Send(Multi("+OK", "USER"));
                    s.Expect("USER ann").Send("+OK\r\n").Expect("PASS secret").Send("+OK\r\n");
                    s.Expect("NOOP").Send("+OK\r\n").Expect("STAT").Send("+OK 0 0\r\n");
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckDone,
            .sentInOrder = {"CAPA", "STLS", "CAPA", "USER", "PASS", "QUIT"},
            .security = "STARTTLS"},
        Row{.name = "StlsRefusedWhileRequired",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Send(Multi("+OK", "STLS"));
                    s.Expect("STLS").Send("-ERR not now\r\n").Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckCannotConnect,
            .neverSent = {"USER", "PASS"},
            .security = "STARTTLS",
            .says = "the server refused STARTTLS (STLS), replying \"-ERR not now\""},
        // The server is known from the last check: the first commands go out together. Each
        // script expects the whole burst before it answers, so a client that waited between
        // two of them would stall the script.
        Row{.name = "RememberedPipeliningOneBurst",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Expect("USER ann");
                    s.Expect("PASS secret").Expect("STAT").Expect("UIDL");
                    s.Send(Multi("+OK", "PIPELINING\r\nUSER") + "+OK\r\n+OK\r\n+OK 2 20\r\n" +
                           Multi("+OK", "1 a\r\n2 b"));
                    s.Expect("LIST").Expect("TOP 2 0").Expect("TOP 1 0").Expect("QUIT");
                    s.Send(Multi("+OK", "1 10\r\n2 10") + Multi("+OK", Msg("b")) +
                           Multi("+OK", Msg("a")) + "+OK bye\r\n");
                },
            .want = kCheckDone,
            .subjects = {"b", "a"},
            .neverSent = {"NOOP"},
            .security = "None",
            .remembered = {"PIPELINING", "USER"},
            .learned = {"PIPELINING", "USER"}},
        Row{.name = "RememberedPipeliningGoneOneAtATime",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Expect("USER").Expect("PASS");
                    s.Expect("STAT").Expect("UIDL");
                    s.Send(Multi("+OK", "USER") + "+OK\r\n+OK\r\n+OK 1 9\r\n" +
                           Multi("+OK", "1 a"));
                    s.Expect("LIST").Send(Multi("+OK", "1 9"));
                    s.Expect("TOP 1 0").Send(Multi("+OK", Msg("a")));
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"a"},
            .security = "None",
            .remembered = {"PIPELINING", "USER"},
            .learned = {"USER"}},
        Row{.name = "RememberedStlsNoCapaBeforeTls",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("STLS").Send("+OK go\r\n");
                    s.StartTls(TestCa().cert.certFile, TestCa().cert.keyFile);
                    s.Expect("CAPA").Expect("USER ann").Expect("PASS secret").Expect("STAT");
                    s.Expect("UIDL");
                    s.Send(Multi("+OK", "PIPELINING") + "+OK\r\n+OK\r\n+OK 0 0\r\n" +
                           Multi("+OK", ""));
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckDone,
            .sentInOrder = {"STLS", "CAPA", "USER", "PASS", "QUIT"},
            .security = "STARTTLS",
            .remembered = {"PIPELINING", "STLS"},
            .learned = {"PIPELINING", "STLS"}},
        Row{.name = "RememberedStlsRefusedWhileRequired",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("STLS").Send("-ERR not today\r\n");
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckCannotConnect,
            .neverSent = {"USER", "PASS", "CAPA"},
            .security = "STARTTLS",
            .remembered = {"PIPELINING", "STLS"}},
        Row{.name = "InjectionAfterRememberedStls",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("STLS").Send("+OK go\r\n+OK injected\r\n");
                },
            .want = kCheckCannotConnect,
            .neverSent = {"USER", "PASS"},
            .remembered = {"PIPELINING", "STLS"},
            .scriptCompletes = false},
        // Remembered without STLS, but the server offers it now: the live CAPA comes before
        // any credential, so they still go through TLS.
        Row{.name = "RememberedWithoutStlsStillAsksFirst",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Send(Multi("+OK", "STLS\r\nPIPELINING"));
                    s.Expect("STLS").Send("+OK go\r\n");
                    s.StartTls(TestCa().cert.certFile, TestCa().cert.keyFile);
                    s.Expect("CAPA").Expect("USER").Expect("PASS").Expect("STAT").Expect("UIDL");
                    s.Send(Multi("+OK", "PIPELINING") + "+OK\r\n+OK\r\n+OK 0 0\r\n" +
                           Multi("+OK", ""));
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckDone,
            .sentInOrder = {"CAPA", "STLS", "CAPA", "USER"},
            .remembered = {"PIPELINING", "USER"},
            .learned = {"PIPELINING", "STLS"}},
        // DELE is committed only by QUIT's +OK: a -ERR there fails the check.
        Row{.name = "DeletionNotCommittedFails",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Expect("USER").Expect("PASS");
                    s.Expect("STAT").Expect("UIDL");
                    s.Send(Multi("+OK", "PIPELINING") + "+OK\r\n+OK\r\n+OK 1 9\r\n" +
                           Multi("+OK", "1 a"));
                    s.Expect("LIST").Expect("TOP 1 0");
                    s.Send(Multi("+OK", "1 9") + Multi("+OK", Msg("spam")));
                    s.Expect("DELE 1").Expect("QUIT").Send(
                        "+OK\r\n-ERR some deleted messages not removed\r\n");
                },
            .want = kCheckFailed,
            .sentInOrder = {"TOP 1 0", "DELE 1", "QUIT"},
            .security = "None",
            .deleteSubject = "spam",
            .remembered = {"PIPELINING"}},
        // QUIT went out with the last TOP, but that TOP is never answered: still a time-out.
        Row{.name = "EarlyQuitLastTopUnanswered",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK ready\r\n").Expect("CAPA").Expect("USER").Expect("PASS");
                    s.Expect("STAT").Expect("UIDL");
                    s.Send(Multi("+OK", "PIPELINING") + "+OK\r\n+OK\r\n+OK 1 9\r\n" +
                           Multi("+OK", "1 a"));
                    s.Expect("LIST").Expect("TOP 1 0").Expect("QUIT");
                    s.Send(Multi("+OK", "1 9") + "+OK\r\nSubject: cut\r\n").Silence(ms(1500));
                },
            .want = kCheckFailed,
            .security = "None",
            .timeoutSeconds = 1,
            .remembered = {"PIPELINING"},
            .scriptCompletes = false}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

const std::string kUids3 = "* SEARCH 9 5 6\r\n";

std::string Fetched(int seq, int uid, const std::string& message)
{
    std::size_t split = message.find("\r\n\r\n") + 4;
    return "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " RFC822.SIZE " +
           std::to_string(message.size()) + " BODY[HEADER] " + Literal(message.substr(0, split)) +
           ")\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Imap, ScriptedClients,
    testing::Values(
        Row{.name = "NewestFirstWithStrayTaggedNo",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] ready\r\n");
                    s.Expect("A001 LOGIN").Send("A004 NO stray\r\nA001 OK in\r\n");
                    ImapSelect(s, kUids3, 3);
                    s.Expect("A007 UID FETCH 5:6,9 (UID RFC822.SIZE BODY.PEEK[HEADER])");
                    s.Send(Fetched(1, 5, Msg("five")) + Fetched(2, 6, Msg("A007 NO six")) +
                           Fetched(3, 9, Msg("nine")) + "A007 OK done\r\n");
                    s.Expect("A088 LOGOUT").Send("* BYE\r\nA088 OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"nine", "A007 NO six", "five"}},
        Row{.name = "OneByteChunks",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s, "IMAP4rev1", 1);
                    ImapSelect(s, "* SEARCH 7\r\n", 1, 1);
                    s.Expect("A007 UID FETCH 7 (UID RFC822.SIZE BODY.PEEK[HEADER] "
                             "BODY.PEEK[TEXT]<0.2048>)");
                    s.Send("* 1 FETCH (UID 7 BODY[HEADER] " + Literal("Subject: chunked\r\n\r\n") +
                               " BODY[TEXT]<0> " + Literal("body\r\n") + ")\r\nA007 OK\r\n",
                           1);
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"chunked"},
            .preview = 2},
        Row{.name = "PreauthWhileTlsRequired",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* PREAUTH [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n");
                },
            .want = kCheckCannotConnect,
            .neverSent = {"A001", "A004", "A002"},
            .security = "STARTTLS",
            .scriptCompletes = false,
            .says = "the server skipped log-in without TLS"},
        Row{.name = "StartTlsMissingWhileRequired",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckCannotConnect,
            .neverSent = {"A001"},
            .security = "STARTTLS",
            .says = "the server does not offer STARTTLS and the account requires TLS"},
        Row{.name = "InjectionAfterStartTls",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n").Expect("A002 STARTTLS");
                    s.Send("A002 OK begin\r\n* OK [CAPABILITY IMAP4rev1] injected\r\n");
                },
            .want = kCheckCannotConnect,
            .sentInOrder = {"A002 STARTTLS"},
            .neverSent = {"A001"},
            .scriptCompletes = false},
        // Read state: a stored message the server's whole list leaves out is gone; a list
        // shorter than the server's own count removes nothing.
        Row{.name = "StoredMessageGoneFromAWholeList",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelect(s, "* SEARCH 5 6\r\n", 2);
                    s.Expect("A010 UID SEARCH SEEN").Send("* SEARCH 6\r\nA010 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .stored = {"4", "5", "6"},
            .serverSeen = "6 ",
            .serverGone = "4 "},
        // UIDVALIDITY: unknown or unchanged, read state is followed as ever; once the server
        // renumbered its mailbox, the stored UIDs mean nothing: no read state by them, no
        // fetch, and all that is there now is taken as seen, a known UID too (5: its message
        // is another now, the list it goes to replaces the old one).
        Row{.name = "UidValidityUnknownIsTold",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelectValidity(s, "* SEARCH 5 6\r\n", 2, 7);
                    s.Expect("A010 UID SEARCH SEEN").Send("* SEARCH 6\r\nA010 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .stored = {"4", "5", "6"},
            .serverSeen = "6 ",
            .serverGone = "4 ",
            .validityFound = 7},
        Row{.name = "UidValiditySameFollowsReadState",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelectValidity(s, "* SEARCH 5 6 8\r\n", 3, 7);
                    s.Expect("A010 UID SEARCH SEEN").Send("* SEARCH 6\r\nA010 OK\r\n");
                    s.Expect("A007 UID FETCH 8 ").Send(Fetched(3, 8, Msg("new")) + "A007 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"new"},
            .stored = {"4", "5", "6"},
            .serverSeen = "6 ",
            .serverGone = "4 ",
            .validity = 7,
            .validityFound = 7},
        Row{.name = "UidValidityChangedTakesTheMailboxAsSeen",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelectValidity(s, "* SEARCH 1 2 5\r\n", 3, 9);
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .neverSent = {"A010", "A007", "A011", "A012"},
            .stored = {"4", "5", "6"},
            .validity = 7,
            .validityFound = 9,
            .renumbered = "1 2 5 "},
        Row{.name = "ShortListRemovesNothing",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelect(s, "* SEARCH\r\n", 3);
                    s.Expect("A010 UID SEARCH SEEN").Send("* SEARCH\r\nA010 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .stored = {"4", "5", "6"}},
        Row{.name = "ExpungeDuringTheSearchKeepsTheListWhole",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelect(s, "* 1 EXPUNGE\r\n* SEARCH 5 6\r\n", 3);
                    s.Expect("A010 UID SEARCH SEEN").Send("* SEARCH\r\nA010 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .stored = {"4", "5", "6"},
            .serverGone = "4 "},
        Row{.name = "UidSetFromServerNeverStored",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelect(s, "* SEARCH 1:* 8 x\r\n", 2);
                    s.Expect("A007 UID FETCH 8 ").Send(Fetched(2, 8, Msg("spam")) + "A007 OK\r\n");
                    s.Expect("A012 UID STORE 8 +FLAGS (\\Deleted)").Send("A012 OK\r\n");
                    s.Expect("A014 UID EXPUNGE 8").Send("* 2 EXPUNGE\r\nA014 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .sentInOrder = {"A012 UID STORE 8", "A014 UID EXPUNGE 8"},
            .neverSent = {"A013", "A007 UID FETCH 1:*"},
            .deleteSubject = "spam"},
        Row{.name = "ExpungeWithoutUidPlus",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s, "IMAP4rev1");
                    ImapSelect(s, "* SEARCH 3\r\n", 1);
                    s.Expect("A007 UID FETCH 3 ").Send(Fetched(1, 3, Msg("spam")) + "A007 OK\r\n");
                    s.Expect("A012 UID STORE 3").Send("A012 OK\r\n");
                    s.Expect("A013 EXPUNGE").Send("A013 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .neverSent = {"A014"},
            .deleteSubject = "spam"},
        Row{.name = "LoginDisabledUsesAuthenticatePlain",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=PLAIN] hi\r\n");
                    s.Expect("A001 AUTHENTICATE PLAIN").Send("+ \r\n");
                    s.Expect("AGFubgBzZWNyZXQ=").Send("A001 OK in\r\n");
                    s.Expect("A004 SELECT").Send("* 0 EXISTS\r\nA004 OK\r\n");
                    s.Expect("A008 UID SEARCH").Send("* SEARCH\r\nA008 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .neverSent = {"A001 LOGIN"}},
        // OAuth 2.0 bearer tokens: the initial response after the continuation when the
        // server lacks SASL-IR, and a refused token's error continuation acknowledged.
        Row{.name = "BearerTokenWithoutSaslIr",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] hi\r\n");
                    s.Expect("A001 AUTHENTICATE XOAUTH2").Send("+ \r\n");
                    s.Expect("dXNlcj1hbm4BYXV0aD1CZWFyZXIgc2VjcmV0AQE=").Send("A001 OK in\r\n");
                    s.Expect("A004 SELECT").Send("* 0 EXISTS\r\nA004 OK\r\n");
                    s.Expect("A008 UID SEARCH").Send("* SEARCH\r\nA008 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .neverSent = {"A001 LOGIN"},
            .sasl = "XOAUTH2"},
        Row{.name = "BearerTokenRefusedImap",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=OAUTHBEARER] hi\r\n");
                    s.Expect("A001 AUTHENTICATE OAUTHBEARER bixhPWFubiwBaG9zdD0xMjcuMC4wLjEB")
                        .Send("+ eyJzdGF0dXMiOiI0MDEifQ==\r\n");
                    s.Expect("AQ==").Send("A001 NO [AUTHENTICATIONFAILED] bad token\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckLoginRefused,
            .neverSent = {"A004"},
            .says = "bad token",
            .sasl = "OAUTHBEARER"},
        Row{.name = "BearerTokenRefusedPop3",
            .proto = Proto::Pop3,
            .script =
                [](ScriptedServer& s) {
                    s.Send("+OK hi\r\n").Expect("CAPA").Send(Multi("+OK", "SASL XOAUTH2"));
                    s.Expect("AUTH XOAUTH2 dXNlcj1hbm4BYXV0aD1CZWFyZXIgc2VjcmV0AQE=")
                        .Send("+ eyJzdGF0dXMiOiI0MDEifQ==\r\n");
                    s.Expect("").Send("-ERR [AUTH] bad token\r\n");
                    s.Expect("QUIT").Send("+OK\r\n");
                },
            .want = kCheckLoginRefused,
            .neverSent = {"USER", "PASS", "STAT"},
            .says = "bad token",
            .sasl = "XOAUTH2"},
        Row{.name = "QuotedPassword",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n");
                    s.Expect("A001 LOGIN \"ann\" \"p w\\\"q\\\\\"").Send("A001 OK\r\n");
                    s.Expect("A004 SELECT").Send("* 0 EXISTS\r\nA004 OK\r\n");
                    s.Expect("A008 UID SEARCH").Send("* SEARCH\r\nA008 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .password = "p w\"q\\"},
        Row{.name = "EightBitPasswordAsLiteral",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n");
                    s.Expect("A001 LOGIN \"ann\" {7}").Send("+ go\r\n");
                    s.Expect("p\xc3\xa4sswd").Send("A001 OK\r\n");
                    s.Expect("A004 SELECT").Send("* 0 EXISTS\r\nA004 OK\r\n");
                    s.Expect("A008 UID SEARCH").Send("* SEARCH\r\nA008 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .password = "p\xc3\xa4sswd"},
        Row{.name = "WrongPasswordSendsLogout",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n");
                    s.Expect("A001 LOGIN").Send("A001 NO [AUTHENTICATIONFAILED] bad\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckLoginRefused,
            .sentInOrder = {"A001 LOGIN", "A088 LOGOUT"},
            .neverSent = {"A004"}},
        Row{.name = "LineBreakInPasswordSendsNothing",
            .proto = Proto::Imap,
            .script = [](ScriptedServer&) {},
            .want = kCheckLoginRefused,
            .neverSent = {"A001"},
            .password = "x\nA9 LOGOUT",
            .scriptCompletes = false},
        Row{.name = "EofInsideLiteral",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelect(s, "* SEARCH 3\r\n", 1);
                    s.Expect("A007 UID FETCH");
                    s.Send("* 1 FETCH (UID 3 BODY[HEADER] {100}\r\nSubject: cut").Close();
                },
            .want = kCheckFailed,
            .scriptCompletes = false},
        Row{.name = "FetchRefused",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelect(s, "* SEARCH 3\r\n", 1);
                    s.Expect("A007 UID FETCH").Send("A007 NO no such message\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckFailed,
            .sentInOrder = {"A088 LOGOUT"}},
        Row{.name = "AlertAndCapabilitiesBeforeTlsDiscarded",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] hi\r\n");
                    s.Expect("A002 STARTTLS").Send("* OK [ALERT] plain text\r\nA002 OK go\r\n");
                    s.StartTls(TestCa().cert.certFile, TestCa().cert.keyFile);
                    s.Expect("A000 CAPABILITY").Send("* CAPABILITY IMAP4rev1\r\nA000 OK\r\n");
                    s.Expect("A001 LOGIN \"ann\" \"secret\"").Send("A001 OK\r\n");
                    s.Expect("A004 SELECT").Send("* 0 EXISTS\r\nA004 OK\r\n");
                    s.Expect("A008 UID SEARCH").Send("* SEARCH\r\nA008 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .neverSent = {"A001 AUTHENTICATE"},
            .security = "STARTTLS"},
        Row{.name = "StartTlsRefusedWhileRequired",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n");
                    s.Expect("A002 STARTTLS").Send("A002 NO not now\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckCannotConnect,
            .neverSent = {"A001"},
            .security = "STARTTLS",
            .says = "the server refused STARTTLS, replying \"A002 NO not now\""},
        Row{.name = "GreetingNeverComes",
            .proto = Proto::Imap,
            .script = [](ScriptedServer& s) { s.Silence(ms(1500)); },
            .want = kCheckCannotConnect,
            .neverSent = {"A001", "A000"},
            .timeoutSeconds = 1,
            .scriptCompletes = false,
            .says = "no greeting within 1 s"},
        Row{.name = "GreetingDripsAByteASecond",
            .proto = Proto::Imap,
            .script = [](ScriptedServer& s) { s.Send("* OK ready\r\n", 1, ms(1000)); },
            .want = kCheckFailed,
            .neverSent = {"A001", "A000"},
            .timeoutSeconds = 1,
            .scriptCompletes = false,
            .says = "the server is too slow",
            .within = ms(3000)},
        Row{.name = "TaggedReplyDrips",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n");
                    s.Expect("A001 LOGIN").Send("A001 OK logged in at last\r\n", 1, ms(200));
                },
            .want = kCheckFailed,
            .neverSent = {"A004"},
            .timeoutSeconds = 1,
            .scriptCompletes = false,
            .says = "the server is too slow",
            .within = ms(3000)},
        Row{.name = "FetchDripsBelowTheFloor",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelect(s, "* SEARCH 7\r\n", 1);
                    s.Expect("A007 UID FETCH 7 ");
                    s.Send(Fetched(1, 7, Padded("drip", 8000)) + "A007 OK\r\n", 20, ms(200));
                },
            .want = kCheckFailed,
            .timeoutSeconds = 1,
            .scriptCompletes = false,
            .says = "the server is too slow",
            .within = ms(3000)},
        Row{.name = "SlowButSteadyFetch",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    ImapLogin(s);
                    ImapSelect(s, "* SEARCH 7\r\n", 1);
                    s.Expect("A007 UID FETCH 7 ");
                    // 4 KiB a second for two seconds: four times the floor.
                    s.Send(Fetched(1, 7, Padded("steady", 8000)) + "A007 OK\r\n", 400, ms(100));
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"steady"},
            .timeoutSeconds = 1},
        Row{.name = "RememberedLoginSelectSearchOneBurst",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK hi\r\n").Expect("A000 CAPABILITY").Expect("A001 LOGIN");
                    s.Expect("A004 SELECT INBOX").Expect("A008 UID SEARCH ALL");
                    s.Send("* CAPABILITY IMAP4rev1\r\nA000 OK\r\nA001 OK in\r\n"
                           "* 1 EXISTS\r\nA004 OK\r\n* SEARCH 4\r\nA008 OK\r\n");
                    s.Expect("A007 UID FETCH 4 ").Expect("A088 LOGOUT");
                    s.Send(Fetched(1, 4, Msg("four")) + "A007 OK\r\nA088 OK\r\n");
                },
            .want = kCheckDone,
            .subjects = {"four"},
            .security = "None",
            .remembered = {"IMAP4REV1"},
            .learned = {"IMAP4REV1"}},
        Row{.name = "RememberedStartTlsNoCapabilityBeforeTls",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK hi\r\n").Expect("A002 STARTTLS").Send("A002 OK go\r\n");
                    s.StartTls(TestCa().cert.certFile, TestCa().cert.keyFile);
                    s.Expect("A000 CAPABILITY").Expect("A001 LOGIN \"ann\"").Expect("A004 SELECT");
                    s.Expect("A008 UID SEARCH");
                    s.Send("* CAPABILITY IMAP4rev1\r\nA000 OK\r\nA001 OK\r\n* 0 EXISTS\r\n"
                           "A004 OK\r\n* SEARCH\r\nA008 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .security = "STARTTLS",
            .remembered = {"IMAP4REV1", "STARTTLS"},
            .learned = {"IMAP4REV1", "STARTTLS"}},
        Row{.name = "RememberedStartTlsRefusedWhileRequired",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK hi\r\n").Expect("A002 STARTTLS").Send("A002 NO not now\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckCannotConnect,
            .neverSent = {"A001", "A000"},
            .security = "STARTTLS",
            .remembered = {"IMAP4REV1", "STARTTLS"}},
        // The greeting's live list says STARTTLS is gone: the memory does not override it.
        Row{.name = "LiveGreetingWinsOverRememberedStartTls",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckCannotConnect,
            .neverSent = {"A001", "A002"},
            .security = "STARTTLS",
            .remembered = {"IMAP4REV1", "STARTTLS"}},
        // LOGIN was remembered, but the server now wants AUTHENTICATE: refused in the burst,
        // then logged in one step at a time.
        Row{.name = "RememberedLoginStaleTriesAgain",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK hi\r\n").Expect("A000 CAPABILITY").Expect("A001 LOGIN");
                    s.Expect("A004 SELECT").Expect("A008 UID SEARCH");
                    s.Send("* CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=PLAIN\r\nA000 OK\r\n"
                           "A001 NO disabled\r\nA004 BAD not now\r\nA008 BAD not now\r\n");
                    s.Expect("A001 AUTHENTICATE PLAIN").Send("+ \r\n");
                    s.Expect("AGFubgBzZWNyZXQ=").Send("A001 OK in\r\n");
                    s.Expect("A004 SELECT").Send("* 0 EXISTS\r\nA004 OK\r\n");
                    s.Expect("A008 UID SEARCH").Send("* SEARCH\r\nA008 OK\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckDone,
            .security = "None",
            .remembered = {"IMAP4REV1"},
            .learned = {"AUTH=PLAIN", "IMAP4REV1", "LOGINDISABLED"}},
        Row{.name = "RememberedWrongPassword",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n").Expect("A001 LOGIN");
                    s.Expect("A004 SELECT").Expect("A008 UID SEARCH");
                    s.Send("A001 NO [AUTHENTICATIONFAILED] bad\r\nA004 BAD\r\nA008 BAD\r\n");
                    s.Expect("A088 LOGOUT").Send("A088 OK\r\n");
                },
            .want = kCheckLoginRefused,
            .sentInOrder = {"A001 LOGIN", "A088 LOGOUT"},
            .remembered = {"IMAP4REV1"}},
        Row{.name = "EarlyLogoutFetchUnanswered",
            .proto = Proto::Imap,
            .script =
                [](ScriptedServer& s) {
                    s.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n").Expect("A001 LOGIN");
                    s.Expect("A004 SELECT").Expect("A008 UID SEARCH");
                    s.Send("A001 OK\r\n* 1 EXISTS\r\nA004 OK\r\n* SEARCH 4\r\nA008 OK\r\n");
                    s.Expect("A007 UID FETCH").Expect("A088 LOGOUT").Silence(ms(1500));
                },
            .want = kCheckFailed,
            .timeoutSeconds = 1,
            .remembered = {"IMAP4REV1"},
            .scriptCompletes = false}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

} // namespace
