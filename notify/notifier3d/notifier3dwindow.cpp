#include "notifier3dwindow.h"

#include "compositorprobe.h"
#include "dialoguebox.h"
#include "inputregion.h"
#include "modelloader.h"
#include "resourcelibrary.h"
#include "silhouettemask.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QPainter>
#include <QScreen>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <numbers>
#include <sys/stat.h>

namespace
{

constexpr unsigned kCaption = 61432;
constexpr unsigned kNoDevice = 61431;
constexpr unsigned kNotStarted = 61434;
constexpr unsigned kDisplayLost = 61438;
constexpr unsigned kModelFallback = 61439;
constexpr unsigned kTextureFallback = 61337;

const char* const kDefaultModel = "default.x";
const char* const kDefaultTexture = "default.bmp";

// The animation clock: milliseconds of a monotonic clock shared by every window.
qint64 NowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

// Mesa loads its driver with the first context and unloads it when the display closes at
// the process's end, while memory and exit handlers of that driver are still registered:
// crashes at exit in some drivers, "leaks" from an unmapped module for leak checkers. The
// driver stays loaded until the process ends instead.
void KeepOpenGlDriverLoaded()
{
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            const char* name = info->dlpi_name;
            if (name && std::strstr(name, "_dri.so"))
                dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

// A picture file as the options name it; null when it cannot be read. Only a plain file is
// opened: the picture reader would wait for ever on a FIFO.
QImage ReadPicture(const std::string& path)
{
    struct stat st {
    };
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return QImage();
    return QImage(QString::fromStdString(path));
}

QSurfaceFormat FormatFor(bool translucent)
{
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setDepthBufferSize(16);
    format.setAlphaBufferSize(translucent ? 8 : 0);
    return format;
}

} // namespace

CNotifier3dWindow::CNotifier3dWindow(Hooks hooks)
    : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate), hooks_(std::move(hooks))
{
    setTitle(QStringLiteral("Postwatch 3D notifier"));
    frameTimer_.setInterval(kFramePeriodMs);
    connect(&frameTimer_, &QTimer::timeout, this, [this] {
        if (!deviceLost_)
            update();
    });
    connect(this, &QWindow::activeChanged, this,
            [this] { isActive() ? Activated() : Deactivated(); });
}

CNotifier3dWindow::~CNotifier3dWindow()
{
    if (isValid()) {
        makeCurrent();
        renderer_.Release();
        doneCurrent();
    }
}

void CNotifier3dWindow::ShowMessage(unsigned id)
{
    DialogueBox(LoadResourceString(id), LoadResourceString(kCaption), this, kDialogueOk,
                kDialogueIconStop);
}

bool CNotifier3dWindow::Create()
{
    options_.Load();
    compositing_ = CompositorProbe::Compositing();
    setFormat(FormatFor(compositing_));
    ApplyFlags();
    // Shown without activation: the notifier must not take the keyboard from the user's work.
    setProperty("_q_showWithoutActivating", true);
    const int pixels = Pixels();
    setGeometry(options_.lastPosX, options_.lastPosY, pixels, pixels);

    if (!ProbeOpenGL() || !LoadModel(true) || !LoadTexture(true)) {
        closing_ = true;
        return false;
    }
    squareMode_ = true;
    if (!compositing_) {
        setMask(QRegion(1, 1, pixels - 2, pixels - 2));
        TakeSnapshot(); // not shown yet: the desktop behind is visible as it is
    }
    frozenMs_ = NowMs();
    show();
    frameTimer_.start();
    shown_ = true;
    return true;
}

bool CNotifier3dWindow::ProbeOpenGL()
{
    // The window's own context is made at the first expose; a context of the same format on
    // an offscreen surface tells beforehand whether one can be made and run our shaders.
    QOpenGLContext probe;
    probe.setFormat(format());
    QOffscreenSurface surface;
    surface.setFormat(format());
    surface.create();
    if (qEnvironmentVariableIntValue("POSTWATCH_3D_NO_OPENGL") == 1 || !probe.create() ||
        !surface.isValid() || !probe.makeCurrent(&surface)) {
        ShowMessage(kNotStarted);
        return false;
    }
    KeepOpenGlDriverLoaded();
    const QSurfaceFormat got = probe.format();
    if (got.majorVersion() < 2) {
        probe.doneCurrent();
        ShowMessage(kNoDevice);
        return false;
    }
    ModelRenderer trial;
    std::string why;
    const bool runs = trial.Initialise(&why);
    trial.Release();
    probe.doneCurrent();
    if (!runs) {
        qWarning("3D notifier: the OpenGL shaders do not build: %s", why.c_str());
        ShowMessage(kNoDevice);
        return false;
    }
    return true;
}

bool CNotifier3dWindow::LoadModel(bool fallBack)
{
    ModelMesh mesh;
    std::string why;
    if (!ModelLoader::Load(options_.ModelPath(), mesh, &why)) {
        if (!fallBack)
            return false;
        ShowMessage(kModelFallback);
        options_.lastSelectModel = kDefaultModel;
        options_.usePackageModel = true;
        if (!ModelLoader::Load(options_.ModelPath(), mesh, &why)) {
            ShowMessage(kNotStarted);
            return false;
        }
    }
    mesh_ = std::move(mesh);
    loadedModelPath_ = options_.ModelPath();
    uploadMesh_ = true;
    return true;
}

bool CNotifier3dWindow::LoadTexture(bool fallBack)
{
    QImage image = ReadPicture(options_.TexturePath());
    if (image.isNull()) {
        if (!fallBack)
            return false;
        ShowMessage(kTextureFallback);
        options_.lastSelectTexture = kDefaultTexture;
        options_.usePackageTexture = true;
        image = ReadPicture(options_.TexturePath());
        if (image.isNull()) {
            ShowMessage(kNotStarted);
            return false;
        }
    }
    texture_ = std::move(image);
    loadedTexturePath_ = options_.TexturePath();
    uploadTexture_ = true;
    return true;
}

void CNotifier3dWindow::ApplyFlags()
{
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint;
    if (options_.topMost)
        flags |= Qt::WindowStaysOnTopHint;
    setFlags(flags);
}

void CNotifier3dWindow::initializeGL()
{
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &CNotifier3dWindow::ContextLost,
            Qt::DirectConnection);
    uploadMesh_ = uploadTexture_ = uploadSnapshot_ = true;
}

void CNotifier3dWindow::ContextLost()
{
    // Qt makes no new context for us, but the resources must go while this one exists.
    if (context() && context()->isValid()) {
        makeCurrent();
        renderer_.Release();
    }
    uploadMesh_ = uploadTexture_ = uploadSnapshot_ = true;
}

bool CNotifier3dWindow::EnsureResources()
{
    if (!renderer_.Initialised()) {
        std::string why;
        if (!renderer_.Initialise(&why))
            return false;
        uploadMesh_ = uploadTexture_ = uploadSnapshot_ = true;
    }
    if (uploadMesh_)
        renderer_.SetMesh(mesh_);
    if (uploadTexture_)
        renderer_.SetTexture(texture_);
    if (uploadSnapshot_)
        renderer_.SetBackground(compositing_ ? QImage() : snapshot_);
    uploadMesh_ = uploadTexture_ = uploadSnapshot_ = false;
    return true;
}

float CNotifier3dWindow::Angle() const
{
    const qint64 ms = squareMode_ ? NowMs() : frozenMs_;
    // One radian per second; the remainder keeps single precision exact over long runs.
    return float(std::fmod(double(ms) * 0.001, 2.0 * std::numbers::pi));
}

void CNotifier3dWindow::paintGL()
{
    if (closing_)
        return;
    if (!context()->isValid() || !EnsureResources()) {
        closing_ = true;
        frameTimer_.stop();
        ShowMessage(kDisplayLost);
        QMetaObject::invokeMethod(this, &QWindow::close, Qt::QueuedConnection);
        return;
    }
    if (squareMode_)
        frozenMs_ = NowMs();
    const int pixels = int(std::lround(Pixels() * devicePixelRatio()));
    renderer_.Render(Angle(), pixels, !compositing_, compositing_ ? Qt::transparent : Qt::black);
    if (compositing_ && squareMode_ && framesDrawn_++ % kInputRegionFrames == 0)
        FollowSilhouette(pixels);
}

void CNotifier3dWindow::FollowSilhouette(int pixels)
{
    // The frame just drawn, read before it is shown: the model's pixels are the opaque ones
    // (cleared to transparent black, the model is lit at least by the ambient light).
    QImage frame(pixels, pixels, QImage::Format_RGBA8888);
    context()->functions()->glReadPixels(0, 0, pixels, pixels, GL_RGBA, GL_UNSIGNED_BYTE,
                                         frame.bits());
    frame = frame.mirrored(); // OpenGL rows run bottom-up
    if (pixels != Pixels())
        frame = frame.scaled(Pixels(), Pixels());
    inputShape_ = SilhouetteMask::FromFrame(frame);
    InputRegion::Set(this, inputShape_);
}

void CNotifier3dWindow::BuildShape()
{
    // One frame on black without background, read back once: its non-black pixels are the
    // model's.
    if (!isValid() || !context()->isValid())
        return;
    makeCurrent();
    if (!EnsureResources())
        return;
    const int pixels = int(std::lround(Pixels() * devicePixelRatio()));
    QOpenGLFramebufferObject target(pixels, pixels, QOpenGLFramebufferObject::Depth);
    target.bind();
    renderer_.Render(Angle(), pixels, false, Qt::black);
    target.release();
    silhouetteFrame_ = target.toImage().scaled(Pixels(), Pixels());
    shape_ = SilhouetteMask::FromFrame(silhouetteFrame_);
    if (compositing_) {
        // Translucent, the window draws itself as it is: only the clicks follow the shape.
        inputShape_ = shape_;
        InputRegion::Set(this, inputShape_);
        return;
    }
    // An empty QRegion would mean "no mask" (the whole square): a shape without pixels is
    // one rectangle outside the window, so nothing of it shows.
    setMask(shape_.isEmpty() ? QRegion(-2, -2, 1, 1) : shape_);
}

void CNotifier3dWindow::Activated()
{
    if (closing_ || capturing_ || deviceLost_ || !shown_ || squareMode_)
        return;
    squareMode_ = true;
    shape_ = QRegion();
    if (compositing_) {
        framesDrawn_ = 0; // the input region follows from the next frame on
        frameTimer_.start();
        return;
    }
    setMask(QRegion(1, 1, Pixels() - 2, Pixels() - 2));
    TakeSnapshot();
}

void CNotifier3dWindow::Deactivated()
{
    if (closing_ || capturing_ || deviceLost_ || !shown_ || !squareMode_)
        return;
    squareMode_ = false;
    frameTimer_.stop();
    BuildShape();
    update(); // the frozen frame
}

void CNotifier3dWindow::TakeSnapshot()
{
    if (compositing_)
        return;
    if (!isVisible()) {
        FinishSnapshot();
        return;
    }
    // The window hides so that the snapshot shows the desktop, not itself; the window
    // system needs a moment to repaint what was under it. Nothing blocks meanwhile.
    capturing_ = true;
    frameTimer_.stop();
    hide();
    QTimer::singleShot(kSnapshotDelayMs, this, [this] {
        FinishSnapshot();
        if (closing_)
            return;
        show();
        // The user clicked it (or dropped it): it keeps the activation it had.
        requestActivate();
        capturing_ = false;
        squareMode_ = true;
        frameTimer_.start();
    });
}

void CNotifier3dWindow::FinishSnapshot()
{
    // Only the part on the screen is grabbed; the rest stays black, at the same place.
    QScreen* display = screen() ? screen() : QGuiApplication::primaryScreen();
    const int pixels = Pixels();
    QImage picture(pixels, pixels, QImage::Format_RGB32);
    picture.fill(Qt::black);
    if (display) {
        const QRect window(position(), QSize(pixels, pixels));
        const QRect shown = window.intersected(display->geometry());
        if (!shown.isEmpty()) {
            const QPoint local = shown.topLeft() - display->geometry().topLeft();
            const QPixmap grab =
                display->grabWindow(0, local.x(), local.y(), shown.width(), shown.height());
            QPainter painter(&picture);
            painter.drawPixmap(QRect(shown.topLeft() - window.topLeft(), shown.size()), grab);
        }
    }
    snapshot_ = std::move(picture);
    uploadSnapshot_ = true;
    update();
}

void CNotifier3dWindow::SetTopMost(bool on)
{
    options_.topMost = on;
    const bool visible = isVisible();
    ApplyFlags();
    // Changing the flags of a shown window re-creates it hidden on some platforms.
    if (visible && !isVisible())
        show();
}

bool CNotifier3dWindow::SetSize(int n)
{
    if (!CNotifierOptions::ValidSize(n))
        return false;
    if (n == options_.size)
        return true;
    const QPoint centre = geometry().center();
    options_.size = n;
    const int pixels = Pixels();
    hide();
    QRect rect(0, 0, pixels, pixels);
    rect.moveCenter(centre);
    setGeometry(rect);
    setMask(QRegion(1, 1, pixels - 2, pixels - 2));
    FinishSnapshot(); // hidden: the desktop is seen as it is
    return true;
}

bool CNotifier3dWindow::SelectModel(const std::string& name)
{
    const std::string old = options_.lastSelectModel;
    options_.lastSelectModel = name;
    if (options_.ModelPath() == loadedModelPath_)
        return true;
    if (!LoadModel(false)) {
        options_.lastSelectModel = old;
        return false;
    }
    update();
    return true;
}

bool CNotifier3dWindow::SelectTexture(const std::string& name)
{
    const std::string old = options_.lastSelectTexture;
    options_.lastSelectTexture = name;
    if (options_.TexturePath() == loadedTexturePath_)
        return true;
    if (!LoadTexture(false)) {
        options_.lastSelectTexture = old;
        return false;
    }
    update();
    return true;
}

void CNotifier3dWindow::RestoreSquare()
{
    const int pixels = Pixels();
    squareMode_ = true;
    shape_ = QRegion();
    if (!compositing_)
        setMask(QRegion(1, 1, pixels - 2, pixels - 2));
    framesDrawn_ = 0;
    show();
    if (!capturing_)
        frameTimer_.start();
}

QRect CNotifier3dWindow::OnScreen(const QRect& window, const QRect& screen)
{
    QRect moved = window;
    if (moved.right() > screen.right())
        moved.moveRight(screen.right());
    if (moved.bottom() > screen.bottom())
        moved.moveBottom(screen.bottom());
    if (moved.left() < screen.left())
        moved.moveLeft(screen.left());
    if (moved.top() < screen.top())
        moved.moveTop(screen.top());
    return moved;
}

bool CNotifier3dWindow::SaveOptions()
{
    QScreen* display = screen() ? screen() : QGuiApplication::primaryScreen();
    QRect rect(position(), QSize(Pixels(), Pixels()));
    if (display)
        rect = OnScreen(rect, display->geometry());
    options_.lastPosX = rect.x();
    options_.lastPosY = rect.y();
    return options_.Save();
}

void CNotifier3dWindow::HandleClose()
{
    frameTimer_.stop();
    // A window that never came up (or closed already) has nothing of its own to keep.
    if (shown_ && !closing_)
        SaveOptions();
    closing_ = true;
    shown_ = false;
}

bool CNotifier3dWindow::event(QEvent* event)
{
    if (event->type() != QEvent::Close)
        return QOpenGLWindow::event(event);
    HandleClose();
    const bool handled = QOpenGLWindow::event(event);
    emit closed();
    return handled;
}

void CNotifier3dWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        buttonDown_ = true;
        dragOffset_ = event->globalPosition().toPoint() - position();
    }
}

void CNotifier3dWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!buttonDown_ || deviceLost_ || capturing_)
        return;
    if (!dragging_) {
        dragging_ = true;
        frameTimer_.stop();
        if (squareMode_ && !compositing_) {
            squareMode_ = false;
            BuildShape();
        }
        setMouseGrabEnabled(true);
    }
    // Frameless, the window moves itself; this works with and without a window manager.
    setPosition(event->globalPosition().toPoint() - dragOffset_);
}

void CNotifier3dWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        emit optionsMenuRequested(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    buttonDown_ = false;
    if (!dragging_)
        return;
    dragging_ = false;
    setMouseGrabEnabled(false);
    // A fresh snapshot at the drop place, as an activation would take.
    squareMode_ = false;
    Activated();
    if (compositing_)
        frameTimer_.start();
}

void CNotifier3dWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    buttonDown_ = false;
    if (options_.dbClickShow && hooks_.showMainWindow) {
        hooks_.showMainWindow();
        frameTimer_.stop();
        hide();
    } else if (options_.dbClickClose) {
        close();
    }
}
