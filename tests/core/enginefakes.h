#pragma once

#include "accountmanager.h"
#include "checklauncher.h"
#include "engineclock.h"
#include "enginesink.h"
#include "networkaccess.h"
#include "wakesignal.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Stand-ins for what the worker and the checks talk to, recording what they were told.
namespace enginetest
{

// Time that moves only when the worker sleeps: one scan interval per sleep.
class FakeClock final : public EngineClock
{
public:
    explicit FakeClock(int startSecondsOfDay = 0) : total_(startSecondsOfDay * 1000LL) {}
    std::chrono::milliseconds Elapsed() override { return std::chrono::milliseconds(total_); }
    int LocalSecondsOfDay() override { return static_cast<int>((total_ / 1000) % 86400); }
    int Day() const { return static_cast<int>(total_ / 1000 / 86400); }
    void Sleep(std::chrono::milliseconds d, CWakeSignal& wake) override
    {
        wake.Take();
        total_ += d.count();
        ++sleeps;
        if (onSleep)
            onSleep(sleeps);
    }
    int sleeps = 0;
    std::function<void(int)> onSleep;

private:
    long long total_;
};

class FakeNetwork final : public NetworkAccess
{
public:
    int EnsureNetwork(int64_t& connection) override
    {
        ++ensureCalls;
        if (duringEnsure)
            duringEnsure();
        connection = up ? handle : 0;
        return up ? 1 : 0;
    }
    void HangUp(int64_t connection) override { hungUp.push_back(connection); }
    bool up = true;
    int64_t handle = 0;
    int ensureCalls = 0;
    std::function<void()> duringEnsure;
    std::vector<int64_t> hungUp;
};

// Starts nothing: records the start and, when asked, reports Check finished at once.
class FakeLauncher final : public CheckLauncher
{
public:
    FakeLauncher(CAccountManager& accounts, FakeClock& clock) : accounts_(accounts), clock_(clock)
    {
    }
    struct Start {
        std::string name;
        int day;
        int secondsOfDay;
    };
    void StartCheck(const std::string& account) override
    {
        starts.push_back({account, clock_.Day(), clock_.LocalSecondsOfDay()});
        if (finishAtOnce)
            accounts_.CheckFinished(account);
    }
    void CancelChecks() override
    {
        ++cancels;
        if (onCancel)
            onCancel();
    }
    bool finishAtOnce = false;
    std::vector<Start> starts;
    int cancels = 0;
    std::function<void()> onCancel;

private:
    CAccountManager& accounts_;
    FakeClock& clock_;
};

// Records every call; thread-safe, since check threads call it.
class RecordingSink final : public CEngineSink
{
public:
    int SendNewMessage(uint32_t kind, const MessageRecord& r) override
    {
        std::lock_guard<std::mutex> g(lock);
        messages.push_back({kind, r});
        return 1;
    }
    int SendExchangeMessage(const ExchangeMessageRecord&) override { return 1; }
    int SendWebMailMessage(const WebMailMessageRecord&) override { return 1; }
    int SendSummary(const CheckResultRecord& r) override
    {
        std::lock_guard<std::mutex> g(lock);
        summaries.push_back(r);
        return 1;
    }
    int SendText(const CheckResultRecord& r) override
    {
        std::lock_guard<std::mutex> g(lock);
        texts.push_back(r.account);
        return 1;
    }
    int SendCheckAnimation(bool on) override
    {
        std::lock_guard<std::mutex> g(lock);
        animation.push_back(on);
        return 1;
    }
    void PostClose() override
    {
        std::lock_guard<std::mutex> g(lock);
        ++closes;
    }
    std::mutex lock;
    std::vector<std::pair<uint32_t, MessageRecord>> messages;
    std::vector<CheckResultRecord> summaries;
    std::vector<std::string> texts;
    std::vector<bool> animation;
    int closes = 0;
};

// A row as the table holds it after Load all.
inline AccountEntry Row(const std::string& name, int kind = 0, int usable = 1)
{
    AccountEntry e;
    e.name = name;
    e.kind = kind;
    e.usable = usable;
    return e;
}

} // namespace enginetest
