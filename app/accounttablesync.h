#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

class AccountPlugins;
class CAccountManager;

// Brings the running program's account table in line with the account files after another
// writer (the command line, a tool, the user's own hands) changed them: accounts added to
// Account.cfg enter the table, accounts gone from it leave, a record renamed in place keeps
// its row under the new name, and an edited account (Account.inf, its access password)
// gets the values derived from the files again.
//
// What a running check uses is never pulled away: a row whose check runs or waits to be
// finalised keeps its name until the check has ended (a rename waits as the program's own
// renames do) and stays in the table, no longer scheduled and not listed, until a later
// Run() finds it at rest (`deferred` counts them). Rows keep their run-time state
// (schedule counters, unlocked, the check state) across every change but a removal.
//
// A rename cannot be told from a removal and an addition by the list alone: a row that is
// gone and a record that is new at the same place of the list, with the same access
// password, are taken for one account renamed (the list's own rename rewrites the record
// in place). The account's folder is not touched: the writer that renamed the record moves
// it.
//
// The changes of the program itself (its wizard, dialogs and tree) keep the table and the
// files in step already; for them Run() changes nothing. Threads: the user-interface thread
// of the desktop program; the table's lock guards against its worker.
class AccountTableSync
{
public:
    struct Listed {
        std::string name; // as Account.cfg has it (and the tree shows it)
        bool hasAccessPassword = false;
        bool relock = false; // its access password changed: ask for the new one
    };
    struct Outcome {
        bool ok = false;   // false: Account.cfg could not be read and nothing changed
        std::string error; // why, for a user
        bool changed = false;
        std::vector<Listed> accounts;                             // in Account.cfg order
        std::vector<std::pair<std::string, std::string>> renamed; // old name, new name
        int deferred = 0; // removed accounts whose rows wait for their check to end
    };

    // `plugins` answer as the table's own do (nullptr: the defaults).
    explicit AccountTableSync(CAccountManager& table,
                              std::shared_ptr<const AccountPlugins> plugins = nullptr);

    Outcome Run();

private:
    CAccountManager& table_;
    std::shared_ptr<const AccountPlugins> plugins_;
};
