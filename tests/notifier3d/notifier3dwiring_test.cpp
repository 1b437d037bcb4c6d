// The main window and the 3D notifier together: its 3D command and the new-mail effect
// start one window and raise it again; a double click brings the main window back from the
// tray with the checking animation stopped; the exit sequence closes the notifier and keeps
// its options.
#include "accountmanager.h"
#include "enginestate.h"
#include "leddevice.h"
#include "mainframe.h"
#include "notifier3d.h"
#include "notifier3dfixture.h"
#include "notifier3dwiring.h"
#include "trayicon.h"

#include <QMouseEvent>

TEST_F(Notifier3dTest, MainWindowStartsRaisesAndClosesTheOneWindow)
{
    CAccountManager accounts;
    CEngineState state;
    CLedDevice led(dir_.File("leds"));
    CMainFrame frame(accounts, state, led, {});
    CNotifier3d notifier(Notifier3dWiring::MainWindowHooks(frame));
    Notifier3dWiring::Connect(frame, notifier);

    frame.Run3dEffect(); // the dispatcher's effect
    CNotifier3dWindow* window = notifier.Window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitFor([&] { return window->isExposed(); }));
    frame.Run3dEffect(); // a second request: the same window
    EXPECT_EQ(notifier.Window(), window);

    // The main window sits in the tray, checking: a double click brings it back.
    frame.hide();
    frame.CheckAnimation(true);
    ASSERT_TRUE(frame.Tray().IsAnimating());
    const QPoint at = window->position() + QPoint(60, 60);
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(60, 60), QPointF(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &click);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.Tray().IsAnimating());
    EXPECT_FALSE(window->isVisible());
    frame.Run3dEffect(); // shown again, still the one window
    EXPECT_EQ(notifier.Window(), window);
    EXPECT_TRUE(window->isVisible());

    window->setPosition(70, 80);
    frame.ExitSequence();
    EXPECT_TRUE(WaitFor([&] { return notifier.Window() == nullptr; }));
    CNotifierOptions stored;
    ASSERT_TRUE(stored.Load());
    EXPECT_EQ(stored.lastPosX, 70);
    EXPECT_EQ(stored.lastPosY, 80);
}
