#include "dialogtestsupport.h"
#include "filtermanagerdlg.h"
#include "filterrules.h"
#include "regsettings.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace
{

std::vector<std::string> Listed(const CFilterManagerDlg& dlg)
{
    std::vector<std::string> names;
    for (int i = 0; i < dlg.RuleList()->count(); ++i)
        names.push_back(dlg.RuleList()->item(i)->text().toStdString());
    return names;
}

void Store(const std::string& name, const std::string& context, const std::string& flag = "0",
           const std::string& position = "Subject")
{
    ASSERT_EQ(SaveRule({name, position, "Contains", context, flag}), 1) << name;
}

bool Stored(const std::string& name, FilterRule* rule = nullptr)
{
    FilterRule r;
    const bool ok = LoadRule(name, r) == 1;
    if (rule)
        *rule = r;
    return ok;
}

TEST(FilterManager, NewRuleTakesTheLowestFreeNumber)
{
    struct Row {
        const char* name;
        std::vector<std::string> existing;
        const char* expected;
    } rows[] = {
        {"empty-list", {}, "Rule1"},
        {"gap-is-filled", {"Rule1", "Rule3"}, "Rule2"},
        {"ignores-case", {"rule1", "RULE2"}, "Rule3"},
        // The search is by prefix: "Rule10" occupies "Rule1".
        {"prefix-occupies", {"Rule10"}, "Rule2"},
        {"other-names-free", {"Rules", "Alpha"}, "Rule1"},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        ASSERT_EQ(CRegSettings().Prepare(), 1);
        for (const auto& n : r.existing)
            Store(n, "");
        CFilterManagerDlg dlg;
        dlg.NewRule();
        EXPECT_EQ(dlg.NameEdit()->text().toStdString(), r.expected) << r.name;
        EXPECT_EQ(dlg.RuleList()->currentItem()->text().toStdString(), r.expected) << r.name;
        FilterRule saved;
        ASSERT_TRUE(Stored(r.expected, &saved)) << r.name;
        EXPECT_TRUE(saved.context.empty()) << r.name;
    }
}

TEST(FilterManager, SaveFollowsTheNameRules)
{
    struct Row {
        const char* name;
        int select; // -1: nothing selected
        const char* newName;
        const char* warning; // empty: saved
        std::vector<std::string> listAfter;
        std::vector<std::string> storedAfter; // must load
        std::vector<std::string> goneAfter;   // must not load
    } rows[] = {
        {"same-name-updates", 0, "Alpha", "", {"Alpha", "Beta"}, {"Alpha", "Beta"}, {}},
        {"empty-name",
         0,
         "",
         "Please enter a name for the rule.",
         {"Alpha", "Beta"},
         {"Alpha", "Beta"},
         {}},
        {"taken-exact",
         0,
         "Beta",
         "A rule with this name already exists. Please choose another name.",
         {"Alpha", "Beta"},
         {"Alpha", "Beta"},
         {}},
        {"taken-other-case",
         1,
         "ALPHA",
         "A rule with this name already exists. Please choose another name.",
         {"Alpha", "Beta"},
         {"Alpha", "Beta"},
         {}},
        {"rename-replaces", 0, "Gamma", "", {"Gamma", "Beta"}, {"Gamma", "Beta"}, {"Alpha"}},
        {"case-only-rename-keeps-rule", 0, "ALPHA", "", {"ALPHA", "Beta"}, {"Alpha", "Beta"}, {}},
        {"backslash-refused-keeps-old",
         0,
         "a\\b",
         "The rule could not be saved. A rule name cannot contain a backslash.",
         {"Alpha", "Beta"},
         {"Alpha", "Beta"},
         {}},
        {"nothing-selected-adds",
         -1,
         "Delta",
         "",
         {"Alpha", "Beta", "Delta"},
         {"Alpha", "Beta", "Delta"},
         {}},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        ASSERT_EQ(CRegSettings().Prepare(), 1);
        Store("Alpha", "sale");
        Store("Beta", "bob", "1", "Sender");
        CFilterManagerDlg dlg;
        dlg.RuleList()->setCurrentRow(r.select);
        dlg.NameEdit()->setText(QString::fromUtf8(r.newName));
        dlg.ContextEdit()->setText(QStringLiteral("new text"));
        dlg.DeleteButton()->setChecked(true);
        dlg.SaveCurrent();
        EXPECT_EQ(Listed(dlg), r.listAfter) << r.name;
        for (const auto& n : r.storedAfter)
            EXPECT_TRUE(Stored(n)) << r.name << ": " << n;
        for (const auto& n : r.goneAfter)
            EXPECT_FALSE(Stored(n)) << r.name << ": " << n;
        if (*r.warning) {
            ASSERT_EQ(sandbox.dialogue->calls.size(), 1u) << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].text, r.warning) << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].caption, "Filter Rules") << r.name;
        } else {
            EXPECT_TRUE(sandbox.dialogue->calls.empty()) << r.name;
            FilterRule saved;
            ASSERT_TRUE(Stored(r.newName, &saved)) << r.name;
            EXPECT_EQ(saved.context, "new text") << r.name;
            EXPECT_EQ(saved.deleteInServer, "1") << r.name;
        }
    }
}

TEST(FilterManager, DeleteSelectsThePreviousRule)
{
    struct Row {
        const char* name;
        int select;
        std::vector<std::string> listAfter;
        const char* shownAfter;
    } rows[] = {
        {"middle", 1, {"A", "C"}, "A"},
        {"first", 0, {"B", "C"}, "B"},
        {"last", 2, {"A", "B"}, "B"},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        ASSERT_EQ(CRegSettings().Prepare(), 1);
        for (const char* n : {"A", "B", "C"})
            Store(n, n);
        CFilterManagerDlg dlg;
        dlg.RuleList()->setCurrentRow(r.select);
        const std::string removed = dlg.NameEdit()->text().toStdString();
        dlg.DeleteCurrent();
        EXPECT_EQ(Listed(dlg), r.listAfter) << r.name;
        EXPECT_FALSE(Stored(removed)) << r.name;
        EXPECT_EQ(dlg.NameEdit()->text().toStdString(), r.shownAfter) << r.name;
        EXPECT_EQ(dlg.ContextEdit()->text().toStdString(), r.shownAfter) << r.name;
    }
}

TEST(FilterManager, ShowsStoredValuesAsTheyAre)
{
    struct Row {
        const char* name;
        const char* flag;
        const char* position;
        bool deleteChecked;
        int positionIndex;
    } rows[] = {
        {"delete", "1", "Sender", true, 0},
        {"hide", "0", "Subject", false, 1},
        {"odd-flag-shows-hide", "yes", "Subject", false, 1},
        {"foreign-position-unselected", "0", "Betreff", false, -1},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        ASSERT_EQ(CRegSettings().Prepare(), 1);
        Store("Only", "x", r.flag, r.position);
        CFilterManagerDlg dlg;
        EXPECT_EQ(dlg.NameEdit()->text(), QStringLiteral("Only")) << r.name;
        EXPECT_EQ(dlg.DeleteButton()->isChecked(), r.deleteChecked) << r.name;
        EXPECT_EQ(dlg.HideButton()->isChecked(), !r.deleteChecked) << r.name;
        EXPECT_EQ(dlg.PositionList()->currentIndex(), r.positionIndex) << r.name;
    }
}

TEST(FilterManager, MissingKeyGivesAnEmptyListAndSaveCreatesIt)
{
    UiSandbox sandbox;
    CFilterManagerDlg dlg;
    EXPECT_EQ(dlg.RuleList()->count(), 0);
    dlg.NameEdit()->setText(QStringLiteral("First"));
    dlg.SaveCurrent();
    EXPECT_EQ(Listed(dlg), std::vector<std::string>{"First"});
    EXPECT_TRUE(Stored("First"));
}

} // namespace
