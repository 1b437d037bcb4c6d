#include "mailheadlist.h"

#include "accountmanager.h"
#include "accountnames.h"
#include "apppaths.h"
#include "commandtable.h"
#include "dialoguebox.h"
#include "menubuilder.h"
#include "programkey.h"
#include "registrykey.h"
#include "resourceids.h"
#include "resourcelibrary.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QScopedPointer>
#include <algorithm>

namespace
{

// DialogueBox owners are QWidget pointers passed as void*.
void* Owner(QWidget* w)
{
    return w;
}

constexpr int kImageColumnWidth = 24;
// Text columns start empty: the first resize spreads the whole client width over them.
constexpr int kTextColumnWidth = 0;
constexpr int kHiddenColumnWidth = 100;
const char kLayoutEntry[] = "MailHeaderList";

} // namespace

CMailHeadList::CMailHeadList(CAccountManager* accounts, QWidget* parent)
    : QTreeView(parent), model_(new CMailHeadModel(this)), accounts_(accounts),
      hiddenWidths_(CMailHeadModel::kColumnCount, kHiddenColumnWidth)
{
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true); // constant-time layout for 100 000 rows
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);

    QHeaderView* h = header();
    h->setStretchLastSection(false);
    h->setSectionsMovable(true);
    h->setSortIndicatorShown(true);
    h->setSortIndicator(-1, Qt::AscendingOrder); // unsorted until the user clicks a header
    setSortingEnabled(true);
    for (int c = 0; c < CMailHeadModel::kColumnCount; ++c)
        setColumnWidth(c, c <= CMailHeadModel::kAttachmentColumn ? kImageColumnWidth
                                                                 : kTextColumnWidth);

    connect(model_, &CMailHeadModel::countsChanged, this, &CMailHeadList::countsChanged);
    connect(this, &QAbstractItemView::doubleClicked, this, &CMailHeadList::OnDoubleClicked);
}

void CMailHeadList::Load(const std::string& account)
{
    shownAccount_ = account;
    const std::string folder = accounts_ ? accounts_->TranslateName(account, 0) : account;
    if (!AccountNames::IsSafeFolderName(folder)) {
        model_->Clear();
        return;
    }
    model_->Load(AppPaths::MailBoxFile(folder));
    if (model_->Rows() > 0)
        SelectRow(0);
}

void CMailHeadList::Clear()
{
    shownAccount_.clear();
    model_->Clear();
}

std::vector<int> CMailHeadList::SelectedRows() const
{
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    // Rows are selected whole, so the selection's ranges give the rows directly; asking
    // the selection model for its selected rows checks every row against every range,
    // which takes minutes for a scattered selection of many thousands.
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.push_back(r);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CMailHeadList::AddNewMessage(const std::string& account, const StoredMessage& message)
{
    if (shownAccount_.empty())
        return;
    // The check names the account as it was when it started; a rename made since then
    // waits in the pending list, and the tree shows the new side.
    const bool shown = account == shownAccount_ ||
                       (accounts_ && accounts_->TranslateName(account, 1) == shownAccount_);
    if (shown)
        model_->AddMessage(message);
}

void CMailHeadList::RemoveNewMessages(const std::string& account,
                                      const std::vector<std::string>& messageIds)
{
    if (shownAccount_.empty())
        return;
    const bool shown = account == shownAccount_ ||
                       (accounts_ && accounts_->TranslateName(account, 1) == shownAccount_);
    if (shown)
        model_->DropMessages(messageIds);
}

void CMailHeadList::FollowServer(const std::string& account,
                                 const std::vector<std::string>& readIds,
                                 const std::vector<std::string>& removedIds)
{
    if (shownAccount_.empty())
        return;
    const bool shown = account == shownAccount_ ||
                       (accounts_ && accounts_->TranslateName(account, 1) == shownAccount_);
    if (!shown)
        return;
    model_->ShowRead(readIds);
    model_->DropMessages(removedIds);
}

void CMailHeadList::AccountRenamed(const std::string& oldName, const std::string& newName)
{
    if (shownAccount_ != oldName)
        return;
    shownAccount_ = newName;
    FollowFolder();
}

void CMailHeadList::FollowFolder()
{
    // A rename that waits for a running check is carried out by the worker later, so the
    // folder can move under rows already shown; every write asks where it is now.
    if (shownAccount_.empty())
        return;
    const std::string folder =
        accounts_ ? accounts_->TranslateName(shownAccount_, 0) : shownAccount_;
    if (AccountNames::IsSafeFolderName(folder))
        model_->FollowMailBox(AppPaths::MailBoxFile(folder));
}

void CMailHeadList::MarkSelectedRead()
{
    FollowFolder();
    model_->SetRowsRead(SelectedRows(), true);
}

void CMailHeadList::MarkSelectedUnread()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        DialogueBox(LoadResourceString(kNothingSelectedText),
                    LoadResourceString(kMarkUnreadCaption), Owner(this), kDialogueOk,
                    kDialogueIconExclamation);
        return;
    }
    FollowFolder();
    model_->SetRowsRead(rows, false);
}

void CMailHeadList::RemoveSelected()
{
    std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        DialogueBox(LoadResourceString(kNothingSelectedText), LoadResourceString(kRemoveCaption),
                    Owner(this), kDialogueOk, kDialogueIconExclamation);
        return;
    }
    // Rows go from the first selected on; the one that ends up in the place of the last
    // removed row (or the row before, when that was the last row) is selected afterwards.
    const int last = *std::max_element(rows.begin(), rows.end());
    FollowFolder();
    const int removed = model_->RemoveRows(rows);
    clearSelection();
    if (model_->Rows() == 0)
        return;
    SelectRow(std::min(last - (removed - 1), model_->Rows() - 1));
}

void CMailHeadList::SelectAllRows()
{
    if (model_->Rows() > 0)
        selectAll();
}

void CMailHeadList::OnDoubleClicked(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const int row = index.row();
    // The message may leave or move while the mail client starts (a merge can add rows):
    // remember it by its id.
    const std::string id = model_->RowAt(row).messageId;
    emit readMailRequested();
    FollowFolder();
    for (int r = 0; r < model_->Rows(); ++r) {
        if (model_->RowAt(r).messageId == id) {
            model_->SetRowsRead({r}, true);
            break;
        }
    }
}

void CMailHeadList::SelectRow(int row)
{
    const QModelIndex index = model_->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
}

bool CMailHeadList::ApplyLayout(const std::string& text)
{
    ColumnLayout layout;
    if (!ColumnLayout::Parse(text, CMailHeadModel::kColumnCount, &layout))
        return false;
    QHeaderView* h = header();
    hiddenWidths_ = layout.widths;
    for (int c = 0; c < CMailHeadModel::kColumnCount; ++c) {
        h->setSectionHidden(c, true);
        h->resizeSection(c, layout.widths[static_cast<size_t>(c)]);
    }
    for (size_t position = 0; position < layout.order.size(); ++position) {
        const int logical = layout.order[position];
        h->setSectionHidden(logical, false);
        h->moveSection(h->visualIndex(logical), static_cast<int>(position));
        h->resizeSection(logical, layout.widths[static_cast<size_t>(logical)]);
    }
    // Saved widths are the user's: the first resize keeps them instead of spreading the
    // whole client width over them once more.
    lastWidth_ = -1;
    return true;
}

std::string CMailHeadList::CurrentLayout() const
{
    const QHeaderView* h = header();
    ColumnLayout layout;
    for (int c = 0; c < CMailHeadModel::kColumnCount; ++c)
        layout.widths.push_back(
            std::clamp(h->isSectionHidden(c) ? h->defaultSectionSize() : h->sectionSize(c), 0,
                       ColumnLayout::kMaxWidth));
    for (int v = 0; v < h->count(); ++v) {
        const int logical = h->logicalIndex(v);
        if (!h->isSectionHidden(logical))
            layout.order.push_back(logical);
    }
    return layout.Format();
}

bool CMailHeadList::ReadLayoutFromProfile()
{
    CRegistryKey key;
    std::string text;
    if (!key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Settings")) ||
        !key.ReadString(kLayoutEntry, text, 1024))
        return false;
    return ApplyLayout(text);
}

void CMailHeadList::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    const int width = viewport()->width();
    if (lastWidth_ < 0) {
        lastWidth_ = width;
        return;
    }
    QHeaderView* h = header();
    std::vector<int> logical;
    std::vector<int> widths;
    for (int v = 0; v < h->count(); ++v) {
        const int l = h->logicalIndex(v);
        if (h->isSectionHidden(l))
            continue;
        logical.push_back(l);
        widths.push_back(h->sectionSize(l));
    }
    if (ApplyResizeRule(widths, lastWidth_, width, kMinimumColumnWidth))
        for (size_t i = 0; i < logical.size(); ++i)
            h->resizeSection(logical[i], widths[i]);
    lastWidth_ = width;
}

void CMailHeadList::contextMenuEvent(QContextMenuEvent* event)
{
    if (!commands_ || model_->Rows() == 0)
        return;
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        if (!indexAt(event->pos()).isValid())
            return; // only a press on a row opens the menu
    } else {
        at = viewport()->mapToGlobal(QPoint(5, 5));
    }
    QScopedPointer<QMenu> menu(
        MenuBuilder::BuildContextMenu(ResId::kHeaderListMenu, *commands_, this));
    if (menu)
        menu->exec(at);
}
