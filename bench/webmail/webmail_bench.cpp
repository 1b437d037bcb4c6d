// One HTTPMail check of 1 000 new messages in 3 folders over a link with delay: our client
// (connections kept, attachment probes on parallel connections) against the same client made
// to open a fresh connection per request and send one request at a time. See README.md.
#include "fakehttpmailserver.h"
#include "httpmailclient.h"
#include "tempdir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{

using Clock = std::chrono::steady_clock;

std::string Mailbox(int total)
{
    const char* names[] = {"inbox", "work", "lists"};
    const char* specials[] = {"inbox", "", ""};
    std::string json =
        R"({"user": "ann", "domain": "mail.test", "password": "s3cret", "folders": [)";
    int id = 0;
    for (int f = 0; f < 3; ++f) {
        json += std::string(f ? "," : "") + R"({"name": ")" + names[f] + R"(", "special": ")" +
                specials[f] + R"(", "messages": [)";
        const int n = total / 3 + (f < total % 3 ? 1 : 0);
        for (int i = 0; i < n; ++i, ++id) {
            json += std::string(i ? "," : "") + R"({"id": "MSG)" + std::to_string(100000 + id) +
                    R"(", "subject": "=?utf-8?q?Report_n=C2=B0_)" + std::to_string(id) +
                    R"(?=", "from": "Sender )" + std::to_string(id % 31) +
                    R"( <s@example.net>", "size": 4600})";
        }
        json += "]}";
    }
    json += R"(,{"name": "trash", "special": "deleteditems"}]})";
    return json;
}

struct Proxy {
    pid_t pid = -1;
    int port = 0;
    FILE* out = nullptr;
};

Proxy StartProxy(int rttMs, int upstream)
{
    Proxy p;
    int fds[2];
    if (::pipe(fds) != 0)
        return p;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string script = BENCH_PROXY;
    std::string rtt = std::to_string(rttMs);
    std::string up = std::to_string(upstream);
    char* argv[] = {const_cast<char*>("/usr/bin/python3"), script.data(), rtt.data(), up.data(),
                    nullptr};
    if (posix_spawn(&p.pid, argv[0], &actions, nullptr, argv, environ) != 0)
        p.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    FILE* out = ::fdopen(fds[0], "r");
    char line[256];
    while (out && std::fgets(line, sizeof line, out)) {
        int a = 0;
        int b = 0;
        if (std::sscanf(line, "LISTEN %d %d", &a, &b) == 2)
            p.port = b;
        if (std::string(line).rfind("READY", 0) == 0)
            break;
    }
    // Its "TRIPS" report per connection (a few kB for the whole run) stays unread in the pipe.
    p.out = out;
    return p;
}

void Stop(pid_t pid)
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

int32_t Count(void* ctx, uint32_t, const char* const*, uint32_t)
{
    ++*static_cast<int*>(ctx);
    return PW_SINK_HANDLED;
}

struct Run {
    double seconds = 0;
    int code = 0;
    int delivered = 0;
    uint64_t requests = 0;
    uint64_t connections = 0;
};

Run Check(const std::string& home, const std::string& account, int port, bool oneByOne)
{
    std::filesystem::create_directories(home + "/Mail/" + account);
    Run run;
    PwSink sink{&run.delivered, Count, nullptr, nullptr, nullptr};
    HotmailEndpoints endpoints{"http://127.0.0.1:" + std::to_string(port) +
                                   "/svcs/hotmail/httpmail.asp",
                               "mail.test", "http://schemas.mail.test/hm/"};
    HttpMailClient client(sink, account, "ann", "s3cret", 60, endpoints);
    client.SetOneConnectionPerRequest(oneByOne);
    int32_t count = 0;
    const auto start = Clock::now();
    run.code = client.Check(count);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.requests = client.Session().Requests();
    run.connections = client.Session().Connections();
    if (run.code != PW_WEBMAIL_SUCCESS)
        std::fprintf(stderr, "check failed: %s\n", client.Message().c_str());
    return run;
}

void Print(const char* name, const Run& r, double base)
{
    std::printf("%-44s %8.2f s  %5d new  %5llu requests  %5llu connections  %6.1f x\n", name,
                r.seconds, r.delivered, static_cast<unsigned long long>(r.requests),
                static_cast<unsigned long long>(r.connections), base / r.seconds);
}

} // namespace

int main(int argc, char** argv)
{
    const int total = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rtt = argc > 2 ? std::atoi(argv[2]) : 50;
    TempDir dir;
    ::setenv("POSTWATCH_HOME", dir.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    FakeHttpMailServer server;
    std::string why;
    if (!server.Start(dir.Path(), Mailbox(total), &why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    Proxy proxy = StartProxy(rtt, server.Port());
    if (proxy.port == 0) {
        std::fprintf(stderr, "the delaying proxy did not start\n");
        return 1;
    }
    std::printf("HTTPMail check, %d new messages in 3 folders, %d ms round trip\n", total, rtt);
    const Run direct = Check(dir.Path(), "direct", server.Port(), false);
    const Run ours = Check(dir.Path(), "ours", proxy.port, false);
    const Run single = Check(dir.Path(), "single", proxy.port, true);
    Print("ours, no delay", direct, single.seconds);
    Print("ours (kept connections, 8 parallel probes)", ours, single.seconds);
    Print("one fresh connection per request", single, single.seconds);
    Stop(proxy.pid);
    if (proxy.out)
        std::fclose(proxy.out);
    return ours.code == PW_WEBMAIL_SUCCESS && single.code == PW_WEBMAIL_SUCCESS ? 0 : 1;
}
