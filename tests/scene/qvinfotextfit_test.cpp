// The help text's fit on the information monitor, with glyphs of known
// metrics: a text longer than the glass holds is lifted just clear of the
// heading; one too long to lift shrinks to the largest size that fits,
// checked by a brute-force search.
#include "engine/text/qvglyphatlas.h"
#include "scene/qvinfotextfit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Letters 30 px wide with a 24 x 34 bitmap standing on the baseline; spaces
// 15 px without pixels. At font size 20 a word of five letters and a space
// is 1.98 units, so six words fill a line of the 13.33-unit box.
const Character2D kLetter = [] {
    Character2D c;
    c.size = {24.0f, 34.0f};
    c.bearing = {3.0f, 34.0f};
    c.advance = 30u << 6;
    c.rows = 34;
    return c;
}();
const Character2D kSpace = [] {
    Character2D c;
    c.size = {0.0f, 0.0f};
    c.bearing = {0.0f, 0.0f};
    c.advance = 15u << 6;
    return c;
}();

const QvTextBox kBox{20.0f / 1.5f, 2.5f, 1.0f, glm::vec3(1.0f), 1};
constexpr float kPartSize = 20.0f;
constexpr float kLineStep = 1.25f;  // half the box height
constexpr float kFirstLine = 2.5f;  // the box height

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
bool clear(const std::vector<QvFaceRect>& rects)
{
    constexpr float c = qvInfoTextClearance - 1e-4f;
    const QvFaceRect glass{qvInfoGlass.left + c, qvInfoGlass.bottom + c, qvInfoGlass.right - c,
                           qvInfoGlass.top - c};
    const QvFaceRect heading{qvInfoHeading.left - c, qvInfoHeading.bottom - c, qvInfoHeading.right + c,
                             qvInfoHeading.top + c};
    for (const QvFaceRect& r : rects) {
        if (r.right <= r.left) continue;
        if (!glass.contains(r) || heading.overlaps(r)) return false;
    }
    return true;
}

// Some lift between 0 and 20 units (by steps of 0.01) clears the text at `size`.
bool someLiftClears(const std::vector<QvInfoGlyph>& glyphs, float size)
{
    for (int step = 0; step <= 2000; ++step) {
        if (clear(qvInfoTextRects(glyphs, kBox, size, 0.01f * float(step)))) return true;
    }
    return false;
}

}  // namespace

// Ten full lines: the tenth stands at 2.5 - 9 x 1.25 = -8.75, beside the
// heading, so it rises until its baseline is the clearance above the heading.
TEST(InfoTextFit, LongerTextRisesJustClearOfTheHeading)
{
    const std::vector<QvInfoGlyph> glyphs = words(60);
    const QvInfoTextFit fit = qvFitInfoText(glyphs, kBox, kPartSize);
    EXPECT_EQ(fit.fontSize, kPartSize);
    const float tenthLine = kFirstLine - 9 * kLineStep;
    EXPECT_NEAR(fit.lift, qvInfoHeading.top + qvInfoTextClearance - tenthLine, 1e-4f);
    EXPECT_TRUE(clear(qvInfoTextRects(glyphs, kBox, fit.fontSize, fit.lift)));
    EXPECT_FALSE(clear(qvInfoTextRects(glyphs, kBox, fit.fontSize, fit.lift - 0.01f)));
}

// Twenty lines cannot rise far enough at the Part's size: the text shrinks to
// the largest size (in steps of 0.5) at which some lift clears it.
TEST(InfoTextFit, TextTooLongToLiftShrinksToTheLargestSizeThatFits)
{
    const std::vector<QvInfoGlyph> glyphs = words(120);
    EXPECT_FALSE(someLiftClears(glyphs, kPartSize));
    const QvInfoTextFit fit = qvFitInfoText(glyphs, kBox, kPartSize);
    EXPECT_LT(fit.fontSize, kPartSize);
    EXPECT_GE(fit.fontSize, qvInfoTextSmallestFontSize);
    EXPECT_TRUE(clear(qvInfoTextRects(glyphs, kBox, fit.fontSize, fit.lift)));
    EXPECT_FALSE(someLiftClears(glyphs, fit.fontSize + qvInfoTextShrinkStep));
}
