#include "columnlayout.h"

#include <gtest/gtest.h>

namespace
{

struct ParseCase {
    const char* name;
    std::string text;
    bool ok;
    std::vector<int> widths;
    std::vector<int> order;
};

TEST(ColumnLayout, ParsesOnlyLayoutsThatFitSixColumns)
{
    const ParseCase cases[] = {
        {"all six in order",
         ",6,6,20,20,150,200,120,60,0,1,2,3,4,5",
         true,
         {20, 20, 150, 200, 120, 60},
         {0, 1, 2, 3, 4, 5}},
        {"any separator character is skipped",
         "x6;3 1|2 3 4 5 6/5/4/3",
         true,
         {1, 2, 3, 4, 5, 6},
         {5, 4, 3}},
        {"reordered and some hidden",
         ",6,3,20,20,150,200,120,60,3,2,5",
         true,
         {20, 20, 150, 200, 120, 60},
         {3, 2, 5}},
        {"zero widths allowed", ",6,1,0,0,0,0,0,0,4", true, {0, 0, 0, 0, 0, 0}, {4}},
        {"empty", "", false, {}, {}},
        {"written for five columns", ",5,5,20,20,150,200,120,0,1,2,3,4", false, {}, {}},
        {"written for seven columns", ",7,1,1,1,1,1,1,1,1,0", false, {}, {}},
        {"no shown column", ",6,0,20,20,150,200,120,60", false, {}, {}},
        {"more shown than defined", ",6,7,1,1,1,1,1,1,0,1,2,3,4,5,0", false, {}, {}},
        {"cut short in the widths", ",6,6,20,20,150", false, {}, {}},
        {"cut short in the order", ",6,6,20,20,150,200,120,60,0,1,2", false, {}, {}},
        {"index out of range", ",6,1,1,1,1,1,1,1,6", false, {}, {}},
        {"negative index", ",6,1,1,1,1,1,1,1,-1", false, {}, {}},
        {"column shown twice", ",6,2,1,1,1,1,1,1,2,2", false, {}, {}},
        {"negative width", ",6,1,1,-5,1,1,1,1,2", false, {}, {}},
        {"absurd width", ",6,1,1,99999,1,1,1,1,2", false, {}, {}},
        {"number too long", ",6,1,1,99999999999999999999,1,1,1,1,2", false, {}, {}},
        {"no separator before the first number",
         "6,6,20,20,150,200,120,60,0,1,2,3,4,5",
         false,
         {},
         {}},
        {"two separators", ",,6,6,20,20,150,200,120,60,0,1,2,3,4,5", false, {}, {}},
        {"trailing garbage", ",6,1,1,1,1,1,1,1,2,junk", false, {}, {}},
        {"letters for a number", ",6,1,a,1,1,1,1,1,2", false, {}, {}},
    };
    for (const ParseCase& c : cases) {
        ColumnLayout layout;
        layout.widths = {42};
        const bool ok = ColumnLayout::Parse(c.text, 6, &layout);
        EXPECT_EQ(ok, c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(layout.widths, c.widths) << c.name;
            EXPECT_EQ(layout.order, c.order) << c.name;
        } else {
            EXPECT_EQ(layout.widths, std::vector<int>{42}) << c.name << ": left untouched";
        }
    }
}

TEST(ColumnLayout, FormatReadsBackTheSameLayout)
{
    const ColumnLayout layouts[] = {
        {{24, 24, 150, 200, 120, 60}, {0, 1, 2, 3, 4, 5}},
        {{0, 10000, 1, 2, 3, 4}, {5, 0}},
    };
    for (const ColumnLayout& layout : layouts) {
        ColumnLayout read;
        ASSERT_TRUE(ColumnLayout::Parse(layout.Format(), 6, &read)) << layout.Format();
        EXPECT_EQ(read, layout);
    }
    EXPECT_EQ((ColumnLayout{{20, 20, 150, 200, 120, 60}, {0, 1, 2, 3, 4, 5}}).Format(),
              ",6,6,20,20,150,200,120,60,0,1,2,3,4,5");
}

struct ResizeCase {
    const char* name;
    std::vector<int> widths;
    int lastWidth;
    int newWidth;
    bool changed;
    std::vector<int> expected;
};

TEST(ColumnLayout, ResizeRuleSpreadsTheChange)
{
    const ResizeCase cases[] = {
        // 1000 px: +270, +280, +210; column 5 = 1000 - (24+24+270+280+210) - 21 = 171.
        {"first resize spreads the whole width",
         {24, 24, 0, 0, 0, 0},
         0,
         1000,
         true,
         {24, 24, 270, 280, 210, 171}},
        {"growth by 100",
         {24, 24, 270, 280, 210, 171},
         1000,
         1100,
         true,
         {24, 24, 297, 308, 231, 195}},
        // -50 * 0.27 = -13.5 -> -13 (towards zero), -14, -10.5 -> -10.
        {"shrinking cuts towards zero",
         {24, 24, 270, 280, 210, 171},
         1000,
         950,
         true,
         {24, 24, 257, 266, 200, 158}},
        {"no change, nothing to do",
         {24, 24, 270, 280, 210, 171},
         1000,
         1000,
         false,
         {24, 24, 270, 280, 210, 171}},
        {"never below the minimum",
         {24, 24, 20, 20, 20, 20},
         1000,
         100,
         true,
         {24, 24, 16, 16, 16, 16}},
        {"fewer columns shown: only those that exist",
         {24, 100, 100},
         500,
         600,
         true,
         {24, 100, 127}},
    };
    for (const ResizeCase& c : cases) {
        std::vector<int> widths = c.widths;
        EXPECT_EQ(ApplyResizeRule(widths, c.lastWidth, c.newWidth, 16), c.changed) << c.name;
        EXPECT_EQ(widths, c.expected) << c.name;
    }
}

} // namespace
