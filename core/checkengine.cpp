#include "checkengine.h"

#include "accountcheck.h"
#include "accountmanager.h"
#include "alwaysupnetwork.h"
#include "enginestate.h"
#include "pushservice.h"
#include "regsettings.h"
#include "systemclock.h"
#include "wakesignal.h"

namespace
{
// Load all with the Exchange account to open at start, from the General settings.
void LoadAllFromSettings(CAccountManager& accounts)
{
    CRegSettings settings;
    settings.LoadGeneral();
    accounts.LoadAll(settings.general.defaultExchange.Get(),
                     static_cast<int>(settings.general.autoStartExchange.Get()));
}
} // namespace

CCheckEngine::CCheckEngine(Parts parts)
    : parts_(std::move(parts)), wake_(std::make_shared<CWakeSignal>())
{
    if (!parts_.state)
        parts_.state = std::make_shared<CEngineState>();
    if (!parts_.network)
        parts_.network = std::make_shared<CAlwaysUpNetwork>();
    if (!parts_.clock)
        parts_.clock = std::make_shared<CSystemClock>();
    if (!parts_.loadAll) {
        std::shared_ptr<CAccountManager> accounts = parts_.accounts;
        parts_.loadAll = [accounts] { LoadAllFromSettings(*accounts); };
    }
    CheckServices services;
    services.accounts = parts_.accounts;
    services.state = parts_.state;
    services.sink = parts_.sink;
    services.pop3 = parts_.pop3;
    services.imap4 = parts_.imap4;
    services.webMail = parts_.webMail;
    services.exchange = parts_.exchange;
    services.readTimeOut = parts_.readTimeOut;
    // With push, mail that arrives during a check is asked for again as soon as the row is
    // Idle: the worker finalises an ended check at once instead of at the next second.
    if (parts_.wakeWhenCheckEnds || parts_.push) {
        std::shared_ptr<CWakeSignal> wake = wake_;
        services.checkEnded = [wake] { wake->Wake(); };
    }
    if (parts_.push) {
        std::shared_ptr<CWakeSignal> wake = wake_;
        parts_.push->Bind([wake] { wake->Wake(); });
        std::shared_ptr<PushService> push = parts_.push;
        std::shared_ptr<CAccountManager> accounts = parts_.accounts;
        std::shared_ptr<CEngineState> state = parts_.state;
        parts_.worker.afterScan = [push, accounts, state](bool minuteTick) {
            if (state->checkingEnabled.load() == 0) {
                push->StopAll();
                return;
            }
            std::vector<std::string> names;
            for (const AccountEntry& row : accounts->Snapshot())
                names.push_back(row.name);
            push->Follow(names, minuteTick);
        };
    }
    checks_ = std::make_unique<CAccountCheck>(std::move(services), parts_.checkExitWait);
    worker_ = std::make_unique<CCheckWorker>(*parts_.accounts, *parts_.state, *parts_.network,
                                             *checks_, *parts_.clock, *wake_, *parts_.sink,
                                             parts_.loadAll, parts_.worker);
}

CCheckEngine::~CCheckEngine()
{
    RequestExit();
    if (thread_.joinable())
        thread_.join();
    if (parts_.push)
        parts_.push->StopAll();
    checks_.reset(); // bounded wait, then cancel, then leave stuck threads alone
}

void CCheckEngine::SetObserver(WorkerObserver* observer)
{
    worker_->SetObserver(observer);
}

void CCheckEngine::Start()
{
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] {
        worker_->Run([this] {
            std::lock_guard<std::mutex> guard(lock_);
            loaded_ = true;
            changed_.notify_all();
        });
        std::lock_guard<std::mutex> guard(lock_);
        ended_ = true;
        changed_.notify_all();
    });
}

bool CCheckEngine::WaitLoaded(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, limit, [this] { return loaded_; });
}

void CCheckEngine::RequestExit()
{
    parts_.state->checkingEnabled.store(0);
    wake_->Wake();
}

void CCheckEngine::Wake()
{
    wake_->Wake();
}

bool CCheckEngine::WaitEnded(std::chrono::milliseconds limit)
{
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (!changed_.wait_for(guard, limit, [this] { return ended_; }))
            return false;
    }
    if (thread_.joinable())
        thread_.join();
    return true;
}
