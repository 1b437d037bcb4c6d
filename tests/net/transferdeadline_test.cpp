// The bounds on one transfer, on a clock the test drives: a line whole within the time-out,
// a floor of 1 KiB per time-out period for everything else, silence always.

#include "transferdeadline.h"

#include <gtest/gtest.h>
#include <vector>

using namespace std::chrono_literals;
using Expiry = TransferDeadline::Expiry;
using Rule = TransferDeadline::Rule;
using std::chrono::milliseconds;

namespace
{

struct Step {
    milliseconds at; // since the start
    std::size_t total;
};

struct Row {
    const char* name;
    Rule rule;
    std::vector<Step> progress;
    milliseconds now;
    Expiry expiry;
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

class TransferDeadlineTest : public testing::TestWithParam<Row>
{
};

TEST_P(TransferDeadlineTest, Expires)
{
    const Row& row = GetParam();
    const auto start = TransferDeadline::Clock::now();
    TransferDeadline deadline(1000ms, row.rule, start);
    for (const Step& step : row.progress)
        deadline.Progress(step.total, start + step.at);
    EXPECT_EQ(deadline.ExpiredAt(start + row.now), row.expiry);
    // A wait of Remaining() from the last event never ends inside both bounds.
    const auto last = start + (row.progress.empty() ? 0ms : row.progress.back().at);
    if (row.expiry != Expiry::None)
        EXPECT_LE(last + deadline.Remaining(last), start + row.now);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransferDeadlineTest,
    testing::Values(
        Row{"LineInTime", Rule::WholeWithinTimeout, {{900ms, 10}}, 999ms, Expiry::None},
        Row{"LineDripsPastTheTimeOut",
            Rule::WholeWithinTimeout,
            {{900ms, 10}},
            1001ms,
            Expiry::TooSlow},
        Row{"NothingAtAllIsSilence", Rule::WholeWithinTimeout, {}, 1001ms, Expiry::Silence},
        Row{"NothingAtAllOnTheFloorRule", Rule::FloorRate, {}, 1001ms, Expiry::Silence},
        Row{"FirstKiBInTime", Rule::FloorRate, {{500ms, 1023}}, 999ms, Expiry::None},
        Row{"FirstKiBLate", Rule::FloorRate, {{900ms, 1023}}, 1001ms, Expiry::TooSlow},
        Row{"EachKiBEarnsAPeriod",
            Rule::FloorRate,
            {{900ms, 2048}, {2900ms, 3000}},
            2999ms,
            Expiry::None},
        Row{"BelowTheFloorOverTime",
            Rule::FloorRate,
            {{900ms, 2048}, {2900ms, 3000}},
            3001ms,
            Expiry::TooSlow},
        Row{"BurstThenSilence", Rule::FloorRate, {{10ms, 5000}}, 1011ms, Expiry::Silence},
        Row{"NoProgressIsNoProgress",
            Rule::FloorRate,
            {{10ms, 5000}, {900ms, 5000}},
            1011ms,
            Expiry::Silence}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

} // namespace
