#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;

// A scripted mail server for the hostile cases a real server will not produce: it listens
// on 127.0.0.1 (or ::1) port 0, accepts one connection in a thread of its own, and plays a
// list of steps. It records every line the client sends (the transcript).
//
//     ScriptedServer server;
//     server.Send("+OK ready\r\n").Expect("USER ").Send("+OK\r\n", 1, 300ms).Close();
//     ASSERT_TRUE(server.Start());
//     ... connect to server.Port() ...
//     EXPECT_TRUE(server.Finish()) << server.Failure();
//
// After the last step the server keeps the connection open, recording what the client still
// sends, until the client closes it or the server is destroyed. Steps are added before
// Start(); the transcript and Failure() are safe to read from the test's thread.
class ScriptedServer
{
public:
    using ms = std::chrono::milliseconds;

    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Reads one line from the client; it must begin with `prefix` (empty: any line). A line
    // that does not match, or none within 5 s, fails the script and drops the connection.
    ScriptedServer& Expect(std::string prefix = {});
    // Sends `bytes`, in pieces of `chunk` bytes (0: at once) with `delay` after each piece.
    ScriptedServer& Send(std::string bytes, std::size_t chunk = 0, ms delay = ms(0));
    // Runs the server side of a TLS handshake with this certificate and key.
    ScriptedServer& StartTls(std::string certFile, std::string keyFile);
    // Says nothing for `duration` (the client may send; it is recorded later by Expect).
    ScriptedServer& Silence(ms duration);
    // Closes the connection in order (FIN).
    ScriptedServer& Close();
    // Resets the connection (RST, by SO_LINGER with time 0).
    ScriptedServer& Reset();

    // Binds, listens and starts the thread. False when the socket cannot be made (no IPv6).
    bool Start(bool ipv6 = false);
    int Port() const { return port_; }
    // Waits up to `timeout` for the steps to end; true when all ran without a mismatch.
    bool Finish(ms timeout = ms(10000));
    std::vector<std::string> Transcript() const;
    std::string Failure() const;

private:
    struct Step {
        enum Kind { kExpect, kSend, kStartTls, kSilence, kClose, kReset } kind;
        std::string text; // prefix, bytes or certificate file
        std::string key;  // key file
        std::size_t chunk = 0;
        ms delay{0};
    };

    void Run();
    bool RunStep(const Step& step);
    bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline);
    bool Write(const char* data, std::size_t size);
    bool Pause(ms duration);
    void Fail(const std::string& why);
    void Drop();

    std::vector<Step> steps_;
    int listenFd_ = -1;
    int fd_ = -1;
    int port_ = 0;
    ssl_ctx_st* ctx_ = nullptr;
    ssl_st* ssl_ = nullptr;
    std::string inbox_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> stepsDone_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> transcript_;
    std::string failure_;
};
