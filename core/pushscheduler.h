#pragma once

#include "pushservice.h"
#include "pushsession.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CAccountManager;
class CEngineState;

// The push connections of the IMAP4 accounts whose Account.inf says "Push=Yes": one
// CPushSession each, started and ended as the account table changes. OAuth 2.0 accounts get
// none yet: their password slot holds a refresh token, which no mail server may see.
//
// A wake-up of a session asks for the account's normal check by setting its row Requested
// (only an Idle row; a Requested one already will see the mail) and wakes the worker, so the
// check starts at once instead of at the next scan. The check itself takes the account's
// lock as every check does; the push connection takes no lock while it idles, since it
// writes nothing and a lock held for hours would keep every other writer (a command-line
// check, the properties dialog) out. Two checks of one account never run at once: the
// table starts no check for a row that is not Requested, and a Busy row is not requested
// again (the session asks again once the row is Idle).
//
// Each session's state goes to CEngineState::SetPushState for the account tree's tooltip.
//
// Threads: Follow on the worker thread (it may read Account.inf files but never waits for
// a session: sessions to end are asked to and joined later, or by StopAll); StopAll and the
// destructor on the thread that ends the engine; SessionOf from any thread (tests).
class CPushScheduler final : public PushService
{
public:
    struct Parts {
        std::shared_ptr<CAccountManager> accounts;
        std::shared_ptr<CEngineState> state;
        std::function<void()> wakeWorker;
        std::function<bool()> networkUp;                 // empty: always up
        std::function<std::optional<int>()> readTimeOut; // empty: the Network settings
        CPushSession::Options options{};
    };

    explicit CPushScheduler(Parts parts);
    ~CPushScheduler() override;

    void Bind(std::function<void()> wakeWorker) override;
    void Follow(const std::vector<std::string>& accounts, bool reread) override;
    // Ends every session and waits for each; a later Follow starts them again (a second
    // start of the program enabled checking again while the engine drained).
    void StopAll() override;

    // The session of an account, for tests; null when it has none.
    std::shared_ptr<CPushSession> SessionOf(const std::string& account) const;

private:
    struct Entry {
        std::shared_ptr<CPushSession> session;
        std::string settings; // what the session was started with, to notice edits
    };
    void Retire(std::shared_ptr<CPushSession> session);
    bool RequestCheck(const std::string& account);

    Parts parts_;
    mutable std::mutex lock_;
    std::map<std::string, Entry> sessions_;
    std::vector<std::shared_ptr<CPushSession>> retired_;
};
