#pragma once

#include <QRegion>

class QWindow;

// Where a window takes the mouse, apart from where it is drawn. On X11 this is the window's
// input shape (X Shape extension, kind Input): a translucent window keeps drawing its whole
// square while only the model's silhouette takes clicks, and the pixels around the model
// let clicks through to the desktop. Other platforms have no separate input region; there
// the window's mask is set instead (on a compositing desktop the area outside the
// silhouette is transparent anyway).
//
// An empty region takes no clicks at all; Clear() gives the whole window back.
// Threads: the GUI thread. The window must have been created (winId()).
class InputRegion
{
public:
    static void Set(QWindow* window, const QRegion& region);
    static void Clear(QWindow* window);
};
