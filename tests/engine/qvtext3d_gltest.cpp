// Glyph drawables on a real context: draw a glyph, read the pixels back.
#include "glcontext.h"
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

bool isGlyphColour(const std::array<uint8_t, 4>& p)
{
    return p[0] > 240 && p[1] < 15 && p[2] < 15;
}

bool isBackground(const std::array<uint8_t, 4>& p)
{
    return p[0] < 15 && p[1] < 15 && p[2] < 15;
}

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
    camera->projection = glm::ortho(0.0f, float(frameSize), 0.0f, float(frameSize), -1.0f, 1.0f);
    return camera;
}

class GlyphDrawing : public testing::Test {
protected:
    GlyphDrawing() : context(frameSize, frameSize), font("fonts/djsans/DejaVuSans.ttf"), camera(pixelCamera())
    {
        const float version = context.glslVersion();
        text2D = std::make_unique<QvShader>(QvShader::pathFor(version, "text2D", ".vert"),
                                            QvShader::pathFor(version, "text2D", ".frag"));
        context.bind();
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }

    // Compares the frame with the glyph's bitmap drawn with its pen at (penX, penY):
    // full coverage shows the glyph colour, no coverage (and outside the quad) the background.
    void expectGlyphAt(const Character2D& glyph, int penX, int penY)
    {
        const int left = penX + static_cast<int>(glyph.bearing.x);
        const int top = penY + static_cast<int>(glyph.bearing.y);  // one above the top row
        const int width = static_cast<int>(glyph.size.x);
        const int rows = static_cast<int>(glyph.rows);
        int glyphPixels = 0;
        for (int y = 0; y < frameSize; ++y) {
            for (int x = 0; x < frameSize; ++x) {
                const int k = x - left;
                const int r = top - 1 - y;
                int coverage = 0;
                if (k >= 0 && k < width && r >= 0 && r < rows) {
                    coverage = font.atlas[(static_cast<int>(glyph.atlasRect.y) + r) * 1024 +
                                          static_cast<int>(glyph.atlasRect.x) + k];
                }
                const auto p = context.pixel(x, y);
                if (coverage == 255) {
                    ++glyphPixels;
                    ASSERT_TRUE(isGlyphColour(p)) << x << "," << y;
                } else if (coverage == 0) {
                    ASSERT_TRUE(isBackground(p)) << x << "," << y;
                }
            }
        }
        EXPECT_GT(glyphPixels, 50);
    }

    testsupport::GlContext context;
    QvFont2D font;
    std::unique_ptr<Camera> camera;
    std::unique_ptr<QvShader> text2D;
};

}  // namespace

TEST_F(GlyphDrawing, Char2DDrawsTheBitmapAtItsPen)
{
    const Character2D* glyph = font.findCharacter(u'A');
    ASSERT_NE(glyph, nullptr);
    QvTransform place;
    place.setTranslation(10, 12, 0);
    QvChar2D character(glyph);
    character.setTransform(&place);
    character.shader = text2D.get();
    character.initBuffers();
    character.draw(*text2D, false, *camera, glyphColour);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    expectGlyphAt(*glyph, 10, 12);
}

TEST_F(GlyphDrawing, BatchedAtlasVerticesDrawTheSameGlyph)
{
    const float version = context.glslVersion();
    QvShader batched(QvShader::pathFor(version, "text2DStatic", ".vert"),
                     QvShader::pathFor(version, "text2DStatic", ".frag"));
    const Character2D* glyph = font.findCharacter(u'\u0416');
    ASSERT_NE(glyph, nullptr);
    QvTransform place;
    place.setTranslation(8, 14, 0);
    QvChar2D character(glyph);
    character.setTransform(&place);
    const std::array<float, 36> vertices = character.getVertices();

    GLuint vao = 0;
    GLuint vbo = 0;
    glGenVertexArrays(1, &vao);
    glGenBuffers(1, &vbo);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof(vertices), vertices.data(), GL_STATIC_DRAW);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 24, nullptr);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<void*>(16));
    glEnableVertexAttribArray(1);
    batched.useProgram();
    batched.setUniform("model", glm::mat4(1.0f));
    batched.setUniform("camera", camera->getCameraMatrix());
    batched.setUniform("projection", camera->getProjectionMatrix());
    batched.setUniform("diffuseColor", glyphColour);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, font.atlasTexture);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glBindVertexArray(0);
    glDeleteBuffers(1, &vbo);
    glDeleteVertexArrays(1, &vao);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    expectGlyphAt(*glyph, 8, 14);
}

namespace {

// Outline units are 1/64 px: scaled down by 64 the mesh of a glyph covers
// the same pixels as its bitmap, with the pen at (penX, penY).
void placeOutline(QvTransform& place, float penX, float penY)
{
    place.setTranslation(penX, penY, 0);
    place.setScaling(1.0f / 64, 1.0f / 64, 1.0f / 64);
}

}  // namespace

TEST_F(GlyphDrawing, Character2DDrawsTheBitmapAtItsPen)
{
    const Character2D* glyph = font.findCharacter(u'g');
    ASSERT_NE(glyph, nullptr);
    QvCharacter2D character("QvModel_Char_g", glyph);
    character.transform->setTranslation(20, 20, 0);
    character.initBuffers();
    character.draw(*text2D, false, *camera, glyphColour);
    EXPECT_EQ(character.currentColor, glyphColour);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    expectGlyphAt(*glyph, 20, 20);
}

TEST_F(GlyphDrawing, Character3DDrawsTheOutlineWithAFreshProgram)
{
    // A program no other object has drawn with: the glyph's own draw must
    // send the camera and projection for anything to show.
    const float version = context.glslVersion();
    QvShader light(QvShader::pathFor(version, "light", ".vert"), QvShader::pathFor(version, "light", ".frag"));
    const QvFont3D outlines("fonts/djsans/DejaVuSans.ttf");
    const Character2D* bitmap = font.findCharacter(u'A');
    ASSERT_NE(bitmap, nullptr);

    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    camera->projection = glm::ortho(0.0f, float(frameSize), 0.0f, float(frameSize), -10.0f, 10.0f);
    QvCharacter3D character("QvModel_Char_A", outlines.getChar3D(u'A'));
    placeOutline(*character.transform, 10, 12);
    character.initBuffers();
    character.draw(light, false, *camera, glyphColour);
    GLboolean restart = GL_FALSE;
    glGetBooleanv(GL_PRIMITIVE_RESTART, &restart);
    EXPECT_EQ(restart, GL_TRUE);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDisable(GL_DEPTH_TEST);

    // The rasterised outline and FreeType's coverage may differ by a fraction
    // of a pixel at the edges, so only pixels whose whole neighbourhood is
    // fully covered (or empty) in the bitmap are held against the frame.
    const int left = 10 + static_cast<int>(bitmap->bearing.x);
    const int top = 12 + static_cast<int>(bitmap->bearing.y);
    const auto coverage = [&](int x, int y) {
        const int k = x - left;
        const int r = top - 1 - y;
        if (k < 0 || k >= static_cast<int>(bitmap->size.x) || r < 0 || r >= static_cast<int>(bitmap->rows)) {
            return 0;
        }
        return static_cast<int>(font.atlas[(static_cast<int>(bitmap->atlasRect.y) + r) * 1024 +
                                           static_cast<int>(bitmap->atlasRect.x) + k]);
    };
    int inside = 0;
    int outside = 0;
    for (int y = 1; y < frameSize - 1; ++y) {
        for (int x = 1; x < frameSize - 1; ++x) {
            int lowest = 255, highest = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    lowest = std::min(lowest, coverage(x + dx, y + dy));
                    highest = std::max(highest, coverage(x + dx, y + dy));
                }
            }
            if (lowest == 255) {
                ++inside;
                EXPECT_TRUE(isGlyphColour(context.pixel(x, y))) << x << "," << y;
            } else if (highest == 0) {
                ++outside;
                EXPECT_TRUE(isBackground(context.pixel(x, y))) << x << "," << y;
            }
        }
    }
    EXPECT_GT(inside, 20);
    EXPECT_GT(outside, 1000);
}
