// The interface in each language, from the glyph placements of a real scene:
// every caption ends left of its value, the texts on the information monitor
// stay on its glass and off the heading that its picture carries (found in
// the picture itself), and the VSync switch's words keep a readable size.
#include "scene/qvscene.h"

#include "controls/qvcanvas.h"
#include "controls/qvlabel.h"
#include "controls/qvswitch.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvloadimage.h"
#include "engine/text/qvtext3d.h"
#include "glcontext.h"
#include "languagerun.h"
#include "scene/qvinfotextfit.h"
#include "scene/qvscenelayout.h"
#include "widgets/qvlowerpanelwidget3d.h"

#include <epoxy/gl.h>
#include <glm/mat4x4.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

void frame(QvScene& scene, double time)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    scene.camera->frameTime = time;
    scene.renderScene();
}

// The drawn quad of a glyph (six atlas vertices) in the frame that `toFrame`
// maps world coordinates into.
QvFaceRect quadIn(const std::array<float, 36>& vertices, const glm::mat4& toFrame)
{
    QvFaceRect r{std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                 -std::numeric_limits<float>::max(), -std::numeric_limits<float>::max()};
    for (std::size_t v = 0; v < 6; ++v) {
        const glm::vec4 p = toFrame * glm::vec4(vertices[v * 6], vertices[v * 6 + 1], vertices[v * 6 + 2], 1.0f);
        r = {std::min(r.left, p.x), std::min(r.bottom, p.y), std::max(r.right, p.x), std::max(r.top, p.y)};
    }
    return r;
}

// Every glyph quad a text control draws now (string text or buffer slots).
std::vector<QvFaceRect> glyphQuads(const QvTextControl& control, const glm::mat4& toFrame)
{
    std::vector<QvFaceRect> quads;
    if (control.showsBuffer()) {
        for (std::size_t i = 0; i < control.slotsInUse(); ++i) {
            const QvGlyphSlot& slot = control.cGlyphs[i];
            if (slot.glyph != nullptr) {
                quads.push_back(quadIn(qvGlyphAtlasVertices(*slot.glyph, slot.transform->getMatrix()), toFrame));
            }
        }
    } else {
        for (const auto& glyph : control.glyphs2D) quads.push_back(quadIn(glyph->getVertices(), toFrame));
    }
    return quads;
}

float rightmost(const std::vector<QvFaceRect>& quads)
{
    float x = -std::numeric_limits<float>::max();
    for (const QvFaceRect& q : quads) x = std::max(x, q.right);
    return x;
}

float leftmost(const std::vector<QvFaceRect>& quads)
{
    float x = std::numeric_limits<float>::max();
    for (const QvFaceRect& q : quads) x = std::min(x, q.left);
    return x;
}

// The bright pixels on the information picture's glass (its lettering), as a
// rectangle on the face: the picture spans the face, row 0 at the bottom.
QvFaceRect headingInk()
{
    TextureLoader loader;
    const std::vector<std::uint8_t> pixels = loader.loadImage("textures/monitor_info_black.jpg");
    const int w = loader.getImageWidth();
    const int h = loader.getImageHeight();
    const int scanLine = TextureLoader::scanLineWidth(w);
    constexpr int kGlassInset = 46;  // the 40-pixel bezel and the glass's rim
    int x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (int y = kGlassInset; y < h - kGlassInset; ++y) {
        for (int x = kGlassInset; x < w - kGlassInset; ++x) {
            const std::uint8_t* p = &pixels[std::size_t(y) * scanLine + std::size_t(x) * 3];
            if (p[0] + p[1] + p[2] > 120) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
        }
    }
    const float face = scenelayout::kMonitorFace;
    return {face * x0 / w - face / 2, face * y0 / h - face / 2, face * (x1 + 1) / w - face / 2,
            face * (y1 + 1) / h - face / 2};
}

// Glyph quads on the glass and clear of the heading's lettering.
void expectOnGlassOffHeading(const std::vector<QvFaceRect>& quads, const QvFaceRect& ink, const char* what)
{
    for (const QvFaceRect& q : quads) {
        if (q.right <= q.left) continue;  // a space
        EXPECT_TRUE(qvInfoGlass.contains(q)) << what << " off the glass at (" << q.left << ", " << q.bottom << ")";
        EXPECT_FALSE(ink.overlaps(q)) << what << " over the heading at (" << q.left << ", " << q.bottom << ")";
    }
}

}  // namespace

// The heading the help text keeps clear of is where the picture has it.
TEST(SceneLanguageGL, HeadingLiesWhereTheHelpTextKeepsClearOfIt)
{
    const QvFaceRect ink = headingInk();
    ASSERT_LT(ink.left, ink.right) << "no heading found on the picture";
    EXPECT_TRUE(qvInfoHeading.contains(ink))
        << ink.left << " " << ink.bottom << " " << ink.right << " " << ink.top;
    EXPECT_TRUE(qvInfoGlass.contains(qvInfoHeading));
}

// Before Start: the help text on the glass and off the heading in every
// language, every code unit drawn; English keeps the Part's place and size.
TEST(SceneLanguageGL, HelpTextStaysOnTheGlassClearOfTheHeading)
{
    testsupport::GlContext context(kWidth, kHeight);
    const QvFaceRect ink = headingInk();
    for (const std::int32_t language : {0, 1, 2}) {
        SCOPED_TRACE(language);
        const testsupport::LanguageRunDirectory run(language);
        QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
        frame(scene, 1.0);
        const QvLabel& help = *scene.infoText;
        const glm::mat4 toFace = glm::inverse(scene.infoCanvas->getTransform()->getMatrix());
        const std::vector<QvFaceRect> quads = glyphQuads(help, toFace);
        EXPECT_EQ(quads.size(), help.text.size());
        expectOnGlassOffHeading(quads, ink, "help text");
        if (language == 0) {
            const glm::vec4 centre = toFace * help.getTransform()->getMatrix() * glm::vec4(0, 0, 0, 1);
            EXPECT_NEAR(centre.x, 0.0f, 1e-4f);
            EXPECT_NEAR(centre.y, 0.0f, 1e-4f);
            EXPECT_FLOAT_EQ(help.scale, scenelayout::kInfoTextFontSize / 1667.0f);
        }
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// After Start, with the clock's eight digits shown: each caption's last glyph
// ends left of its value's first, and both stay on the glass, off the heading.
TEST(SceneLanguageGL, CaptionsEndLeftOfTheirValuesOnTheGlass)
{
    testsupport::GlContext context(kWidth, kHeight);
    const QvFaceRect ink = headingInk();
    for (const std::int32_t language : {0, 1, 2}) {
        SCOPED_TRACE(language);
        const testsupport::LanguageRunDirectory run(language);
        QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
        frame(scene, 1.0);
        scene.startTracker();
        frame(scene, 2.5);
        ASSERT_EQ(scene.timeValueLabel->cLength, 8) << "the clock shows its time";
        const glm::mat4 toFace = glm::inverse(scene.infoCanvas->getTransform()->getMatrix());
        const auto labels = scene.statisticsLabels();
        for (std::size_t row = 0; row < labels.size(); row += 2) {
            const std::vector<QvFaceRect> caption = glyphQuads(*labels[row], toFace);
            const std::vector<QvFaceRect> value = glyphQuads(*labels[row + 1], toFace);
            ASSERT_EQ(caption.size(), labels[row]->text.size()) << labels[row]->name;
            ASSERT_FALSE(value.empty()) << labels[row + 1]->name;
            EXPECT_LT(rightmost(caption), leftmost(value)) << labels[row]->name;
            expectOnGlassOffHeading(caption, ink, labels[row]->name.c_str());
            expectOnGlassOffHeading(value, ink, labels[row + 1]->name.c_str());
        }
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// The VSync switch's words, off and on, fit its box at no less than 0.6 of the
// panel's font size: below that its letters are too small to read (the word
// game's sentences that stood there came out at 0.3 to 0.5).
TEST(SceneLanguageGL, VSyncSwitchWordsFitTheirBoxReadably)
{
    testsupport::GlContext context(kWidth, kHeight);
    constexpr float kPanelFontScale = 16.0f / 1667.0f;
    constexpr float kReadable = 0.6f;
    for (const std::int32_t language : {0, 1, 2}) {
        SCOPED_TRACE(language);
        const testsupport::LanguageRunDirectory run(language);
        QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
        QvSwitch& vsync = *scene.lowerPanel->switchVSync;
        for (int state = 0; state < 2; ++state) {
            if (state == 1) vsync.switching();
            ASSERT_EQ(vsync.glyphs2D.size(), vsync.text.size());
            const glm::mat4 toBox = glm::inverse(vsync.getTransform()->getMatrix());
            const QvFaceRect box{-vsync.size.width / 2, -vsync.size.height / 2, vsync.size.width / 2,
                                 vsync.size.height / 2};
            for (const QvFaceRect& q : glyphQuads(vsync, toBox)) EXPECT_TRUE(box.contains(q)) << state;
            const float glyphScale = vsync.glyphs2D.front()->getTransform()->getScalingVector().x;
            EXPECT_GE(glyphScale, kReadable * kPanelFontScale) << state;
        }
    }
}
