// Bitmap glyphs: FreeType rendering and atlas packing.
#include "engine/text/qvglyphatlas.h"
#include "engine/text/qvfont.h"

#include <fmt/core.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr uint8_t fullCoverage = 255;  // a pixel wholly inside the glyph

// Renders one code point; nothing when FreeType cannot load it or gives a
// bitmap that is not coverage (colour or subpixel images).
std::optional<QvGlyphBitmap> renderGlyph(FT_Face face, char32_t code)
{
    if (FT_Load_Char(face, code, FT_LOAD_RENDER) != 0) {
        return std::nullopt;
    }
    const FT_GlyphSlot slot = face->glyph;
    QvGlyphBitmap glyph;
    glyph.code = static_cast<char16_t>(code);
    glyph.metrics.size = glm::vec2(slot->bitmap.width, slot->bitmap.rows);
    glyph.metrics.bearing = glm::vec2(slot->bitmap_left, slot->bitmap_top);
    glyph.metrics.advance = static_cast<uint32_t>(slot->advance.x);
    glyph.metrics.rows = slot->bitmap.rows;
    std::optional<std::vector<uint8_t>> pixels = qvCoverageRows(slot->bitmap);
    if (!pixels) {
        return std::nullopt;
    }
    glyph.pixels = std::move(*pixels);
    return glyph;
}

// Copies a glyph's coverage into its rectangle of the atlas.
void copyIntoAtlas(std::vector<uint8_t>& atlas, int atlasWidth, const QvGlyphBitmap& glyph)
{
    const int x0 = static_cast<int>(glyph.metrics.atlasRect.x);
    const int y0 = static_cast<int>(glyph.metrics.atlasRect.y);
    const size_t width = static_cast<size_t>(glyph.metrics.size.x);
    for (uint32_t r = 0; r < glyph.metrics.rows; ++r) {
        std::memcpy(atlas.data() + static_cast<size_t>(y0 + r) * atlasWidth + x0,
                    glyph.pixels.data() + r * width, width);
    }
}

}  // namespace

std::optional<std::vector<uint8_t>> qvCoverageRows(const FT_Bitmap& bitmap)
{
    const bool gray = bitmap.pixel_mode == FT_PIXEL_MODE_GRAY;
    const bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
    if (!gray && !mono) {
        return std::nullopt;
    }
    const size_t width = bitmap.width;
    std::vector<uint8_t> pixels(width * bitmap.rows);
    if (pixels.empty() || bitmap.buffer == nullptr) {
        return pixels;
    }
    // Rows are pitch bytes apart; a negative pitch means the rows run bottom-up.
    const int pitch = bitmap.pitch;
    const uint8_t* firstRow =
        pitch >= 0 ? bitmap.buffer : bitmap.buffer - static_cast<ptrdiff_t>(pitch) * (bitmap.rows - 1);
    for (unsigned r = 0; r < bitmap.rows; ++r) {
        const uint8_t* row = firstRow + static_cast<ptrdiff_t>(pitch) * r;
        uint8_t* out = pixels.data() + r * width;
        if (gray) {
            std::memcpy(out, row, width);
            continue;
        }
        // One bit a pixel, most significant bit first: the row holds only
        // (width + 7) / 8 bytes.
        for (size_t k = 0; k < width; ++k) {
            out[k] = (row[k / 8] >> (7 - k % 8)) & 1 ? fullCoverage : 0;
        }
    }
    return pixels;
}

QvAtlasPacker::QvAtlasPacker(int width, int height, int rowStep)
    : width_(width), height_(height), rowStep_(rowStep)
{
}

std::optional<glm::vec4> QvAtlasPacker::place(int width, int rows)
{
    if (width < 0 || rows < 0 || width > width_) {
        return std::nullopt;
    }
    // A glyph whose right edge would reach the atlas edge starts a new row.
    if (x_ + width >= width_ && x_ > 0) {
        startNewRow();
    }
    if (y_ + rows > height_) {
        return std::nullopt;
    }
    const glm::vec4 rect(x_, y_, x_ + width, y_ + rows);
    x_ += width;
    rowHeight_ = std::max(rowHeight_, rows);
    return rect;
}

void QvAtlasPacker::startNewRow()
{
    // Rows are rowStep apart; only a taller glyph pushes the next row further
    // down, so that rectangles of neighbouring rows never overlap.
    x_ = 0;
    y_ += std::max(rowStep_, rowHeight_);
    rowHeight_ = 0;
}

QvBitmapGlyphs qvRenderBitmapGlyphs(const std::string& fontPath)
{
    return qvRenderBitmapGlyphs(QvFontFace(fontPath));
}

QvBitmapGlyphs qvRenderBitmapGlyphs(const QvFontFace& file)
{
    QvBitmapGlyphs result;
    result.atlas.assign(static_cast<size_t>(qvAtlasSize) * qvAtlasSize, 0);

    const FT_Face face = file.face();
    if (face == nullptr) {
        return result;
    }
    result.fontOpened = true;

    QvAtlasPacker packer(qvAtlasSize, qvAtlasSize, qvAtlasRowStep);
    int leftOut = 0;
    const auto renderRange = [&](char32_t begin, char32_t end, bool reportFailures) {
        for (char32_t code = begin; code <= end; ++code) {
            std::optional<QvGlyphBitmap> glyph = renderGlyph(face, code);
            if (!glyph) {
                if (reportFailures) {
                    fmt::print(qvGlyphLoadError);
                }
                continue;
            }
            const auto rect =
                packer.place(static_cast<int>(glyph->metrics.size.x), static_cast<int>(glyph->metrics.rows));
            if (!rect) {
                ++leftOut;
                continue;
            }
            glyph->metrics.atlasRect = *rect;
            copyIntoAtlas(result.atlas, qvAtlasSize, *glyph);
            result.glyphs.push_back(std::move(*glyph));
        }
    };
    renderRange(0, qvFontFirstRangeEnd, true);
    // The Cyrillic range starts on a row of its own.
    packer.startNewRow();
    renderRange(qvFontCyrillicFirst, qvFontCyrillicLast, false);
    if (leftOut > 0) {
        fmt::print("Glyph atlas of {} is full: {} glyphs left out\n", file.path(), leftOut);
    }
    return result;
}
