#include "mailheadmodel.h"

#include "accountlock.h"
#include "mailboxfile.h"
#include "reportcompare.h"
#include "resourceids.h"
#include "resourceimage.h"
#include "resourcelibrary.h"

#include <QPixmap>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <sys/stat.h>
#include <unordered_set>

namespace
{

// Header texts by column.
constexpr unsigned kHeaderText[CMailHeadModel::kColumnCount] = {61424, 61425, 61416,
                                                                61417, 61418, 61419};
const std::string kEmpty;

// Writers of an account's Message.box take its lock, so a check in another process (the
// command line) never has the file changed under it. Shared with this program's own check.
bool LockFolderOf(const std::string& mailBoxPath, CAccountLock& lock,
                  std::chrono::milliseconds wait = CAccountLock::kDefaultWait)
{
    const std::string folder = std::filesystem::path(mailBoxPath).parent_path().string();
    return lock.Acquire(folder.empty() ? "." : folder, wait) == CAccountLock::Outcome::Held;
}

bool IsUnreadText(const std::string& read)
{
    return read == "No";
}

} // namespace

CMailHeadModel::CMailHeadModel(QObject* parent) : QAbstractTableModel(parent)
{
    for (int c = 0; c < kColumnCount; ++c)
        headers_[c] = QString::fromStdString(LoadResourceString(kHeaderText[c]));
    boldFont_.setBold(true);
}

int CMailHeadModel::Load(const std::string& mailBoxPath)
{
    beginResetModel();
    rows_.clear();
    unread_ = 0;
    path_ = mailBoxPath;
    int result = 0;
    struct stat st {
    };
    CMailBoxFile file;
    if (!mailBoxPath.empty() && ::stat(mailBoxPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        file.Open(mailBoxPath)) {
        rows_.reserve(file.Count());
        StoredMessage m;
        while (file.Next()) {
            if (!file.ReadCurrent(m, true, false))
                break;
            Row row;
            row.messageId = std::move(m.messageId);
            row.sender = std::move(m.sender);
            row.subject = std::move(m.subject);
            row.date = std::move(m.date);
            row.size = std::move(m.size);
            row.unread = IsUnreadText(m.read);
            row.attachment = m.attachment == "Yes";
            unread_ += row.unread ? 1 : 0;
            rows_.push_back(std::move(row));
        }
        result = 1;
    }
    if (sortColumn_ >= 0) {
        // Sorting inside the reset needs no persistent-index bookkeeping.
        std::stable_sort(rows_.begin(), rows_.end(),
                         [this](const Row& a, const Row& b) { return Before(a, b); });
    }
    endResetModel();
    EmitCounts();
    return result;
}

void CMailHeadModel::Clear()
{
    if (!rows_.empty()) {
        beginResetModel();
        rows_.clear();
        rows_.shrink_to_fit();
        endResetModel();
    }
    path_.clear();
    unread_ = 0;
    EmitCounts();
}

void CMailHeadModel::AddMessage(const StoredMessage& message)
{
    Row row;
    row.messageId = message.messageId;
    row.sender = message.sender;
    row.subject = message.subject;
    row.date = message.date;
    row.size = message.size;
    row.unread = IsUnreadText(message.read);
    row.attachment = message.attachment == "Yes";

    // Inserting at the place a stable re-sort would give is the same as appending and
    // sorting again, without re-sorting 100 000 rows for every message of a check.
    auto at = rows_.end();
    if (sortColumn_ >= 0)
        at = std::upper_bound(rows_.begin(), rows_.end(), row,
                              [this](const Row& a, const Row& b) { return Before(a, b); });
    const int position = static_cast<int>(at - rows_.begin());
    beginInsertRows(QModelIndex(), position, position);
    unread_ += row.unread ? 1 : 0;
    rows_.insert(at, std::move(row));
    endInsertRows();
    EmitCounts();
}

void CMailHeadModel::DropMessages(const std::vector<std::string>& messageIds)
{
    const std::unordered_set<std::string> ids(messageIds.begin(), messageIds.end());
    std::vector<int> rows;
    for (int r = 0; r < Rows(); ++r)
        if (ids.count(rows_[static_cast<size_t>(r)].messageId))
            rows.push_back(r);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        beginRemoveRows(QModelIndex(), *it, *it);
        unread_ -= rows_[static_cast<size_t>(*it)].unread ? 1 : 0;
        rows_.erase(rows_.begin() + *it);
        endRemoveRows();
    }
    if (!rows.empty())
        EmitCounts();
}

void CMailHeadModel::ShowRead(const std::vector<std::string>& messageIds)
{
    const std::unordered_set<std::string> ids(messageIds.begin(), messageIds.end());
    bool changed = false;
    for (int r = 0; r < Rows(); ++r) {
        Row& row = rows_[static_cast<size_t>(r)];
        if (!row.unread || ids.count(row.messageId) == 0)
            continue;
        row.unread = false;
        --unread_;
        changed = true;
        emit dataChanged(index(r, 0), index(r, kColumnCount - 1));
    }
    if (changed)
        EmitCounts();
}

int CMailHeadModel::SetRowsRead(const std::vector<int>& rows, bool read)
{
    // The rows change first, then one pass over Message.box marks them all: a selection of
    // 100 000 rows costs one read of the file and one flush, not one of each per row.
    std::unordered_set<std::string> ids;
    int changed = 0;
    for (int r : rows) {
        if (r < 0 || r >= Rows())
            continue;
        Row& row = rows_[static_cast<size_t>(r)];
        if (row.unread != read)
            continue; // already in that state
        row.unread = !read;
        unread_ += read ? -1 : 1;
        ++changed;
        ids.insert(row.messageId);
        emit dataChanged(index(r, 0), index(r, kColumnCount - 1));
    }
    if (!changed)
        return 0;
    CAccountLock lock;
    CMailBoxFile file;
    if (path_.empty() || !LockFolderOf(path_, lock) || !file.Open(path_) ||
        !file.SetRead(ids, read ? "Yes" : "No"))
        writeFailures_ += static_cast<int>(ids.size());
    EmitCounts();
    return changed;
}

int CMailHeadModel::RemoveRows(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [this](int r) { return r < 0 || r >= Rows(); }),
        rows.end());
    if (rows.empty())
        return 0;
    // One atomic rewrite of Message.box drops all the records.
    std::unordered_set<std::string> ids;
    for (int r : rows) {
        const Row& row = rows_[static_cast<size_t>(r)];
        unread_ -= row.unread ? 1 : 0;
        ids.insert(row.messageId);
    }
    CAccountLock lock;
    CMailBoxFile file;
    if (path_.empty() || !LockFolderOf(path_, lock) || !file.Open(path_) || !file.Delete(ids))
        writeFailures_ += static_cast<int>(ids.size());
    size_t runs = 1;
    for (size_t k = 1; k < rows.size(); ++k)
        runs += rows[k] != rows[k - 1] - 1 ? 1 : 0;
    if (runs > kMostRunsRemovedOneByOne) {
        // Each run removed on its own would move every row behind it again; a scattered
        // selection of thousands is compacted in one pass and the views start over.
        beginResetModel();
        std::vector<bool> gone(rows_.size(), false);
        for (int r : rows)
            gone[static_cast<size_t>(r)] = true;
        size_t kept = 0;
        for (size_t k = 0; k < rows_.size(); ++k) {
            if (gone[k])
                continue;
            if (kept != k)
                rows_[kept] = std::move(rows_[k]);
            ++kept;
        }
        rows_.resize(kept);
        endResetModel();
        EmitCounts();
        return static_cast<int>(rows.size());
    }
    // Remove runs of neighbouring rows at once (a whole selection is one run), from the
    // bottom up so that the indices still to come stay valid.
    size_t i = 0;
    while (i < rows.size()) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] - 1)
            ++j;
        const int first = rows[j];
        const int last = rows[i];
        beginRemoveRows(QModelIndex(), first, last);
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        endRemoveRows();
        i = j + 1;
    }
    EmitCounts();
    return static_cast<int>(rows.size());
}

std::string CMailHeadModel::Preview(int row) const
{
    if (row < 0 || row >= Rows() || path_.empty())
        return std::string();
    // Opening mends a torn tail, which would cut the record another process is appending
    // right now: read under the lock, and never wait for it (the user is moving through the
    // list; a preview missing while a check runs elsewhere is no loss).
    CAccountLock lock;
    CMailBoxFile file;
    if (!LockFolderOf(path_, lock, std::chrono::milliseconds(0)) || !file.Open(path_))
        return std::string();
    const std::string& id = rows_[static_cast<size_t>(row)].messageId;
    StoredMessage m;
    while (file.Next()) {
        if (!file.ReadCurrent(m, false, false))
            break;
        if (m.messageId == id && file.ReadCurrent(m, true, true))
            return m.preview;
    }
    return std::string();
}

int CMailHeadModel::CellImage(const Row& row, int column)
{
    if (column == kReadColumn)
        return row.unread ? kImageUnread : kImageRead;
    if (column == kAttachmentColumn)
        return row.attachment ? kImageAttachment : -1;
    return -1;
}

const std::string& CMailHeadModel::CellText(const Row& row, int column)
{
    switch (column) {
    case kSender:
        return row.sender;
    case kSubject:
        return row.subject;
    case kDate:
        return row.date;
    case kSize:
        return row.size;
    default:
        return kEmpty;
    }
}

bool CMailHeadModel::Less(const Row& a, const Row& b) const
{
    return CompareReportCells(CellText(a, sortColumn_), CellImage(a, sortColumn_),
                              CellText(b, sortColumn_), CellImage(b, sortColumn_)) < 0;
}

bool CMailHeadModel::Before(const Row& a, const Row& b) const
{
    // Descending is the comparison turned round; rows that compare equal keep their order
    // either way, so sorting twice by the same column changes nothing.
    return sortOrder_ == Qt::DescendingOrder ? Less(b, a) : Less(a, b);
}

void CMailHeadModel::EmitCounts()
{
    emit countsChanged(Rows(), unread_);
}

QIcon CMailHeadModel::StripIcon(int image) const
{
    if (!iconsLoaded_) {
        iconsLoaded_ = true;
        const QImage strip = LoadResourceImage(ResId::kHeaderListStrip);
        const QImage strip2 = LoadResourceImage(ResId::kHeaderListStrip, 2);
        for (int i = 0; i < 8; ++i) {
            if (strip.width() < 16 * (i + 1))
                break;
            QIcon icon(QPixmap::fromImage(strip.copy(16 * i, 0, 16, 16)));
            if (strip2.width() >= 32 * (i + 1)) {
                QImage big = strip2.copy(32 * i, 0, 32, 32);
                big.setDevicePixelRatio(2.0);
                icon.addPixmap(QPixmap::fromImage(big));
            }
            icons_[i] = icon;
        }
    }
    return image >= 0 && image < 8 ? icons_[image] : QIcon();
}

int CMailHeadModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Rows();
}

int CMailHeadModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CMailHeadModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Rows())
        return QVariant();
    const Row& row = rows_[static_cast<size_t>(index.row())];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        const std::string& text = CellText(row, column);
        if (text.empty())
            return QVariant();
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::DecorationRole: {
        const int image = CellImage(row, column);
        return image >= 0 ? QVariant(StripIcon(image)) : QVariant();
    }
    case Qt::FontRole:
        return row.unread ? QVariant(boldFont_) : QVariant();
    case Qt::TextAlignmentRole:
        if (column == kSize)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant CMailHeadModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return QVariant();
    const bool imageColumn = section == kReadColumn || section == kAttachmentColumn;
    switch (role) {
    case Qt::DisplayRole:
        // The two image columns are narrow: they show an image, and their name as a tip.
        return imageColumn ? QVariant() : QVariant(headers_[section]);
    case Qt::DecorationRole:
        if (imageColumn)
            return StripIcon(section == kReadColumn ? kImageRead : kImageAttachment);
        return QVariant();
    case Qt::ToolTipRole:
        return headers_[section];
    default:
        break;
    }
    if (role == Qt::TextAlignmentRole && section == kSize)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

void CMailHeadModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= kColumnCount) {
        sortColumn_ = -1; // unsorted: the rows keep their order
        return;
    }
    sortColumn_ = column;
    sortOrder_ = order;
    if (rows_.size() < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> perm(rows_.size());
    std::iota(perm.begin(), perm.end(), 0);
    std::stable_sort(perm.begin(), perm.end(), [this](int a, int b) {
        return Before(rows_[static_cast<size_t>(a)], rows_[static_cast<size_t>(b)]);
    });
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    std::vector<int> newRowOf(rows_.size());
    for (size_t i = 0; i < perm.size(); ++i) {
        newRowOf[static_cast<size_t>(perm[i])] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[static_cast<size_t>(perm[i])]));
    }
    rows_ = std::move(sorted);
    // The selection and the current row follow their messages.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from)
        to.append(index(newRowOf[static_cast<size_t>(i.row())], i.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
