#include "accounttablesync.h"

#include "accountfile.h"
#include "accountlist.h"
#include "accountmanager.h"
#include "accountnames.h"
#include "accountplugins.h"
#include "accountrecord.h"
#include "apppaths.h"

#include <set>

namespace
{

// An account as the files describe it now.
struct Fresh {
    AccountListRecord record;
    AccountEntry row;      // what a new row would be
    bool readable = false; // its Account.inf could be read
};

// A row whose check neither runs nor waits to be finalised.
bool AtRest(const AccountEntry& row)
{
    return row.IsIdle() || row.IsRequested();
}

template <class T> bool Assign(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

// The values derived from the files; the run-time state stays. True when one changed.
bool Refresh(AccountEntry& row, const Fresh& f)
{
    bool changed = false;
    if (Assign(row.accessPassword, f.row.accessPassword)) {
        row.unlocked = 0; // the new password is asked for
        changed = true;
    }
    // Without its Account.inf the row keeps what it knew (the account list came first,
    // or the file went with the account, which leaves the list next).
    if (!f.readable)
        return changed;
    changed = Assign(row.kind, f.row.kind) || changed;
    changed = Assign(row.usable, f.row.usable) || changed;
    if (Assign(row.periodMinutes, f.row.periodMinutes)) {
        row.minutesElapsed = 0;
        changed = true;
    }
    if (Assign(row.specifiedSeconds, f.row.specifiedSeconds)) {
        row.specifiedFired = 0;
        changed = true;
    }
    return changed;
}

std::string OldNameOf(const std::vector<PendingRename>& pending, const std::string& listed)
{
    for (const PendingRename& p : pending)
        if (p.newName == listed)
            return p.oldName;
    return listed;
}

bool RenameWaits(const std::vector<PendingRename>& pending, const std::string& row)
{
    for (const PendingRename& p : pending)
        if (p.oldName == row)
            return true;
    return false;
}

std::vector<std::string> Names(const std::vector<AccountEntry>& rows)
{
    std::vector<std::string> names;
    for (const AccountEntry& r : rows)
        names.push_back(r.name);
    return names;
}

void Merge(std::vector<AccountEntry>& rows, std::vector<PendingRename>& pending,
           const std::vector<Fresh>& fresh, AccountTableSync::Outcome& out)
{
    const size_t n = rows.size();
    std::vector<long> rowOf(fresh.size(), -1);
    std::vector<bool> used(n, false);
    std::vector<bool> renamed(fresh.size(), false);
    for (size_t i = 0; i < fresh.size(); ++i) {
        const std::string name = OldNameOf(pending, fresh[i].record.name);
        for (size_t j = 0; j < n && rowOf[i] < 0; ++j) {
            if (!used[j] && rows[j].name == name) {
                rowOf[i] = static_cast<long>(j);
                used[j] = true;
            }
        }
    }
    // A record renamed in place: its old row stands at the same place, unmatched.
    for (size_t i = 0; i < fresh.size() && i < n; ++i) {
        if (rowOf[i] >= 0 || used[i] || RenameWaits(pending, rows[i].name) ||
            rows[i].accessPassword != fresh[i].record.accessPassword)
            continue;
        rowOf[i] = static_cast<long>(i);
        used[i] = true;
        renamed[i] = true;
    }

    std::vector<AccountEntry> next;
    for (size_t i = 0; i < fresh.size(); ++i) {
        const Fresh& f = fresh[i];
        AccountTableSync::Listed listed{f.record.name, !f.record.accessPassword.empty(), false};
        if (rowOf[i] < 0) {
            next.push_back(f.row);
            out.accounts.push_back(listed);
            out.changed = true;
            continue;
        }
        AccountEntry row = rows[static_cast<size_t>(rowOf[i])];
        listed.relock = listed.hasAccessPassword && row.accessPassword != f.record.accessPassword;
        if (renamed[i]) {
            out.renamed.emplace_back(row.name, f.record.name);
            out.changed = true;
            if (AtRest(row))
                row.name = f.record.name; // its folder is the renaming writer's business
            else
                pending.push_back({row.name, f.record.name}); // after its check, as ours
        }
        out.changed = Refresh(row, f) || out.changed;
        next.push_back(std::move(row));
        out.accounts.push_back(listed);
    }
    for (size_t j = 0; j < n; ++j) {
        if (used[j])
            continue;
        if (AtRest(rows[j])) {
            out.changed = true;
            continue; // removed
        }
        // Listed nowhere any more: it is not scheduled again, and goes once its check ended.
        AccountEntry row = rows[j];
        row.periodMinutes = -1;
        row.specifiedSeconds = -1;
        ++out.deferred;
        next.push_back(std::move(row));
    }
    out.changed = out.changed || Names(next) != Names(rows);
    rows = std::move(next);
}

} // namespace

AccountTableSync::AccountTableSync(CAccountManager& table,
                                   std::shared_ptr<const AccountPlugins> plugins)
    : table_(table), plugins_(std::move(plugins))
{
}

AccountTableSync::Outcome AccountTableSync::Run()
{
    Outcome out;
    CAccountList list(AppPaths::AccountListFile());
    std::vector<AccountListRecord> records;
    if (list.Load(records) != 1) {
        out.error = list.Error();
        return out;
    }
    out.ok = true;

    // The files are read before the table is locked: the worker waits for none of it.
    std::vector<Fresh> fresh;
    std::set<std::string> seen;
    CAccountManager scratch(plugins_);
    for (const AccountListRecord& r : records) {
        // As at start-up: a name that cannot be a folder is left out; a second record of
        // one name would share the first one's folder and row.
        if (!AccountNames::IsSafeFolderName(r.name) || !seen.insert(r.name).second)
            continue;
        Fresh f;
        f.record = r;
        AccountRecord file;
        f.readable = CAccountFile::ReadAccountFile(AppPaths::AccountFile(r.name), file) == 1;
        if (scratch.EnterOrRequest(r.name, 1, &r.accessPassword, &r.passwordCopy, 0) !=
            CAccountManager::kEnterAdded)
            continue;
        fresh.push_back(std::move(f));
    }
    const std::vector<AccountEntry> built = scratch.Snapshot();
    for (size_t i = 0; i < fresh.size() && i < built.size(); ++i)
        fresh[i].row = built[i];

    table_.WithTable([&](std::vector<AccountEntry>& rows) {
        table_.WithPendingRenames(
            [&](std::vector<PendingRename>& pending) { Merge(rows, pending, fresh, out); });
    });
    return out;
}
