#pragma once

#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// Starts a simulated server (`args[0]` is the program) whose first line on standard output is
// "PORT <n>" once it listens, and returns that port; the process id goes to `pid`. -1 when it
// cannot start or dies before saying so (then `firstLine` holds what it printed, and `pid`
// may still name a process the caller must end). Waits at most 20 s for the line.
inline int SpawnPortServer(std::vector<std::string> args, pid_t& pid, std::string& firstLine)
{
    pid = -1;
    firstLine.clear();
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        pid = -1;
        ::close(fds[0]);
        firstLine = "cannot start " + args[0];
        return -1;
    }
    // A server that dies closes the pipe instead of answering.
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    while (firstLine.size() < 64 && ::poll(&p, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 &&
           c != '\n')
        firstLine += c;
    ::close(fds[0]);
    if (firstLine.rfind("PORT ", 0) != 0 || firstLine.size() > 10)
        return -1;
    return std::stoi(firstLine.substr(5));
}
