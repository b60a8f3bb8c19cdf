// GL object ownership: every drawable's names are counted while it is built,
// rebuilt and dropped; a rebuild must replace its names and the drop must
// give back everything it made.
#include "glcontext.h"
#include "glyphfixtures.h"
#include "materialfixtures.h"
#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvmaterial.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvskybox.h"
#include "engine/model/qvmodel.h"
#include "engine/text/qvfont2d.h"
#include "engine/text/qvtext3d.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace {

using Counts = std::array<std::int64_t, static_cast<size_t>(QvGLObjectKind::count)>;

Counts liveCounts()
{
    Counts counts{};
    for (size_t kind = 0; kind < counts.size(); ++kind) {
        counts[kind] = qvLiveGLObjects(static_cast<QvGLObjectKind>(kind));
    }
    return counts;
}

std::string describe(const Counts& c)
{
    return "arrays " + std::to_string(c[0]) + ", buffers " + std::to_string(c[1]) + ", textures " +
           std::to_string(c[2]) + ", programs " + std::to_string(c[3]) + ", shaders " + std::to_string(c[4]) +
           ", framebuffers " + std::to_string(c[5]) + ", renderbuffers " + std::to_string(c[6]);
}

// Builds a drawable, rebuilds it twice and drops it. The build must hold
// names, each rebuild must leave the count as the build left it, and the
// drop must give back every one.
template <typename Drawable>
void expectOwnedNames(const std::string& what, const std::function<std::unique_ptr<Drawable>()>& build,
                      const std::function<void(Drawable&)>& rebuild)
{
    const Counts before = liveCounts();
    {
        const std::unique_ptr<Drawable> drawable = build();
        const Counts built = liveCounts();
        EXPECT_GT(qvLiveGLObjects(), 0) << what;
        EXPECT_NE(built, before) << what << " holds no names";
        for (int round = 0; round < 2; ++round) {
            rebuild(*drawable);
            EXPECT_EQ(liveCounts(), built) << what << " after a rebuild: " << describe(liveCounts())
                                           << " instead of " << describe(built);
        }
    }
    EXPECT_EQ(liveCounts(), before) << what << " left names behind: " << describe(liveCounts());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << what;
}

QvShader shipped(const char* name)
{
    return QvShader(std::string("shaders/3.3/") + name + ".vert",
                    std::string("shaders/3.3/") + name + ".frag");
}

class OwnedNames : public testing::Test {
protected:
    testsupport::GlContext context{16, 16};
};

}  // namespace

TEST_F(OwnedNames, OwnersCountAndReleaseTheirNames)
{
    const std::int64_t before = qvLiveGLObjects(QvGLObjectKind::buffer);
    QvBuffer first = QvBuffer::create();
    glBindBuffer(GL_ARRAY_BUFFER, first.get());
    const GLuint firstName = first.get();
    EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::buffer), before + 1);

    // Moving hands the name over; assigning over a name deletes it.
    QvBuffer second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), firstName);
    second = QvBuffer::create();
    EXPECT_EQ(glIsBuffer(firstName), GL_FALSE);
    EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::buffer), before + 1);
    second.reset();
    EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::buffer), before);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(OwnedNames, OffscreenTargetOwnersCountAndReleaseTheirNames)
{
    // The fixture's context draws into a framebuffer of its own, held by owners too.
    const std::int64_t framebuffers = qvLiveGLObjects(QvGLObjectKind::framebuffer);
    const std::int64_t renderbuffers = qvLiveGLObjects(QvGLObjectKind::renderbuffer);
    EXPECT_GE(framebuffers, 1);
    EXPECT_GE(renderbuffers, 2);

    GLuint targetName = 0;
    GLuint colourName = 0;
    {
        const QvFramebuffer target = QvFramebuffer::create();
        const QvRenderbuffer colour = QvRenderbuffer::create();
        targetName = target.get();
        colourName = colour.get();
        glBindFramebuffer(GL_FRAMEBUFFER, target.get());
        glBindRenderbuffer(GL_RENDERBUFFER, colour.get());
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 4, 4);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour.get());
        EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
        EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::framebuffer), framebuffers + 1);
        EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::renderbuffer), renderbuffers + 1);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
        context.bind();
    }
    EXPECT_EQ(glIsFramebuffer(targetName), GL_FALSE);
    EXPECT_EQ(glIsRenderbuffer(colourName), GL_FALSE);
    EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::framebuffer), framebuffers);
    EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::renderbuffer), renderbuffers);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(OwnedNames, MaterialObjectBoxRebuildDeletesTheBuffersItReplaces)
{
    QvShader flat = shipped("default");
    expectOwnedNames<materialfixtures::TestBox>(
        "box",
        [&] {
            auto box = std::make_unique<materialfixtures::TestBox>("QvModel_Box");
            box->shader = &flat;
            box->build(2.0f, 2.0f, 2.0f);
            box->initBuffers();
            return box;
        },
        [](materialfixtures::TestBox& box) {
            const GLuint oldWire = box.aabbVBO.get();
            const GLuint oldLine = box.lineVAO.get();
            box.initBuffers();
            EXPECT_EQ(glIsBuffer(oldWire), GL_FALSE);
            EXPECT_EQ(glIsVertexArray(oldLine), GL_FALSE);
        });

    // A box taken away before the rebuild takes its wire frame with it.
    materialfixtures::TestBox box("QvModel_Box");
    box.build(1.0f, 1.0f, 1.0f);
    box.initBuffers();
    const Counts withBox = liveCounts();
    box.aabb.reset();
    box.initBuffers();
    EXPECT_FALSE(box.aabbVAO);
    EXPECT_EQ(liveCounts()[static_cast<size_t>(QvGLObjectKind::buffer)],
              withBox[static_cast<size_t>(QvGLObjectKind::buffer)] - 1);
}

TEST_F(OwnedNames, LineSkyAndShaderHoldTheirNames)
{
    QvShader flat = shipped("default");
    const auto camera = materialfixtures::frontCamera(16, 16);
    expectOwnedNames<Line>(
        "line", [&] { return std::make_unique<Line>(*camera, flat); },
        [](Line& line) { line._initBuffers(); });

    QvShader skyShader = shipped("skybox");
    expectOwnedNames<QvSkybox>(
        "sky", [&] { return std::make_unique<QvSkybox>("QvModel_Sky", skyShader); },
        [](QvSkybox& sky) { sky.initBuffers(); });

    // Stage objects live only between compile and link.
    expectOwnedNames<QvShader>(
        "shader",
        [] { return std::make_unique<QvShader>("shaders/3.3/light.vert", "shaders/3.3/light.frag"); },
        [](QvShader& shader) {
            shader.loadFromFile("shaders/3.3/texture.vert", "shaders/3.3/texture.frag");
            EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::shader), 0);
        });
}

TEST_F(OwnedNames, FontAndGlyphDrawablesHoldTheirNames)
{
    const Counts empty = liveCounts();
    {
        QvFont2D font(fonttest::dejaVuFile);
        const Character2D* a = font.findCharacter(u'a');
        ASSERT_NE(a, nullptr);
        // One texture a glyph and the atlas.
        EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::texture) - empty[2],
                  static_cast<std::int64_t>(font.characters.size()) + 1);

        expectOwnedNames<QvChar2D>(
            "2D glyph",
            [&] {
                auto glyph = std::make_unique<QvChar2D>(a);
                glyph->initBuffers();
                return glyph;
            },
            [](QvChar2D& glyph) { glyph.initBuffers(); });
        expectOwnedNames<QvCharacter2D>(
            "2D glyph object",
            [&] {
                auto glyph = std::make_unique<QvCharacter2D>("QvModel_Char", a);
                glyph->initBuffers();
                return glyph;
            },
            [](QvCharacter2D& glyph) { glyph.initBuffers(); });
        expectOwnedNames<QvCharacter3D>(
            "3D glyph",
            [] {
                auto glyph = std::make_unique<QvCharacter3D>("QvModel_Char",
                                                             glyphtest::dejaVuOutlines().getChar3D(u'A'));
                glyph->initBuffers();
                return glyph;
            },
            [](QvCharacter3D& glyph) {
                const GLuint oldFront = glyph.frontVAO.get();
                glyph.initBuffers();
                EXPECT_EQ(glIsVertexArray(oldFront), GL_FALSE);
            });
    }
    EXPECT_EQ(liveCounts(), empty) << "the font's textures go with it";
}

TEST_F(OwnedNames, ModelHoldsItsMeshesAndTextures)
{
    const std::string path = std::string(VELMORIN_TEST_DATA) + "/models/panel.obj";
    expectOwnedNames<QvModel>(
        "model",
        [&] {
            testing::internal::CaptureStdout();
            auto model = std::make_unique<QvModel>("QvModel_Panel", path);
            testing::internal::GetCapturedStdout();
            EXPECT_EQ(model->meshes.size(), 3u);
            return model;
        },
        [](QvModel& model) {
            for (size_t i = 0; i < model.meshes.size(); ++i) {
                model.meshes[i]->setupMesh(model.qvMeshes[i].vertexStride);
            }
        });
}
