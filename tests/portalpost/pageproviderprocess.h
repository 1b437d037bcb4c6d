#pragma once

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// POSTWATCH_PAGE_PROVIDER names the script (tests/portalpost/pageprovider.py); the test target
// defines it.
// The simulated page provider (tests/portalpost/pageprovider.py) as a child process on two
// ports of 127.0.0.1 (mail and log-in host); it ends when its standard input closes.
class PageProvider
{
public:
    PageProvider(const std::string& scenarioFile, const std::string& logFile)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0)
            return;
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const std::string script = POSTWATCH_PAGE_PROVIDER;
        std::vector<char*> argv = {
            const_cast<char*>("/usr/bin/python3"), const_cast<char*>(script.c_str()),
            const_cast<char*>(scenarioFile.c_str()), const_cast<char*>(logFile.c_str()), nullptr};
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        FILE* lines = ::fdopen(out[0], "r");
        char line[128] = {};
        if (lines && std::fgets(line, sizeof line, lines))
            std::sscanf(line, "PORTS %d %d", &mail_, &login_);
        if (lines)
            std::fclose(lines);
    }
    ~PageProvider()
    {
        if (input_ >= 0)
            ::close(input_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    PageProvider(const PageProvider&) = delete;
    PageProvider& operator=(const PageProvider&) = delete;

    bool Running() const { return mail_ > 0 && login_ > 0; }
    int MailPort() const { return mail_; }
    int LoginPort() const { return login_; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int mail_ = 0;
    int login_ = 0;
};
