#pragma once

#include "checkworker.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class CAccountCheck;
class CAccountManager;
class CEngineSink;
class CEngineState;
class CWakeSignal;
class EngineClock;
class ExchangePlugin;
class NetworkAccess;
class ProtocolCheck;
class PushService;
class WebMailPlugin;
class WorkerObserver;

// The checking engine as a front uses it: the shared state, the worker thread and the
// account checks, wired together. The desktop and the headless front use it the same way:
//
//   auto state = std::make_shared<CEngineState>();
//   CNewMailMerge merge(*state, &headerList, &notifications, &mainWindow); // front thread
//   auto sink = <the front's CEngineSink that runs `merge` on its thread>;
//   CCheckEngine engine({accounts, state, sink, ...});
//   engine.Start(); engine.WaitLoaded(60 s);
//   ... accounts->EnterOrRequest(...) for user requests ...
//   engine.RequestExit();        // the exit command; the worker drains, then PostClose
//   engine.WaitEnded(5 s);
//
// Parts left empty get defaults: a new state, the network taken as always up, the system
// clock, the settings' time-out and Load all from the General settings. An empty protocol
// check or plug-in makes that kind's checks end at once without a summary.
class CCheckEngine
{
public:
    struct Parts {
        std::shared_ptr<CAccountManager> accounts; // required
        std::shared_ptr<CEngineSink> sink;         // required
        std::shared_ptr<CEngineState> state;
        std::shared_ptr<NetworkAccess> network;
        std::shared_ptr<EngineClock> clock;
        std::shared_ptr<ProtocolCheck> pop3;
        std::shared_ptr<ProtocolCheck> imap4;
        std::shared_ptr<WebMailPlugin> webMail;
        std::shared_ptr<ExchangePlugin> exchange;
        std::function<std::optional<int>()> readTimeOut;
        std::function<void()> loadAll;
        // The push connections (IMAP IDLE); empty: none. With them the worker is woken when
        // a check ends (as with wakeWhenCheckEnds). The worker has them follow the
        // table after each scan and ends them when checking is disabled (exit) and when the
        // engine ends. Bind gives them the way to request a check and wake the worker.
        std::shared_ptr<PushService> push;
        CCheckWorker::Options worker{};
        // How long the engine's end waits for check threads before cancelling them, and
        // again after cancelling.
        std::chrono::milliseconds checkExitWait{5000};
        // Wake the worker when a check ends, so it is finalised at once rather than at
        // the next second (the command line waits for it; the desktop need not).
        bool wakeWhenCheckEnds = false;
    };

    explicit CCheckEngine(Parts parts);
    // Requests exit and waits for the worker (which bounds its own draining).
    ~CCheckEngine();
    CCheckEngine(const CCheckEngine&) = delete;
    CCheckEngine& operator=(const CCheckEngine&) = delete;

    const std::shared_ptr<CEngineState>& State() const { return parts_.state; }
    // Set before Start.
    void SetObserver(WorkerObserver* observer);

    // Starts the worker thread (once).
    void Start();
    // Waits for the start-up signal (the table loaded); false after `limit`.
    bool WaitLoaded(std::chrono::milliseconds limit);
    // Clears CheckingEnabled and wakes the worker, which drains and ends.
    void RequestExit();
    // Ends the worker's current sleep at once (after a request, so it starts now).
    void Wake();
    // Waits for the worker thread to end; true when it has (it is then joined).
    bool WaitEnded(std::chrono::milliseconds limit);

private:
    Parts parts_;
    std::shared_ptr<CWakeSignal> wake_;
    std::unique_ptr<CAccountCheck> checks_;
    std::unique_ptr<CCheckWorker> worker_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool loaded_ = false;
    bool ended_ = false;
};
