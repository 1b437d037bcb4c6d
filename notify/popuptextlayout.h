#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <QStringList>

// How the popup's title and body fit their boxes. The title takes one line; the body is
// word-wrapped (a word longer than the line breaks anywhere) with its own line breaks kept.
// Text that does not fit is elided: the title's line, or the body's last line that fits,
// ends with an ellipsis ("…"), so the reader sees that more was said. No shown line is wider
// than its box and no body line lies below the box: nothing is cut in the middle of a glyph.
//
// Pure: measures with the fonts given, draws nothing. Threads: the GUI thread (font metrics).
class PopupTextLayout
{
public:
    static const QChar kEllipsis;

    // `titleWidth` and `bodyBox` in pixels; widths below 1 show nothing.
    static PopupTextLayout Fit(const QString& title, const QFont& titleFont, int titleWidth,
                               const QString& body, const QFont& bodyFont, QSize bodyBox);

    QString title;         // the title's shown line ("" when there is none)
    QStringList bodyLines; // the body's shown lines, top to bottom
    bool titleElided = false;
    bool bodyElided = false;

private:
    // `line` shortened (at a character boundary) until it fits `width` with the ellipsis.
    static QString WithEllipsis(QString line, const QFont& font, int width);
};
