#pragma once

#include "mailprovider.h"
#include "postwatch_plugin.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ExchangeMessageHandler;

// The library's one log-on: the scan of every store of a profile, then the watch for new
// mail until log-off.
//
// Logon (the check thread): opens the profile's stores in order and, for each store that is
// scanned (not a store of public folders, not a second copy of the primary identity's
// mail), starts its watch, then hands every unread message of every folder with unread mail
// to ExchangeMessageHandler, at most the folder's unread count of them. The watch starts
// before the folders are counted, so that mail arriving during the scan is seen by the watch
// whatever the count says, and maybe by the scan too (the MIDs file lets it be reported once).
// Results are the PW_LOGON_* codes:
//   - profile refused: the user is asked Retry/Cancel (texts 61343, 61344): 2 or 0;
//   - a store refuses the log-on: 3; a store that cannot be read or watched: the user is
//     asked Retry/Cancel with the reason (caption 61345): 2 after a pause, or 0;
//   - the sink cannot store a record, or the program is going: 0 (the message comes again);
//   - already logged on (or logging on): an information message (61338, 61339) and 4;
//   - the account's MIDs file held by another process (logged on to the same account there):
//     the Retry/Cancel question with caption 61345, nothing scanned: 2 after a pause, or 0;
//   - an account name that cannot name a folder (AccountNames::IsSafeFolderName): 0.
// Every failure undoes what was opened; nothing stays watched.
//
// The watch (the provider's thread): each new message goes through the same handler; a
// report is followed by sink.result(4, 1, account).
//
// Logoff (any thread): stops every watch, waiting for a notification being handled, and
// closes the profile; no record is delivered after it returns. During a log-on it makes the
// log-on stop before its next message and waits for it. Not logged on: an information
// message (61340, 61341) through `sink` when given. Because Logoff waits for a delivery in
// progress, a sink must not wait for the thread that calls Logoff. Called by the sink itself
// while it takes a record, it only stops the reports (the log-on ends with 0; the watch
// passes over new mail and a second log-on gives 4) and a later Logoff closes the rest.
//
// The account's MIDs file stays open (and so locked against a second watcher of the same
// account) from log-on to log-off. Without it (it cannot be opened) each message is still
// reported once per log-on. The scan records new messages as a group commit, one
// flush per folder; new mail seen by the watch is flushed at once.
//
// The state is guarded by one lock, never held while the provider or the sink is called.
class MapiprobeSession
{
public:
    // The library's session over the Maildir provider.
    static MapiprobeSession& Instance();

    explicit MapiprobeSession(std::unique_ptr<MailProvider> provider);
    ~MapiprobeSession(); // logs off quietly
    MapiprobeSession(const MapiprobeSession&) = delete;
    MapiprobeSession& operator=(const MapiprobeSession&) = delete;

    // `logonDialog` asks a provider that can show its own log-on dialogue to do so; the
    // local provider has none. `bodyLimit` counts the terminator.
    int Logon(const PwSink& sink, const std::string& profile, const std::string& account,
              int logonDialog, int32_t& newCount, uint32_t bodyLimit);
    void Logoff(const PwSink* sink);
    bool LoggedOn() const;
    std::vector<std::string> Profiles() const;
    bool ProviderPresent() const;

    // The pause before a Retry after a store failure, so the store has a moment to recover.
    void SetRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }

private:
    enum class State { kOff, kLoggingOn, kOn, kClosing };

    int Scan(const PwSink& sink, const std::string& profile, int32_t& newCount);
    int StoreFailure(const PwSink& sink, const std::string& why, bool profileOpen = true);
    void OnNewMail(const ProviderNewMail& mail);
    // Stops the watches, closes the profile (when it was opened) and the MIDs file, and
    // returns to kOff.
    void TearDown(bool profileOpen = true);
    bool Aborted() const;
    void Tell(const PwSink* sink, unsigned text, unsigned caption) const;

    std::unique_ptr<MailProvider> provider_;
    std::chrono::milliseconds retryPause_{1000};

    mutable std::mutex mutex_;
    std::condition_variable settled_; // state_ left kLoggingOn or kClosing
    State state_ = State::kOff;
    bool abort_ = false; // Logoff during a log-on
    PwSink sink_{};
    std::string account_;
    std::unique_ptr<ExchangeMessageHandler> handler_;
    std::vector<int> watches_;
    std::map<std::string, std::string> storeNames_; // store id -> display name
};
