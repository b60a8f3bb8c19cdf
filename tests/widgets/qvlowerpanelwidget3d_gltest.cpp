// The lower panel's name box in the real scene: it takes a name up to its
// limit, and the 3D title shows what Enter hands over, readably.
#include "widgets/qvlowerpanelwidget3d.h"

#include "controls/qvedit2d.h"
#include "controls/qvlabel.h"
#include "engine/core/qvtransform.h"
#include "engine/text/qvtext3d.h"
#include "glcontext.h"
#include "scene/qvscene.h"

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;
// The title shrinks a name too wide for it to a half, a third, ... of its
// size; a third still leaves capitals some 20 pixels tall in the 768-pixel
// window.
constexpr float kMostReadableDivisor = 3.0f;

void typeInto(QvEdit2D& box, std::u32string_view codePoints)
{
    for (const char32_t c : codePoints) {
        QvCharEventArgs args;
        args.codepoint = c;
        (*box.onChar)(&box, &args);
    }
}

void pressEnter(QvEdit2D& box)
{
    QvKeyboardEventArgs enter;
    enter.key = GLFW_KEY_ENTER;
    enter.action = GLFW_PRESS;
    (*box.onKeyDown)(&box, &enter);
}

// The glyph scale the title's layout chose (every glyph has the same one).
float titleGlyphScale(const QvLabel& title)
{
    return title.glyphs3D.front()->transform->getScalingVector().x;
}

}  // namespace

TEST(LowerPanelGL, NameBoxTakesNothingPastItsLimitAndTheTitleKeepsIt)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    QvEdit2D& name = *scene.lowerPanel->editName;
    const int limit = name.maxLength;
    ASSERT_GT(limit, 0);

    // Typed: the letters past the limit add nothing, at the end or inside.
    name.focused = true;
    std::u32string typed;
    for (int i = 0; i < limit + 10; ++i) typed.push_back(U'a' + i % 26);
    typeInto(name, typed);
    EXPECT_EQ(name.glyphCount(), limit);
    QvKeyboardEventArgs left;
    left.key = GLFW_KEY_LEFT;
    left.action = GLFW_PRESS;
    (*name.onKeyDown)(&name, &left);
    typeInto(name, U"Ж");
    EXPECT_EQ(name.glyphCount(), limit);
    pressEnter(name);
    std::u16string expected;
    for (int i = 0; i < limit; ++i) expected.push_back(char16_t(u'a' + i % 26));
    EXPECT_EQ(name.getText(), expected);
    EXPECT_EQ(scene.titleText->getLabel(), expected);
    EXPECT_EQ(scene.titleText->glyphs3D.size(), std::size_t(limit));

    // Program text is held to the same limit.
    name.setString(std::string(std::size_t(limit) * 3, 'W'));
    EXPECT_EQ(name.glyphCount(), limit);
    pressEnter(name);
    EXPECT_EQ(scene.titleText->getLabel(), std::u16string(std::size_t(limit), u'W'));
}

// A name of the limit's length in the font's widest letters is shrunk no
// further than a readable size.
TEST(LowerPanelGL, TheLongestNameStaysReadableOnTheTitle)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    QvLabel& title = *scene.titleText;
    const float fullScale = titleGlyphScale(title);  // "Velmorin" fits the title
    QvEdit2D& name = *scene.lowerPanel->editName;
    for (const char* widest : {"W", "Ш", "Щ", "Ж", "m", "%"}) {
        std::string letters;
        for (int i = 0; i < name.maxLength; ++i) letters += widest;
        name.setString(letters);
        pressEnter(name);
        ASSERT_EQ(title.glyphs3D.size(), std::size_t(name.maxLength)) << widest;
        EXPECT_LE(std::round(fullScale / titleGlyphScale(title)), kMostReadableDivisor) << widest;
    }
}
