// The 3D window on a real X server with Mesa's software OpenGL: the model is drawn over the
// desktop snapshot and turns only while active; inactive, the window is cut to the model's
// silhouette; with a compositor it is translucent instead; drags renew the snapshot; the
// double-click rules; one window at a time; no OpenGL, no window.
#include "compositorprobe.h"
#include "notifier3d.h"
#include "notifier3dfixture.h"
#include "resourcelibrary.h"
#include "silhouettemask.h"
#include "support/tablerow.h"

#include <QDir>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <utility>

namespace
{

const QColor kLeft(200, 30, 200);
const QColor kRight(30, 200, 60);
// The parcel covers the centre from every side (the envelope is thin seen edge-on).
const char* const kSolidModel = "parcel.x";

QRect Centre(int pixels)
{
    return QRect(pixels / 4, pixels / 4, pixels / 2, pixels / 2);
}

void SendMouse(QWindow& window, QEvent::Type type, QPoint global, Qt::MouseButton button,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(global - window.position()), QPointF(global), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &event);
}

} // namespace

TEST_F(Notifier3dTest, DrawsTheModelOverTheSnapshotAndTurnsOnlyWhileActive)
{
    StoreString("LastSelectModel", kSolidModel);
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    ASSERT_FALSE(window->Compositing());
    const int s = window->Pixels();
    EXPECT_EQ(s, 256); // the stored default size 2
    // The snapshot is the desktop behind it: the backdrop's left colour.
    EXPECT_GT(Matching(window->Snapshot(), QRect(0, 0, s, s), kLeft), s * s * 9 / 10);

    const QImage first = Grab(*window);
    // The model covers a good part of the centre, the backdrop shows in a corner.
    EXPECT_LT(Matching(first, Centre(s), kLeft), s * s / 4 * 3 / 4);
    EXPECT_GT(Matching(first, QRect(2, 2, 8, 8), kLeft), 60);
    Pump(500);
    EXPECT_GT(Differing(first, Grab(*window), QRect(0, 0, s, s)), 200) << "it does not turn";

    Deactivate(*window);
    EXPECT_FALSE(window->Animating());
    const QImage frozen = Grab(*window);
    Pump(500);
    EXPECT_EQ(Differing(frozen, Grab(*window), QRect(0, 0, s, s)), 0) << "it turns while inactive";
}

TEST_F(Notifier3dTest, TheInactiveShapeIsTheRenderedSilhouette)
{
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    Deactivate(*window);
    const QImage frame = window->SilhouetteFrame();
    ASSERT_FALSE(frame.isNull());
    // The mask is exactly the set of the frame's non-black pixels.
    QRegion nonBlack;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if ((frame.pixel(x, y) & 0xFFFFFF) != 0)
                nonBlack += QRect(x, y, 1, 1);
    EXPECT_FALSE(nonBlack.isEmpty());
    EXPECT_TRUE(window->mask().xored(nonBlack).isEmpty());
    // On the screen the desktop shows outside the silhouette and not inside it.
    const QImage shown = Grab(*window);
    const int s = window->Pixels();
    int outside = 0, desktopOutside = 0, desktopInside = 0;
    for (int y = 0; y < s; ++y)
        for (int x = 0; x < s; ++x) {
            const bool desktop = (shown.pixel(x, y) & 0xFFFFFF) == (kLeft.rgb() & 0xFFFFFF);
            if (nonBlack.contains(QPoint(x, y)))
                desktopInside += desktop;
            else
                ++outside, desktopOutside += desktop;
        }
    EXPECT_EQ(desktopOutside, outside);
    EXPECT_LT(desktopInside, 20);
}

TEST_F(Notifier3dTest, KeepsScreenshotsOfEverySize)
{
    const std::string folder = POSTWATCH_SCREENSHOT_DIR;
    QDir().mkpath(QString::fromStdString(folder));
    for (int n : {1, 2, 4}) {
        StoreDword("Size", uint32_t(n));
        StoreDword("LastPosX", 20);
        StoreDword("LastPosY", 20);
        auto window = MakeWindow();
        ASSERT_TRUE(window);
        EXPECT_EQ(window->Pixels(), 128 * n);
        const QString stem =
            QString::fromStdString(folder) + "/notifier3d-size" + QString::number(n);
        EXPECT_TRUE(Grab(*window).save(stem + "-active.png"));
        Deactivate(*window);
        EXPECT_TRUE(Grab(*window).save(stem + "-inactive.png"));
        window->close();
        Pump(200); // the desktop repaints where it was before the next snapshot
    }
}

TEST_F(Notifier3dTest, DroppingRenewsTheSnapshotWhereItLands)
{
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    const QPoint start = window->position() + QPoint(100, 100);
    const QPoint drop(QGuiApplication::primaryScreen()->geometry().width() * 3 / 4, 300);
    SendMouse(*window, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    SendMouse(*window, QEvent::MouseMove, start + QPoint(5, 5), Qt::NoButton, Qt::LeftButton);
    EXPECT_FALSE(window->Animating()); // frozen while it moves
    SendMouse(*window, QEvent::MouseMove, drop, Qt::NoButton, Qt::LeftButton);
    SendMouse(*window, QEvent::MouseButtonRelease, drop, Qt::LeftButton, Qt::NoButton);
    ASSERT_TRUE(WaitFor([&] { return window->SquareMode() && !window->Capturing(); }));
    EXPECT_EQ(window->position(), drop - QPoint(100, 100));
    const int s = window->Pixels();
    EXPECT_GT(Matching(window->Snapshot(), QRect(0, 0, s, s), kRight), s * s * 9 / 10);
    EXPECT_TRUE(window->Animating());
}

struct ClickRow {
    const char* name;
    bool shows;
    bool closes;
    bool mainWindow;
    bool expectMainShown;
    bool expectVisible;
    bool expectClosed;
};
POSTWATCH_ROW_PRINTS_NAME(ClickRow)

class Notifier3dClickTest : public Notifier3dTest, public ::testing::WithParamInterface<ClickRow>
{
};

TEST_P(Notifier3dClickTest, DoubleClickDoesWhatTheOptionsSay)
{
    const ClickRow& row = GetParam();
    StoreDword("DBClickShow", row.shows);
    StoreDword("DBClickClose", row.closes);
    int shown = 0;
    CNotifier3dWindow::Hooks hooks;
    if (row.mainWindow)
        hooks.showMainWindow = [&] { ++shown; };
    auto window = MakeWindow(hooks);
    ASSERT_TRUE(window);
    bool closed = false;
    QObject::connect(window.get(), &CNotifier3dWindow::closed, [&] { closed = true; });
    const QPoint at = window->position() + QPoint(60, 60);
    SendMouse(*window, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    Pump(50);
    EXPECT_EQ(shown, row.expectMainShown ? 1 : 0);
    EXPECT_EQ(window->isVisible(), row.expectVisible);
    EXPECT_EQ(closed, row.expectClosed);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Notifier3dClickTest,
    ::testing::Values(ClickRow{"ShowsTheMainWindowAndHides", true, false, true, true, false, false},
                      ClickRow{"ShowWithoutMainWindowDoesNothing", true, false, false, false, true,
                               false},
                      ClickRow{"Closes", false, true, true, false, false, true},
                      ClickRow{"ShowWinsWhenBothAreStored", true, true, true, true, false, false},
                      ClickRow{"NeitherDoesNothing", false, false, true, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Notifier3dTest, OneWindowAtATimeAndClosedOnRequest)
{
    CNotifier3d notifier;
    notifier.Show();
    CNotifier3dWindow* first = notifier.Window();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(WaitFor([&] { return first->isExposed(); }));
    first->hide();
    notifier.Show(); // a second request shows the same window again
    EXPECT_EQ(notifier.Window(), first);
    EXPECT_TRUE(first->isVisible());
    first->setPosition(40, 50);
    // The exit sequence closes it; its place is kept.
    notifier.Close();
    EXPECT_TRUE(WaitFor([&] { return notifier.Window() == nullptr; }));
    CNotifierOptions stored;
    ASSERT_TRUE(stored.Load());
    EXPECT_EQ(stored.lastPosX, 40);
    EXPECT_EQ(stored.lastPosY, 50);
    notifier.Show(); // and a later request starts a new one
    EXPECT_NE(notifier.Window(), nullptr);
}

// Runs `during` inside the first message box, as a request arriving while the message is up.
class AskingDialogues : public RecordingDialogues
{
public:
    std::function<void()> during;
    int Show(const std::string& text, const std::string& caption, void* owner, int buttons,
             int icon) override
    {
        if (auto now = std::exchange(during, nullptr))
            now();
        return RecordingDialogues::Show(text, caption, owner, buttons, icon);
    }
};

TEST_F(Notifier3dTest, RequestsWhileTheStartAsksStartNoSecondWindow)
{
    struct Row {
        const char* name;
        bool closeMeanwhile;
        bool expectWindow;
    };
    for (const Row& row : {Row{"ShowAgain", false, true}, Row{"Close", true, false}}) {
        SCOPED_TRACE(row.name);
        StoreString("LastSelectModel", "gone.x"); // the start shows the fallback message
        CNotifier3d notifier;
        int started = 0;
        QObject::connect(&notifier, &CNotifier3d::windowChanged, [&](bool up) { started += up; });
        auto asking = std::make_shared<AskingDialogues>();
        asking->during = [&] { row.closeMeanwhile ? notifier.Close() : notifier.Show(); };
        SetDialogueBackend(asking);
        notifier.Show();
        EXPECT_EQ(asking->Texts(), std::vector<std::string>{LoadResourceString(61439)});
        EXPECT_EQ(notifier.Window() != nullptr, row.expectWindow);
        EXPECT_EQ(started, row.expectWindow ? 1 : 0);
        notifier.Close();
        EXPECT_TRUE(WaitFor([&] { return notifier.Window() == nullptr; }));
        CNotifierOptions stored; // the fallback is remembered either way
        ASSERT_TRUE(stored.Load());
        EXPECT_EQ(stored.lastSelectModel, "default.x");
        SetDialogueBackend(dialogues_);
    }
}

TEST_F(Notifier3dTest, WithoutOpenGLThereIsAMessageAndNoWindow)
{
    ScopedEnv noOpenGl("POSTWATCH_3D_NO_OPENGL", "1");
    CNotifier3d notifier;
    notifier.Show();
    EXPECT_EQ(notifier.Window(), nullptr);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], LoadResourceString(61434));
}

// Run alone (its own ctest entry): the compositor changes the desktop for every window.
TEST_F(Notifier3dTest, CompositorShowsTheDesktopThroughTheWindow)
{
    const QString compositor = QStandardPaths::findExecutable(QStringLiteral("xcompmgr"));
    if (compositor.isEmpty())
        GTEST_SKIP() << MissingComponent("xcompmgr", "not installed (scripts/bootstrap.sh)");
    QProcess manager;
    manager.start(compositor, {});
    ASSERT_TRUE(manager.waitForStarted());
    ASSERT_TRUE(WaitFor([] { return CompositorProbe::Compositing(); }))
        << "xcompmgr did not take the compositing selection";
    StoreString("LastSelectModel", kSolidModel);
    {
        auto window = MakeWindow();
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->Compositing());
        EXPECT_TRUE(window->Snapshot().isNull()); // no snapshot: the desktop shows live
        Pump(300);
        const QImage shown = Grab(*window);
        const int s = window->Pixels();
        EXPECT_GT(Matching(shown, QRect(2, 2, 16, 16), kLeft), 200) << "not translucent";
        EXPECT_LT(Matching(shown, Centre(s), kLeft), s * s / 4 * 3 / 4) << "no model";
        // Moved over the other colour, that colour shows through at once.
        window->setPosition(QGuiApplication::primaryScreen()->geometry().width() * 3 / 4, 100);
        EXPECT_TRUE(
            WaitFor([&] { return Matching(Grab(*window), QRect(2, 2, 16, 16), kRight) > 200; }));
        // Only the model takes clicks: beside it they reach the desktop, on it they do not.
        ASSERT_TRUE(WaitFor([&] { return !window->InputShape().isEmpty(); }));
        EXPECT_FALSE(window->InputShape().contains(QPoint(3, 3)));
        const QPoint corner = window->position() + QPoint(3, 3);
        if (!ClickAt(corner))
            GTEST_SKIP() << MissingComponent("xdotool", "not installed (scripts/bootstrap.sh)");
        EXPECT_EQ(backdrop_->presses, 1);
        const QRect model = window->InputShape().boundingRect();
        const QPoint inside = window->InputShape().begin()->center();
        ASSERT_TRUE(model.contains(inside));
        ClickAt(window->position() + inside);
        EXPECT_EQ(backdrop_->presses, 1) << "a click on the model went through it";
        Deactivate(*window);
        EXPECT_FALSE(window->Animating());
        EXPECT_FALSE(window->InputShape().isEmpty());
        EXPECT_TRUE(window->mask().isEmpty()); // drawn whole: the transparency does the rest
        window->close();
    }
    manager.terminate();
    manager.waitForFinished();
}

TEST_F(Notifier3dTest, ALostContextRebuildsWhatItDraws)
{
    StoreString("LastSelectModel", kSolidModel);
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    const int s = window->Pixels();
    // What a driver reset announces: the resources go with the context.
    emit window->context()->aboutToBeDestroyed();
    Pump(300);
    EXPECT_TRUE(window->Up());
    EXPECT_TRUE(Messages().empty());
    EXPECT_LT(Matching(Grab(*window), Centre(s), kLeft), s * s / 4 * 3 / 4) << "the model is gone";
}
