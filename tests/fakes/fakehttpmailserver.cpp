#include "fakehttpmailserver.h"

#include "support/portserver.h"

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::vector<std::string> Lines(const std::string& path)
{
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

} // namespace

FakeHttpMailServer::~FakeHttpMailServer()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

bool FakeHttpMailServer::Start(const std::string& folder, const std::string& configJson,
                               std::string* error, bool https)
{
    https_ = https;
    const std::string config = folder + "/httpmail.json";
    logPath_ = folder + "/httpmail.log";
    {
        std::ofstream out(config, std::ios::trunc);
        out << configJson;
    }
    const std::string script = POSTWATCH_HTTPMAIL_SERVER;
    std::string line;
    port_ = SpawnPortServer({"/usr/bin/python3", script, config, logPath_}, pid_, line);
    if (port_ < 0) {
        *error = "the simulated HTTPMail server did not start (" + line + ")";
        return false;
    }
    return true;
}

std::vector<std::string> FakeHttpMailServer::Log() const
{
    return Lines(logPath_);
}

std::vector<std::string> FakeHttpMailServer::Bodies() const
{
    return Lines(logPath_ + ".bodies");
}
