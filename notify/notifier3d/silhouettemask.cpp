#include "silhouettemask.h"

#include <QRect>
#include <vector>

namespace
{

template <class Each> void ForEachRun(const QImage& frame, Each each)
{
    const QImage image = frame.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int start = -1;
        for (int x = 0; x <= image.width(); ++x) {
            const bool shape = x < image.width() && (row[x] & 0x00FFFFFF) != 0;
            if (shape && start < 0)
                start = x;
            else if (!shape && start >= 0) {
                each(QRect(start, y, x - start, 1));
                start = -1;
            }
        }
    }
}

} // namespace

QRegion SilhouetteMask::FromFrame(const QImage& frame)
{
    if (frame.isNull())
        return {};
    std::vector<QRect> runs;
    ForEachRun(frame, [&](const QRect& run) { runs.push_back(run); });
    QRegion region;
    region.setRects(runs.data(), int(runs.size()));
    return region;
}

int SilhouetteMask::RunCount(const QImage& frame)
{
    int count = 0;
    if (!frame.isNull())
        ForEachRun(frame, [&](const QRect&) { ++count; });
    return count;
}
