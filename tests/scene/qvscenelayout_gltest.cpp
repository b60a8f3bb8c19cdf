// The scene's layout in a real scene: the monitors, the help text and the
// statistics labels in the interface language, the title, and the statistics replacing the help text when
// tracking starts; in every language the texts keep to their places.
#include "scene/qvscene.h"

#include "controls/qvbutton.h"
#include "controls/qvcanvas.h"
#include "controls/qvedit2d.h"
#include "controls/qvlabel.h"
#include "controls/qvpanel.h"
#include "controls/qvswitch.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvloadimage.h"
#include "scene/qvinfotextfit.h"
#include "scene/qvtrackertext.h"
#include "glcontext.h"
#include "languagerun.h"
#include "widgets/qvfpswidget3d.h"
#include "widgets/qvlowerpanelwidget3d.h"
#include "widgets/qvupperpanelwidget3d.h"

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

void frame(QvScene& scene, double time)
{
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    scene.camera->frameTime = time;
    scene.renderScene();
}

std::vector<std::u16string> captions(const QvScene& scene)
{
    std::vector<std::u16string> texts;
    const auto labels = scene.statisticsLabels();
    for (std::size_t i = 0; i < labels.size(); i += 2) texts.push_back(labels[i]->getLabel());
    return texts;
}

// The drawn quads of a control's glyphs in the frame `toFrame` maps the world
// into; a space draws nothing.
std::vector<QvFaceRect> glyphQuads(const QvTextControl& control, const glm::mat4& toFrame)
{
    std::vector<QvFaceRect> quads;
    for (const auto& glyph : control.glyphs2D) {
        const std::array<float, 36> v = glyph->getVertices();  // six (x, y, z, w, u, v)
        QvFaceRect r{1e9f, 1e9f, -1e9f, -1e9f};
        for (std::size_t i = 0; i < 36; i += 6) {
            const glm::vec4 p = toFrame * glm::vec4(v[i], v[i + 1], v[i + 2], 1.0f);
            r = {std::min(r.left, p.x), std::min(r.bottom, p.y), std::max(r.right, p.x),
                 std::max(r.top, p.y)};
        }
        if (r.right > r.left) quads.push_back(r);
    }
    return quads;
}

// The lettering inside the information picture's glass (past its 40-pixel
// bezel and rim), as a rectangle on the 20 x 20 face, row 0 at the bottom.
QvFaceRect headingInk()
{
    TextureLoader loader;
    const std::vector<std::uint8_t> pixels = loader.loadImage("textures/monitor_info_black.jpg");
    const int w = loader.getImageWidth(), h = loader.getImageHeight(), inset = 46;
    int x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (int y = inset; y < h - inset; ++y) {
        for (int x = inset; x < w - inset; ++x) {
            const std::uint8_t* p =
                &pixels[std::size_t(y) * TextureLoader::scanLineWidth(w) + std::size_t(x) * 3];
            if (p[0] + p[1] + p[2] > 120)
                x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = y;
        }
    }
    return {20.0f * x0 / w - 10, 20.0f * y0 / h - 10, 20.0f * (x1 + 1) / w - 10, 20.0f * (y1 + 1) / h - 10};
}

// Enter as the world delivers it to the focused box.
void pressEnter(QvEdit2D& box)
{
    QvKeyboardEventArgs enter;
    enter.key = GLFW_KEY_ENTER;
    enter.action = GLFW_PRESS;
    (*box.onKeyPress)(&box, &enter);
    (*box.onKeyDown)(&box, &enter);
}

}  // namespace

// Four monitors one below another, 24 units apart, in front of the start
// view, each face stretched to the screen's shape, drawn in this order; the
// help text on the first, the title below the last.
TEST(SceneLayoutGL, MonitorsStandInAColumnScaledToTheScreen)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    const std::vector<QvMaterialObject*> expected{scene.infoCanvas.get(),  scene.routeCanvas.get(),
                                                  scene.speedCanvas.get(), scene.stopsCanvas.get(),
                                                  scene.infoText.get(),    scene.titleText.get()};
    EXPECT_EQ(scene.objects, expected);
    for (std::size_t i = 0; i < 4; ++i) {
        const auto* monitor = static_cast<QvCanvas*>(expected[i]);
        const glm::mat4 m = monitor->getTransform()->getMatrix();
        EXPECT_NEAR(m[3].y, -24.0f * float(i), 1e-4f);
        EXPECT_NEAR(m[3].z, -11.0f, 1e-4f);
        EXPECT_NEAR(glm::length(glm::vec3(m[0])), 1920.0f / 1080.0f, 1e-4f);
        EXPECT_NEAR(glm::length(glm::vec3(m[1])), 1.0f, 1e-4f);
        ASSERT_NE(monitor->texture, nullptr);
        EXPECT_TRUE(*monitor->texture);
        EXPECT_EQ(monitor->texture, &scene.monitorTextures[i]) << "its own picture from the start";
    }
    EXPECT_FALSE(scene.infoCanvas->drawOverlay);
    EXPECT_TRUE(scene.routeCanvas->drawOverlay);
    EXPECT_NEAR(scene.titleText->getTransform()->getMatrix()[3].y, -96.0f, 1e-4f);

    // The start view looks at the information monitor: its dark face fills
    // the middle of the window (the sky is bright).
    frame(scene, 1.0);
    const auto middle = context.pixel(kWidth / 2, kHeight / 2 + 30);
    EXPECT_LT(int(middle[0]) + middle[1] + middle[2], 150);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// Start: the help text leaves the monitor and the fourteen labels join after
// the title, once however often tracking starts.
TEST(SceneLayoutGL, TrackingSwapsTheHelpTextForTheStatistics)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    frame(scene, 1.0);
    scene.startTracker();
    ASSERT_TRUE(scene.tracking);
    std::vector<QvMaterialObject*> expected{scene.infoCanvas.get(), scene.routeCanvas.get(),
                                            scene.speedCanvas.get(), scene.stopsCanvas.get(),
                                            scene.titleText.get()};
    for (QvLabel* label : scene.statisticsLabels()) expected.push_back(label);
    EXPECT_EQ(scene.objects, expected);
    frame(scene, 1.1);
    scene.startTracker();  // stop
    scene.startTracker();  // start again
    scene.includeElements();
    EXPECT_EQ(scene.objects, expected);
    frame(scene, 1.2);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// The start view shows the help text: light glyphs on the dark face; they
// are gone once tracking shows the statistics there instead.
TEST(SceneLayoutGL, HelpTextIsDrawnOnTheInformationMonitor)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    const auto brightOnFace = [&context] {
        int bright = 0;
        for (int y = kHeight / 2 - 40; y < kHeight / 2 + 10; ++y) {
            for (int x = kWidth / 4; x < 3 * kWidth / 4; ++x) {
                const auto p = context.pixel(x, y);
                bright += (int(p[1]) + p[2] > 200) ? 1 : 0;
            }
        }
        return bright;
    };
    frame(scene, 1.0);
    const int withHelp = brightOnFace();
    EXPECT_GT(withHelp, 100);
    scene.startTracker();
    frame(scene, 1.1);
    EXPECT_LT(brightOnFace(), withHelp);
}

// The name typed in the lower panel replaces the title on Enter, Cyrillic
// and accented letters and an empty name included.
TEST(SceneLayoutGL, EnteredNameReplacesTheTitle)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    EXPECT_EQ(scene.titleText->getLabel(), u"Velmorin");
    QvEdit2D& name = *scene.lowerPanel->editName;
    name.setString("Ёлка-Zürich");
    pressEnter(name);
    EXPECT_EQ(scene.titleText->getLabel(), u"Ёлка-Zürich");
    frame(scene, 1.0);
    name.setString("");
    pressEnter(name);
    EXPECT_EQ(scene.titleText->getLabel(), u"");
    frame(scene, 1.1);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// The lower panel's six controls in order, every one pickable, the switches
// and the button also listed for language updates; only the ticker takes
// no focus.
TEST(SceneLayoutGL, LowerPanelHoldsItsControlsInOrder)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    const QvLowerPanelWidget3D& lower = *scene.lowerPanel;
    const std::vector<QvMaterialObject*> expected{
        lower.panel.get(),       lower.switchShading.get(), lower.clearButton.get(), lower.switchVSync.get(),
        lower.switchOnTop.get(), lower.editName.get(),      lower.ticker.get()};
    EXPECT_EQ(lower.components, expected);
    std::vector<std::string> names;
    for (const QvMaterialObject* control : lower.components) names.push_back(control->name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"QvModel_UpperPanel", "QvModel_SwitchShading", "QvModel_ButtonClear",
                                        "QvModel_SwitchVSync", "QvModel_SwitchOnTop", "QvModel_EditName",
                                        "QvModel_LabelLogo"}));
    EXPECT_FALSE(lower.panel->pickable);
    for (std::size_t i = 1; i < expected.size(); ++i) EXPECT_TRUE(expected[i]->pickable) << names[i];
    EXPECT_EQ(scene.textObjects,
              (std::vector<QvMaterialObject*>{lower.switchShading.get(), lower.clearButton.get(),
                                              lower.switchVSync.get(), lower.switchOnTop.get()}));
    EXPECT_TRUE(lower.editName->takesFocus());
    EXPECT_FALSE(lower.ticker->takesFocus());
    // Only the lower panel's controls can be clicked.
    for (const QvWidget3D* widget : {scene.widgets[0], scene.widgets[2]}) {
        for (const QvMaterialObject* control : widget->components) EXPECT_FALSE(control->pickable);
    }
    // Ids count up across the panels in creation order.
    int previous = 0;
    for (const QvWidget3D* widget : scene.widgets) {
        for (const QvMaterialObject* control : widget->components) {
            EXPECT_EQ(control->id, previous + 1);
            previous = control->id;
        }
    }
}

// The options file chooses the interface language of the help text, the
// captions and the lower panel; the upper panel stays English. Captions, the
// VSync switch and the ticker show the tracker's words, not the word game's
// that the table holds under their keys. A stored language the tables do not
// have comes up in English. The help text, and after Start every caption and
// value, stay on the information monitor's glass and off the heading its
// picture carries, captions end left of their values, the VSync switch's
// words fit its box.
TEST(SceneLayoutGL, OptionsChooseTheInterfaceLanguageWhoseTextsKeepToTheirPlaces)
{
    testsupport::GlContext context(kWidth, kHeight);
    const QvDictionary dictionary;
    const QvDictionary tracker(qvTrackerWords());
    const QvFaceRect ink = headingInk();
    ASSERT_TRUE(qvInfoHeading.contains(ink)) << "the help text keeps clear of where the picture's heading is";
    for (const std::int32_t language : {0, 1, 2, 7}) {
        SCOPED_TRACE(language);
        const testsupport::LanguageRunDirectory run(language);
        QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
        const int expected = language == 7 ? 0 : language;
        EXPECT_EQ(scene.language(), expected) << language;
        EXPECT_EQ(scene.infoText->getLabel(), dictionary.text(expected, 18)) << language;
        std::vector<std::u16string> keys;
        for (std::int32_t key = 19; key <= 25; ++key) keys.push_back(tracker.text(expected, key));
        EXPECT_EQ(captions(scene), keys) << language;
        EXPECT_EQ(scene.upperPanel->odometerLabel->getLabel(), u"Odometer:") << language;
        EXPECT_EQ(scene.upperPanel->speedLabel->getLabel(), u"Speedometer:") << language;
        const QvLowerPanelWidget3D& lower = *scene.lowerPanel;
        EXPECT_EQ(lower.switchShading->offText, dictionary.text(expected, 1)) << language;
        EXPECT_EQ(lower.switchShading->onText, dictionary.text(expected, 2)) << language;
        EXPECT_EQ(lower.switchVSync->offText, tracker.text(expected, 10)) << language;
        EXPECT_EQ(lower.switchVSync->onText, tracker.text(expected, 11)) << language;
        EXPECT_EQ(lower.ticker->text, tracker.text(expected, 16)) << language;
        EXPECT_EQ(lower.switchOnTop->offText, dictionary.text(expected, 3)) << language;
        EXPECT_EQ(lower.switchOnTop->onText, dictionary.text(expected, 4)) << language;
        EXPECT_EQ(lower.clearButton->getLabel(), u"Clear") << language;
        frame(scene, 1.0);

        const glm::mat4 toFace = glm::inverse(scene.infoCanvas->getTransform()->getMatrix());
        const auto expectOnGlassOffHeading = [&](const QvLabel& label) {
            const std::vector<QvFaceRect> quads = glyphQuads(label, toFace);
            for (const QvFaceRect& q : quads) {
                EXPECT_TRUE(qvInfoGlass.contains(q)) << label.name << ' ' << q.left << ',' << q.bottom;
                EXPECT_FALSE(ink.overlaps(q)) << label.name << ' ' << q.left << ',' << q.bottom;
            }
            return quads;
        };
        std::u16string letters = scene.infoText->text;  // each drawn
        std::erase(letters, u' ');
        EXPECT_EQ(expectOnGlassOffHeading(*scene.infoText).size(), letters.size());
        scene.startTracker();
        const auto labels = scene.statisticsLabels();
        for (std::size_t row = 0; row < labels.size(); row += 2) {
            const std::vector<QvFaceRect> caption = expectOnGlassOffHeading(*labels[row]);
            const std::vector<QvFaceRect> value = expectOnGlassOffHeading(*labels[row + 1]);
            ASSERT_FALSE(caption.empty() || value.empty()) << labels[row]->name;
            EXPECT_LT(caption.back().right, value.front().left) << labels[row]->name;  // one line each
        }
        // Off and on, inside the switch's box at no less than 0.6 of the
        // panel's font size (the word game's sentences came out at 0.3-0.5).
        QvSwitch& vsync = *scene.lowerPanel->switchVSync;
        const QvFaceRect box{-vsync.size.width / 2, -vsync.size.height / 2, vsync.size.width / 2,
                             vsync.size.height / 2};
        for (int state = 0; state < 2; ++state, vsync.switching()) {
            for (const QvFaceRect& q : glyphQuads(vsync, glm::inverse(vsync.getTransform()->getMatrix()))) {
                EXPECT_TRUE(box.contains(q)) << state;
            }
            EXPECT_GE(vsync.glyphs2D.front()->getTransform()->getScalingVector().x, 0.6f * 16.0f / 1667.0f);
        }
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
