// qvlandscapemodel: grid generation, plough and till arithmetic, the brush.
#include "controls/qvlandscapemodel.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr int trianglesPerCell = 2;
const glm::vec3 flatNormal{0.0f, 0.0f, -1.0f};

// The entries (P, A, B) of the six triangles around a grid point: P the shared
// corner, A and B the ones after it in the triangle's own order.
std::array<std::array<std::int64_t, 3>, 6> tillTriangles(std::int64_t i, std::int64_t k)
{
    return {{{i, i + 1, i + 2},
             {i - 2, i - 1, i - 3},
             {i - 4, i - 6, i - 5},
             {i + k + 1, i + k + 2, i + k},
             {i + k + 5, i + k + 3, i + k + 4},
             {i + k - 3, i + k - 2, i + k - 1}}};
}

// Every entry in [lowest, highest] is held by both lists.
bool listsHold(const std::vector<glm::vec3>& vertices, const std::vector<glm::vec3>& normals,
               std::int64_t lowest, std::int64_t highest)
{
    const auto held = static_cast<std::int64_t>(std::min(vertices.size(), normals.size()));
    return lowest >= 0 && highest < held;
}

// v truncated towards zero, when an int holds the result (not for NaN).
std::optional<int> wholeInt(double v)
{
    constexpr double below = double(std::numeric_limits<int>::min()) - 1.0;
    constexpr double above = double(std::numeric_limits<int>::max()) + 1.0;
    if (!(v > below && v < above)) {
        return std::nullopt;
    }
    return int(v);
}

glm::vec3 shadedNormal(glm::vec3 p)
{
    return {std::abs(p.x), std::abs(p.y), -1.0f};
}

}  // namespace

const std::array<QvBrushCell, 21> qvBrushCells{{
    {0, 0, 400},                                                                          // centre
    {-1, 0, 289}, {1, 0, 289},   {0, 1, 289},  {0, -1, 289},                              // ring 1
    {-1, 1, 289}, {-1, -1, 289}, {1, 1, 289},  {1, -1, 289},                              //
    {-2, 0, 196}, {2, 0, 196},   {-2, 1, 196}, {-2, -1, 196}, {2, 1, 196}, {2, -1, 196},  // ring 2,
    {0, 2, 196},  {0, -2, 196},  {-1, 2, 196}, {-1, -2, 196}, {1, 2, 196}, {1, -2, 196},  // no corners
}};

QvLandscapeGrid qvGenerateLandscapeGrid(int displayWidth, int displayHeight, float side, bool shading,
                                        QvTerrainLists lists, std::vector<Triangle>& collision)
{
    QvLandscapeGrid grid;
    grid.columns = qvLandscapeColumns;
    grid.rows = qvLandscapeRows;
    grid.aspectRatio = float(displayWidth / grid.columns);
    grid.displayStepX = float(displayWidth) / float(grid.columns);
    grid.displayStepY = float(displayHeight) / float(grid.rows);
    grid.step = side / float(grid.rows);
    grid.stepU = 1.0f / float(grid.columns);
    grid.stepV = 1.0f / float(grid.rows);

    const float s = grid.step, start = -side / 2.0f + s;
    const std::size_t cells = std::size_t(grid.columns) * grid.rows;
    lists.vertices.reserve(lists.vertices.size() + cells * qvLandscapeEntriesPerCell);
    lists.normals.reserve(lists.normals.size() + cells * qvLandscapeEntriesPerCell);
    lists.textureCoords.reserve(lists.textureCoords.size() + cells * qvLandscapeEntriesPerCell);
    collision.reserve(collision.size() + cells * trianglesPerCell);

    // Running sums, one addition a step, rows bottom to top; v runs against y.
    float y1 = start, vBottom = 1.0f;
    for (int r = 0; r < grid.rows; ++r, y1 += s, vBottom -= grid.stepV) {
        const float y0 = y1 - s, vTop = vBottom - grid.stepV;
        float x1 = start, uRight = grid.stepU;
        for (int c = 0; c < grid.columns; ++c, x1 += s, uRight += grid.stepU) {
            const float x0 = x1 - s, uLeft = uRight - grid.stepU;
            const glm::vec3 cell[] = {{x0, y1, 0}, {x0, y0, 0}, {x1, y1, 0},
                                      {x1, y0, 0}, {x1, y1, 0}, {x0, y0, 0}};
            const glm::vec2 uv[] = {{uLeft, vTop},     {uLeft, vBottom}, {uRight, vTop},
                                    {uRight, vBottom}, {uRight, vTop},   {uLeft, vBottom}};
            for (int e = 0; e < qvLandscapeEntriesPerCell; ++e) {
                lists.vertices.push_back(cell[e]);
                lists.normals.push_back(shading ? shadedNormal(cell[e]) : flatNormal);
                lists.textureCoords.push_back(uv[e]);
            }
            collision.push_back(
                {glm::vec4(cell[0], 1.0f), glm::vec4(cell[1], 1.0f), glm::vec4(cell[2], 1.0f)});
            collision.push_back(
                {glm::vec4(cell[3], 1.0f), glm::vec4(cell[4], 1.0f), glm::vec4(cell[5], 1.0f)});
        }
    }
    return grid;
}

std::vector<Triangle> qvTerrainTriangles(const std::vector<glm::vec3>& vertices)
{
    std::vector<Triangle> triangles;
    triangles.reserve(vertices.size() / 3);
    for (std::size_t k = 0; k + 2 < vertices.size(); k += 3) {
        triangles.push_back({glm::vec4(vertices[k], 1.0f), glm::vec4(vertices[k + 1], 1.0f),
                             glm::vec4(vertices[k + 2], 1.0f)});
    }
    return triangles;
}

std::array<std::int64_t, 6> qvGridPointEntries(std::int64_t index, std::int64_t rowEntries)
{
    const std::int64_t k = rowEntries;
    return {index, index - 2, index - 4, index + k - 3, index + k + 1, index + k + 5};
}

bool qvPlow(std::vector<glm::vec3>& vertices, std::vector<glm::vec3>& normals, int columns, int rows,
            std::int64_t index, float dh)
{
    const std::int64_t k = std::int64_t(columns) * qvLandscapeEntriesPerCell;
    const std::int64_t total = k * rows;
    // The grid's own bound, and the entries themselves: after a clear or a
    // triangulation the lists may be shorter than the grid.
    if (!(4 < index && index < total - (k + 5)) || !listsHold(vertices, normals, index - 4, index + k + 5)) {
        return false;
    }
    for (std::int64_t e : qvGridPointEntries(index, k)) {
        glm::vec3& p = vertices[std::size_t(e)];
        p.z += dh;
        normals[std::size_t(e)] = {std::abs(p.x), std::abs(p.y), p.z};
    }
    return true;
}

bool qvTillHeights(std::vector<glm::vec3>& vertices, std::vector<glm::vec3>& normals, int columns, int rows,
                   std::int64_t index, float dh)
{
    const std::int64_t k = std::int64_t(columns) * qvLandscapeEntriesPerCell;
    const std::int64_t total = k * rows;
    // The lowest entry read is index - 6: an index that is not a cell index
    // could otherwise reach below the list.
    if (!(4 < index && index < total - k) || !listsHold(vertices, normals, index - 6, index + k + 5)) {
        return false;
    }
    for (const auto& [p, a, b] : tillTriangles(index, k)) {
        glm::vec3& corner = vertices[std::size_t(p)];
        corner.z += dh;
        const glm::vec3 n = glm::cross(vertices[std::size_t(a)] - corner, vertices[std::size_t(b)] - corner);
        const glm::vec3 stored{n.x, n.y, -n.z};
        normals[std::size_t(p)] = normals[std::size_t(a)] = normals[std::size_t(b)] = stored;
    }
    return true;
}

bool qvGrassStampFits(int x, int y, int height, int scanLine, std::size_t bytes)
{
    // The disc's last byte inside the buffer, its top row above row 0; in 64
    // bits, so that no brush position overflows the sums.
    const std::int64_t top = std::int64_t(height) - qvGrassRadius - y;
    const std::int64_t lastByte =
        3 * std::int64_t(x) + 32 + (std::int64_t(height) + qvGrassRadius - y) * scanLine;
    return top > 0 && lastByte >= 0 && std::uint64_t(lastByte) < bytes;
}

std::optional<std::int64_t> qvBrushCentreIndex(double x, double y, float displayStepX, float displayStepY,
                                               int columns)
{
    const std::optional<int> column = wholeInt(x / double(displayStepX));
    const std::optional<int> row = wholeInt(y / double(displayStepY));
    if (!column || !row) {
        return std::nullopt;
    }
    const std::int64_t rowEntries = std::int64_t(columns) * qvLandscapeEntriesPerCell;
    // The brush's farthest cell is two rows and two columns away.
    const std::int64_t reach = 2 * std::abs(rowEntries) + 2 * qvLandscapeEntriesPerCell;
    std::int64_t index = 0;
    if (__builtin_mul_overflow(std::int64_t(columns), std::int64_t(*row), &index) ||
        __builtin_add_overflow(index, std::int64_t(*column), &index) ||
        __builtin_mul_overflow(index, std::int64_t(qvLandscapeEntriesPerCell), &index) ||
        index > std::numeric_limits<std::int64_t>::max() - reach ||
        index < std::numeric_limits<std::int64_t>::min() + reach) {
        return std::nullopt;
    }
    return index;
}

std::optional<int> qvBrushImagePixel(int imageSize, int displaySize, double p)
{
    return wholeInt(double(float(imageSize) / float(displaySize)) * p);
}
