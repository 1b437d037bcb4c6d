// The shape of an inactive window: exactly the non-black pixels of a frame, however many
// runs they make.
#include "silhouettemask.h"
#include "support/tablerow.h"

#include <functional>
#include <gtest/gtest.h>

namespace
{

struct MaskRow {
    const char* name;
    int size;
    std::function<QRgb(int x, int y)> pixel;
    int expectArea;
    int expectRuns;
};
POSTWATCH_ROW_PRINTS_NAME(MaskRow)

class SilhouetteMaskTest : public ::testing::TestWithParam<MaskRow>
{
};

int Area(const QRegion& region)
{
    int area = 0;
    for (const QRect& rect : region)
        area += rect.width() * rect.height();
    return area;
}

} // namespace

TEST_P(SilhouetteMaskTest, ShapeIsTheNonBlackPixels)
{
    const MaskRow& row = GetParam();
    QImage frame(row.size, row.size, QImage::Format_ARGB32);
    for (int y = 0; y < row.size; ++y)
        for (int x = 0; x < row.size; ++x)
            frame.setPixel(x, y, row.pixel(x, y));
    const QRegion shape = SilhouetteMask::FromFrame(frame);
    EXPECT_EQ(Area(shape), row.expectArea);
    EXPECT_EQ(SilhouetteMask::RunCount(frame), row.expectRuns);
    // Pixel by pixel where that is cheap (a region's contains() walks its rectangles).
    for (int y = 0; row.size <= 128 && y < row.size; ++y)
        for (int x = 0; x < row.size; ++x)
            ASSERT_EQ(shape.contains(QPoint(x, y)), (row.pixel(x, y) & 0xFFFFFF) != 0)
                << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SilhouetteMaskTest,
    ::testing::Values(MaskRow{"AllBlackIsEmpty", 64, [](int, int) { return qRgb(0, 0, 0); }, 0, 0},
                      MaskRow{"TransparentBlackIsBackground", 64,
                              [](int, int) { return qRgba(0, 0, 0, 0); }, 0, 0},
                      MaskRow{"AlphaDoesNotDecide", 8, [](int, int) { return qRgba(1, 0, 0, 0); },
                              64, 8},
                      MaskRow{"CentreSquare", 128,
                              [](int x, int y) {
                                  return x >= 32 && x < 96 && y >= 32 && y < 96 ? qRgb(200, 10, 10)
                                                                                : 0u;
                              },
                              64 * 64, 64},
                      MaskRow{"DarkestBlueCounts", 16,
                              [](int x, int) { return x == 15 ? qRgb(0, 0, 1) : 0u; }, 16, 16},
                      // Every other pixel of a 512-pixel frame: 131 072 runs, far more than a fixed
                      // buffer of 3 998 rectangles would hold; the shape is kept whole.
                      MaskRow{"ManyRunsKeptWhole", 512,
                              [](int x, int y) { return (x + y) % 2 ? qRgb(255, 255, 255) : 0u; },
                              512 * 256, 512 * 256}),
    [](const auto& info) { return std::string(info.param.name); });
