// Text layout arithmetic: the placements held against the box's geometry
// (centred means equal margins, fitted means the next larger try would not
// fit), with the real bitmap metrics of the lower panel's "Clear" button.
#include "controls/qvtextlayout.h"

#include "engine/text/qvglyphatlas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>

namespace {

// Bitmap metrics of the shipped font, rendered once without OpenGL.
const std::map<char16_t, Character2D>& fontMetrics()
{
    static const std::map<char16_t, Character2D> table = [] {
        std::map<char16_t, Character2D> t;
        for (const QvGlyphBitmap& g : qvRenderBitmapGlyphs("fonts/djsans/DejaVuSans.ttf").glyphs) {
            t[g.code] = g.metrics;
        }
        return t;
    }();
    return table;
}

std::vector<QvGlyphMetrics> bitmapMetrics(const std::u16string& text)
{
    std::vector<QvGlyphMetrics> metrics;
    for (char16_t c : text) metrics.push_back(qvGlyphMetrics(fontMetrics().at(c), c));
    return metrics;
}

// Glyphs of equal advance (and height), spaces where the text has them.
std::vector<QvGlyphMetrics> evenMetrics(const std::string& text, float advance, float height = 30.0f)
{
    std::vector<QvGlyphMetrics> metrics;
    for (char c : text) metrics.push_back({advance, height, height, c == ' '});
    return metrics;
}

float rightEdge(const QvLineLayout& line, const std::vector<QvGlyphMetrics>& metrics)
{
    return line.glyphs.back().position.x + line.glyphs.back().scale * metrics.back().advance;
}

}  // namespace

TEST(TextLayout, ClearButtonIsCentredAtItsFontScale)
{
    const std::vector<QvGlyphMetrics> clear = bitmapMetrics(u"Clear");
    const QvTextBox box{2.0f, 1.0f, 1.0f, glm::vec3(1.0f), 2};
    const float scale = qvGlyphScale(16.0f, false);
    EXPECT_NEAR(scale, 0.0095981f, 1e-7f);

    const QvLineLayout built = qvLayOutLine(box, clear, scale, 0.02f);
    ASSERT_EQ(built.glyphs.size(), 5u);
    EXPECT_FLOAT_EQ(built.glyphs.front().position.x, -1.0f);  // from the left edge
    EXPECT_FLOAT_EQ(built.glyphs.front().position.z, 0.52f);

    // "Clear" fits 2 - 2 x 4 / 100 = 1.92 at once: the scale stays.
    const QvFitResult fit = qvFitBitmapLine(box, clear, scale, built.textWidth);
    EXPECT_LT(built.textWidth, 1.92f);
    EXPECT_EQ(fit.scale, scale);

    const QvLineLayout centred =
        qvCentreBitmapLine(box, clear, fit.scale, fit.textWidth, built.maxHeight, 0.03f);
    const float leftMargin = centred.glyphs.front().position.x + 1.0f;
    const float rightMargin = 1.0f - rightEdge(centred, clear);
    EXPECT_NEAR(leftMargin, rightMargin, 1e-5f);
    for (const QvGlyphPlacement& g : centred.glyphs) {
        EXPECT_FLOAT_EQ(g.position.z, 0.53f);
        EXPECT_EQ(g.scale, scale);
        // Baseline half the tallest glyph below the centre line.
        EXPECT_FLOAT_EQ(g.position.y, -built.maxHeight * scale / 2.0f);
    }
    // Glyphs follow each other without overlap, in text order.
    for (size_t i = 1; i < centred.glyphs.size(); ++i) {
        EXPECT_NEAR(centred.glyphs[i].position.x - centred.glyphs[i - 1].position.x,
                    scale * clear[i - 1].advance, 1e-6f);
    }
}

TEST(TextLayout, BitmapShrinkStopsAtTheFirstFittingTry)
{
    const std::vector<QvGlyphMetrics> text = evenMetrics("Speedometer:", 30.0f);  // 360 units
    const QvTextBox box{4.0f, 1.0f, 0.2f, glm::vec3(1.0f), 5};                    // 3.6 available
    const float scale = 0.024f;
    const QvLineLayout built = qvLayOutLine(box, text, scale, 0.02f);
    ASSERT_GT(built.textWidth, 3.6f);
    const QvFitResult fit = qvFitBitmapLine(box, text, scale, built.textWidth);
    EXPECT_LE(fit.textWidth, 3.6f);
    EXPECT_NEAR(fit.textWidth, fit.scale * 360.0f, 1e-4f);
    // One step less shrinking would not have fitted.
    EXPECT_GT((fit.scale + qvShrinkStep2D) * 360.0f, 3.6f);
    // Whole steps below the starting scale: 0.024 -> 0.010.
    EXPECT_NEAR(fit.scale, 0.010f, 1e-5f);
}

TEST(TextLayout, BitmapShrinkEndsWhenNoWidthIsLeft)
{
    const std::vector<QvGlyphMetrics> text = evenMetrics("On", 30.0f);
    const QvTextBox box{1.0f, 1.0f, 0.1f, glm::vec3(1.0f), 50};  // nothing left between the paddings
    const QvFitResult fit = qvFitBitmapLine(box, text, 0.024f, 0.024f * 60.0f);
    EXPECT_LE(fit.scale, 0.0f);
    EXPECT_GT(fit.scale, -qvShrinkStep2D);  // the first try at or below zero
    // Glyphs without advance and no room at all: still ends.
    const std::vector<QvGlyphMetrics> empty = evenMetrics("  ", 0.0f);
    const QvTextBox none{1.0f, 1.0f, 0.1f, glm::vec3(1.0f), 60};
    EXPECT_LE(qvFitBitmapLine(none, empty, 0.024f, 1.0f).scale, 0.0f);
}

TEST(TextLayout, OutlineTextFitsCentredOrShrinksByWholeDivisors)
{
    const QvTextBox box{2.0f, 1.0f, 0.4f, glm::vec3(1.5f, 1.0f, 1.0f), 1};  // 3.0 wide on screen
    const float scale = qvGlyphScale(25.0f, true);

    // 10 glyphs of 600 units at 0.00025: 1.5 wide, fits, centred on the scaled box.
    const std::vector<QvGlyphMetrics> shortText = evenMetrics("Tracker on", 600.0f, 0.0f);
    const QvLineLayout built = qvLayOutLine(box, shortText, scale, 0.02f);
    const std::optional<QvLineLayout> fits = qvAlignOutlineLine(box, shortText, built, scale, 0.03f, 0.1f);
    ASSERT_TRUE(fits);
    EXPECT_NEAR(fits->glyphs.front().position.x + 1.5f, 1.5f - rightEdge(*fits, shortText), 1e-5f);
    EXPECT_FLOAT_EQ(fits->glyphs.front().position.z, 0.23f);

    // 39 glyphs: 5.85 wide. Halving gives 2.925, which fits the 3.0 box.
    const std::vector<QvGlyphMetrics> longText = evenMetrics(std::string(39, 'W'), 600.0f, 0.0f);
    const QvLineLayout wide = qvLayOutLine(box, longText, scale, 0.02f);
    const std::optional<QvLineLayout> halved = qvAlignOutlineLine(box, longText, wide, scale, 0.03f, 0.1f);
    ASSERT_TRUE(halved);
    EXPECT_FLOAT_EQ(halved->glyphs.front().scale, scale / 2.0f);
    EXPECT_FLOAT_EQ(halved->glyphs.front().position.z, 0.3f);

    // 70 glyphs: 10.5 wide; / 3 = 3.5 too wide, / 4 = 2.625 fits.
    const std::vector<QvGlyphMetrics> longer = evenMetrics(std::string(70, 'W'), 600.0f, 0.0f);
    const QvLineLayout wider = qvLayOutLine(box, longer, scale, 0.02f);
    const std::optional<QvLineLayout> quartered = qvAlignOutlineLine(box, longer, wider, scale, 0.03f, 0.1f);
    ASSERT_TRUE(quartered);
    EXPECT_FLOAT_EQ(quartered->glyphs.front().scale, scale / 4.0f);
    EXPECT_NEAR(quartered->textWidth, 2.625f, 1e-4f);
    EXPECT_NEAR(quartered->glyphs.front().position.x + 1.5f, 1.5f - rightEdge(*quartered, longer), 1e-4f);
    // Outline glyphs have no height for the layout: the baseline is the centre line.
    for (const QvGlyphPlacement& g : quartered->glyphs) EXPECT_EQ(g.position.y, 0.0f);
}

TEST(TextLayout, OutlineTextWiderThanItsBoxButNotThanOneStaysAsBuilt)
{
    const QvTextBox box{0.5f, 0.5f, 0.1f, glm::vec3(1.0f), 1};
    const std::vector<QvGlyphMetrics> text = evenMetrics("Odometer", 400.0f, 0.0f);  // 0.8 wide
    const QvLineLayout built = qvLayOutLine(box, text, 0.00025f, 0.02f);
    EXPECT_FALSE(qvAlignOutlineLine(box, text, built, 0.00025f, 0.03f, 0.1f));
    // A width that is not a number ends too, instead of trying forever.
    QvLineLayout broken = built;
    broken.textWidth = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(qvAlignOutlineLine(box, text, broken, 0.00025f, 0.03f, 0.1f));
}

TEST(TextLayout, FirstGlyphSetsTheBaselineOfUnalignedText)
{
    std::vector<QvGlyphMetrics> text = evenMetrics("ab", 20.0f);
    text[0].baseline = 10.0f;
    text[1].height = 40.0f;
    const QvTextBox box{2.0f, 1.0f, 0.2f, glm::vec3(1.0f), 1};
    const QvLineLayout line = qvLayOutLine(box, text, 0.024f, 0.1f);
    EXPECT_FLOAT_EQ(line.glyphs[1].position.y, -10.0f * 0.024f / 2.0f);
    EXPECT_EQ(line.maxHeight, 40.0f);
    EXPECT_TRUE(qvLayOutLine(box, {}, 0.024f, 0.1f).glyphs.empty());
    // Dimensions carry the transform's scaling.
    const QvTextBox scaled{2.0f, 1.0f, 0.2f, glm::vec3(2.0f, 1.0f, 0.5f), 1};
    EXPECT_EQ(qvLayOutLine(scaled, text, 0.5f, 0.1f).glyphs[0].dimension, glm::vec3(20.0f, 10.0f, 5.0f));
}

TEST(TextLayout, WrappingMovesWholeWordsToTheNextLine)
{
    // Box 1.0 wide: left edge -0.5, right edge 0.5; each glyph 0.1 wide.
    const QvTextBox box{1.0f, 2.0f, 0.2f, glm::vec3(1.0f), 1};
    const std::vector<QvGlyphMetrics> text = evenMetrics("abcd efghijk", 10.0f);
    const QvLineLayout wrapped = qvWrapBitmapText(box, text, 0.01f, 0.1f);
    ASSERT_EQ(wrapped.glyphs.size(), 12u);
    // First line at y = H, "abcd " fits; "efghijk" does not and moves whole.
    EXPECT_FLOAT_EQ(wrapped.glyphs[0].position.y, 2.0f);
    EXPECT_FLOAT_EQ(wrapped.glyphs[4].position.y, 2.0f);
    for (size_t i = 5; i < 12; ++i) {
        EXPECT_FLOAT_EQ(wrapped.glyphs[i].position.y, 1.0f) << i;  // half the box height lower
        EXPECT_NEAR(wrapped.glyphs[i].position.x, -0.5f + 0.1f * float(i - 5), 1e-5f) << i;
    }
}

TEST(TextLayout, WrappingNeverMovesTheFirstGlyphAndLeavesSpacesBehind)
{
    const QvTextBox box{1.0f, 2.0f, 0.2f, glm::vec3(1.0f), 1};
    // One word longer than a line: glyphs 1.. move down again at each overflow.
    const std::vector<QvGlyphMetrics> word = evenMetrics("abcdefghijkl", 10.0f);
    const QvLineLayout wrapped = qvWrapBitmapText(box, word, 0.01f, 0.1f);
    EXPECT_FLOAT_EQ(wrapped.glyphs[0].position.y, 2.0f);
    EXPECT_FLOAT_EQ(wrapped.glyphs[0].position.x, -0.5f);
    EXPECT_FLOAT_EQ(wrapped.glyphs[1].position.x, -0.5f);
    EXPECT_LT(wrapped.glyphs[11].position.y, 1.5f);

    // A space crossing the edge stays; the next word starts the new line.
    const std::vector<QvGlyphMetrics> spaced = evenMetrics("abcdefghij kl", 10.0f);
    const QvLineLayout lines = qvWrapBitmapText(box, spaced, 0.01f, 0.1f);
    EXPECT_FLOAT_EQ(lines.glyphs[10].position.y, 2.0f);
    EXPECT_FLOAT_EQ(lines.glyphs[11].position.y, 1.0f);
    EXPECT_FLOAT_EQ(lines.glyphs[11].position.x, -0.5f);
}
