// The --watch lines as each status bar reads them: every line one line of valid JSON where
// JSON is due (whatever an account name holds), the fields each bar looks for, and the
// counts stream between two programs surviving a round trip while malformed lines are refused.
#include "support/tablerow.h"
#include "unreadcountfeed.h"
#include "watchformat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace
{

using Kind = WatchFormat::Kind;

const UnreadCounts kTwo{3, {{"Work", 2}, {"Home", 1}}};
const UnreadCounts kNone{0, {{"Work", 0}}};
// Quote, backslash, tab, newline, escape sequence, invalid UTF-8: all inside one name.
const UnreadCounts kHostile{1, {{"a\"b\\c\td\ne\x1b[2J\xff", 1}}};
const std::string kHostileShown = "a\"b\\c\td\xEF\xBF\xBD"
                                  "e\xEF\xBF\xBD[2J\xEF\xBF\xBD";

struct LineRow {
    const char* name;
    Kind kind;
    UnreadCounts counts;
    bool first;
    // Text lines compare whole; JSON lines are parsed and checked by `check`.
    std::string text;
    void (*check)(const QJsonValue& line);
};
POSTWATCH_ROW_PRINTS_NAME(LineRow)

class WatchLineTest : public ::testing::TestWithParam<LineRow>
{
};

TEST_P(WatchLineTest, ReadsAsTheBarExpects)
{
    const LineRow& row = GetParam();
    const std::string line = WatchFormat::Line(row.kind, row.counts, row.first);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    if (!row.check) {
        EXPECT_EQ(line, row.text);
        return;
    }
    // An i3bar line after the first starts with the comma that continues the array.
    std::string json = line;
    if (row.kind == Kind::I3bar && !row.first) {
        ASSERT_EQ(json.front(), ',');
        json.erase(0, 1);
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    row.check(doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object()));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WatchLineTest,
    ::testing::Values(
        LineRow{"text", Kind::Text, kTwo, true, "3\tWork 2\tHome 1", nullptr},
        LineRow{"text_hostile_name_stays_one_field", Kind::Text, kHostile, true,
                "1\t" + kHostileShown.substr(0, 5) + " " + kHostileShown.substr(6) + " 1", nullptr},
        LineRow{"json", Kind::Json, kTwo, true, "",
                [](const QJsonValue& v) {
                    EXPECT_EQ(v["unread"].toInt(), 3);
                    EXPECT_EQ(v["accounts"]["Work"].toInt(), 2);
                    EXPECT_EQ(v["accounts"]["Home"].toInt(), 1);
                }},
        LineRow{"json_hostile_name", Kind::Json, kHostile, true, "",
                [](const QJsonValue& v) {
                    const QJsonObject accounts = v["accounts"].toObject();
                    ASSERT_EQ(accounts.size(), 1);
                    EXPECT_EQ(accounts.keys().front().toStdString(),
                              "a\"b\\c\td\xEF\xBF\xBD"
                              "e\xEF\xBF\xBD[2J\xEF\xBF\xBD");
                }},
        LineRow{"waybar_unread", Kind::Waybar, kTwo, true, "",
                [](const QJsonValue& v) {
                    EXPECT_EQ(v["text"].toString(), "3");
                    EXPECT_EQ(v["tooltip"].toString(), "Work: 2\nHome: 1");
                    EXPECT_EQ(v["class"].toString(), "unread");
                }},
        LineRow{"waybar_nothing", Kind::Waybar, kNone, true, "",
                [](const QJsonValue& v) { EXPECT_EQ(v["class"].toString(), "none"); }},
        LineRow{"waybar_hostile_tooltip", Kind::Waybar, kHostile, true, "",
                [](const QJsonValue& v) { EXPECT_EQ(v["tooltip"].toString().count('\n'), 0); }},
        LineRow{"i3bar_first", Kind::I3bar, kTwo, true, "",
                [](const QJsonValue& v) {
                    EXPECT_EQ(v[0]["full_text"].toString(), "3");
                    EXPECT_TRUE(v[0]["urgent"].toBool());
                }},
        LineRow{"i3bar_later", Kind::I3bar, kNone, false, "",
                [](const QJsonValue& v) {
                    EXPECT_EQ(v[0]["full_text"].toString(), "0");
                    EXPECT_FALSE(v[0]["urgent"].toBool());
                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WatchFormatTest, OnlyI3barHasAHeader)
{
    const QByteArray header = QByteArray::fromStdString(WatchFormat::Header(Kind::I3bar));
    ASSERT_TRUE(header.endsWith("\n[\n"));
    EXPECT_EQ(QJsonDocument::fromJson(header.left(header.indexOf('\n')))["version"].toInt(), 1);
    for (Kind k : {Kind::Text, Kind::Json, Kind::Waybar})
        EXPECT_EQ(WatchFormat::Header(k), "");
}

struct NameRow {
    const char* name;
    std::string given;
    bool known;
};
POSTWATCH_ROW_PRINTS_NAME(NameRow)

class WatchFormatNameTest : public ::testing::TestWithParam<NameRow>
{
};

TEST_P(WatchFormatNameTest, KnowsTheFourFormats)
{
    EXPECT_EQ(WatchFormat::Parse(GetParam().given).has_value(), GetParam().known);
}

INSTANTIATE_TEST_SUITE_P(Names, WatchFormatNameTest,
                         ::testing::Values(NameRow{"text", "text", true},
                                           NameRow{"i3bar", "i3bar", true},
                                           NameRow{"upper_case_refused", "JSON", false},
                                           NameRow{"empty_refused", "", false},
                                           NameRow{"other_refused", "yaml", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StreamRow {
    const char* name;
    std::string json;
    bool accepted;
    UnreadCounts counts;
};
POSTWATCH_ROW_PRINTS_NAME(StreamRow)

class CountStreamTest : public ::testing::TestWithParam<StreamRow>
{
};

TEST_P(CountStreamTest, TakesOnlyWholeCounts)
{
    const StreamRow& row = GetParam();
    const UnreadCounts before{7, {{"kept", 7}}};
    UnreadCounts counts = before;
    EXPECT_EQ(UnreadCountFeed::FromStreamLine(QByteArray::fromStdString(row.json), counts),
              row.accepted);
    // A refused line leaves the counts the watcher had.
    EXPECT_EQ(counts, row.accepted ? row.counts : before);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CountStreamTest,
    ::testing::Values(
        StreamRow{"round_trip_keeps_order", UnreadCountFeed::StreamLine(kTwo), true, kTwo},
        StreamRow{"empty_list", R"({"unread":0,"accounts":[]})", true, {0, {}}},
        StreamRow{"not_json", "unread 3", false, {}},
        StreamRow{"cut_short", R"({"unread":3,"accounts":[["Work",)", false, {}},
        StreamRow{"negative_total", R"({"unread":-1,"accounts":[]})", false, {}},
        StreamRow{"count_as_text", R"({"unread":1,"accounts":[["W","1"]]})", false, {}},
        StreamRow{"pair_too_long", R"({"unread":1,"accounts":[["W",1,2]]})", false, {}},
        StreamRow{"accounts_as_object", R"({"unread":1,"accounts":{"W":1}})", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
