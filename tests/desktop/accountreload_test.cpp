// The running program's account table and tree after another writer changed the account
// files: on the offscreen platform, with the files of a data folder of the test's own.
#include "accountfile.h"
#include "accountlist.h"
#include "accountmanager.h"
#include "accountrecord.h"
#include "accountreloader.h"
#include "accounttablesync.h"
#include "apppaths.h"
#include "enginestate.h"
#include "leddevice.h"
#include "leftview.h"
#include "mainframe.h"
#include "ui/uitestsupport.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace
{

void WriteInf(const std::string& name, const std::string& period = "")
{
    AccountRecord r;
    r.name = name;
    r.mailType = kMailTypePop3;
    r.userName = "u";
    r.server = "127.0.0.1";
    r.port = "110";
    r.periodCheck = period.empty() ? "No" : "Yes";
    r.period = period;
    r.password = "pw";
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(name)));
    ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile(name), r), 1);
}

void AddAccount(const std::string& name)
{
    WriteInf(name);
    ASSERT_EQ(CAccountList(AppPaths::AccountListFile()).Append(name, "", "pw"), 1);
}

void RemoveAccount(const std::string& name)
{
    ASSERT_EQ(CAccountList(AppPaths::AccountListFile()).Delete(name), 1);
    std::filesystem::remove_all(AppPaths::AccountDir(name));
}

// As a renaming command does it: the record in place, then the folder.
void RenameAccount(const std::string& from, const std::string& to)
{
    ASSERT_EQ(CAccountList(AppPaths::AccountListFile()).Update(from, &to, nullptr, nullptr), 1);
    std::filesystem::rename(AppPaths::AccountDir(from), AppPaths::AccountDir(to));
}

// The program as it runs: accounts A, B and C loaded, the tree filled (A selected), the
// reloader started.
class Program
{
public:
    Program() : led_(sandbox_.Dir().File("leds"))
    {
        for (const char* name : {"A", "B", "C"})
            AddAccount(name);
        EXPECT_EQ(accounts.LoadAll("", 0), 1);
        frame = std::make_unique<CMainFrame>(accounts, state, led_, CMainFrame::Hooks{});
        frame->FillTree();
        reloader = std::make_unique<CAccountReloader>(accounts, *frame);
        reloader->Start();
    }

    CLeftView& Tree() { return *frame->Tree(); }
    std::vector<std::string> TreeNames()
    {
        std::vector<std::string> names;
        for (int i = 0; i < Tree().topLevelItemCount(); ++i)
            names.push_back(CLeftView::NameOf(Tree().topLevelItem(i)));
        return names;
    }
    std::vector<std::string> TableNames()
    {
        std::vector<std::string> names;
        for (const AccountEntry& e : accounts.Snapshot())
            names.push_back(e.name);
        return names;
    }
    template <class F> void Row(const std::string& name, F&& f)
    {
        accounts.WithTable([&](std::vector<AccountEntry>& rows) {
            for (AccountEntry& e : rows)
                if (e.name == name)
                    f(e);
            return 0;
        });
    }
    AccountEntry Entry(const std::string& name)
    {
        AccountEntry found;
        Row(name, [&](AccountEntry& e) { found = e; });
        return found;
    }
    void SelectFolder(const std::string& name)
    {
        Tree().setCurrentItem(Tree().AccountItem(name)->child(0));
    }

    CAccountManager accounts;
    CEngineState state;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<CAccountReloader> reloader;

private:
    UiSandbox sandbox_;
    CLedDevice led_;
};

void Busy(AccountEntry& e)
{
    e.checkState = CheckState::Busy;
}

struct Case {
    const char* name;
    std::function<void(Program&)> before; // the running program's state
    std::function<void()> change;         // what the other writer does to the files
    std::vector<std::string> table;
    std::vector<std::string> tree;
    std::string selected;                // the tree's selected account afterwards
    std::function<void(Program&)> check; // more to check, or nothing
};

TEST(AccountReload, TheTableAndTheTreeFollowTheFiles)
{
    const std::vector<Case> cases = {
        {"an added account comes in at its place; the selection stays",
         [](Program& p) { p.SelectFolder("B"); },
         [] { AddAccount("D"); },
         {"A", "B", "C", "D"},
         {"A", "B", "C", "D"},
         "B",
         [](Program& p) {
             EXPECT_TRUE(p.Entry("D").IsIdle());
             EXPECT_EQ(p.Tree().currentItem(), p.Tree().AccountItem("B")->child(0));
         }},
        {"a removed account goes",
         nullptr,
         [] { RemoveAccount("B"); },
         {"A", "C"},
         {"A", "C"},
         "A",
         nullptr},
        {"the selected account removed: another one is selected",
         [](Program& p) { p.SelectFolder("C"); },
         [] { RemoveAccount("C"); },
         {"A", "B"},
         {"A", "B"},
         "*",
         nullptr},
        {"an account removed while its check runs keeps its row until the check ended",
         [](Program& p) { p.Row("B", Busy); },
         [] { RemoveAccount("B"); },
         {"A", "C", "B"},
         {"A", "C"},
         "A",
         [](Program& p) {
             EXPECT_EQ(p.Entry("B").periodMinutes, -1);
             EXPECT_TRUE(p.Entry("B").IsBusy()); // the check was not disturbed
             p.Row("B", [](AccountEntry& e) {    // finalised: at rest
                 e.checkState = CheckState::Idle;
             });
             p.reloader->ReloadNow();
             EXPECT_EQ(p.TableNames(), (std::vector<std::string>{"A", "C"}));
         }},
        {"a renamed account keeps its row, its place and the selection",
         [](Program& p) {
             p.SelectFolder("B");
             p.Row("B", [](AccountEntry& e) { e.minutesElapsed = 7; });
         },
         [] { RenameAccount("B", "Bee"); },
         {"A", "Bee", "C"},
         {"A", "Bee", "C"},
         "Bee",
         [](Program& p) {
             EXPECT_EQ(p.Entry("Bee").minutesElapsed, 7);
             EXPECT_EQ(p.state.SelectedAccount(), "Bee");
         }},
        {"an account renamed while its check runs is renamed after the check",
         [](Program& p) { p.Row("B", Busy); },
         [] { RenameAccount("B", "Bee"); },
         {"A", "B", "C"},
         {"A", "Bee", "C"},
         "A",
         [](Program& p) {
             EXPECT_EQ(p.accounts.TranslateName("Bee", 0), "B");
             EXPECT_TRUE(p.Entry("B").IsBusy());
         }},
        {"an edited account gets its new schedule",
         nullptr,
         [] { WriteInf("B", "15"); },
         {"A", "B", "C"},
         {"A", "B", "C"},
         "A",
         [](Program& p) { EXPECT_EQ(p.Entry("B").periodMinutes, 15); }},
        {"a new access password locks the open account again",
         [](Program& p) {
             ASSERT_TRUE(p.Tree().RequestExpand(p.Tree().AccountItem("B")));
             p.SelectFolder("B");
         },
         [] {
             const std::string password = "secret";
             ASSERT_EQ(
                 CAccountList(AppPaths::AccountListFile()).Update("B", nullptr, &password, nullptr),
                 1);
         },
         {"A", "B", "C"},
         {"A", "B", "C"},
         "B",
         [](Program& p) {
             EXPECT_EQ(p.accounts.HasAccessPassword("B"), 1);
             EXPECT_FALSE(p.Tree().AccountItem("B")->isExpanded());
             EXPECT_EQ(p.Tree().currentItem(), p.Tree().AccountItem("B"));
         }},
        {"nothing changed: nothing moves",
         [](Program& p) { p.SelectFolder("C"); },
         [] {},
         {"A", "B", "C"},
         {"A", "B", "C"},
         "C",
         nullptr},
        {"an unreadable account list changes nothing",
         nullptr,
         [] {
             std::filesystem::remove(AppPaths::AccountListFile());
             std::filesystem::create_directory(AppPaths::AccountListFile());
         },
         {"A", "B", "C"},
         {"A", "B", "C"},
         "A",
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Program p;
        if (c.before)
            c.before(p);
        c.change();
        p.reloader->ReloadNow();
        EXPECT_EQ(p.TableNames(), c.table);
        EXPECT_EQ(p.TreeNames(), c.tree);
        if (c.selected == "*")
            EXPECT_NE(std::find(c.tree.begin(), c.tree.end(), p.Tree().SelectedAccount()),
                      c.tree.end());
        else
            EXPECT_EQ(p.Tree().SelectedAccount(), c.selected);
        if (c.check)
            c.check(p);
        // What was taken in once is no change the next time.
        EXPECT_FALSE(AccountTableSync(p.accounts).Run().changed);
    }
}

} // namespace
