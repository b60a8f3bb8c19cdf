// The CPU half of the bitmap font: FreeType renders every glyph of the
// interface's code points at 48 px and the glyphs are packed into one
// 1024 x 1024 coverage atlas. Runs without OpenGL; QvFont2D uploads the result.
#pragma once

#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

class QvFontFace;

inline constexpr int qvAtlasSize = 1024;   // atlas width and height, px
inline constexpr int qvAtlasRowStep = 50;  // least distance between atlas rows, px

// One glyph of the bitmap font, as the text controls read it.
struct Character2D {
    static constexpr float unset = std::numeric_limits<float>::quiet_NaN();

    uint32_t texture = 0;                             // the glyph's own texture, owned by the font
    glm::vec2 size{unset, unset};                     // (bitmap width, bitmap rows), px
    glm::vec2 bearing{unset, unset};                  // (left, top) of the bitmap from the pen, px
    uint32_t advance = 0;                             // 26.6 fixed point; >> 6 gives px
    uint32_t rows = 0;                                // bitmap rows again (the glyph height)
    glm::vec4 atlasRect{unset, unset, unset, unset};  // (x0, y0, x1, y1) in the atlas, px
};

// A glyph as FreeType rendered it, before any upload.
struct QvGlyphBitmap {
    char16_t code = 0;
    Character2D metrics;          // texture still 0
    std::vector<uint8_t> pixels;  // coverage, rows top to bottom, width bytes apart
};

// Places glyph rectangles in the atlas left to right, in rows at least
// rowStep apart; nothing is ever placed across the atlas edge.
class QvAtlasPacker {
public:
    QvAtlasPacker(int width, int height, int rowStep);

    // The rectangle (x0, y0, x1, y1) for a bitmap of width x rows, or nothing
    // when the atlas has no room left for it.
    std::optional<glm::vec4> place(int width, int rows);
    // Moves the cursor to the start of the next row.
    void startNewRow();

private:
    int width_;
    int height_;
    int rowStep_;
    int x_ = 0;
    int y_ = 0;
    int rowHeight_ = 0;  // tallest glyph placed in the current row
};

// What FreeType gives for the font's code points, packed into an atlas.
struct QvBitmapGlyphs {
    bool fontOpened = false;
    std::vector<QvGlyphBitmap> glyphs;  // in code-point order; only glyphs that were placed
    std::vector<uint8_t> atlas;         // atlas image, row 0 first
};

// A rendered FreeType bitmap as one coverage byte per pixel, rows top to
// bottom and tightly packed; one-bit bitmaps become 0 or 255. Nothing for
// pixel modes that are not coverage.
std::optional<std::vector<uint8_t>> qvCoverageRows(const struct FT_Bitmap_& bitmap);

// Renders code points 0..254 and U+0401..U+0451 at 48 px and packs them;
// needs no OpenGL. A font that cannot be opened gives one line and no glyphs.
QvBitmapGlyphs qvRenderBitmapGlyphs(const std::string& fontPath);
// As above, from a face opened before: one that did not open (and said so)
// gives no glyphs and no further line.
QvBitmapGlyphs qvRenderBitmapGlyphs(const QvFontFace& file);
