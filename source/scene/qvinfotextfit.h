// qvinfotextfit: where the wrapped help text goes on the information monitor.
//
// The help text wraps in a box of fixed width whose first line stands a
// little above the monitor's centre, so the longer the text, the lower its
// last line. English ends on the glass, left of the picture's heading in the
// bottom-right corner; a longer translation would run under the heading and
// off the glass. Such a text is lifted just as far as it needs, and shrunk
// only when lifting would push its first line off the top. All of this is
// arithmetic over the glyph records, kept apart from OpenGL.
//
// Units: the monitor's face before its x scaling, 20 x 20 with the centre at
// 0 and y upward (the help text's own frame, which the face scales along).
#pragma once

#include <span>
#include <vector>

#include "controls/qvtextlayout.h"

struct Character2D;

// An axis-aligned rectangle on the face.
struct QvFaceRect {
    float left = 0.0f;
    float bottom = 0.0f;
    float right = 0.0f;
    float top = 0.0f;

    bool overlaps(const QvFaceRect& other) const
    {
        return left < other.right && other.left < right && bottom < other.top && other.bottom < top;
    }
    bool contains(const QvFaceRect& other) const
    {
        return other.left >= left && other.right <= right && other.bottom >= bottom && other.top <= top;
    }
};

// The information monitor's picture (tools/imagegen.cpp draws it, 1024 x 640
// pixels over the whole face): its glass inside a 40-pixel bezel, and its
// heading, "INFORMATION" over "statistics and help", in the glass's
// bottom-right corner. Moving the heading there means moving it here.
inline constexpr QvFaceRect qvInfoGlass{-9.21875f, -8.75f, 9.21875f, 8.75f};
inline constexpr QvFaceRect qvInfoHeading{4.9f, -8.25f, 8.7f, -6.9f};
// Room kept between the text and the glass's edges or the heading.
inline constexpr float qvInfoTextClearance = 0.25f;
// A text that does not fit even when lifted loses this much font size a try,
// down to the smallest size still read comfortably.
inline constexpr float qvInfoTextShrinkStep = 0.5f;
inline constexpr float qvInfoTextSmallestFontSize = 12.0f;

// One glyph of the help text: its bitmap record and whether the wrap may
// break the line there.
struct QvInfoGlyph {
    const Character2D* record = nullptr;
    bool space = false;
};

// The help text's font size and how far its box is lifted above its place.
struct QvInfoTextFit {
    float fontSize = 0.0f;
    float lift = 0.0f;
};

// The drawn quad of each glyph of `glyphs` wrapped in `box` at `fontSize`,
// with the box's centre at (0, lift). A glyph without pixels (a space) gets
// an empty rectangle at its pen.
std::vector<QvFaceRect> qvInfoTextRects(std::span<const QvInfoGlyph> glyphs, const QvTextBox& box,
                                        float fontSize, float lift);

// The placement that keeps every glyph on the glass and off the heading: the
// box stays where it is at `fontSize` when it fits there; otherwise it is
// lifted, and when even that cannot keep the first line on the glass, the
// size shrinks step by step. At the smallest size the text is lifted as far
// as its end needs.
QvInfoTextFit qvFitInfoText(std::span<const QvInfoGlyph> glyphs, const QvTextBox& box, float fontSize);
