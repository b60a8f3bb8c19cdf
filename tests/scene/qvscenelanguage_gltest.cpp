// The interface in each language, from the glyph placements of a real scene:
// the help text, and after Start every caption and value, stay on the
// information monitor's glass and off the heading that its picture carries
// (found in the picture itself); each caption ends left of its value; the
// VSync switch's words fit its box at a readable size.
#include "scene/qvscene.h"

#include "controls/qvcanvas.h"
#include "controls/qvlabel.h"
#include "controls/qvswitch.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvloadimage.h"
#include "glcontext.h"
#include "languagerun.h"
#include "scene/qvinfotextfit.h"
#include "widgets/qvlowerpanelwidget3d.h"

#include <glm/mat4x4.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// The drawn quads of a control's glyphs in the frame `toFrame` maps the world into.
std::vector<QvFaceRect> glyphQuads(const QvTextControl& control, const glm::mat4& toFrame)
{
    std::vector<QvFaceRect> quads;
    for (const auto& glyph : control.glyphs2D) {
        const std::array<float, 36> v = glyph->getVertices();  // six (x, y, z, w, u, v)
        QvFaceRect r{1e9f, 1e9f, -1e9f, -1e9f};
        for (std::size_t i = 0; i < 36; i += 6) {
            const glm::vec4 p = toFrame * glm::vec4(v[i], v[i + 1], v[i + 2], 1.0f);
            r = {std::min(r.left, p.x), std::min(r.bottom, p.y), std::max(r.right, p.x), std::max(r.top, p.y)};
        }
        if (r.right > r.left) quads.push_back(r);  // a space draws nothing
    }
    return quads;
}

// The lettering on the information picture's glass, as a rectangle on the
// 20 x 20 face: the picture spans the face, its row 0 at the bottom.
QvFaceRect headingInk()
{
    TextureLoader loader;
    const std::vector<std::uint8_t> pixels = loader.loadImage("textures/monitor_info_black.jpg");
    const int w = loader.getImageWidth(), h = loader.getImageHeight();
    constexpr int kGlassInset = 46;  // the 40-pixel bezel and the glass's rim
    int x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (int y = kGlassInset; y < h - kGlassInset; ++y) {
        for (int x = kGlassInset; x < w - kGlassInset; ++x) {
            const std::uint8_t* p = &pixels[std::size_t(y) * TextureLoader::scanLineWidth(w) + std::size_t(x) * 3];
            if (p[0] + p[1] + p[2] > 120) x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = y;
        }
    }
    return {20.0f * x0 / w - 10, 20.0f * y0 / h - 10, 20.0f * (x1 + 1) / w - 10, 20.0f * (y1 + 1) / h - 10};
}

void expectOnGlassOffHeading(const std::vector<QvFaceRect>& quads, const QvFaceRect& ink, const std::string& what)
{
    for (const QvFaceRect& q : quads) {
        EXPECT_TRUE(qvInfoGlass.contains(q)) << what << " off the glass at " << q.left << ", " << q.bottom;
        EXPECT_FALSE(ink.overlaps(q)) << what << " over the heading at " << q.left << ", " << q.bottom;
    }
}

}  // namespace

TEST(SceneLanguageGL, TextsStayOnTheGlassAndCaptionsEndBeforeTheirValues)
{
    testsupport::GlContext context(256, 192);
    const QvFaceRect ink = headingInk();
    ASSERT_TRUE(qvInfoHeading.contains(ink)) << "the help text keeps clear of where the picture's heading is";
    for (const std::int32_t language : {0, 1, 2}) {
        SCOPED_TRACE(language);
        const testsupport::LanguageRunDirectory run(language);
        QvScene scene(256, 192, 1920, 1080, context.glslVersion());
        const glm::mat4 toFace = glm::inverse(scene.infoCanvas->getTransform()->getMatrix());
        const QvLabel& help = *scene.infoText;
        EXPECT_EQ(glyphQuads(help, toFace).size(), std::size_t(std::count_if(
                      help.text.begin(), help.text.end(), [](char16_t c) { return c != u' '; })));
        expectOnGlassOffHeading(glyphQuads(help, toFace), ink, "help text");
        if (language == 0) {  // where and how large the Part lays it out
            const glm::vec4 centre = toFace * help.getTransform()->getMatrix() * glm::vec4(0, 0, 0, 1);
            EXPECT_NEAR(centre.x, 0.0f, 1e-4f);
            EXPECT_NEAR(centre.y, 0.0f, 1e-4f);
            EXPECT_FLOAT_EQ(help.scale, 20.0f / 1667.0f);
        }

        scene.startTracker();
        const auto labels = scene.statisticsLabels();
        for (std::size_t row = 0; row < labels.size(); row += 2) {
            const std::vector<QvFaceRect> caption = glyphQuads(*labels[row], toFace);
            const std::vector<QvFaceRect> value = glyphQuads(*labels[row + 1], toFace);
            ASSERT_FALSE(caption.empty() || value.empty()) << labels[row]->name;
            const auto right = [](const QvFaceRect& a, const QvFaceRect& b) { return a.right < b.right; };
            const auto left = [](const QvFaceRect& a, const QvFaceRect& b) { return a.left < b.left; };
            EXPECT_LT(std::max_element(caption.begin(), caption.end(), right)->right,
                      std::min_element(value.begin(), value.end(), left)->left)
                << labels[row]->name;
            expectOnGlassOffHeading(caption, ink, labels[row]->name);
            expectOnGlassOffHeading(value, ink, labels[row + 1]->name);
        }

        // Off and on, inside the switch's box at no less than 0.6 of the
        // panel's font size (the word game's sentences came out at 0.3-0.5).
        QvSwitch& vsync = *scene.lowerPanel->switchVSync;
        for (int state = 0; state < 2; ++state, vsync.switching()) {
            const QvFaceRect box{-vsync.size.width / 2, -vsync.size.height / 2, vsync.size.width / 2,
                                 vsync.size.height / 2};
            const glm::mat4 toBox = glm::inverse(vsync.getTransform()->getMatrix());
            for (const QvFaceRect& q : glyphQuads(vsync, toBox)) EXPECT_TRUE(box.contains(q)) << state;
            EXPECT_GE(vsync.glyphs2D.front()->getTransform()->getScalingVector().x, 0.6f * 16.0f / 1667.0f);
        }
    }
}
