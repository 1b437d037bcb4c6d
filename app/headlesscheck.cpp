#include "headlesscheck.h"

#include "accountfile.h"
#include "accountfileproblem.h"
#include "accountmanager.h"
#include "accountrecord.h"
#include "apppaths.h"
#include "capabilitymemory.h"
#include "checkengine.h"
#include "checkrecords.h"
#include "dialoguebox.h"
#include "dialupnetwork.h"
#include "enginestate.h"
#include "frontwindowtarget.h"
#include "headerlisttarget.h"
#include "libraryaccountplugins.h"
#include "mapiprobelibrary.h"
#include "mergethreadsink.h"
#include "newmailmerge.h"
#include "notificationtarget.h"
#include "portalpostlibrary.h"
#include "printabletext.h"
#include "protocolcheck.h"
#include "tabfield.h"
#include "workerobserver.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <ostream>
#include <vector>

namespace
{

// Whole lines to one stream, from whichever thread has one, each flushed at once: a reader
// at the other end of a pipe sees an account's result as soon as its check has ended.
class LineWriter
{
public:
    explicit LineWriter(std::ostream& out) : out_(out) {}
    void Line(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(lock_);
        out_ << line << '\n';
        out_.flush();
    }

private:
    std::ostream& out_;
    std::mutex lock_;
};

// The header list of the command line: a line per stored message (merge thread). Lines
// wait for their account's summary: messages its check could not record are taken back
// out of the store then, and must not have been announced.
class MessagePrinter final : public HeaderListTarget, public FrontWindowTarget
{
public:
    explicit MessagePrinter(LineWriter& out) : out_(out) {}
    void AddNewMessage(const std::string& account, const StoredMessage& m) override
    {
        std::string line = TabField(account) + '\t' + StoredField(m.sender) + '\t' +
                           StoredField(m.subject) + '\t' + StoredField(m.date) + '\t' +
                           StoredField(m.size) + '\t' + StoredField(m.attachment);
        std::lock_guard<std::mutex> guard(lock_);
        waiting_[account].push_back({m.messageId, std::move(line)});
    }
    void RemoveNewMessages(const std::string& account,
                           const std::vector<std::string>& messageIds) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto& lines = waiting_[account];
        std::erase_if(lines, [&](const auto& l) {
            return std::find(messageIds.begin(), messageIds.end(), l.first) != messageIds.end();
        });
    }
    // Prints the account's waiting lines.
    void Release(const std::string& account)
    {
        std::vector<std::pair<std::string, std::string>> lines;
        {
            std::lock_guard<std::mutex> guard(lock_);
            auto it = waiting_.find(account);
            if (it == waiting_.end())
                return;
            lines = std::move(it->second);
            waiting_.erase(it);
        }
        for (const auto& l : lines)
            out_.Line(l.second);
    }
    void ReleaseAll()
    {
        std::map<std::string, std::vector<std::pair<std::string, std::string>>> all;
        {
            std::lock_guard<std::mutex> guard(lock_);
            all.swap(waiting_);
        }
        for (const auto& [account, lines] : all)
            for (const auto& l : lines)
                out_.Line(l.second);
    }
    void CheckAnimation(bool) override {}
    void Close() override {}

private:
    LineWriter& out_;
    std::mutex lock_;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> waiting_;
};

// Where each requested account stands.
struct Outcome {
    bool started = false;
    bool settled = false;  // finalised, or will never start
    bool reported = false; // its result line is out
    std::string why;       // when it never ran
    bool haveSummary = false;
    CheckResultRecord summary;
    int kind = 0; // the table's kind code: its result codes mean different things
};

// The words for the account's result code, as its kind's checks use the codes.
std::string Meaning(const Outcome& o)
{
    return o.kind == kKindWebMail ? WebMailResultMeaning(o.summary.result)
                                  : CheckResultMeaning(o.summary.result);
}

// Why an account has no summary: the check never ran, or (Exchange) the log-on did not
// succeed, which ends the check without one.
std::string NoSummaryReason(const Outcome& o)
{
    if (!o.why.empty())
        return o.why;
    return o.kind == kKindExchange ? "not logged on (the log-on failed or was cancelled)"
                                   : "no result";
}

// The result line of an account on standard output (fields as the header says).
// The third field is the code's meaning, which scripts may match; a reason of the program's
// own (a store failure) replaces it, a server's words go to standard error only.
std::string ResultLine(const std::string& name, const Outcome& o)
{
    if (o.haveSummary)
        return TabField(name) + '\t' + std::to_string(o.summary.result) + '\t' +
               TabField(o.summary.message.empty() || o.summary.serverReason ? Meaning(o)
                                                                            : o.summary.message) +
               '\t' + std::to_string(o.summary.newCount);
    return TabField(name) + "\t-\t" + TabField(NoSummaryReason(o)) + "\t0";
}

bool Succeeded(const Outcome& o)
{
    return o.haveSummary && o.summary.result == CheckResult::kDone;
}

// What a failed account says on standard error: the message its result carries.
std::string FailureLine(const std::string& name, const Outcome& o)
{
    // A failure's own reason says more than the code's meaning; the server's words follow
    // the meaning ("login refused: PASS failed, server replied: ...").
    std::string message;
    if (!o.haveSummary)
        message = NoSummaryReason(o);
    else if (o.summary.message.empty())
        message = Meaning(o);
    else if (o.summary.serverReason && o.summary.message.rfind(Meaning(o), 0) != 0)
        message = Meaning(o) + ": " + o.summary.message;
    else
        message = o.summary.message;
    return "postwatch: " + PrintableText(name) + ": " + PrintableText(message);
}

// Follows the worker and the merge; guarded by its own lock, since the worker thread
// (observer calls) and the merge thread (summaries) both report here. An account's result
// is printed when its check ends: by the merge thread with the summary, or by the waiting
// main thread when the account settles without one.
class Progress final : public WorkerObserver, public NotificationTarget
{
public:
    Progress(CAccountManager& accounts, const AccountPlugins& plugins,
             const std::vector<std::string>& names, MessagePrinter& printer, LineWriter& out,
             LineWriter& err)
        : accounts_(accounts), plugins_(plugins), names_(names), printer_(printer), out_(out),
          err_(err)
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
            for (const AccountEntry& r : rows) {
                if (r.name != name)
                    continue;
                present = true;
                std::lock_guard<std::mutex> guard(lock_);
                outcomes_[name].kind = r.kind;
            }
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
    void RequestDropped(const std::string& account, DropReason why) override
    {
        // The plug-in has one session: while one local mailbox is logged on, another
        // cannot be, and its check must not pass for done.
        Settle(account, why == DropReason::ExchangeLoggedOn
                            ? "not checked: another local mailbox is logged on, and one is "
                              "watched at a time"
                            : "no network");
    }
    void NotUsable(const std::string& account) override
    {
        // Say what is missing before blaming the password.
        std::string problem = AccountFileProblem(account);
        if (problem.empty())
            problem = PlugInProblem(account);
        Settle(account, problem.empty()
                            ? "not usable (its password does not match the account list)"
                            : "not usable: " + problem);
    }
    void Finalised(const std::string& account, const std::string&) override
    {
        Settle(account, "the check could not start");
    }

    // Merge thread: a check's summary, after the lines of the messages it stored.
    void Notify(const std::string& account, int32_t newCount, int32_t result) override
    {
        NotifySummary({result, newCount, account});
    }
    void NotifySummary(const CheckResultRecord& summary) override
    {
        printer_.Release(summary.account);
        Outcome copy;
        {
            std::lock_guard<std::mutex> guard(lock_);
            auto it = outcomes_.find(summary.account);
            if (it == outcomes_.end() || it->second.reported)
                return;
            it->second.haveSummary = true;
            it->second.summary = summary;
            it->second.reported = true;
            copy = it->second;
        }
        Report(summary.account, copy);
    }
    void ShowText(const std::string& text) override
    {
        err_.Line("postwatch: " + PrintableText(text));
    }

    // Main thread: prints the accounts that settle without a summary, until every one has
    // settled and been reported.
    void ReportUntilAllSettled()
    {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            std::vector<std::pair<std::string, Outcome>> due;
            bool allDone = true;
            for (auto& [name, o] : outcomes_) {
                if (o.settled && !o.reported) {
                    o.reported = true;
                    due.emplace_back(name, o);
                }
                allDone = allDone && o.settled && o.reported;
            }
            if (!due.empty()) {
                guard.unlock();
                for (const auto& [name, o] : due)
                    Report(name, o);
                guard.lock();
                continue;
            }
            if (allDone)
                return;
            settledCv_.wait(guard);
        }
    }
    const Outcome& Of(const std::string& name) const { return outcomes_.at(name); }

private:
    void Settle(const std::string& account, const std::string& why)
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
    void Report(const std::string& name, const Outcome& o)
    {
        out_.Line(ResultLine(name, o));
        if (!Succeeded(o))
            err_.Line(FailureLine(name, o));
    }

    // Why a web-mail or Exchange account's plug-in cannot serve it, or "".
    std::string PlugInProblem(const std::string& account) const
    {
        AccountRecord record;
        record.name = account;
        if (CAccountFile::ReadAccountFile(AppPaths::AccountFile(account), record) != 1)
            return {};
        auto offers = [](const std::vector<std::string>& names, const std::string& name) {
            return std::find(names.begin(), names.end(), name) != names.end();
        };
        if (record.mailType == kMailTypePortalpost &&
            !offers(plugins_.PortalpostCategories(), record.server))
            return "the web-mail plug-in offers no category \"" + record.server + "\"";
        if (record.mailType == kMailTypeExchange && !plugins_.MapiPresent())
            return "the mailbox plug-in finds no mail store on this machine";
        if (record.mailType == kMailTypeExchange && !offers(plugins_.Profiles(), record.server))
            return "the mailbox plug-in offers no profile \"" + record.server + "\"";
        return {};
    }

    CAccountManager& accounts_;
    const AccountPlugins& plugins_;
    const std::vector<std::string>& names_;
    MessagePrinter& printer_;
    LineWriter& out_;
    LineWriter& err_;
    std::mutex lock_;
    std::condition_variable settledCv_;
    std::map<std::string, Outcome> outcomes_;
};

} // namespace

HeadlessCheck::HeadlessCheck(std::ostream& out, std::ostream& err,
                             std::shared_ptr<const AccountPlugins> plugins)
    : out_(out), err_(err),
      plugins_(plugins ? std::move(plugins) : std::make_shared<LibraryAccountPlugins>())
{
}

bool HeadlessCheck::Run(const std::vector<std::string>& accounts)
{
    auto table = std::make_shared<CAccountManager>(plugins_);
    auto state = std::make_shared<CEngineState>();
    // Nobody can answer a question here: a plug-in's "try again?" is answered Cancel, so a
    // refused Exchange log-on ends its check instead of repeating for ever.
    auto dialogue = std::make_shared<HeadlessDialogueBackend>();
    dialogue->SetAnswer(kDialogueIdCancel);
    SetDialogueBackend(dialogue);
    LineWriter out(out_);
    LineWriter err(err_);
    MessagePrinter printer(out);
    Progress progress(*table, *plugins_, accounts, printer, out, err);
    CNewMailMerge merge(*state, &printer, &progress, &printer);
    auto sink = std::make_shared<CMergeThreadSink>(merge);
    auto exchange = std::make_shared<MapiprobeLibrary>(sink);
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
        parts.webMail = std::make_shared<PortalpostLibrary>();
        parts.exchange = exchange;
        parts.network = std::make_shared<CDialupNetwork>(sink);
        parts.wakeWhenCheckEnds = true;
        // Only the named accounts are checked: the Exchange account the desktop logs on to
        // at start-up is not, unless named.
        parts.loadAll = [table] { table->LoadAll("", 0); };
        CCheckEngine engine(std::move(parts));
        engine.SetObserver(&progress);
        engine.Start();
        progress.ReportUntilAllSettled();
        engine.RequestExit();
        // The worker bounds its own draining; the engine's end waits for it.
    }
    // No watch outlives the command: the log-off waits for a delivery under way, which the
    // merge thread still handles.
    exchange->LogoffIfLoggedOn();
    SetDialogueBackend(nullptr);
    sink->Stop();
    merge.CommitAll();
    printer.ReleaseAll(); // summaries not shown while draining

    bool allDone = true;
    for (const std::string& name : accounts)
        allDone = allDone && Succeeded(progress.Of(name));
    return allDone;
}
