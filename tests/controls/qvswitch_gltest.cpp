// A switch drawn, pressed and drawn again: its box takes the on colour and
// its text the on-text already on the press; hover wins over the state. Its
// text follows it when its tree carries it elsewhere.
#include "controlfixtures.h"

#include "controls/qvswitch.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvevents.h"
#include "engine/core/qvtransform.h"
#include "engine/text/qvfont.h"

#include <vector>

#include <glm/geometric.hpp>

using controlfixtures::kViewSize;
using SwitchDraw = controlfixtures::TextControlDraw;

namespace {

bool isWhite(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return r > 200 && g > 200 && b > 200;
}

// A point of the box above its text line.
constexpr int kBoxX = 44, kBoxY = 73;

// Where the switch's glyphs stand in the world.
std::vector<glm::vec3> glyphPositions(const QvSwitch& control)
{
    std::vector<glm::vec3> positions;
    for (const auto& glyph : control.glyphs3D)
        positions.push_back(glyph->getTransform()->getTranslationVectorFromMatrix());
    for (const auto& glyph : control.glyphs2D)
        positions.push_back(glyph->getTransform()->getTranslationVectorFromMatrix());
    return positions;
}

}  // namespace

TEST_F(SwitchDraw, PressFlipsTextAndColourAndHoverWins)
{
    QvDictionary dictionary;
    QvSwitch startStop("QvModel_SwitchStart", dictionary, 0, 1, font2D, nullptr, *camera);
    startStop.shader = &flat;
    startStop.transform->setScaling(1.0f, 1.0f, 1.0f);
    startStop.setSize(2.0f, 1.0f, 0.2f);
    startStop.setFontSize(16.0f);
    startStop.setPadding(2);
    startStop.setOnText(2);
    startStop.setTextShader(&text);
    startStop.initLabel();
    EXPECT_EQ(startStop.getLabel(), u"Start");

    controlfixtures::clearAll();
    startStop.draw(*camera);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    const auto off = context.pixel(kBoxX, kBoxY);
    EXPECT_LT(off[0], 60);
    EXPECT_GT(off[2], 200);  // the normal colour
    const int startText = controlfixtures::countPixels(context, 0, 0, kViewSize, kViewSize, isWhite);
    EXPECT_GT(startText, 20);
    // The white text lies on the box (x 33..95, y 48..80 in pixels).
    EXPECT_EQ(startText, controlfixtures::countPixels(context, 33, 48, 96, 81, isWhite));

    QvMouseEventArgs press;
    startStop.onMouseButtonPress->opCall(&startStop, &press);
    EXPECT_TRUE(startStop.isOn);
    EXPECT_EQ(startStop.getLabel(), u"Stop");
    controlfixtures::clearAll();
    startStop.draw(*camera);
    const auto on = context.pixel(kBoxX, kBoxY);
    EXPECT_GT(on[0], 190);
    EXPECT_LT(on[1], 30);  // (0.84, 0.03, 0.2)
    const int stopText = controlfixtures::countPixels(context, 0, 0, kViewSize, kViewSize, isWhite);
    EXPECT_GT(stopText, 20);
    EXPECT_NE(stopText, startText);

    startStop.hovered = true;
    controlfixtures::clearAll();
    startStop.draw(*camera);
    EXPECT_GT(context.pixel(kBoxX, kBoxY)[2], 240);  // hoverColor (0.2058, 0.819, 1)
    startStop.hovered = false;

    startStop.onMouseButtonPress->opCall(&startStop, &press);
    EXPECT_FALSE(startStop.isOn);
    EXPECT_EQ(startStop.getLabel(), u"Start");
}

TEST_F(SwitchDraw, SwitchOnChangesTheColourButNotTheText)
{
    QvSwitch vsync("QvModel_SwitchVSync", u"Eco", font2D, nullptr, *camera);
    vsync.shader = &flat;
    vsync.transform->setScaling(1.0f, 1.0f, 1.0f);
    vsync.setSize(2.0f, 1.0f, 0.2f);
    vsync.setTextShader(&text);
    vsync.initLabel();
    vsync.switchOn();
    controlfixtures::clearAll();
    vsync.draw(*camera);
    EXPECT_GT(context.pixel(kBoxX, kBoxY)[0], 190);
    EXPECT_EQ(vsync.getLabel(), u"Eco");
    // A literal switch has no dictionary: no on-text to read, none shown.
    vsync.setOnText(2);
    EXPECT_TRUE(vsync.onText.empty());
}

// The HUD carries its controls with the camera by walking its tree from the
// panel down; a switch's glyphs, outline or bitmap, as built and as rebuilt
// by a press, must hang in that tree below the switch to go along.
TEST_F(SwitchDraw, TextGoesAlongWhenTheTreeCarriesTheSwitch)
{
    QvTransform root, panel;
    OakTree<QvTransform> tree(&root);
    tree.insert(&root, &panel);
    std::array<QvTransform, 2> places{QvTransform(&panel), QvTransform(&panel)};
    for (QvTransform& place : places) tree.insert(&panel, &place);
    QvFont3D font3D(controlfixtures::kFontPath);
    QvSwitch outline("QvModel_SwitchShading", u"Eco", font3D, nullptr, *camera);
    QvSwitch flat("QvModel_SwitchVSync", u"Eco", font2D, nullptr, *camera);
    glm::vec3 at(0.0f);
    const auto carryBy = [&](glm::vec3 by) {
        at += by;
        panel.setTranslation(at.x, at.y, at.z);
        tree.walk(&root,
                  [](QvTransform* up, QvTransform* child) { child->updateRelativeTransformation(up); });
    };
    for (QvSwitch* control : {&outline, &flat}) {
        SCOPED_TRACE(control->is3D ? "outline" : "bitmap");
        control->setObjectTree(&tree);
        control->setTransform(&places[control == &flat]);
        control->setSize(2.0f, 1.0f, 0.2f);
        control->setTextShader(&text);
        control->initLabel();
        control->onText = u"Turbo";
        for (int build = 0; build < 2; ++build) {
            const std::vector<glm::vec3> before = glyphPositions(*control);
            ASSERT_EQ(before.size(), build == 0 ? 3u : 5u);
            const glm::vec3 by(1.0f, -2.0f, 0.5f);
            carryBy(by);
            const std::vector<glm::vec3> after = glyphPositions(*control);
            for (std::size_t i = 0; i < before.size(); ++i)
                EXPECT_LT(glm::distance(after[i] - before[i], by), 1e-5f) << build << ' ' << i;
            QvMouseEventArgs press;
            control->onMouseButtonPress->opCall(control, &press);  // rebuilt with the on-text
        }
    }
}
