// Hostile shapes from the field: each must give a sane record without running away in time
// or memory (ctest's time-out catches a hang; the results pin what is shown).
#include "charsetconverter.h"
#include "headertext.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>

namespace
{

struct HostileCase {
    const char* name;
    std::string text;
    std::string sender, subject, preview;
};

std::string Repeat(std::string_view s, size_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

std::string NestedParts(int depth)
{
    std::string s = "Content-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n";
    for (int i = 0; i < depth; ++i)
        s += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
             std::to_string(i + 1) + "\"\r\n\r\n";
    return s;
}

POSTWATCH_ROW_PRINTS_NAME(HostileCase)

class HostileInputTest : public testing::TestWithParam<HostileCase>
{
};

TEST_P(HostileInputTest, StaysBoundedAndSane)
{
    const HostileCase& c = GetParam();
    MessageRecord r;
    HeaderText(c.text).Fill(r, c.text.size());
    EXPECT_EQ(r.sender, c.sender);
    EXPECT_EQ(r.subject, c.subject);
    EXPECT_EQ(r.preview, c.preview);
    EXPECT_EQ(CharsetConverter::ValidUtf8Prefix(r.date), r.date.size());
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileInputTest,
    testing::Values(
        HostileCase{"ColonsInFrom", "From: " + Repeat(":", 100000) + "\r\n\r\n",
                    Repeat(":", 100000), "", ""},
        HostileCase{"SemicolonsInFrom", "From: " + Repeat(";", 100000) + "\r\n\r\n",
                    Repeat(";", 100000), "", ""},
        HostileCase{"SemicolonsInContentType",
                    "Content-Type: multipart/mixed" + Repeat(";", 100000) + "\r\n\r\nbody", "", "",
                    ""},
        HostileCase{"UnterminatedWords", "Subject: " + Repeat("=?utf-8?Q?a", 20000) + "\r\n\r\n",
                    "", Repeat("=?utf-8?Q?a", 20000), ""},
        HostileCase{"MarkersOnly", "Subject: " + Repeat("=?", 50000) + "\r\n\r\n", "",
                    Repeat("=?", 50000), ""},
        HostileCase{"ManyTinyWords", "Subject: " + Repeat("=?utf-8?Q?a?= ", 20000) + "\r\n\r\n", "",
                    Repeat("a", 20000), ""},
        HostileCase{"ManyCharsets",
                    "Subject: " + Repeat("=?utf-8?Q?a?= =?koi8-r?Q?b?= =?x-bad?Q?c?= ", 5000) +
                        "\r\n\r\n",
                    "", Repeat("ab =?x-bad?Q?c?= ", 4999) + "ab =?x-bad?Q?c?=", ""},
        HostileCase{"TenThousandNestedParts", NestedParts(10000), "", "", ""},
        HostileCase{"DashBoundaryDashBody",
                    "Content-Type: multipart/mixed; boundary=\"-\"\r\n\r\n---\r\n\r\nx", "", "",
                    "x"},
        HostileCase{"LongBase64Line",
                    "Content-Transfer-Encoding: base64\r\n\r\n" + Repeat("QUJD", 250000), "", "",
                    Repeat("ABC", 250000)},
        HostileCase{"NulInHeader", std::string("From: a\0b\r\nSubject: \0\r\n\r\n", 24),
                    std::string("a\0b", 3), std::string("\0", 1), ""},
        HostileCase{"LoneCrLf", "\r\n", "", "", ""},
        HostileCase{"OnlyBlankLine", "\r\n\r\n", "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
