#pragma once

#include <QColor>
#include <QLabel>
#include <functional>
#include <string>

// A text that opens a target (a web address, a mailto: address) when clicked, as the About
// box shows them.
//
// Colours: the link colour (the palette's highlight) until the link was opened, purple
// (150, 0, 150) after a successful open, blue while the mouse is over it. Underline mode -1
// underlines while hovering, 0 never, 1 always. Without a target the label's own text is
// the target; without a text the target is shown. A tooltip shows the target; the cursor is
// a pointing hand.
//
// Opening: QDesktopServices::openUrl, then "xdg-open <target>". When both fail the label
// beeps and shows (DialogueBox, exclamation) "Unable to open hyperlink:\n\n" and the text
// for the error code
// (ErrorText(); the codes are those of the shell's open call: 2 no handler program found,
// and so on). Tests replace the opener with SetOpener().
//
// Threads: the user-interface thread only.
class CHyperLink : public QLabel
{
    Q_OBJECT

public:
    // An opener returns a code above 32 on success, else the error code.
    using Opener = std::function<int(const QString& target)>;

    explicit CHyperLink(const QString& text = QString(), QWidget* parent = nullptr);

    void SetTarget(const QString& target);
    QString Target() const;
    void SetColours(const QColor& link, const QColor& visited, const QColor& hover);
    void SetUnderlineMode(int mode);
    void SetVisited(bool visited);
    bool Visited() const { return visited_; }
    bool Hovering() const { return hovering_; }
    QColor CurrentColour() const;
    void SetOpener(Opener opener) { opener_ = std::move(opener); }

    // Opens the target as a click does; true on success.
    bool Open();

    // The default opener.
    static int OpenWithDesktop(const QString& target);
    // The text for an error code of the opener ("Unknown Error (%d) occurred." for others).
    static std::string ErrorText(int code);
    // The whole message shown on failure.
    static std::string FailureMessage(int code);

signals:
    // The open failed: `message` was shown (tests read it instead of the box).
    void openFailed(const QString& message);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void Restyle();

    QString target_;
    QColor link_;
    QColor visitedColour_{150, 0, 150};
    QColor hover_{0, 0, 255};
    bool hovering_ = false;
    bool visited_ = false;
    int underline_ = -1;
    Opener opener_;
};
