// Kills a process at each step of an account edit, then starts again: the account is whole
// under exactly one name (its old or its new one), its mail is in the folder of that name,
// and nothing of the edit is left half done.
#include "accounteditor.h"
#include "accountfile.h"
#include "editortestutil.h"

#include <csignal>
#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;
using namespace editortest;
using Names = std::vector<std::string>;

enum class Op { RenameNow, RenameDeferred, Properties, Remove };

TEST(AccountEditorCrash, KillAtEveryStepThenRestart)
{
    const std::vector<Names> renamed = {{"Work", "Home"}, {"Office", "Home"}};
    const std::vector<Names> removed = {{"Work", "Home"}, {"Home"}};
    struct Row {
        const char* step;
        Op op;
        std::vector<Names> allowed;
    } rows[] = {
        {"accountedit.journal", Op::RenameNow, renamed},
        {"accountedit.folder", Op::RenameNow, renamed},
        {"accountcfg.update.written", Op::RenameNow, renamed},
        {"accountcfg.update.committed", Op::RenameNow, renamed},
        {"accountedit.list", Op::RenameNow, renamed},
        {"accountedit.inf", Op::RenameNow, renamed},
        {"accountedit.done", Op::RenameNow, renamed},
        {"accountedit.journal", Op::RenameDeferred, renamed},
        {"accountedit.list", Op::RenameDeferred, renamed},
        {"accountedit.inf", Op::RenameDeferred, renamed},
        {"accountedit.done", Op::RenameDeferred, renamed},
        {"accountedit.folder", Op::Properties, renamed},
        {"accountedit.list", Op::Properties, renamed},
        {"accountedit.inf", Op::Properties, renamed},
        {"accountedit.remove.journal", Op::Remove, removed},
        {"accountcfg.delete.committed", Op::Remove, removed},
        {"accountedit.remove.list", Op::Remove, removed},
        {"accountedit.remove.folder", Op::Remove, removed},
    };
    for (const Row& r : rows) {
        const std::string where = std::string(r.step) + " op " + std::to_string(int(r.op));
        Home home;
        const int status = InChild([&] {
            CAccountManager m;
            m.LoadAll("", 0);
            if (r.op == Op::RenameDeferred)
                SetState(m, "Work", 0, 1, 0);
            ::setenv("POSTWATCH_CRASH_AT", r.step, 1);
            CAccountEditor editor(m);
            if (r.op == Op::Remove) {
                editor.Remove("Work");
            } else if (r.op == Op::Properties) {
                AccountRecord edited;
                edited.name = "Work";
                CAccountFile::ReadAccountFile(AppPaths::AccountFile("Work"), edited);
                edited.name = "Office";
                edited.server = "pop.example.net";
                editor.ApplyProperties("Work", edited, nullptr);
            } else {
                editor.Rename("Work", "Office");
            }
            return 0;
        });
        ASSERT_EQ(status, -1) << where << ": the step was never reached";

        CAccountManager restarted;
        ASSERT_EQ(restarted.LoadAll("", 0), 1) << where;
        const Names listed = Listed();
        EXPECT_NE(std::find(r.allowed.begin(), r.allowed.end(), listed), r.allowed.end())
            << where << ": unexpected list";
        EXPECT_EQ(RowNames(restarted), listed) << where;
        const std::string account = listed.size() == 2 ? listed[0] : "";
        EXPECT_EQ(FoldersWithWorkMail(), account.empty() ? Names{} : Names{account}) << where;
        if (!account.empty())
            EXPECT_EQ(restarted.IsUsable(account), 1) << where;
        // The other account was never touched, and nothing is left to settle.
        EXPECT_EQ(restarted.IsUsable("Home"), 1) << where;
        EXPECT_FALSE(fs::exists(AppPaths::AccountListFile() + ".moves")) << where;
        std::error_code ec;
        size_t folders = 0;
        for (const auto& e : fs::directory_iterator(AppPaths::MailDir(), ec)) {
            (void)e;
            ++folders;
        }
        EXPECT_EQ(folders, listed.size()) << where << ": a folder without an account";
    }
}

} // namespace
