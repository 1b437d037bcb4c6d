#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// The values the engine's threads share outside the account table: whether checking is
// enabled (0 while the program exits; the worker then drains), whether an Exchange
// session opened by a check is logged on, and the name of the account selected in the
// tree (it decides only whether the checking animation is shown).
//
// Threads: every member may be read and written from any thread.
class CEngineState
{
public:
    std::atomic<int> checkingEnabled{1};
    std::atomic<int> exchangeLoggedOn{0};

    void SetSelectedAccount(std::string name);
    std::string SelectedAccount() const;
    bool IsSelected(const std::string& name) const;

    // The state of an account's push connection in words ("connected", "reconnecting"),
    // empty when it has none; for the account tree's tooltip.
    void SetPushState(const std::string& account, const std::string& text);
    std::string PushState(const std::string& account) const;

private:
    mutable std::mutex pushLock_;
    std::map<std::string, std::string> push_;
    mutable std::mutex selectedLock_;
    std::string selected_;
};
