// The tray icon: its context menu built from template 132 for the accounts and the
// Exchange state, what clicks and menu choices do, and its animations.
#include "qttestapp.h"
#include "support/tablerow.h"
#include "templatemenubuilder.h"
#include "trayicon.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>
#include <memory>

namespace
{

class RecordingCommands : public TrayCommands
{
public:
    void RunCommand(unsigned commandId) override
    {
        calls.push_back("run " + std::to_string(commandId));
    }
    void SelectAccount(const std::string& account) override
    {
        calls.push_back("select " + account);
    }
    void BringToFront() override { calls.push_back("front"); }
    TrayMenuState MenuState() const override { return state; }

    TrayMenuState state;
    std::vector<std::string> calls;
};

using Account = TrayMenuState::Account;

// Enabled states of the commands the menu adjusts, as five digits for 32800 (account
// properties), 32809 (check selected), 32810 (check all), 32892 (log on), 32881 (log off),
// and the account items (text as the user reads it, "*" for the checked one).
struct MenuRow {
    const char* name;
    std::vector<Account> accounts;
    std::string selected;
    bool loggedOn;
    const char* enabled;
    std::vector<std::string> items;
};

// clang-format off
const std::vector<MenuRow> kMenuRows = {
    {"NoAccountsGraysTheAccountCommands", {}, "", false, "00011", {}},
    {"SelectedPop3LoggedOff", {{"Home"}, {"Work"}}, "Work", false, "11100", {"Home", "Work*"}},
    {"SelectedPop3WhileExchangeIsLoggedOn", {{"Home"}, {"Work"}}, "Home", true, "11101", {"Home*", "Work"}},
    {"SelectedExchangeLoggedOff", {{"Office", true}}, "Office", false, "10110", {"Office*"}},
    {"SelectedExchangeLoggedOn", {{"Office", true}}, "Office", true, "10101", {"Office*"}},
    {"SelectedAccountBeingChecked", {{"Home", false, true}}, "Home", false, "10100", {"Home*"}},
    {"BusyOtherAccountDoesNotMatter", {{"Home"}, {"Work", false, true}}, "Home", false, "11100", {"Home*", "Work"}},
    {"SelectionNotInTheListChangesNothing", {{"Home"}}, "Gone", true, "11111", {"Home"}},
    {"NamesCompareWithCase", {{"work"}}, "Work", false, "11111", {"work"}},
    {"OnlyTheFirstOfTwoEqualNamesIsChecked", {{"Twin"}, {"Twin"}}, "Twin", false, "11100", {"Twin*", "Twin"}},
    {"AmpersandInANameIsNoMnemonic", {{"R&D"}}, "R&D", false, "11100", {"R&D*"}},
};
// clang-format on

POSTWATCH_ROW_PRINTS_NAME(MenuRow)

class TrayMenu : public ::testing::TestWithParam<MenuRow>
{
protected:
    void SetUp() override { QtTestApp::Ensure(); }
};

TEST_P(TrayMenu, ItemStates)
{
    const MenuRow& row = GetParam();
    RecordingCommands commands;
    CTrayIcon tray(commands);
    TrayMenuState state{row.accounts, row.selected, row.loggedOn};
    std::unique_ptr<QMenu> menu(tray.BuildContextMenu(state));
    ASSERT_TRUE(menu);

    auto enabled = [&](unsigned id) {
        QAction* action = TemplateMenuBuilder::FindCommand(menu.get(), id);
        EXPECT_NE(action, nullptr) << id;
        return action && action->isEnabled();
    };
    std::string states;
    for (unsigned id : {32800u, 32809u, 32810u, 32892u, 32881u})
        states += enabled(id) ? '1' : '0';
    EXPECT_EQ(states, row.enabled);
    // Commands the state never touches stay as the template has them.
    EXPECT_TRUE(enabled(32771));
    EXPECT_TRUE(enabled(57665));

    QMenu* accounts = menu->actions().at(CTrayIcon::kAccountsPosition)->menu();
    ASSERT_NE(accounts, nullptr);
    std::vector<std::string> items;
    unsigned index = 0;
    for (QAction* action : accounts->actions()) {
        QString text = action->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
        items.push_back(text.toStdString() + (action->isChecked() ? "*" : ""));
        EXPECT_EQ(action->data().toUInt(), CTrayIcon::kFirstAccountCommand + index++);
    }
    EXPECT_EQ(items, row.items);
}

INSTANTIATE_TEST_SUITE_P(Table, TrayMenu, ::testing::ValuesIn(kMenuRows),
                         [](const auto& info) { return std::string(info.param.name); });

class TrayIconTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QtTestApp::Ensure();
        ASSERT_TRUE(tray.Start(QStringLiteral("Koravel Pigeonpost")));
        // Started still, with the title as tip and all eight images of the bundle.
        ASSERT_EQ(icons.size(), 8);
        for (const QIcon& icon : icons)
            ASSERT_FALSE(icon.isNull());
        EXPECT_TRUE(tray.IsAdded());
        EXPECT_FALSE(tray.IsAnimating());
        EXPECT_EQ(tray.Tooltip(), QStringLiteral("Koravel Pigeonpost"));
        EXPECT_EQ(tray.CurrentIcon().cacheKey(), icons.at(0).cacheKey());
        commands.calls.clear();
    }

    RecordingCommands commands;
    CTrayIcon tray{commands};
    const QList<QIcon>& icons = tray.IconSet();
};

// The menu handed to the tray host is refilled as it opens, and its choices reach the
// main window.
TEST_F(TrayIconTest, ChoosingFromTheMenu)
{
    QMenu* menu = tray.ContextMenu();
    ASSERT_NE(menu, nullptr);
    commands.state.accounts = {{"Home"}};
    emit menu->aboutToShow();
    commands.state.accounts = {{"Home"}, {"Work"}};
    emit menu->aboutToShow();
    QMenu* accounts = menu->actions().at(CTrayIcon::kAccountsPosition)->menu();
    ASSERT_EQ(accounts->actions().size(), 2);
    accounts->actions().at(1)->trigger();
    TemplateMenuBuilder::FindCommand(menu, 32810)->trigger();
    TemplateMenuBuilder::FindCommand(menu, 57664)->trigger();
    menu->actions().at(1)->trigger(); // a separator does nothing
    EXPECT_EQ(commands.calls, (std::vector<std::string>{"select Work", "run 32810", "run 57664"}));
}

// What each mouse event does, during the new-mail flash and the checking animation.
struct ClickRow {
    const char* name;
    char animation; // '-' none, 'F' new-mail flash, 'C' checking
    CTrayIcon::Event event;
    std::vector<std::string> calls;
    bool animatingAfter;
};

using E = CTrayIcon::Event;

// clang-format off
const std::vector<ClickRow> kClickRows = {
    {"ClickRunsTheFirstCommand", '-', E::LeftClick, {"front", "run 32771"}, false},
    {"DoubleClickOnlyRaises", '-', E::DoubleClick, {"front"}, false},
    {"RightClickLeavesTheMenuToTheHost", '-', E::RightClick, {"front"}, false},
    {"ClickStopsTheFlash", 'F', E::LeftClick, {"front", "run 32771"}, false},
    {"DoubleClickStopsTheFlash", 'F', E::DoubleClick, {"front"}, false},
    {"RightClickStopsTheFlash", 'F', E::RightClick, {"front"}, false},
    {"ClickLeavesTheCheckingAnimation", 'C', E::LeftClick, {"front", "run 32771"}, true},
    {"DoubleClickLeavesTheCheckingAnimation", 'C', E::DoubleClick, {"front"}, true},
    {"RightClickLeavesTheCheckingAnimation", 'C', E::RightClick, {"front"}, true},
};
// clang-format on

POSTWATCH_ROW_PRINTS_NAME(ClickRow)

class TrayClick : public TrayIconTest, public ::testing::WithParamInterface<ClickRow>
{
};

TEST_P(TrayClick, Event)
{
    const ClickRow& row = GetParam();
    if (row.animation == 'F')
        tray.FlashNewMail(QStringLiteral("You have 1 new message"));
    if (row.animation == 'C')
        tray.StartCheckingAnimation("Work");
    const QString tip = tray.Tooltip();
    EXPECT_TRUE(tray.OnTrayNotification(row.event));
    EXPECT_EQ(commands.calls, row.calls);
    EXPECT_EQ(tray.IsAnimating(), row.animatingAfter);
    if (row.animatingAfter)
        EXPECT_EQ(tray.Tooltip(), tip);
    else
        EXPECT_EQ(tray.Tooltip(), QStringLiteral("Koravel Pigeonpost"));
}

INSTANTIATE_TEST_SUITE_P(Table, TrayClick, ::testing::ValuesIn(kClickRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Frames shown by the animations, tick by tick (indexes into the icon set).
struct AnimationRow {
    const char* name;
    char animation; // 'F' flash, 'C' checking, '1' one frame
    int periodMs;
    std::vector<int> frames; // the icon at the start, then after each tick
};

const std::vector<AnimationRow> kAnimationRows = {
    {"FlashAlternatesNormalAndNewMail", 'F', 500, {0, 1, 0, 1}},
    {"CheckingCyclesSixFrames", 'C', 400, {2, 3, 4, 5, 6, 7, 2, 3}},
    {"OneFrameStays", '1', 300, {0, 0, 0}},
};

POSTWATCH_ROW_PRINTS_NAME(AnimationRow)

class TrayAnimation : public TrayIconTest, public ::testing::WithParamInterface<AnimationRow>
{
};

TEST_P(TrayAnimation, Frames)
{
    const AnimationRow& row = GetParam();
    if (row.animation == 'F')
        tray.FlashNewMail(QStringLiteral("mail"));
    else if (row.animation == 'C')
        tray.StartCheckingAnimation("Work");
    else
        tray.Animate(icons, 1, 300);
    EXPECT_TRUE(tray.IsAnimating());
    EXPECT_EQ(tray.AnimationPeriodMs(), row.periodMs);
    for (size_t i = 0; i < row.frames.size(); ++i) {
        if (i)
            tray.AnimationTick();
        EXPECT_EQ(tray.CurrentIcon().cacheKey(), icons.at(row.frames[i]).cacheKey()) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TrayAnimation, ::testing::ValuesIn(kAnimationRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrayIconTest, CheckingAnimationTipAndEnd)
{
    tray.StartCheckingAnimation("Work");
    EXPECT_TRUE(tray.IsBusy());
    EXPECT_EQ(tray.Tooltip(), QStringLiteral("Checking Work account"));
    tray.StopCheckingAnimation();
    EXPECT_FALSE(tray.IsAnimating());
    EXPECT_FALSE(tray.IsBusy());
    EXPECT_EQ(tray.Tooltip(), QStringLiteral("Koravel Pigeonpost"));
    EXPECT_EQ(tray.CurrentIcon().cacheKey(), icons.at(0).cacheKey());
}

TEST_F(TrayIconTest, RemovedIconIgnoresChangesUntilRestored)
{
    tray.Remove();
    EXPECT_FALSE(tray.IsAdded());
    EXPECT_FALSE(tray.SetIcon(icons.at(1)));
    EXPECT_FALSE(tray.SetTooltipText(QStringLiteral("x")));
    tray.FlashNewMail(QStringLiteral("mail"));
    EXPECT_FALSE(tray.IsAnimating());

    tray.Restore();
    EXPECT_TRUE(tray.IsAdded());
    EXPECT_FALSE(tray.IsAnimating());
    EXPECT_EQ(tray.Tooltip(), QStringLiteral("Koravel Pigeonpost"));
    tray.Restore(); // while added: shown again, still there
    EXPECT_TRUE(tray.IsAdded());
    EXPECT_FALSE(tray.IsHidden());
}

TEST(TrayIconBeforeStart, NothingToChange)
{
    QtTestApp::Ensure();
    RecordingCommands commands;
    CTrayIcon tray(commands);
    EXPECT_FALSE(tray.Create(QStringLiteral("t"), {}, 8, 300));
    EXPECT_FALSE(tray.IsAdded());
    EXPECT_FALSE(tray.Animate(CTrayIcon::LoadIconSet(), 2, 500));
    tray.StopCheckingAnimation();
    tray.StartCheckingAnimation("Work");
    EXPECT_FALSE(tray.IsBusy());
}

} // namespace
