#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A program run in the background with its output in files, for a test that watches what it
// prints while it runs. `env` entries ("NAME=value") are added to the test's environment.
// Killed (by its own id) if still running when destroyed.
class BackgroundProcess
{
public:
    BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env, const std::string& outFile,
                      const std::string& errFile);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool Running();
    // Sends `signal`; then waits up to `seconds` for the exit. True when it exited.
    bool SignalAndWait(int signal, int seconds);
    // The exit code, -1 after a signal, -2 while running.
    int ExitCode() const { return exitCode_; }
    std::string Out() const;
    std::string Err() const;

private:
    static constexpr int kRunning = -2;
    pid_t pid_ = -1;
    int exitCode_ = kRunning;
    std::string out_;
    std::string err_;
};
