// The control box as data: corners, faces, texture coordinates, collision
// triangles and the grown picking box, held against the box's geometry.
#include "controls/qvcontrolbox.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cmath>
#include <set>
#include <utility>

namespace {

glm::vec3 positionOf(const std::vector<float>& v, size_t vertex)
{
    const size_t i = vertex * qvBoxFloatsPerVertex;
    return {v[i], v[i + 1], v[i + 2]};
}
glm::vec2 texCoordOf(const std::vector<float>& v, size_t vertex)
{
    const size_t i = vertex * qvBoxFloatsPerVertex + 3;
    return {v[i], v[i + 1]};
}
glm::vec3 normalOf(const std::vector<float>& v, size_t vertex)
{
    const size_t i = vertex * qvBoxFloatsPerVertex + 5;
    return {v[i], v[i + 1], v[i + 2]};
}

float triangleArea(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    return glm::length(glm::cross(b - a, c - a)) / 2.0f;
}

}  // namespace

TEST(ControlBox, CornersSitOnTheCentredBox)
{
    const std::vector<float> v = qvControlBoxVertices(2.0f, 1.0f, 0.1f);
    ASSERT_EQ(v.size(), 288u);
    EXPECT_EQ(positionOf(v, 0), glm::vec3(-1.0f, -0.5f, -0.05f));
    EXPECT_EQ(positionOf(v, 8), glm::vec3(1.0f, 0.5f, 0.05f));
    // Every vertex is a corner of the box.
    for (size_t k = 0; k < qvBoxVertexCount; ++k) {
        const glm::vec3 p = positionOf(v, k);
        EXPECT_FLOAT_EQ(std::abs(p.x), 1.0f);
        EXPECT_FLOAT_EQ(std::abs(p.y), 0.5f);
        EXPECT_FLOAT_EQ(std::abs(p.z), 0.05f);
    }
}

TEST(ControlBox, EachFaceCoversItsSideWithOutwardNormals)
{
    const float w = 3.0f, h = 2.0f, d = 0.5f;
    const std::vector<float> v = qvControlBoxVertices(w, h, d);
    const glm::vec3 half(w / 2, h / 2, d / 2);
    // back, front, left, right, bottom, top
    const glm::vec3 outward[6] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}};
    const float faceArea[6] = {w * h, w * h, h * d, h * d, w * d, w * d};
    for (size_t face = 0; face < 6; ++face) {
        float area = 0.0f;
        std::set<std::pair<float, float>> corners;
        for (size_t k = face * 6; k < face * 6 + 6; ++k) {
            EXPECT_EQ(normalOf(v, k), outward[face]) << "vertex " << k;
            // On the face's plane: the coordinate along the normal is the half extent.
            EXPECT_FLOAT_EQ(glm::dot(positionOf(v, k), outward[face]),
                            glm::dot(half, glm::abs(outward[face])));
            const glm::vec2 uv = texCoordOf(v, k);
            EXPECT_TRUE((uv.x == 0.0f || uv.x == 1.0f) && (uv.y == 0.0f || uv.y == 1.0f));
            corners.insert({uv.x, uv.y});
        }
        area +=
            triangleArea(positionOf(v, face * 6), positionOf(v, face * 6 + 1), positionOf(v, face * 6 + 2));
        area += triangleArea(positionOf(v, face * 6 + 3), positionOf(v, face * 6 + 4),
                             positionOf(v, face * 6 + 5));
        EXPECT_NEAR(area, faceArea[face], 1e-5f) << "face " << face;
        EXPECT_EQ(corners.size(), 4u) << "the texture spans the whole face " << face;
    }
    // The front face maps the image upright: u grows with x, v with y.
    for (size_t k = 6; k < 12; ++k) {
        EXPECT_EQ(texCoordOf(v, k).x, positionOf(v, k).x > 0 ? 1.0f : 0.0f);
        EXPECT_EQ(texCoordOf(v, k).y, positionOf(v, k).y > 0 ? 1.0f : 0.0f);
    }
}

TEST(ControlBox, CollisionTrianglesKeepTheExactSurface)
{
    const float w = 2.0f, h = 1.0f, d = 0.4f;
    const std::vector<float> v = qvControlBoxVertices(w, h, d);
    const std::vector<Triangle> triangles = qvControlBoxTriangles(v);
    ASSERT_EQ(triangles.size(), 12u);
    float surface = 0.0f;
    for (const Triangle& t : triangles) {
        EXPECT_EQ(t.vertexA.w, 1.0f);
        EXPECT_EQ(t.vertexB.w, 1.0f);
        EXPECT_EQ(t.vertexC.w, 1.0f);
        surface += triangleArea(glm::vec3(t.vertexA), glm::vec3(t.vertexB), glm::vec3(t.vertexC));
    }
    EXPECT_NEAR(surface, 2.0f * (w * h + w * d + h * d), 1e-5f);
    // A partial triangle at the end of a list is not made up.
    std::vector<float> shortList(v.begin(), v.begin() + 4 * qvBoxFloatsPerVertex);
    EXPECT_EQ(qvControlBoxTriangles(shortList).size(), 1u);
}

TEST(ControlBox, PickingBoxIsThreePercentLarger)
{
    const std::vector<float> v = qvControlBoxVertices(2.0f, 1.0f, 0.1f);
    const std::unique_ptr<QvAABB> box = qvControlBoxAABB(v);
    EXPECT_EQ(box->getBoxVertices().size(), 108u);
    EXPECT_EQ(box->getBoxTriangles().size(), 12u);
    EXPECT_FLOAT_EQ(box->minX, -1.03f);
    EXPECT_FLOAT_EQ(box->maxX, 1.03f);
    EXPECT_FLOAT_EQ(box->minY, -0.515f);
    EXPECT_FLOAT_EQ(box->maxY, 0.515f);
    EXPECT_FLOAT_EQ(box->maxZ, 0.0515f);
    // The triangles keep the drawn size.
    EXPECT_FLOAT_EQ(box->getBoxTriangles()[0].vertexA.x, -1.0f);
}

TEST(ControlBox, FlatBoxStillHasTrianglesAndBounds)
{
    const std::vector<float> v = qvControlBoxVertices(1.0f, 1.0f, 0.0f);
    const std::unique_ptr<QvAABB> box = qvControlBoxAABB(v);
    EXPECT_EQ(box->getBoxTriangles().size(), 12u);
    EXPECT_EQ(box->minZ, 0.0f);
    EXPECT_EQ(box->maxZ, 0.0f);
    EXPECT_FLOAT_EQ(box->maxX, 0.515f);
    // Front and back faces coincide.
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(positionOf(v, k).z, positionOf(v, k + 6).z);
    }
}

TEST(ImageQuad, QuadStandsOnItsLowerLeftCorner)
{
    const std::vector<float> quad = qvImageQuadVertices(4.0f, 2.0f);
    ASSERT_EQ(quad.size(), 24u);
    // Two triangles covering the 4 x 2 rectangle exactly once.
    float area = 0.0f;
    for (size_t t = 0; t < 2; ++t) {
        const float* a = &quad[t * 12];
        area += std::abs((a[4] - a[0]) * (a[9] - a[1]) - (a[8] - a[0]) * (a[5] - a[1])) / 2.0f;
    }
    EXPECT_FLOAT_EQ(area, 8.0f);
    // Texture coordinates run 0..1 along x and y.
    for (size_t v = 0; v < 6; ++v) {
        EXPECT_FLOAT_EQ(quad[v * 4 + 2], quad[v * 4] / 4.0f);
        EXPECT_FLOAT_EQ(quad[v * 4 + 3], quad[v * 4 + 1] / 2.0f);
    }
    const std::unique_ptr<QvAABB> box = qvImageQuadAABB(quad);
    EXPECT_EQ(box->getBoxTriangles().size(), 2u);
    EXPECT_EQ(box->getBoxVertices().size(), 18u);
    EXPECT_FLOAT_EQ(box->minX, 0.0f);
    EXPECT_FLOAT_EQ(box->maxX, 4.12f);
    EXPECT_FLOAT_EQ(box->maxY, 2.06f);
    EXPECT_EQ(box->maxZ, 0.0f);
}
