// The worker's schedule, driven by a clock that moves only when the worker sleeps, so that
// days of scans run in well under a second.
#include "accountmanager.h"
#include "accountrecord.h"
#include "apppaths.h"
#include "checkworker.h"
#include "enginefakes.h"
#include "enginestate.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace enginetest;

namespace
{

constexpr int kNine = 9 * 3600;

struct Harness {
    explicit Harness(int startSecondsOfDay = 0, CCheckWorker::Options options = {})
        : clock(startSecondsOfDay), launcher(accounts, clock),
          worker(
              accounts, state, network, launcher, clock, wake, sink, [] {}, options)
    {
    }
    void Add(const AccountEntry& e)
    {
        accounts.WithTable([&](std::vector<AccountEntry>& rows) { rows.push_back(e); });
    }
    AccountEntry Get(const std::string& name)
    {
        for (const AccountEntry& e : accounts.Snapshot())
            if (e.name == name)
                return e;
        return AccountEntry{};
    }
    void Change(const std::string& name, const std::function<void(AccountEntry&)>& f)
    {
        accounts.WithTable([&](std::vector<AccountEntry>& rows) {
            for (AccountEntry& e : rows)
                if (e.name == name)
                    f(e);
        });
    }
    void Request(const std::string& name)
    {
        Change(name, [](AccountEntry& e) { e.checkState = CheckState::Requested; });
    }
    // `n` scans, one second apart; `at(scan)` runs before each scan (1-based).
    void Scans(int n, const std::function<void(int)>& at = {})
    {
        for (int i = 1; i <= n; ++i) {
            if (at)
                at(i);
            worker.ScanOnce();
            clock.Sleep(std::chrono::seconds(1), wake);
        }
    }
    std::vector<std::string> Started() const
    {
        std::vector<std::string> names;
        for (const auto& s : launcher.starts)
            names.push_back(s.name);
        return names;
    }

    TempDir dir;
    ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
    CAccountManager accounts;
    CEngineState state;
    FakeNetwork network;
    FakeClock clock;
    FakeLauncher launcher;
    CWakeSignal wake;
    RecordingSink sink;
    CCheckWorker worker;
};

struct ScheduleCase {
    const char* name;
    std::function<void(Harness&)> run;
};

POSTWATCH_ROW_PRINTS_NAME(ScheduleCase)

class ScheduleTest : public ::testing::TestWithParam<ScheduleCase>
{
};

TEST_P(ScheduleTest, Runs)
{
    GetParam().run(*std::make_unique<Harness>());
}

const ScheduleCase kScheduleCases[] = {
    {"PeriodReachedWhileBusyFiresAtFirstTickAfterIdle",
     [](Harness& h) {
         AccountEntry a = Row("a");
         a.periodMinutes = 15;
         h.Add(a);
         h.launcher.finishAtOnce = true;
         // Busy from minute 14.5 to 15.5 (scans 870..930); the 15th tick is scan 900.
         h.Scans(2000, [&](int scan) {
             if (scan == 870)
                 h.Change("a", [](AccountEntry& e) { e.checkState = CheckState::Busy; });
             if (scan == 930)
                 h.accounts.CheckFinished("a");
         });
         // Requested at the 16th tick (scan 960), started at the next scan; the count
         // starts from 0 then, so the next start is 15 minutes later.
         ASSERT_EQ(h.launcher.starts.size(), 2u);
         EXPECT_EQ(h.launcher.starts[0].secondsOfDay, 960);
         EXPECT_EQ(h.launcher.starts[1].secondsOfDay, 960 + 900);
     }},
    {"PeriodOffNeverRequests",
     [](Harness& h) {
         h.Add(Row("a"));
         h.Scans(3 * 3600);
         EXPECT_TRUE(h.launcher.starts.empty());
     }},
    {"UnusableAccountIsNeverStartedAndFurtherRequestsDrop",
     [](Harness& h) {
         h.Add(Row("a", kKindMail, /*usable*/ 0));
         h.Request("a");
         h.Scans(5);
         EXPECT_TRUE(h.launcher.starts.empty());
         EXPECT_EQ(h.network.ensureCalls, 0);
         EXPECT_TRUE(h.Get("a").IsRequested());
         EXPECT_EQ(h.accounts.EnterOrRequest("a", 1, nullptr, nullptr, 0),
                   CAccountManager::kEnterUnchanged);
     }},
    {"RequestOnBusyAccountIsDropped",
     [](Harness& h) {
         h.Add(Row("a"));
         h.Request("a");
         h.Scans(1);
         ASSERT_TRUE(h.Get("a").IsBusy());
         EXPECT_EQ(h.accounts.EnterOrRequest("a", 1, nullptr, nullptr, 0),
                   CAccountManager::kEnterUnchanged);
         h.accounts.CheckFinished("a");
         h.Scans(3);
         EXPECT_EQ(h.Started(), std::vector<std::string>{"a"});
         EXPECT_TRUE(h.Get("a").IsIdle());
     }},
    {"NoNetworkDropsTheRequestBackToIdle",
     [](Harness& h) {
         h.network.up = false;
         h.Add(Row("a"));
         h.Request("a");
         h.Scans(3);
         EXPECT_TRUE(h.launcher.starts.empty());
         EXPECT_EQ(h.network.ensureCalls, 1);
         EXPECT_TRUE(h.Get("a").IsIdle());
     }},
    {"ExchangeRequestDroppedWhileLoggedOn",
     [](Harness& h) {
         h.state.exchangeLoggedOn = 1;
         h.Add(Row("x", kKindExchange));
         h.Request("x");
         h.Scans(1);
         EXPECT_TRUE(h.Get("x").IsDone());
         h.Scans(1);
         EXPECT_TRUE(h.Get("x").IsIdle());
         EXPECT_TRUE(h.launcher.starts.empty());
         EXPECT_EQ(h.network.ensureCalls, 0);
     }},
    {"OneWebMailCheckAtATime",
     [](Harness& h) {
         h.Add(Row("w1", kKindWebMail));
         h.Add(Row("w2", kKindWebMail));
         h.Add(Row("p", kKindMail));
         h.Add(Row("q", kKindMail));
         for (const char* n : {"w1", "w2", "p", "q"})
             h.Request(n);
         h.Scans(3);
         EXPECT_EQ(h.Started(), (std::vector<std::string>{"w1", "p", "q"}));
         EXPECT_TRUE(h.Get("w2").IsRequested());
         h.accounts.CheckFinished("w1");
         h.Scans(1); // finalising w1 frees the slot for w2 in the same scan
         EXPECT_EQ(h.Started(), (std::vector<std::string>{"w1", "p", "q", "w2"}));
     }},
    {"OneExchangeCheckAtATime",
     [](Harness& h) {
         h.Add(Row("x1", kKindExchange));
         h.Add(Row("x2", kKindExchange));
         h.Request("x1");
         h.Request("x2");
         h.Scans(3);
         EXPECT_EQ(h.Started(), std::vector<std::string>{"x1"});
     }},
    {"RenameDuringCheckAppliedAtFinalisation",
     [](Harness& h) {
         ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("old")));
         h.Add(Row("old"));
         h.Request("old");
         h.Scans(1);
         ASSERT_EQ(h.accounts.Rename("old", "new"), CAccountManager::kRenameDeferred);
         h.Scans(2);
         EXPECT_EQ(h.Get("old").name, "old"); // still checking under its old name
         h.accounts.CheckFinished("old");
         h.Scans(1);
         EXPECT_TRUE(h.Get("new").IsIdle());
         EXPECT_TRUE(h.accounts.PendingRenames().empty());
         EXPECT_TRUE(std::filesystem::is_directory(AppPaths::AccountDir("new")));
         EXPECT_FALSE(std::filesystem::exists(AppPaths::AccountDir("old")));
     }},
    {"RowRemovedWhileNetworkIsAskedIsNotStarted",
     [](Harness& h) {
         h.network.handle = 42;
         h.Add(Row("a"));
         h.Add(Row("b"));
         h.Request("a");
         h.network.duringEnsure = [&] {
             h.network.duringEnsure = nullptr;
             h.accounts.Remove("a");
         };
         h.Scans(1);
         EXPECT_TRUE(h.launcher.starts.empty());
         // The connection opened for it belongs to nobody.
         EXPECT_EQ(h.network.hungUp, std::vector<int64_t>{42});
     }},
    {"RowAddedBeforeWhileNetworkIsAskedStartsTheRightAccount",
     [](Harness& h) {
         h.Add(Row("b"));
         h.Request("b");
         h.network.duringEnsure = [&] {
             h.network.duringEnsure = nullptr;
             h.accounts.WithTable(
                 [](std::vector<AccountEntry>& rows) { rows.insert(rows.begin(), Row("new")); });
         };
         h.Scans(1);
         EXPECT_EQ(h.Started(), std::vector<std::string>{"b"});
         EXPECT_TRUE(h.Get("b").IsBusy());
         EXPECT_TRUE(h.Get("new").IsIdle());
     }},
    {"DialUpHungUpOnlyWhenNobodyElseUsesIt",
     [](Harness& h) {
         h.network.handle = 7;
         h.Add(Row("a"));
         h.Add(Row("b"));
         h.Request("a");
         h.Request("b");
         h.Scans(1);
         h.accounts.CheckFinished("a");
         h.Scans(2); // b still busy: any-busy keeps the connection
         EXPECT_TRUE(h.network.hungUp.empty());
         EXPECT_TRUE(h.Get("a").IsIdle());
         h.accounts.CheckFinished("b");
         h.Scans(1);
         EXPECT_EQ(h.network.hungUp, std::vector<int64_t>{7});
         EXPECT_EQ(h.Get("b").connectionHandle, 0);
     }},
    {"SharedDialUpOfTwoFinishedChecksHungUpOnce",
     [](Harness& h) {
         h.network.handle = 7;
         h.Add(Row("a"));
         h.Add(Row("b"));
         h.Request("a");
         h.Request("b");
         h.Scans(1);
         h.accounts.CheckFinished("a");
         h.accounts.CheckFinished("b");
         h.Scans(1);
         EXPECT_EQ(h.network.hungUp, std::vector<int64_t>{7});
         EXPECT_TRUE(h.Get("a").IsIdle());
         EXPECT_TRUE(h.Get("b").IsIdle());
         EXPECT_EQ(h.Get("a").connectionHandle, 0);
         EXPECT_EQ(h.Get("b").connectionHandle, 0);
     }},
    {"RequestLeftWhileTheNetworkIsAskedIsNotStarted",
     [](Harness& h) {
         h.network.handle = 5;
         h.Add(Row("a"));
         h.Add(Row("b"));
         h.Request("a");
         h.Request("b");
         // The user exits while the network is asked for "a": "b" must wait.
         h.network.duringEnsure = [&] {
             h.network.duringEnsure = nullptr;
             h.state.checkingEnabled = 0;
         };
         h.Scans(1);
         EXPECT_EQ(h.Started(), std::vector<std::string>{"a"});
         EXPECT_TRUE(h.Get("b").IsRequested());
     }},
};

INSTANTIATE_TEST_SUITE_P(Worker, ScheduleTest, ::testing::ValuesIn(kScheduleCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The daily time, across the midnight wrap and the following day.
struct DailyCase {
    const char* name;
    int start;                               // seconds of day when the scans begin
    int scans;                               // how many scans
    int specified;                           // the daily time
    bool busyAtTime;                         // busy from before the time until 30 s after it
    std::vector<std::pair<int, int>> starts; // (day, seconds of day) of each start
};

POSTWATCH_ROW_PRINTS_NAME(DailyCase)

class DailyTest : public ::testing::TestWithParam<DailyCase>
{
};

TEST_P(DailyTest, FiresOnceInTheMinuteAfter)
{
    const DailyCase& c = GetParam();
    auto h = std::make_unique<Harness>(c.start);
    AccountEntry a = Row("a");
    a.specifiedSeconds = c.specified;
    h->Add(a);
    h->launcher.finishAtOnce = true;
    h->Scans(c.scans, [&](int) {
        const int now = h->clock.LocalSecondsOfDay();
        if (!c.busyAtTime || h->clock.Day() != 0)
            return;
        if (now == c.specified - 5)
            h->Change("a", [](AccountEntry& e) { e.checkState = CheckState::Busy; });
        if (now == c.specified + 30)
            h->accounts.CheckFinished("a");
    });
    std::vector<std::pair<int, int>> got;
    for (const auto& s : h->launcher.starts)
        got.push_back({s.day, s.secondsOfDay});
    EXPECT_EQ(got, c.starts);
}

const DailyCase kDailyCases[] = {
    // Requested at 09:00:01 (not at 09:00:00), started at the next scan; again next day.
    {"NineOClockTwoDays", kNine - 60, 86400 + 180, kNine, false, {{0, kNine + 2}, {1, kNine + 2}}},
    {"StartedAfterTheTimeWaitsForTomorrow", kNine + 120, 86400, kNine, false, {{1, kNine + 2}}},
    // Busy through part of the minute: requested at the first idle scan in that minute.
    {"BusyAtTheTimeFiresLaterInTheMinute", kNine - 60, 200, kNine, true, {{0, kNine + 31}}},
    {"Midnight", 86400 - 30, 120, 0, false, {{1, 2}}},
};

INSTANTIATE_TEST_SUITE_P(Worker, DailyTest, ::testing::ValuesIn(kDailyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Exit: the worker drains, finalises, then asks the front to close.
struct ExitCase {
    const char* name;
    bool finishes;    // the running check reports Check finished by itself
    bool obeysCancel; // it does once cancelled
    int expectCancels;
    int maxSleeps; // the worker has ended by then
};

POSTWATCH_ROW_PRINTS_NAME(ExitCase)

class ExitTest : public ::testing::TestWithParam<ExitCase>
{
};

TEST_P(ExitTest, DrainsThenCloses)
{
    const ExitCase& c = GetParam();
    CCheckWorker::Options options;
    options.drainLimit = std::chrono::seconds(10);
    options.cancelGrace = std::chrono::seconds(5);
    auto h = std::make_unique<Harness>(0, options);
    h->network.handle = 9;
    h->Add(Row("a"));
    h->Add(Row("later"));
    h->Request("a");
    h->launcher.onCancel = [&] {
        if (c.obeysCancel)
            h->accounts.CheckFinished("a");
    };
    h->clock.onSleep = [&](int sleeps) {
        if (sleeps == 2) {
            h->state.checkingEnabled = 0;
            h->Request("later"); // stays pending while draining
        }
        if (sleeps == 4 && c.finishes)
            h->accounts.CheckFinished("a");
        EXPECT_LE(sleeps, c.maxSleeps) << "the worker did not end in time";
    };
    EXPECT_EQ(h->worker.Run(), 0);
    EXPECT_EQ(h->sink.closes, 1);
    EXPECT_EQ(h->Started(), std::vector<std::string>{"a"});
    EXPECT_EQ(h->launcher.cancels, c.expectCancels);
    if (c.finishes || c.obeysCancel) {
        EXPECT_TRUE(h->Get("a").IsIdle());
        // A request pending at exit does not keep the dial-up connection open.
        EXPECT_EQ(h->network.hungUp, std::vector<int64_t>{9});
    }
}

const ExitCase kExitCases[] = {
    {"CheckFinishesThenClose", true, false, 0, 8},
    {"StuckCheckCancelledAfterDrainLimit", false, true, 1, 16},
    {"CheckIgnoringCancelAbandonedAfterGrace", false, false, 1, 20},
};

INSTANTIATE_TEST_SUITE_P(Worker, ExitTest, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
