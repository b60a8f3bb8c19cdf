// qvtextlayout: where the glyphs of a control's text go, as plain arithmetic
// over glyph metrics. Label, button and switch turn their text into one glyph
// per UTF-16 code unit, each placed by a transform of its own under the
// control's; these functions compute those placements (pen positions, the
// glyph scale and the glyph's dimension) without touching a glyph object.
//
// Units: a glyph's advance counts in glyph units (pixels of the 48-pixel face
// for bitmap glyphs, 60 x pixels for outline glyphs); one glyph unit is
// `scale` long in the control's frame. The box is the control's (W, H, D)
// with the scaling vector of its transform.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <glm/vec3.hpp>

struct Character2D;
class Character3D;

// Glyph scale per font size: size / 100000 for outline glyphs, size / 1667
// for bitmap glyphs.
inline constexpr float qvGlyphScaleDivisor3D = 100000.0f;
inline constexpr float qvGlyphScaleDivisor2D = 1667.0f;
// An outline glyph's advance in glyph units per pixel of advance.
inline constexpr float qvOutlineAdvanceUnits = 60.0f;
// A bitmap text too wide for its padded width loses this much scale per try.
inline constexpr float qvShrinkStep2D = 0.001f;
// An outline text is tried at scale / 2, / 3, ... while wider than this.
inline constexpr float qvShrinkFloor3D = 1.0f;

float qvGlyphScale(float fontSize, bool is3D);

// What the layout reads of one glyph.
struct QvGlyphMetrics {
    float advance = 0.0f;   // glyph units
    float height = 0.0f;    // counts toward the tallest glyph
    float baseline = 0.0f;  // of the text's first glyph: sets the baseline
    bool space = false;     // where wrapping may break the line
};

// Bitmap glyph: advance >> 6 pixels, height from the bitmap's rows.
QvGlyphMetrics qvGlyphMetrics(const Character2D& glyph, char16_t code);
// Outline glyph: (advance >> 6) x 60 units, height 0, so that outline text
// has its baseline on the control's centre line whatever the font recorded.
QvGlyphMetrics qvGlyphMetrics(const Character3D& glyph, char16_t code);

// The control's box and its transform's scaling vector.
struct QvTextBox {
    float width = 0.0f;
    float height = 0.0f;
    float depth = 0.0f;
    glm::vec3 scaling{1.0f};
    int padding = 0;  // percent of the width on each side
};

// One glyph's placement: its transform's translation, its scaling on all
// three axes and its dimension.
struct QvGlyphPlacement {
    glm::vec3 position{0.0f};
    float scale = 0.0f;
    glm::vec3 dimension{0.0f};
};

struct QvLineLayout {
    std::vector<QvGlyphPlacement> glyphs;
    float textWidth = 0.0f;  // sum of scale x advance over the line
    float maxHeight = 0.0f;  // tallest glyph height
};

// First placement, left to right from the box's left edge (times the x
// scaling) at z = D / 2 + zOffset, the baseline half the first glyph's
// baseline height (times scale) below the centre line.
QvLineLayout qvLayOutLine(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float scale,
                          float zOffset);

// Outline text centring: a line that fits the box width (times the x
// scaling) is centred at z = D / 2 + zFits; a wider one, wider than 1.0, is
// tried at scale / 2, / 3, ... until it fits or is no wider than 1.0, centred
// each time at z = D / 2 + zShrink. Nothing when the line is wider than the
// box but not than 1.0: it keeps its first placement.
std::optional<QvLineLayout> qvAlignOutlineLine(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs,
                                               const QvLineLayout& built, float scale, float zFits,
                                               float zShrink);

// Bitmap text shrink-to-fit: the scale that makes the line fit the box width
// less twice the padding, lowered by 0.001 a try from `scale`; the first try
// at a scale of 0 or below ends the search. Returns the scale and the line's
// width at it (the built width when it fits at once).
struct QvFitResult {
    float scale = 0.0f;
    float textWidth = 0.0f;
};
QvFitResult qvFitBitmapLine(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float scale,
                            float builtWidth);

// Bitmap text centred on x = 0 at glyph scale k: starts at -textWidth / 2,
// baseline half the tallest glyph (times k) below the centre line, z = D / 2 +
// zOffset.
QvLineLayout qvCentreBitmapLine(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float k,
                                float textWidth, float maxHeight, float zOffset);

// Word-wrapped bitmap text: lines start at the box's left edge, the first at
// y = H (times the y scaling), each next one half the box height lower. A
// glyph that crosses the right edge takes its word (back to the last space;
// never the text's first glyph) to the next line; a space that crosses it
// stays at the end of its line.
QvLineLayout qvWrapBitmapText(const QvTextBox& box, std::span<const QvGlyphMetrics> glyphs, float scale,
                              float zOffset);
