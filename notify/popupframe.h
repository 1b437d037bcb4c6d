#pragma once

#include "popuptextlayout.h"

#include <QFont>
#include <QImage>
#include <QRect>
#include <QTimer>
#include <QWidget>

class QScreen;

// The small notification window that slides up out of the bottom-right corner of a screen's
// work area (its available geometry), stays a few seconds, slides back down and deletes
// itself. On a near-white to light-blue band gradient it shows a 32x32 bitmap of the resource
// bundle with the title in bold beside it, and below them the word-wrapped body in the normal
// (dark) text colour, both inside a margin; text that does not fit is elided with an
// ellipsis (PopupTextLayout), never cut or drawn over the edge.
//
// The window is a frameless, always-on-top tool window that never takes the focus and is
// shown without activation, so a popup never steals the keyboard from what the user is
// typing into. It has no parent widget: it must stay visible while the main window is
// minimised or hidden.
//
// Sliding runs on one timer per popup whose id names the phase:
//   1005 every 500 ms: wait for the turn to slide; 1001 every 10 ms: grow by Step();
//   1003 once after the stay time: start shrinking; 1002 every 10 ms: shrink by Step();
//   1004 at once: release the turn and delete the window.
// Only one popup of the process slides at a time; waiting popups take their turn in the
// order they were created. Right click closes a popup at once.
//
// Ownership: Create() shows the popup, which then owns itself (deleted when it finishes or is
// closed). CloseAll() closes every popup that still exists (program exit).
// Threads: the GUI thread only.
class CPopupFrame : public QWidget
{
    Q_OBJECT
public:
    // Timer ids and periods of the slide.
    static constexpr int kWaitTimer = 1005;
    static constexpr int kSlideInTimer = 1001;
    static constexpr int kStayTimer = 1003;
    static constexpr int kSlideOutTimer = 1002;
    static constexpr int kFinishTimer = 1004;
    static constexpr int kWaitPeriodMs = 500;
    static constexpr int kSlidePeriodMs = 10;

    static constexpr int kDefaultWidth = 180;
    static constexpr int kDefaultHeight = 160;

    CPopupFrame();
    ~CPopupFrame() override;

    // Width and full height of the next Create(); the main window uses 180 x 160.
    void SetSize(int width, int height);

    // Shows a popup for `screen`'s work area (the primary screen when null) with the bitmap
    // `bitmapId` of the bundle (a blank square when it has none), staying `staySeconds`
    // (negative counts as 0) once fully shown. Returns false, and shows nothing, when there
    // is no screen, or when the popup was created before.
    bool Create(QScreen* screen, const QString& body, const QString& title, unsigned bitmapId,
                int staySeconds);

    // The slide's state, for the owner's tests: the running timer's id (0 when none) and its
    // period, and the height now shown.
    int ActiveTimer() const { return timerId_; }
    int ActivePeriodMs() const;
    int ShownHeight() const { return shown_; }
    int FullHeight() const { return fullHeight_; }
    int Step() const { return step_; }
    bool IsSliding() const { return slider_ == this; }
    // Title and body as one text, the title's line indented as the Windows version wrote it.
    const QString& Text() const { return text_; }
    // What is drawn: the fitted title and body lines, and the boxes they must stay in (in
    // the popup at its full height).
    const PopupTextLayout& Layout() const { return layout_; }
    QRect TitleBox() const { return titleBox_; }
    QRect BodyBox() const { return bodyBox_; }
    // Margin around the content, and the body's colour.
    static constexpr int kMargin = 10;
    static const QColor& BodyColour();
    int StaySeconds() const { return staySeconds_; }
    // Runs the running timer's tick now, as if its period had passed.
    void Tick();

    // Every popup that exists, oldest first.
    static QList<CPopupFrame*> Popups();
    static void CloseAll();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void OnTimer(int id);
    void StartTimer(int id, int periodMs);
    void KillTimer();
    void Place();
    void Finish();
    void ReleaseTurn();

    QTimer timer_;
    int timerId_ = 0;
    int step_ = 2;
    int width_ = kDefaultWidth;
    int fullHeight_ = kDefaultHeight;
    int shown_ = 0;
    int staySeconds_ = 0;
    QRect workArea_;
    QRect titleBox_;
    QRect bodyBox_;
    QString text_;
    PopupTextLayout layout_;
    QImage bitmap_;
    QFont titleFont_;
    QFont bodyFont_;
    bool created_ = false;
    bool finished_ = false;

    // The popup that slides now, and those waiting for the turn in creation order.
    static CPopupFrame* slider_;
    static QList<CPopupFrame*> waiting_;
    static QList<CPopupFrame*> all_;
};
