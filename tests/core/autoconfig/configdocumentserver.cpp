#include "configdocumentserver.h"

#include "support/portserver.h"

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

ConfigDocumentServer::~ConfigDocumentServer()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

bool ConfigDocumentServer::Start(const std::string& folder, const std::string& certFile,
                                 const std::string& keyFile, const std::string& routesJson,
                                 std::string* error)
{
    const std::string config = folder + "/configserver.json";
    logPath_ = folder + "/configserver.log";
    {
        std::ofstream out(config, std::ios::trunc);
        out << "{\"cert\": \"" << certFile << "\", \"key\": \"" << keyFile
            << "\", \"routes\": " << routesJson << "}";
    }
    std::string line;
    port_ = SpawnPortServer({"/usr/bin/python3", POSTWATCH_CONFIG_SERVER, config, logPath_}, pid_,
                            line);
    if (port_ < 0) {
        *error = "the configuration document server did not start (" + line + ")";
        return false;
    }
    return true;
}

std::vector<std::string> ConfigDocumentServer::Log() const
{
    std::vector<std::string> out;
    std::ifstream in(logPath_);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}
