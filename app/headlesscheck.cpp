#include "headlesscheck.h"

#include "accountmanager.h"
#include "capabilitymemory.h"
#include "checkengine.h"
#include "checkrecords.h"
#include "dialupnetwork.h"
#include "enginestate.h"
#include "frontwindowtarget.h"
#include "headerlisttarget.h"
#include "mergethreadsink.h"
#include "newmailmerge.h"
#include "notificationtarget.h"
#include "protocolcheck.h"
#include "tabfield.h"
#include "workerobserver.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <ostream>

namespace
{

// Where each requested account stands.
struct Outcome {
    bool started = false;
    bool settled = false; // finalised, or will never start
    std::string why;      // when it never ran
    bool haveSummary = false;
    CheckResultRecord summary;
};

// Follows the worker and the merge; guarded by its own lock, since the worker thread
// (observer calls) and the merge thread (summaries) both report here.
class Progress final : public WorkerObserver, public NotificationTarget
{
public:
    Progress(CAccountManager& accounts, const std::vector<std::string>& names, std::ostream& err)
        : accounts_(accounts), names_(names), err_(err)
    {
        for (const std::string& n : names)
            outcomes_[n];
    }

    // Worker: the table is loaded, before the first scan: request the checks.
    void Loaded() override
    {
        for (const std::string& name : names_) {
            if (accounts_.EnterOrRequest(name, 1, nullptr, nullptr, 0) ==
                CAccountManager::kEnterRefused)
                Settle(name, "cannot be checked");
        }
        // An account whose row did not come in (its record was skipped) never starts.
        std::vector<AccountEntry> rows = accounts_.Snapshot();
        for (const std::string& name : names_) {
            bool present = false;
            for (const AccountEntry& r : rows)
                present = present || r.name == name;
            if (!present)
                Settle(name, "not in the account table");
        }
    }
    void CheckStarted(const std::string& account) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = outcomes_.find(account);
        if (it != outcomes_.end())
            it->second.started = true;
    }
    void RequestDropped(const std::string& account) override { Settle(account, "no network"); }
    void NotUsable(const std::string& account) override
    {
        Settle(account, "not usable (its password does not match the account list)");
    }
    void Finalised(const std::string& account, const std::string&) override
    {
        Settle(account, "the check could not start");
    }

    // Merge thread: a check's summary.
    void Notify(const std::string& account, int32_t newCount, int32_t result) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = outcomes_.find(account);
        if (it != outcomes_.end()) {
            it->second.haveSummary = true;
            it->second.summary = {result, newCount, account};
        }
    }
    void ShowText(const std::string& text) override { err_ << "postwatch: " << text << "\n"; }

    void WaitAllSettled()
    {
        std::unique_lock<std::mutex> guard(lock_);
        settledCv_.wait(guard, [this] {
            for (const auto& [name, o] : outcomes_)
                if (!o.settled)
                    return false;
            return true;
        });
    }
    const Outcome& Of(const std::string& name) const { return outcomes_.at(name); }

private:
    void Settle(const std::string& account, const char* why)
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = outcomes_.find(account);
        if (it == outcomes_.end() || it->second.settled)
            return;
        it->second.settled = true;
        if (!it->second.started)
            it->second.why = why;
        settledCv_.notify_all();
    }

    CAccountManager& accounts_;
    const std::vector<std::string>& names_;
    std::ostream& err_;
    std::mutex lock_;
    std::condition_variable settledCv_;
    std::map<std::string, Outcome> outcomes_;
};

// The header list of the command line: a line per stored message (merge thread).
class MessagePrinter final : public HeaderListTarget, public FrontWindowTarget
{
public:
    explicit MessagePrinter(std::ostream& out) : out_(out) {}
    void AddNewMessage(const std::string& account, const StoredMessage& m) override
    {
        out_ << TabField(account) << '\t' << TabField(m.sender) << '\t' << TabField(m.subject)
             << '\t' << TabField(m.date) << '\t' << TabField(m.size) << '\t'
             << TabField(m.attachment) << '\n';
    }
    void CheckAnimation(bool) override {}
    void Close() override {}

private:
    std::ostream& out_;
};

} // namespace

HeadlessCheck::HeadlessCheck(std::ostream& out, std::ostream& err) : out_(out), err_(err)
{
}

bool HeadlessCheck::Run(const std::vector<std::string>& accounts)
{
    auto table = std::make_shared<CAccountManager>();
    auto state = std::make_shared<CEngineState>();
    Progress progress(*table, accounts, err_);
    MessagePrinter printer(out_);
    CNewMailMerge merge(*state, &printer, &progress, &printer);
    auto sink = std::make_shared<CMergeThreadSink>(merge);
    {
        CCheckEngine::Parts parts;
        parts.accounts = table;
        parts.state = state;
        parts.sink = sink;
        auto capabilities =
            std::make_shared<CCapabilityMemory>(CCapabilityMemory::Keep::InAccountFolder);
        parts.pop3 = std::make_shared<CProtocolCheck>(CProtocolCheck::Protocol::Pop3, capabilities);
        parts.imap4 =
            std::make_shared<CProtocolCheck>(CProtocolCheck::Protocol::Imap4, capabilities);
        parts.network = std::make_shared<CDialupNetwork>(sink);
        parts.wakeWhenCheckEnds = true;
        CCheckEngine engine(std::move(parts));
        engine.SetObserver(&progress);
        engine.Start();
        progress.WaitAllSettled();
        engine.RequestExit();
        // The worker bounds its own draining; the engine's end waits for it.
    }
    sink->Stop();

    bool allDone = true;
    for (const std::string& name : accounts) {
        const Outcome& o = progress.Of(name);
        if (o.haveSummary) {
            out_ << TabField(name) << '\t' << o.summary.result << '\t'
                 << CheckResultMeaning(o.summary.result) << '\t' << o.summary.newCount << '\n';
            allDone = allDone && o.summary.result == CheckResult::kDone;
        } else {
            out_ << TabField(name) << "\t-\t" << (o.why.empty() ? "no result" : o.why) << "\t0\n";
            allDone = false;
        }
    }
    return allDone;
}
