#include "accountfile.h"
#include "accountlist.h"
#include "accountmanager.h"
#include "apppaths.h"
#include "leftview.h"
#include "resourcelibrary.h"
#include "uitestsupport.h"

#include <QKeyEvent>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace
{

struct AccountSpec {
    std::string name;
    std::string accessPassword; // "" = none
    bool usable = true;
    bool busy = false;
};

// Account.cfg, the account folders with their Account.inf, the table and the tree.
class TreeFixture
{
public:
    explicit TreeFixture(const std::vector<AccountSpec>& specs)
    {
        EXPECT_TRUE(AppPaths::MakeDirs(AppPaths::DataDir()));
        CAccountList list(AppPaths::AccountListFile());
        for (const AccountSpec& s : specs) {
            EXPECT_TRUE(list.Append(s.name, s.accessPassword, "secret")) << list.Error();
            EXPECT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(s.name)));
            AccountRecord record;
            record.name = s.name;
            record.mailType = "POP3";
            record.server = "127.0.0.1";
            record.port = "110";
            record.password = "secret";
            EXPECT_TRUE(CAccountFile::WriteAccountFile(AppPaths::AccountFile(s.name), record));
            const std::string* access = s.accessPassword.empty() ? nullptr : &s.accessPassword;
            EXPECT_EQ(accounts.EnterOrRequest(s.name, 1, access, nullptr, s.usable ? 1 : 0),
                      CAccountManager::kEnterAdded);
            if (s.busy)
                accounts.WithTable([&](std::vector<AccountEntry>& rows) {
                    rows.back().checkState = CheckState::Busy;
                    return 0;
                });
            tree.AddAccount(s.name, !s.accessPassword.empty());
        }
        tree.SetAccessPrompt([this](const std::string& account) {
            prompts.push_back(account);
            return promptAnswer;
        });
    }

    CAccountManager accounts;
    CLeftView tree{&accounts};
    std::vector<std::string> prompts;
    bool promptAnswer = true;
};

std::vector<std::string> TreeNames(const CLeftView& tree)
{
    std::vector<std::string> names;
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        names.push_back(CLeftView::NameOf(tree.topLevelItem(i)));
    return names;
}

TEST(LeftView, ShowsEachAccountWithItsFolderAndImages)
{
    UiSandbox sandbox;
    TreeFixture f({{"Alpha", ""}, {"Beta", "key"}});
    EXPECT_EQ(f.tree.Count(), 4);
    EXPECT_EQ(TreeNames(f.tree), (std::vector<std::string>{"Alpha", "Beta"}));
    QTreeWidgetItem* beta = f.tree.topLevelItem(1);
    ASSERT_EQ(beta->childCount(), 1);
    EXPECT_EQ(beta->child(0)->text(0), "Inbox");
    EXPECT_FALSE(beta->icon(0).isNull());
    EXPECT_NE(f.tree.topLevelItem(0)->icon(0).cacheKey(), beta->icon(0).cacheKey())
        << "a protected account has its own image";
}

TEST(LeftView, AccountCommandsPassTheAccessGate)
{
    const struct {
        const char* name;
        AccountSpec account;
        bool expanded;
        bool promptAnswer;
        bool installPrompt;
        bool passes;
        size_t prompts;
        size_t messages;
    } cases[] = {
        {"no access password", {"A", ""}, false, false, true, true, 0, 0},
        {"protected, prompt answered OK", {"A", "key"}, false, true, true, true, 1, 0},
        {"protected, prompt refused", {"A", "key"}, false, false, true, false, 1, 0},
        {"protected but expanded: unlocked", {"A", "key"}, true, false, true, true, 0, 0},
        {"protected, no prompt available", {"A", "key"}, false, true, false, false, 0, 0},
        {"not usable: refused with a stop message",
         {"A", "", false},
         false,
         true,
         true,
         false,
         0,
         1},
    };
    for (const auto& c : cases) {
        UiSandbox sandbox;
        TreeFixture f({c.account});
        f.promptAnswer = c.promptAnswer;
        QTreeWidgetItem* item = f.tree.topLevelItem(0);
        if (c.expanded) {
            f.promptAnswer = true;
            ASSERT_TRUE(f.tree.RequestExpand(item) || !c.account.usable) << c.name;
            item->setExpanded(c.account.usable); // an unusable one is never unlocked
            f.prompts.clear();
            f.promptAnswer = c.promptAnswer;
        }
        if (!c.installPrompt)
            f.tree.SetAccessPrompt(nullptr);
        f.tree.setCurrentItem(item->child(0)); // the folder item: the account is its parent
        QSignalSpy dialogs(&f.tree, &CLeftView::propertiesDialogRequested);
        sandbox.dialogue->calls.clear();
        f.tree.PropertiesCommand();
        EXPECT_EQ(dialogs.count(), c.passes ? 1 : 0) << c.name;
        EXPECT_EQ(f.prompts.size(), c.prompts) << c.name;
        ASSERT_EQ(sandbox.dialogue->calls.size(), c.messages) << c.name;
        if (c.messages) {
            EXPECT_EQ(sandbox.dialogue->calls[0].caption, "Account Unavailable") << c.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].icon, kDialogueIconStop) << c.name;
        }
    }
}

TEST(LeftView, TheGateKnowsAnAccountWhoseRenameWaitsForItsCheck)
{
    const struct {
        const char* name;
        std::string accessPassword;
        size_t prompts;
    } cases[] = {{"no access password", "", 0}, {"protected: asked under its row", "key", 1}};
    for (const auto& c : cases) {
        UiSandbox sandbox;
        TreeFixture f({{"Old", c.accessPassword, true, true}});
        ASSERT_EQ(f.accounts.Rename("Old", "New"), CAccountManager::kRenameDeferred) << c.name;
        f.tree.AccountRenamed("Old", "New");
        sandbox.dialogue->calls.clear();
        EXPECT_TRUE(f.tree.PassGate(f.tree.AccountItem("New"))) << c.name;
        EXPECT_TRUE(sandbox.dialogue->calls.empty()) << c.name << ": not refused as unusable";
        EXPECT_EQ(f.prompts.size(), c.prompts) << c.name;
    }
}

TEST(LeftView, ExpandingAProtectedAccountAsksOnceUntilCollapsed)
{
    UiSandbox sandbox;
    TreeFixture f({{"Alpha", ""}, {"Beta", "key"}});
    QTreeWidgetItem* beta = f.tree.topLevelItem(1);

    f.promptAnswer = false;
    EXPECT_FALSE(f.tree.RequestExpand(beta));
    EXPECT_FALSE(beta->isExpanded());
    beta->setExpanded(true); // any other way of expanding goes through the gate too
    EXPECT_FALSE(beta->isExpanded());
    EXPECT_EQ(f.prompts.size(), 2u);

    f.promptAnswer = true;
    f.tree.setCurrentItem(beta);
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(&f.tree, &right);
    EXPECT_TRUE(beta->isExpanded());
    EXPECT_EQ(f.prompts.size(), 3u);
    EXPECT_TRUE(f.tree.IsUnlocked());

    f.tree.AccessPasswordCommand(); // unlocked: no prompt
    EXPECT_EQ(f.prompts.size(), 3u);

    beta->setExpanded(false); // collapsing is always allowed, and locks again
    EXPECT_FALSE(f.tree.IsUnlocked());
    f.tree.AccessPasswordCommand();
    EXPECT_EQ(f.prompts.size(), 4u);

    // A folder item of an unlocked account does not unlock another account.
    f.tree.topLevelItem(0)->setExpanded(true);
    f.tree.setCurrentItem(f.tree.topLevelItem(0)->child(0));
    EXPECT_TRUE(f.tree.IsUnlocked());
    f.tree.setCurrentItem(beta);
    EXPECT_FALSE(f.tree.IsUnlocked());
}

TEST(LeftView, SelectionDrivesTheListTheSelectedNameAndTheAnimation)
{
    UiSandbox sandbox;
    TreeFixture f({{"Alpha", ""}, {"Beta", "", true, true}, {"Gamma", "key"}});
    QSignalSpy clears(&f.tree, &CLeftView::listClearRequested);
    QSignalSpy loads(&f.tree, &CLeftView::listLoadRequested);
    QSignalSpy animation(&f.tree, &CLeftView::checkAnimationRequested);
    const struct {
        const char* name;
        int account;
        bool folder;
        bool loads;
        bool animates;
    } cases[] = {
        {"open account's item: loads its account", 0, false, true, false},
        {"folder item: loads its account", 0, true, true, false},
        {"folder of an account being checked: animation on", 1, true, true, true},
        {"another account: animation off", 0, false, true, false},
        {"protected account's item: cleared, nothing loaded", 2, false, false, false},
    };
    for (const auto& c : cases) {
        clears.clear();
        loads.clear();
        animation.clear();
        QTreeWidgetItem* item = f.tree.topLevelItem(c.account);
        f.tree.setCurrentItem(c.folder ? item->child(0) : item);
        EXPECT_EQ(clears.count(), 1) << c.name;
        EXPECT_EQ(loads.count(), c.loads ? 1 : 0) << c.name;
        EXPECT_EQ(f.tree.SelectedAccount(), CLeftView::NameOf(item)) << c.name;
        EXPECT_EQ(f.tree.IsAccountSelected(), !c.folder) << c.name;
        ASSERT_EQ(animation.count(), 1) << c.name;
        EXPECT_EQ(animation.last().at(0).toBool(), c.animates) << c.name;
    }
}

TEST(LeftView, SelectAccountPicksEachSameNamedAccountInTurn)
{
    UiSandbox sandbox;
    CAccountManager accounts;
    CLeftView tree(&accounts);
    tree.AddAccount("Same", false);
    tree.AddAccount("Other", false);
    tree.AddAccount("Same", false);
    QSignalSpy changes(&tree, &CLeftView::currentItemChanged);
    tree.SelectAccount("Same");
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(tree.currentItem(), tree.topLevelItem(2));
    tree.SelectAccount("same"); // exact comparison
    EXPECT_EQ(tree.currentItem(), tree.topLevelItem(2));
    EXPECT_EQ(tree.SelectedAccount(), "Same");
}

TEST(LeftView, RenameFollowsTheNameRules)
{
    const struct {
        const char* name;
        std::string account;
        std::string typed;
        CLeftView::RenameOutcome outcome;
        std::string shown;     // the tree's text afterwards
        std::string infFolder; // folder whose Account.inf names the account ("" = unchanged)
        std::string message;   // caption of a message shown, "" = none
    } cases[] = {
        {"valid new name", "Alpha", "Omega", CLeftView::RenameOutcome::RenamedNow, "Omega", "Omega",
         ""},
        {"empty: editing cancelled", "Alpha", "", CLeftView::RenameOutcome::Cancelled, "Alpha", "",
         ""},
        {"forbidden character", "Alpha", "Om:ega", CLeftView::RenameOutcome::Refused, "Alpha", "",
         "Account Name"},
        {"blank", "Alpha", "   ", CLeftView::RenameOutcome::Refused, "Alpha", "", "Account Name"},
        {"in use by another account (any case)", "Alpha", "beta", CLeftView::RenameOutcome::Refused,
         "Alpha", "", "Account Name"},
        {"same name in other letter case", "Alpha", "ALPHA", CLeftView::RenameOutcome::SameName,
         "Alpha", "", ""},
        {"blanks around are trimmed", "Alpha", "  Omega ", CLeftView::RenameOutcome::RenamedNow,
         "Omega", "Omega", ""},
        {"account being checked: deferred, old folder kept", "Beta", "Zeta",
         CLeftView::RenameOutcome::Deferred, "Zeta", "Beta", ""},
    };
    for (const auto& c : cases) {
        UiSandbox sandbox;
        TreeFixture f({{"Alpha", ""}, {"Beta", "", true, true}});
        const std::string caption = LoadResourceString(61346);
        QTreeWidgetItem* item = f.tree.AccountItem(c.account);
        ASSERT_NE(item, nullptr);
        const auto outcome = f.tree.FinishRename(item, c.typed);
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(CLeftView::NameOf(item), c.shown) << c.name;
        EXPECT_EQ(item->text(0).toStdString(), c.shown) << c.name;
        EXPECT_FALSE(item->flags() & Qt::ItemIsEditable) << c.name;

        std::vector<AccountListRecord> records;
        ASSERT_TRUE(CAccountList(AppPaths::AccountListFile()).Load(records));
        bool listed = false;
        for (const AccountListRecord& r : records)
            listed = listed || r.name == c.shown;
        EXPECT_TRUE(listed) << c.name << ": Account.cfg holds the shown name";

        if (!c.infFolder.empty()) {
            const std::string inf = ReadWholeFile(AppPaths::AccountFile(c.infFolder));
            EXPECT_EQ(inf.substr(0, c.shown.size() + 4), "[" + c.shown + "]\r\n") << c.name;
            EXPECT_EQ(f.tree.SelectedAccount(), c.shown) << c.name;
        }
        if (c.outcome == CLeftView::RenameOutcome::Deferred) {
            const auto pending = f.accounts.PendingRenames();
            ASSERT_EQ(pending.size(), 1u) << c.name;
            EXPECT_EQ(pending[0].oldName, c.account) << c.name;
            EXPECT_TRUE(std::filesystem::exists(AppPaths::AccountDir(c.account))) << c.name;
        }
        if (c.message.empty()) {
            EXPECT_TRUE(sandbox.dialogue->calls.empty()) << c.name;
        } else {
            ASSERT_FALSE(sandbox.dialogue->calls.empty()) << c.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].caption, caption) << c.name;
        }
    }
}

TEST(LeftView, DeleteAsksAndRemovesFromTreeTableAndList)
{
    const struct {
        const char* name;
        int answer;
        bool listed; // the record is in Account.cfg
        bool busy;   // Beta is being checked
        bool removed;
        size_t messages;
    } cases[] = {
        {"confirmed: the folder goes too", kDialogueIdOk, true, false, true, 1},
        {"cancelled", kDialogueIdCancel, true, false, false, 1},
        {"record missing from Account.cfg: says so, keeps it", kDialogueIdOk, false, false, false,
         2},
        {"being checked: says so, keeps it", kDialogueIdOk, true, true, false, 2},
    };
    for (const auto& c : cases) {
        UiSandbox sandbox;
        TreeFixture f({{"Alpha", ""}, {"Beta", "", true, c.busy}, {"Gamma", ""}});
        if (!c.listed)
            ASSERT_TRUE(CAccountList(AppPaths::AccountListFile()).Delete("Beta"));
        sandbox.dialogue->answer = c.answer;
        f.tree.setCurrentItem(f.tree.topLevelItem(1));
        QSignalSpy deleted(&f.tree, &CLeftView::accountDeleted);
        f.tree.DeleteCommand();
        ASSERT_EQ(sandbox.dialogue->calls.size(), c.messages) << c.name;
        EXPECT_EQ(sandbox.dialogue->calls[0].buttons, kDialogueOkCancel) << c.name;
        EXPECT_EQ(sandbox.dialogue->calls[0].icon, kDialogueIconQuestion) << c.name;
        const std::vector<std::string> expected =
            c.removed ? std::vector<std::string>{"Alpha", "Gamma"}
                      : std::vector<std::string>{"Alpha", "Beta", "Gamma"};
        EXPECT_EQ(TreeNames(f.tree), expected) << c.name;
        std::vector<std::string> table;
        for (const AccountEntry& e : f.accounts.Snapshot())
            table.push_back(e.name);
        EXPECT_EQ(table, expected) << c.name;
        EXPECT_EQ(deleted.count(), c.removed ? 1 : 0) << c.name;
        EXPECT_EQ(std::filesystem::exists(AppPaths::AccountDir("Beta")), !c.removed) << c.name;
        if (c.messages == 2)
            EXPECT_EQ(sandbox.dialogue->calls[1].icon, kDialogueIconStop) << c.name;
    }
}

TEST(LeftView, DialogReportsUpdateImageAndName)
{
    UiSandbox sandbox;
    TreeFixture f({{"Alpha", ""}});
    QTreeWidgetItem* item = f.tree.topLevelItem(0);
    const qint64 plain = item->icon(0).cacheKey();
    f.tree.setCurrentItem(item); // an open account's item: its messages show
    QSignalSpy clears(&f.tree, &CLeftView::listClearRequested);
    QSignalSpy loads(&f.tree, &CLeftView::listLoadRequested);
    f.accounts.SetAccessPassword("Alpha", "key");
    f.tree.AccessPasswordChanged("Alpha");
    EXPECT_NE(item->icon(0).cacheKey(), plain);
    EXPECT_EQ(clears.count(), 1) << "a new access password hides the messages at once";
    EXPECT_EQ(loads.count(), 0);
    f.tree.AccountRenamed("Alpha", "Omega");
    EXPECT_EQ(CLeftView::NameOf(item), "Omega");
    EXPECT_EQ(f.tree.SelectedAccount(), "Omega");
}

} // namespace

namespace
{

// A push account's item tells the state of its connection; other items and the folder
// items have no tooltip of their own.
TEST(LeftView, PushStateShowsInTheAccountTooltip)
{
    UiSandbox sandbox;
    TreeFixture f({{"Alpha", ""}, {"Beta", ""}});
    f.tree.SetPushStateSource(
        [](const std::string& name) { return name == "Alpha" ? "reconnecting" : ""; });
    f.tree.expandAll();
    struct Row {
        const char* name;
        QTreeWidgetItem* item;
        QString tip;
    } rows[] = {
        {"push-account", f.tree.topLevelItem(0), "Push: reconnecting"},
        {"no-push", f.tree.topLevelItem(1), ""},
        {"folder-item", f.tree.topLevelItem(0)->child(0), ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(f.tree.ToolTipAt(f.tree.visualItemRect(r.item).center()), r.tip) << r.name;
}

} // namespace
