// Buttons drawn and read back: the lower panel's "Clear" centred on its box,
// its glyphs shrinking with the press, buffer labels cut to the slots, hover
// colour, and nothing left behind.
#include "controlfixtures.h"

#include "controls/qvbutton.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvevents.h"
#include "engine/core/qvtransform.h"

using controlfixtures::kViewSize;
using ButtonDraw = controlfixtures::TextControlDraw;

namespace {

bool isWhite(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return r > 200 && g > 200 && b > 200;
}

// Leftmost and rightmost columns holding white pixels.
std::pair<int, int> whiteColumns(const testsupport::GlContext& context)
{
    int first = kViewSize, last = -1;
    for (int x = 0; x < kViewSize; ++x) {
        if (controlfixtures::countPixels(context, x, 0, x + 1, kViewSize, isWhite) > 0) {
            first = std::min(first, x);
            last = x;
        }
    }
    return {first, last};
}

// Re-places the transforms below the button's, as its widget does after
// the press and the release changed the button's scaling.
void updateChildren(QvButton& button)
{
    std::int64_t count = 0;
    for (QvTransform* child : button.objectTree->getChildren(button.transform, count)) {
        child->updateRelativeTransformation(button.transform);
    }
}

// The lower panel's set-up of its Clear button.
void setUpClear(QvButton& clear, QvShader& box, QvShader& glyphs)
{
    clear.shader = &box;
    clear.transform->setScaling(1.0f, 1.0f, 1.0f);
    clear.setSize(2.0f, 1.0f, 1.0f);
    clear.setFontSize(16.0f);
    clear.setPadding(2);
    clear.setTextShader(&glyphs);
    clear.initLabel();
}

}  // namespace

TEST_F(ButtonDraw, ClearIsCentredOnTheFrontFaceAndShrinksWithThePress)
{
    QvButton clear("QvModel_ButtonClear", u"Clear", font2D, nullptr, *camera);
    setUpClear(clear, flat, text);
    ASSERT_EQ(clear.glyphs2D.size(), 5u);
    EXPECT_NEAR(clear.scale, 16.0f / 1667.0f, 1e-7f);
    for (const auto& glyph : clear.glyphs2D) {
        EXPECT_FLOAT_EQ(glyph->transform->getTranslationVector().z, 0.53f);
    }
    controlfixtures::clearAll();
    clear.draw(*camera);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    const auto [left, right] = whiteColumns(context);
    ASSERT_LT(left, right);
    // Centred on the box: equal margins to the view's centre (the box's).
    EXPECT_NEAR((left + right) / 2.0, kViewSize / 2.0, 2.0);

    QvMouseEventArgs mouse;
    clear.onMouseButtonPress->opCall(&clear, &mouse);
    updateChildren(clear);
    controlfixtures::clearAll();
    clear.draw(*camera);
    const auto [pressedLeft, pressedRight] = whiteColumns(context);
    const double ratio = double(right - left) / (pressedRight - pressedLeft);
    EXPECT_NEAR(ratio, 1.2, 0.12) << "the glyphs shrink with the button";

    clear.onMouseButtonRelease->opCall(&clear, &mouse);
    updateChildren(clear);
    controlfixtures::clearAll();
    clear.draw(*camera);
    EXPECT_EQ(whiteColumns(context), std::make_pair(left, right));
}

TEST_F(ButtonDraw, HoverColourShowsButNeverThePressedColour)
{
    QvButton clear("QvModel_ButtonClear", u"Clear", font2D, nullptr, *camera);
    setUpClear(clear, flat, text);
    QvMouseEventArgs mouse;
    clear.onMouseButtonPress->opCall(&clear, &mouse);
    controlfixtures::clearAll();
    clear.draw(*camera);
    const auto pressed = context.pixel(44, 70);
    EXPECT_LT(pressed[0], 60) << "drawn in its colour, not pressedColor (0.5058, 0.79, 1)";
    clear.hovered = true;
    controlfixtures::clearAll();
    clear.draw(*camera);
    EXPECT_GT(context.pixel(44, 70)[0], 40);
    EXPECT_GT(context.pixel(44, 70)[2], 240);
}

TEST_F(ButtonDraw, BufferLabelsAreCutToThirtyAndGiveWayToStringText)
{
    const std::int64_t before = qvLiveGLObjects();
    {
        QvButton button("QvModel_Button", u"", font2D, nullptr, *camera);
        setUpClear(button, flat, text);
        const std::u16string digits(45, u'1');
        button.setLabel(digits.data(), int(digits.size()));
        EXPECT_EQ(button.cLength, 30);
        // Shrunk to the padded width and centred, like string text.
        const float first = button.cGlyphs[0].transform->getTranslationVector().x;
        const QvGlyphSlot& last = button.cGlyphs[29];
        const float end = last.transform->getTranslationVector().x +
                          last.transform->getScalingVector().x * float(last.glyph->advance >> 6);
        EXPECT_NEAR(first, -end, 1e-4f);
        EXPECT_LE(end - first, 1.92f);
        // The first 0.001 step that fits: one step less would not.
        const float k = last.transform->getScalingVector().x;
        EXPECT_GT((end - first) * (k + 0.001f) / k, 1.92f);

        button.setLabel(u"Clear");
        EXPECT_EQ(button.cLength, 0);
        controlfixtures::clearAll();
        button.draw(*camera);
        EXPECT_GT(controlfixtures::countPixels(context, 0, 0, kViewSize, kViewSize, isWhite), 20);
        EXPECT_EQ(button.glyphs2D.size(), 5u);
    }
    EXPECT_EQ(qvLiveGLObjects(), before);
}

TEST_F(ButtonDraw, DictionaryButtonShowsItsEntryAfterUpdateText)
{
    QvDictionary dictionary;
    QvButton power("QvModel_ButtonPower", dictionary, 0, 11, font2D, nullptr, *camera);
    setUpClear(power, flat, text);
    EXPECT_TRUE(power.glyphs2D.empty());
    power.updateText(1);
    EXPECT_EQ(power.getLabel(), dictionary.text(1, 11));
    EXPECT_EQ(power.glyphs2D.size(), dictionary.text(1, 11).size());
    // Ids keep counting from the first glyph transform ever made.
    EXPECT_EQ(power.glyphs2D.front()->transform->getId(), power.transform->getId() + 100000);
    power.updateText(1);
    EXPECT_EQ(power.glyphs2D.front()->transform->getId(),
              power.transform->getId() + 100000 + std::int64_t(dictionary.text(1, 11).size()));
}
