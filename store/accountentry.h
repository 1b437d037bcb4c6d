#pragma once

#include <cstdint>
#include <string>

// One row of the account table: an account's name, access password and run-time check
// state. Rows live in CAccountManager and change only under its table lock.
//
// Check state: exactly one of requested / busy / idle is 1, or all three are 0 (Done):
//   Idle (0,0,1) -> Requested (1,0,0) -> Busy (0,1,0) -> Done (0,0,0) -> Idle
struct AccountEntry {
    std::string name;              // the key; compared exactly by table operations
    std::string accessPassword;    // plain text; empty = none
    int32_t requested = 0;         // a check is wanted and not yet started
    int32_t busy = 0;              // a check is running
    int32_t idle = 1;              // at rest
    int32_t minutesElapsed = 0;    // minutes since the last periodic request
    int32_t periodMinutes = -1;    // -1 = periodic check off
    int32_t specifiedSeconds = -1; // daily check time after midnight; -1 = off
    int32_t specifiedFired = 0;    // the daily check fired for this passage of the time
    int32_t kind = 0;              // 0 POP3/IMAP4, 1 web mail, 2 Exchange
    int32_t unlocked = 0;          // the access password was given in this run
    int32_t usable = 0;            // the account can be checked
    int64_t connectionHandle = 0;  // dial-up connection of the running/last check; 0 none

    bool IsIdle() const { return requested == 0 && busy == 0 && idle == 1; }
    bool IsRequested() const { return requested == 1 && busy == 0 && idle == 0; }
    // Busy and nothing else: a check is running and no request or rest flag is set.
    bool IsBusyOnly() const { return busy == 1 && idle == 0 && requested == 0; }
    bool IsDone() const { return requested == 0 && busy == 0 && idle == 0; }
};

// A rename that waits for the account's check to end.
struct PendingRename {
    std::string oldName;
    std::string newName;
};
