#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Runs configserver.py (an https server of configuration documents) on 127.0.0.1 port 0 for
// the life of the object, with a certificate for localhost and 127.0.0.1 that `caFile`'s
// authority signed. Routes are given as the script's JSON object of paths.
class ConfigDocumentServer
{
public:
    ConfigDocumentServer() = default;
    ~ConfigDocumentServer();
    ConfigDocumentServer(const ConfigDocumentServer&) = delete;
    ConfigDocumentServer& operator=(const ConfigDocumentServer&) = delete;

    // False with *error when python3 or the script cannot run.
    bool Start(const std::string& folder, const std::string& certFile, const std::string& keyFile,
               const std::string& routesJson, std::string* error);

    int Port() const { return port_; }
    // "https://127.0.0.1:<port>"
    std::string Base() const { return "https://127.0.0.1:" + std::to_string(port_); }
    // "Host path" of every request so far.
    std::vector<std::string> Log() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string logPath_;
};
