#include "accountcheck.h"

#include "accountfile.h"
#include "accountmanager.h"
#include "accountrecord.h"
#include "apppaths.h"
#include "checkcancel.h"
#include "enginesink.h"
#include "enginestate.h"
#include "exchangeplugin.h"
#include "protocolcheck.h"
#include "regsettings.h"
#include "settingnumber.h"
#include "uidfile.h"
#include "webmailplugin.h"

#include <climits>
#include <exception>
#include <new>
#include <system_error>

namespace
{

using Services = std::shared_ptr<const CheckServices>;

std::optional<int> ReadTimeOut(const CheckServices& services)
{
    if (services.readTimeOut)
        return services.readTimeOut();
    CRegSettings settings;
    if (settings.LoadNetwork() != 1)
        return std::nullopt;
    return SettingNumber(settings.network.timeOut);
}

// Shows the checking animation for the selected account and stops it again. It stops
// what it started even when the user selected another account meanwhile, so the tray
// icon never keeps animating after the check.
class Animation
{
public:
    Animation(CEngineSink& sink, const CEngineState& state, const std::string& account)
        : sink_(sink), on_(state.IsSelected(account))
    {
        if (on_)
            sink_.SendCheckAnimation(true);
    }
    ~Animation()
    {
        if (on_)
            sink_.SendCheckAnimation(false);
    }
    Animation(const Animation&) = delete;
    Animation& operator=(const Animation&) = delete;

private:
    CEngineSink& sink_;
    bool on_;
};

void RunProtocolCheck(const CheckServices& s, ProtocolCheck* check, const AccountRecord& record,
                      std::unordered_set<std::string>& known, CCheckCancel& cancel)
{
    if (!check)
        return;
    CheckRequest request;
    request.server = record.server;
    request.port = LeadingDecimal(record.port);
    request.security = record.security;
    request.userName = record.userName;
    request.password = record.password;
    request.knownUids.swap(known);
    request.account = record.name;
    request.preview = LeadingDecimal(record.priview);
    const std::optional<int> timeOut = ReadTimeOut(s);
    if (!timeOut)
        return;
    request.timeOutSeconds = *timeOut;

    int32_t newCount = 0;
    int result = CheckResult::kNoMemory;
    // What the server still owes once the result is final (the answer to QUIT) is waited for
    // after the summary, so the user sees the result without that wait.
    ProtocolCheck::Closing closing;
    {
        Animation animation(*s.sink, *s.state, record.name);
        try {
            result = check->Run(request, *s.sink, newCount, cancel, closing);
        } catch (const std::bad_alloc&) {
            result = CheckResult::kNoMemory;
        } catch (const std::exception&) {
            result = CheckResult::kFailedAfterLogin;
        }
    }
    s.sink->SendSummary({result, newCount, record.name});
    if (closing)
        closing();
}

void RunWebMailCheck(const CheckServices& s, const AccountRecord& record)
{
    if (!s.webMail)
        return;
    const std::optional<int> timeOut = ReadTimeOut(s);
    if (!timeOut)
        return;
    int32_t newCount = 0;
    int result = 0;
    {
        Animation animation(*s.sink, *s.state, record.name);
        result = s.webMail->CheckPortalpostMsg(*s.sink, record.server, record.name, record.userName,
                                               record.password, newCount, *timeOut);
    }
    s.sink->SendSummary({result, newCount, record.name});
}

void RunExchangeCheck(const CheckServices& s, const AccountRecord& record)
{
    if (!s.exchange)
        return;
    // The preview value is in kilobytes; a negative one means no body.
    const long long kilobytes = LeadingDecimal(record.priview);
    const uint32_t bodyLimit =
        kilobytes <= 0 ? 0
                       : static_cast<uint32_t>(std::min<long long>(kilobytes * 1024, UINT32_MAX));
    int32_t newCount = 0;
    int r = s.exchange->LogonExchange(*s.sink, record.server, record.name, 0, newCount, bodyLimit);
    // 2: try again without the log-on dialog, 3: with it, 4: taken as logged on. Any other
    // value is final, so the loop always ends.
    while (r == 2 || r == 3 || r == 4) {
        if (r == 4) {
            r = 1;
            break;
        }
        r = s.exchange->LogonExchange(*s.sink, record.server, record.name, r == 3 ? 1 : 0, newCount,
                                      bodyLimit);
    }
    s.state->exchangeLoggedOn.store(r == 1 ? 1 : 0);
    if (r == 1)
        s.sink->SendSummary({CheckResult::kDone, newCount, record.name});
}

} // namespace

CAccountCheck::CAccountCheck(CheckServices services, std::chrono::milliseconds exitWait)
    : services_(std::make_shared<const CheckServices>(std::move(services))),
      tracker_(std::make_shared<Tracker>()), exitWait_(exitWait)
{
}

CAccountCheck::~CAccountCheck()
{
    if (!WaitAll(exitWait_)) {
        CancelChecks();
        if (!WaitAll(exitWait_)) {
            // They hold everything they use by shared pointers; let them end alone.
            for (Check& c : checks_)
                c.thread.detach();
            checks_.clear();
        }
    }
}

void CAccountCheck::StartCheck(const std::string& account)
{
    Reap(false);
    const CheckServices& s = *services_;
    AccountRecord record;
    if (CAccountFile::ReadAccountFile(AppPaths::AccountFile(account), record) != 1) {
        s.accounts->CheckFinished(account);
        return;
    }
    record.name = account;

    enum class Kind { Pop3, Imap4, WebMail, Exchange } kind;
    std::unordered_set<std::string> known;
    if (record.mailType == kMailTypePop3 || record.mailType == kMailTypeImap4) {
        kind = record.mailType == kMailTypePop3 ? Kind::Pop3 : Kind::Imap4;
        std::vector<std::string> list;
        if (ReadUids(AppPaths::UidFile(account), list) != 1) {
            s.accounts->CheckFinished(account);
            return;
        }
        known.reserve(list.size());
        for (std::string& uid : list)
            known.insert(std::move(uid));
    } else if (record.mailType == kMailTypePortalpost) {
        kind = Kind::WebMail;
    } else if (record.mailType == kMailTypeExchange) {
        kind = Kind::Exchange;
    } else {
        s.accounts->CheckFinished(account);
        return;
    }

    Check check;
    check.cancel = std::make_shared<CCheckCancel>();
    check.done = std::make_shared<bool>(false);
    {
        std::lock_guard<std::mutex> guard(tracker_->lock);
        ++tracker_->running;
    }
    Services services = services_;
    std::shared_ptr<Tracker> tracker = tracker_;
    std::shared_ptr<CCheckCancel> cancel = check.cancel;
    std::shared_ptr<bool> done = check.done;
    try {
        check.thread =
            std::thread([services, tracker, cancel, done, kind, record = std::move(record),
                         known = std::move(known)]() mutable {
                const CheckServices& cs = *services;
                try {
                    switch (kind) {
                    case Kind::Pop3:
                        RunProtocolCheck(cs, cs.pop3.get(), record, known, *cancel);
                        break;
                    case Kind::Imap4:
                        RunProtocolCheck(cs, cs.imap4.get(), record, known, *cancel);
                        break;
                    case Kind::WebMail:
                        RunWebMailCheck(cs, record);
                        break;
                    case Kind::Exchange:
                        RunExchangeCheck(cs, record);
                        break;
                    }
                } catch (...) {
                    // Whatever went wrong, the account must leave Busy.
                }
                cs.accounts->CheckFinished(record.name);
                if (cs.checkEnded)
                    cs.checkEnded();
                std::lock_guard<std::mutex> guard(tracker->lock);
                *done = true;
                --tracker->running;
                tracker->ended.notify_all();
            });
    } catch (const std::system_error&) {
        // No thread to be had (a resource limit): the check cannot start.
        {
            std::lock_guard<std::mutex> guard(tracker_->lock);
            --tracker_->running;
        }
        s.accounts->CheckFinished(account);
        return;
    }
    checks_.push_back(std::move(check));
}

void CAccountCheck::CancelChecks()
{
    for (Check& c : checks_)
        c.cancel->Cancel();
}

void CAccountCheck::Reap(bool all)
{
    for (auto it = checks_.begin(); it != checks_.end();) {
        bool done = false;
        {
            std::lock_guard<std::mutex> guard(tracker_->lock);
            done = *it->done;
        }
        if (done || all) {
            it->thread.join();
            it = checks_.erase(it);
        } else {
            ++it;
        }
    }
}

bool CAccountCheck::WaitAll(std::chrono::milliseconds limit)
{
    {
        std::unique_lock<std::mutex> guard(tracker_->lock);
        if (!tracker_->ended.wait_for(guard, limit, [this] { return tracker_->running == 0; }))
            return false;
    }
    Reap(true);
    return true;
}

size_t CAccountCheck::Running()
{
    Reap(false);
    return checks_.size();
}
