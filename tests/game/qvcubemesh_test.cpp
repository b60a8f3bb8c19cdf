// The letter tile's mesh: a closed unit cube whose listed normals agree with
// its winding, and a picking box 0.1 larger on every side.
#include <gtest/gtest.h>

#include <glm/geometric.hpp>

#include <map>
#include <tuple>

#include "game/qvcubemesh.h"

TEST(CubeMesh, IsAUnitCubeWithOutwardNormalsMatchingItsWinding)
{
    const std::vector<float> v = qvCubeVertices();
    ASSERT_EQ(v.size(), 288u);
    const std::vector<Triangle> triangles = qvCubeTriangles(v);
    ASSERT_EQ(triangles.size(), 12u);
    const glm::vec3 centre(0.5f, 0.5f, -0.5f);
    std::map<std::tuple<int, int, int>, int> faces;  // normal -> triangles
    float area = 0.0f;
    for (std::size_t t = 0; t < triangles.size(); ++t) {
        const Triangle& tri = triangles[t];
        const glm::vec3 a(tri.vertexA), b(tri.vertexB), c(tri.vertexC);
        const glm::vec3 n = glm::cross(b - a, c - a);
        area += glm::length(n) / 2.0f;
        const float* listed = &v[(t * 3) * qvCubeFloatsPerVertex + 5];
        const glm::vec3 normal(listed[0], listed[1], listed[2]);
        EXPECT_EQ(glm::normalize(n), normal) << "triangle " << t;
        EXPECT_GT(glm::dot(normal, (a + b + c) / 3.0f - centre), 0.0f) << "triangle " << t;  // outward
        for (int corner = 0; corner < 3; ++corner) {
            const float* p = &v[(t * 3 + corner) * qvCubeFloatsPerVertex];
            EXPECT_TRUE(p[0] == 0 || p[0] == 1);
            EXPECT_TRUE(p[1] == 0 || p[1] == 1);
            EXPECT_TRUE(p[2] == 0 || p[2] == -1);
            EXPECT_TRUE(p[3] == 0 || p[3] == 1);  // texture coordinates in the unit square
            EXPECT_TRUE(p[4] == 0 || p[4] == 1);
        }
        ++faces[{int(normal.x), int(normal.y), int(normal.z)}];
    }
    EXPECT_FLOAT_EQ(area, 6.0f);  // six unit faces, nothing doubled or missing
    EXPECT_EQ(faces.size(), 6u);
    for (const auto& [normal, count] : faces) EXPECT_EQ(count, 2);
    // The face order is back, front, left, right, bottom, top.
    const glm::vec3 order[] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}};
    for (int f = 0; f < 6; ++f) {
        const float* listed = &v[(f * 6) * qvCubeFloatsPerVertex + 5];
        EXPECT_EQ(glm::vec3(listed[0], listed[1], listed[2]), order[f]) << "face " << f;
    }
}

TEST(CubeMesh, PickingBoxIsATenthLargerOnEverySide)
{
    const std::vector<float> box = qvCubeAABBVertices(qvCubeVertices());
    ASSERT_EQ(box.size(), 108u);
    QvAABB aabb;
    aabb.addBoxVertices(box);
    EXPECT_FLOAT_EQ(aabb.minX, -0.1f);
    EXPECT_FLOAT_EQ(aabb.maxX, 1.1f);
    EXPECT_FLOAT_EQ(aabb.minY, -0.1f);
    EXPECT_FLOAT_EQ(aabb.maxY, 1.1f);
    EXPECT_FLOAT_EQ(aabb.minZ, -1.1f);
    EXPECT_FLOAT_EQ(aabb.maxZ, 0.1f);
}
