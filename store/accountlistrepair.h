#pragma once

#include <ctime>
#include <string>
#include <vector>

// Rebuilds a damaged account list (Account.cfg) from the account folders, so that a
// truncated file or a garbled slot is not a dead end.
//
// The list is damaged when its file is shorter than its header, counts more records than
// it holds, a counted record has no name, or an account folder holding a readable
// Account.inf is missing from it. The rebuilt list holds, in the old order, every
// listed account whose folder holds a readable Account.inf (its slots as they were when its
// password copy still matches that file, else made anew as below), then
// the folders the list lacked, by name, each with its password copy taken from its
// Account.inf and no access password: an access password cannot be recovered, and the
// result names those accounts so the user can set one again. Records without such a
// folder are left out (their folders, if any, are not touched).
//
// The damaged file is kept beside the new one as "Account.cfg.damaged-<YYYYMMDD-HHMMSS>"
// (a second name of the same file), and the new list replaces it atomically while the
// list's own advisory lock ("Account.cfg.lock") is held.
class AccountListRepair
{
public:
    enum class Outcome { NothingToDo, Rebuilt, Failed };
    struct Result {
        Outcome outcome = Outcome::Failed;
        std::vector<std::string> kept;           // listed accounts kept as they were
        std::vector<std::string> restored;       // accounts the list lacked or had cut short
        std::vector<std::string> accessCleared;  // restored ones with no access password
        std::vector<std::string> noPasswordCopy; // their mail password was too long to copy
        std::string damagedCopy;                 // empty when there was no file
        std::string error;
        std::string Describe() const;
    };

    static Result Repair(std::time_t now);
    // What is wrong with the list file itself ("<path> is damaged: it was cut short ..."),
    // or empty; looks without changing anything (folders missing from the list are not
    // counted here: Repair lists them).
    static std::string Damage();
};
