// Glyph drawables without OpenGL: quad corners, atlas coordinates, picking box.
#include "qvcharacter3d.h"
#include "qvfont.h"
#include "qvfont2d.h"
#include "qvtext3d.h"
#include "qvtransform.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A 10 x 20 bitmap whose top row is 15 px above the baseline, 2 px right of
// the pen, stored at (100, 50) in the atlas.
Character2D sampleGlyph()
{
    Character2D glyph;
    glyph.size = glm::vec2(10, 20);
    glyph.bearing = glm::vec2(2, 15);
    glyph.rows = 20;
    glyph.atlasRect = glm::vec4(100, 50, 110, 70);
    return glyph;
}

}  // namespace

TEST(GlyphQuad, CoversTheBitmapFromThePenAndScalesItsExtent)
{
    const std::array<float, 24> quad = qvGlyphQuadVertices(sampleGlyph(), 1.0f);
    // Bottom left, top left, top right; top right, bottom right, bottom left.
    const glm::vec2 expected[6] = {{2, -5}, {2, 15}, {12, 15}, {12, 15}, {12, -5}, {2, -5}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(glm::vec2(quad[i * 4], quad[i * 4 + 1]), expected[i]) << i;
        // u runs right, v down from the bitmap's top row.
        EXPECT_EQ(glm::vec2(quad[i * 4 + 2], quad[i * 4 + 3]),
                  glm::vec2((expected[i].x - 2) / 10, (15 - expected[i].y) / 20));
    }
    const std::array<float, 24> scaled = qvGlyphQuadVertices(sampleGlyph(), 3.0f);
    EXPECT_EQ(glm::vec2(scaled[0], scaled[1]), glm::vec2(2, -5));  // the corner is not scaled
    EXPECT_EQ(glm::vec2(scaled[8], scaled[9]), glm::vec2(2 + 30, -5 + 60));
}

TEST(GlyphQuad, AtlasCornersSampleTheGlyphsOwnRectangle)
{
    const std::array<float, 24> quad = qvGlyphQuadVertices(sampleGlyph(), 1.0f);
    const std::array<float, 36> batched = qvGlyphAtlasVertices(sampleGlyph(), glm::mat4(1.0f));
    for (int i = 0; i < 6; ++i) {
        const float* record = batched.data() + i * 6;
        // Scale 1, no transform: the same corners as the quad.
        EXPECT_EQ(glm::vec4(record[0], record[1], record[2], record[3]), glm::vec4(quad[i * 4], quad[i * 4 + 1], 0, 1));
        // Each corner samples the atlas where that corner of the bitmap was copied.
        EXPECT_FLOAT_EQ(record[4] * 1024, 100 + quad[i * 4 + 2] * 10) << i;
        EXPECT_FLOAT_EQ(record[5] * 1024, 50 + quad[i * 4 + 3] * 20) << i;
    }
}

TEST(GlyphQuad, BatchedCornersFollowTheTransformAndAMissingGlyphGivesNothing)
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

    QvChar2D missing(nullptr);
    missing.initBuffers();
    EXPECT_EQ(missing.VAO, 0u);
    EXPECT_EQ(missing.getVertices(), (std::array<float, 36>{}));
}

TEST(Character3DPicking, EveryConsecutiveTripleOfTheStripsIsATriangle)
{
    Character3D mesh;
    for (int i = 0; i < 6; ++i) {
        mesh.wallStrip.push_back(glm::vec3(i, 7, i % 2 ? -200 : 0));
        mesh.frontVertices.push_back(glm::vec3(i, i % 2, 0));
        mesh.backVertices.push_back(glm::vec3(i, i % 2, -100.5f));
    }
    mesh.frontVertices.pop_back();  // 5 front, 6 back, 6 wall vertices
    const QvCharacter3D glyph("QvModel_Char_A", mesh);
    ASSERT_EQ(glyph.meshTriangles.size(), 3u + 4u + 4u);
    EXPECT_EQ(glyph.meshTriangles[0], (std::vector<glm::vec3>{mesh.frontVertices[0], mesh.frontVertices[1],
                                                             mesh.frontVertices[2]}));
    EXPECT_EQ(glyph.meshTriangles[3][0], mesh.backVertices[0]);
    EXPECT_EQ(glyph.meshTriangles.back(), (std::vector<glm::vec3>{mesh.wallStrip[3], mesh.wallStrip[4],
                                                                 mesh.wallStrip[5]}));
}

TEST(Character3DPicking, BoxHugsTheOutlineAndIsClosed)
{
    Character3D mesh;  // an outline wholly at x 1200..2000, y 1500..2400
    mesh.outlinePoints = {{1600, 2400, 0}, {1200, 1500, 0}, {2000, 1500, 0}};
    const QvCharacter3D glyph("QvModel_Char_quote", mesh);
    EXPECT_EQ(glm::vec4(glyph.minX, glyph.maxX, glyph.minY, glyph.maxY), glm::vec4(1200, 2000, 1500, 2400));
    ASSERT_NE(glyph.aabb, nullptr);
    EXPECT_EQ(glm::vec2(glyph.aabb->minY, glyph.aabb->maxY), glm::vec2(1500, 2400));
    EXPECT_EQ(glm::vec2(glyph.aabb->minZ, glyph.aabb->maxZ), glm::vec2(-100, 0));
    EXPECT_EQ(glyph.aabb->getBoxVertices(), glyph.boxCoordinates);
    // Twelve triangles whose areas add up to the box's surface.
    ASSERT_EQ(glyph.aabb->getBoxTriangles().size(), 12u);
    float area = 0;
    for (const Triangle& t : glyph.aabb->getBoxTriangles()) {
        area += 0.5f * glm::length(glm::cross(glm::vec3(t.vertexB - t.vertexA), glm::vec3(t.vertexC - t.vertexA)));
    }
    const float w = 800, h = 900, d = 100;
    EXPECT_FLOAT_EQ(area, 2 * (w * h + w * d + h * d));

    Character3D below;
    below.outlinePoints = {{100, -500, 0}, {300, -100, 0}};
    const QvCharacter3D comma("QvModel_Char_comma", below);
    EXPECT_EQ(glm::vec4(comma.minX, comma.maxX, comma.minY, comma.maxY), glm::vec4(100, 300, -500, -100));
}

TEST(Character3DPicking, FontGlyphsGetTheirOwnBoxesAndTheSpaceNone)
{
    const QvFont3D font("fonts/djsans/DejaVuSans.ttf");
    // The acute accent sits high above the baseline: its box stays up there.
    const Character3D& accent = font.getChar3D(0x00B4);
    const QvCharacter3D acute("QvModel_Char_acute", accent);
    float lowest = accent.outlinePoints.at(0).y;
    for (const glm::vec3& p : accent.outlinePoints) {
        lowest = std::min(lowest, p.y);
    }
    EXPECT_GT(lowest, 1000.0f);
    EXPECT_EQ(acute.minY, lowest);
    EXPECT_EQ(acute.aabb->minY, lowest);

    const QvCharacter3D space("QvModel_Char_space", font.getChar3D(u' '));
    EXPECT_TRUE(space.meshTriangles.empty());
    EXPECT_TRUE(space.boxCoordinates.empty());
    ASSERT_NE(space.aabb, nullptr);
    EXPECT_TRUE(space.aabb->getBoxTriangles().empty());
    EXPECT_TRUE(space.aabb->getBoxVertices().empty());
}

TEST(Character3DOrder, ReadingOrderAndNaNKeys)
{
    const Character3D mesh;
    QvCharacter3D a("a", mesh), b("b", mesh);
    EXPECT_FALSE(a.opEquals(b));
    EXPECT_EQ(a.opCmp(b), 1);
    EXPECT_EQ(b.opCmp(a), 1);
    a.orderKey = glm::vec2(50, 10);
    for (const glm::vec2& later : {glm::vec2(0, 5), glm::vec2(80, 10)}) {  // a lower line; further right
        b.orderKey = later;
        EXPECT_EQ(a.opCmp(b), -1);
        EXPECT_EQ(b.opCmp(a), 1);
    }
    b.orderKey = a.orderKey;
    EXPECT_TRUE(a.opEquals(b));
    EXPECT_EQ(a.opCmp(b), 1);
}
