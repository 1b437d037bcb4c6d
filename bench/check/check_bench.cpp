// The check of a large mailbox over a link with delay: our POP3 and IMAP4 clients against a
// simple pipelining client that trusts the server (the reference) and a client that sends one
// command at a time, at 0 and 50 ms round trip, with the round trips of every check. See
// README.md.
//
// A private Dovecot (the test fixture) gets a generated mailbox; a delaying proxy
// (latencyproxy.py) sits in front of it and counts the round trips of each connection; the
// reference is pipelined.py, the one-command-at-a-time client onebyone.py.

#include "dovecotfixture.h"
#include "imap4client.h"
#include "pop3client.h"
#include "tempdir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{

using Clock = std::chrono::steady_clock;

const std::string kScripts = BENCH_CHECK_DIR;

class CountingSink : public CheckSink
{
public:
    void DeliverMessage(int, const MessageRecord& record) override { uids.push_back(record.uid); }
    std::vector<std::string> uids;
};

std::string Message(int i)
{
    std::string m = "Return-Path: <list-" + std::to_string(i % 17) + "@lists.example.org>\r\n";
    for (int hop = 0; hop < 6; ++hop)
        m += "Received: from relay" + std::to_string(hop) +
             ".example.net (relay.example.net [192.0.2." + std::to_string(hop + 1) +
             "])\r\n\tby mx.example.org with ESMTPS id " + std::to_string(i * 7 + hop) +
             "\r\n\tfor <alice@example.org>; Mon, 7 Dec 2026 09:30:00 +0000\r\n";
    m += "DKIM-Signature: v=1; a=rsa-sha256; d=example.net; s=sel; h=from:to:subject:date;\r\n"
         "\tbh=" +
         std::string(44, 'b') + ";\r\n\tb=" + std::string(340, 's') + "\r\n";
    m += "From: Sender " + std::to_string(i % 31) + " <sender" + std::to_string(i % 31) +
         "@example.net>\r\nTo: alice@example.org\r\nSubject: =?utf-8?q?Report_n=C2=B0_" +
         std::to_string(i) + "?=\r\nDate: Mon, 7 Dec 2026 09:30:00 +0000\r\nMessage-ID: <" +
         std::to_string(i) +
         "@example.net>\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n\r\n";
    for (int line = 0; line < 40; ++line)
        m += "Line " + std::to_string(line) + " of message " + std::to_string(i) +
             ": the quick brown fox jumps over the lazy dog.\r\n";
    return m;
}

struct Proxy {
    pid_t pid = -1;
    int pop3 = 0;
    int imap = 0;
    FILE* out = nullptr; // the proxy's reports: "TRIPS <n>" as each connection ends
};

// The round trips of the connection that ended last; -1 when the proxy said nothing.
int NextTrips(Proxy& p)
{
    char line[256];
    while (p.out != nullptr && std::fgets(line, sizeof line, p.out) != nullptr) {
        int trips = 0;
        if (std::sscanf(line, "TRIPS %d", &trips) == 1)
            return trips;
    }
    return -1;
}

Proxy StartProxy(int rttMs, int pop3, int imap)
{
    Proxy p;
    int fds[2];
    if (::pipe(fds) != 0)
        return p;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string script = kScripts + "/latencyproxy.py";
    std::string rtt = std::to_string(rttMs);
    std::string a = std::to_string(pop3);
    std::string b = std::to_string(imap);
    char* argv[] = {const_cast<char*>("/usr/bin/python3"),
                    script.data(),
                    rtt.data(),
                    a.data(),
                    b.data(),
                    nullptr};
    if (posix_spawn(&p.pid, "/usr/bin/python3", &actions, nullptr, argv, environ) != 0)
        p.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    FILE* out = ::fdopen(fds[0], "r");
    char line[256];
    while (out != nullptr && std::fgets(line, sizeof line, out) != nullptr) {
        int up = 0;
        int port = 0;
        if (std::sscanf(line, "LISTEN %d %d", &up, &port) == 2)
            (up == pop3 ? p.pop3 : p.imap) = port;
        if (std::string(line).rfind("READY", 0) == 0)
            break;
    }
    p.out = out;
    return p;
}

void StopProxy(Proxy& p)
{
    if (p.pid > 0) {
        ::kill(p.pid, SIGTERM);
        ::waitpid(p.pid, nullptr, 0);
    }
    if (p.out != nullptr)
        std::fclose(p.out);
    p.out = nullptr;
    p.pid = -1;
}

struct Run {
    double seconds = 0; // the median of the runs
    double best = 0;    // the fastest run
    std::size_t delivered = 0;
    int result = -1;
    int trips = -1; // round trips after the connect, as the proxy counted them
};

// One check by our client. `remembered` carries the server's capabilities from one check to
// the next, as the program keeps them.
Run Ours(bool imap, int port, const std::unordered_set<std::string>& known,
         const std::string& security, int preview, std::vector<std::string>& remembered,
         Proxy& proxy)
{
    CountingSink sink;
    auto keep = [](const std::string&, const std::string&) { return 0; };
    CheckRequest request;
    request.server = "127.0.0.1";
    request.port = port;
    request.security = security;
    request.userName = "alice";
    request.password = "alice-pass";
    request.knownUids = known;
    request.account = "bench";
    request.timeOutSeconds = 60;
    request.preview = preview;
    Run run;
    auto start = Clock::now();
    if (imap) {
        Imap4Client client;
        client.SetFilter(keep, false);
        client.RememberCapabilities(remembered);
        run.result = client.CheckImap4Account(sink, request).result;
        remembered = client.LearnedCapabilities();
    } else {
        Pop3Client client;
        client.SetFilter(keep, false);
        client.RememberCapabilities(remembered);
        run.result = client.CheckPop3Account(sink, request).result;
        remembered = client.LearnedCapabilities();
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.delivered = sink.uids.size();
    run.trips = NextTrips(proxy);
    return run;
}

Run Median(int times, const std::function<Run()>& f)
{
    std::vector<Run> runs;
    for (int i = 0; i < times; ++i)
        runs.push_back(f());
    std::sort(runs.begin(), runs.end(),
              [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
    Run median = runs[runs.size() / 2];
    median.best = runs.front().seconds;
    return median;
}

// A check by one of the Python clients (onebyone.py or pipelined.py).
Run Script(const char* script, const char* proto, int port, const std::string& knownFile,
           int preview, Proxy& proxy)
{
    std::string command = "/usr/bin/python3 " + kScripts + "/" + script + " " + proto + " " +
                          std::to_string(port) + " alice alice-pass " + knownFile + " " +
                          std::to_string(preview);
    Run run;
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr)
        return run;
    unsigned long delivered = 0;
    if (std::fscanf(out, "%lu %lf", &delivered, &run.seconds) == 2)
        run.result = 4;
    run.delivered = delivered;
    ::pclose(out);
    run.trips = run.result == 4 ? NextTrips(proxy) : -1;
    return run;
}

std::unordered_set<std::string> OldestHalf(const std::vector<std::string>& newestFirst,
                                           std::size_t fresh, const std::string& file)
{
    std::unordered_set<std::string> known;
    std::ofstream out(file);
    for (std::size_t i = fresh; i < newestFirst.size(); ++i) {
        known.insert(newestFirst[i]);
        out << newestFirst[i] << "\n";
    }
    return known;
}

} // namespace

int main(int argc, char** argv)
{
    const int total = 2000;
    const std::size_t fresh = 1000;
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const int pop3Preview = 99; // lines: the wizard's POP3 default
    const int imapPreview = 2;  // kilobytes: the wizard's IMAP4 default

    DovecotFixture dovecot;
    if (!dovecot.Start()) {
        std::fprintf(stderr, "cannot start Dovecot: %s\n", dovecot.Error().c_str());
        return 1;
    }
    ScopedEnv trust("SSL_CERT_FILE", dovecot.CaFile());
    for (int i = 0; i < total; ++i)
        dovecot.Deliver("alice", Message(i));

    // Learn the identifiers once, then call the older half known.
    auto keep = [](const std::string&, const std::string&) { return 0; };
    CheckRequest learn;
    learn.server = "127.0.0.1";
    learn.security = "None";
    learn.userName = "alice";
    learn.password = "alice-pass";
    learn.account = "bench";
    learn.timeOutSeconds = 60;
    CountingSink all;
    Pop3Client learnPop3;
    learnPop3.SetFilter(keep, false);
    learn.port = dovecot.Pop3Port();
    learnPop3.CheckPop3Account(all, learn);
    std::string pop3Known = dovecot.Dir() + "/known-pop3.txt";
    auto knownPop3 = OldestHalf(all.uids, fresh, pop3Known);
    CountingSink allImap;
    Imap4Client learnImap;
    learnImap.SetFilter(keep, false);
    learn.port = dovecot.ImapPort();
    learnImap.CheckImap4Account(allImap, learn);
    std::string imapKnown = dovecot.Dir() + "/known-imap.txt";
    auto knownImap = OldestHalf(allImap.uids, fresh, imapKnown);
    if (all.uids.size() != static_cast<std::size_t>(total) ||
        allImap.uids.size() != static_cast<std::size_t>(total)) {
        std::fprintf(stderr, "mailbox not as generated: %zu POP3, %zu IMAP messages\n",
                     all.uids.size(), allImap.uids.size());
        return 1;
    }

    std::printf("| RTT | client | protocol | new | round trips | seconds | x reference |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (int rtt : {0, 50}) {
        Proxy proxy = StartProxy(rtt, dovecot.Pop3Port(), dovecot.ImapPort());
        if (proxy.pid <= 0 || proxy.pop3 == 0 || proxy.imap == 0) {
            std::fprintf(stderr, "cannot start the proxy\n");
            return 1;
        }
        for (int imap = 0; imap < 2; ++imap) {
            const char* name = imap ? "IMAP4" : "POP3";
            const char* proto = imap ? "imap" : "pop3";
            int port = imap ? proxy.imap : proxy.pop3;
            const auto& known = imap ? knownImap : knownPop3;
            const std::string& knownFile = imap ? imapKnown : pop3Known;
            int preview = imap ? imapPreview : pop3Preview;

            Run reference = Median(
                5, [&] { return Script("pipelined.py", proto, port, knownFile, preview, proxy); });
            auto row = [&](const char* client, const Run& r) {
                std::printf("| %d ms | %s | %s | %zu | %d | %.3f | %.2f |\n", rtt, client, name,
                            r.delivered, r.trips, r.seconds, r.seconds / reference.seconds);
            };
            // The first check of an account knows nothing of its server; the next ones start
            // from what it learned.
            std::vector<std::string> plain;
            row("ours, first check", Ours(imap, port, known, "None", preview, plain, proxy));
            row("ours, plain",
                Median(5, [&] { return Ours(imap, port, known, "None", preview, plain, proxy); }));
            std::vector<std::string> tls;
            Ours(imap, port, known, "STARTTLS", preview, tls, proxy);
            row("ours, STARTTLS", Median(5, [&] {
                    return Ours(imap, port, known, "STARTTLS", preview, tls, proxy);
                }));
            row("pipelined reference", reference);
            if (!quick || rtt == 0)
                row("one at a time", Script("onebyone.py", proto, port, knownFile, preview, proxy));
            std::fflush(stdout);
        }
        StopProxy(proxy);
    }
    return 0;
}
