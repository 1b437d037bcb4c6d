#include "accountfile.h"
#include "accountlist.h"
#include "accountmanager.h"
#include "accountnames.h"
#include "accounttestutil.h"
#include "apppaths.h"
#include "dialoguebox.h"
#include "newaccount.h"
#include "resourcelibrary.h"
#include "support/tempdir.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace
{

namespace fs = std::filesystem;

class RecordingDialogue : public DialogueBackend
{
public:
    struct Shown {
        std::string text, caption;
        int icon;
    };
    int Show(const std::string& text, const std::string& caption, void*, int, int icon) override
    {
        shown.push_back({text, caption, icon});
        return kDialogueIdOk;
    }
    std::vector<Shown> shown;
};

class FakePlugins : public AccountPlugins
{
public:
    int MapiPresent() const override { return mapi; }
    std::vector<std::string> Profiles() const override { return profiles; }
    int mapi = 1;
    std::vector<std::string> profiles{"Outlook", "Office"};
};

// A data folder of its own for each test.
class AccountTable : public ::testing::Test
{
protected:
    TempDir home;
    ScopedEnv env{"POSTWATCH_HOME", home.Path()};

    void Add(CAccountManager& m, const std::string& name, const std::string& kind = "POP3",
             const std::string& server = "mail.example.org")
    {
        NewAccountRequest req{name, kind, server, "user", "pw", std::nullopt, ""};
        auto result = CreateNewAccount(req, &m);
        ASSERT_TRUE(result.Ok()) << result.message;
    }
    static void SetState(CAccountManager& m, const std::string& name, CheckState state)
    {
        m.WithTable([&](std::vector<AccountEntry>& rows) {
            for (auto& r : rows)
                if (r.name == name)
                    r.checkState = state;
        });
    }
    static std::optional<AccountEntry> FindRow(const std::vector<AccountEntry>& table,
                                               const std::string& name)
    {
        for (const auto& r : table)
            if (r.name == name)
                return r;
        return std::nullopt;
    }
};

TEST_F(AccountTable, RequestOnlyChangesAnIdleRow)
{
    struct Row {
        const char* name;
        CheckState state;
        int result;
        CheckState after;
    } rows[] = {
        {"idle-becomes-requested", CheckState::Idle, CAccountManager::kEnterRequested,
         CheckState::Requested},
        {"requested-unchanged", CheckState::Requested, CAccountManager::kEnterUnchanged,
         CheckState::Requested},
        {"busy-unchanged", CheckState::Busy, CAccountManager::kEnterUnchanged, CheckState::Busy},
        {"done-unchanged", CheckState::Done, CAccountManager::kEnterUnchanged, CheckState::Done},
    };
    CAccountManager m;
    Add(m, "Work");
    for (const auto& r : rows) {
        SetState(m, "Work", r.state);
        EXPECT_EQ(m.EnterOrRequest("Work", 1, nullptr, nullptr, 0), r.result) << r.name;
        std::optional<AccountEntry> e = FindRow(m.Snapshot(), "Work");
        ASSERT_TRUE(e.has_value());
        EXPECT_EQ(e->checkState, r.after) << r.name;
    }
    EXPECT_EQ(m.Snapshot().size(), 1u);
}

TEST_F(AccountTable, UsableWhenEntering)
{
    struct Row {
        const char* name;
        std::string kind, server;
        bool writeInf;
        std::optional<std::string> copy;
        int trusted;
        std::shared_ptr<AccountPlugins> plugins;
        int usable;
    } rows[] = {
        {"copy-matches", "POP3", "h", true, "pw", 0, nullptr, 1},
        {"copy-differs", "POP3", "h", true, "PW", 0, nullptr, 0},
        {"no-copy", "IMAP4", "h", true, std::nullopt, 0, nullptr, 0},
        {"trusted", "POP3", "h", true, std::nullopt, 1, nullptr, 1},
        {"missing-inf-empty-copy", "", "", false, "", 0, nullptr, 0},
        {"missing-inf-trusted", "", "", false, std::nullopt, 1, nullptr, 1},
        {"missing-inf-copy-kept", "", "", false, "pw", 0, nullptr, 0},
        {"exchange-without-provider", "Exchange(MAPI)", "Outlook", true, "pw", 1, nullptr, 0},
        {"exchange-profile-offered", "Exchange(MAPI)", "Office", true, "pw", 0,
         std::make_shared<FakePlugins>(), 1},
        {"exchange-profile-missing", "Exchange(MAPI)", "Other", true, "pw", 1,
         std::make_shared<FakePlugins>(), 0},
        {"webmail-category-offered", "Portalpost", "Hotmail", true, "pw", 0, nullptr, 1},
        {"webmail-category-unknown", "Portalpost", "Mailbox", true, "pw", 1, nullptr, 0},
    };
    for (const auto& r : rows) {
        CAccountManager m(r.plugins);
        std::string name = std::string("acct-") + r.name;
        if (r.writeInf) {
            AccountRecord rec;
            rec.mailType = r.kind;
            rec.server = r.server;
            rec.password = "pw";
            ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(name)));
            ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile(name), rec), 1);
        }
        const std::string* copy = r.copy ? &*r.copy : nullptr;
        ASSERT_EQ(m.EnterOrRequest(name, 1, nullptr, copy, r.trusted), CAccountManager::kEnterAdded)
            << r.name;
        EXPECT_EQ(m.IsUsable(name), r.usable) << r.name;
    }
}

TEST_F(AccountTable, RenameFollowsTheCheckState)
{
    struct Row {
        const char* name;
        CheckState state;
        int result;
        bool folderMovedNow;
    } rows[] = {
        {"idle", CheckState::Idle, CAccountManager::kRenamedNow, true},
        {"requested", CheckState::Requested, CAccountManager::kRenamedNow, true},
        {"done", CheckState::Done, CAccountManager::kRenamedNow, true},
        {"busy", CheckState::Busy, CAccountManager::kRenameDeferred, false},
    };
    for (const auto& r : rows) {
        CAccountManager m;
        std::string from = std::string("from-") + r.name, to = std::string("to-") + r.name;
        Add(m, from);
        SetState(m, from, r.state);
        EXPECT_EQ(m.Rename(from, to), r.result) << r.name;
        EXPECT_EQ(fs::exists(AppPaths::AccountDir(to)), r.folderMovedNow) << r.name;
        EXPECT_EQ(fs::exists(AppPaths::AccountDir(from)), !r.folderMovedNow) << r.name;
        auto table = m.Snapshot();
        EXPECT_TRUE(FindRow(table, r.folderMovedNow ? to : from).has_value()) << r.name;
    }
}

TEST_F(AccountTable, DeferredRenameIsAppliedOrUndone)
{
    CAccountManager m;
    Add(m, "Work");
    SetState(m, "Work", CheckState::Busy);
    ASSERT_EQ(m.Rename("Work", "Office"), CAccountManager::kRenameDeferred);
    EXPECT_EQ(m.TranslateName("Work", 1), "Office");
    EXPECT_EQ(m.TranslateName("Office", 0), "Work");
    EXPECT_EQ(m.TranslateName("Other", 0), "Other");

    // Renamed on again while still busy: the pair is redirected.
    EXPECT_EQ(m.Rename("Office", "Desk"), CAccountManager::kRenameRedirected);
    EXPECT_EQ(m.TranslateName("Work", 1), "Desk");
    // Renamed back to its old name: nothing is left to do.
    EXPECT_EQ(m.Rename("Desk", "Work"), CAccountManager::kRenameRedirected);
    EXPECT_TRUE(m.PendingRenames().empty());
    EXPECT_EQ(m.ApplyPendingRename("Work"), "Work");
    EXPECT_TRUE(fs::exists(AppPaths::AccountDir("Work")));

    // A rename that waits is carried out once the check has finished.
    ASSERT_EQ(m.Rename("Work", "Office"), CAccountManager::kRenameDeferred);
    EXPECT_TRUE(fs::exists(AppPaths::AccountDir("Work")));
    m.CheckFinished("Work");
    EXPECT_EQ(m.ApplyPendingRename("Work"), "Office");
    EXPECT_TRUE(fs::exists(AppPaths::AccountFile("Office")));
    EXPECT_FALSE(fs::exists(AppPaths::AccountDir("Work")));
    EXPECT_TRUE(FindRow(m.Snapshot(), "Office").has_value());
    EXPECT_TRUE(m.PendingRenames().empty());
}

TEST_F(AccountTable, RenameRefusals)
{
    struct Row {
        const char* name;
        std::string from, to;
    } rows[] = {
        {"unknown-account", "Nobody", "Somebody"},
        {"onto-another-account", "Home", "Work"},
        {"traversal", "Home", "../Home"},
        {"dot-dot", "Home", ".."},
        {"empty", "Home", ""},
    };
    CAccountManager m;
    Add(m, "Home");
    Add(m, "Work");
    for (const auto& r : rows) {
        EXPECT_EQ(m.Rename(r.from, r.to), CAccountManager::kRenameNothing) << r.name;
        EXPECT_TRUE(fs::exists(AppPaths::AccountFile("Home"))) << r.name;
    }
    EXPECT_EQ(m.Snapshot().size(), 2u);
}

TEST_F(AccountTable, DeleteTheMiddleOfThreeKeepsOrder)
{
    CAccountManager m;
    Add(m, "One");
    Add(m, "Two");
    Add(m, "Three");
    EXPECT_EQ(m.Remove("Two"), 1);
    EXPECT_EQ(m.Remove("Two"), 0);
    CAccountList list(AppPaths::AccountListFile());
    ASSERT_EQ(list.Delete("Two"), 1);
    auto table = m.Snapshot();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].name, "One");
    EXPECT_EQ(table[1].name, "Three");

    CAccountManager reloaded;
    ASSERT_EQ(reloaded.LoadAll("", 0), 1);
    table = reloaded.Snapshot();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].name, "One");
    EXPECT_EQ(table[1].name, "Three");
}

TEST_F(AccountTable, LoadAllStartsTheDefaultExchangeAccount)
{
    {
        CAccountManager m;
        Add(m, "Mail");
        Add(m, "Exchange", "Exchange(MAPI)", "Outlook");
    }
    // Written from the layout: the second record has an access password, and a third
    // record's name would leave the mail folder, so it is not entered.
    WriteWholeFile(AppPaths::AccountListFile(), accounttest::CfgHeader(3) +
                                                    accounttest::CfgRecord("Mail", "lock", "pw") +
                                                    accounttest::CfgRecord("Exchange", "", "pw") +
                                                    accounttest::CfgRecord("..", "", ""));

    struct Row {
        const char* name;
        std::string defaultExchange;
        int autoStart;
        int exchangeRequested;
    } rows[] = {
        {"auto-start", "Exchange", 1, 1},
        {"no-auto-start", "Exchange", 0, 0},
        {"other-default", "Mail", 0, 0},
        {"default-case-differs", "exchange", 1, 0},
    };
    for (const auto& r : rows) {
        CAccountManager m;
        ASSERT_EQ(m.LoadAll(r.defaultExchange, r.autoStart), 1) << r.name;
        auto table = m.Snapshot();
        ASSERT_EQ(table.size(), 2u) << r.name;
        EXPECT_EQ(table[0].name, "Mail");
        EXPECT_EQ(table[0].accessPassword, "lock");
        EXPECT_EQ(table[0].usable, 1);
        EXPECT_FALSE(table[0].IsRequested()) << r.name;
        EXPECT_EQ(table[1].name, "Exchange");
        EXPECT_EQ(table[1].kind, 2);
        EXPECT_EQ(table[1].checkState,
                  r.exchangeRequested ? CheckState::Requested : CheckState::Idle)
            << r.name;
    }
}

TEST_F(AccountTable, ScheduleAndPasswordSetters)
{
    CAccountManager m;
    Add(m, "Work");
    struct Row {
        const char* name;
        std::function<int(CAccountManager&)> op;
        int result;
        int period, seconds, unlocked, hasAccess;
    } rows[] = {
        {"set-period", [](CAccountManager& a) { return a.SetPeriod("Work", "15"); }, 1, 15, -1, 0,
         0},
        {"period-leading-digits", [](CAccountManager& a) { return a.SetPeriod("Work", "7x"); }, 1,
         7, -1, 0, 0},
        {"period-off", [](CAccountManager& a) { return a.PeriodOff("Work"); }, 1, -1, -1, 0, 0},
        {"time-two-digits", [](CAccountManager& a) { return a.SetSpecifiedTime("Work", "07:05"); },
         1, -1, 25500, 0, 0},
        {"time-one-digit-misread",
         [](CAccountManager& a) { return a.SetSpecifiedTime("Work", "7:5"); }, 1, -1, 25200, 0, 0},
        {"time-off", [](CAccountManager& a) { return a.SpecifiedTimeOff("Work"); }, 1, -1, -1, 0,
         0},
        {"set-access", [](CAccountManager& a) { return a.SetAccessPassword("Work", "open"); }, 1,
         -1, -1, 0, 1},
        {"verify-empty", [](CAccountManager& a) { return a.VerifyAccessPassword("Work", ""); }, 0,
         -1, -1, 0, 1},
        {"verify-wrong-case",
         [](CAccountManager& a) { return a.VerifyAccessPassword("Work", "OPEN"); }, 0, -1, -1, 0,
         1},
        {"verify-right", [](CAccountManager& a) { return a.VerifyAccessPassword("Work", "open"); },
         1, -1, -1, 1, 1},
        {"verify-wrong-locks-again",
         [](CAccountManager& a) { return a.VerifyAccessPassword("Work", "x"); }, 0, -1, -1, 0, 1},
        {"clear-access", [](CAccountManager& a) { return a.SetAccessPassword("Work", ""); }, 1, -1,
         -1, 0, 0},
        {"unknown-row", [](CAccountManager& a) { return a.SetPeriod("Nope", "5"); }, 0, -1, -1, 0,
         0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.op(m), r.result) << r.name;
        std::optional<AccountEntry> e = FindRow(m.Snapshot(), "Work");
        ASSERT_TRUE(e.has_value());
        EXPECT_EQ(e->periodMinutes, r.period) << r.name;
        EXPECT_EQ(e->minutesElapsed, 0) << r.name;
        EXPECT_EQ(e->specifiedSeconds, r.seconds) << r.name;
        EXPECT_EQ(e->unlocked, r.unlocked) << r.name;
        EXPECT_EQ(m.HasAccessPassword("Work"), r.hasAccess) << r.name;
    }
    EXPECT_EQ(m.CheckFinished("Work"), 1);
    EXPECT_TRUE(FindRow(m.Snapshot(), "Work")->IsDone());
    EXPECT_EQ(m.IsUsable("Nope"), 0);
    EXPECT_EQ(m.HasAccessPassword("Nope"), 0);
}

TEST_F(AccountTable, NameRules)
{
    const auto bad = LoadResourceString(AccountNames::kBadCharacterText);
    const auto blank = LoadResourceString(AccountNames::kBlankText);
    const auto inUse = LoadResourceString(AccountNames::kNameInUseText);
    struct Row {
        const char* name;
        std::string text;
        std::optional<std::string> oldName;
        int show;
        int result;
        std::string textAfter;
        std::optional<std::pair<std::string, int>> message; // text and icon
    } rows[] = {
        {"colon-refused-and-cleared", "Home:Work", std::nullopt, 1, 1, "",
         std::make_pair(bad, kDialogueIconStop)},
        {"backslash", "a\\b", std::nullopt, 1, 1, "", std::make_pair(bad, kDialogueIconStop)},
        {"pipe", "a|b", std::nullopt, 0, 1, "", std::make_pair(bad, kDialogueIconStop)},
        {"dot-dot", " .. ", std::nullopt, 1, 1, "", std::make_pair(bad, kDialogueIconStop)},
        {"line-feed", "a\nb", std::nullopt, 1, 1, "", std::make_pair(bad, kDialogueIconStop)},
        {"blank", "   ", std::nullopt, 1, 1, "", std::make_pair(blank, kDialogueIconExclamation)},
        {"free-and-trimmed", "  Club  ", std::nullopt, 1, 0, "Club", std::nullopt},
        {"taken-any-case", "WORK", std::nullopt, 1, 1, "WORK",
         std::make_pair(inUse, kDialogueIconExclamation)},
        {"taken-quietly", "work", std::nullopt, 0, 1, "work", std::nullopt},
        {"own-old-name", "WORK", std::string("work"), 1, 0, "WORK", std::nullopt},
        {"old-side-of-pending-is-free", "busy", std::nullopt, 1, 0, "busy", std::nullopt},
        {"new-side-of-pending-is-taken", "Renamed", std::nullopt, 1, 1, "Renamed",
         std::make_pair(inUse, kDialogueIconExclamation)},
    };
    CAccountManager m;
    Add(m, "Work");
    Add(m, "Busy");
    SetState(m, "Busy", CheckState::Busy);
    ASSERT_EQ(m.Rename("Busy", "renamed"), CAccountManager::kRenameDeferred);
    auto dialogue = std::make_shared<RecordingDialogue>();
    SetDialogueBackend(dialogue);
    for (const auto& r : rows) {
        dialogue->shown.clear();
        std::string text = r.text;
        const std::string* old = r.oldName ? &*r.oldName : nullptr;
        EXPECT_EQ(m.NameInUse(text, nullptr, old, r.show), r.result) << r.name;
        EXPECT_EQ(text, r.textAfter) << r.name;
        ASSERT_EQ(dialogue->shown.size(), r.message ? 1u : 0u) << r.name;
        if (r.message) {
            EXPECT_EQ(dialogue->shown[0].text, r.message->first) << r.name;
            EXPECT_EQ(dialogue->shown[0].caption, LoadResourceString(AccountNames::kCaption));
            EXPECT_EQ(dialogue->shown[0].icon, r.message->second) << r.name;
        }
    }
    SetDialogueBackend(nullptr);
}

// One thread requests, renames, removes and re-adds while another scans the table as the
// worker does; the scan must always see whole rows, and the locks keep their order.
TEST_F(AccountTable, ConcurrentChangesAndScans)
{
    CAccountManager m;
    for (const char* n : {"A", "B", "C", "D"})
        Add(m, n);
    const int violationsBefore = CAccountManager::LockOrderViolations();
    std::atomic<bool> stop{false};
    std::atomic<int> scans{0};
    std::atomic<bool> badRow{false};
    std::thread worker([&] {
        while (!stop) {
            m.WithTable([&](std::vector<AccountEntry>& rows) {
                for (auto& r : rows) {
                    if (r.name.empty())
                        badRow = true;
                    if (r.IsRequested()) {
                        r.checkState = CheckState::Busy;
                    } else if (r.IsDone()) {
                        r.checkState = CheckState::Idle;
                        r.name = m.ApplyPendingRename(r.name);
                    }
                }
            });
            ++scans;
        }
    });
    std::thread checks([&] {
        while (!stop)
            for (const char* n : {"A", "B", "C", "D", "B2"})
                m.CheckFinished(n);
    });
    for (int i = 0; i < 2000; ++i) {
        m.EnterOrRequest("A", 1, nullptr, nullptr, 0);
        // The tree knows the account as "B"; while a rename waits the row may carry the
        // other name, which the translation finds (under one hold of the table lock).
        m.WithTable(
            [&](auto&) { m.EnterOrRequest(m.TranslateName("B", 0), 1, nullptr, nullptr, 0); });
        // Renamed and renamed back, as the tree does it: by the name it shows.
        ASSERT_NE(m.Rename("B", "B2"), CAccountManager::kRenameNothing);
        ASSERT_NE(m.Rename("B2", "B"), CAccountManager::kRenameNothing);
        m.Remove("C");
        m.EnterOrRequest("C", 0, nullptr, nullptr, 1);
        (void)m.IsUsable("D");
        (void)m.TranslateName("B", 1);
        (void)m.Snapshot();
    }
    while (scans < 10)
        std::this_thread::yield();
    stop = true;
    worker.join();
    checks.join();
    EXPECT_FALSE(badRow);
    EXPECT_EQ(CAccountManager::LockOrderViolations(), violationsBefore);
    // Let every check end and every waiting rename happen, as the worker would.
    for (const auto& r : m.Snapshot()) {
        m.CheckFinished(r.name);
        m.ApplyPendingRename(r.name);
    }
    EXPECT_TRUE(m.PendingRenames().empty());
    auto table = m.Snapshot();
    ASSERT_EQ(table.size(), 4u);
    EXPECT_TRUE(FindRow(table, "B").has_value());
}

TEST_F(AccountTable, LockOrderCheck)
{
    struct Row {
        const char* name;
        std::function<void(CAccountManager&)> op;
        int violations;
    } rows[] = {
        {"table-then-rename",
         [](CAccountManager& m) {
             m.WithTable([&](auto&) { m.WithPendingRenames([](auto&) {}); });
         },
         0},
        {"rename-alone", [](CAccountManager& m) { m.WithPendingRenames([](auto&) {}); }, 0},
        {"operation-inside-table-lock",
         [](CAccountManager& m) { m.WithTable([&](auto&) { (void)m.PendingRenames(); }); }, 0},
        {"rename-then-table",
         [](CAccountManager& m) { m.WithPendingRenames([&](auto&) { (void)m.Snapshot(); }); }, 1},
    };
    CAccountManager m;
    for (const auto& r : rows) {
        int before = CAccountManager::LockOrderViolations();
        r.op(m);
        EXPECT_EQ(CAccountManager::LockOrderViolations() - before, r.violations) << r.name;
    }
}

} // namespace
