// The help text's fit on the information monitor, with glyphs of known
// metrics: letters 30 px wide with a 24 x 34 bitmap standing on the baseline,
// spaces 15 px without pixels. At font size 20 a word of five letters and a
// space is 1.98 units, so six words fill a line of the 13.33-unit box; the
// first line stands at 2.5 (the box height), the next ones 1.25 apart.
#include "engine/text/qvglyphatlas.h"
#include "scene/qvinfotextfit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const Character2D kLetter{.size = {24.0f, 34.0f}, .bearing = {3.0f, 34.0f}, .advance = 30u << 6, .rows = 34};
const Character2D kSpace{.size = {0.0f, 0.0f}, .bearing = {0.0f, 0.0f}, .advance = 15u << 6};
const QvTextBox kBox{20.0f / 1.5f, 2.5f, 1.0f, glm::vec3(1.0f), 1};
constexpr float kFontSize = 20.0f;

std::vector<QvInfoGlyph> words(int count)
{
    std::vector<QvInfoGlyph> glyphs;
    for (int w = 0; w < count; ++w) {
        for (int i = 0; i < 5; ++i) glyphs.push_back({&kLetter, false});
        glyphs.push_back({&kSpace, true});
    }
    return glyphs;
}

// Every drawn glyph on the glass and off the heading, with the clearance.
bool clear(const std::vector<QvInfoGlyph>& glyphs, float size, float lift)
{
    constexpr float c = qvInfoTextClearance - 1e-4f;
    const QvFaceRect glass{qvInfoGlass.left + c, qvInfoGlass.bottom + c, qvInfoGlass.right - c,
                           qvInfoGlass.top - c};
    const QvFaceRect heading{qvInfoHeading.left - c, qvInfoHeading.bottom - c, qvInfoHeading.right + c,
                             qvInfoHeading.top + c};
    for (const QvFaceRect& r : qvInfoTextRects(glyphs, kBox, size, lift)) {
        if (r.right > r.left && (!glass.contains(r) || heading.overlaps(r))) return false;
    }
    return true;
}

// Some lift between 0 and 20 units (by steps of 0.01) clears the text at `size`.
bool someLiftClears(const std::vector<QvInfoGlyph>& glyphs, float size)
{
    for (int step = 0; step <= 2000; ++step) {
        if (clear(glyphs, size, 0.01f * float(step))) return true;
    }
    return false;
}

}  // namespace

TEST(InfoTextFit, LongerTextRisesJustClearOfTheHeadingAndOneTooLongToLiftShrinks)
{
    // Ten full lines: the tenth stands at 2.5 - 9 x 1.25 = -8.75, beside the
    // heading, so it rises until its baseline is the clearance above it.
    const std::vector<QvInfoGlyph> ten = words(60);
    const QvInfoTextFit lifted = qvFitInfoText(ten, kBox, kFontSize);
    EXPECT_EQ(lifted.fontSize, kFontSize);
    EXPECT_NEAR(lifted.lift, qvInfoHeading.top + qvInfoTextClearance - (2.5f - 9 * 1.25f), 1e-4f);
    EXPECT_TRUE(clear(ten, lifted.fontSize, lifted.lift));
    EXPECT_FALSE(clear(ten, lifted.fontSize, lifted.lift - 0.01f));

    // Twenty lines cannot rise far enough: the text shrinks to the largest
    // size (in steps of 0.5) at which some lift clears it.
    const std::vector<QvInfoGlyph> twenty = words(120);
    const QvInfoTextFit shrunk = qvFitInfoText(twenty, kBox, kFontSize);
    EXPECT_LT(shrunk.fontSize, kFontSize);
    EXPECT_GE(shrunk.fontSize, qvInfoTextSmallestFontSize);
    EXPECT_TRUE(clear(twenty, shrunk.fontSize, shrunk.lift));
    EXPECT_FALSE(someLiftClears(twenty, shrunk.fontSize + qvInfoTextShrinkStep));
}
