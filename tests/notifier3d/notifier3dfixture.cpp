#include "notifier3dfixture.h"

#include "programkey.h"
#include "registrykey.h"
#include "regsettings.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

void DesktopBackdrop::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(0, 0, width() / 2, height(), left_);
    painter.fillRect(width() / 2, 0, width() - width() / 2, height(), right_);
}

void Notifier3dTest::SetUp()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << MissingComponent("An X server", "the tests run under with-xvfb.sh");
    configHome_ = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", dir_.File("config"));
    configDirs_ = std::make_unique<ScopedEnv>("XDG_CONFIG_DIRS", dir_.File("sysconfig"));
    CRegSettings().Prepare();
    dialogues_ = std::make_shared<RecordingDialogues>();
    SetDialogueBackend(dialogues_);
    backdrop_ = std::make_unique<DesktopBackdrop>(QColor(200, 30, 200), QColor(30, 200, 60));
    backdrop_->show();
    elsewhere_ = std::make_unique<QRasterWindow>();
    elsewhere_->setFlags(Qt::FramelessWindowHint);
    elsewhere_->setGeometry(QGuiApplication::primaryScreen()->geometry().right() - 40, 0, 40, 40);
    ASSERT_TRUE(WaitFor([&] { return backdrop_->isExposed(); }));
    Pump(100);
}

void Notifier3dTest::TearDown()
{
    SetDialogueBackend(nullptr);
    elsewhere_.reset();
    backdrop_.reset();
    Pump(50);
}

bool Notifier3dTest::WaitFor(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

void Notifier3dTest::Pump(int ms)
{
    WaitFor([] { return false; }, ms);
}

void Notifier3dTest::StoreDword(const char* name, uint32_t value)
{
    CRegistryKey key;
    ASSERT_TRUE(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Options")));
    ASSERT_TRUE(key.WriteDword(name, value));
}

void Notifier3dTest::StoreString(const char* name, const std::string& value)
{
    CRegistryKey key;
    ASSERT_TRUE(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Options")));
    ASSERT_TRUE(key.WriteString(name, value));
}

std::unique_ptr<CNotifier3dWindow> Notifier3dTest::MakeWindow(CNotifier3dWindow::Hooks hooks)
{
    auto window = std::make_unique<CNotifier3dWindow>(std::move(hooks));
    if (!window->Create()) {
        ADD_FAILURE() << "the 3D window did not come up";
        return nullptr;
    }
    EXPECT_TRUE(WaitFor([&] { return window->isExposed(); }));
    Pump(150); // a few frames
    return window;
}

QImage Notifier3dTest::Grab(const CNotifier3dWindow& window)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area(window.position(), QSize(window.Pixels(), window.Pixels()));
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

int Notifier3dTest::Differing(const QImage& a, const QImage& b, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (a.valid(x, y) && b.valid(x, y) && a.pixel(x, y) != b.pixel(x, y))
                ++count;
    return count;
}

int Notifier3dTest::Matching(const QImage& image, const QRect& area, QColor colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.valid(x, y) && (image.pixel(x, y) & 0xFFFFFF) == (colour.rgb() & 0xFFFFFF))
                ++count;
    return count;
}

void Notifier3dTest::Deactivate(CNotifier3dWindow& window)
{
    window.requestActivate();
    ASSERT_TRUE(WaitFor([&] { return window.isActive(); }));
    elsewhere_->show();
    elsewhere_->requestActivate();
    ASSERT_TRUE(WaitFor([&] { return !window.isActive() && !window.SquareMode(); }));
    Pump(50);
}

bool Notifier3dTest::ClickAt(QPoint global)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (tool.isEmpty())
        return false;
    QProcess::execute(tool,
                      {QStringLiteral("mousemove"), QString::number(global.x()),
                       QString::number(global.y()), QStringLiteral("click"), QStringLiteral("1")});
    Pump(100);
    return true;
}
