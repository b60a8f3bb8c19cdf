// Raster helpers: a filled disc stamped from one RGB byte image into another,
// a red circle outline, and the circle outline points that the Delaunay
// triangulation draws around each triangle.
//
// Images are packed 3-byte pixels, rows one after another, y pointing up:
// pixel (X, Y) of an image of height H and row stride S starts at byte
// (H - Y) * S + 3 X. Every pixel that would fall outside an image (row or
// column) is skipped, so callers need not keep the disc inside.
#pragma once

#include <glm/vec2.hpp>

#include <cstdint>
#include <span>
#include <vector>

// Copies the filled disc of `radius` around (srcX, srcY) in src to the same
// offsets around (dstX, dstY) in dst. Radius 0 or less copies nothing.
void drawCircleBrezem(int dstX, int dstY, int srcX, int srcY, int dstHeight, int dstStride,
                      std::span<std::uint8_t> dst, int srcHeight, int srcStride,
                      std::span<const std::uint8_t> src, int radius);

// The disc's mirroring steps, each taking the offsets found so far. Copies the
// mirror of every point across the diagonal, then continues with createReflectionX.
void createReflectionXY(const std::vector<glm::vec2>& points, int dstX, int dstY, int srcX, int srcY,
                        int dstHeight, int dstStride, std::span<std::uint8_t> dst, int srcHeight,
                        int srcStride, std::span<const std::uint8_t> src);
// Copies the mirror of every point across the x axis, then continues with createFullReflection.
void createReflectionX(const std::vector<glm::vec2>& points, int dstX, int dstY, int srcX, int srcY,
                       int dstHeight, int dstStride, std::span<std::uint8_t> dst, int srcHeight,
                       int srcStride, std::span<const std::uint8_t> src);
// Copies every point and fills each row from its mirror across the y axis to it.
void createFullReflection(const std::vector<glm::vec2>& points, int dstX, int dstY, int srcX, int srcY,
                          int dstHeight, int dstStride, std::span<std::uint8_t> dst, int srcHeight,
                          int srcStride, std::span<const std::uint8_t> src);

// Writes red pixels on the outline of a circle (not filled, despite the name).
void drawFillCircleBrezem(int centreX, int centreY, int height, int stride, std::span<std::uint8_t> image,
                          int radius);

// Appends (x, y, 0) outline points of a circle on a grid of 1/1000 units,
// four per step. A negative radius, or one above 100 units, appends nothing.
void drawCircle(glm::vec2 centre, float radius, std::vector<float>& out);
