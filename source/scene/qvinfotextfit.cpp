// qvinfotextfit: the help text's glyph rectangles and the lift and size that
// keep them on the information monitor's glass and off its heading.
#include "scene/qvinfotextfit.h"

#include "engine/text/qvglyphatlas.h"

#include <algorithm>
#include <limits>

namespace {

// The wrap's metrics of each glyph: its advance and where it may break.
std::vector<QvGlyphMetrics> metricsOf(std::span<const QvInfoGlyph> glyphs)
{
    std::vector<QvGlyphMetrics> metrics;
    metrics.reserve(glyphs.size());
    for (const QvInfoGlyph& glyph : glyphs) {
        QvGlyphMetrics m = qvGlyphMetrics(*glyph.record, u'\0');
        m.space = glyph.space;
        metrics.push_back(m);
    }
    return metrics;
}

// The quad a bitmap glyph draws from `pen` at glyph scale k: its bitmap's
// place from the pen (bearing and size in pixels of the 48-pixel face) times k.
QvFaceRect quadAt(const Character2D& record, glm::vec3 pen, float k)
{
    if (record.size.x <= 0.0f || record.size.y <= 0.0f) return {pen.x, pen.y, pen.x, pen.y};
    const float left = pen.x + k * record.bearing.x;
    const float top = pen.y + k * record.bearing.y;
    return {left, top - k * record.size.y, left + k * record.size.x, top};
}

bool empty(const QvFaceRect& rect)
{
    return rect.right <= rect.left || rect.top <= rect.bottom;
}

// How far the text must rise so that no glyph ends below the glass and no
// glyph beside the heading ends below the heading's top.
float liftNeeded(const std::vector<QvFaceRect>& rects)
{
    float lift = 0.0f;
    for (const QvFaceRect& rect : rects) {
        if (empty(rect)) continue;
        lift = std::max(lift, qvInfoGlass.bottom + qvInfoTextClearance - rect.bottom);
        const bool besideHeading = rect.right > qvInfoHeading.left - qvInfoTextClearance &&
                                   rect.left < qvInfoHeading.right + qvInfoTextClearance;
        if (besideHeading) lift = std::max(lift, qvInfoHeading.top + qvInfoTextClearance - rect.bottom);
    }
    return lift;
}

float highestTop(const std::vector<QvFaceRect>& rects)
{
    float top = -std::numeric_limits<float>::infinity();
    for (const QvFaceRect& rect : rects) {
        if (!empty(rect)) top = std::max(top, rect.top);
    }
    return top;
}

}  // namespace

std::vector<QvFaceRect> qvInfoTextRects(std::span<const QvInfoGlyph> glyphs, const QvTextBox& box,
                                        float fontSize, float lift)
{
    const float k = qvGlyphScale(fontSize, false);
    const std::vector<QvGlyphMetrics> metrics = metricsOf(glyphs);
    const QvLineLayout layout = qvWrapBitmapText(box, metrics, k, 0.0f);
    std::vector<QvFaceRect> rects;
    rects.reserve(glyphs.size());
    for (std::size_t i = 0; i < glyphs.size() && i < layout.glyphs.size(); ++i) {
        const glm::vec3 pen = layout.glyphs[i].position + glm::vec3(0.0f, lift, 0.0f);
        rects.push_back(quadAt(*glyphs[i].record, pen, k));
    }
    return rects;
}

QvInfoTextFit qvFitInfoText(std::span<const QvInfoGlyph> glyphs, const QvTextBox& box, float fontSize)
{
    float size = fontSize;
    while (true) {
        const std::vector<QvFaceRect> rects = qvInfoTextRects(glyphs, box, size, 0.0f);
        const float lift = liftNeeded(rects);
        const bool topOnGlass = highestTop(rects) + lift <= qvInfoGlass.top - qvInfoTextClearance;
        const float smaller = size - qvInfoTextShrinkStep;
        if (topOnGlass || smaller < qvInfoTextSmallestFontSize) return {size, lift};
        size = smaller;
    }
}
