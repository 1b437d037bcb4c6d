#pragma once

#include <cstdint>
#include <string>

// Where an account stands in its check:
//   Idle -> Requested -> Busy -> Done -> Idle
// Requested: a check is wanted and not yet started; Busy: a check is running; Done: the
// check has ended and the worker has yet to finalise the row.
enum class CheckState { Idle, Requested, Busy, Done };

// One row of the account table: an account's name, access password and run-time check
// state. Rows live in CAccountManager and change only under its table lock. Readers outside
// the engine (the tree, the tray menu) take IsBusy() into their own flags.
struct AccountEntry {
    std::string name;           // the key; compared exactly by table operations
    std::string accessPassword; // plain text; empty = none
    CheckState checkState = CheckState::Idle;
    int32_t minutesElapsed = 0;    // minutes since the last periodic request
    int32_t periodMinutes = -1;    // -1 = periodic check off
    int32_t specifiedSeconds = -1; // daily check time after midnight; -1 = off
    int32_t specifiedFired = 0;    // the daily check fired for this passage of the time
    int32_t kind = 0;              // 0 POP3/IMAP4, 1 web mail, 2 Exchange
    int32_t unlocked = 0;          // the access password was given in this run
    int32_t usable = 0;            // the account can be checked
    int64_t connectionHandle = 0;  // dial-up connection of the running/last check; 0 none

    bool IsIdle() const { return checkState == CheckState::Idle; }
    bool IsRequested() const { return checkState == CheckState::Requested; }
    bool IsBusy() const { return checkState == CheckState::Busy; }
    bool IsDone() const { return checkState == CheckState::Done; }
};

// A rename that waits for the account's check to end.
struct PendingRename {
    std::string oldName;
    std::string newName;
};
