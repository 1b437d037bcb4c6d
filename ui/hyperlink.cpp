#include "hyperlink.h"

#include "dialoguebox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QProcess>
#include <QUrl>

CHyperLink::CHyperLink(const QString& text, QWidget* parent)
    : QLabel(text, parent), link_(palette().color(QPalette::Highlight))
{
    setCursor(Qt::PointingHandCursor);
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed); // shrink to the text
    setFocusPolicy(Qt::TabFocus);
    opener_ = &CHyperLink::OpenWithDesktop;
    SetTarget(QString());
}

void CHyperLink::SetTarget(const QString& target)
{
    target_ = target;
    if (text().isEmpty())
        setText(Target());
    setToolTip(Target());
    Restyle();
}

QString CHyperLink::Target() const
{
    return target_.isEmpty() ? text() : target_;
}

void CHyperLink::SetColours(const QColor& link, const QColor& visited, const QColor& hover)
{
    link_ = link;
    visitedColour_ = visited;
    hover_ = hover;
    Restyle();
}

void CHyperLink::SetUnderlineMode(int mode)
{
    underline_ = mode;
    Restyle();
}

void CHyperLink::SetVisited(bool visited)
{
    visited_ = visited;
    Restyle();
}

QColor CHyperLink::CurrentColour() const
{
    if (hovering_)
        return hover_;
    return visited_ ? visitedColour_ : link_;
}

void CHyperLink::Restyle()
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, CurrentColour());
    setPalette(p);
    QFont f = font();
    f.setUnderline(underline_ == 1 || (underline_ == -1 && hovering_));
    setFont(f);
    adjustSize();
}

bool CHyperLink::Open()
{
    hovering_ = false;
    const int code = opener_ ? opener_(Target()) : 0;
    if (code > 32) {
        SetVisited(true);
        return true;
    }
    Restyle();
    QApplication::beep();
    const QString message = QString::fromStdString(FailureMessage(code));
    emit openFailed(message);
    DialogueBox(message.toStdString(), window()->windowTitle().toStdString(), window(), kDialogueOk,
                kDialogueIconExclamation);
    return false;
}

int CHyperLink::OpenWithDesktop(const QString& target)
{
    constexpr int kOpened = 33;
    constexpr int kNotFound = 2; // "The specified file was not found."
    const QUrl url = QUrl::fromUserInput(target);
    if (url.isValid() && QDesktopServices::openUrl(url))
        return kOpened;
    // The desktop's own opener, as a second chance when Qt found no handler.
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {target}))
        return kOpened;
    return kNotFound;
}

std::string CHyperLink::ErrorText(int code)
{
    switch (code) {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case 2:
        return "The specified file was not found.";
    case 3:
        return "The specified path was not found.";
    case 5:
        return "The operating system denied\naccess to the specified file.";
    case 8:
        return "There was not enough memory to complete the operation.";
    case 11:
        return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
        return "A sharing violation occurred. ";
    case 27:
        return "The filename association is\nincomplete or invalid.";
    case 28:
        return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
        return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE "
               "transactions\nwere being processed.";
    case 31:
        return "There is no application associated\nwith the given filename extension.";
    case 32:
        return "The specified dynamic-link library was not found.";
    default:
        return "Unknown Error (" + std::to_string(code) + ") occurred.";
    }
}

std::string CHyperLink::FailureMessage(int code)
{
    return "Unable to open hyperlink:\n\n" + ErrorText(code);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Open();
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::enterEvent(QEnterEvent* event)
{
    hovering_ = true;
    Restyle();
    QLabel::enterEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event)
{
    hovering_ = false;
    Restyle();
    QLabel::leaveEvent(event);
}
