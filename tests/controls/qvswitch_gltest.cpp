// A switch drawn, pressed and drawn again: its box takes the on colour and
// its text the on-text already on the press; hover wins over the state.
#include "controlfixtures.h"

#include "controls/qvswitch.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvevents.h"
#include "engine/core/qvtransform.h"

using controlfixtures::kViewSize;
using SwitchDraw = controlfixtures::TextControlDraw;

namespace {

bool isWhite(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return r > 200 && g > 200 && b > 200;
}

// A point of the box above its text line.
constexpr int kBoxX = 44, kBoxY = 73;

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
