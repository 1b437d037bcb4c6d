#pragma once

#include <QTreeWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class CAccountManager;
class CMailHeadList;
class CommandTable;
class QPoint;

// The left pane of the main window: the accounts as a tree, one account item per account
// (image 319, or 327 when it has an access password) with one folder item under it (text
// 61426, image 134), in the order of the account table.
//
// Access gate. An account with an access password counts as unlocked in this run while its
// account item is expanded; expanding it (mouse, keyboard or code) asks for the password
// through the prompt given to SetAccessPrompt(), and every account command (access
// password, properties, rename, delete) passes the same gate first. An account that is not
// usable is refused with message 61394 before anything else. Collapsing locks it again.
// Such an account's item is added collapsed; an account without an access password is added
// expanded, as there is nothing to unlock.
//
// Selecting an item empties the header list; selecting a folder item loads that account's
// messages, and so does selecting the account item of an account without an access password
// (a protected account's item keeps the list empty: its messages show under its folder
// only, after the password). When an account gains or loses its access password while its
// item is selected, the list follows at once. The selected account (the account item's
// name, or the folder's parent's) is reported by selectedAccountChanged() and kept by
// SelectedAccount(); the tray's checking animation follows whether that account is being
// checked (checkAnimationRequested()).
//
// What the main window connects: ConnectHeaderList(); selectedAccountChanged to the engine's
// selected-account holder and the status bar; checkAnimationRequested to the tray; the
// command actions 32797, 32800, 32786, 32782 to the command slots; the two dialog signals
// to the dialogs, which report back with AccessPasswordChanged() and AccountRenamed().
//
// Names are kept as the stored bytes (an item's Qt::UserRole holds them) and compared
// exactly. Threads: the user-interface thread only.
class CLeftView : public QTreeWidget
{
    Q_OBJECT

public:
    static constexpr unsigned kUnusableText = 61394;
    static constexpr unsigned kUnusableCaption = 61395;
    static constexpr unsigned kDeleteText = 61413;
    static constexpr unsigned kDeleteCaption = 61414;
    static constexpr unsigned kDeleteFailedText = 61415;
    static constexpr unsigned kFolderText = 61426;
    static constexpr unsigned kPushStateText = 40322; // "Push: %s"

    // The access-password prompt: shows it for the account and answers true when it ended
    // with OK and the password was right. Without one, a locked account stays locked.
    using AccessPrompt = std::function<bool(const std::string& account)>;

    enum class RenameOutcome {
        Cancelled, // empty text: editing was cancelled
        Refused,   // invalid or in use (the name rules showed why)
        SameName,  // equal to the old name without regard to case
        RenamedNow,
        Deferred,   // the account is being checked: its folder follows when the check ends
        Redirected, // a waiting rename now aims at the new name
        Failed,     // a file could not be written, or the account is being checked by
                    // another process: everything stays as it was (the message said why)
    };

    // `accounts` must outlive the view; Account.cfg is AppPaths::AccountListFile(). Rename
    // and delete are CAccountEditor's operations; the view shows their results.
    explicit CLeftView(CAccountManager* accounts, QWidget* parent = nullptr);

    void SetCommandTable(CommandTable* commands) { commands_ = commands; }
    void SetAccessPrompt(AccessPrompt prompt) { prompt_ = std::move(prompt); }
    // Where an account item's tooltip learns the state of the account's push connection
    // ("connected", "reconnecting"; empty: no push). The tooltip reads "Push: <state>".
    using PushStateSource = std::function<std::string(const std::string& account)>;
    void SetPushStateSource(PushStateSource source) { pushState_ = std::move(source); }
    // The tooltip text of the item at `pos` in viewport coordinates (empty: none).
    QString ToolTipAt(const QPoint& pos) const;
    void ConnectHeaderList(CMailHeadList* list);

    // Appends the account's item (expanded when it has no access password).
    void AddAccount(const std::string& name, bool hasAccessPassword);

    // An account as the account list has it, for ShowAccounts().
    struct Listed {
        std::string name;
        bool hasAccessPassword = false;
        bool relock = false; // its access password changed: collapse (lock) its item
    };
    // Shows `accounts`, in this order, after another writer changed them. An item of
    // `renamed` (old name, new name) keeps its state under its new name; items no longer
    // listed go (accountDeleted()), new ones come in at their places (expanded when they
    // have no access password). The selection stays
    // where it was unless its account went; with none, the first account is selected.
    void ShowAccounts(const std::vector<Listed>& accounts,
                      const std::vector<std::pair<std::string, std::string>>& renamed);
    // Selects every account item named exactly `name` in turn (the last one stays).
    void SelectAccount(const std::string& name);
    // All items, folder items included; 0 means no account.
    int Count() const;
    bool IsAccountSelected() const;
    // The selected account's item is expanded, or no account item is selected.
    bool IsUnlocked() const;
    const std::string& SelectedAccount() const { return selected_; }

    // The account item of `item` (itself, or its parent); nullptr for nullptr.
    static QTreeWidgetItem* AccountItemOf(QTreeWidgetItem* item);
    static std::string NameOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* AccountItem(const std::string& name) const;

    // The gate for the account of `accountItem`.
    bool PassGate(QTreeWidgetItem* accountItem);
    // Expands the account item when the gate lets it; false when refused.
    bool RequestExpand(QTreeWidgetItem* accountItem);

    // The end of an in-place rename with the edited text.
    RenameOutcome FinishRename(QTreeWidgetItem* accountItem, std::string newName);

    // Reports of the dialogs: the access password of `account` was set or cleared; the
    // properties dialog renamed an account.
    void AccessPasswordChanged(const std::string& account);
    void AccountRenamed(const std::string& oldName, const std::string& newName);

public slots:
    void AccessPasswordCommand(); // 32797
    void PropertiesCommand();     // 32800
    void RenameCommand();         // 32786
    void DeleteCommand();         // 32782

signals:
    void listClearRequested();
    void listLoadRequested(const std::string& account);
    void selectedAccountChanged(const std::string& account);
    void checkAnimationRequested(bool on);
    void accessPasswordDialogRequested(const std::string& account);
    void propertiesDialogRequested(const std::string& account);
    void accountDeleted(const std::string& account);
    void accountRenamed(const std::string& oldName, const std::string& newName);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    bool viewportEvent(QEvent* event) override;

private:
    void OnCurrentItemChanged(QTreeWidgetItem* current);
    void OnItemExpanded(QTreeWidgetItem* item);
    void SetSelected(const std::string& name);
    QTreeWidgetItem* SelectedAccountItem() const;
    // Runs the gate for the selected account; the item when it passes, else nullptr.
    QTreeWidgetItem* GatedSelection();
    // Sets the item's image and remembers whether the account has an access password; the
    // list follows when that changes for the selected account item.
    void SetAccessState(QTreeWidgetItem* item, bool hasAccessPassword);
    static bool HasAccessPassword(const QTreeWidgetItem* accountItem);
    // Selecting `item` shows its account's messages: a folder item, or the item of an
    // account without an access password.
    static bool ListShows(const QTreeWidgetItem* item);
    QTreeWidgetItem* NewAccountItem(const std::string& name, bool hasAccessPassword);
    // Expands an item placed in the tree without asking: it has nothing to unlock.
    void ExpandOpenAccount(QTreeWidgetItem* item);
    // Moves a top-level item to `index`, keeping it the current item when it was.
    void MoveAccountItem(QTreeWidgetItem* item, int index);

    CAccountManager* accounts_;
    CommandTable* commands_ = nullptr;
    AccessPrompt prompt_;
    PushStateSource pushState_;
    std::string selected_;
    bool expanding_ = false; // an expansion the gate let through is under way
    QIcon accountIcon_;
    QIcon lockedIcon_;
    QIcon folderIcon_;
};
