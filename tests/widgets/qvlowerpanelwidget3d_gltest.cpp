// The lower panel's name box in the real scene: it takes a name up to its
// limit, and the 3D title shows what Enter hands over, readably.
#include "widgets/qvlowerpanelwidget3d.h"

#include "controlfixtures.h"
#include "controls/qvedit2d.h"
#include "controls/qvlabel.h"
#include "engine/core/qvtransform.h"
#include "engine/text/qvtext3d.h"
#include "glcontext.h"
#include "scene/qvscene.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

TEST(LowerPanelGL, NameBoxHoldsItsLimitAndTheTitleShowsItReadably)
{
    testsupport::GlContext context(256, 192);
    QvScene scene(256, 192, 1920, 1080, context.glslVersion());
    QvEdit2D& name = *scene.lowerPanel->editName;
    QvLabel& title = *scene.titleText;
    const int limit = name.maxLength;
    ASSERT_GT(limit, 0);
    const auto glyphScale = [&] { return title.glyphs3D.front()->transform->getScalingVector().x; };
    const float fullScale = glyphScale();  // "Velmorin" fits the title

    name.focused = true;
    std::u32string typed;
    std::u16string kept;
    for (int i = 0; i < limit + 10; ++i) typed.push_back(U'a' + i % 26);
    for (int i = 0; i < limit; ++i) kept.push_back(char16_t(u'a' + i % 26));
    controlfixtures::typeInto(name, typed);
    EXPECT_EQ(name.glyphCount(), limit);
    controlfixtures::pressKey(name, GLFW_KEY_ENTER);
    EXPECT_EQ(name.getText(), kept);
    EXPECT_EQ(title.getLabel(), kept);
    EXPECT_EQ(title.glyphs3D.size(), std::size_t(limit));

    // Program text past the limit in the widest letters: the limit holds, and
    // the title shrinks the name no further than a third of its size, which
    // leaves capitals some 20 pixels tall in the 768-pixel window.
    for (const char* widest : {"W", "Ш", "Щ", "Ж", "m", "%"}) {
        std::string letters;
        for (int i = 0; i < limit + 5; ++i) letters += widest;
        name.setString(letters);
        EXPECT_EQ(name.glyphCount(), limit) << widest;
        controlfixtures::pressKey(name, GLFW_KEY_ENTER);
        ASSERT_EQ(title.glyphs3D.size(), std::size_t(limit)) << widest;
        EXPECT_LE(std::round(fullScale / glyphScale()), 3.0f) << widest;
    }
}
