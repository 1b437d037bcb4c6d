// The main window's command rules and its exit sequence, on the offscreen platform with the
// engine replaced by the hooks it calls.
#include "accountlist.h"
#include "accountmanager.h"
#include "apppaths.h"
#include "commandtable.h"
#include "desktopdialogs.h"
#include "enginestate.h"
#include "leddevice.h"
#include "leftview.h"
#include "mainframe.h"
#include "popupframe.h"
#include "programkey.h"
#include "registrykey.h"
#include "resourcelibrary.h"
#include "setaccesspassworddlg.h"
#include "trayicon.h"
#include "ui/uitestsupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWizard>
#include <gtest/gtest.h>

namespace
{

struct Row {
    std::string name;
    int kind = 0; // 0 POP3/IMAP4, 2 Exchange
    bool busy = false;
    bool usable = true;
};

class FrameHarness
{
public:
    explicit FrameHarness(const std::vector<Row>& rows) : led_(sandbox_.Dir().File("leds"))
    {
        accounts_.WithTable([&](std::vector<AccountEntry>& table) {
            for (const Row& r : rows) {
                AccountEntry e;
                e.name = r.name;
                e.kind = r.kind;
                e.checkState = r.busy ? CheckState::Busy : CheckState::Idle;
                e.usable = r.usable ? 1 : 0;
                table.push_back(e);
            }
            return 0;
        });
        CMainFrame::Hooks hooks;
        hooks.wake = [this] { ++wakes; };
        hooks.logoffExchange = [this] { ++logoffs; };
        hooks.openHelp = [this](const QString& page) { helpPages.push_back(page); };
        frame = std::make_unique<CMainFrame>(accounts_, state, led_, std::move(hooks));
    }

    bool Enabled(unsigned id)
    {
        frame->UpdateCommands();
        return frame->Commands().Action(id)->isEnabled();
    }
    CAccountManager& Accounts() { return accounts_; }
    RecordingDialogue& Dialogue() { return *sandbox_.dialogue; }

    CEngineState state;
    int wakes = 0;
    int logoffs = 0;
    std::vector<QString> helpPages;
    std::unique_ptr<CMainFrame> frame;

private:
    UiSandbox sandbox_;
    CAccountManager accounts_;
    CLedDevice led_;
};

enum : unsigned {
    kCheckSelected = 32809,
    kCheckAll = 32810,
    kLogon = 32892,
    kLogoff = 32881,
    kProperties = 32800,
    kAccessPassword = 32797,
    kRename = 32786,
    kDelete = 32782,
};

TEST(MainFrameCommands, EnableRulesFollowTheTreeAndTheSelectedAccount)
{
    struct Case {
        const char* name;
        std::vector<Row> rows;
        std::string select; // "" keeps the first
        bool loggedOn;
        // check selected, check all, log on, log off, account commands
        bool check, all, logon, logoff, account;
    };
    const std::vector<Case> cases = {
        {"empty tree", {}, "", false, false, false, false, false, false},
        {"one idle mail account", {{"Work"}}, "", false, true, true, false, false, true},
        {"selected account is being checked",
         {{"Work", 0, true}},
         "",
         false,
         false,
         true,
         false,
         false,
         true},
        {"selected account is Exchange",
         {{"Work"}, {"Office", 2}},
         "Office",
         false,
         false,
         true,
         true,
         false,
         true},
        {"Exchange already logged on", {{"Office", 2}}, "", true, false, true, false, true, true},
        {"logged on, mail account selected",
         {{"Work"}, {"Office", 2}},
         "Work",
         true,
         true,
         true,
         false,
         true,
         true},
        {"another account busy, selected idle",
         {{"Work"}, {"Home", 0, true}},
         "Work",
         false,
         true,
         true,
         false,
         false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameHarness h(c.rows);
        h.frame->FillTree();
        if (!c.select.empty())
            h.frame->SelectAccount(c.select);
        h.state.exchangeLoggedOn = c.loggedOn ? 1 : 0;
        EXPECT_EQ(h.Enabled(kCheckSelected), c.check);
        EXPECT_EQ(h.Enabled(kCheckAll), c.all);
        EXPECT_EQ(h.Enabled(kLogon), c.logon);
        EXPECT_EQ(h.Enabled(kLogoff), c.logoff);
        for (unsigned id : {kProperties, kAccessPassword, kRename, kDelete})
            EXPECT_EQ(h.Enabled(id), c.account) << id;
    }
}

TEST(MainFrameCommands, ChecksAreRequestedAndRefusedAsTheAccountsAllow)
{
    struct Case {
        const char* name;
        std::vector<Row> rows;
        unsigned command;
        bool ran;                           // the action was enabled
        std::vector<std::string> requested; // rows now Requested
        int wakes;
        unsigned messageText; // 0: no message box
    };
    const std::vector<Case> cases = {
        {"check the selected account", {{"Work"}, {"Home"}}, kCheckSelected, true, {"Work"}, 1, 0},
        {"check all in table order", {{"Work"}, {"Home"}}, kCheckAll, true, {"Work", "Home"}, 1, 0},
        {"unusable account is refused",
         {{"Work", 0, false, false}},
         kCheckSelected,
         true,
         {},
         0,
         61394},
        {"busy account cannot be checked again",
         {{"Work", 0, true}},
         kCheckSelected,
         false,
         {},
         0,
         0},
        {"nothing to check", {}, kCheckAll, false, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameHarness h(c.rows);
        h.frame->FillTree();
        EXPECT_EQ(h.frame->RunCommandNow(c.command), c.ran);
        std::vector<std::string> requested;
        for (const AccountEntry& e : h.Accounts().Snapshot())
            if (e.IsRequested())
                requested.push_back(e.name);
        EXPECT_EQ(requested, c.requested);
        EXPECT_EQ(h.wakes, c.wakes);
        if (c.messageText == 0) {
            EXPECT_TRUE(h.Dialogue().calls.empty());
        } else {
            ASSERT_EQ(h.Dialogue().calls.size(), 1u);
            EXPECT_EQ(h.Dialogue().calls[0].text, LoadResourceString(c.messageText));
        }
    }
}

TEST(MainFrameCommands, EmptyTreeAsksForTheWizardAndClearsTheStatusBar)
{
    FrameHarness h({});
    QSignalSpy wizard(h.frame.get(), &CMainFrame::newAccountRequested);
    EXPECT_FALSE(h.frame->FillTree());
    EXPECT_EQ(wizard.count(), 1);
    EXPECT_TRUE(h.frame->StatusPane(0)->text().isEmpty());
    EXPECT_TRUE(h.frame->StatusPane(1)->text().isEmpty());

    h.Accounts().WithTable([](std::vector<AccountEntry>& rows) {
        AccountEntry e;
        e.name = "Work";
        e.usable = 1;
        rows.push_back(e);
        return 0;
    });
    h.frame->AccountCreated(QStringLiteral("Work"));
    EXPECT_EQ(h.frame->Tree()->SelectedAccount(), "Work");
    EXPECT_EQ(h.frame->StatusPane(0)->text(), QStringLiteral("    Work"));

    // The counts pane speaks only while the list shows an account: its folder, or the
    // account's own item when it has no access password.
    QTreeWidgetItem* account = h.frame->Tree()->AccountItem("Work");
    ASSERT_NE(account, nullptr);
    ASSERT_EQ(account->childCount(), 1);
    struct Case {
        const char* name;
        QTreeWidgetItem* item;
        bool counts;
    };
    for (const Case& c : std::vector<Case>{{"folder item", account->child(0), true},
                                           {"account item", account, true}}) {
        SCOPED_TRACE(c.name);
        h.frame->Tree()->setCurrentItem(c.item);
        EXPECT_EQ(h.frame->StatusPane(0)->text(), QStringLiteral("    Work"));
        const QString counts = h.frame->StatusPane(1)->text();
        EXPECT_EQ(counts.contains(QString::fromStdString(LoadResourceString(61398))), c.counts)
            << counts.toStdString();
    }
}

TEST(MainFrameCommands, HelpOpensTheTopicPageOfTheAssetFolder)
{
    FrameHarness h({});
    EXPECT_TRUE(h.frame->RunCommandNow(1047));
    ASSERT_EQ(h.helpPages.size(), 1u);
    EXPECT_TRUE(h.helpPages[0].endsWith(QStringLiteral("/help/index.htm")))
        << h.helpPages[0].toStdString();
}

TEST(MainFrameCommands, HelpOfTheWizardAndTheSettingsOpensTheirPages)
{
    struct Case {
        const char* name;
        void (CMainFrame::*request)();
        const char* page;
    } cases[] = {
        {"wizard", &CMainFrame::newAccountRequested, "/help/new-account.htm"},
        {"settings", &CMainFrame::settingsRequested, "/help/settings-general.htm"},
    };
    for (const Case& c : cases) {
        FrameHarness h({});
        ConnectDesktopDialogs(*h.frame, h.Accounts());
        bool pressed = false;
        // The dialog runs modal: press its Help, then close it, from inside its loop.
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (auto* wizard = qobject_cast<QWizard*>(dialog)) {
                wizard->button(QWizard::HelpButton)->click();
                pressed = true;
            } else if (dialog) {
                if (auto* box = dialog->findChild<QDialogButtonBox*>()) {
                    box->button(QDialogButtonBox::Help)->click();
                    pressed = true;
                }
            }
            if (auto* modal = qobject_cast<QDialog*>(dialog))
                modal->reject();
        });
        emit(h.frame.get()->*c.request)();
        ASSERT_TRUE(pressed) << c.name;
        ASSERT_EQ(h.helpPages.size(), 1u) << c.name;
        EXPECT_TRUE(h.helpPages[0].endsWith(QString::fromUtf8(c.page)))
            << c.name << ": " << h.helpPages[0].toStdString();
    }
}

TEST(MainFrameCommands, AnAccessPasswordSetWhileARenameWaitsReachesTheRow)
{
    FrameHarness h({{"Old", 0, true}});
    h.frame->FillTree();
    ASSERT_EQ(h.Accounts().Rename("Old", "New"), CAccountManager::kRenameDeferred);
    h.frame->Tree()->AccountRenamed("Old", "New");
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::DataDir()));
    CAccountList list(AppPaths::AccountListFile());
    ASSERT_TRUE(list.Append("New", "", "secret")) << list.Error();
    ConnectDesktopDialogs(*h.frame, h.Accounts());
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CSetAccessPasswordDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->PasswordEdit()->setText(QStringLiteral("key"));
        dialog->ConfirmEdit()->setText(QStringLiteral("key"));
        dialog->accept();
    });
    emit h.frame->Tree()->accessPasswordDialogRequested("New");
    EXPECT_TRUE(h.Accounts().HasAccessPassword("Old")) << "the table row, under its old name";
    EXPECT_TRUE(h.Dialogue().calls.empty());
}

TEST(MainFrameEngine, AnEngineTextShowsWithoutTitleForASecond)
{
    FrameHarness h({});
    h.frame->ShowText("The dial-up connection failed.");
    const QList<CPopupFrame*> popups = CPopupFrame::Popups();
    ASSERT_EQ(popups.size(), 1);
    EXPECT_EQ(popups[0]->Text().trimmed(), QStringLiteral("The dial-up connection failed."));
    EXPECT_EQ(popups[0]->StaySeconds(), 1);
    CPopupFrame::CloseAll();
}

TEST(MainFrameExit, TheListLayoutIsNeverWrittenBack)
{
    FrameHarness h({});
    h.frame->Close();
    CRegistryKey key;
    std::string layout;
    if (key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Settings")))
        key.ReadString("MailHeaderList", layout);
    EXPECT_TRUE(layout.empty()) << layout;
}

TEST(MainFrameExit, ExitWaitsForTheWorkerAndASecondStartKeepsItAlive)
{
    struct Step {
        const char* what;
        std::function<void(FrameHarness&)> act;
        int checkingEnabled;
        bool visible;
        bool closedForGood;
        bool trayAdded;
    };
    const std::vector<Step> steps = {
        {"shown", [](FrameHarness& h) { h.frame->StartShown(false, false); }, 1, true, false, true},
        {"exit command hides and disables checking",
         [](FrameHarness& h) { h.frame->RunCommandNow(57665); }, 0, false, false, true},
        {"a second start brings it back and enables checking",
         [](FrameHarness& h) { h.frame->ShowFromSecondStart(); }, 1, true, false, true},
        {"closing the window runs the exit sequence, not a close",
         [](FrameHarness& h) { h.frame->close(); }, 0, false, false, true},
        {"the worker's close ends it for good", [](FrameHarness& h) { h.frame->Close(); }, 0, false,
         true, false},
    };
    FrameHarness h({{"Work"}});
    h.frame->FillTree();
    QSignalSpy ended(h.frame.get(), &CMainFrame::closedForGood);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.act(h);
        EXPECT_EQ(h.state.checkingEnabled.load(), s.checkingEnabled);
        EXPECT_EQ(h.frame->isVisible(), s.visible);
        EXPECT_EQ(h.frame->ClosedForGood(), s.closedForGood);
        EXPECT_EQ(ended.count(), s.closedForGood ? 1 : 0);
        EXPECT_EQ(h.frame->Tray().IsAdded(), s.trayAdded);
    }
    EXPECT_GE(h.wakes, 2); // each exit wakes the worker so it drains now
}

TEST(MainFrameExit, ExitLogsOffALoggedOnExchangeSession)
{
    struct Case {
        const char* name;
        int loggedOn;
        int logoffs;
    };
    for (const Case& c : std::vector<Case>{{"logged on", 1, 1}, {"not logged on", 0, 0}}) {
        SCOPED_TRACE(c.name);
        FrameHarness h({});
        h.state.exchangeLoggedOn = c.loggedOn;
        h.frame->ExitSequence();
        EXPECT_EQ(h.logoffs, c.logoffs);
        EXPECT_EQ(h.state.exchangeLoggedOn.load(), 0);
    }
}

TEST(MainFrameWindow, MinimisingHidesInTheTrayAndGeometryFollowsTheScreen)
{
    FrameHarness h({{"Work"}});
    h.frame->FillTree();
    h.frame->PlaceOnScreen(nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(h.frame->width(), static_cast<int>(CMainFrame::kWidthPart * screen.width()));
    EXPECT_EQ(h.frame->height(), static_cast<int>(CMainFrame::kHeightPart * screen.height()));

    h.frame->StartShown(true, false);
    EXPECT_FALSE(h.frame->isVisible());
    EXPECT_TRUE(h.frame->IsMinimised());
    h.frame->StartShown(true, true); // the wizard was opened: always shown
    EXPECT_TRUE(h.frame->isVisible());
    h.frame->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h.frame->isVisible(); }, 2000));
    EXPECT_TRUE(h.frame->IsMinimised());
    EXPECT_TRUE(h.frame->RunCommandNow(32771)); // restore
    EXPECT_TRUE(h.frame->isVisible());
}

} // namespace
