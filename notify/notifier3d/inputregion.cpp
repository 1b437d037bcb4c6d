#include "inputregion.h"

#include <QGuiApplication>
#include <QWindow>
#include <vector>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace
{

xcb_connection_t* X11Connection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

} // namespace

void InputRegion::Set(QWindow* window, const QRegion& region)
{
    xcb_connection_t* connection = X11Connection();
    if (!connection) {
        // An empty QRegion would mean "no mask": one rectangle outside the window instead.
        window->setMask(region.isEmpty() ? QRegion(-2, -2, 1, 1) : region);
        return;
    }
    // The region is in device-independent pixels; the X server counts device pixels.
    const qreal ratio = window->devicePixelRatio();
    std::vector<xcb_rectangle_t> rects;
    rects.reserve(size_t(region.rectCount()));
    for (const QRect& r : region) {
        const QRect device(
            QPoint(qRound(r.x() * ratio), qRound(r.y() * ratio)),
            QPoint(qRound((r.right() + 1) * ratio) - 1, qRound((r.bottom() + 1) * ratio) - 1));
        rects.push_back({int16_t(device.x()), int16_t(device.y()), uint16_t(device.width()),
                         uint16_t(device.height())});
    }
    xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT,
                         XCB_CLIP_ORDERING_UNSORTED, xcb_window_t(window->winId()), 0, 0,
                         uint32_t(rects.size()), rects.data());
    xcb_flush(connection);
}

void InputRegion::Clear(QWindow* window)
{
    xcb_connection_t* connection = X11Connection();
    if (!connection) {
        window->setMask(QRegion());
        return;
    }
    // No pixmap: the input shape goes back to the window's whole area.
    xcb_shape_mask(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, xcb_window_t(window->winId()),
                   0, 0, XCB_NONE);
    xcb_flush(connection);
}
