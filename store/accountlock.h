#pragma once

#include <chrono>
#include <string>

// The lock that lets one writer at a time touch an account's Message.box and UID.inf:
// an exclusive flock on "Check.lock" in the account's folder, held for a whole check and
// by every other writer of those two files (the merge, mark read, remove, rename, the
// command line).
//
// Across processes it excludes: a second process asking for a held lock waits up to
// `wait` and then gets Busy. Inside one process the lock is shared: the engine already
// runs one check per account and one merge thread, so a holder in this process (the
// check) and another writer in this process (its merge, a rename the check waits for)
// do not exclude each other. The process keeps one descriptor per folder and counts its
// holders; the flock is dropped when the last one releases.
//
// The lock file is empty, 0600, and stays in the folder (removing it would let two
// processes lock two different files). flock needs no write access, so a lock file that
// cannot be opened for writing (read only, a read-only mount) is locked read only. It moves with a
// renamed folder; a folder renamed or removed while held keeps its descriptor valid until release.
//
// Threads: any; the per-process table is guarded.
class CAccountLock
{
public:
    enum class Outcome {
        Held,   // this object holds the lock
        Busy,   // another process held it for the whole wait
        Failed, // the lock file could not be opened or locked (`error` says why)
    };

    static constexpr char kFileName[] = "Check.lock";
    static constexpr std::chrono::milliseconds kDefaultWait{2000};

    CAccountLock() = default;
    ~CAccountLock();
    CAccountLock(CAccountLock&& other) noexcept;
    CAccountLock& operator=(CAccountLock&& other) noexcept;
    CAccountLock(const CAccountLock&) = delete;
    CAccountLock& operator=(const CAccountLock&) = delete;

    // Takes the lock of the account folder `folder` (which must exist), waiting up to
    // `wait` while another process holds it. Releases what this object held before.
    Outcome Acquire(const std::string& folder, std::chrono::milliseconds wait = kDefaultWait,
                    std::string* error = nullptr);
    bool Held() const { return !key_.empty(); }
    void Release();

    // A user-readable text for Busy and Failed ("<account> is already being checked").
    static std::string BusyMessage(const std::string& account);

private:
    std::string key_; // the folder's canonical path while held
};
