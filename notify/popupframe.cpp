#include "popupframe.h"

#include "resourceimage.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

CPopupFrame* CPopupFrame::slider_ = nullptr;
QList<CPopupFrame*> CPopupFrame::waiting_;
QList<CPopupFrame*> CPopupFrame::all_;

namespace
{

// A stay longer than an hour is a caller's mistake; the cap keeps the period in range.
constexpr int kMaxStaySeconds = 3600;

constexpr int kBandWidth = 4;
constexpr int kBitmapSize = 32;
// Between the bitmap and the title, and between the bitmap's row and the body.
constexpr int kGap = 8;
constexpr int kBodyGap = 6;

// Band n (columns 4n .. 4n+3) of the background: red falls by 4 and green by 1 per band
// over a constant blue, which runs from near-white at the left towards light blue.
QColor BandColour(int band)
{
    return QColor((255 - 4 * band) & 0xFF, std::max(0, 255 - band), 0xF5);
}

} // namespace

CPopupFrame::CPopupFrame()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    // A popup closing while the main window sits hidden in the tray is no reason to quit.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("PopupWnd"));
    // The desktop's own font is the one its user can read; the title stands out by weight.
    bodyFont_ = QGuiApplication::font();
    titleFont_ = bodyFont_;
    titleFont_.setBold(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(timerId_); });
    all_.append(this);
}

CPopupFrame::~CPopupFrame()
{
    // A popup that goes away while it holds the turn (closed with its owner at exit, say)
    // must hand it on, or every later popup would wait for ever.
    ReleaseTurn();
    waiting_.removeAll(this);
    all_.removeAll(this);
}

void CPopupFrame::SetSize(int width, int height)
{
    width_ = std::max(1, width);
    fullHeight_ = std::max(1, height);
}

bool CPopupFrame::Create(QScreen* screen, const QString& body, const QString& title,
                         unsigned bitmapId, int staySeconds)
{
    if (created_)
        return false;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    created_ = true;
    staySeconds_ = std::clamp(staySeconds, 0, kMaxStaySeconds);
    bitmap_ = LoadResourceImage(bitmapId);
    workArea_ = screen->availableGeometry();
    shown_ = 0;
    // The title sits beside the bitmap, centred on it; the body fills what is left below.
    const int contentRight = width_ - kMargin;
    titleBox_ = QRect(QPoint(kMargin + kBitmapSize + kGap, kMargin),
                      QPoint(contentRight - 1, kMargin + kBitmapSize - 1));
    const int bodyTop = kMargin + kBitmapSize + kBodyGap;
    bodyBox_ = QRect(QPoint(kMargin, bodyTop), QPoint(contentRight - 1, fullHeight_ - kMargin - 1));
    layout_ = PopupTextLayout::Fit(title, titleFont_, std::max(0, titleBox_.width()), body,
                                   bodyFont_, bodyBox_.isValid() ? bodyBox_.size() : QSize());
    text_ = QStringLiteral("          %1\n%2").arg(title, body);

    setScreen(screen);
    Place();
    waiting_.append(this);
    show();
    StartTimer(kWaitTimer, kWaitPeriodMs);
    return true;
}

int CPopupFrame::ActivePeriodMs() const
{
    return timerId_ ? timer_.interval() : 0;
}

void CPopupFrame::Tick()
{
    if (timerId_)
        OnTimer(timerId_);
}

QList<CPopupFrame*> CPopupFrame::Popups()
{
    return all_;
}

void CPopupFrame::CloseAll()
{
    const QList<CPopupFrame*> popups = all_;
    for (CPopupFrame* popup : popups)
        popup->Finish();
}

void CPopupFrame::OnTimer(int id)
{
    switch (id) {
    case kWaitTimer:
        // Waiting popups keep polling; the oldest takes the turn once it is free.
        if (slider_ || waiting_.isEmpty() || waiting_.front() != this)
            return;
        waiting_.removeFirst();
        slider_ = this;
        StartTimer(kSlideInTimer, kSlidePeriodMs);
        return;
    case kSlideInTimer:
        if (shown_ < fullHeight_) {
            Place();
            shown_ += step_;
        } else {
            StartTimer(kStayTimer, staySeconds_ * 1000);
        }
        return;
    case kStayTimer:
        shown_ -= step_;
        StartTimer(kSlideOutTimer, kSlidePeriodMs);
        return;
    case kSlideOutTimer:
        if (shown_ > 0) {
            Place();
            shown_ -= step_;
        } else {
            StartTimer(kFinishTimer, 0);
        }
        return;
    case kFinishTimer:
        Finish();
        return;
    default:
        return;
    }
}

void CPopupFrame::StartTimer(int id, int periodMs)
{
    timerId_ = id;
    timer_.start(periodMs);
}

void CPopupFrame::KillTimer()
{
    timer_.stop();
    timerId_ = 0;
}

// Bottom-right of the work area, the right edge one pixel inside it, the bottom on its bottom
// edge. The work area's own corner counts, not its size taken as a position: with a panel at
// the top or left, or on a second screen, the popup still sits in that screen's corner. While
// nothing shows yet the window keeps one pixel row, as a window of height 0 is not something every
// window system accepts.
void CPopupFrame::Place()
{
    const int height = std::max(shown_, 1);
    const int x = workArea_.x() + workArea_.width() - width_ - 1;
    const int y = workArea_.y() + workArea_.height() - height;
    setGeometry(x, y, width_, height);
}

void CPopupFrame::Finish()
{
    if (finished_)
        return;
    finished_ = true;
    KillTimer();
    ReleaseTurn();
    waiting_.removeAll(this);
    close(); // WA_DeleteOnClose: the popup deletes itself
}

// Only the popup that slides gives the turn back: a popup closed while still waiting must
// not let the next one start beside a popup that is sliding.
void CPopupFrame::ReleaseTurn()
{
    if (slider_ == this)
        slider_ = nullptr;
}

void CPopupFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // The card is laid out for the full height and anchored at the window's bottom, so the
    // slide reveals it from its lower part up, as if it rose from behind the screen edge.
    painter.translate(0, height() - fullHeight_);
    for (int x = 0; x < width_; x += kBandWidth)
        painter.fillRect(QRect(x, 0, std::min(kBandWidth, width_ - x), fullHeight_),
                         BandColour(x / kBandWidth));

    if (!bitmap_.isNull()) {
        // Multiplying keeps the background where the bitmap is white.
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        painter.drawImage(QRect(kMargin, kMargin, kBitmapSize, kBitmapSize), bitmap_);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    // A thin frame keeps the near-white left edge apart from a white window behind it.
    painter.setPen(QColor(0x9A, 0xB4, 0xD6));
    painter.drawRect(0, 0, width_ - 1, fullHeight_ - 1);

    // The layout already fits the boxes; the clip keeps a glyph's overhang (italic, accents)
    // inside them as well.
    painter.setPen(BodyColour());
    if (!layout_.title.isEmpty() && titleBox_.isValid()) {
        painter.save();
        painter.setClipRect(titleBox_);
        painter.setFont(titleFont_);
        painter.drawText(titleBox_, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         layout_.title);
        painter.restore();
    }
    if (!layout_.bodyLines.isEmpty() && bodyBox_.isValid()) {
        painter.setClipRect(bodyBox_);
        painter.setFont(bodyFont_);
        const QFontMetrics metrics(bodyFont_);
        int baseline = bodyBox_.top() + metrics.ascent();
        for (const QString& line : layout_.bodyLines) {
            painter.drawText(QPoint(bodyBox_.left(), baseline), line);
            baseline += metrics.lineSpacing();
        }
    }
}

const QColor& CPopupFrame::BodyColour()
{
    // The background is always light, whatever the desktop's theme: the text keeps the dark
    // colour of a light theme's text, not the theme's own (a dark theme's would be white).
    static const QColor colour(0x1F, 0x1F, 0x1F);
    return colour;
}

void CPopupFrame::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton)
        Finish();
}
