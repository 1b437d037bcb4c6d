#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Runs tests/fakes/httpmailserver.py (a simulated HTTPMail service) as a child process on
// 127.0.0.1 port 0 for the life of the object. The configuration is the script's JSON (see
// the script); the log holds one JSON line per request the server saw.
class FakeHttpMailServer
{
public:
    FakeHttpMailServer() = default;
    ~FakeHttpMailServer();
    FakeHttpMailServer(const FakeHttpMailServer&) = delete;
    FakeHttpMailServer& operator=(const FakeHttpMailServer&) = delete;

    // Writes the configuration into `folder`, starts the server and waits for its port.
    // False with *error when python3 or the script cannot run. `https` when the
    // configuration has "tls".
    bool Start(const std::string& folder, const std::string& configJson, std::string* error,
               bool https = false);

    int Port() const { return port_; }
    std::string BaseUrl() const
    {
        return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
    }
    std::string GatewayUrl() const { return BaseUrl() + "/svcs/hotmail/httpmail.asp"; }

    // The request log so far, one JSON object per line.
    std::vector<std::string> Log() const;
    // The PROPFIND bodies the server received, each a JSON string.
    std::vector<std::string> Bodies() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool https_ = false;
    std::string logPath_;
};
