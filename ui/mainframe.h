#pragma once

#include "frontwindowtarget.h"
#include "headerlisttarget.h"
#include "leftview.h"
#include "notificationtarget.h"
#include "notifywindow.h"
#include "traycommands.h"

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CAccountManager;
class CDesktopNotifyActions;
class CEngineState;
class CLedDevice;
class CMailHeadList;
class CMailLedBlinker;
class CMainToolBar;
class CNotifyDispatcher;
class CPreviewPane;
class CStoreFailureNotice;
class CTrayIcon;
class CommandTable;
class QLabel;
class QSplitter;

// The main window: the account tree beside the header list in a splitter, the preview pane
// under the list (the view command "Preview Pane" shows or hides it; ViewProfile remembers
// the choice), the toolbar, a three-pane status bar, the tray icon and the mail-LED blinker,
// and every command of the main menu as a shared action (CommandTable) with its enable rule.
//
// It is also the front the new-mail merge talks to (HeaderListTarget, NotificationTarget,
// FrontWindowTarget) and the window the tray icon and the notifications act on.
//
// Life: constructed hidden; FillTree() after the engine has loaded the account table;
// StartShown() shows it (or keeps it in the tray). Closing the window or the exit command
// runs the exit sequence (animation off, LED at rest, Exchange logged off, 3D window
// closed, checking disabled, window hidden) and wakes the engine through Hooks::wake; the
// window stays alive until the engine's worker has drained and asks for Close(), which
// removes the tray icon, closes the popups and emits closedForGood().
//
// Where other windows come in, the frame emits a signal (the wizard, the settings, the
// filter rules, the 3D notifier) and takes the outcome back through a slot.
//
// Threads: the user-interface thread only. `accounts`, `state` and `led` must outlive it.
class CMainFrame : public QMainWindow,
                   public TrayCommands,
                   public NotifyWindow,
                   public HeaderListTarget,
                   public NotificationTarget,
                   public FrontWindowTarget
{
    Q_OBJECT
public:
    // Widths as parts of the screen and of the window, and the status panes.
    static constexpr double kWidthPart = 0.824888;
    static constexpr double kHeightPart = 0.724444;
    static constexpr double kTreePart = 0.17;
    static constexpr double kStatusTextPart = 0.35;
    static constexpr double kCountsPart = 0.25;
    static constexpr int kUpdatePeriodMs = 1000;
    static constexpr int kEngineTextSeconds = 1;

    // What the frame asks of the rest of the program.
    struct Hooks {
        std::function<void()> wake;           // a check was requested, or exit: run the worker now
        std::function<void()> logoffExchange; // ends the Exchange session
        std::function<void(const QString&)> openHelp; // opens the help page (a path)
    };

    CMainFrame(CAccountManager& accounts, CEngineState& state, CLedDevice& led, Hooks hooks,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Places and sizes the window on `screen` (null: the primary screen).
    void PlaceOnScreen(QScreen* screen);
    // Adds every account of the table to the tree and selects the first; false when there
    // is none (the caller then starts the wizard: newAccountRequested() is emitted).
    bool FillTree();
    // Another writer changed the accounts on disk: the tree shows `accounts` (see
    // CLeftView::ShowAccounts), and the status bar and the commands follow.
    void AccountsChanged(const std::vector<CLeftView::Listed>& accounts,
                         const std::vector<std::pair<std::string, std::string>>& renamed);
    // Shows the window as start-up wants it: hidden in the tray when `minimum` and the
    // wizard was not needed, else shown.
    void StartShown(bool minimum, bool wizardOpened);
    // Re-evaluates every command's enable rule now (also done on a timer and on changes).
    void UpdateCommands();
    // Runs the command through its action; false when it is unknown or disabled.
    bool RunCommandNow(unsigned commandId);

    // A second start of the program asks for us.
    void ShowFromSecondStart();
    // The exit sequence; safe to run more than once.
    void ExitSequence();
    // Opens the help page of `topic` (a page name under the help folder, no extension).
    void OpenHelpTopic(const std::string& topic);
    bool Exiting() const { return exiting_; }
    bool ClosedForGood() const { return closedForGood_; }

    CommandTable& Commands() const { return *commands_; }
    CLeftView* Tree() const { return tree_; }
    CMailHeadList* List() const { return list_; }
    CPreviewPane* Preview() const { return preview_; }
    CTrayIcon& Tray() const { return *tray_; }
    CMailLedBlinker& Blinker() const { return *blinker_; }
    QLabel* StatusPane(int index) const;

    // TrayCommands
    void RunCommand(unsigned commandId) override;
    void SelectAccount(const std::string& account) override;
    void BringToFront() override;
    TrayMenuState MenuState() const override;
    // NotifyWindow
    bool IsMinimised() const override;
    void Run3dEffect() override;
    QScreen* PopupScreen() const override;
    // HeaderListTarget, NotificationTarget, FrontWindowTarget (the merge)
    void AddNewMessage(const std::string& account, const StoredMessage& message) override;
    void FollowServer(const std::string& account, const std::vector<std::string>& readIds,
                      const std::vector<std::string>& removedIds) override;
    void RemoveNewMessages(const std::string& account,
                           const std::vector<std::string>& messageIds) override;
    void Notify(const std::string& account, int32_t newCount, int32_t result) override;
    // A failure with its own reason (mail that could not be stored, a file that cannot be
    // used) is told once per account until a check of it succeeds again.
    void NotifySummary(const CheckResultRecord& summary) override;
    void ShowText(const std::string& text) override;
    void CheckAnimation(bool on) override;
    void Close() override;

public slots:
    // The wizard finished and made `account`.
    void AccountCreated(const QString& account);

signals:
    void newAccountRequested();
    void settingsRequested();
    void filterRulesRequested();
    void threeDEffectRequested();
    void threeDWindowCloseRequested();
    void closedForGood();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The notice's "Trust this certificate for this account": the account keeps `pin`; a
    // failure to store it shows as a popup.
    void TrustCertificate(const std::string& account, const std::string& pin);
    void BuildCommands();
    // The desktop notices' actions and the end of quiet hours.
    void ConnectDesktopNotices();
    void BuildStatusBar();
    void Connect(unsigned id, std::function<void()> handler);
    bool NoAccountNotice();
    void CheckSelected();
    void CheckAll();
    void LogoffExchange();
    void ReadMail();
    void Restore();
    void Help();
    void UpdateStatusText();
    void UpdateCounts(int rows, int unread);
    void LayoutStatusPanes();

    CAccountManager& accounts_;
    CEngineState& state_;
    Hooks hooks_;
    CommandTable* commands_;
    CMainToolBar* toolBar_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QSplitter* messages_ = nullptr; // the list above the preview
    CLeftView* tree_ = nullptr;
    CMailHeadList* list_ = nullptr;
    CPreviewPane* preview_ = nullptr;
    QLabel* panes_[3] = {};
    // Notification members in the order they depend on each other.
    std::unique_ptr<CMailLedBlinker> blinker_;
    std::unique_ptr<CTrayIcon> tray_;
    std::unique_ptr<CDesktopNotifyActions> actions_;
    std::unique_ptr<CNotifyDispatcher> dispatcher_;
    QTimer updateTimer_;
    bool exiting_ = false;
    bool closedForGood_ = false;
    std::unique_ptr<CStoreFailureNotice> storeFailures_;
};
