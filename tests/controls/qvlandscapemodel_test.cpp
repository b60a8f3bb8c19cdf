// The terrain grid and its brush as plain lists: the grid's size and cells,
// a plough that moves exactly the six entries of one grid point, the till's
// normals, index checks against the lists, and the grass disc's margins.
#include "controls/qvlandscapemodel.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>

#include <limits>
#include <set>

namespace {

struct Terrain {
    std::vector<glm::vec3> vertices, normals;
    std::vector<glm::vec2> texCoords;
    std::vector<Triangle> collision;
    QvLandscapeGrid grid;

    explicit Terrain(float side = 1.0f, bool shading = false)
    {
        grid = qvGenerateLandscapeGrid(1024, 768, side, shading, {vertices, normals, texCoords}, collision);
    }
    int k() const { return grid.columns * qvLandscapeEntriesPerCell; }
};

// Entries whose position differs between the two lists.
std::set<size_t> moved(const std::vector<glm::vec3>& before, const std::vector<glm::vec3>& after)
{
    std::set<size_t> entries;
    for (size_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) entries.insert(i);
    return entries;
}

}  // namespace

TEST(LandscapeGrid, DefaultGridCoversTheSquareCellByCell)
{
    const Terrain t;
    EXPECT_EQ(t.vertices.size(), 240000u);
    EXPECT_EQ(t.normals.size(), 240000u);
    EXPECT_EQ(t.texCoords.size(), 240000u);
    EXPECT_EQ(t.collision.size(), 80000u);
    EXPECT_FLOAT_EQ(t.grid.step, 0.005f);
    EXPECT_FLOAT_EQ(t.grid.displayStepX, 5.12f);
    EXPECT_FLOAT_EQ(t.grid.displayStepY, 3.84f);
    EXPECT_EQ(t.grid.aspectRatio, 5.0f);

    // Cell (0, 0) spans -0.5 .. -0.495 in x and y; its first triangle is its
    // upper-left corner, lower-left, upper-right.
    EXPECT_NEAR(t.vertices[0].x, -0.5f, 1e-6);
    EXPECT_NEAR(t.vertices[0].y, -0.495f, 1e-6);
    EXPECT_NEAR(t.vertices[1].y, -0.5f, 1e-6);
    EXPECT_NEAR(t.vertices[2].x, -0.495f, 1e-6);
    // The last cell reaches the far corner; the triangles tile the square.
    EXPECT_NEAR(t.vertices.back().x, 0.495f, 1e-4);
    EXPECT_NEAR(t.vertices[t.vertices.size() - 2].x, 0.5f, 1e-4);
    double area = 0.0;
    for (size_t i = 0; i < t.vertices.size(); i += 3)
        area += 0.5 *
                glm::length(glm::cross(t.vertices[i + 1] - t.vertices[i], t.vertices[i + 2] - t.vertices[i]));
    EXPECT_NEAR(area, 1.0, 1e-3);
    // v runs against y: the bottom row has v 1 at its lower edge.
    EXPECT_FLOAT_EQ(t.texCoords[1].y, 1.0f);
    EXPECT_NEAR(t.texCoords[0].y, 0.995f, 1e-6);
    EXPECT_EQ(t.normals[0], glm::vec3(0, 0, -1));

    const Terrain shaded(1.0f, true);
    EXPECT_EQ(shaded.normals[0],
              glm::vec3(std::abs(shaded.vertices[0].x), std::abs(shaded.vertices[0].y), -1));
    EXPECT_EQ(qvTerrainTriangles(t.vertices).size(), 80000u);
    EXPECT_TRUE(qvTerrainTriangles({{0, 0, 0}, {1, 0, 0}}).empty());
}

TEST(LandscapeBrush, PloughMovesOneGridPointAndNothingElse)
{
    Terrain t;
    const auto before = t.vertices;
    const std::int64_t index = (5 * 200 + 7) * 6;  // row 5, column 7
    ASSERT_TRUE(qvPlow(t.vertices, t.normals, 200, 200, index, 0.25f));
    const std::set<size_t> entries = moved(before, t.vertices);
    ASSERT_EQ(entries.size(), 6u);
    const glm::vec3 corner = before[size_t(index)];
    for (size_t e : entries) {
        // All six are the same grid point, the upper-left corner of the cell.
        EXPECT_NEAR(glm::distance(glm::vec2(before[e]), glm::vec2(corner)), 0.0f, 1e-6f);
        EXPECT_FLOAT_EQ(t.vertices[e].z, 0.25f);
        EXPECT_EQ(t.normals[e], glm::vec3(std::abs(t.vertices[e].x), std::abs(t.vertices[e].y), 0.25f));
    }
    // ... and that point is shared by no other entry of the grid.
    size_t sharing = 0;
    for (const glm::vec3& v : before)
        if (glm::distance(glm::vec2(v), glm::vec2(corner)) < 1e-6f) ++sharing;
    EXPECT_EQ(sharing, 6u);
}

TEST(LandscapeBrush, IndexChecksHoldAgainstGridAndLists)
{
    Terrain t;
    const std::int64_t total = 240000, k = t.k();
    EXPECT_FALSE(qvPlow(t.vertices, t.normals, 200, 200, 4, 1.0f));
    EXPECT_TRUE(qvPlow(t.vertices, t.normals, 200, 200, 5, 1.0f));  // the smallest index that acts
    EXPECT_FALSE(qvPlow(t.vertices, t.normals, 200, 200, total - (k + 5), 1.0f));
    EXPECT_FALSE(qvPlow(t.vertices, t.normals, 200, 200, -6, 1.0f));

    // A till index that is not a cell index would read entry -1.
    const auto heights = t.vertices;
    EXPECT_FALSE(qvTillHeights(t.vertices, t.normals, 200, 200, 5, 1.0f));
    EXPECT_FALSE(qvTillHeights(t.vertices, t.normals, 200, 200, total - k, 1.0f));
    EXPECT_EQ(moved(heights, t.vertices).size(), 0u);

    // After a clear the lists are shorter than the grid: nothing is written.
    std::vector<glm::vec3> cleared, normals(10);
    EXPECT_FALSE(qvPlow(cleared, normals, 200, 200, 1206, 1.0f));
    EXPECT_FALSE(qvTillHeights(cleared, normals, 200, 200, 1206, 1.0f));
    std::vector<glm::vec3> shortNormals(t.normals.begin(), t.normals.begin() + 100);
    EXPECT_FALSE(qvPlow(t.vertices, shortNormals, 200, 200, 1206, 1.0f));
}

TEST(LandscapeBrush, TillGivesTheTrianglesAroundAPointTheirNormals)
{
    Terrain t;
    const std::int64_t index = (10 * 200 + 10) * 6;
    ASSERT_TRUE(qvTillHeights(t.vertices, t.normals, 200, 200, index, 0.0f));
    // On the flat grid every recomputed normal is (0, 0, -s^2).
    const float s2 = t.grid.step * t.grid.step;
    for (std::int64_t e : qvGridPointEntries(index, t.k())) {
        EXPECT_NEAR(t.normals[size_t(e)].z, -s2, 1e-9f);
        EXPECT_NEAR(glm::length(glm::vec2(t.normals[size_t(e)])), 0.0f, 1e-9f);
    }

    // Raised, each triangle's stored normal is its face normal with z negated.
    ASSERT_TRUE(qvTillHeights(t.vertices, t.normals, 200, 200, index, 0.01f));
    const glm::vec3 p = t.vertices[size_t(index)], a = t.vertices[size_t(index + 1)],
                    b = t.vertices[size_t(index + 2)];
    EXPECT_FLOAT_EQ(p.z, 0.01f);
    const glm::vec3 face = glm::cross(a - p, b - p);
    EXPECT_NEAR(glm::distance(t.normals[size_t(index + 1)], glm::vec3(face.x, face.y, -face.z)), 0.0f, 1e-9f);
    EXPECT_GT(glm::length(glm::vec2(face)), 0.0f);  // the raised corner tilts the face
}

TEST(LandscapeBrush, CentreCellOfADisplayPosition)
{
    // Columns an int holds have a cell index; farther ones have none.
    const double lastWhole = std::numeric_limits<int>::max();
    EXPECT_EQ(qvBrushCentreIndex(lastWhole, 0, 1.0f, 1.0f, 200), std::int64_t(lastWhole) * 6);
    EXPECT_FALSE(qvBrushCentreIndex(lastWhole + 1.0, 0, 1.0f, 1.0f, 200).has_value());

    EXPECT_EQ(qvBrushCentreIndex(0, 0, 5.12f, 3.84f, 200), 0);
    EXPECT_EQ(qvBrushCentreIndex(1023.9, 767.9, 5.12f, 3.84f, 200), (199 * 200 + 199) * 6);
    EXPECT_EQ(qvBrushCentreIndex(5.12 * 3 + 1, 3.84 * 2 + 1, 5.12f, 3.84f, 200), (2 * 200 + 3) * 6);
}

TEST(LandscapeBrush, GrassDiscKeepsItsMarginFromTheImageEdges)
{
    const int height = 512, scanLine = 1536;
    const size_t bytes = size_t(height) * scanLine;
    EXPECT_TRUE(qvGrassStampFits(100, 100, height, scanLine, bytes));
    EXPECT_TRUE(qvGrassStampFits(100, 11, height, scanLine, bytes));
    // Rows near the picture's top (y below 11) reach past the buffer's end;
    // rows at height - 10 and above would start above row 0.
    EXPECT_FALSE(qvGrassStampFits(100, 10, height, scanLine, bytes));
    EXPECT_TRUE(qvGrassStampFits(100, height - 11, height, scanLine, bytes));
    EXPECT_FALSE(qvGrassStampFits(100, height - 10, height, scanLine, bytes));
    EXPECT_FALSE(qvGrassStampFits(100, 100, height, scanLine, 0));  // an image that did not load
    // The farthest pixels a brush position can have stay out, without overflow.
    EXPECT_FALSE(qvGrassStampFits(std::numeric_limits<int>::max(), 100, height, scanLine, bytes));
    EXPECT_FALSE(qvGrassStampFits(std::numeric_limits<int>::min(), 100, height, scanLine, bytes));
}
