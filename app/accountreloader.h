#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <memory>

class AccountPlugins;
class CAccountManager;
class CMainFrame;

// Keeps the desktop program's account table and tree in step with the account files when
// another writer changes them: the command line (which also says so over the single-
// instance socket: accountsChanged() there calls Schedule()), a second program, a tool.
//
// It watches the data folder, Account.cfg, the Mail folder and every account's folder
// (Account.inf is rewritten by renaming a new file over it, which the folder reports), so
// a change shows even when nobody announced it. Events come in bursts (a rewrite is a
// temporary file, a write and a rename): a reload runs kSettleMs after the first of them
// and sees the files as they are then. Reloads the program's own changes cause find
// nothing to do (AccountTableSync). While a removed account's check still runs, the
// reload comes again every kRetryMs until its row could go.
//
// Life: constructed with the window; Start() once the tree has been filled, which also
// catches up with what changed meanwhile. Threads: the user-interface thread only.
class CAccountReloader : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSettleMs = 100;
    static constexpr int kRetryMs = 1000;

    // `table` and `frame` must outlive the reloader. `plugins` answer for the accounts that
    // come in as the table's own do (nullptr: the defaults).
    CAccountReloader(CAccountManager& table, CMainFrame& frame,
                     std::shared_ptr<const AccountPlugins> plugins = nullptr,
                     QObject* parent = nullptr);

    void Start();

public slots:
    // Something changed: reload soon (at once when one is due anyway).
    void Schedule();
    // Reloads now (before Start(): nothing).
    void ReloadNow();

private:
    // Follows the folders and files that exist now; `renew` sets every watch anew.
    void Watch(bool renew);

    CAccountManager& table_;
    std::shared_ptr<const AccountPlugins> plugins_;
    CMainFrame& frame_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QTimer retry_;
    bool started_ = false;
};
