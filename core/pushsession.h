#pragma once

#include "checkrequest.h"
#include "idlelines.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

class MailSocket;

// One account's push connection (RFC 2177 IDLE) on a thread of its own.
//
// The thread connects (implicit TLS or STARTTLS as the account asks, with the same policy as
// a check: a required TLS that the server does not give ends the attempt), logs in, selects
// INBOX and idles. An untagged EXISTS, RECENT, EXPUNGE or FETCH (new mail, mail removed,
// flags changed by another client) calls `wake`, which asks the engine for the account's
// normal check: the check runs on its own connection under the account's lock, through the
// same merge, filter rules and notifications as any other check, while this connection
// stays in IDLE. When `wake` answers false (a check of the account is already running, so
// the request could not be placed) it is asked again every `retry` until it answers true,
// so mail that arrived during that check is not left to the next schedule. An EXISTS that
// repeats the mailbox's size is no change; a connection made again after a loss asks for a
// check once it idles, since mail may have come while nobody listened.
//
// The IDLE is renewed (DONE, then IDLE again) every `renew` (25 minutes: RFC 2177 section 3
// asks clients to re-issue it at least every 29 minutes). A lost connection is made again
// after a wait that starts at `backoffFirst` and doubles up to `backoffMax`; a connection
// that stayed in IDLE for `stable` resets the wait. One dropped sooner (a server that hangs
// up right after its continuation) goes on doubling it, so neither its log-ins nor the
// checks that reconnects ask for come faster and faster. While `networkUp` answers false nothing is
// tried; the session looks again after the current wait. A server whose capabilities lack IDLE ends
// the session in state NoIdle: the account's periodic schedule is then all there is.
//
// Idling costs no wake-ups: the thread sleeps in poll() on the socket and an event
// descriptor until the server speaks, the renewal is due or Stop() is called.
//
// Threads: the constructor, Start and Stop on one owner thread; State() and the counters
// from any thread. `wake`, `networkUp` and `changed` run on the session's thread and must
// not block for long. Stop() ends the connection at once (the descriptor wakes the poll)
// and joins the thread; the destructor calls it.
class CPushSession
{
public:
    enum class State { Starting, Connected, Reconnecting, Paused, NoIdle, Stopped };

    struct Options {
        std::chrono::milliseconds renew{25 * 60 * 1000};
        std::chrono::milliseconds backoffFirst{1000};
        std::chrono::milliseconds backoffMax{5 * 60 * 1000};
        std::chrono::milliseconds retry{25};
        std::chrono::milliseconds stable{60 * 1000};
    };
    struct Hooks {
        std::function<bool()> wake;
        std::function<bool()> networkUp; // empty: always up
        std::function<void(State)> changed;
    };

    // `request` carries server, port, security, user name, password, account and time-out.
    CPushSession(CheckRequest request, Hooks hooks, Options options);
    ~CPushSession();
    CPushSession(const CPushSession&) = delete;
    CPushSession& operator=(const CPushSession&) = delete;

    void Start();
    // Asks the thread to end without waiting for it.
    void RequestStop();
    // RequestStop, then joins the thread.
    void Stop();
    // True once the thread has returned (or was never started).
    bool Ended() const { return ended_.load(); }

    State CurrentState() const { return state_.load(); }
    // Connection attempts so far (each connect, successful or not).
    int Attempts() const { return attempts_.load(); }
    // Wake-ups passed on to `wake` that it accepted.
    int WakeUps() const { return wakeUps_.load(); }
    // Times the thread returned from a wait without being asked to (for the benchmark).
    long Polls() const { return polls_.load(); }
    // When the last mailbox change was read from the server (for the benchmark).
    std::chrono::steady_clock::time_point LastChange() const
    {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(lastChange_.load()));
    }
    // The reason of the last failed attempt, for the tooltip.
    std::string LastError() const;

    static const char* StateName(State state);

private:
    void Run();
    // One connection: 0 ended by Stop, 1 lost after IDLE was reached, -1 lost before it,
    // 2 the server has no IDLE.
    int Session(MailSocket& socket);
    bool Login(MailSocket& socket);
    int Idle(MailSocket& socket);
    // Reads one line ending in CR LF, waiting until `deadline`; 1 a line, 0 the deadline
    // passed, -1 closed or failed or stopped.
    int ReadLine(MailSocket& socket, std::string& line,
                 std::chrono::steady_clock::time_point deadline);
    // Sends "<tag> <command>" and reads to the tagged completion; true on OK.
    bool Command(MailSocket& socket, const std::string& tag, const std::string& command,
                 std::string* untagged = nullptr);
    // Sleeps until `until` or Stop(); false when stopped.
    bool Sleep(std::chrono::steady_clock::time_point until);
    void SetState(State state);
    void Fail(std::string why);
    bool Stopping() const { return stop_.load(); }
    // Whether an untagged line tells of a change worth a check; notes the mailbox's size.
    bool MailboxChanged(std::string_view line);

    CheckRequest request_;
    Hooks hooks_;
    Options options_;
    std::thread thread_;
    int event_ = -1; // eventfd that Stop() signals
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{true};
    std::atomic<State> state_{State::Starting};
    std::atomic<int> attempts_{0};
    std::atomic<int> wakeUps_{0};
    std::atomic<long> polls_{0};
    std::atomic<std::chrono::steady_clock::rep> lastChange_{0};
    mutable std::mutex errorLock_;
    std::string lastError_;
    IdleLines lines_;
    // The mailbox's size as this connection last heard it (SELECT, then EXISTS): a server
    // that repeats "* 5 EXISTS" tells of no new mail and is not a reason for a check.
    std::optional<std::uint32_t> exists_;
    std::chrono::steady_clock::time_point idleSince_; // when this connection reached IDLE
    std::chrono::milliseconds timeout_{30000};
};
