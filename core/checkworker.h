#pragma once

#include "accountentry.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CAccountManager;
class CEngineSink;
class CEngineState;
class CWakeSignal;
class CheckLauncher;
class EngineClock;
class NetworkAccess;
class WorkerObserver;

// The worker: loads the account table, then once a second scans it, turns due schedules
// into check requests, starts requested checks once the network is up, and finalises
// finished ones (hangs up a dial-up connection nobody uses any more, applies a rename that
// waited, sets the row Idle). It runs until checking is disabled and nothing is left to
// finish, then posts Close to the front.
//
// Scan (per second, counter 1..60; 60 is a minute tick), in named steps, each over the rows
// in table order:
// - survey: any-requested and any-busy;
// - finalise rows: a Done row hangs up its dial-up connection when no other row holds it, no
//   check runs and none waits to start, applies a rename that waited, and becomes Idle;
// - start checks: a Requested row (with checking enabled) starts when allowed: web mail and
//   Exchange one check at a time each, an Exchange request dropped while a session is logged
//   on, only usable accounts, and only once the network is up (else the request is dropped);
// - requests from timers: the periodic timer (minute ticks) and the daily timer (fires once
//   in the minute after its time, again the next day) request Idle rows.
// The table lock is released around EnsureNetwork, HangUp and StartCheck; afterwards the
// row is found again by name, since the user may have removed or added accounts.
//
// Exit: with checking disabled no check is started; running checks are finalised and
// waiting renames applied. Should that take longer than `drainLimit`, the running checks
// are cancelled; if they still have not reported Check finished `cancelGrace` later, the
// worker ends anyway (a stuck check, or a rename of a removed account, must not keep the
// program alive for ever).
//
// Threads: Run() is the thread procedure (or a test calls it directly); Wake() from any
// thread ends the current sleep at once (use it after disabling checking). Everything the
// constructor is given must outlive Run().
class CCheckWorker
{
public:
    struct Options {
        std::chrono::milliseconds scanInterval{1000};
        std::chrono::milliseconds drainLimit{10000};
        std::chrono::milliseconds cancelGrace{5000};
        // Called after every scan without the table lock (the push connections follow the
        // table); `minuteTick` on a minute tick and after the first scan. Called once more
        // after the last scan, before Close is posted.
        std::function<void(bool minuteTick)> afterScan;
    };

    CCheckWorker(CAccountManager& accounts, CEngineState& state, NetworkAccess& network,
                 CheckLauncher& launcher, EngineClock& clock, CWakeSignal& wake, CEngineSink& sink,
                 std::function<void()> loadAll, Options options);
    CCheckWorker(const CCheckWorker&) = delete;
    CCheckWorker& operator=(const CCheckWorker&) = delete;

    // Called after the table was loaded, before the first scan, without the table lock
    // (it may enter requests); then used during the scans. Set before Run.
    void SetObserver(WorkerObserver* observer) { observer_ = observer; }

    // Load all, the start-up signal (`loaded`, may be empty), the scans, Close. Result 0.
    int Run(const std::function<void()>& loaded = {});

    // One scan, for tests that drive the worker step by step. Returns the any-busy flag.
    bool ScanOnce();

private:
    struct ScanState {
        bool anyRequested = false;
        bool anyBusy = false;
        bool minuteTick = false;
    };
    // A Requested row that may start once its kind allows it and the network is up.
    struct StartCandidate {
        std::string name;
        int kind = 0;
    };

    bool KeepRunning();

    // The steps of a scan, in this order.
    ScanState Survey();
    void FinaliseRows(const ScanState& scan);
    void StartChecks(ScanState& scan);
    void RequestsFromTimers(const ScanState& scan);

    // Finalising: whether the Done row at `index` hangs up its connection first.
    bool NeedsHangUp(const std::vector<AccountEntry>& rows, size_t index,
                     const ScanState& scan) const;
    void Finalise(std::vector<AccountEntry>& rows, size_t index);
    // Starting: drops what cannot be asked for, and lists the rest.
    std::vector<StartCandidate> Candidates(std::vector<AccountEntry>& rows);
    bool KindMayStart(int kind) const;
    void Start(const StartCandidate& candidate, ScanState& scan);
    void Timers(AccountEntry& row, const ScanState& scan);
    static AccountEntry* FindRow(std::vector<AccountEntry>& rows, const std::string& name,
                                 size_t* index = nullptr);

    CAccountManager& accounts_;
    CEngineState& state_;
    NetworkAccess& network_;
    CheckLauncher& launcher_;
    EngineClock& clock_;
    CWakeSignal& wake_;
    CEngineSink& sink_;
    std::function<void()> loadAll_;
    Options options_;
    WorkerObserver* observer_ = nullptr;

    // Per-thread values.
    int seconds_ = 0;
    bool anyBusy_ = false;
    bool webMailRunning_ = false;
    bool exchangeRunning_ = false;
    bool draining_ = false;
    bool cancelled_ = false;
    std::chrono::milliseconds drainStart_{0};
};
