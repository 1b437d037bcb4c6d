#include "fakehttpmailserver.h"

#include <csignal>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
    const std::string script = POSTWATCH_HTTPMAIL_SERVER;
    std::vector<std::string> args = {"/usr/bin/python3", script, config, logPath_};
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
        *error = "the simulated HTTPMail server did not start (" + line + ")";
        return false;
    }
    port_ = std::stoi(line.substr(5));
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
