// The account edits as store operations: rename, apply properties and remove, each checked
// whole before it changes anything, and taken back whole when a later step fails.
#include "accounteditor.h"
#include "accountfile.h"
#include "accountlock.h"
#include "accountmoves.h"
#include "editortestutil.h"
#include "support/filefaults.h"

#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;
using namespace editortest;
using Category = AccountEditResult::Category;
using Names = std::vector<std::string>;

// Another process holding an account's lock (a check of the command line) until destroyed.
class ForeignCheck
{
public:
    explicit ForeignCheck(const std::string& account)
    {
        int held[2], release[2];
        if (::pipe(held) != 0 || ::pipe(release) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(release[1]); // the parent's end: its close is the signal to stop
            CAccountLock lock;
            char c = lock.Acquire(AppPaths::AccountDir(account)) == CAccountLock::Outcome::Held;
            (void)!::write(held[1], &c, 1);
            (void)!::read(release[0], &c, 1);
            ::_exit(0);
        }
        char c = 0;
        (void)!::read(held[0], &c, 1);
        ::close(held[0]);
        ::close(held[1]);
        ::close(release[0]);
        release_ = release[1];
    }
    ~ForeignCheck()
    {
        ::close(release_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

enum class Given { None, BusyHere, BusyElsewhere, FolderInTheWay, ListFull };

// What must hold after a refused edit: nothing changed anywhere.
void ExpectUntouched(const CAccountManager& m, const std::string& cfgBefore, const char* row)
{
    EXPECT_EQ(ReadWholeFile(AppPaths::AccountListFile()), cfgBefore) << row;
    EXPECT_EQ(FoldersWithWorkMail(), Names{"Work"}) << row;
    EXPECT_EQ(RowNames(m), (Names{"Work", "Home"})) << row;
    EXPECT_TRUE(m.PendingRenames().empty()) << row;
    EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("Work")).substr(0, 8), "[Work]\r\n") << row;
    EXPECT_FALSE(fs::exists(AppPaths::AccountListFile() + ".moves")) << row;
}

TEST(AccountEditor, Rename)
{
    struct Row {
        const char* name;
        std::string from, to;
        Given setup;
        Category category;
        int rename;
        Names listed;     // Account.cfg afterwards (when done)
        std::string mail; // the folder holding Work's mail afterwards (when done)
    } rows[] = {
        {"now",
         "Work",
         "Office",
         Given::None,
         Category::Done,
         CAccountManager::kRenamedNow,
         {"Office", "Home"},
         "Office"},
        {"blanks-trimmed",
         "Work",
         " Office ",
         Given::None,
         Category::Done,
         CAccountManager::kRenamedNow,
         {"Office", "Home"},
         "Office"},
        {"letter-case-only",
         "Work",
         "WORK",
         Given::None,
         Category::Done,
         CAccountManager::kRenamedNow,
         {"WORK", "Home"},
         "WORK"},
        {"same-name",
         "Work",
         "Work",
         Given::None,
         Category::Done,
         CAccountManager::kRenameNothing,
         {"Work", "Home"},
         "Work"},
        {"deferred-while-checked-here",
         "Work",
         "Office",
         Given::BusyHere,
         Category::Done,
         CAccountManager::kRenameDeferred,
         {"Office", "Home"},
         "Work"},
        {"taken-any-case", "Work", "HOME", Given::None, Category::NameTaken, -1, {}, ""},
        {"forbidden-character", "Work", "a:b", Given::None, Category::InvalidName, -1, {}, ""},
        {"line-feed", "Work", "a\nb", Given::None, Category::InvalidName, -1, {}, ""},
        {"dot-dot", "Work", "..", Given::None, Category::InvalidName, -1, {}, ""},
        {"blank", "Work", "   ", Given::None, Category::BlankName, -1, {}, ""},
        {"over-60-bytes",
         "Work",
         std::string(61, 'n'),
         Given::None,
         Category::InvalidValue,
         -1,
         {},
         ""},
        {"unknown-account", "Nobody", "Office", Given::None, Category::NoSuchAccount, -1, {}, ""},
        {"checked-by-another-process",
         "Work",
         "Office",
         Given::BusyElsewhere,
         Category::Busy,
         -1,
         {},
         ""},
        {"folder-in-the-way",
         "Work",
         "Office",
         Given::FolderInTheWay,
         Category::WriteFailed,
         -1,
         {},
         ""},
        {"list-cannot-be-written",
         "Work",
         "Office",
         Given::ListFull,
         Category::WriteFailed,
         -1,
         {},
         ""},
    };
    for (const Row& r : rows) {
        Home home;
        CAccountManager m;
        ASSERT_EQ(m.LoadAll("", 0), 1);
        if (r.setup == Given::BusyHere)
            SetState(m, "Work", 0, 1, 0);
        if (r.setup == Given::FolderInTheWay)
            WriteWholeFile(
                (fs::create_directories(AppPaths::AccountDir(r.to)), AppPaths::AccountFile(r.to)),
                "someone else's");
        std::optional<ForeignCheck> foreign;
        if (r.setup == Given::BusyElsewhere)
            foreign.emplace("Work");
        const std::string cfgBefore = ReadWholeFile(AppPaths::AccountListFile());

        CAccountEditor editor(m, std::chrono::milliseconds(50));
        AccountEditResult result;
        WithFileSizeLimit(r.setup == Given::ListFull ? 1000 : RLIM_INFINITY, [&] {
            result = editor.Rename(r.from, r.to);
            return 0;
        });
        ASSERT_EQ(result.category, r.category) << r.name << ": " << result.message;
        if (r.category != Category::Done) {
            EXPECT_FALSE(result.message.empty()) << r.name;
            if (r.setup == Given::FolderInTheWay)
                EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile(r.to)), "someone else's");
            else
                EXPECT_FALSE(fs::exists(AppPaths::AccountDir("Office"))) << r.name;
            if (r.setup != Given::BusyHere)
                ExpectUntouched(m, cfgBefore, r.name);
            continue;
        }
        EXPECT_EQ(result.rename, r.rename) << r.name;
        EXPECT_EQ(Listed(), r.listed) << r.name;
        EXPECT_EQ(FoldersWithWorkMail(), Names{r.mail}) << r.name;
        const std::string shown = r.listed[0];
        EXPECT_EQ(result.name, shown) << r.name;
        // Account.inf names the account in its section line, wherever its files are.
        EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile(r.mail)).substr(0, shown.size() + 4),
                  "[" + shown + "]\r\n")
            << r.name;
        EXPECT_EQ(RowNames(m)[0], r.mail) << r.name;
        if (r.rename == CAccountManager::kRenameDeferred) {
            // The check ends: the folder follows, and so does a restart after a kill.
            SetState(m, "Work", 0, 0, 0);
            EXPECT_EQ(m.ApplyPendingRename("Work"), shown);
            EXPECT_EQ(FoldersWithWorkMail(), Names{shown}) << r.name;
        }
        // A restart finds the account whole under its new name.
        CAccountManager restarted;
        ASSERT_EQ(restarted.LoadAll("", 0), 1);
        EXPECT_EQ(RowNames(restarted), r.listed) << r.name;
        EXPECT_EQ(restarted.IsUsable(shown), 1) << r.name;
        EXPECT_FALSE(fs::exists(AppPaths::AccountListFile() + ".moves")) << r.name;
    }
}

// A rename that waits for a check, renamed on and back: the pair follows, one folder.
TEST(AccountEditor, RenamingAWaitingRenameRedirectsIt)
{
    Home home;
    CAccountManager m;
    ASSERT_EQ(m.LoadAll("", 0), 1);
    SetState(m, "Work", 0, 1, 0);
    CAccountEditor editor(m);
    struct Row {
        const char* name;
        std::string from, to;
        int rename;
        size_t pending;
    } rows[] = {
        {"deferred", "Work", "Office", CAccountManager::kRenameDeferred, 1},
        {"redirected", "Office", "Desk", CAccountManager::kRenameRedirected, 1},
        {"old-side-name-is-free", "Desk", "WORK", CAccountManager::kRenameRedirected, 1},
        {"back-to-the-old-name", "WORK", "Work", CAccountManager::kRenameRedirected, 0},
    };
    for (const Row& r : rows) {
        AccountEditResult result = editor.Rename(r.from, r.to);
        ASSERT_TRUE(result.Ok()) << r.name << ": " << result.message;
        EXPECT_EQ(result.rename, r.rename) << r.name;
        EXPECT_EQ(m.PendingRenames().size(), r.pending) << r.name;
        EXPECT_EQ(Listed(), (Names{r.to, "Home"})) << r.name;
        EXPECT_EQ(FoldersWithWorkMail(), Names{"Work"}) << r.name;
    }
    // The account being checked here is not removed under its check.
    EXPECT_EQ(editor.Remove("Work").category, Category::Busy);
}

TEST(AccountEditor, ApplyProperties)
{
    const std::string longServer(3000, 's'); // makes Account.inf larger than Account.cfg
    struct Row {
        const char* name;
        std::string newName;
        std::string server, password;
        std::string access;
        bool periodOn;
        Given setup;
        rlim_t limit;
        Category category;
    } rows[] = {
        {"fields-and-schedule", "Work", "pop.example.net", "new", "key", true, Given::None,
         RLIM_INFINITY, Category::Done},
        {"with-rename", "Office", "pop.example.net", "new", "", false, Given::None, RLIM_INFINITY,
         Category::Done},
        {"with-deferred-rename", "Office", "pop.example.net", "new", "", false, Given::BusyHere,
         RLIM_INFINITY, Category::Done},
        {"password-with-cr", "Work", "h", "a\rb", "", false, Given::None, RLIM_INFINITY,
         Category::InvalidValue},
        {"password-with-lf", "Office", "h", "a\nb", "", false, Given::None, RLIM_INFINITY,
         Category::InvalidValue},
        {"password-with-nul", "Work", "h", std::string("a\0b", 3), "", false, Given::None,
         RLIM_INFINITY, Category::InvalidValue},
        {"line-break-in-server", "Work", "h\r\nPort=1", "pw", "", false, Given::None, RLIM_INFINITY,
         Category::InvalidValue},
        {"access-over-60", "Work", "h", "pw", std::string(61, 'a'), false, Given::None,
         RLIM_INFINITY, Category::InvalidValue},
        {"list-fails-rename-taken-back", "Office", "h", "pw", "", false, Given::None, 1000,
         Category::WriteFailed},
        {"inf-fails-rename-taken-back", "Office", longServer, "pw", "", false, Given::None, 2600,
         Category::WriteFailed},
        {"inf-fails-deferred-rename-taken-back", "Office", longServer, "pw", "", false,
         Given::BusyHere, 2600, Category::WriteFailed},
    };
    for (const Row& r : rows) {
        Home home;
        CAccountManager m;
        ASSERT_EQ(m.LoadAll("", 0), 1);
        if (r.setup == Given::BusyHere)
            SetState(m, "Work", 0, 1, 0);
        const std::string cfgBefore = ReadWholeFile(AppPaths::AccountListFile());
        const std::string infBefore = ReadWholeFile(AppPaths::AccountFile("Work"));
        AccountRecord edited;
        edited.name = "Work";
        ASSERT_EQ(CAccountFile::ReadAccountFile(AppPaths::AccountFile("Work"), edited), 1);
        edited.name = r.newName;
        edited.server = r.server;
        edited.password = r.password;
        if (r.periodOn) {
            edited.periodCheck = "Yes";
            edited.period = "5";
        }
        CAccountEditor editor(m);
        AccountEditResult result;
        WithFileSizeLimit(r.limit, [&] {
            result = editor.ApplyProperties("Work", edited, &r.access);
            return 0;
        });
        ASSERT_EQ(result.category, r.category) << r.name << ": " << result.message;
        if (!result.Ok()) {
            EXPECT_FALSE(result.message.empty()) << r.name;
            EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("Work")), infBefore) << r.name;
            ExpectUntouched(m, cfgBefore, r.name);
            continue;
        }
        const std::string filesIn = r.setup == Given::BusyHere ? "Work" : r.newName;
        AccountRecord stored;
        stored.name = r.newName;
        ASSERT_EQ(CAccountFile::ReadAccountFile(AppPaths::AccountFile(filesIn), stored), 1);
        EXPECT_EQ(stored.server, r.server) << r.name;
        EXPECT_EQ(stored.password, r.password) << r.name;
        std::vector<AccountListRecord> records;
        ASSERT_EQ(CAccountList(AppPaths::AccountListFile()).Load(records), 1);
        EXPECT_EQ(records[0].name, r.newName) << r.name;
        EXPECT_EQ(records[0].passwordCopy, r.password) << r.name;
        EXPECT_EQ(records[0].accessPassword, r.access) << r.name;
        EXPECT_EQ(m.HasAccessPassword(filesIn), r.access.empty() ? 0 : 1) << r.name;
        EXPECT_EQ(m.Snapshot()[0].periodMinutes, r.periodOn ? 5 : -1) << r.name;
        // After a restart the account is usable: the password copy matches its file.
        if (r.setup != Given::BusyHere) {
            CAccountManager restarted;
            ASSERT_EQ(restarted.LoadAll("", 0), 1);
            EXPECT_EQ(restarted.IsUsable(r.newName), 1) << r.name;
        }
    }
}

TEST(AccountEditor, Remove)
{
    struct Row {
        const char* name;
        std::string account;
        Given setup;
        Category category;
    } rows[] = {
        {"removes-list-row-and-folder", "Work", Given::None, Category::Done},
        {"being-checked-here", "Work", Given::BusyHere, Category::Busy},
        {"being-checked-elsewhere", "Work", Given::BusyElsewhere, Category::Busy},
        {"unknown-account", "Nobody", Given::None, Category::NoSuchAccount},
        {"list-cannot-be-written", "Work", Given::ListFull, Category::WriteFailed},
    };
    for (const Row& r : rows) {
        Home home;
        CAccountManager m;
        ASSERT_EQ(m.LoadAll("", 0), 1);
        // A finished check left its lock file in the folder.
        CAccountLock().Acquire(AppPaths::AccountDir("Work"));
        if (r.setup == Given::BusyHere)
            SetState(m, "Work", 0, 1, 0);
        std::optional<ForeignCheck> foreign;
        if (r.setup == Given::BusyElsewhere)
            foreign.emplace("Work");
        const std::string cfgBefore = ReadWholeFile(AppPaths::AccountListFile());
        CAccountEditor editor(m, std::chrono::milliseconds(50));
        AccountEditResult result;
        WithFileSizeLimit(r.setup == Given::ListFull ? 1000 : RLIM_INFINITY, [&] {
            result = editor.Remove(r.account);
            return 0;
        });
        ASSERT_EQ(result.category, r.category) << r.name << ": " << result.message;
        if (!result.Ok()) {
            EXPECT_FALSE(result.message.empty()) << r.name;
            if (r.category != Category::WriteFailed)
                EXPECT_NE(result.message.find(r.account), std::string::npos) << r.name;
            if (r.setup != Given::BusyHere)
                ExpectUntouched(m, cfgBefore, r.name);
            continue;
        }
        EXPECT_EQ(Listed(), Names{"Home"}) << r.name;
        EXPECT_EQ(RowNames(m), Names{"Home"}) << r.name;
        EXPECT_FALSE(fs::exists(AppPaths::AccountDir("Work"))) << r.name;
        EXPECT_TRUE(fs::exists(AppPaths::AccountFile("Home"))) << r.name;
        // The name is free again, and a new account of it starts with no old mail.
        ASSERT_TRUE(CreateNewAccount({"Work", "IMAP4", "h", "u", "pw", std::nullopt, ""}, &m).Ok());
        EXPECT_TRUE(FoldersWithWorkMail().empty()) << r.name;
    }
}

TEST(AccountMoves, JournalTextRoundTripsAndSkipsWhatDoesNotParse)
{
    const std::vector<AccountMove> moves = {{AccountMove::Kind::Rename, "Work", "Office"},
                                            {AccountMove::Kind::Remove, "Old", ""}};
    EXPECT_EQ(CAccountMoves::Parse(CAccountMoves::Format(moves)), moves);
    struct Row {
        const char* name;
        std::string bytes;
        size_t moves;
    } rows[] = {
        {"torn-last-line", "rename/Work/Office\nremove/Ol", 1},
        {"unknown-kind", "move/Work/Office\n", 0},
        {"rename-without-target", "rename/Work\nrename/Work/\nrename//x\n", 0},
        {"extra-field", "rename/a/b/c\nremove/a/b\n", 0},
        {"outside-the-mail-folder", "remove/..\nrename/../x\nrename/x/..\nremove/.\n", 0},
        {"empty", "", 0},
        {"binary", std::string("\0\xff/\n\n/", 6), 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(CAccountMoves::Parse(r.bytes).size(), r.moves) << r.name;
}

// Two processes at a time make the same change; exactly one may succeed, the other learns
// that the name is in use. Five rounds each.
TEST(AccountEditor, RacingWritersOfOneNameOneWins)
{
    struct Row {
        const char* name;
        std::function<Category(CAccountManager&, int)> op; // child index 0 or 1
        size_t accountsAfter;
    } rows[] = {
        {"add-same-name",
         [](CAccountManager& m, int) {
             NewAccountResult r =
                 CreateNewAccount({"Same", "POP3", "h", "u", "pw", std::nullopt, ""}, &m);
             return r.Ok()                                                ? Category::Done
                    : r.category == NewAccountResult::Category::NameTaken ? Category::NameTaken
                                                                          : Category::WriteFailed;
         },
         3},
        {"rename-two-accounts-onto-one-name",
         [](CAccountManager& m, int child) {
             return CAccountEditor(m).Rename(child == 0 ? "Work" : "Home", "Same").category;
         },
         2},
    };
    for (const Row& r : rows) {
        for (int round = 0; round < 5; ++round) {
            Home home;
            int go[2];
            ASSERT_EQ(::pipe(go), 0);
            pid_t pids[2];
            for (int child = 0; child < 2; ++child) {
                pids[child] = ::fork();
                if (pids[child] == 0) {
                    CAccountManager m;
                    m.LoadAll("", 0);
                    char c;
                    ::close(go[1]);
                    (void)!::read(go[0], &c, 1); // both start at once
                    ::_exit(static_cast<int>(r.op(m, child)));
                }
            }
            ::close(go[0]);
            ::close(go[1]);
            std::vector<Category> outcomes;
            for (pid_t pid : pids) {
                int status = 0;
                ::waitpid(pid, &status, 0);
                ASSERT_TRUE(WIFEXITED(status)) << r.name;
                outcomes.push_back(static_cast<Category>(WEXITSTATUS(status)));
            }
            std::sort(outcomes.begin(), outcomes.end());
            EXPECT_EQ(outcomes, (std::vector<Category>{Category::Done, Category::NameTaken}))
                << r.name << " round " << round;
            Names listed = Listed();
            EXPECT_EQ(std::count(listed.begin(), listed.end(), "Same"), 1) << r.name;
            EXPECT_EQ(listed.size(), r.accountsAfter) << r.name;
            // Every listed account has its own folder with its Account.inf.
            for (const std::string& name : listed)
                EXPECT_TRUE(fs::exists(AppPaths::AccountFile(name))) << r.name << " " << name;
        }
    }
}

} // namespace
