#include "mapiprobesession.h"

#include "accountnames.h"
#include "exchangemessagehandler.h"
#include "maildirprovider.h"
#include "resourcelibrary.h"

#include <thread>

namespace
{

constexpr unsigned kAlreadyText = 61338;
constexpr unsigned kAlreadyCaption = 61339;
constexpr unsigned kNotLoggedOnText = 61340;
constexpr unsigned kNotLoggedOnCaption = 61341;
constexpr unsigned kLogonFailedText = 61343;
constexpr unsigned kLogonFailedCaption = 61344;
constexpr unsigned kStoreCaption = 61345;

// The session whose sink this thread is calling (a record or a summary), so that a log-off
// from inside the sink neither waits for itself nor closes what is in use.
thread_local const MapiprobeSession* t_reporting = nullptr;

struct Reporting {
    explicit Reporting(const MapiprobeSession* session) { t_reporting = session; }
    ~Reporting() { t_reporting = nullptr; }
    Reporting(const Reporting&) = delete;
    Reporting& operator=(const Reporting&) = delete;
};

std::string Text(unsigned id)
{
    if (!ResourceLibrary::IsLoaded()) {
        std::string ignored;
        ResourceLibrary::LoadDefault(&ignored);
    }
    return LoadResourceString(id);
}

int Ask(const PwSink& sink, const std::string& text, const std::string& caption, uint32_t buttons,
        uint32_t icon)
{
    if (!sink.ask)
        return PW_ANSWER_CANCEL;
    return sink.ask(sink.ctx, text.c_str(), caption.c_str(), buttons, icon);
}

} // namespace

MapiprobeSession::MapiprobeSession(std::unique_ptr<MailProvider> provider)
    : provider_(std::move(provider))
{
}

MapiprobeSession::~MapiprobeSession()
{
    Logoff(nullptr);
}

bool MapiprobeSession::LoggedOn() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ == State::kOn;
}

std::vector<std::string> MapiprobeSession::Profiles() const
{
    return provider_->Profiles();
}

bool MapiprobeSession::ProviderPresent() const
{
    return provider_->Present();
}

void MapiprobeSession::Tell(const PwSink* sink, unsigned text, unsigned caption) const
{
    if (sink)
        Ask(*sink, Text(text), Text(caption), PW_ASK_OK, PW_ASK_ICON_INFORMATION);
}

bool MapiprobeSession::Aborted() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return abort_;
}

int MapiprobeSession::Logon(const PwSink& sink, const std::string& profile,
                            const std::string& account, int /*logonDialog*/, int32_t& newCount,
                            uint32_t bodyLimit)
{
    // The account names a folder of the data folder: a name that could lead elsewhere
    // ("..", a "/") is refused before anything is opened.
    if (!AccountNames::IsSafeFolderName(account))
        return PW_LOGON_FAILED;
    auto handler = std::make_unique<ExchangeMessageHandler>(*provider_, sink, account, bodyLimit);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::kOff) {
            state_ = State::kLoggingOn;
            abort_ = false;
            sink_ = sink;
            account_ = account;
            handler_ = std::move(handler);
        }
    }
    if (handler) { // not taken: a log-on is open or under way
        Tell(&sink, kAlreadyText, kAlreadyCaption);
        return PW_LOGON_ALREADY;
    }
    // Without the file every message counts as new (reported, not silenced); the handler
    // tries again with each message. A file another process holds is another log-on to this
    // account (the desktop's, while the command line checks): it reports this mail already,
    // and a scan here would file every unread message a second time.
    std::string why;
    if (handler_->OpenMids(&why) == CMidsFile::OpenResult::kBusy)
        return StoreFailure(sink,
                            "another Postwatch is logged on to \"" + account +
                                "\" and watches its mail (" + why + "); log it off first",
                            false);

    const int result = Scan(sink, profile, newCount);
    if (result != PW_LOGON_DONE)
        return result; // Scan has torn down
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = State::kOn;
    settled_.notify_all();
    return PW_LOGON_DONE;
}

int MapiprobeSession::StoreFailure(const PwSink& sink, const std::string& why, bool profileOpen)
{
    TearDown(profileOpen);
    if (Ask(sink, why, Text(kStoreCaption), PW_ASK_RETRYCANCEL, PW_ASK_ICON_QUESTION) !=
        PW_ANSWER_RETRY)
        return PW_LOGON_FAILED;
    std::this_thread::sleep_for(retryPause_);
    return PW_LOGON_RETRY;
}

int MapiprobeSession::Scan(const PwSink& sink, const std::string& profile, int32_t& newCount)
{
    std::vector<ProviderStore> stores;
    std::string why;
    switch (provider_->OpenProfile(profile, stores, &why)) {
    case ProviderStatus::kOk:
        break;
    case ProviderStatus::kLogonFailed: {
        TearDown(false);
        std::string text = Text(kLogonFailedText);
        if (!why.empty())
            text = why + "\n\n" + text;
        return Ask(sink, text, Text(kLogonFailedCaption), PW_ASK_RETRYCANCEL,
                   PW_ASK_ICON_QUESTION) == PW_ANSWER_RETRY
                   ? PW_LOGON_RETRY
                   : PW_LOGON_FAILED;
    }
    case ProviderStatus::kStoreFailed:
        return StoreFailure(sink, why, false);
    }

    for (const ProviderStore& store : stores) {
        // Public folders are shared mail, not the user's; a store that is not the default
        // one but is the primary identity's is a second view of the user's own mail.
        if (store.publicFolders || (!store.isDefault && store.primaryIdentity))
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            storeNames_[store.id] = store.displayName;
        }
        // Watched before its folders are counted: mail that lands after the count (in a
        // folder counted empty, or past a folder's budget) is the watch's to report.
        const int watch = provider_->Watch(
            store, [this](const ProviderNewMail& mail) { OnNewMail(mail); }, &why);
        if (watch <= 0)
            return StoreFailure(sink, why.empty() ? "cannot watch " + store.displayName : why);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            watches_.push_back(watch);
        }
        std::vector<ProviderFolder> folders;
        switch (provider_->Folders(store, folders, &why)) {
        case ProviderStatus::kOk:
            break;
        case ProviderStatus::kLogonFailed:
            TearDown();
            return PW_LOGON_RETRY_DIALOG;
        case ProviderStatus::kStoreFailed:
            return StoreFailure(sink, why);
        }

        for (const ProviderFolder& folder : folders) {
            if (folder.unreadCount == 0)
                continue;
            std::vector<ProviderMessage> messages;
            // A folder that cannot be listed now is left to the watch: its new mail is
            // still reported as it comes.
            if (provider_->Messages(folder, messages, &why) != ProviderStatus::kOk)
                continue;
            uint32_t handled = 0;
            for (const ProviderMessage& message : messages) {
                if (message.read)
                    continue;
                if (handled >= folder.unreadCount)
                    break;
                ++handled;
                if (Aborted()) {
                    TearDown();
                    return PW_LOGON_FAILED;
                }
                using Outcome = ExchangeMessageHandler::Outcome;
                // A group commit: one flush per folder rather than one per message.
                const Reporting reporting(this);
                switch (handler_->Handle(
                    {store.id, store.displayName, folder.id, folder.displayName, message.entryId},
                    true)) {
                case Outcome::kReported:
                    ++newCount;
                    break;
                case Outcome::kPassedOver:
                case Outcome::kDeleted:
                    break;
                case Outcome::kNotStored:
                case Outcome::kFrontGone:
                    // The program cannot take more now: end the check; the message comes
                    // again at the next log-on.
                    TearDown();
                    return PW_LOGON_FAILED;
                }
            }
            handler_->Flush();
        }
    }
    // The outbox step of a MAPI log-on (a message created in the outbox and released
    // unsaved, to wake the transport) has no meaning for local folders: left out.
    if (Aborted()) {
        TearDown();
        return PW_LOGON_FAILED;
    }
    return PW_LOGON_DONE;
}

void MapiprobeSession::OnNewMail(const ProviderNewMail& mail)
{
    ExchangeMessageHandler* handler = nullptr;
    ExchangeMessageHandler::Where where;
    PwSink sink{};
    std::string account;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Logoff has begun (it waits for this call to return before it closes anything).
        if ((state_ != State::kOn && state_ != State::kLoggingOn) || abort_)
            return;
        handler = handler_.get();
        auto store = storeNames_.find(mail.storeId);
        where.storeName = store == storeNames_.end() ? std::string() : store->second;
        sink = sink_;
        account = account_;
    }
    where.storeId = mail.storeId;
    where.folderId = mail.folderId;
    where.folderName = provider_->FolderName(mail.folderId);
    where.entryId = mail.entryId;
    // The handler lives until every watch has stopped, and this call is part of a watch.
    const Reporting reporting(this);
    if (handler->Handle(where) != ExchangeMessageHandler::Outcome::kReported || !sink.result)
        return;
    if (Aborted())
        return; // the sink asked for a log-off while it filed the record
    sink.result(sink.ctx, 4, 1, account.c_str());
}

void MapiprobeSession::TearDown(bool profileOpen)
{
    std::vector<int> watches;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        watches.swap(watches_);
    }
    // Each Unwatch waits for a notification of its watch being handled.
    for (int watch : watches)
        provider_->Unwatch(watch);
    if (profileOpen)
        provider_->CloseProfile();
    std::unique_ptr<ExchangeMessageHandler> handler;
    std::lock_guard<std::mutex> lock(mutex_);
    handler.swap(handler_); // closes the MIDs file, after the lock is let go
    storeNames_.clear();
    state_ = State::kOff;
    abort_ = false;
    settled_.notify_all();
}

void MapiprobeSession::Logoff(const PwSink* sink)
{
    if (t_reporting == this) {
        // Called by the sink while it takes a record: nothing more is reported from now on
        // (the scan stops before its next message, the watch passes over what comes), and
        // the next Logoff from outside the sink closes the rest.
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::kOn || state_ == State::kLoggingOn)
            abort_ = true;
        return;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (state_ == State::kLoggingOn) {
            // Stop the log-on before its next message and wait for it to undo itself.
            abort_ = true;
            settled_.wait(lock, [this] { return state_ != State::kLoggingOn; });
            if (state_ == State::kOff)
                return;
        }
        if (state_ == State::kClosing) { // another log-off is under way: wait for its end
            settled_.wait(lock, [this] { return state_ == State::kOff; });
            return;
        }
        if (state_ == State::kOff) {
            lock.unlock();
            Tell(sink, kNotLoggedOnText, kNotLoggedOnCaption);
            return;
        }
        state_ = State::kClosing;
    }
    TearDown();
}

MapiprobeSession& MapiprobeSession::Instance()
{
    static MapiprobeSession session(std::make_unique<MaildirProvider>());
    return session;
}
