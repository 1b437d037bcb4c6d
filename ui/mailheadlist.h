#pragma once

#include "columnlayout.h"
#include "mailheadmodel.h"

#include <QTreeView>
#include <string>
#include <vector>

class CAccountManager;
class CommandTable;

// The right pane of the main window: the stored message headers of the account whose folder
// item is selected in the account tree, over CMailHeadModel.
//
// What the main window connects:
// - readMailRequested(): a double click on a row or the list's "Read Mail" command; the main
//   window runs its read-mail command (which calls MarkSelectedRead() and starts the mail
//   client). After a double click the list marks that row read itself.
// - countsChanged(rows, unread): for the status bar.
// - the command actions 32856, 32857, 32807, 32882 to MarkSelectedRead, MarkSelectedUnread,
//   RemoveSelected and SelectAllRows (32801 is the main window's read-mail command).
// - AddNewMessage() from the new-mail merge.
//
// The context menu is menu template 141 with the actions of the CommandTable given to
// SetCommandTable(); without a table there is no context menu.
//
// Threads: the user-interface thread only.
class CMailHeadList : public QTreeView
{
    Q_OBJECT

public:
    // Message texts (caption, text).
    static constexpr unsigned kNothingSelectedText = 61420;
    static constexpr unsigned kRemoveCaption = 61421;
    static constexpr unsigned kMarkUnreadCaption = 61422;
    static constexpr int kMinimumColumnWidth = 16;

    // `accounts` (may be nullptr) translates names through the pending renames.
    explicit CMailHeadList(CAccountManager* accounts = nullptr, QWidget* parent = nullptr);

    CMailHeadModel* Model() const { return model_; }
    void SetCommandTable(CommandTable* commands) { commands_ = commands; }

    // Shows the messages of `account` (as named in the tree). While a rename of it waits
    // for a running check, its folder still has the old name and is read from there.
    void Load(const std::string& account);
    // Empties the list; no account is shown afterwards.
    void Clear();
    // The account shown, "" when none.
    const std::string& ShownAccount() const { return shownAccount_; }

    // Rows selected, in the order they were selected.
    std::vector<int> SelectedRows() const;

    // Column layout: the profile string ("Settings", "MailHeaderList"). Apply returns false
    // and changes nothing when the text does not fit the six columns.
    bool ApplyLayout(const std::string& text);
    std::string CurrentLayout() const;
    // Reads the layout from the settings store (the program's "Settings" key, entry
    // "MailHeaderList"). The program never writes it: a layout set there by hand stays.
    bool ReadLayoutFromProfile();

public slots:
    // A message stored for `account` by the merge: shown when it is the shown account
    // (the name the check used may be the old side of a pending rename).
    void AddNewMessage(const std::string& account, const StoredMessage& message);
    // The merge took these messages back out of the store (their check failed to record
    // them): their rows go when the account is shown.
    void RemoveNewMessages(const std::string& account, const std::vector<std::string>& messageIds);
    // The merge followed the server's read state for `account`: rows show read or go.
    void FollowServer(const std::string& account, const std::vector<std::string>& readIds,
                      const std::vector<std::string>& removedIds);
    // The account shown was renamed: the rows stay, and writes follow its folder.
    void AccountRenamed(const std::string& oldName, const std::string& newName);
    void MarkSelectedRead();
    // With nothing selected, says so (61420 / 61422).
    void MarkSelectedUnread();
    // With nothing selected, says so (61420 / 61421).
    void RemoveSelected();
    void SelectAllRows();

signals:
    void readMailRequested();
    void countsChanged(int rows, int unread);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Points the rows at the account's folder as it is now named on disk.
    void FollowFolder();
    void OnDoubleClicked(const QModelIndex& index);
    void SelectRow(int row);

    CMailHeadModel* model_;
    CAccountManager* accounts_;
    CommandTable* commands_ = nullptr;
    std::string shownAccount_;
    // Width of each column while hidden (a hidden header section reports 0).
    std::vector<int> hiddenWidths_;
    int lastWidth_ = 0;
};
