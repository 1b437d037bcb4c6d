#include "importdlg.h"

#include "accountkindtext.h"
#include "dialogtext.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

CImportDlg::CImportDlg(std::vector<ForeignMailAccount> accounts, QWidget* parent)
    : QDialog(parent), accounts_(std::move(accounts))
{
    setWindowTitle(
        DlgText::Text(DlgText::kImport).remove(QLatin1Char('&')).remove(QLatin1String("...")));
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHeaderLabels(
        {DlgText::Text(32893), DlgText::Text(32894), DlgText::Text(32895), DlgText::Text(32896)});
    for (const ForeignMailAccount& a : accounts_) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(a.name));
        item->setText(1, AccountKindText(a.kind));
        item->setText(2, QString::fromStdString(ShownServer(a.kind, a.server)));
        item->setText(3, QString::fromStdString(ShownUser(a.kind, a.userName)));
    }
    // Wide enough for all four columns (up to most of the screen), so that none hides
    // behind a horizontal scroll bar.
    int wide = 2 * list_->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (int c = 0; c < 4; ++c) {
        list_->resizeColumnToContents(c);
        wide += list_->header()->sectionSize(c);
    }
    const int most = screen() ? screen()->availableGeometry().width() * 4 / 5 : wide;
    list_->setMinimumWidth(std::min(wide, most));
    if (list_->topLevelItemCount() > 0)
        list_->setCurrentItem(list_->topLevelItem(0));
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CImportDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    list_->setFocus();
}

std::string CImportDlg::ShownServer(const std::string& kind, const std::string& server)
{
    if (kind != "Portalpost")
        return server;
    if (server.find("hotmail") != std::string::npos || server.find("Hotmail") != std::string::npos)
        return "Hotmail";
    if (server.find("yahoo") != std::string::npos || server.find("Yahoo") != std::string::npos)
        return "Yahoo";
    return server;
}

std::string CImportDlg::ShownUser(const std::string& kind, const std::string& user)
{
    if (kind != "Portalpost")
        return user;
    return user.substr(0, user.find('@'));
}

void CImportDlg::accept()
{
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    if (row >= 0 && row < static_cast<int>(accounts_.size())) {
        const QTreeWidgetItem* item = list_->topLevelItem(row);
        const ForeignMailAccount& a = accounts_[static_cast<size_t>(row)];
        // The kind column shows the user's words; the account takes the stored literal.
        chosen_ = ImportedAccount{item->text(0).toStdString(), a.kind, item->text(2).toStdString(),
                                  item->text(3).toStdString(), a.port, a.security};
    } else {
        chosen_.reset();
    }
    QDialog::accept();
}

std::optional<ImportedAccount> RunImportDialog(QWidget* parent)
{
    CImportDlg dlg(ThunderbirdProfiles::ReadAccounts(ThunderbirdProfiles::DefaultRoot()), parent);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.Chosen();
}
