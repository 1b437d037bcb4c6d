#include "configdocumentserver.h"

#include <csignal>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
    int fds[2];
    if (::pipe(fds) != 0) {
        *error = "no pipe";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<std::string> args = {"/usr/bin/python3", POSTWATCH_CONFIG_SERVER, config, logPath_};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(fds[0]);
        *error = "cannot start /usr/bin/python3";
        return false;
    }
    // The first line is "PORT <n>"; a server that dies closes the pipe instead.
    std::string line;
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    while (line.size() < 64 && ::poll(&p, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(fds[0]);
    if (line.rfind("PORT ", 0) != 0) {
        *error = "the configuration document server did not start (" + line + ")";
        return false;
    }
    port_ = std::stoi(line.substr(5));
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
