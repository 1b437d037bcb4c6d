#include "leftview.h"

#include "accounteditor.h"
#include "accountmanager.h"
#include "accountnames.h"
#include "commandtable.h"
#include "dialoguebox.h"
#include "mailheadlist.h"
#include "menubuilder.h"
#include "resourceids.h"
#include "resourceimage.h"
#include "resourcelibrary.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QScopedPointer>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>

namespace
{

// DialogueBox owners are QWidget pointers passed as void*.
void* Owner(QWidget* w)
{
    return w;
}

constexpr int kNameRole = Qt::UserRole;
// An account item's: whether its account has an access password (bool).
constexpr int kProtectedRole = Qt::UserRole + 1;

QIcon ResourceIcon(unsigned id)
{
    QIcon icon;
    const QImage small = LoadResourceImage(id);
    if (!small.isNull())
        icon.addPixmap(QPixmap::fromImage(small));
    const QImage big = LoadResourceImage(id, 2);
    if (!big.isNull() && big.size() != small.size())
        icon.addPixmap(QPixmap::fromImage(big));
    return icon;
}

// Hands the edited text to the view's rename rules instead of writing it into the item:
// the item's text changes only when the rename went through.
class RenameDelegate : public QStyledItemDelegate
{
public:
    explicit RenameDelegate(CLeftView* view) : QStyledItemDelegate(view), view_(view) {}

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const override
    {
        auto* line = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* item = view_->currentItem();
        if (!line || !item || item->parent())
            return;
        view_->FinishRename(item, line->text().toStdString());
    }

private:
    CLeftView* view_;
};

} // namespace

CLeftView::CLeftView(CAccountManager* accounts, QWidget* parent)
    : QTreeWidget(parent), accounts_(accounts)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers); // renames start from the command only
    setExpandsOnDoubleClick(false);                     // the gate decides (below)
    setItemDelegate(new RenameDelegate(this));
    accountIcon_ = ResourceIcon(ResId::kTreeAccount);
    lockedIcon_ = ResourceIcon(ResId::kTreeAccountLocked);
    folderIcon_ = ResourceIcon(ResId::kTreeFolder);

    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
    connect(this, &QTreeWidget::itemExpanded, this, &CLeftView::OnItemExpanded);
}

void CLeftView::ConnectHeaderList(CMailHeadList* list)
{
    connect(this, &CLeftView::listClearRequested, list, &CMailHeadList::Clear);
    connect(this, &CLeftView::listLoadRequested, list, &CMailHeadList::Load);
    connect(this, &CLeftView::accountRenamed, list, &CMailHeadList::AccountRenamed);
}

void CLeftView::SetAccessState(QTreeWidgetItem* item, bool hasAccessPassword)
{
    const QVariant before = item->data(0, kProtectedRole);
    item->setIcon(0, hasAccessPassword ? lockedIcon_ : accountIcon_);
    item->setData(0, kProtectedRole, hasAccessPassword);
    if (!before.isValid() || before.toBool() == hasAccessPassword || currentItem() != item)
        return;
    // The account item shown stays in step with its gate: a new access password hides the
    // messages at once, a removed one shows them.
    emit listClearRequested();
    if (ListShows(item))
        emit listLoadRequested(NameOf(item));
}

bool CLeftView::HasAccessPassword(const QTreeWidgetItem* accountItem)
{
    return accountItem && accountItem->data(0, kProtectedRole).toBool();
}

bool CLeftView::ListShows(const QTreeWidgetItem* item)
{
    return item && (item->parent() || !HasAccessPassword(item));
}

void CLeftView::ExpandOpenAccount(QTreeWidgetItem* item)
{
    if (HasAccessPassword(item))
        return;
    expanding_ = true;
    item->setExpanded(true);
    expanding_ = false;
}

QTreeWidgetItem* CLeftView::NewAccountItem(const std::string& name, bool hasAccessPassword)
{
    auto* account = new QTreeWidgetItem();
    account->setText(0, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    account->setData(0, kNameRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    SetAccessState(account, hasAccessPassword);
    auto* folder = new QTreeWidgetItem(account);
    folder->setText(0, QString::fromStdString(LoadResourceString(kFolderText)));
    folder->setIcon(0, folderIcon_);
    return account;
}

void CLeftView::AddAccount(const std::string& name, bool hasAccessPassword)
{
    QTreeWidgetItem* item = NewAccountItem(name, hasAccessPassword);
    addTopLevelItem(item);
    // A first look at the window finds the messages under an open account at once.
    ExpandOpenAccount(item);
}

void CLeftView::ShowAccounts(const std::vector<Listed>& accounts,
                             const std::vector<std::pair<std::string, std::string>>& renamed)
{
    for (const auto& [oldName, newName] : renamed) {
        QTreeWidgetItem* item = AccountItem(oldName);
        if (!item || AccountItem(newName))
            continue;
        item->setText(0, QString::fromUtf8(newName.data(), static_cast<qsizetype>(newName.size())));
        item->setData(0, kNameRole,
                      QByteArray(newName.data(), static_cast<qsizetype>(newName.size())));
        if (selected_ == oldName)
            SetSelected(newName);
        emit accountRenamed(oldName, newName);
    }

    std::vector<std::string> wanted;
    for (const Listed& a : accounts)
        wanted.push_back(a.name);
    for (int i = topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = topLevelItem(i);
        const std::string name = NameOf(item);
        // A name listed once shows once: a second item of it goes as well.
        const bool listed = std::find(wanted.begin(), wanted.end(), name) != wanted.end();
        if (listed && AccountItem(name) == item)
            continue;
        delete item; // with its folder item; a selection here moves on and reloads the list
        if (!listed)
            emit accountDeleted(name);
    }

    for (int i = 0; i < static_cast<int>(accounts.size()); ++i) {
        const Listed& a = accounts[static_cast<size_t>(i)];
        QTreeWidgetItem* item = AccountItem(a.name);
        if (!item) {
            insertTopLevelItem(i, item = NewAccountItem(a.name, a.hasAccessPassword));
            ExpandOpenAccount(item);
        } else if (indexOfTopLevelItem(item) != i) {
            MoveAccountItem(item, i);
        }
        SetAccessState(item, a.hasAccessPassword);
        if (a.relock && a.hasAccessPassword && item->isExpanded()) {
            // Its messages stay hidden until the new password is given.
            if (currentItem() && currentItem()->parent() == item)
                setCurrentItem(item);
            item->setExpanded(false);
        }
    }
    if (!currentItem() && topLevelItemCount() > 0)
        SelectAccount(NameOf(topLevelItem(0)));
}

void CLeftView::MoveAccountItem(QTreeWidgetItem* item, int index)
{
    QTreeWidgetItem* current = currentItem();
    const bool wasCurrent = current && AccountItemOf(current) == item;
    const bool folderCurrent = wasCurrent && current != item;
    const bool wasExpanded = item->isExpanded();
    insertTopLevelItem(index, takeTopLevelItem(indexOfTopLevelItem(item)));
    if (wasExpanded) {
        // Unlocked before the move: no new password is asked for.
        expanding_ = true;
        item->setExpanded(true);
        expanding_ = false;
    }
    if (wasCurrent)
        setCurrentItem(folderCurrent ? item->child(0) : item);
}

void CLeftView::SelectAccount(const std::string& name)
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = topLevelItem(i);
        if (NameOf(item) == name) {
            setCurrentItem(item);
            SetSelected(name);
        }
    }
}

int CLeftView::Count() const
{
    int count = 0;
    for (int i = 0; i < topLevelItemCount(); ++i)
        count += 1 + topLevelItem(i)->childCount();
    return count;
}

bool CLeftView::IsAccountSelected() const
{
    const QTreeWidgetItem* item = currentItem();
    return item && !item->parent();
}

bool CLeftView::IsUnlocked() const
{
    // The selected account's own item decides. (Asking whether the *selected item* is
    // expanded would call a folder item of one account "unlocked" and so let the commands
    // of a protected account through without its password.)
    const QTreeWidgetItem* item = SelectedAccountItem();
    return !item || item->isExpanded();
}

QTreeWidgetItem* CLeftView::AccountItemOf(QTreeWidgetItem* item)
{
    if (!item)
        return nullptr;
    return item->parent() ? item->parent() : item;
}

QString CLeftView::ToolTipAt(const QPoint& pos) const
{
    const QTreeWidgetItem* item = itemAt(pos);
    if (!item || item->parent() || !pushState_)
        return {};
    const std::string state = pushState_(NameOf(item));
    if (state.empty())
        return {};
    QString pattern = QString::fromStdString(LoadResourceString(kPushStateText));
    if (pattern.isEmpty())
        pattern = QStringLiteral("Push: %s");
    return pattern.replace(QLatin1String("%s"), QString::fromStdString(state));
}

bool CLeftView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = ToolTipAt(help->pos());
        if (!text.isEmpty()) {
            QToolTip::showText(help->globalPos(), text, viewport());
            return true;
        }
    }
    return QTreeWidget::viewportEvent(event);
}

std::string CLeftView::NameOf(const QTreeWidgetItem* item)
{
    if (!item)
        return std::string();
    return item->data(0, kNameRole).toByteArray().toStdString();
}

QTreeWidgetItem* CLeftView::AccountItem(const std::string& name) const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (NameOf(topLevelItem(i)) == name)
            return topLevelItem(i);
    return nullptr;
}

QTreeWidgetItem* CLeftView::SelectedAccountItem() const
{
    return AccountItemOf(currentItem());
}

bool CLeftView::PassGate(QTreeWidgetItem* accountItem)
{
    if (!accountItem)
        return false;
    // While a rename waits for a running check the tree shows the new name and the table
    // row still carries the old one.
    const std::string name =
        accounts_ ? accounts_->TranslateName(NameOf(accountItem), 0) : NameOf(accountItem);
    if (!accounts_ || !accounts_->IsUsable(name)) {
        DialogueBox(LoadResourceString(kUnusableText), LoadResourceString(kUnusableCaption),
                    Owner(this), kDialogueOk, kDialogueIconStop);
        return false;
    }
    if (!accounts_->HasAccessPassword(name) || accountItem->isExpanded())
        return true;
    return prompt_ && prompt_(name);
}

bool CLeftView::RequestExpand(QTreeWidgetItem* accountItem)
{
    if (!accountItem || accountItem->parent())
        return false;
    if (accountItem->isExpanded())
        return true;
    if (!PassGate(accountItem))
        return false;
    expanding_ = true;
    accountItem->setExpanded(true);
    expanding_ = false;
    return true;
}

void CLeftView::OnItemExpanded(QTreeWidgetItem* item)
{
    // Every way of expanding that did not pass the gate (the model, accessibility tools)
    // is taken back and sent through it.
    if (expanding_ || item->parent())
        return;
    expanding_ = true;
    item->setExpanded(false);
    expanding_ = false;
    RequestExpand(item);
}

void CLeftView::SetSelected(const std::string& name)
{
    selected_ = name;
    emit selectedAccountChanged(name);
}

void CLeftView::OnCurrentItemChanged(QTreeWidgetItem* current)
{
    emit listClearRequested();
    if (!current) {
        SetSelected(std::string());
        emit checkAnimationRequested(false);
        return;
    }
    const std::string name = NameOf(AccountItemOf(current));
    SetSelected(name);
    if (ListShows(current))
        emit listLoadRequested(name);
    bool busy = false;
    if (accounts_) {
        for (const AccountEntry& e : accounts_->Snapshot())
            if (e.name == name) {
                busy = e.IsBusy();
                break;
            }
    }
    emit checkAnimationRequested(busy);
}

QTreeWidgetItem* CLeftView::GatedSelection()
{
    QTreeWidgetItem* item = SelectedAccountItem();
    return item && PassGate(item) ? item : nullptr;
}

void CLeftView::AccessPasswordCommand()
{
    if (QTreeWidgetItem* item = GatedSelection())
        emit accessPasswordDialogRequested(NameOf(item));
}

void CLeftView::PropertiesCommand()
{
    if (QTreeWidgetItem* item = GatedSelection())
        emit propertiesDialogRequested(NameOf(item));
}

void CLeftView::RenameCommand()
{
    QTreeWidgetItem* item = GatedSelection();
    if (!item)
        return;
    setCurrentItem(item);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    editItem(item, 0);
}

void CLeftView::DeleteCommand()
{
    QTreeWidgetItem* item = GatedSelection();
    if (!item)
        return;
    if (DialogueBox(LoadResourceString(kDeleteText), LoadResourceString(kDeleteCaption),
                    Owner(this), kDialogueOkCancel, kDialogueIconQuestion) != kDialogueIdOk)
        return;
    const std::string name = NameOf(item);
    const AccountEditResult result = CAccountEditor(*accounts_).Remove(name);
    if (!result.Ok()) {
        const bool unlisted = result.category == AccountEditResult::Category::NoSuchAccount;
        DialogueBox(unlisted ? LoadResourceString(kDeleteFailedText) : result.message,
                    LoadResourceString(kDeleteCaption), Owner(this), kDialogueOk,
                    kDialogueIconStop);
        return;
    }
    delete item; // with its folder item; the selection moves on and reloads the list
    emit accountDeleted(name);
}

CLeftView::RenameOutcome CLeftView::FinishRename(QTreeWidgetItem* accountItem, std::string newName)
{
    using Category = AccountEditResult::Category;
    accountItem->setFlags(accountItem->flags() & ~Qt::ItemIsEditable);
    if (newName.empty())
        return RenameOutcome::Cancelled;
    const std::string oldName = NameOf(accountItem);
    if (!accounts_)
        return RenameOutcome::Refused;
    // The tree refuses a change of letter case alone (the properties dialog allows it).
    std::string trimmed = newName;
    if (AccountNames::Check(trimmed) == AccountNames::Problem::None &&
        AccountNames::SameIgnoringCase(trimmed, oldName))
        return RenameOutcome::SameName;

    const AccountEditResult result = CAccountEditor(*accounts_).Rename(oldName, newName);
    if (!result.Ok()) {
        const bool refused = result.category == Category::InvalidName ||
                             result.category == Category::BlankName ||
                             result.category == Category::NameTaken;
        const bool stop = result.category != Category::BlankName &&
                          result.category != Category::NameTaken &&
                          result.category != Category::Busy;
        DialogueBox(result.message, LoadResourceString(AccountNames::kCaption), Owner(this),
                    kDialogueOk, stop ? kDialogueIconStop : kDialogueIconExclamation);
        return refused ? RenameOutcome::Refused : RenameOutcome::Failed;
    }
    const std::string& shown = result.name;
    accountItem->setText(0, QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
    accountItem->setData(0, kNameRole,
                         QByteArray(shown.data(), static_cast<qsizetype>(shown.size())));
    SetSelected(shown);
    switch (result.rename) {
    case CAccountManager::kRenameDeferred:
        return RenameOutcome::Deferred;
    case CAccountManager::kRenameRedirected:
        return RenameOutcome::Redirected;
    default:
        return RenameOutcome::RenamedNow;
    }
}

void CLeftView::AccessPasswordChanged(const std::string& account)
{
    if (QTreeWidgetItem* item = AccountItem(account))
        SetAccessState(
            item, accounts_ && accounts_->HasAccessPassword(accounts_->TranslateName(account, 0)));
}

void CLeftView::AccountRenamed(const std::string& oldName, const std::string& newName)
{
    QTreeWidgetItem* item = AccountItem(oldName);
    if (!item)
        return;
    item->setText(0, QString::fromUtf8(newName.data(), static_cast<qsizetype>(newName.size())));
    item->setData(0, kNameRole, QByteArray(newName.data(), static_cast<qsizetype>(newName.size())));
    SetSelected(newName);
    emit accountRenamed(oldName, newName);
}

void CLeftView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    QTreeWidgetItem* item = itemFromIndex(index);
    // A press on the expand button of a collapsed account item (left of the item's
    // rectangle) goes through the gate instead of expanding at once.
    if (item && !item->parent() && !item->isExpanded() && event->button() == Qt::LeftButton &&
        at.x() < visualRect(index).left()) {
        setCurrentItem(item);
        RequestExpand(item);
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void CLeftView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item && !item->parent() && event->button() == Qt::LeftButton) {
        if (item->isExpanded())
            item->setExpanded(false);
        else
            RequestExpand(item);
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void CLeftView::keyPressEvent(QKeyEvent* event)
{
    QTreeWidgetItem* item = currentItem();
    const int key = event->key();
    if (item && !item->parent() && !item->isExpanded() && state() != EditingState &&
        (key == Qt::Key_Right || key == Qt::Key_Plus || key == Qt::Key_Asterisk)) {
        RequestExpand(item);
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void CLeftView::contextMenuEvent(QContextMenuEvent* event)
{
    QTreeWidgetItem* item = nullptr;
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        item = itemAt(event->pos());
    } else {
        item = currentItem();
        at = viewport()->mapToGlobal(QPoint(5, 5));
    }
    if (!item || item->parent() || !commands_)
        return; // the menu belongs to account items only
    QScopedPointer<QMenu> menu(
        MenuBuilder::BuildContextMenu(ResId::kAccountTreeMenu, *commands_, this));
    if (menu)
        menu->exec(at);
}

void CLeftView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    QTreeWidget::closeEditor(editor, hint);
    // A cancelled edit never reaches FinishRename: items are editable only during a rename.
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = topLevelItem(i);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    }
}
