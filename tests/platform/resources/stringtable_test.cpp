#include "stringtable.h"

#include <gtest/gtest.h>

namespace
{

struct Row {
    const char* name;
    QByteArray input;
    std::map<unsigned, std::string> expected; // when parsing succeeds
    const char* error;                        // nullptr = must succeed; else part of the error
};

TEST(StringTable, ParsesAndRefuses)
{
    const std::vector<Row> rows = {
        {"plain", "1\tOne\n65535\tLast\n", {{1, "One"}, {65535, "Last"}}, nullptr},
        {"no final newline", "7\tSeven", {{7, "Seven"}}, nullptr},
        {"comments and blank lines", "# c\n\n2\tTwo\n", {{2, "Two"}}, nullptr},
        {"CRLF line ends", "3\tThree\r\n4\tFour\r\n", {{3, "Three"}, {4, "Four"}}, nullptr},
        {"escapes", "5\ta\\nb\\tc\\\\d\n", {{5, "a\nb\tc\\d"}}, nullptr},
        {"printf placeholders kept", "6\t%s %d%%\n", {{6, "%s %d%%"}}, nullptr},
        {"empty text", "8\t\n", {{8, ""}}, nullptr},
        {"UTF-8 text",
         "9\tGr\xc3\xbc\xc3\x9f"
         "e\n",
         {{9, "Gr\xc3\xbc\xc3\x9f"
              "e"}},
         nullptr},
        {"trailing blank kept", "10\tRule \n", {{10, "Rule "}}, nullptr},
        {"no tab", "11 Eleven\n", {}, "line 1: expected"},
        {"number not decimal", "x1\tA\n", {}, "not a text number"},
        {"number with sign", "-1\tA\n", {}, "not a text number"},
        {"number too long", "123456\tA\n", {}, "not a text number"},
        {"number zero", "0\tA\n", {}, "outside 1..65535"},
        {"number too big", "65536\tA\n", {}, "outside 1..65535"},
        {"duplicate", "1\tA\n# x\n1\tB\n", {}, "line 3: the text number 1 appears twice"},
        {"lone backslash", "1\tA\\\n", {}, "lone backslash"},
        {"unknown escape", "1\tC:\\temp\\x\n", {}, "unknown escape \\x"},
        {"literal tab", "1\tA\tB\n", {}, "literal tab"},
        {"invalid UTF-8", "1\t\xc3(\n", {}, "not valid UTF-8"},
        {"NUL inside", QByteArray("1\tA\0B\n", 6), {{1, std::string("A\0B", 3)}}, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StringTable table;
        std::string error;
        const bool ok = table.Parse(row.input, "en.tsv", &error);
        if (!row.error) {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(table.Texts(), row.expected);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(table.Texts().empty());
            EXPECT_EQ(error.rfind("en.tsv line ", 0), 0u) << error;
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
        }
    }
}

TEST(StringTable, FindAnswersOnlyKnownNumbers)
{
    StringTable table;
    ASSERT_TRUE(table.Parse("12\tTwelve\n", "t", nullptr));
    ASSERT_NE(table.Find(12), nullptr);
    EXPECT_EQ(*table.Find(12), "Twelve");
    EXPECT_EQ(table.Find(13), nullptr);
    EXPECT_EQ(table.Find(0), nullptr);
}

} // namespace
