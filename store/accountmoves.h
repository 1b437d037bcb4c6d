#pragma once

#include <string>
#include <vector>

// A folder move of an account edit that is not finished yet.
//   Rename: the files in `folder` belong to the account listed as `name` once Account.cfg
//           says so (a rename that a kill interrupted, or one that waits for a check).
//   Remove: `folder` goes once Account.cfg no longer lists it.
struct AccountMove {
    enum class Kind { Rename, Remove };
    Kind kind = Kind::Rename;
    std::string folder; // account folder name below Mail/
    std::string name;   // Rename: the name the files move to

    bool operator==(const AccountMove&) const = default;
};

// The journal of unfinished folder moves, "<list>.moves" beside Account.cfg.
//
// An account edit touches two places that cannot change in one step: the Account.cfg record
// (the commit point) and the account's folder. The editor writes its move here before the
// first change and drops it after the last, so a process killed in between leaves a note
// that Recover() acts on at the next start: Account.cfg decides which side wins, and the
// folder follows it (moved back or forth, or removed).
//
// Format: one line per move, "rename/<folder>/<name>\n" or "remove/<folder>\n" (account
// names hold no "/" and no line break). Rewritten atomically. Callers hold the list's
// CAccountList::WriteLock for every call.
class CAccountMoves
{
public:
    explicit CAccountMoves(std::string listPath);

    std::vector<AccountMove> Load() const;
    // False with `error` set when the journal cannot be written.
    bool Add(const AccountMove& move, std::string* error = nullptr);
    void Drop(const AccountMove& move);

    // Finishes or takes back every journalled move as Account.cfg (`listed`, its names)
    // says, and empties the journal of what is settled. A move whose folder another process
    // is checking stays for a later start. `mailDir` holds the account folders.
    void Recover(const std::vector<std::string>& listed, const std::string& mailDir);

    // The text of the journal, and back; shared with the tests. Lines that do not parse are
    // left out.
    static std::string Format(const std::vector<AccountMove>& moves);
    static std::vector<AccountMove> Parse(const std::string& bytes);

private:
    bool Save(const std::vector<AccountMove>& moves, std::string* error);

    std::string path_;
};
