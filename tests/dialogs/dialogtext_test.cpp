// The dialogs name their texts by number; a number without a line in the bundle would show
// a blank label, so every number the dialog sources name must be found in the loaded bundle.
#include "dialogtext.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace
{

TEST(DialogText, EveryNumberTheDialogsNameIsInTheBundle)
{
    const QDir sources(QStringLiteral(POSTWATCH_SOURCE_DIR "/ui/dialogs"));
    const QRegularExpression constant(QStringLiteral(R"(constexpr unsigned (k\w+) = (\d+);)"));
    int checked = 0;
    for (const QString& name : sources.entryList({"*.h", "*.cpp"}, QDir::Files)) {
        QFile file(sources.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QString text = QString::fromUtf8(file.readAll());
        for (const auto& match : constant.globalMatch(text)) {
            ++checked;
            EXPECT_FALSE(DlgText::Text(match.captured(2).toUInt()).isEmpty())
                << name.toStdString() << ": " << match.captured(1).toStdString() << " = "
                << match.captured(2).toStdString() << " has no text in the bundle";
        }
    }
    EXPECT_GT(checked, 80) << "the dialog sources name their texts as before";
}

TEST(DialogText, FillReplacesTheFirstPlaceholder)
{
    struct Row {
        const char* pattern;
        const char* value;
        const char* filled;
    } rows[] = {{"Account: %s", "Work", "Account: Work"},
                {"%d messages", "12", "12 messages"},
                {"%s and %s", "a", "a and %s"},
                {"no placeholder", "x", "no placeholder"},
                {"%s", "100%s", "100%s"}};
    for (const Row& r : rows)
        EXPECT_EQ(
            DlgText::Fill(QString::fromUtf8(r.pattern), QString::fromUtf8(r.value)).toStdString(),
            r.filled)
            << r.pattern;
}

} // namespace
