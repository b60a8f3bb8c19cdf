// The text model shared by the 2D and the 3D edit box: the line of glyphs
// (code and advance), the caret index and x, the sideways scrolling, the key
// commands, the input rules, the integer value with its range and enum names,
// and the readings of program-set text (UTF-8 into whole code points, decimal
// numbers). Plain code: the boxes mirror its changes into glyph objects and
// transforms, the model never touches a glyph or OpenGL.
//
// Glyph positions are kept as an offset from a line origin that scrolling and
// the ticker move as a whole, so a scroll is one addition however long the
// text is; an insert or removal only moves the offsets of the glyphs after it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// GLFW key codes the boxes answer.
inline constexpr int qvKeyEnter = 257;
inline constexpr int qvKeyBackspace = 259;
inline constexpr int qvKeyDelete = 261;
inline constexpr int qvKeyRight = 262;
inline constexpr int qvKeyLeft = 263;

// The largest code point a box shows: interface strings are UTF-16 code units
// and the fonts build no glyph beyond the basic plane.
inline constexpr char32_t qvEditLastCodePoint = 0xFFFF;

// Whole code points of UTF-8 text; a malformed sequence becomes U+FFFD.
std::u32string qvDecodeUtf8(std::string_view text);
// Whole code points of UTF-16 text; a lone surrogate becomes U+FFFD.
std::u32string qvDecodeUtf16(std::u16string_view text);
// One code point of the basic plane as UTF-8 (a glyph's name).
std::string qvEncodeUtf8(char16_t code);

// How a text reads as a decimal int: an optional + or -, then digits only.
enum class QvNumberReading { number, overflow, notANumber };
struct QvParsedNumber {
    QvNumberReading reading = QvNumberReading::notANumber;
    int value = 0;          // the number when reading is number
    bool negative = false;  // the sign, also for an overflow
};
QvParsedNumber qvParseDecimal(std::u16string_view text);
QvParsedNumber qvParseDecimal(std::string_view utf8);

// The two boxes differ in a few key rules; everything else is shared.
enum class QvEditFlavour {
    flat,      // 2D box: Left and Right scroll at the edges, Delete never scrolls
    extruded,  // 3D box: Left and Right never scroll, Delete may scroll back
};

// What a command did, for the box that mirrors it into glyph objects.
struct QvEditChange {
    bool applied = false;     // false: the guard failed, nothing changed
    bool caretMoved = false;  // the box moves its caret bar to caretX()
    int inserted = -1;        // index of a new glyph (0 = leftmost), or -1
    int removed = -1;         // index of a removed glyph, or -1
};

class QvEditText {
public:
    struct Glyph {
        char16_t code = 0;     // what was typed (the drawn glyph may be a fallback)
        float advance = 0.0f;  // box units
        float offset = 0.0f;   // x from the line origin
    };

    explicit QvEditText(QvEditFlavour flavour) : flavour(flavour) {}

    // The box width (unscaled) and its x scaling, which the scroll tests read.
    void setFrame(float width, float scaleX);
    // Drops every glyph; the caret index goes home, the caret x stays.
    void clear();
    // Puts the caret at x (caret home after a clear).
    void placeCaret(float x) { caret = x; }

    // --- input rules ----------------------------------------------------------
    // Would a typed code point be taken? Read-only takes nothing, digits-only
    // only 0 to 9, a full line (maxLength glyphs) nothing more; nothing
    // beyond the basic plane.
    bool admits(char32_t code) const;

    // --- commands ---------------------------------------------------------------
    // A glyph of the given advance at the caret; the caret moves past it, or
    // (edit mode) the whole line scrolls left when the caret would pass the
    // right edge.
    QvEditChange insert(char16_t code, float advance);
    QvEditChange backspace();
    QvEditChange del();
    QvEditChange left();
    QvEditChange right();
    // Every glyph moves by dx; the caret stays (the ticker's step).
    void shift(float dx) { origin += dx; }
    // Ticker wrap: once the last glyph has passed the left edge, the line
    // jumps right by the width plus the text's width. True when it jumped.
    bool wrap();

    // --- reading --------------------------------------------------------------
    int glyphCount() const { return static_cast<int>(glyphs.size()); }
    int caretIndex() const { return caretAt; }
    float caretX() const { return caret; }
    // x of the glyph at index i (0 = leftmost) in the box's frame.
    float glyphX(int i) const { return origin + glyphs[static_cast<size_t>(i)].offset; }
    const Glyph& glyph(int i) const { return glyphs[static_cast<size_t>(i)]; }
    // Sum of the advances of the glyphs present.
    float textWidth() const { return advanceSum; }
    // The codes of every glyph in order.
    std::u16string text() const;

    bool tickerMode = false;  // the line runs as a ticker: typing never scrolls
    bool readOnly = false;
    bool digitsOnly = false;
    int maxLength = 0;  // most glyphs typing or program text may give; 0: no limit

private:
    // Every glyph from index `first` on moves by dx along the line.
    void moveTail(int first, float dx);
    // Drops glyph i, closing the gap behind it.
    float removeAt(int i);
    float rightLimit(float advance) const { return (boxWidth - advance) / 2.0f * boxScaleX; }
    float leftEdge() const { return -(boxWidth / 2.0f) * boxScaleX; }

    QvEditFlavour flavour;
    std::vector<Glyph> glyphs;
    float origin = 0.0f;  // line origin: where offset 0 lies in the box's frame
    float caret = 0.0f;   // caret x in the box's frame
    int caretAt = 0;      // glyphs left of the caret
    float advanceSum = 0.0f;
    float boxWidth = 0.0f;
    float boxScaleX = 1.0f;
};

// The integer a box holds, its optional range and its enum names.
struct QvEditValue {
    int value = 0;
    int minValue = 0;
    int maxValue = 0;                    // no clamping while equal to minValue
    std::vector<std::string> enumNames;  // UTF-8, indexed by value

    // v inside [minValue, maxValue] when the bounds differ.
    int clamp(int v) const;
    // The value Enter of the 3D box reads from text: the number; on overflow
    // maxValue for a positive and minValue for a negative one; minValue for
    // anything that is not a number. Not yet clamped.
    int entered(std::u16string_view text) const;
    // Steps value by delta (clamped) when an enum name exists there; the
    // value is kept and null returned otherwise.
    const std::string* step(int delta);
};
