// Glyph drawables on a real context: draw a glyph, read the pixels back.
#include "glcontext.h"
#include "glyphfixtures.h"
#include "qvcamera.h"
#include "qvfont.h"
#include "qvfont2d.h"
#include "qvshader.h"
#include "qvtext3d.h"
#include "qvtransform.h"

#include <glm/ext/matrix_clip_space.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

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
