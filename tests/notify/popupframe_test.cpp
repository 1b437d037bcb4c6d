// The popup's slide: timers and their periods, the heights it passes, one popup sliding at
// a time, right click, the place in the work area, and the painted card.
#include "popupframe.h"
#include "qttestapp.h"
#include "support/tablerow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <gtest/gtest.h>

namespace
{

class PopupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QtTestApp::Ensure();
        QtTestApp::TakeWarnings();
    }
    void TearDown() override
    {
        CPopupFrame::CloseAll();
        QtTestApp::Flush();
        EXPECT_TRUE(CPopupFrame::Popups().isEmpty());
    }

    static CPopupFrame* Make(int stay = 1, int height = CPopupFrame::kDefaultHeight,
                             const QString& title = QStringLiteral("New Mail"))
    {
        auto* popup = new CPopupFrame;
        popup->SetSize(CPopupFrame::kDefaultWidth, height);
        EXPECT_TRUE(
            popup->Create(nullptr, QStringLiteral("You have 1 new message"), title, 460, stay));
        return popup;
    }

    // Ticks until the timer changes; returns the number of ticks (bounded).
    static int TicksWhile(CPopupFrame* popup, int timer)
    {
        int ticks = 0;
        while (popup->ActiveTimer() == timer && ticks < 10000) {
            popup->Tick();
            ++ticks;
        }
        return ticks;
    }

    static void RunToEnd(QPointer<CPopupFrame> popup)
    {
        for (int i = 0; popup && i < 10000; ++i) {
            popup->Tick();
            QtTestApp::Flush();
        }
    }

    static QRect WorkArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

struct SlideRow {
    const char* name;
    int staySeconds;
    int height;
    int stayPeriodMs;
    int slideInTicks;  // ticks of 1001, the last one switching to 1003
    int slideOutTicks; // ticks of 1002, the last one switching to 1004
    int tallest;       // highest window while sliding
};

const std::vector<SlideRow> kSlideRows = {
    {"NewMailThreeSeconds", 3, 160, 3000, 81, 80, 158},
    {"StayZeroHidesAtOnce", 0, 160, 0, 81, 80, 158},
    {"NegativeStayCountsAsZero", -5, 160, 0, 81, 80, 158},
    {"AbsurdStayIsCapped", 1000000, 160, 3600000, 81, 80, 158},
    {"OddHeightStillEndsAtZero", 1, 161, 1000, 82, 81, 160},
    {"TinyHeight", 1, 1, 1000, 2, 1, 1},
};

POSTWATCH_ROW_PRINTS_NAME(SlideRow)

class PopupSlide : public PopupTest, public ::testing::WithParamInterface<SlideRow>
{
};

TEST_P(PopupSlide, TimerSequence)
{
    const SlideRow& row = GetParam();
    QPointer<CPopupFrame> popup = Make(row.staySeconds, row.height);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->ActiveTimer(), CPopupFrame::kWaitTimer);
    EXPECT_EQ(popup->ActivePeriodMs(), 500);
    EXPECT_EQ(popup->ShownHeight(), 0);

    popup->Tick();
    EXPECT_TRUE(popup->IsSliding());
    EXPECT_EQ(popup->ActiveTimer(), CPopupFrame::kSlideInTimer);
    EXPECT_EQ(popup->ActivePeriodMs(), 10);

    int tallest = 0;
    int ticks = 0;
    while (popup->ActiveTimer() == CPopupFrame::kSlideInTimer && ticks < 10000) {
        popup->Tick();
        ++ticks;
        tallest = std::max(tallest, popup->height());
        EXPECT_EQ(popup->geometry().bottom() + 1, WorkArea().bottom() + 1);
    }
    EXPECT_EQ(ticks, row.slideInTicks);
    EXPECT_EQ(tallest, row.tallest);
    EXPECT_EQ(popup->ActiveTimer(), CPopupFrame::kStayTimer);
    EXPECT_EQ(popup->ActivePeriodMs(), row.stayPeriodMs);

    popup->Tick();
    EXPECT_EQ(popup->ActiveTimer(), CPopupFrame::kSlideOutTimer);
    EXPECT_EQ(popup->ActivePeriodMs(), 10);
    EXPECT_EQ(TicksWhile(popup, CPopupFrame::kSlideOutTimer), row.slideOutTicks);
    EXPECT_EQ(popup->ShownHeight(), 0);
    EXPECT_EQ(popup->ActiveTimer(), CPopupFrame::kFinishTimer);
    EXPECT_EQ(popup->ActivePeriodMs(), 0);
    EXPECT_TRUE(popup->IsSliding());

    popup->Tick();
    QtTestApp::Flush();
    EXPECT_TRUE(popup.isNull());
}

INSTANTIATE_TEST_SUITE_P(Table, PopupSlide, ::testing::ValuesIn(kSlideRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PopupTest, SecondPopupWaitsUntilTheFirstIsGone)
{
    QPointer<CPopupFrame> first = Make();
    QPointer<CPopupFrame> second = Make();
    first->Tick();
    ASSERT_TRUE(first->IsSliding());
    for (int i = 0; i < 3; ++i) {
        second->Tick();
        EXPECT_EQ(second->ActiveTimer(), CPopupFrame::kWaitTimer);
        EXPECT_FALSE(second->IsSliding());
    }
    // Still waiting while the first finishes its slide out.
    TicksWhile(first, CPopupFrame::kSlideInTimer);
    first->Tick();
    TicksWhile(first, CPopupFrame::kSlideOutTimer);
    second->Tick();
    EXPECT_EQ(second->ActiveTimer(), CPopupFrame::kWaitTimer);
    RunToEnd(first);
    ASSERT_TRUE(first.isNull());
    second->Tick();
    EXPECT_TRUE(second->IsSliding());
    EXPECT_EQ(second->ActiveTimer(), CPopupFrame::kSlideInTimer);
}

TEST_F(PopupTest, WaitingPopupsTakeTurnsInCreationOrder)
{
    QPointer<CPopupFrame> first = Make();
    QPointer<CPopupFrame> second = Make();
    second->Tick(); // the younger one polls first
    EXPECT_FALSE(second->IsSliding());
    first->Tick();
    EXPECT_TRUE(first->IsSliding());
}

// Right click: which popups are left and who slides afterwards.
struct RightClickRow {
    const char* name;
    bool firstSlides;    // the first popup has taken its turn before the click
    int clicked;         // 0 first, 1 second
    bool secondMayStart; // after the click, the second takes the turn at its next tick
};

const std::vector<RightClickRow> kRightClickRows = {
    {"SlidingPopupClosedHandsOnTheTurn", true, 0, true},
    {"WaitingPopupClosedLeavesTheTurnWithTheSlidingOne", true, 1, false},
    {"OldestWaitingClosedLetsTheNextGo", false, 0, true},
};

POSTWATCH_ROW_PRINTS_NAME(RightClickRow)

class PopupRightClick : public PopupTest, public ::testing::WithParamInterface<RightClickRow>
{
};

TEST_P(PopupRightClick, ClosesAtOnce)
{
    const RightClickRow& row = GetParam();
    QPointer<CPopupFrame> popups[2] = {Make(), Make()};
    QPointer<CPopupFrame> third = Make();
    if (row.firstSlides)
        popups[0]->Tick();
    QMouseEvent click(QEvent::MouseButtonRelease, QPointF(5, 0), QPointF(5, 0), Qt::RightButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(popups[row.clicked], &click);
    QtTestApp::Flush();
    EXPECT_TRUE(popups[row.clicked].isNull());

    if (row.clicked == 1) {
        third->Tick();
        EXPECT_FALSE(third->IsSliding());
        EXPECT_TRUE(popups[0]->IsSliding());
        return;
    }
    popups[1]->Tick();
    EXPECT_EQ(popups[1]->IsSliding(), row.secondMayStart);
    third->Tick();
    EXPECT_FALSE(third->IsSliding());
}

INSTANTIATE_TEST_SUITE_P(Table, PopupRightClick, ::testing::ValuesIn(kRightClickRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PopupTest, PopupDeletedWhileSlidingFreesTheTurn)
{
    auto* first = Make();
    QPointer<CPopupFrame> second = Make();
    first->Tick();
    delete first;
    second->Tick();
    EXPECT_TRUE(second->IsSliding());
}

TEST_F(PopupTest, SitsInTheBottomRightCornerAndNeverTakesTheFocus)
{
    QPointer<CPopupFrame> popup = Make();
    popup->Tick();
    TicksWhile(popup, CPopupFrame::kSlideInTimer);
    const QRect area = WorkArea();
    EXPECT_EQ(popup->geometry(),
              QRect(area.x() + area.width() - 180 - 1, area.y() + area.height() - 158, 180, 158));
    EXPECT_EQ(popup->windowTitle(), QStringLiteral("PopupWnd"));

    const Qt::WindowFlags flags = popup->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(popup->windowType(), Qt::Tool);
    EXPECT_TRUE(popup->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(popup->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_EQ(popup->parentWidget(), nullptr); // stays up while the main window is minimised
    EXPECT_NE(QApplication::activeWindow(), popup.data());
}

TEST_F(PopupTest, TextIsTheIndentedTitleOverTheBody)
{
    QPointer<CPopupFrame> popup = Make(1, 160, QStringLiteral("Work"));
    EXPECT_EQ(popup->Text(), QStringLiteral("          Work\nYou have 1 new message"));
    // A popup is made once: a second Create neither queues it again nor changes it.
    EXPECT_FALSE(popup->Create(nullptr, QStringLiteral("other"), QStringLiteral("t"), 303, 1));
    EXPECT_EQ(popup->Text(), QStringLiteral("          Work\nYou have 1 new message"));
}

// Pixels of the fully shown card, away from the bitmap and the text: bands of 4 columns
// from near-white at the left towards light blue at the right.
struct PixelRow {
    const char* name;
    int x;
    QRgb colour;
};

const std::vector<PixelRow> kPixelRows = {
    {"FirstBand", 3, qRgb(255, 255, 245)},
    {"SecondBand", 4, qRgb(251, 254, 245)},
    {"LastBand", 178, qRgb(79, 211, 245)},
};

POSTWATCH_ROW_PRINTS_NAME(PixelRow)

class PopupPaint : public PopupTest, public ::testing::WithParamInterface<PixelRow>
{
};

TEST_P(PopupPaint, Gradient)
{
    QPointer<CPopupFrame> popup = Make();
    popup->Tick();
    TicksWhile(popup, CPopupFrame::kSlideInTimer);
    const QImage image = popup->grab().toImage();
    ASSERT_EQ(image.height(), 158);
    // Just above the frame's bottom line: the card is anchored at the window's bottom.
    EXPECT_EQ(image.pixel(GetParam().x, image.height() - 2), GetParam().colour);
}

INSTANTIATE_TEST_SUITE_P(Table, PopupPaint, ::testing::ValuesIn(kPixelRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
