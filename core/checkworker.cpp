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
    bool first = true;
    while (KeepRunning()) {
        anyBusy_ = ScanOnce();
        if (options_.afterScan)
            options_.afterScan(first || seconds_ == kSecondsPerMinuteTick);
        first = false;
        clock_.Sleep(options_.scanInterval, wake_);
    }
    // Once more after the drain, so that what follows the table (the push connections)
    // sees checking disabled even when the exit found nothing to drain.
    if (options_.afterScan)
        options_.afterScan(false);
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
            if (index)
                *index = i;
            return &rows[i];
        }
    }
    return nullptr;
}

bool CCheckWorker::ScanOnce()
{
    seconds_ = seconds_ >= kSecondsPerMinuteTick ? 1 : seconds_ + 1;
    ScanState scan = Survey();
    scan.minuteTick = seconds_ == kSecondsPerMinuteTick;
    // Finalising first frees the web-mail and Exchange slots for requests of this scan.
    FinaliseRows(scan);
    StartChecks(scan);
    // Last, so that a row requested by its timer starts at the next scan.
    RequestsFromTimers(scan);
    return scan.anyBusy;
}

CCheckWorker::ScanState CCheckWorker::Survey()
{
    ScanState scan;
    accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
        for (const AccountEntry& row : rows) {
            scan.anyRequested = scan.anyRequested || row.IsRequested();
            scan.anyBusy = scan.anyBusy || row.IsBusy();
        }
    });
    return scan;
}

bool CCheckWorker::NeedsHangUp(const std::vector<AccountEntry>& rows, size_t index,
                               const ScanState& scan) const
{
    const int64_t connection = rows[index].connectionHandle;
    if (connection == 0 || scan.anyBusy)
        return false;
    // While the program exits no request can start, so a pending one does not keep the
    // connection up (else it would stay open after the program ended).
    if (scan.anyRequested && state_.checkingEnabled.load() != 0)
        return false;
    for (size_t i = 0; i < rows.size(); ++i)
        if (i != index && rows[i].connectionHandle == connection)
            return false;
    return true;
}

void CCheckWorker::FinaliseRows(const ScanState& scan)
{
    // Rows whose connection is hung up (without the lock: it may take long) before they are
    // finalised. They keep their handle meanwhile, so a later row sharing it keeps it up.
    std::vector<std::pair<std::string, int64_t>> hangUps;
    accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].name.empty() || !rows[i].IsDone())
                continue;
            if (NeedsHangUp(rows, i, scan))
                hangUps.emplace_back(rows[i].name, rows[i].connectionHandle);
            else
                Finalise(rows, i);
        }
    });
    for (const auto& hangUp : hangUps) {
        network_.HangUp(hangUp.second);
        accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
            size_t at = 0;
            if (FindRow(rows, hangUp.first, &at) && rows[at].IsDone()) {
                rows[at].connectionHandle = 0; // hung up: nothing left to hang up
                Finalise(rows, at);
            }
        });
    }
}

void CCheckWorker::Finalise(std::vector<AccountEntry>& rows, size_t index)
{
    const std::string name = rows[index].name;
    const std::string nowNamed = accounts_.ApplyPendingRename(name);
    AccountEntry* row = &rows[index];
    if (row->name != nowNamed) {
        // The rename renames the row it finds; make sure it is this one.
        if (AccountEntry* renamed = FindRow(rows, nowNamed))
            row = renamed;
    }
    if (row->kind == kKindWebMail)
        webMailRunning_ = false;
    else if (row->kind == kKindExchange)
        exchangeRunning_ = false;
    row->checkState = CheckState::Idle;
    row->connectionHandle = 0;
    if (observer_)
        observer_->Finalised(name, nowNamed);
}

std::vector<CCheckWorker::StartCandidate> CCheckWorker::Candidates(std::vector<AccountEntry>& rows)
{
    std::vector<StartCandidate> candidates;
    for (AccountEntry& row : rows) {
        if (row.name.empty() || !row.IsRequested())
            continue;
        if (row.kind == kKindExchange && state_.exchangeLoggedOn.load() == 1) {
            // The logged-on session reports new mail by itself.
            row.checkState = CheckState::Done;
            if (observer_)
                observer_->RequestDropped(row.name, WorkerObserver::DropReason::ExchangeLoggedOn);
            continue;
        }
        if (row.usable != 1) {
            // It stays Requested, so further requests for it are dropped by the table.
            if (observer_)
                observer_->NotUsable(row.name);
            continue;
        }
        candidates.push_back({row.name, row.kind});
    }
    return candidates;
}

bool CCheckWorker::KindMayStart(int kind) const
{
    if (kind == kKindWebMail)
        return !webMailRunning_;
    if (kind == kKindExchange)
        return !exchangeRunning_;
    return true;
}

void CCheckWorker::StartChecks(ScanState& scan)
{
    if (state_.checkingEnabled.load() == 0)
        return; // requests wait while the program exits
    const std::vector<StartCandidate> candidates =
        accounts_.WithTable([&](std::vector<AccountEntry>& rows) { return Candidates(rows); });
    for (const StartCandidate& candidate : candidates) {
        // Asked again for each: a start before it may have taken its kind's one slot, and
        // the user may have begun to exit while the network was asked for.
        if (KindMayStart(candidate.kind) && state_.checkingEnabled.load() != 0)
            Start(candidate, scan);
    }
}

void CCheckWorker::Start(const StartCandidate& candidate, ScanState& scan)
{
    // The network may take long (dialling), so without the lock.
    int64_t connection = 0;
    const bool networkUp = network_.EnsureNetwork(connection) != 0;
    bool started = false;
    int64_t orphan = 0;
    accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
        AccountEntry* row = FindRow(rows, candidate.name);
        if (!row || !row->IsRequested()) {
            // Removed, or changed by the user meanwhile: no check, and a connection opened
            // for it is nobody's.
            orphan = networkUp ? connection : 0;
            return;
        }
        if (!networkUp) {
            row->checkState = CheckState::Idle;
            row->connectionHandle = 0;
            if (observer_)
                observer_->RequestDropped(row->name, WorkerObserver::DropReason::NoNetwork);
            return;
        }
        row->checkState = CheckState::Busy;
        row->connectionHandle = connection;
        started = true;
    });
    if (orphan != 0)
        network_.HangUp(orphan);
    if (!started)
        return;

    launcher_.StartCheck(candidate.name);
    scan.anyBusy = true;
    if (candidate.kind == kKindWebMail)
        webMailRunning_ = true;
    else if (candidate.kind == kKindExchange)
        exchangeRunning_ = true;
    if (observer_)
        accounts_.WithTable(
            [&](std::vector<AccountEntry>&) { observer_->CheckStarted(candidate.name); });
}

void CCheckWorker::RequestsFromTimers(const ScanState& scan)
{
    accounts_.WithTable([&](std::vector<AccountEntry>& rows) {
        for (AccountEntry& row : rows)
            Timers(row, scan);
    });
}

void CCheckWorker::Timers(AccountEntry& row, const ScanState& scan)
{
    if (scan.minuteTick && row.periodMinutes >= 0) {
        ++row.minutesElapsed;
        if (row.minutesElapsed >= row.periodMinutes && row.IsIdle()) {
            row.minutesElapsed = 0;
            row.checkState = CheckState::Requested;
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
            row.checkState = CheckState::Requested;
        }
    }
}
