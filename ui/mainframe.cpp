#include "mainframe.h"

#include "aboutbox.h"
#include "accountmanager.h"
#include "accountreadmarker.h"
#include "apppaths.h"
#include "commandtable.h"
#include "desktopnotifyactions.h"
#include "dialoguebox.h"
#include "enginestate.h"
#include "leftview.h"
#include "mailclientstart.h"
#include "mailheadlist.h"
#include "mailledblinker.h"
#include "maintoolbar.h"
#include "menubuilder.h"
#include "menustyle.h"
#include "menutemplate.h"
#include "notifydispatcher.h"
#include "popupframe.h"
#include "previewpane.h"
#include "regsettings.h"
#include "resourcelibrary.h"
#include "storefailurenotice.h"
#include "toolbartemplate.h"
#include "trayicon.h"
#include "trustcertificate.h"
#include "viewprofile.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

namespace
{

// Commands of the main menu handled here.
enum Command : unsigned {
    kCheckSelected = 32809,
    kCheckAll = 32810,
    kLogonExchange = 32892,
    kLogoffExchange = 32881,
    kNewAccount = 32775,
    kNewAccountOther = 32794,
    kSettings = 32813,
    kFilterRules = 32814,
    kReadMail = 32801,
    kThreeD = 32853,
    kHelp = 1047,
    kProperties = 32800,
    kAccessPassword = 32797,
    kRename = 32786,
    kDelete = 32782,
    kRemoveMessages = 32807,
    kMarkRead = 32856,
    kMarkUnread = 32857,
    kSelectAll = 32882,
    kTreePane = 32883,
    kListPane = 32884,
    kPreviewPane = 32885,
    kFlatMenus = 32888,
    kRestore = 32771,
    kExit = 57665,
    kAbout = 57664,
};

// Texts.
constexpr unsigned kApplicationWord = 32900;
constexpr unsigned kNoAccountText = 61390;
constexpr unsigned kNoAccountCaption = 61391;
constexpr unsigned kLogoffText = 61392;
constexpr unsigned kLogoffCaption = 61393;
constexpr unsigned kHelpTopic = 61386;
constexpr unsigned kMessagesLabel = 61398;
// The preview pane's part of the height under the header list.
constexpr double kPreviewPart = 0.35;
// How soon after quiet hours end their summary shows, at the latest.
constexpr int kQuietTickMs = 30000;
constexpr unsigned kUnreadLabel = 61399;

constexpr int kKindWebMail = 1;
constexpr int kKindExchange = 2;

// The message boxes' owner handle: the window as a QWidget.
void* OwnerOf(QWidget* window)
{
    return window;
}

QString Text(unsigned id)
{
    return QString::fromStdString(LoadResourceString(id));
}

} // namespace

CMainFrame::CMainFrame(CAccountManager& accounts, CEngineState& state, CLedDevice& led, Hooks hooks,
                       QWidget* parent)
    : QMainWindow(parent), accounts_(accounts), state_(state), hooks_(std::move(hooks)),
      commands_(new CommandTable(this))
{
    setWindowTitle(Text(kApplicationWord));
    commands_->AddBundleTemplates();

    MenuStyle::SetFlat(true);
    MenuBuilder::FillMenuBar(menuBar(), LoadMenuTemplate(128), *commands_);
    toolBar_ = new CMainToolBar(LoadToolbarTemplate(128), *commands_, this);
    addToolBar(Qt::TopToolBarArea, toolBar_);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    tree_ = new CLeftView(&accounts_, splitter_);
    messages_ = new QSplitter(Qt::Vertical, splitter_);
    list_ = new CMailHeadList(&accounts_, messages_);
    preview_ = new CPreviewPane(messages_);
    tree_->SetCommandTable(commands_);
    list_->SetCommandTable(commands_);
    tree_->ConnectHeaderList(list_);
    list_->ReadLayoutFromProfile();
    preview_->Follow(list_);
    messages_->addWidget(list_);
    messages_->addWidget(preview_);
    messages_->setStretchFactor(0, 1);
    messages_->setChildrenCollapsible(false);
    splitter_->addWidget(tree_);
    splitter_->addWidget(messages_);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);
    BuildStatusBar();

    blinker_ = std::make_unique<CMailLedBlinker>(led);
    tray_ = std::make_unique<CTrayIcon>(*this);
    actions_ = std::make_unique<CDesktopNotifyActions>(*this, *tray_, *blinker_);
    dispatcher_ = std::make_unique<CNotifyDispatcher>(*actions_);
    tray_->Start(windowTitle());
    ConnectDesktopNotices();

    connect(tree_, &CLeftView::selectedAccountChanged, this, [this](const std::string& name) {
        state_.SetSelectedAccount(name);
        UpdateStatusText();
        UpdateCommands();
    });
    connect(tree_, &CLeftView::checkAnimationRequested, this, &CMainFrame::CheckAnimation);
    tree_->SetPushStateSource([this](const std::string& name) { return state_.PushState(name); });
    connect(tree_, &CLeftView::accountDeleted, this, [this] {
        UpdateStatusText();
        UpdateCommands();
    });
    connect(list_, &CMailHeadList::countsChanged, this, &CMainFrame::UpdateCounts);
    connect(list_, &CMailHeadList::readMailRequested, this, [this] { ReadMail(); });

    BuildCommands();
    // Enable rules depend on the account table, which check threads change: while the
    // window is shown they are re-evaluated regularly, as a framework's idle-time update
    // would. Hidden in the tray nothing shows them (the tray runs a command through
    // RunCommandNow, which evaluates first), so the program sleeps there.
    updateTimer_.setInterval(kUpdatePeriodMs);
    connect(&updateTimer_, &QTimer::timeout, this, &CMainFrame::UpdateCommands);
    UpdateStatusText();
    UpdateCommands();
    tree_->setFocus();
}

CMainFrame::~CMainFrame()
{
    updateTimer_.stop();
    // The dispatcher and the actions refer to the tray and the blinker: end them first.
    dispatcher_.reset();
    actions_.reset();
    tray_.reset();
    blinker_.reset();
}

void CMainFrame::PlaceOnScreen(QScreen* screen)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const int width = static_cast<int>(kWidthPart * area.width());
    const int height = static_cast<int>(kHeightPart * area.height());
    resize(width, height);
    move(area.x() + (area.width() - width) / 2, area.y() + (area.height() - height) / 2);
    const int treeWidth = static_cast<int>(kTreePart * area.width());
    splitter_->setSizes({treeWidth, std::max(1, width - treeWidth)});
    const int previewHeight = static_cast<int>(kPreviewPart * height);
    messages_->setSizes({std::max(1, height - previewHeight), previewHeight});
}

void CMainFrame::BuildStatusBar()
{
    for (int i = 0; i < 3; ++i) {
        panes_[i] = new QLabel(this);
        statusBar()->addWidget(panes_[i], i == 2 ? 1 : 0);
    }
    panes_[1]->setText(QStringLiteral("  "));
    LayoutStatusPanes();
}

QLabel* CMainFrame::StatusPane(int index) const
{
    return index >= 0 && index < 3 ? panes_[index] : nullptr;
}

void CMainFrame::LayoutStatusPanes()
{
    const int width = statusBar()->width();
    panes_[0]->setFixedWidth(static_cast<int>(kStatusTextPart * width));
    panes_[1]->setFixedWidth(static_cast<int>(kCountsPart * width));
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    UpdateCommands();
    if (!closedForGood_)
        updateTimer_.start();
}

void CMainFrame::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    updateTimer_.stop();
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    LayoutStatusPanes();
}

void CMainFrame::Connect(unsigned id, std::function<void()> handler)
{
    connect(commands_->Action(id), &QAction::triggered, this,
            [handler = std::move(handler)] { handler(); });
}

void CMainFrame::BuildCommands()
{
    Connect(kCheckSelected, [this] { CheckSelected(); });
    Connect(kLogonExchange, [this] { CheckSelected(); });
    Connect(kCheckAll, [this] { CheckAll(); });
    Connect(kLogoffExchange, [this] { LogoffExchange(); });
    Connect(kNewAccount, [this] { emit newAccountRequested(); });
    Connect(kNewAccountOther, [this] { emit newAccountRequested(); });
    Connect(kSettings, [this] { emit settingsRequested(); });
    Connect(kFilterRules, [this] { emit filterRulesRequested(); });
    Connect(kReadMail, [this] { ReadMail(); });
    Connect(kThreeD, [this] { Run3dEffect(); });
    Connect(kHelp, [this] { Help(); });
    Connect(kProperties, [this] { tree_->PropertiesCommand(); });
    Connect(kAccessPassword, [this] { tree_->AccessPasswordCommand(); });
    Connect(kRename, [this] { tree_->RenameCommand(); });
    Connect(kDelete, [this] { tree_->DeleteCommand(); });
    Connect(kRemoveMessages, [this] { list_->RemoveSelected(); });
    Connect(kMarkRead, [this] { list_->MarkSelectedRead(); });
    Connect(kMarkUnread, [this] { list_->MarkSelectedUnread(); });
    Connect(kSelectAll, [this] { list_->SelectAllRows(); });
    Connect(kTreePane, [this] { tree_->setFocus(); });
    Connect(kListPane, [this] { list_->setFocus(); });
    QAction* flat = commands_->Action(kFlatMenus);
    flat->setCheckable(true);
    flat->setChecked(MenuStyle::IsFlatSwitchOn());
    connect(flat, &QAction::toggled, this, [](bool on) { MenuStyle::SetFlat(on); });
    QAction* preview = commands_->Action(kPreviewPane);
    preview->setCheckable(true);
    preview->setChecked(ViewProfile::PreviewPaneShown());
    preview_->setVisible(preview->isChecked());
    connect(preview, &QAction::toggled, this, [this](bool on) {
        preview_->setVisible(on);
        // A store that cannot be written only costs the next start this choice.
        ViewProfile::SetPreviewPaneShown(on);
    });
    Connect(kRestore, [this] { Restore(); });
    Connect(kExit, [this] { ExitSequence(); });
    Connect(kAbout, [this] {
        CAboutBox box(this);
        box.exec();
    });
}

void CMainFrame::UpdateCommands()
{
    const bool haveAccounts = tree_->Count() > 0;
    // The tree shows a deferred rename's new name; the table row keeps the old one.
    const std::string selected = accounts_.TranslateName(tree_->SelectedAccount(), 0);
    bool selectedExchange = false;
    bool selectedBusy = false;
    for (const AccountEntry& row : accounts_.Snapshot()) {
        if (row.name == selected) {
            selectedExchange = row.kind == kKindExchange;
            selectedBusy = row.IsBusy();
        }
    }
    const bool loggedOn = state_.exchangeLoggedOn.load() == 1;
    auto set = [this](unsigned id, bool on) { commands_->Action(id)->setEnabled(on); };
    set(kCheckSelected, haveAccounts && !selectedExchange && !selectedBusy);
    set(kCheckAll, haveAccounts);
    set(kLogonExchange, !loggedOn && haveAccounts && selectedExchange);
    set(kLogoffExchange, loggedOn);
    for (unsigned id : {kProperties, kAccessPassword, kRename, kDelete})
        set(id, haveAccounts);
}

bool CMainFrame::RunCommandNow(unsigned commandId)
{
    UpdateCommands();
    QAction* action = commands_->Find(commandId);
    if (!action || !action->isEnabled())
        return false;
    action->trigger();
    return true;
}

bool CMainFrame::NoAccountNotice()
{
    if (tree_->Count() > 0)
        return false;
    DialogueBox(LoadResourceString(kNoAccountText), LoadResourceString(kNoAccountCaption),
                OwnerOf(this), kDialogueOk, kDialogueIconExclamation);
    return true;
}

void CMainFrame::CheckSelected()
{
    if (NoAccountNotice())
        return;
    const std::string name = tree_->SelectedAccount();
    QTreeWidgetItem* item = tree_->AccountItem(name);
    // The gate refuses an unusable account with its message and asks for the access
    // password of a locked one.
    if (!tree_->PassGate(item))
        return;
    accounts_.EnterOrRequest(accounts_.TranslateName(name, 0), 1, nullptr, nullptr, 0);
    if (hooks_.wake)
        hooks_.wake();
    UpdateCommands();
}

void CMainFrame::CheckAll()
{
    if (NoAccountNotice())
        return;
    for (const AccountEntry& row : accounts_.Snapshot())
        accounts_.EnterOrRequest(row.name, 1, nullptr, nullptr, 0);
    if (hooks_.wake)
        hooks_.wake();
    UpdateCommands();
}

void CMainFrame::LogoffExchange()
{
    if (DialogueBox(LoadResourceString(kLogoffText), LoadResourceString(kLogoffCaption),
                    OwnerOf(this), kDialogueOkCancel, kDialogueIconQuestion) != kDialogueIdOk)
        return;
    if (hooks_.logoffExchange)
        hooks_.logoffExchange();
    state_.exchangeLoggedOn = 0;
    UpdateCommands();
}

void CMainFrame::ReadMail()
{
    blinker_->StopBlink();
    list_->MarkSelectedRead();
    CRegSettings settings;
    settings.LoadGeneral();
    StartMailClientCommand(settings.general.mailClientPath.Get());
}

void CMainFrame::Restore()
{
    if (!IsMinimised())
        return;
    blinker_->StopBlink();
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::Help()
{
    OpenHelpTopic(Text(kHelpTopic).toStdString());
}

void CMainFrame::OpenHelpTopic(const std::string& topic)
{
    const QString page = QString::fromStdString(AppPaths::AssetDir()) + QStringLiteral("/help/") +
                         QString::fromStdString(topic) + QStringLiteral(".htm");
    if (hooks_.openHelp)
        hooks_.openHelp(page);
}

void CMainFrame::UpdateStatusText()
{
    if (tree_->Count() == 0) {
        panes_[0]->clear();
        panes_[1]->clear();
        return;
    }
    panes_[0]->setText(QStringLiteral("    ") + QString::fromStdString(tree_->SelectedAccount()));
    if (list_->ShownAccount().empty())
        panes_[1]->clear();
}

void CMainFrame::UpdateCounts(int rows, int unread)
{
    // The counts are the header list's: they mean something only while it shows an account
    // (with a protected account's own item selected the list is empty).
    if (tree_->Count() == 0 || list_->ShownAccount().empty()) {
        panes_[1]->clear();
        return;
    }
    panes_[1]->setText(QStringLiteral("      %1:   %2 / %3:   %4")
                           .arg(Text(kMessagesLabel))
                           .arg(rows)
                           .arg(Text(kUnreadLabel))
                           .arg(unread));
}

bool CMainFrame::FillTree()
{
    std::vector<AccountEntry> rows = accounts_.Snapshot();
    for (const AccountEntry& row : rows)
        tree_->AddAccount(row.name, !row.accessPassword.empty());
    if (!rows.empty())
        tree_->SelectAccount(rows.front().name);
    UpdateStatusText();
    UpdateCommands();
    if (rows.empty()) {
        emit newAccountRequested();
        return false;
    }
    return true;
}

void CMainFrame::AccountsChanged(const std::vector<CLeftView::Listed>& accounts,
                                 const std::vector<std::pair<std::string, std::string>>& renamed)
{
    tree_->ShowAccounts(accounts, renamed);
    UpdateStatusText();
    UpdateCommands();
}

void CMainFrame::StartShown(bool minimum, bool wizardOpened)
{
    if (minimum && !wizardOpened) {
        // Lives in the tray: nothing on the screen but the icon.
        hide();
        return;
    }
    show();
}

void CMainFrame::AccountCreated(const QString& account)
{
    const std::string name = account.toStdString();
    if (!tree_->AccountItem(name))
        tree_->AddAccount(name, accounts_.HasAccessPassword(name) != 0);
    tree_->SelectAccount(name);
    UpdateStatusText();
    UpdateCommands();
}

void CMainFrame::ShowFromSecondStart()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
    tray_->Restore();
    // Keeps an exiting program alive: the worker sees checking enabled again.
    state_.checkingEnabled = 1;
    exiting_ = false;
}

void CMainFrame::ExitSequence()
{
    tray_->StopCheckingAnimation();
    blinker_->StopBlink();
    if (state_.exchangeLoggedOn.load() == 1) {
        if (hooks_.logoffExchange)
            hooks_.logoffExchange();
        state_.exchangeLoggedOn = 0;
    }
    emit threeDWindowCloseRequested();
    state_.checkingEnabled = 0;
    exiting_ = true;
    hide();
    if (hooks_.wake)
        hooks_.wake();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (closedForGood_) {
        event->accept();
        return;
    }
    // The window stays until the worker has drained; it asks for Close() then.
    event->ignore();
    ExitSequence();
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !exiting_) {
        // Minimised means living in the tray.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    }
}

void CMainFrame::RunCommand(unsigned commandId)
{
    RunCommandNow(commandId);
}

void CMainFrame::ConnectDesktopNotices()
{
    DesktopNotifier& notifier = actions_->Notifier();
    connect(&notifier, &DesktopNotifier::openRequested, this, [this](const QString& account) {
        BringToFront();
        SelectAccount(account.toStdString());
    });
    connect(&notifier, &DesktopNotifier::trustRequested, this,
            [this](const QString& account, const QString& pin) {
                TrustCertificate(account.toStdString(), pin.toStdString());
            });
    connect(&notifier, &DesktopNotifier::markReadRequested, this, [this](const QString& name) {
        const std::string account = name.toStdString();
        std::string error;
        const int marked = AccountReadMarker::MarkAllRead(
            AppPaths::MailBoxFile(accounts_.TranslateName(account, 0)), &error);
        if (marked < 0)
            actions_->ShowPopup(error, account, CNotifyDispatcher::kStatusBitmap,
                                kEngineTextSeconds);
        else if (marked > 0 && list_->ShownAccount() == account)
            list_->Load(account); // the list shows the stored state again (never a locked one)
    });
    // The summary of a quiet time comes when it ends, not only with the next check.
    auto* quietTimer = new QTimer(this);
    quietTimer->setInterval(kQuietTickMs);
    connect(quietTimer, &QTimer::timeout, this, [this] { dispatcher_->Tick(); });
    quietTimer->start();
}

void CMainFrame::SelectAccount(const std::string& account)
{
    tree_->SelectAccount(account);
}

void CMainFrame::BringToFront()
{
    if (!isVisible())
        return;
    raise();
    activateWindow();
}

TrayMenuState CMainFrame::MenuState() const
{
    TrayMenuState menu;
    for (const AccountEntry& row : accounts_.Snapshot())
        menu.accounts.push_back({row.name, row.kind == kKindExchange, row.IsBusy()});
    menu.selectedAccount = tree_->SelectedAccount();
    menu.exchangeLoggedOn = state_.exchangeLoggedOn.load() == 1;
    return menu;
}

bool CMainFrame::IsMinimised() const
{
    return isMinimized() || !isVisible();
}

void CMainFrame::Run3dEffect()
{
    emit threeDEffectRequested();
}

QScreen* CMainFrame::PopupScreen() const
{
    return screen();
}

void CMainFrame::AddNewMessage(const std::string& account, const StoredMessage& message)
{
    list_->AddNewMessage(account, message);
}

void CMainFrame::FollowServer(const std::string& account, const std::vector<std::string>& readIds,
                              const std::vector<std::string>& removedIds)
{
    list_->FollowServer(account, readIds, removedIds);
}

void CMainFrame::RemoveNewMessages(const std::string& account,
                                   const std::vector<std::string>& messageIds)
{
    list_->RemoveNewMessages(account, messageIds);
}

void CMainFrame::NotifySummary(const CheckResultRecord& summary)
{
    if (!storeFailures_)
        storeFailures_ = std::make_unique<CStoreFailureNotice>(this);
    storeFailures_->Summary(summary);
    // The notice above tells such a failure once; the status popup would repeat it at
    // every check. Mail that did arrive is still announced.
    if (!summary.message.empty() && !summary.serverReason && summary.newCount == 0) {
        UpdateCommands();
        return;
    }
    if (!summary.certificate.Empty()) {
        // A mail account's refused certificate: the notice shows it and offers to trust it.
        dispatcher_->Notify(summary.account, summary.newCount, summary.result,
                            CNotifyDispatcher::Codes::MailClient, summary.certificate);
        UpdateCommands();
        return;
    }
    Notify(summary.account, summary.newCount, summary.result);
}

void CMainFrame::TrustCertificate(const std::string& account, const std::string& pin)
{
    const std::string error = TrustAccountCertificate(accounts_, account, pin);
    if (!error.empty())
        actions_->ShowPopup(error, account, CNotifyDispatcher::kStatusBitmap, kEngineTextSeconds);
}

void CMainFrame::Notify(const std::string& account, int32_t newCount, int32_t result)
{
    // A web-mail account's result codes mean other things than the mail clients'.
    CNotifyDispatcher::Codes codes = CNotifyDispatcher::Codes::MailClient;
    for (const AccountEntry& row : accounts_.Snapshot())
        if (row.name == account && row.kind == kKindWebMail)
            codes = CNotifyDispatcher::Codes::WebMail;
    dispatcher_->Notify(account, newCount, result, codes);
    UpdateCommands();
}

void CMainFrame::ShowText(const std::string& text)
{
    // A text of the engine (a dial-up error): no title, shown for a second.
    actions_->ShowPopup(text, std::string(), CNotifyDispatcher::kStatusBitmap, kEngineTextSeconds);
}

void CMainFrame::CheckAnimation(bool on)
{
    if (on)
        tray_->StartCheckingAnimation(state_.SelectedAccount());
    else
        tray_->StopCheckingAnimation();
    // The selected account started or ended a check: its commands change now.
    UpdateCommands();
}

void CMainFrame::Close()
{
    if (closedForGood_)
        return;
    closedForGood_ = true;
    updateTimer_.stop();
    blinker_->StopBlink();
    tray_->Remove();
    CPopupFrame::CloseAll();
    close();
    emit closedForGood();
}
