#include "checkworker.h"

#include "accountmanager.h"
#include "accountrecord.h"
#include "checklauncher.h"
#include "engineclock.h"
#include "enginesink.h"
#include "enginestate.h"
#include "networkaccess.h"
#include "wakesignal.h"
#include "workerobserver.h"

namespace
{
constexpr int kSecondsPerMinuteTick = 60;
// The daily check fires in the minute after its time: 0 < d < 60.
constexpr uint32_t kDailyWindow = 60;
} // namespace

CCheckWorker::CCheckWorker(CAccountManager& accounts, CEngineState& state, NetworkAccess& network,
                           CheckLauncher& launcher, EngineClock& clock, CWakeSignal& wake,
                           CEngineSink& sink, std::function<void()> loadAll, Options options)
    : accounts_(accounts), state_(state), network_(network), launcher_(launcher), clock_(clock),
      wake_(wake), sink_(sink), loadAll_(std::move(loadAll)), options_(options)
{
}

int CCheckWorker::Run(const std::function<void()>& loaded)
{
    if (loadAll_)
        loadAll_();
    if (observer_)
        observer_->Loaded();
    if (loaded)
        loaded();
    while (KeepRunning()) {
        anyBusy_ = ScanOnce();
        clock_.Sleep(options_.scanInterval, wake_);
    }
    sink_.PostClose();
    return 0;
}

bool CCheckWorker::KeepRunning()
{
    if (state_.checkingEnabled.load() != 0) {
        // A second start may enable checking again while we drain: simply go on.
        draining_ = false;
        cancelled_ = false;
        return true;
    }
    const bool renamesWait = !accounts_.PendingRenames().empty();
    if (!anyBusy_ && !renamesWait)
        return false;
    const auto now = clock_.Elapsed();
    if (!draining_) {
        draining_ = true;
        drainStart_ = now;
    }
    const auto drained = now - drainStart_;
    if (drained >= options_.drainLimit && !cancelled_) {
        cancelled_ = true;
        launcher_.CancelChecks();
    }
    // A check that ignores its cancellation (or a rename whose account was removed while
    // it waited) would otherwise keep the program alive for ever.
    return drained < options_.drainLimit + options_.cancelGrace;
}

AccountEntry* CCheckWorker::FindRow(std::vector<AccountEntry>& rows, const std::string& name,
                                    size_t* index)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].name == name) {
            *index = i;
            return &rows[i];
        }
    }
    return nullptr;
}

bool CCheckWorker::ScanOnce()
{
    seconds_ = seconds_ >= kSecondsPerMinuteTick ? 1 : seconds_ + 1;
    ScanState scan;
    scan.minuteTick = seconds_ == kSecondsPerMinuteTick;
    accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
        for (const AccountEntry& row : rows) {
            scan.anyRequested = scan.anyRequested || row.requested != 0;
            scan.anyBusy = scan.anyBusy || row.busy != 0;
        }
    });

    size_t index = 0;
    for (;;) {
        Pending work = accounts_.WithTable(
            [&](std::vector<AccountEntry>& rows) { return ScanRows(rows, index, scan); });
        if (work.step == Step::None)
            break;

        if (work.step == Step::HangUp) {
            network_.HangUp(work.connection);
            accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
                size_t at = 0;
                if (FindRow(rows, work.name, &at) && rows[at].IsDone()) {
                    rows[at].connectionHandle = 0; // hung up: nothing left to hang up
                    Finalise(rows, at);
                    Timers(rows[at], scan);
                    index = at + 1;
                }
                // A row removed meanwhile: the next row has moved to `index`.
            });
            continue;
        }

        // Step::Start: the network may take long (dialling), so without the lock.
        int64_t connection = 0;
        const int networkUp = network_.EnsureNetwork(connection);
        bool started = false;
        int64_t orphan = 0;
        accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
            size_t at = 0;
            AccountEntry* row = FindRow(rows, work.name, &at);
            if (!row || !row->IsRequested()) {
                // Removed, or changed by the user meanwhile: no check, and a connection
                // opened for it is nobody's.
                orphan = networkUp ? connection : 0;
                if (row) {
                    Timers(*row, scan);
                    index = at + 1;
                }
                return;
            }
            if (networkUp) {
                row->busy = 1;
                row->requested = 0;
                row->idle = 0;
                row->connectionHandle = connection;
                started = true;
                index = at; // timers after the start
            } else {
                row->requested = 0;
                row->busy = 0;
                row->idle = 1;
                row->connectionHandle = 0;
                if (observer_)
                    observer_->RequestDropped(row->name);
                Timers(*row, scan);
                index = at + 1;
            }
        });
        if (orphan != 0)
            network_.HangUp(orphan);
        if (!started)
            continue;

        launcher_.StartCheck(work.name);
        scan.anyBusy = true;
        if (work.kind == kKindWebMail)
            webMailRunning_ = true;
        else if (work.kind == kKindExchange)
            exchangeRunning_ = true;
        accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
            size_t at = 0;
            if (observer_)
                observer_->CheckStarted(work.name);
            if (FindRow(rows, work.name, &at)) {
                Timers(rows[at], scan);
                index = at + 1;
            }
        });
    }
    return scan.anyBusy;
}

CCheckWorker::Pending CCheckWorker::ScanRows(std::vector<AccountEntry>& rows, size_t& index,
                                             ScanState& scan)
{
    for (; index < rows.size(); ++index) {
        AccountEntry& row = rows[index];
        if (row.name.empty()) {
            Timers(row, scan);
            continue;
        }
        if (row.IsDone()) {
            // While the program exits no request can start, so a pending one does not
            // keep the connection up (else it would stay open after the program ended).
            const bool requestsWait = scan.anyRequested && state_.checkingEnabled.load() != 0;
            if (row.connectionHandle != 0 && !requestsWait && !scan.anyBusy) {
                bool shared = false;
                for (size_t i = 0; i < rows.size(); ++i)
                    shared =
                        shared || (i != index && rows[i].connectionHandle == row.connectionHandle);
                if (!shared)
                    return {Step::HangUp, row.name, row.connectionHandle, row.kind};
            }
            Finalise(rows, index);
            Timers(rows[index], scan);
            continue;
        }
        if (row.IsRequested() && state_.checkingEnabled.load() != 0) {
            if (row.kind == kKindExchange && state_.exchangeLoggedOn.load() == 1) {
                // The logged-on session reports new mail by itself.
                row.requested = 0;
                row.idle = 0;
                if (observer_)
                    observer_->RequestDropped(row.name);
                Timers(row, scan);
                continue;
            }
            bool mayStart = row.usable == 1;
            if (row.kind == kKindWebMail)
                mayStart = mayStart && !webMailRunning_;
            else if (row.kind == kKindExchange)
                mayStart = mayStart && !exchangeRunning_;
            if (row.usable != 1 && observer_)
                observer_->NotUsable(row.name);
            if (mayStart)
                return {Step::Start, row.name, 0, row.kind};
        }
        Timers(row, scan);
    }
    return {};
}

void CCheckWorker::Finalise(std::vector<AccountEntry>& rows, size_t index)
{
    const std::string name = rows[index].name;
    const std::string nowNamed = accounts_.ApplyPendingRename(name);
    AccountEntry* row = &rows[index];
    if (row->name != nowNamed) {
        // The rename renames the row it finds; make sure it is this one.
        size_t at = index;
        if (AccountEntry* renamed = FindRow(rows, nowNamed, &at))
            row = renamed;
    }
    if (row->kind == kKindWebMail)
        webMailRunning_ = false;
    else if (row->kind == kKindExchange)
        exchangeRunning_ = false;
    row->idle = 1;
    row->connectionHandle = 0;
    if (observer_)
        observer_->Finalised(name, nowNamed);
}

void CCheckWorker::Timers(AccountEntry& row, const ScanState& scan)
{
    if (scan.minuteTick && row.periodMinutes >= 0) {
        ++row.minutesElapsed;
        if (row.minutesElapsed >= row.periodMinutes && row.IsIdle()) {
            row.minutesElapsed = 0;
            row.idle = 0;
            row.requested = 1;
        }
    }
    if (row.specifiedSeconds >= 0) {
        const int now = clock_.LocalSecondsOfDay();
        // Unsigned: every time before the specified time is a large difference.
        const uint32_t d = static_cast<uint32_t>(now) - static_cast<uint32_t>(row.specifiedSeconds);
        if (row.specifiedFired == 1 && d >= kDailyWindow)
            row.specifiedFired = 0;
        // Fires in the minute after the time, not at the time itself; a busy row is looked
        // at again at the next scan of the same minute.
        if (d > 0 && d < kDailyWindow && row.specifiedFired == 0 && row.IsIdle()) {
            row.specifiedFired = 1;
            row.idle = 0;
            row.requested = 1;
        }
    }
}
