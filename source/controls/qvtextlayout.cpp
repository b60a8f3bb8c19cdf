// qvtextlayout: first placement, outline centring and shrinking, bitmap
// shrink-to-fit and centring, and word wrapping.
#include "controls/qvtextlayout.h"

#include "engine/text/qvcharacter3d.h"
#include "engine/text/qvglyphatlas.h"

#include <cmath>

namespace {

// Outline trials stop here at the latest: a NaN or infinite width never fits.
constexpr int kMaxOutlineTries = 100000;
// Bitmap trials: at 0.001 a try a scale of up to 1000 reaches 0 before this.
constexpr int kMaxBitmapTries = 1000000;

float pixelsOf(std::uint32_t advance)
{
    return static_cast<float>(advance >> 6);
}

QvGlyphPlacement placed(glm::vec3 pen, float k, const QvTextBox& box, float advance)
{
    return {pen, k, k * box.scaling * advance};
}

float sumOfAdvances(std::span<const QvGlyphMetrics> glyphs)
{
    float sum = 0.0f;
    for (const QvGlyphMetrics& g : glyphs) sum += g.advance;
    return sum;
}

// The line at scale k from pen, advancing by k x advance; textWidth sums them.
QvLineLayout lineFrom(glm::vec3 pen, const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float k)
{
    QvLineLayout line;
    line.glyphs.reserve(glyphs.size());
    for (const QvGlyphMetrics& g : glyphs) {
        line.glyphs.push_back(placed(pen, k, box, g.advance));
        pen.x += k * g.advance;
        line.textWidth += k * g.advance;
        line.maxHeight = std::max(line.maxHeight, g.height);
    }
    return line;
}

}  // namespace

float qvGlyphScale(float fontSize, bool is3D)
{
    return fontSize / (is3D ? qvGlyphScaleDivisor3D : qvGlyphScaleDivisor2D);
}

QvGlyphMetrics qvGlyphMetrics(const Character2D& glyph, char16_t code)
{
    return {pixelsOf(glyph.advance), glyph.size.y, static_cast<float>(glyph.rows), code == u' '};
}

QvGlyphMetrics qvGlyphMetrics(const Character3D& glyph, char16_t code)
{
    return {pixelsOf(glyph.character.advance) * qvOutlineAdvanceUnits, 0.0f, 0.0f, code == u' '};
}

QvLineLayout qvLayOutLine(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float scale,
                          float zOffset)
{
    if (glyphs.empty()) {
        return {};
    }
    const glm::vec3 pen(-(box.width / 2.0f) * box.scaling.x, -(glyphs.front().baseline * scale) / 2.0f,
                        box.depth / 2.0f + zOffset);
    return lineFrom(pen, box, glyphs, scale);
}

std::optional<QvLineLayout> qvAlignOutlineLine(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs,
                                               const QvLineLayout& built, float scale, float zFits,
                                               float zShrink)
{
    const float x0 = -(box.width / 2.0f) * box.scaling.x;
    const float available = box.width * box.scaling.x;
    const float builtWidth = built.textWidth;
    if (builtWidth <= available) {
        const glm::vec3 pen(x0 + (available - builtWidth) / 2.0f, -(built.maxHeight * scale) / 2.0f,
                            box.depth / 2.0f + zFits);
        QvLineLayout line = lineFrom(pen, box, glyphs, scale);
        line.textWidth = builtWidth;
        line.maxHeight = built.maxHeight;
        return line;
    }
    if (!(builtWidth > qvShrinkFloor3D)) {
        return std::nullopt;
    }
    QvLineLayout line;
    for (int divisor = 2; divisor < kMaxOutlineTries; ++divisor) {
        const float d = static_cast<float>(divisor);
        const float k = scale / d;
        const glm::vec3 pen(x0 + (available - builtWidth / d) / 2.0f, -(built.maxHeight * k) / 2.0f,
                            box.depth / 2.0f + zShrink);
        line = lineFrom(pen, box, glyphs, k);
        if (line.textWidth <= available || line.textWidth <= qvShrinkFloor3D) {
            break;
        }
    }
    line.maxHeight = built.maxHeight;
    return line;
}

QvFitResult qvFitBitmapLine(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float scale,
                            float builtWidth)
{
    const float w = box.width;
    const float available = w - w * (2.0f * static_cast<float>(box.padding)) / 100.0f;
    if (builtWidth <= available) {
        return {scale, builtWidth};
    }
    const float advances = sumOfAdvances(glyphs);
    QvFitResult fit{scale, builtWidth};
    float step = qvShrinkStep2D;
    for (int tries = 0; tries < kMaxBitmapTries; ++tries) {
        const float k = scale - step;
        fit = {k, k * advances};
        // A scale of 0 or below cannot get any narrower in a useful way.
        if (fit.textWidth <= available || k <= 0.0f) {
            break;
        }
        step += qvShrinkStep2D;
    }
    return fit;
}

QvLineLayout qvCentreBitmapLine(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float k,
                                float textWidth, float maxHeight, float zOffset)
{
    const glm::vec3 pen(-textWidth / 2.0f, -(maxHeight * k) / 2.0f, box.depth / 2.0f + zOffset);
    QvLineLayout line = lineFrom(pen, box, glyphs, k);
    line.textWidth = textWidth;
    line.maxHeight = maxHeight;
    return line;
}

QvLineLayout qvWrapBitmapText(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float scale,
                              float zOffset)
{
    const float left = -(box.width / 2.0f) * box.scaling.x;
    const float right = (box.width / 2.0f) * box.scaling.x;
    const float lineStep = (box.height / 2.0f) * box.scaling.y;
    glm::vec3 pen(left, box.height * box.scaling.y, box.depth / 2.0f + zOffset);
    QvLineLayout text;
    text.glyphs.reserve(glyphs.size());
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const float advance = scale * glyphs[i].advance;
        text.maxHeight = std::max(text.maxHeight, glyphs[i].height);
        text.glyphs.push_back(placed(pen, scale, box, glyphs[i].advance));
        if (pen.x + advance <= right) {
            pen.x += advance;
            text.textWidth += advance;
            continue;
        }
        // The trailing word: back to the last space, never index 0.
        std::size_t wordStart = i + 1;
        for (std::size_t j = i; j >= 1 && !glyphs[j].space; --j) wordStart = j;
        pen.x = left;
        pen.y -= lineStep;
        for (std::size_t j = wordStart; j <= i; ++j) {
            text.glyphs[j].position = pen;
            pen.x += scale * glyphs[j].advance;
        }
    }
    return text;
}
