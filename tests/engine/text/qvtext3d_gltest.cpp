// Glyph drawables on a real context: draw a glyph, read the pixels back.
#include "glcontext.h"
#include "glyphfixtures.h"
#include "engine/core/qvcamera.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvfont2d.h"
#include "engine/gl/qvshader.h"
#include "engine/text/qvtext3d.h"
#include "engine/core/qvtransform.h"
#include "engine/text/qvcharacter3d.h"

#include <gtest/gtest.h>
#include <glm/ext/matrix_clip_space.hpp>
#include <algorithm>
#include <memory>
#include <cmath>

namespace {

constexpr int frameSize = 64;
constexpr glm::vec4 glyphColour(1.0f, 0.0f, 0.0f, 1.0f);

// One pixel of the frame per unit: an orthographic camera over the frame.
std::unique_ptr<Camera> pixelCamera()
{
    CameraData data;
    data.width = frameSize;
    data.height = frameSize;
    data.fov = 45.0f;
    data.position = glm::vec3(0.0f);
    data.target = glm::vec3(0.0f, 0.0f, -1.0f);
    data.up = glm::vec3(0.0f, 1.0f, 0.0f);
    auto camera = std::make_unique<Camera>(data);
    camera->view = glm::mat4(1.0f);
    camera->projection = glm::ortho(0.0f, float(frameSize), 0.0f, float(frameSize), -10.0f, 10.0f);
    return camera;
}

class GlyphDrawing : public testing::Test {
protected:
    GlyphDrawing() : context(frameSize, frameSize), font(fonttest::dejaVuFile), camera(pixelCamera())
    {
        context.bind();
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }

    QvShader program(const char* name)
    {
        const float version = context.glslVersion();
        return QvShader(QvShader::pathFor(version, name, ".vert"), QvShader::pathFor(version, name, ".frag"));
    }

    // FreeType's coverage of the glyph's bitmap at frame pixel (x, y) with the pen at (penX, penY).
    int coverage(const Character2D& glyph, int penX, int penY, int x, int y) const
    {
        const int k = x - penX - static_cast<int>(glyph.bearing.x);
        const int r = penY + static_cast<int>(glyph.bearing.y) - 1 - y;
        if (k < 0 || k >= static_cast<int>(glyph.size.x) || r < 0 || r >= static_cast<int>(glyph.rows)) {
            return 0;
        }
        return font.atlas[(static_cast<int>(glyph.atlasRect.y) + r) * 1024 +
                          static_cast<int>(glyph.atlasRect.x) + k];
    }

    // Holds the frame against the glyph's bitmap: fully covered pixels show the
    // glyph colour, uncovered ones the background. With margin 1 only pixels
    // whose whole neighbourhood agrees are held, for a rasterised outline that
    // may differ from FreeType's coverage by a fraction of a pixel.
    void expectGlyphAt(const Character2D& glyph, int penX, int penY, int margin)
    {
        int inside = 0;
        int outside = 0;
        for (int y = margin; y < frameSize - margin; ++y) {
            for (int x = margin; x < frameSize - margin; ++x) {
                int lowest = 255, highest = 0;
                for (int dy = -margin; dy <= margin; ++dy) {
                    for (int dx = -margin; dx <= margin; ++dx) {
                        lowest = std::min(lowest, coverage(glyph, penX, penY, x + dx, y + dy));
                        highest = std::max(highest, coverage(glyph, penX, penY, x + dx, y + dy));
                    }
                }
                const auto p = context.pixel(x, y);
                if (lowest == 255) {
                    ++inside;
                    ASSERT_TRUE(p[0] > 240 && p[1] < 15 && p[2] < 15) << "glyph missing at " << x << "," << y;
                } else if (highest == 0) {
                    ++outside;
                    ASSERT_TRUE(p[0] < 15 && p[1] < 15 && p[2] < 15) << "stray colour at " << x << "," << y;
                }
            }
        }
        EXPECT_GT(inside, 20);
        EXPECT_GT(outside, 1000);
    }

    testsupport::GlContext context;
    QvFont2D font;
    std::unique_ptr<Camera> camera;
};

}  // namespace

TEST_F(GlyphDrawing, Char2DDrawsTheBitmapAtItsPen)
{
    QvShader text2D = program("text2D");
    const Character2D* glyph = font.findCharacter(u'A');
    ASSERT_NE(glyph, nullptr);
    QvTransform place;
    place.setTranslation(10, 12, 0);
    QvChar2D character(glyph);
    character.setTransform(&place);
    character.initBuffers();
    character.draw(text2D, false, *camera, glyphColour);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    expectGlyphAt(*glyph, 10, 12, 0);
}

TEST_F(GlyphDrawing, Character2DDrawsTheBitmapAtItsPen)
{
    QvShader text2D = program("text2D");
    const Character2D* glyph = font.findCharacter(u'\u0416');
    ASSERT_NE(glyph, nullptr);
    QvCharacter2D character("QvModel_Char_Zhe", glyph);
    character.transform->setTranslation(8, 20, 0);
    character.initBuffers();
    character.draw(text2D, false, *camera, glyphColour);
    EXPECT_EQ(character.currentColor, glyphColour);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    expectGlyphAt(*glyph, 8, 20, 0);
}

TEST_F(GlyphDrawing, Character3DDrawsTheOutlineWithAFreshProgram)
{
    // No other object has drawn with this program: the glyph's own draw must
    // send the camera and projection for anything to show.
    QvShader light = program("light");
    const QvFont3D& outlines = glyphtest::dejaVuOutlines();
    const Character2D* bitmap = font.findCharacter(u'A');
    ASSERT_NE(bitmap, nullptr);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    QvCharacter3D character("QvModel_Char_A", outlines.getChar3D(u'A'));
    // Outline units are 1/64 px: scaled down by 64 the mesh covers its bitmap's pixels.
    character.transform->setTranslation(10, 12, 0);
    character.transform->setScaling(1.0f / 64, 1.0f / 64, 1.0f / 64);
    character.initBuffers();
    character.draw(light, false, *camera, glyphColour);
    GLboolean restart = GL_FALSE;
    glGetBooleanv(GL_PRIMITIVE_RESTART, &restart);
    EXPECT_EQ(restart, GL_TRUE);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    expectGlyphAt(*bitmap, 10, 12, 1);
}

TEST_F(GlyphDrawing, Character3DOfASpaceDrawsNothingEvenWithItsWireBoxOn)
{
    QvShader light = program("light");
    const QvFont3D& outlines = glyphtest::dejaVuOutlines();
    QvCharacter3D space("QvModel_Char_space", outlines.getChar3D(u' '));
    space.setShader(&light);
    space.drawAABB = true;
    space.transform->setTranslation(10, 12, 0);
    space.initBuffers();
    space.draw(light, false, *camera, glyphColour);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    for (int y = 0; y < frameSize; ++y) {
        for (int x = 0; x < frameSize; ++x) {
            ASSERT_EQ(context.pixel(x, y)[0], 0) << x << "," << y;
        }
    }
}

// Glyph drawables without OpenGL: quad corners, atlas coordinates, picking box.
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
        EXPECT_EQ(glm::vec4(record[0], record[1], record[2], record[3]),
                  glm::vec4(quad[i * 4], quad[i * 4 + 1], 0, 1));
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
    EXPECT_EQ(missing.VAO.get(), 0u);
    EXPECT_EQ(missing.getVertices(), (std::array<float, 36>{}));
}

TEST(Character3DPicking, TrianglesFollowEachStripAndNoTripleSpansTwo)
{
    // A diamond ring: its face is cut into four strips and it has two walls.
    const Character3D ring = glyphtest::buildPolygons({glyphtest::outerDiamond, glyphtest::innerDiamond});
    ASSERT_EQ(ring.contours.size(), 2u);
    const QvCharacter3D glyph("QvModel_Char_o", ring);

    // Summed by kind, the triangle areas are the face's area (front, back) and
    // the walls' area (perimeter x depth); a triple across two strips adds more.
    double front = 0, back = 0, walls = 0;
    for (const std::vector<glm::vec3>& t : glyph.meshTriangles) {
        ASSERT_EQ(t.size(), 3u);
        const double area = 0.5 * glm::length(glm::cross(t[1] - t[0], t[2] - t[0]));
        const bool flat = t[0].z == t[1].z && t[1].z == t[2].z;
        (flat && t[0].z == 0 ? front : flat ? back : walls) += area;
    }
    EXPECT_NEAR(front, 15000.0, 1e-3);
    EXPECT_NEAR(back, 15000.0, 1e-3);
    const double perimeter = 4 * std::sqrt(2.0) * (100 + 50);
    EXPECT_NEAR(walls, perimeter * 200, 1.0);

    // The front triangles come first, in strip order.
    const std::vector<glm::vec3> first = glyph.meshTriangles.front();
    EXPECT_EQ(first,
              (std::vector<glm::vec3>{ring.frontVertices[0], ring.frontVertices[1], ring.frontVertices[2]}));
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
        area += 0.5f *
                glm::length(glm::cross(glm::vec3(t.vertexB - t.vertexA), glm::vec3(t.vertexC - t.vertexA)));
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
    const QvFont3D& font = glyphtest::dejaVuOutlines();
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

TEST(GlyphLinePosition, PositionXIsTheLinePositionsX)
{
    Character2D record;
    QvCharacter2D flat("a", &record);
    EXPECT_TRUE(std::isnan(flat.positionX));
    flat.positionX = 1.5f;
    EXPECT_EQ(flat.linePosition.x, 1.5f);
    const Character3D mesh;
    QvCharacter3D extruded("a", mesh);
    extruded.linePosition.x = -2.0f;
    EXPECT_EQ(extruded.positionX, -2.0f);
}
