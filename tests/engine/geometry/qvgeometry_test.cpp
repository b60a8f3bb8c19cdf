// Disc stamp and circle outline on byte images: which pixels move, and that
// nothing is touched outside the images.
#include "engine/geometry/qvgeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

constexpr int width = 40, height = 40, stride = 3 * width + 2;  // rows padded by two bytes
constexpr std::uint8_t guard = 0xA5;
constexpr size_t guardBytes = 64;

// An image with guard bytes around it, so writes past either end show.
struct GuardedImage {
    std::vector<std::uint8_t> bytes =
        std::vector<std::uint8_t>(size_t(height) * stride + 2 * guardBytes, guard);

    std::span<std::uint8_t> image() { return std::span(bytes).subspan(guardBytes, size_t(height) * stride); }
    bool guardsIntact() const
    {
        for (size_t i = 0; i < guardBytes; ++i)
            if (bytes[i] != guard || bytes[bytes.size() - 1 - i] != guard) return false;
        return true;
    }
};

// Source whose every pixel names its own column and row.
GuardedImage labelledSource()
{
    GuardedImage source;
    auto image = source.image();
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const size_t at = size_t(row) * stride + 3 * column;
            image[at] = std::uint8_t(column);
            image[at + 1] = std::uint8_t(row);
            image[at + 2] = 1;
        }
    return source;
}

// Stamps the disc of `radius` around (srcX, srcY) of source onto (dstX, dstY) of destination.
void stamp(GuardedImage& destination, int dstX, int dstY, GuardedImage& source, int srcX, int srcY,
           int radius)
{
    drawCircleBrezem(dstX, dstY, srcX, srcY, height, stride, destination.image(), height, stride,
                     source.image(), radius);
}

// Offsets (x, y) from the destination centre that received a pixel, checking
// that each came from the same offset around the source centre.
std::set<std::pair<int, int>> stampedOffsets(GuardedImage& destination, int dstX, int dstY, int srcX,
                                             int srcY)
{
    std::set<std::pair<int, int>> offsets;
    auto image = destination.image();
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const size_t at = size_t(row) * stride + 3 * column;
            if (image[at + 2] != 1) continue;
            const int x = column - dstX, y = (height - dstY) - row;
            EXPECT_EQ(image[at], x + srcX);
            EXPECT_EQ(image[at + 1], (height - srcY) - y);
            offsets.insert({x, y});
        }
    return offsets;
}

}  // namespace

TEST(DiscStamp, CopiesAFilledDiscOfEveryRadius)
{
    GuardedImage source = labelledSource();
    for (int radius = 1; radius <= 15; ++radius) {
        GuardedImage destination;
        stamp(destination, 20, 19, source, 18, 21, radius);
        const auto offsets = stampedOffsets(destination, 20, 19, 18, 21);
        SCOPED_TRACE(radius);
        // Inside the disc means within half a pixel of the true circle.
        for (int y = -radius - 1; y <= radius + 1; ++y)
            for (int x = -radius - 1; x <= radius + 1; ++x) {
                const double distance = std::hypot(x, y);
                if (distance <= radius - 0.5) {
                    EXPECT_TRUE(offsets.count({x, y})) << x << "," << y;
                }
                if (distance >= radius + 0.5) {
                    EXPECT_FALSE(offsets.count({x, y})) << x << "," << y;
                }
            }
        EXPECT_TRUE(offsets.count({0, radius}) && offsets.count({0, -radius}));
        EXPECT_TRUE(offsets.count({radius, 0}) && offsets.count({-radius, 0}));
    }
}

TEST(DiscStamp, RadiusTenRowsFollowTheOctant)
{
    // The octant begins (0, 10), (1, 10), (2, 10), (3, 10), (4, 9), (5, 9), (6, 8), (7, 7).
    GuardedImage source = labelledSource(), destination;
    stamp(destination, 20, 20, source, 20, 20, 10);
    const auto offsets = stampedOffsets(destination, 20, 20, 20, 20);
    const std::pair<int, int> halfWidths[] = {{10, 3}, {9, 5}, {8, 6}, {7, 7}, {0, 10}};
    for (auto [row, halfWidth] : halfWidths)
        for (int sign : {1, -1}) {
            EXPECT_TRUE(offsets.count({halfWidth, sign * row}) && offsets.count({-halfWidth, sign * row}))
                << row;
            EXPECT_FALSE(offsets.count({halfWidth + 1, sign * row})) << row;
        }
}

TEST(DiscStamp, CentrePixelAndEmptyRadius)
{
    GuardedImage source = labelledSource(), destination;
    stamp(destination, 5, 6, source, 7, 8, 0);
    stamp(destination, 5, 6, source, 7, 8, -3);
    EXPECT_TRUE(stampedOffsets(destination, 5, 6, 7, 8).empty());

    stamp(destination, 5, 6, source, 7, 8, 1);
    const size_t to = size_t(height - 6) * stride + 3 * 5, from = size_t(height - 8) * stride + 3 * 7;
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_EQ(destination.image()[to + channel], source.image()[from + channel]);
}

TEST(DiscStamp, ClipsAtEveryBorderOfBothImages)
{
    GuardedImage source = labelledSource();
    // Centres on the corners and past the borders, including Y = 0, whose row
    // H - 0 lies one past the last row.
    const int places[][2] = {{0, 0},   {0, height}, {width - 1, 0}, {width - 1, height},
                             {-5, 20}, {45, 20},    {20, -5},       {20, 47}};
    for (const auto& dst : places)
        for (const auto& src : places) {
            GuardedImage destination;
            stamp(destination, dst[0], dst[1], source, src[0], src[1], 10);
            ASSERT_TRUE(destination.guardsIntact());
            // What was copied still came from the matching source pixel.
            stampedOffsets(destination, dst[0], dst[1], src[0], src[1]);
            // The row padding past the last pixel stays untouched.
            auto image = destination.image();
            for (int row = 0; row < height; ++row) ASSERT_EQ(image[size_t(row) * stride + 3 * width], guard);
        }
    EXPECT_TRUE(source.guardsIntact());
}

TEST(CircleOutlineImage, WritesRedOnTheOutlineOnly)
{
    for (int radius = 1; radius <= 15; ++radius) {
        GuardedImage canvas;
        drawFillCircleBrezem(20, 20, height, stride, canvas.image(), radius);
        int red = 0;
        auto image = canvas.image();
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) {
                const size_t at = size_t(row) * stride + 3 * column;
                if (image[at] != 255) continue;
                ++red;
                EXPECT_EQ(image[at + 1], 0);
                EXPECT_NEAR(std::hypot(column - 20, row - (height - 20)), radius, 0.75) << radius;
            }
        EXPECT_GE(red, 4 * radius);  // a closed outline has at least this many pixels
    }

    GuardedImage single;
    drawFillCircleBrezem(3, 4, height, stride, single.image(), 0);
    EXPECT_EQ(single.image()[size_t(height - 4) * stride + 9], 255);

    GuardedImage edge;
    drawFillCircleBrezem(0, 0, height, stride, edge.image(), 15);
    drawFillCircleBrezem(width, height, height, stride, edge.image(), 15);
    EXPECT_TRUE(edge.guardsIntact());
}
