#include "backgroundprocess.h"

#include "tempdir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

BackgroundProcess::BackgroundProcess(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::vector<std::string>& env,
                                     const std::string& outFile, const std::string& errFile)
    : out_(outFile), err_(errFile)
{
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // a crashed test leaves nothing running
        const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0)
            ::_exit(127);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::dup2(in, 0);
        for (const std::string& e : env)
            ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

BackgroundProcess::~BackgroundProcess()
{
    if (pid_ > 0 && Running()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool BackgroundProcess::Running()
{
    int status = 0;
    if (exitCode_ == kRunning && ::waitpid(pid_, &status, WNOHANG) == pid_)
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitCode_ == kRunning;
}

bool BackgroundProcess::SignalAndWait(int signal, int seconds)
{
    if (!Running())
        return true;
    ::kill(pid_, signal);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (Running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return !Running();
}

std::string BackgroundProcess::Out() const
{
    return ReadWholeFile(out_);
}

std::string BackgroundProcess::Err() const
{
    return ReadWholeFile(err_);
}
