// Bitmap font of the flat 2D text: FreeType renders every glyph of the
// interface's code points at 48 px; each glyph gets an OpenGL texture of its
// own and a place in one 1024 x 1024 atlas that batched text samples.
//
// The FreeType rendering and the atlas packing run without OpenGL
// (qvRenderBitmapGlyphs, QvAtlasPacker); QvFont2D only adds the uploads.
#pragma once

#include "qvfont.h"

#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// One glyph of the bitmap font, as the text controls read it.
struct Character2D {
    static constexpr float unset = std::numeric_limits<float>::quiet_NaN();

    uint32_t texture = 0;                             // the glyph's own texture
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

class QvFont2D : public QvFont {
public:
    static constexpr int atlasSize = 1024;
    static constexpr int atlasRowStep = 50;

    // Builds and uploads every glyph; needs a current OpenGL context.
    explicit QvFont2D(std::string fontPath);
    ~QvFont2D() override;
    QvFont2D(const QvFont2D&) = delete;
    QvFont2D& operator=(const QvFont2D&) = delete;

    // The record of a code point, or null when the font did not build it.
    const Character2D* findCharacter(char16_t code) const;

    std::unordered_map<char16_t, Character2D> characters;
    int atlasWidth = atlasSize;
    int atlasHeight = atlasSize;
    std::string fontPath;
    uint32_t atlasTexture = 0;
    std::vector<uint8_t> atlas;

private:
    void init();
};
