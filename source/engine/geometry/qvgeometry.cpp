// Disc stamp, circle outline and Delaunay circle points on integer grids.
#include "engine/geometry/qvgeometry.h"

#include <cmath>
#include <cstdlib>
#include <list>

namespace {

constexpr int bytesPerPixel = 3;
constexpr double circleGrid = 1000.0;            // drawCircle works in 1/1000 units
constexpr double largestCircleGridRadius = 1e5;  // beyond this a circle is skipped, not drawn
constexpr std::uint8_t outlineRed[bytesPerPixel] = {255, 0, 0};

// Byte offset of the pixel at (column, row), or -1 when it lies outside the image.
long long pixelOffset(long long column, long long row, int height, int stride, size_t size)
{
    if (row < 0 || row >= height || column < 0 || (column + 1) * bytesPerPixel > stride) return -1;
    const long long offset = row * stride + column * bytesPerPixel;
    return offset + bytesPerPixel <= (long long)size ? offset : -1;
}

// The two images and the centres of one stamp.
struct Stamp {
    int dstX, dstY, srcX, srcY, dstHeight, dstStride;
    std::span<std::uint8_t> dst;
    int srcHeight, srcStride;
    std::span<const std::uint8_t> src;

    // Copies the pixel at offset (x, y) from around the source centre to around the destination centre.
    void copy(long long x, long long y) const
    {
        const long long from =
            pixelOffset(x + srcX, (long long)srcHeight - srcY - y, srcHeight, srcStride, src.size());
        const long long to =
            pixelOffset(x + dstX, (long long)dstHeight - dstY - y, dstHeight, dstStride, dst.size());
        if (from < 0 || to < 0) return;
        for (int channel = 0; channel < bytesPerPixel; ++channel) dst[to + channel] = src[from + channel];
    }
};

// Appends the mirror of every point under `mirror`, copying each mirrored pixel.
template <class Mirror>
std::vector<glm::vec2> addMirrors(const std::vector<glm::vec2>& points, const Stamp& stamp, Mirror mirror)
{
    std::vector<glm::vec2> all = points;
    for (const glm::vec2& point : points) {
        const glm::vec2 mirrored = mirror(point);
        stamp.copy((long long)mirrored.x, (long long)mirrored.y);
        all.push_back(mirrored);
    }
    return all;
}

void writeOutlinePixel(long long column, long long row, int height, int stride, std::span<std::uint8_t> image)
{
    const long long at = pixelOffset(column, row, height, stride, image.size());
    if (at < 0) return;
    for (int channel = 0; channel < bytesPerPixel; ++channel) image[at + channel] = outlineRed[channel];
}

// Walks one quadrant of a circle from (0, r) to (r, 0), calling visit(x, y)
// at every step; each step goes sideways, down or diagonally, to whichever
// point lies nearest the circle.
template <class Visit>
void walkQuadrant(long long radius, Visit visit)
{
    const long long radiusSquared = radius * radius;
    auto miss = [&](long long x, long long y) { return std::llabs(x * x + y * y - radiusSquared); };
    long long x = 0, y = radius;
    while (y >= 0) {
        visit(x, y);
        const long long diagonal = miss(x + 1, y - 1), down = miss(x, y - 1), sideways = miss(x + 1, y);
        if (diagonal <= down && diagonal <= sideways) {
            ++x;
            --y;
        } else if (down <= sideways) {
            --y;
        } else {
            ++x;
        }
    }
}

}  // namespace

void drawCircleBrezem(int dstX, int dstY, int srcX, int srcY, int dstHeight, int dstStride,
                      std::span<std::uint8_t> dst, int srcHeight, int srcStride,
                      std::span<const std::uint8_t> src, int radius)
{
    const Stamp stamp{dstX, dstY, srcX, srcY, dstHeight, dstStride, dst, srcHeight, srcStride, src};
    std::vector<glm::vec2> octant;
    if (radius > 0) {
        // One octant from the top, (0, r), down to the diagonal, the point on
        // it included. x grows by exactly one a step, so the mirror across the
        // diagonal gives every row below the octant's lowest one a span.
        int x = 0, y = radius, decision = 1 - radius;
        while (x <= y) {
            octant.emplace_back(float(x), float(y));
            stamp.copy(x, y);
            if (decision < 0) {
                decision += 2 * x + 3;
            } else {
                decision += 2 * (x - y) + 5;
                --y;
            }
            ++x;
        }
    }
    createReflectionXY(octant, dstX, dstY, srcX, srcY, dstHeight, dstStride, dst, srcHeight, srcStride, src);
}

void createReflectionXY(const std::vector<glm::vec2>& points, int dstX, int dstY, int srcX, int srcY,
                        int dstHeight, int dstStride, std::span<std::uint8_t> dst, int srcHeight,
                        int srcStride, std::span<const std::uint8_t> src)
{
    const Stamp stamp{dstX, dstY, srcX, srcY, dstHeight, dstStride, dst, srcHeight, srcStride, src};
    const auto all = addMirrors(points, stamp, [](glm::vec2 p) { return glm::vec2(p.y, p.x); });
    createReflectionX(all, dstX, dstY, srcX, srcY, dstHeight, dstStride, dst, srcHeight, srcStride, src);
}

void createReflectionX(const std::vector<glm::vec2>& points, int dstX, int dstY, int srcX, int srcY,
                       int dstHeight, int dstStride, std::span<std::uint8_t> dst, int srcHeight,
                       int srcStride, std::span<const std::uint8_t> src)
{
    const Stamp stamp{dstX, dstY, srcX, srcY, dstHeight, dstStride, dst, srcHeight, srcStride, src};
    const auto all = addMirrors(points, stamp, [](glm::vec2 p) { return glm::vec2(p.x, -p.y); });
    createFullReflection(all, dstX, dstY, srcX, srcY, dstHeight, dstStride, dst, srcHeight, srcStride, src);
}

void createFullReflection(const std::vector<glm::vec2>& points, int dstX, int dstY, int srcX, int srcY,
                          int dstHeight, int dstStride, std::span<std::uint8_t> dst, int srcHeight,
                          int srcStride, std::span<const std::uint8_t> src)
{
    const Stamp stamp{dstX, dstY, srcX, srcY, dstHeight, dstStride, dst, srcHeight, srcStride, src};
    std::list<glm::vec2> pairs;  // p_n, q_n, ..., p_1, q_1 with q the mirror of p across the y axis
    for (const glm::vec2& p : points) {
        pairs.push_front({-p.x, p.y});
        pairs.push_front(p);
        stamp.copy((long long)p.x, (long long)p.y);
    }
    while (pairs.size() >= 2) {
        const glm::vec2 u = pairs.back();
        pairs.pop_back();
        const glm::vec2 w = pairs.back();
        pairs.pop_back();
        const long long ux = (long long)u.x, wx = (long long)w.x, row = (long long)u.y;
        const bool sameSide = (u.x < 0 && w.x < 0) || (u.x > 0 && w.x > 0);
        const long long length = sameSide ? std::llabs(ux - wx) : std::llabs(ux) + std::llabs(wx);
        for (long long k = 0; k <= length; ++k) stamp.copy(ux + k, row);
    }
}

void drawFillCircleBrezem(int centreX, int centreY, int height, int stride, std::span<std::uint8_t> image,
                          int radius)
{
    if (radius < 0) return;
    const long long row = (long long)height - centreY;
    walkQuadrant(radius, [&](long long x, long long y) {
        writeOutlinePixel(centreX + x, row + y, height, stride, image);
        writeOutlinePixel(centreX + x, row - y, height, stride, image);
        writeOutlinePixel(centreX - x, row - y, height, stride, image);
        writeOutlinePixel(centreX - x, row + y, height, stride, image);
    });
}

void drawCircle(glm::vec2 centre, float radius, std::vector<float>& out)
{
    // A nearly straight triangle has an enormous circumcircle: drawing it would
    // flood the list, so such circles are left out.
    const double gridRadius = double(radius) * circleGrid;
    if (!(gridRadius >= 0.0) || gridRadius > largestCircleGridRadius) return;
    if (!std::isfinite(centre.x) || !std::isfinite(centre.y)) return;
    const double cx = std::trunc(double(centre.x) * circleGrid),
                 cy = std::trunc(double(centre.y) * circleGrid);
    auto put = [&](long long px, long long py) {
        out.push_back(float((cx + px) / circleGrid));
        out.push_back(float((cy + py) / circleGrid));
        out.push_back(0.0f);
    };
    walkQuadrant((long long)gridRadius, [&](long long x, long long y) {
        put(x, y);
        put(x, -y);
        put(-x, -y);
        put(-x, y);
    });
}
