// Glyph drawables without OpenGL: quad corners, atlas coordinates, picking box.
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
