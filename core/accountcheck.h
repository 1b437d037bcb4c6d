#pragma once

#include "checklauncher.h"
#include "checkservices.h"

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CCheckCancel;

// StartCheck and the check threads: one thread per account check.
//
// StartCheck(name) starts the account's check thread. The thread first takes the account's
// lock (CAccountLock: one check of an account at a time, across processes), and only then
// reads Account.inf and, for POP3 and IMAP4, makes its known identifiers ready (SeenUids:
// UID.inf must take appends, identifiers of stored messages that UID.inf lacks are added).
// When the lock stays taken by another process, a file cannot be used, or the kind is
// unknown, the check ends with a summary of result 1 whose message says why ("Work is
// already being checked", "cannot write the list of seen messages: ...", "unknown account
// kind ..."), and reports Check finished; it touches nothing.
//
// A message the front answers with kNotStored ends the check early (its connection is
// cancelled); the merge turns the summary into result 1 with the reason.
//
// A POP3/IMAP4 check thread reads the idle time-out from the Network settings; an account
// that signs in with OAuth 2.0 ("SignIn=OAuth2") then gets its access token
// (CAccessTokenSource), and one that cannot ends with that summary (result 2 when it must
// sign in again, told once per account; 3 or 1 when the provider cannot be asked) without
// connecting to the mail server. It then shows the
// checking animation when the account is the selected one, runs the protocol check (with
// the account's FromNow marker it only records the identifiers on the server in UID.inf
// and removes the marker: fromnowmarker.h),
// stops the animation it started, sends the summary (kind 5: result, new count, account)
// and reports Check finished. Check finished is reported on every path, also when the
// check throws. Web-mail and Exchange threads do the same through their plug-ins.
//
// Exit: CancelChecks() cancels every running check's connection; WaitAll() waits a bounded
// time for the threads; the destructor cancels, waits up to `exitWait`, and leaves
// threads that still run to finish on their own (they hold their services by shared
// pointers).
//
// Threads: StartCheck and CancelChecks on the worker thread; WaitAll and the destructor
// on the thread that ends the engine.
class CAccountCheck final : public CheckLauncher
{
public:
    explicit CAccountCheck(CheckServices services,
                           std::chrono::milliseconds exitWait = std::chrono::seconds(5));
    ~CAccountCheck() override;
    CAccountCheck(const CAccountCheck&) = delete;
    CAccountCheck& operator=(const CAccountCheck&) = delete;

    void StartCheck(const std::string& account) override;
    void CancelChecks() override;

    // True when every check thread has ended within `limit` (they are then joined).
    bool WaitAll(std::chrono::milliseconds limit);
    // Check threads not yet joined.
    size_t Running();

private:
    struct Tracker {
        std::mutex lock;
        std::condition_variable ended;
        int running = 0;
    };
    struct Check {
        std::thread thread;
        std::shared_ptr<CCheckCancel> cancel;
        std::shared_ptr<bool> done; // guarded by Tracker::lock
    };
    void Reap(bool all);

    std::shared_ptr<const CheckServices> services_;
    std::shared_ptr<Tracker> tracker_;
    std::list<Check> checks_;
    std::chrono::milliseconds exitWait_;
};
