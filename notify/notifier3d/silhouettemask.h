#pragma once

#include <QImage>
#include <QRegion>

// The window shape of an inactive notifier: the region of the pixels of a rendered frame
// that are not black (the frame was cleared to black and drawn without background, so
// those are the model's). Each row's runs of such pixels become one rectangle each; the
// region grows as far as the shape needs (no cap on the number of rectangles).
//
// Alpha is ignored: a pixel counts by its colour alone. A null image gives an empty region.
class SilhouetteMask
{
public:
    static QRegion FromFrame(const QImage& frame);
    // How many rectangles FromFrame would use (one per run of non-black pixels in a row).
    static int RunCount(const QImage& frame);
};
