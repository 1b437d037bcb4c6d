#include "storefailurenotice.h"

#include "accountlistrepair.h"
#include "accountlock.h"
#include "apppaths.h"
#include "mailboxrepair.h"

#include <QMessageBox>
#include <QPushButton>
#include <ctime>

namespace
{

// The check says so when a damaged store keeps it from going on.
bool OffersRepair(const std::string& message)
{
    return message.find("--repair") != std::string::npos;
}

std::string RepairNow(const std::string& account)
{
    CAccountLock lock;
    std::string error;
    if (lock.Acquire(AppPaths::AccountDir(account), CAccountLock::kDefaultWait, &error) !=
        CAccountLock::Outcome::Held)
        return error.empty() ? CAccountLock::BusyMessage(account) : error;
    const std::string path = AppPaths::MailBoxFile(account);
    return CMailBoxRepair::Repair(path, std::time(nullptr)).Describe(path);
}

} // namespace

CStoreFailureNotice::CStoreFailureNotice(QWidget* parent) : parent_(parent)
{
}

void CStoreFailureNotice::Summary(const CheckResultRecord& summary)
{
    if (summary.message.empty() || summary.serverReason) {
        if (summary.result == CheckResult::kDone)
            told_.erase(summary.account); // it works again: the next failure is news
        return;
    }
    if (!told_.insert(summary.account).second)
        return;
    Show(summary.account, summary.message);
}

void CStoreFailureNotice::Show(const std::string& account, const std::string& message)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(account),
                                QString::fromStdString(message), QMessageBox::Close, parent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* repair = nullptr;
    if (OffersRepair(message))
        repair = box->addButton(QObject::tr("Repair..."), QMessageBox::AcceptRole);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [this, box, repair, account] {
        if (repair && box->clickedButton() == repair) {
            told_.erase(account);
            auto* done = new QMessageBox(QMessageBox::Information, QString::fromStdString(account),
                                         QString::fromStdString(RepairNow(account)),
                                         QMessageBox::Close, parent_);
            done->setAttribute(Qt::WA_DeleteOnClose);
            done->open();
        }
    });
    box->open();
}

void CStoreFailureNotice::OfferAccountListRepair(QWidget* parent)
{
    const std::string damage = AccountListRepair::Damage();
    if (damage.empty())
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, QObject::tr("Account list"),
                                QString::fromStdString(damage), QMessageBox::Close, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* repair = box->addButton(QObject::tr("Repair..."), QMessageBox::AcceptRole);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [box, repair, parent] {
        if (box->clickedButton() != repair)
            return;
        // The table in memory was loaded from the damaged list: what the rebuild lists
        // again shows after the next start.
        const AccountListRepair::Result r = AccountListRepair::Repair(std::time(nullptr));
        std::string text = r.Describe();
        if (r.outcome == AccountListRepair::Outcome::Rebuilt)
            text += ". Restart the program to see every account.";
        auto* done = new QMessageBox(QMessageBox::Information, QObject::tr("Account list"),
                                     QString::fromStdString(text), QMessageBox::Close, parent);
        done->setAttribute(Qt::WA_DeleteOnClose);
        done->open();
    });
    box->open();
}
