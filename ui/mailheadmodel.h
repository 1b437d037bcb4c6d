#pragma once

#include "messagerecord.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QIcon>
#include <string>
#include <vector>

// The rows of the header list: the stored messages of one account's Message.box.
//
// Columns: 0 read state (image 3 unread, 4 read), 1 attachment (image 6 when the message has
// one), 2 sender, 3 subject, 4 date, 5 size (right aligned). Unread rows are bold. Texts are
// kept as the stored UTF-8 bytes, so sorting compares exactly those bytes
// (CompareReportCells), and are turned into QStrings only for the rows on screen: the model
// holds one small struct per message and no per-row objects, so 100 000 messages load in
// one pass and scroll smoothly with uniform row heights.
//
// Writes go to the rows and to Message.box whatever the outcome (a failed write leaves the
// file as it was; the list shows the new state anyway, as the user asked for it), and
// WriteFailures() counts the rows whose write failed. One command is one store call for all
// its rows (one pass and one flush to mark, one atomic rewrite to remove), so "select all"
// on 100 000 messages costs about what one message does.
//
// Writes take the account's CAccountLock (shared with this program's own check, exclusive
// against another process checking the account); a lock that stays taken fails the write.
//
// Threads: the user-interface thread only (the thread that writes Message.box).
class CMailHeadModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { kReadColumn, kAttachmentColumn, kSender, kSubject, kDate, kSize, kColumnCount };
    // Images of the list strip (resource 312).
    static constexpr int kImageUnread = 3;
    static constexpr int kImageRead = 4;
    static constexpr int kImageAttachment = 6;

    struct Row {
        std::string messageId;
        std::string sender;
        std::string subject;
        std::string date;
        std::string size;
        bool unread = false;
        bool attachment = false;
    };

    explicit CMailHeadModel(QObject* parent = nullptr);

    // Replaces the rows by the messages of `mailBoxPath`, in file order (then sorted when a
    // sort column is set). A file that is missing or cannot be opened gives an empty list and
    // 0, else 1. Looking never creates a file: a missing Message.box stays missing.
    int Load(const std::string& mailBoxPath);
    // Empties the list and forgets the file.
    void Clear();
    const std::string& MailBoxPath() const { return path_; }
    // The same file under another path (its folder was renamed): later writes go there.
    void FollowMailBox(const std::string& mailBoxPath) { path_ = mailBoxPath; }

    // A message stored for the shown account: added as a row (kept in sort order).
    void AddMessage(const StoredMessage& message);
    // Messages taken back out of the store by the merge: their rows go (no file write).
    void DropMessages(const std::vector<std::string>& messageIds);
    // Messages the merge marked read in the store (the server had seen them): their rows
    // show read (no file write).
    void ShowRead(const std::vector<std::string>& messageIds);

    // Sets the read state of the given rows and their Message.box records; rows already in
    // that state are skipped. Returns how many rows changed.
    int SetRowsRead(const std::vector<int>& rows, bool read);
    // Removes the rows and their records. Returns how many rows went. A selection of more
    // than kMostRunsRemovedOneByOne separate runs resets the views instead of removing run
    // by run.
    int RemoveRows(std::vector<int> rows);
    static constexpr size_t kMostRunsRemovedOneByOne = 32;

    // The body preview of a row, read from Message.box on demand under the account's lock
    // without waiting for it ("" when unavailable, or while another process holds the lock).
    std::string Preview(int row) const;

    const Row& RowAt(int row) const { return rows_[static_cast<size_t>(row)]; }
    int Rows() const { return static_cast<int>(rows_.size()); }
    int UnreadCount() const { return unread_; }
    int WriteFailures() const { return writeFailures_; }
    // The image a row's cell shows, -1 for none.
    static int CellImage(const Row& row, int column);
    static const std::string& CellText(const Row& row, int column);

    // -1 when unsorted.
    int SortColumn() const { return sortColumn_; }
    Qt::SortOrder SortOrder() const { return sortOrder_; }

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

signals:
    // The row count and the unread count changed (the status bar shows them).
    void countsChanged(int rows, int unread);

private:
    bool Less(const Row& a, const Row& b) const;
    // a comes before b in the current sort order.
    bool Before(const Row& a, const Row& b) const;
    void EmitCounts();
    QIcon StripIcon(int image) const;

    std::vector<Row> rows_;
    std::string path_;
    int unread_ = 0;
    int writeFailures_ = 0;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    QString headers_[kColumnCount];
    mutable QIcon icons_[8];
    mutable bool iconsLoaded_ = false;
    QFont boldFont_;
};
