#include "popuptextlayout.h"

#include <QFontMetrics>
#include <QTextLayout>
#include <QTextOption>

const QChar PopupTextLayout::kEllipsis(0x2026);

namespace
{

// The popup has one line for the title: its line breaks become blanks.
QString OneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString WithoutTrailingBlanks(QString text)
{
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    return text;
}

} // namespace

QString PopupTextLayout::WithEllipsis(QString line, const QFont& font, int width)
{
    const QFontMetrics metrics(font);
    line = WithoutTrailingBlanks(line);
    while (!line.isEmpty() && metrics.horizontalAdvance(line + kEllipsis) > width) {
        line.chop(1);
        // Never leave half of a surrogate pair behind.
        if (!line.isEmpty() && line.back().isHighSurrogate())
            line.chop(1);
        line = WithoutTrailingBlanks(line);
    }
    return line + kEllipsis;
}

PopupTextLayout PopupTextLayout::Fit(const QString& title, const QFont& titleFont, int titleWidth,
                                     const QString& body, const QFont& bodyFont, QSize bodyBox)
{
    PopupTextLayout fitted;
    const QString titleLine = OneLine(title);
    if (titleWidth > 0 && !titleLine.isEmpty()) {
        const QFontMetrics metrics(titleFont);
        if (metrics.horizontalAdvance(titleLine) <= titleWidth) {
            fitted.title = titleLine;
        } else {
            fitted.title = WithEllipsis(titleLine, titleFont, titleWidth);
            fitted.titleElided = true;
        }
    }

    const QFontMetrics metrics(bodyFont);
    const int width = bodyBox.width();
    if (width < 1 || body.isEmpty() || bodyBox.height() < metrics.height())
        return fitted;
    const int maxLines = 1 + (bodyBox.height() - metrics.height()) / metrics.lineSpacing();
    QString text = body;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (const QString& paragraph : paragraphs) {
        QTextLayout layout(paragraph, bodyFont);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            if (fitted.bodyLines.size() == maxLines) {
                fitted.bodyElided = true;
                break;
            }
            fitted.bodyLines.append(paragraph.mid(line.textStart(), line.textLength()));
        }
        layout.endLayout();
        if (fitted.bodyElided)
            break;
    }
    if (fitted.bodyElided && !fitted.bodyLines.isEmpty())
        fitted.bodyLines.back() = WithEllipsis(fitted.bodyLines.back(), bodyFont, width);
    // Blanks a line broke at are not drawn; keep them out of the widths as well.
    for (QString& line : fitted.bodyLines)
        line = WithoutTrailingBlanks(line);
    return fitted;
}
