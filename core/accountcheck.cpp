#include "accountcheck.h"

#include "accesstokensource.h"
#include "accountfile.h"
#include "accountfileproblem.h"
#include "accountlock.h"
#include "accountmanager.h"
#include "accountrecord.h"
#include "accountsecret.h"
#include "apppaths.h"
#include "checkcancel.h"
#include "enginesink.h"
#include "enginestate.h"
#include "exchangeplugin.h"
#include "fromnowmarker.h"
#include "protocolcheck.h"
#include "regsettings.h"
#include "seenuids.h"
#include "settingnumber.h"
#include "uidfile.h"
#include "uidvalidity.h"
#include "webmailplugin.h"

#include <atomic>
#include <climits>
#include <exception>
#include <new>
#include <system_error>

namespace
{

using Services = std::shared_ptr<const CheckServices>;

constexpr char kRenumberedText[] =
    "the server renumbered its messages; the mail already there is taken as seen";

std::optional<int> ReadTimeOut(const CheckServices& services)
{
    if (services.readTimeOut)
        return services.readTimeOut();
    CRegSettings settings;
    if (settings.LoadNetwork() != 1)
        return std::nullopt;
    return settings.network.TimeOutSeconds();
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

// A renumbered mailbox (uidvalidity.h): the account's stored IMAP4 records are unlinked
// from the old UIDs first, then UID.inf becomes exactly what the server lists now. Only
// after both may the caller keep the new UIDVALIDITY, so a check that fails or dies in
// between leaves the old value and the next check takes this same path again. Records
// still holding old UIDs would have the read state of other messages followed by them, and
// old UIDs left in UID.inf would hide new messages that come to carry them.
bool SettleRenumbered(CEngineSink& sink, const std::string& account,
                      const std::vector<std::string>& onServer, bool fromNow, std::string& message)
{
    // Message.box is written on the front's one thread (enginesink.h), never here.
    if (sink.SendMailboxRenumbered(account) != CEngineSink::kHandled) {
        // The merge keeps its own reason for the summary; this one is for a front gone.
        message = "cannot unlink the stored messages from the server's old numbering";
        return false;
    }
    std::string why;
    if (ReplaceUids(AppPaths::UidFile(account), onServer, &why) != 1) {
        message = "cannot write the list of seen messages: " + why;
        return false;
    }
    // The list just written is the whole server: "from now on" is done too.
    return !fromNow || RemoveFromNowMarker(account, &message);
}

void RunProtocolCheck(const CheckServices& s, ProtocolCheck* check, const AccountRecord& record,
                      std::unordered_set<std::string>& known, SeenUids& seen, CCheckCancel& cancel,
                      bool fromNow)
{
    if (!check)
        return;
    CheckRequest request;
    request.server = record.server;
    request.port = LeadingDecimal(record.port);
    request.security = record.security;
    request.userName = record.userName;
    request.password = record.password;
    request.pin = record.pin;
    request.knownUids.swap(known);
    if (record.mailType == kMailTypeImap4) {
        request.storedUids = seen.TakeStoredImap();
        request.readUids = seen.TakeReadImap();
        request.markReadOnServer = record.markReadOnServer == "Yes";
    }
    request.account = record.name;
    request.preview = LeadingDecimal(record.priview);
    const std::optional<int> timeOut = ReadTimeOut(s);
    if (!timeOut)
        return;
    request.timeOutSeconds = *timeOut;
    if (UsesOAuthSignIn(record)) {
        // The password slot holds the refresh token; the server gets an access token.
        CAccessTokenSource::Result token = CAccessTokenSource({}, *timeOut).Get(record);
        if (token.result != CheckResult::kDone) {
            s.sink->SendSummary({token.result, 0, record.name, token.message, !token.ownReason});
            return;
        }
        request.password = std::move(token.accessToken);
        request.saslMechanism = token.mechanism;
    }
    // "Only mail that arrives from now on": the server's list is recorded, nothing fetched.
    // So it is when the IMAP4 server renumbered its mailbox (uidvalidity.h), where the list
    // holds every UID on the server and replaces UID.inf.
    std::vector<std::string> existing;
    auto recordInto = [&existing](std::vector<std::string> uids) { existing = std::move(uids); };
    if (fromNow)
        request.recordExisting = recordInto;
    uint32_t validity = 0;
    if (record.mailType == kMailTypeImap4) {
        request.uidValidity = ReadUidValidity(record.name);
        request.recordRenumbered = recordInto;
        request.uidValidityFound = [&validity](uint32_t v) { validity = v; };
    }

    int32_t newCount = 0;
    int result = CheckResult::kNoMemory;
    // What the server still owes once the result is final (the answer to QUIT) is waited for
    // after the summary, so the user sees the result without that wait.
    ProtocolCheck::Closing closing;
    std::string message;
    PeerCertificate refused;
    bool told = false;
    {
        Animation animation(*s.sink, *s.state, record.name);
        try {
            result = check->Run(request, *s.sink, newCount, cancel, closing, message, refused);
            const bool renumbered =
                request.uidValidity != 0 && validity != 0 && validity != request.uidValidity;
            // The marker goes only once the identifiers are in UID.inf; a failed check
            // leaves both as they were.
            if (result == CheckResult::kDone &&
                (renumbered ? !SettleRenumbered(*s.sink, record.name, existing, fromNow, message)
                            : fromNow && !SettleFromNowMarker(record.name, existing, &message)))
                result = CheckResult::kFailedAfterLogin;
            if (result == CheckResult::kDone && validity != 0 && validity != request.uidValidity) {
                // Not kept, it is looked for again: nothing is lost, so the check stays done.
                WriteUidValidity(record.name, validity);
                if (renumbered && message.empty())
                    message = kRenumberedText;
                told = renumbered;
            }
        } catch (const std::bad_alloc&) {
            result = CheckResult::kNoMemory;
        } catch (const std::exception&) {
            result = CheckResult::kFailedAfterLogin;
        }
    }
    // A token the server refuses (revoked early, or the clock was off) is not offered again:
    // the next check gets a fresh one.
    if (result == CheckResult::kLoginRefused && UsesOAuthSignIn(record))
        CAccessTokenSource::Forget(record.name);
    // The desktop shows no message with a summary that is done, so the renumbering also goes
    // out as an engine text; the command line prints the summary's message.
    if (told)
        s.sink->SendText({CheckResult::kDone, 0, record.name + ": " + kRenumberedText});
    CheckResultRecord summary{result, newCount, record.name, message, true};
    summary.certificate = std::move(refused);
    s.sink->SendSummary(summary);
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
    std::string failure;
    {
        Animation animation(*s.sink, *s.state, record.name);
        result = s.webMail->CheckPortalpostMsg(*s.sink, record.server, record.name, record.userName,
                                               record.password, newCount, *timeOut, failure);
    }
    // The plug-in's words follow the code's meaning, as a mail server's do: mostly they come
    // from the conversation with the server, and the code still says what kind of failure
    // it was.
    s.sink->SendSummary({result, newCount, record.name,
                         result == WebMailResult::kDone ? std::string() : failure, true});
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

// The sink a check's own code talks to: passes everything on, notes whether the summary
// went out, and ends the check early once a message could not be stored, since the rest
// would not be stored either and each comes again at a later check.
class CheckDelivery final : public CEngineSink
{
public:
    CheckDelivery(std::shared_ptr<CEngineSink> sink, CCheckCancel& cancel)
        : sink_(std::move(sink)), cancel_(cancel)
    {
    }
    int SendNewMessage(uint32_t kind, const MessageRecord& record) override
    {
        return Delivered(sink_->SendNewMessage(kind, record));
    }
    int SendExchangeMessage(const ExchangeMessageRecord& record) override
    {
        return Delivered(sink_->SendExchangeMessage(record));
    }
    int SendWebMailMessage(const WebMailMessageRecord& record) override
    {
        return Delivered(sink_->SendWebMailMessage(record));
    }
    int SendSummary(const CheckResultRecord& record) override
    {
        summarySent_ = true;
        return sink_->SendSummary(record);
    }
    int SendText(const CheckResultRecord& record) override { return sink_->SendText(record); }
    int SendServerState(const ServerStateRecord& record) override
    {
        return sink_->SendServerState(record);
    }
    int SendMailboxRenumbered(const std::string& account) override
    {
        return sink_->SendMailboxRenumbered(account);
    }
    int SendCheckAnimation(bool on) override { return sink_->SendCheckAnimation(on); }
    void PostClose() override { sink_->PostClose(); }
    bool SummarySent() const { return summarySent_; }

private:
    int Delivered(int result)
    {
        if (result == kNotStored)
            cancel_.Cancel();
        return result;
    }
    std::shared_ptr<CEngineSink> sink_;
    CCheckCancel& cancel_;
    std::atomic<bool> summarySent_{false};
};

// A check that cannot go on ends with a summary saying why (result 1).
void EndWithFailure(CEngineSink& sink, const std::string& account, const std::string& why)
{
    sink.SendSummary({CheckResult::kFailedAfterLogin, 0, account, why});
}

// The whole check of one account, on its own thread, under the account's lock: nothing of
// the account's files is read before the lock is held, so a check in another process
// never sees them half written by this one, and two never store the same mail.
void RunCheck(const CheckServices& cs, const std::string& account, CCheckCancel& cancel)
{
    auto delivery = std::make_shared<CheckDelivery>(cs.sink, cancel);
    CheckServices s = cs;
    s.sink = delivery;
    try {
        CAccountLock lock;
        std::string error;
        switch (lock.Acquire(AppPaths::AccountDir(account), CAccountLock::kDefaultWait, &error)) {
        case CAccountLock::Outcome::Held:
            break;
        case CAccountLock::Outcome::Busy:
            EndWithFailure(*delivery, account, CAccountLock::BusyMessage(account));
            return;
        case CAccountLock::Outcome::Failed: {
            const std::string problem = AccountFileProblem(account);
            EndWithFailure(*delivery, account, problem.empty() ? error : problem);
            return;
        }
        }

        AccountRecord record;
        record.name = account;
        if (CAccountFile::ReadAccountFile(AppPaths::AccountFile(account), record) != 1) {
            const std::string problem = AccountFileProblem(account);
            EndWithFailure(*delivery, account,
                           problem.empty() ? "cannot read " + AppPaths::AccountFile(account)
                                           : problem);
            return;
        }
        record.name = account;

        // A password in the keyring is read here, on the check's thread: a locked keyring
        // may show its unlock prompt (once, and only where someone can see it), and a
        // password it does not give ends the check with a reason of its own instead of a
        // log-in with an empty password.
        if (AccountSecret::HasPassword(record)) {
            const SystemKeyring::Result secret = AccountSecret::Resolve(
                record,
                SystemKeyring::PromptCanBeSeen() ? SystemKeyring::Prompt::Allowed
                                                 : SystemKeyring::Prompt::Never,
                SystemKeyring::kPromptLimit);
            if (!secret.Ok()) {
                delivery->SendSummary({CheckResult::kLoginRefused, 0, account,
                                       AccountSecret::UnavailableText(secret.error)});
                return;
            }
        }

        if (record.mailType == kMailTypePop3 || record.mailType == kMailTypeImap4) {
            SeenUids seen;
            const SeenUids::Outcome outcome =
                seen.Load(AppPaths::MailBoxFile(account), AppPaths::UidFile(account));
            if (outcome != SeenUids::Outcome::Ready) {
                std::string why = seen.Error();
                if (outcome == SeenUids::Outcome::MailBoxUnusable)
                    why += "; \"postwatch --repair " + account +
                           "\" rebuilds it from the messages that are still whole";
                EndWithFailure(*delivery, account, why);
                return;
            }
            std::unordered_set<std::string> known = seen.TakeUids();
            RunProtocolCheck(s, record.mailType == kMailTypePop3 ? s.pop3.get() : s.imap4.get(),
                             record, known, seen, cancel, HasFromNowMarker(account));
        } else if (record.mailType == kMailTypePortalpost) {
            RunWebMailCheck(s, record);
        } else if (record.mailType == kMailTypeExchange) {
            RunExchangeCheck(s, record);
        } else {
            const std::string problem = AccountFileProblem(account);
            EndWithFailure(*delivery, account,
                           !problem.empty() ? problem
                           : record.mailType.empty()
                               ? "unknown account kind: " + AppPaths::AccountFile(account) +
                                     " names none"
                               : "unknown account kind \"" + record.mailType + "\"");
        }
    } catch (const std::exception& e) {
        // Whatever went wrong, the user hears of it once.
        if (!delivery->SummarySent())
            EndWithFailure(*delivery, account, std::string("the check failed: ") + e.what());
    }
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
    // Everything else happens on the check's thread, under the account's lock, which may
    // take a while to get: the worker's scan must not wait for it.
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
        check.thread = std::thread([services, tracker, cancel, done, account]() {
            const CheckServices& cs = *services;
            try {
                RunCheck(cs, account, *cancel);
            } catch (...) {
                // Whatever went wrong, the account must leave Busy.
            }
            cs.accounts->CheckFinished(account);
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
