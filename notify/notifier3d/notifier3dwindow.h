#pragma once

#include "modelmesh.h"
#include "modelrenderer.h"
#include "notifieroptions.h"

#include <QImage>
#include <QOpenGLWindow>
#include <QPoint>
#include <QRegion>
#include <QTimer>
#include <functional>
#include <string>

class QOpenGLFramebufferObject;

// The 3D notifier: a borderless square window without taskbar entry in which a textured
// model turns about its vertical axis at one radian per second (ModelRenderer draws it).
//
// Two looks, chosen once at Create() by CompositorProbe:
// - with a compositing desktop the window is translucent: the desktop shows through live,
//   no snapshot is taken, and the mouse reaches the window only on the model's silhouette
//   (InputRegion; renewed every kInputRegionFrames frames while the model turns, from the
//   frame just drawn);
// - without one, while active ("square mode") the window is a square showing a snapshot of
//   the desktop behind it with the model over it; while inactive it is cut to the
//   silhouette of the last frame (SilhouetteMask of a frame drawn on black).
// The model turns only in square mode, on a kFramePeriodMs timer; inactive or hidden,
// nothing is drawn and no timer runs.
//
// It never takes the focus by itself: shown without activation; a click activates it. The
// left button drags it (the snapshot is renewed where it is dropped), a double click shows
// the main window (Hooks::showMainWindow, which also stops the LED blink and the tray
// animation) and hides this one, or closes it, as the options say; the right button opens
// the options menu (CNotifierOptionsMenu). Closing saves the options with the position
// moved fully onto the screen, then emits closed().
//
// Failures show a message (caption 61432) through DialogueBox with this window as owner:
// no usable OpenGL at Create() gives 61434 (no context) or 61431 (a version below 2.0) and
// no window; a model that cannot be read gives 61439 and the packaged "default.x" (a
// texture: 61337 and "default.bmp"), remembered at close; when the defaults fail too, 61434.
// A lost context re-creates the renderer's resources at the next frame, or closes with
// 61438. POSTWATCH_3D_NO_OPENGL=1 makes the context creation fail (for tests).
//
// Threads: the GUI thread. Owned by whoever created it (CNotifier3d deletes it after
// closed()).
class CNotifier3dWindow : public QOpenGLWindow
{
    Q_OBJECT
public:
    static constexpr int kBaseSize = 128;
    static constexpr int kFramePeriodMs = 10;
    static constexpr int kSnapshotDelayMs = 100;
    // With a compositor, the input region follows the turning model every this many frames.
    static constexpr int kInputRegionFrames = 10;

    struct Hooks {
        // Shows the main window as the double click asks; empty when there is none.
        std::function<void()> showMainWindow;
    };

    explicit CNotifier3dWindow(Hooks hooks = {});
    ~CNotifier3dWindow() override;

    // Reads the options, checks OpenGL, loads the model and texture and shows the window
    // without activating it. False after a message: the window stays hidden and unusable.
    bool Create();

    // Created and not closing: the one window that a second request shows again.
    bool Up() const { return shown_ && !closing_; }
    bool Compositing() const { return compositing_; }
    bool SquareMode() const { return squareMode_; }
    // A snapshot is being taken (the window is hidden for it).
    bool Capturing() const { return capturing_; }
    bool Animating() const { return frameTimer_.isActive(); }
    int Pixels() const { return kBaseSize * options_.size; }
    const CNotifierOptions& Options() const { return options_; }
    CNotifierOptions& MutableOptions() { return options_; }
    const QImage& Snapshot() const { return snapshot_; }
    // The shape while inactive (empty in square mode).
    QRegion Shape() const { return shape_; }
    // Where the translucent window takes the mouse (compositing only; empty before the
    // first frame).
    QRegion InputShape() const { return inputShape_; }
    // The last frame drawn on black without background, from which Shape() was built.
    const QImage& SilhouetteFrame() const { return silhouetteFrame_; }
    // The model turned by the angle of the current time (square mode) or the frozen one.
    float Angle() const;

    // The operations of the options menu. Each stores its option; SetSize hides the window
    // (the caller shows it again); SelectModel/SelectTexture load the named file (a name
    // in the package folder or a full path, as the package flag says) without falling back;
    // the file already shown is not read again. On failure the old name is kept.
    void SetTopMost(bool on);
    bool SetSize(int n);
    bool SelectModel(const std::string& name);
    bool SelectTexture(const std::string& name);
    // Rendering and dragging stop while set (a failed change of the options menu).
    void SetDeviceLost(bool lost) { deviceLost_ = lost; }
    bool DeviceLost() const { return deviceLost_; }
    // After a menu command: the square again with a fresh snapshot, shown, animating.
    void RestoreSquare();

    // Activation and deactivation as the window system reports them (also callable).
    void Activated();
    void Deactivated();
    // Saves the options with the position moved fully onto the screen.
    bool SaveOptions();
    // Shows `id`'s text in a message box owned by this window.
    void ShowMessage(unsigned id);

    // `window` moved fully inside `screen`, keeping its size (left/top edges win).
    static QRect OnScreen(const QRect& window, const QRect& screen);

signals:
    void closed();
    // The right button was released at `global`: the options menu is wanted.
    void optionsMenuRequested(const QPoint& global);

protected:
    void initializeGL() override;
    void paintGL() override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool ProbeOpenGL();
    bool LoadModel(bool fallBack);
    bool LoadTexture(bool fallBack);
    bool EnsureResources();
    void TakeSnapshot();
    void FinishSnapshot();
    void BuildShape();
    void ApplyFlags();
    void HandleClose();
    void ContextLost();
    void FollowSilhouette(int pixels);

    Hooks hooks_;
    CNotifierOptions options_;
    ModelRenderer renderer_;
    ModelMesh mesh_;
    QImage texture_;
    std::string loadedModelPath_;
    std::string loadedTexturePath_;
    QImage snapshot_;
    QImage silhouetteFrame_;
    QRegion shape_;
    QRegion inputShape_;
    int framesDrawn_ = 0;
    QTimer frameTimer_;
    QPoint dragOffset_;
    qint64 frozenMs_ = 0;
    bool compositing_ = false;
    bool squareMode_ = true;
    bool buttonDown_ = false;
    bool dragging_ = false;
    bool closing_ = false;
    bool capturing_ = false;
    bool deviceLost_ = false;
    bool shown_ = false;
    bool uploadMesh_ = true;
    bool uploadTexture_ = true;
    bool uploadSnapshot_ = true;
};
