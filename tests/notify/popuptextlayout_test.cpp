// The popup's text fitting: what shows whole, what is elided and where, and that nothing
// shown is wider or taller than its box.
#include "popuptextlayout.h"
#include "qttestapp.h"
#include "support/tablerow.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <gtest/gtest.h>

namespace
{

struct FitRow {
    const char* name;
    QString title;
    QString body;
    QSize bodyBox;
    QStringList lines; // expected body lines; empty: only the properties below are checked
    bool titleElided;
    bool bodyElided;
};

POSTWATCH_ROW_PRINTS_NAME(FitRow)

constexpr int kTitleWidth = 120;

QString Repeated(const QString& word, int times)
{
    QStringList words;
    for (int i = 0; i < times; ++i)
        words << word;
    return words.join(QLatin1Char(' '));
}

const std::vector<FitRow> kFitRows = {
    {"ShortTextsShowWhole",
     "Work",
     "You have 1 new message",
     {160, 100},
     {"You have 1 new message"},
     false,
     false},
    {"LineBreaksAndBlankLinesAreKept",
     "Work",
     "one\r\n\ntwo",
     {160, 100},
     {"one", "", "two"},
     false,
     false},
    {"LongTitleIsElided", Repeated("Account", 12), "x", {160, 100}, {"x"}, true, false},
    {"TitleLineBreaksBecomeBlanks", "a\nb", "x", {160, 100}, {"x"}, false, false},
    {"LongBodyEndsInAnEllipsis", "Work", Repeated("word", 200), {160, 60}, {}, false, true},
    {"UnbrokenWordBreaksAnywhere",
     "Work",
     QString(60, QLatin1Char('W')),
     {160, 400},
     {},
     false,
     false},
    {"CutBetweenParagraphsStillShowsTheEllipsis",
     "Work",
     Repeated("line\n", 40).trimmed(),
     {160, 40},
     {},
     false,
     true},
    {"SurrogatePairsAreNeverSplit",
     "Work",
     Repeated(QStringLiteral(u"\U0001F600"), 300),
     {160, 40},
     {},
     false,
     true},
    {"BoxLowerThanALineShowsNothing", "Work", "You have mail", {160, 2}, {}, false, false},
};

class PopupFit : public ::testing::TestWithParam<FitRow>
{
protected:
    void SetUp() override { QtTestApp::Ensure(); }
};

TEST_P(PopupFit, FitsItsBoxes)
{
    const FitRow& row = GetParam();
    const QFont bodyFont = QGuiApplication::font();
    QFont titleFont = bodyFont;
    titleFont.setBold(true);
    const PopupTextLayout fitted =
        PopupTextLayout::Fit(row.title, titleFont, kTitleWidth, row.body, bodyFont, row.bodyBox);

    EXPECT_EQ(fitted.titleElided, row.titleElided);
    EXPECT_EQ(fitted.title.endsWith(PopupTextLayout::kEllipsis), row.titleElided);
    EXPECT_FALSE(fitted.title.contains(QLatin1Char('\n')));
    EXPECT_LE(QFontMetrics(titleFont).horizontalAdvance(fitted.title), kTitleWidth);

    const QFontMetrics metrics(bodyFont);
    EXPECT_EQ(fitted.bodyElided, row.bodyElided);
    if (!row.lines.isEmpty())
        EXPECT_EQ(fitted.bodyLines, row.lines);
    if (fitted.bodyLines.isEmpty()) {
        EXPECT_LT(row.bodyBox.height(), metrics.height());
        return;
    }
    EXPECT_EQ(fitted.bodyLines.back().endsWith(PopupTextLayout::kEllipsis), row.bodyElided);
    EXPECT_LE((fitted.bodyLines.size() - 1) * metrics.lineSpacing() + metrics.height(),
              row.bodyBox.height());
    for (const QString& line : fitted.bodyLines) {
        EXPECT_LE(metrics.horizontalAdvance(line), row.bodyBox.width()) << line.toStdString();
        EXPECT_FALSE(!line.isEmpty() && line.back().isHighSurrogate()) << line.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PopupFit, ::testing::ValuesIn(kFitRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
