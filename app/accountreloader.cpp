#include "accountreloader.h"

#include "accounttablesync.h"
#include "apppaths.h"
#include "leftview.h"
#include "mainframe.h"

#include <QDir>
#include <QFileInfo>

CAccountReloader::CAccountReloader(CAccountManager& table, CMainFrame& frame,
                                   std::shared_ptr<const AccountPlugins> plugins, QObject* parent)
    : QObject(parent), table_(table), plugins_(std::move(plugins)), frame_(frame)
{
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    connect(&settle_, &QTimer::timeout, this, &CAccountReloader::ReloadNow);
    connect(&retry_, &QTimer::timeout, this, &CAccountReloader::ReloadNow);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &CAccountReloader::Schedule);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &CAccountReloader::Schedule);
}

void CAccountReloader::Start()
{
    started_ = true;
    ReloadNow();
}

void CAccountReloader::Schedule()
{
    // Not restarted by later events: a steady stream of them must not hold the reload off.
    if (!settle_.isActive())
        settle_.start();
}

void CAccountReloader::ReloadNow()
{
    if (!started_)
        return;
    settle_.stop();
    retry_.stop();
    // Watching anew before reading: a change from here on is either read now or reported.
    Watch(true);
    AccountTableSync::Outcome outcome = AccountTableSync(table_, plugins_).Run();
    if (!outcome.ok)
        return; // unreadable for now: the next change of the file tries again
    if (outcome.changed) {
        std::vector<CLeftView::Listed> listed;
        for (const AccountTableSync::Listed& a : outcome.accounts)
            listed.push_back({a.name, a.hasAccessPassword, a.relock});
        frame_.AccountsChanged(listed, outcome.renamed);
    }
    if (outcome.deferred > 0)
        retry_.start();
    // The folders of accounts that came in.
    Watch(false);
}

void CAccountReloader::Watch(bool renew)
{
    auto path = [](const std::string& p) { return QString::fromStdString(p); };
    QStringList wanted = {path(AppPaths::DataDir()), path(AppPaths::AccountListFile()),
                          path(AppPaths::MailDir())};
    const QDir mail(path(AppPaths::MailDir()));
    for (const QString& folder : mail.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        wanted << mail.filePath(folder);

    // A watch follows the file or folder it was set on, not its name: one replaced by a
    // rename (every atomic rewrite) or renamed away would be followed no more.
    if (renew) {
        const QStringList all = watcher_.files() + watcher_.directories();
        if (!all.isEmpty())
            watcher_.removePaths(all);
    }
    const QStringList watched = watcher_.files() + watcher_.directories();
    QStringList added;
    for (const QString& p : wanted)
        if (!watched.contains(p) && QFileInfo::exists(p))
            added << p;
    if (!added.isEmpty())
        watcher_.addPaths(added);
}
