// Outside text made safe for a terminal: controls and bytes that are not UTF-8 become
// U+FFFD, everything else is kept byte for byte.
#include "printabletext.h"

#include <gtest/gtest.h>

namespace
{

const std::string R = "\xEF\xBF\xBD"; // U+FFFD

struct Case {
    const char* name;
    std::string in;
    std::string out;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class PrintableTextTest : public ::testing::TestWithParam<Case>
{
};

TEST_P(PrintableTextTest, ReplacesControlsAndBrokenBytes)
{
    EXPECT_EQ(PrintableText(GetParam().in), GetParam().out);
}

const Case kCases[] = {
    {"plain_ascii_kept", "Re: lunch at 12?", "Re: lunch at 12?"},
    {"empty", "", ""},
    {"tab_kept", "a\tb", "a\tb"},
    {"accented_and_cjk_kept",
     "Gr\xC3\xBC\xC3\x9F"
     "e \xE6\x97\xA5",
     "Gr\xC3\xBC\xC3\x9F"
     "e \xE6\x97\xA5"},
    {"four_byte_emoji_kept", "\xF0\x9F\x93\xAC", "\xF0\x9F\x93\xAC"},
    {"last_code_points_before_and_after_c1_kept", "~\xC2\xA0", "~\xC2\xA0"},
    {"terminal_title_and_clear_replaced", "\x1B]0;owned\x07\x1B[2J",
     R + "]0;owned" + R + R + "[2J"},
    {"nul_replaced", std::string("a\0b", 3), "a" + R + "b"},
    {"cr_lf_replaced", "a\r\nb", "a" + R + R + "b"},
    {"del_replaced", "a\x7F", "a" + R},
    {"c1_csi_replaced",
     "\xC2\x9B"
     "2J",
     R + "2J"},
    {"c1_first_and_last_replaced", "\xC2\x80\xC2\x9F", R + R},
    {"stray_continuation_byte", "a\x80z", "a" + R + "z"},
    {"bare_lead_byte_at_end", "a\xC3", "a" + R},
    {"truncated_three_byte_counts_once", "\xE2\x82z", R + "z"},
    {"overlong_slash", "\xC0\xAF", R + R},
    {"overlong_three_byte_nul", "\xE0\x80\x80", R + R + R},
    {"surrogate", "\xED\xA0\x80", R + R + R},
    {"beyond_u10ffff", "\xF4\x90\x80\x80", R + R + R + R},
    {"latin1_bytes", "caf\xE9!", "caf" + R + "!"},
    {"ff_byte", "\xFF", R},
};

INSTANTIATE_TEST_SUITE_P(Rows, PrintableTextTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
