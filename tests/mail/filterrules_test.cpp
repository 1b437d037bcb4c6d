#include "casefold.h"
#include "filterrules.h"
#include "registrykey.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <map>

namespace
{

const FilterKeywords kWords{"Sender", "Subject", "contains", "is"};

struct StoredRule {
    std::string name;
    std::map<std::string, std::string> values; // only these values exist
};

StoredRule Rule(std::string name, std::string position, std::string condition, std::string context,
                std::string flag)
{
    return {std::move(name),
            {{"Position", std::move(position)},
             {"Condition", std::move(condition)},
             {"Context", std::move(context)},
             {"CheckDeleteInServer", std::move(flag)}}};
}

struct EvalCase {
    const char* name;
    std::vector<StoredRule> rules;
    std::string subject, sender;
    int want;
    FilterKeywords words = kWords;
};

POSTWATCH_ROW_PRINTS_NAME(EvalCase)

class EvaluateFiltersTest : public testing::TestWithParam<EvalCase>
{
protected:
    TempDir dir_;
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.Path()};
};

TEST_P(EvaluateFiltersTest, Verdict)
{
    const EvalCase& c = GetParam();
    const std::string path = FilterManagerPath();
    ASSERT_EQ(path, "Software\\Koravel\\Pigeonpost\\Filter Manager");
    for (const StoredRule& r : c.rules) {
        CRegistryKey key;
        ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, path + "\\" + r.name), 1);
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, path + "\\" + r.name), 1);
        for (const auto& [name, value] : r.values)
            ASSERT_EQ(key.WriteString(name, value), 1);
    }
    EXPECT_EQ(EvaluateFilters(c.subject, c.sender, c.words, path), c.want);
}

const std::string kLongSubjectWord(40, 'S');

INSTANTIATE_TEST_SUITE_P(
    Filter, EvaluateFiltersTest,
    testing::Values(
        EvalCase{"NoFilterKey", {}, "Big SALE today", "a@b", kFilterKeep},
        EvalCase{"SubjectContainsAnyCase",
                 {Rule("r", "Subject", "contains", "sale", "1")},
                 "Big SALE today",
                 "a@b",
                 kFilterDelete},
        EvalCase{"HideFlag",
                 {Rule("r", "Subject", "contains", "sale", "0")},
                 "sale",
                 "a@b",
                 kFilterHide},
        EvalCase{"NoMatchKeeps",
                 {Rule("r", "Subject", "contains", "sale", "1")},
                 "hello",
                 "a@b",
                 kFilterKeep},
        EvalCase{
            "SenderIsAnyCase", {Rule("r", "Sender", "is", "bob", "1")}, "s", "BOB", kFilterDelete},
        EvalCase{"SenderIsNeedsWholeText",
                 {Rule("r", "Sender", "is", "bob", "1")},
                 "s",
                 "bob@example.com",
                 kFilterKeep},
        EvalCase{"PositionPicksField",
                 {Rule("r", "Sender", "contains", "sale", "1")},
                 "sale",
                 "a@b",
                 kFilterKeep},
        EvalCase{"FirstInStoreOrderDecides",
                 {Rule("b rule", "Subject", "contains", "x", "0"),
                  Rule("A rule", "Subject", "contains", "x", "1")},
                 "x",
                 "a@b",
                 kFilterDelete},
        EvalCase{"OtherFlagKeepsAndStops",
                 {Rule("a", "Subject", "contains", "x", "yes"),
                  Rule("b", "Subject", "contains", "x", "1")},
                 "x",
                 "a@b",
                 kFilterKeep},
        EvalCase{"ForeignPositionSkipped",
                 {Rule("a", "Betreff", "contains", "x", "1"),
                  Rule("b", "Subject", "contains", "x", "0")},
                 "x",
                 "a@b",
                 kFilterHide},
        EvalCase{
            "UnknownConditionSkipped",
            {Rule("a", "Subject", "enthält", "x", "1"), Rule("b", "Subject", "contains", "x", "0")},
            "x",
            "a@b",
            kFilterHide},
        EvalCase{
            "MissingPositionSkipsRuleOnly",
            {{"a", {{"Condition", "contains"}, {"Context", "x"}, {"CheckDeleteInServer", "1"}}},
             Rule("b", "Subject", "contains", "x", "0")},
            "x",
            "a@b",
            kFilterHide},
        EvalCase{
            "MissingContextSkipsRule",
            {{"a",
              {{"Position", "Subject"}, {"Condition", "contains"}, {"CheckDeleteInServer", "1"}}},
             Rule("b", "Subject", "contains", "x", "0")},
            "x",
            "a@b",
            kFilterHide},
        EvalCase{"MissingFlagSkipsRule",
                 {{"a", {{"Position", "Subject"}, {"Condition", "contains"}, {"Context", "x"}}},
                  Rule("b", "Subject", "contains", "x", "0")},
                 "x",
                 "a@b",
                 kFilterHide},
        EvalCase{"EmptyContextContainedEverywhere",
                 {Rule("r", "Subject", "contains", "", "1")},
                 "",
                 "a@b",
                 kFilterDelete},
        EvalCase{"EmptyContextIsOnlyEmpty",
                 {Rule("r", "Subject", "is", "", "1")},
                 "x",
                 "a@b",
                 kFilterKeep},
        EvalCase{"ContextLongerThanField",
                 {Rule("r", "Subject", "contains", "longer", "1")},
                 "long",
                 "a@b",
                 kFilterKeep},
        EvalCase{"UnicodeContains",
                 {Rule("r", "Subject", "contains", "ÉTÉ", "1")},
                 "un été chaud",
                 "a@b",
                 kFilterDelete},
        EvalCase{"UnicodeFullFolding",
                 {Rule("r", "Subject", "is", "STRASSE", "1")},
                 "Straße",
                 "a@b",
                 kFilterDelete},
        EvalCase{
            "CyrillicIs", {Rule("r", "Sender", "is", "ПРИВЕТ", "0")}, "s", "привет", kFilterHide},
        EvalCase{"SlashInRuleName",
                 {Rule("spam/ads", "Subject", "contains", "ad", "1")},
                 "ad",
                 "a@b",
                 kFilterDelete},
        EvalCase{"LongPositionText",
                 {Rule("r", kLongSubjectWord, "contains", "x", "1")},
                 "x",
                 "a@b",
                 kFilterDelete,
                 FilterKeywords{"Sender", kLongSubjectWord, "contains", "is"}},
        EvalCase{"NoResourceTexts",
                 {Rule("r", "", "", "", "1")},
                 "x",
                 "a@b",
                 kFilterKeep,
                 FilterKeywords{}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FilterRuleStore, SaveLoadDelete)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.Path());
    const FilterRule rule{"Newsletters", "Subject", "contains", "news", "0"};
    EXPECT_EQ(SaveRule(rule), 1);
    FilterRule loaded;
    ASSERT_EQ(LoadRule("newsletters", loaded), 1); // names compare without regard to case
    EXPECT_EQ(loaded.position, "Subject");
    EXPECT_EQ(loaded.condition, "contains");
    EXPECT_EQ(loaded.context, "news");
    EXPECT_EQ(loaded.deleteInServer, "0");
    EXPECT_EQ(EvaluateFilters("The news", "x", kWords, FilterManagerPath()), kFilterHide);
    EXPECT_EQ(DeleteRule("Newsletters"), 1);
    EXPECT_EQ(LoadRule("Newsletters", loaded), 0);
    EXPECT_EQ(DeleteRule("Newsletters"), 0);
    EXPECT_EQ(EvaluateFilters("The news", "x", kWords, FilterManagerPath()), kFilterKeep);
}

struct NameCase {
    const char* name;
    std::string rule;
    int want;
};

POSTWATCH_ROW_PRINTS_NAME(NameCase)

class RuleNameTest : public testing::TestWithParam<NameCase>
{
};

TEST_P(RuleNameTest, Save)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.Path());
    EXPECT_EQ(SaveRule({GetParam().rule, "Subject", "is", "x", "1"}), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Filter, RuleNameTest,
                         testing::Values(NameCase{"Plain", "Rule 1", 1},
                                         NameCase{"Slash", "a/b", 1}, NameCase{"Empty", "", 0},
                                         NameCase{"Backslash", "a\\b", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FoldCase {
    const char* name;
    std::string haystack, needle;
    bool contains, equal;
};

POSTWATCH_ROW_PRINTS_NAME(FoldCase)

class CaseFoldTest : public testing::TestWithParam<FoldCase>
{
};

TEST_P(CaseFoldTest, Compares)
{
    const FoldCase& c = GetParam();
    EXPECT_EQ(CaseFold::Contains(c.haystack, c.needle), c.contains);
    EXPECT_EQ(CaseFold::Equal(c.haystack, c.needle), c.equal);
}

INSTANTIATE_TEST_SUITE_P(
    Filter, CaseFoldTest,
    testing::Values(FoldCase{"Ascii", "Hello", "hello", true, true},
                    FoldCase{"Greek", "ΣΟΦΙΑ", "σοφια", true, true},
                    FoldCase{"FinalSigma", "ς", "Σ", true, true},
                    FoldCase{"SharpS", "Maße", "MASSE", true, true},
                    FoldCase{"Substring", "Big SALE today", "sale", true, false},
                    FoldCase{"InvalidBytesExact",
                             "a\xFF"
                             "b",
                             "A\xFF", true, false},
                    FoldCase{"InvalidByteNotLatin", "\xE9", "\xC3\xA9", false, false},
                    FoldCase{"CutSequence", "ab\xE4\xBD", "\xE4", true, false},
                    FoldCase{"EmptyNeedle", "x", "", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
