// Glyph drawables without OpenGL: quad corners, atlas coordinates, picking box.
#include "character3d.h"
#include "qvfont2d.h"
#include "qvtext3d.h"
#include "qvtransform.h"

#include <gtest/gtest.h>

namespace {

// A 10 x 20 bitmap whose top row is 15 px above the baseline, 2 px right of
// the pen, stored at (100, 50) in the atlas.
Character2D sampleGlyph()
{
    Character2D glyph;
    glyph.size = glm::vec2(10, 20);
    glyph.bearing = glm::vec2(2, 15);
    glyph.rows = 20;
    glyph.advance = 14 << 6;
    glyph.atlasRect = glm::vec4(100, 50, 110, 70);
    return glyph;
}

glm::vec2 quadCorner(const std::array<float, 24>& quad, int i)
{
    return {quad[i * 4], quad[i * 4 + 1]};
}

}  // namespace

TEST(GlyphQuad, CoversTheBitmapFromThePen)
{
    const std::array<float, 24> quad = qvGlyphQuadVertices(sampleGlyph(), 1.0f);
    // Two triangles: bottom left, top left, top right; top right, bottom right, bottom left.
    const glm::vec2 expected[6] = {{2, -5}, {2, 15}, {12, 15}, {12, 15}, {12, -5}, {2, -5}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(quadCorner(quad, i), expected[i]) << i;
        // The glyph texture's v runs downwards from the bitmap's top row.
        const float u = quad[i * 4 + 2];
        const float v = quad[i * 4 + 3];
        EXPECT_EQ(u, (expected[i].x - 2) / 10);
        EXPECT_EQ(v, (15 - expected[i].y) / 20);
    }
}

TEST(GlyphQuad, ScaleGrowsTheExtentNotTheCorner)
{
    const std::array<float, 24> quad = qvGlyphQuadVertices(sampleGlyph(), 3.0f);
    EXPECT_EQ(quadCorner(quad, 0), glm::vec2(2, -5));
    EXPECT_EQ(quadCorner(quad, 2), glm::vec2(2 + 30, -5 + 60));
}

TEST(GlyphQuad, AtlasCornersSampleTheGlyphsOwnRectangle)
{
    const Character2D glyph = sampleGlyph();
    const std::array<float, 24> quad = qvGlyphQuadVertices(glyph, 1.0f);
    const std::array<float, 36> batched = qvGlyphAtlasVertices(glyph, glm::mat4(1.0f));
    for (int i = 0; i < 6; ++i) {
        const float* record = batched.data() + i * 6;
        // With scale 1 and no transform both lists have the same corners.
        EXPECT_EQ(glm::vec4(record[0], record[1], record[2], record[3]),
                  glm::vec4(quadCorner(quad, i), 0, 1));
        // Each corner samples the atlas where the same corner of the bitmap was copied.
        const float u = quad[i * 4 + 2];
        const float v = quad[i * 4 + 3];
        EXPECT_FLOAT_EQ(record[4] * 1024, 100 + u * 10) << i;
        EXPECT_FLOAT_EQ(record[5] * 1024, 50 + v * 20) << i;
    }
}

TEST(GlyphQuad, BatchedCornersFollowTheGlyphTransform)
{
    QvTransform transform;
    transform.setTranslation(5, 6, 7);
    transform.setScaling(2, 2, 2);
    const Character2D glyph = sampleGlyph();
    QvChar2D character(&glyph);
    character.setTransform(&transform);
    const std::array<float, 36> vertices = character.getVertices();
    // Bottom left (2, -5) doubled and moved: (9, -4, 7); top right (12, 15): (29, 36, 7).
    EXPECT_EQ(glm::vec4(vertices[0], vertices[1], vertices[2], vertices[3]), glm::vec4(9, -4, 7, 1));
    EXPECT_EQ(glm::vec4(vertices[12], vertices[13], vertices[14], vertices[15]), glm::vec4(29, 36, 7, 1));
}

TEST(GlyphQuad, MissingGlyphGivesNothingToDraw)
{
    QvChar2D character(nullptr);
    character.initBuffers();
    EXPECT_EQ(character.VAO, 0u);
    const std::array<float, 36> vertices = character.getVertices();
    for (const float value : vertices) {
        EXPECT_EQ(value, 0.0f);
    }
}

namespace {

// A hand-made glyph mesh: a strip of 5 front vertices, 4 back vertices, 6
// wall vertices, and an outline lying wholly at x 1200..2000, y 1500..2400.
Character3D sampleMesh()
{
    Character3D mesh;
    for (int i = 0; i < 5; ++i) {
        mesh.frontVertices.push_back(glm::vec3(i, i % 2, 0));
    }
    for (int i = 0; i < 4; ++i) {
        mesh.backVertices.push_back(glm::vec3(i, i % 2, -100.5f));
    }
    for (int i = 0; i < 6; ++i) {
        mesh.wallStrip.push_back(glm::vec3(i, 7, i % 2 ? -200 : 0));
    }
    mesh.outlinePoints = {{1200, 1500, 0}, {2000, 1500, 0}, {1600, 2400, 0}};
    return mesh;
}

float triangleArea(const Triangle& t)
{
    return 0.5f * glm::length(glm::cross(glm::vec3(t.vertexB - t.vertexA), glm::vec3(t.vertexC - t.vertexA)));
}

}  // namespace

TEST(Character3DPicking, EveryConsecutiveTripleOfTheStripsIsATriangle)
{
    const Character3D mesh = sampleMesh();
    const QvCharacter3D glyph("QvModel_Char_A", mesh);
    ASSERT_EQ(glyph.meshTriangles.size(), 3u + 2u + 4u);
    const std::vector<glm::vec3> firstFront = {mesh.frontVertices[0], mesh.frontVertices[1], mesh.frontVertices[2]};
    const std::vector<glm::vec3> firstBack = {mesh.backVertices[0], mesh.backVertices[1], mesh.backVertices[2]};
    const std::vector<glm::vec3> lastWall = {mesh.wallStrip[3], mesh.wallStrip[4], mesh.wallStrip[5]};
    EXPECT_EQ(glyph.meshTriangles[0], firstFront);
    EXPECT_EQ(glyph.meshTriangles[3], firstBack);
    EXPECT_EQ(glyph.meshTriangles.back(), lastWall);
}

TEST(Character3DPicking, BoxReachesTheDefaultBoundsAndIsClosed)
{
    const QvCharacter3D glyph("QvModel_Char_A", sampleMesh());
    // The outline lies above y = 1000 and right of x = 1000; the box still reaches both.
    EXPECT_EQ(glyph.minX, 1000.0f);
    EXPECT_EQ(glyph.maxX, 2000.0f);
    EXPECT_EQ(glyph.minY, 1000.0f);
    EXPECT_EQ(glyph.maxY, 2400.0f);
    ASSERT_NE(glyph.aabb, nullptr);
    EXPECT_EQ(glyph.aabb->minX, 1000.0f);
    EXPECT_EQ(glyph.aabb->maxY, 2400.0f);
    EXPECT_EQ(glyph.aabb->minZ, -100.0f);
    EXPECT_EQ(glyph.aabb->maxZ, 0.0f);
    ASSERT_EQ(glyph.boxCoordinates.size(), 108u);
    EXPECT_EQ(glyph.aabb->getBoxVertices(), glyph.boxCoordinates);

    // Twelve triangles covering the six faces: their areas add up to the surface.
    const std::vector<Triangle>& triangles = glyph.aabb->getBoxTriangles();
    ASSERT_EQ(triangles.size(), 12u);
    const float w = 1000, h = 1400, d = 100;
    float area = 0;
    for (const Triangle& t : triangles) {
        area += triangleArea(t);
        EXPECT_EQ(t.vertexA.w, 1.0f);
    }
    EXPECT_FLOAT_EQ(area, 2 * (w * h + w * d + h * d));
}

TEST(Character3DPicking, GlyphBelowTheBaselineAndEmptyGlyph)
{
    Character3D below;
    below.outlinePoints = {{100, -500, 0}, {300, -100, 0}};
    const QvCharacter3D low("QvModel_Char_comma", below);
    EXPECT_EQ(low.minY, -500.0f);
    EXPECT_EQ(low.maxY, 0.0f);
    EXPECT_EQ(low.minX, 100.0f);

    // A space: no triangles, and a box from the default bounds alone.
    const Character3D space;
    const QvCharacter3D blank("QvModel_Char_space", space);
    EXPECT_TRUE(blank.meshTriangles.empty());
    EXPECT_EQ(glm::vec4(blank.minX, blank.maxX, blank.minY, blank.maxY), glm::vec4(1000, 0, 1000, 0));
    EXPECT_EQ(glm::vec2(blank.aabb->minX, blank.aabb->maxX), glm::vec2(0, 1000));
}

TEST(Character3DOrder, ReadingOrderAndNaNKeys)
{
    const Character3D mesh;
    QvCharacter3D a("a", mesh), b("b", mesh);
    EXPECT_FALSE(a.opEquals(b));
    EXPECT_EQ(a.opCmp(b), 1);
    EXPECT_EQ(b.opCmp(a), 1);

    a.orderKey = glm::vec2(50, 10);  // upper line
    b.orderKey = glm::vec2(0, 5);
    EXPECT_EQ(a.opCmp(b), -1);
    EXPECT_EQ(b.opCmp(a), 1);
    b.orderKey = glm::vec2(80, 10);  // same line, further right
    EXPECT_EQ(a.opCmp(b), -1);
    EXPECT_EQ(b.opCmp(a), 1);
    b.orderKey = a.orderKey;
    EXPECT_TRUE(a.opEquals(b));
    EXPECT_EQ(a.opCmp(b), 1);
}
