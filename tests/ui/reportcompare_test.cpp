#include "reportcompare.h"

#include <gtest/gtest.h>

namespace
{

struct CompareCase {
    const char* name;
    std::string textA;
    int imageA;
    std::string textB;
    int imageB;
    int expected; // sign
};

int Sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

TEST(ReportCompare, OrdersCellsByBytesThenImages)
{
    const CompareCase cases[] = {
        {"equal texts", "abc", -1, "abc", -1, 0},
        {"bytes decide", "abc", -1, "abd", -1, -1},
        {"case-sensitive: upper case first", "Zed", -1, "apple", -1, -1},
        {"shorter prefix first", "ab", -1, "abc", -1, -1},
        {"longer after its prefix", "abc", -1, "ab", -1, 1},
        {"UTF-8 lead byte after ASCII (unsigned)", "\xc3\xa9t\xc3\xa9", -1, "zoo", -1, 1},
        {"high byte after low byte", "\x7f", -1, "\x80", -1, -1},
        {"empty text before any text", "", 4, "a", 3, -1},
        {"text beats image when one side has text", "a", 3, "", 3, 1},
        {"both empty: unread image 3 before read 4", "", 3, "", 4, -1},
        {"both empty: read after unread", "", 4, "", 3, 1},
        {"both empty: no image before attachment", "", -1, "", 6, -1},
        {"both empty, same image", "", 6, "", 6, 0},
        {"images ignored when texts differ", "b", 3, "a", 4, 1},
        {"images ignored when texts equal", "a", 3, "a", 4, 0},
        {"digits compare as text, not numbers", "10", -1, "9", -1, -1},
    };
    for (const CompareCase& c : cases) {
        EXPECT_EQ(Sign(CompareReportCells(c.textA, c.imageA, c.textB, c.imageB)), c.expected)
            << c.name;
        // The order is antisymmetric.
        EXPECT_EQ(Sign(CompareReportCells(c.textB, c.imageB, c.textA, c.imageA)), -c.expected)
            << c.name << " (reversed)";
    }
}

} // namespace
