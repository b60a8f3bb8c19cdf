// Font files for the failure paths of the fonts: a copy of a TrueType file in
// which chosen glyphs are damaged so that FreeType refuses to load them, and
// FreeType's own verdict on which code points of a range then fail.
#pragma once

#include "engine/text/qvfont.h"
#include "engine/text/qvglyphatlas.h"
#include "tempfiles.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace fonttest {

// The font every font test builds from, relative to the run directory.
inline constexpr char dejaVuFile[] = "fonts/djsans/DejaVuSans.ttf";

// A scratch file of this process that holds plain text, not a font.
inline std::string writeNotAFont(const std::string& name)
{
    const std::string path = testsupport::tempPath(name).string();
    std::ofstream(path, std::ios::binary) << "plain text, not a TrueType file\n";
    return path;
}

inline uint32_t readBig(const std::vector<char>& data, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | uint8_t(data.at(at + size_t(i)));
    return value;
}

// Writes a copy of `source` to `target` in which the outline of each code
// point's glyph claims 32767 contours, more than any glyph can hold.
inline void writeFontWithBrokenGlyphs(const std::string& source, const std::string& target,
                                      const std::vector<char32_t>& codes)
{
    std::ifstream in(source, std::ios::binary);
    std::vector<char> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

    // Table directory: the offsets of the head, loca and glyf tables.
    size_t head = 0, loca = 0, glyf = 0;
    const uint32_t tables = readBig(data, 4, 2);
    for (uint32_t t = 0; t < tables; ++t) {
        const size_t record = 12 + 16 * size_t(t);
        const std::string tag(data.begin() + long(record), data.begin() + long(record) + 4);
        const size_t offset = readBig(data, record + 8, 4);
        if (tag == "head") head = offset;
        if (tag == "loca") loca = offset;
        if (tag == "glyf") glyf = offset;
    }
    if (!head || !loca || !glyf) throw std::runtime_error("not a TrueType outline font: " + source);
    const bool longOffsets = readBig(data, head + 50, 2) == 1;

    const QvFontFace font(source);
    for (char32_t code : codes) {
        const size_t glyph = FT_Get_Char_Index(font.face(), code);
        auto location = [&](size_t g) {
            return longOffsets ? readBig(data, loca + 4 * g, 4) : 2 * readBig(data, loca + 2 * g, 2);
        };
        if (glyph == 0 || location(glyph + 1) == location(glyph))
            throw std::runtime_error("no outline to break for code point " + std::to_string(code));
        const size_t at = glyf + location(glyph);
        data[at] = char(0x7F);
        data[at + 1] = char(0xFF);
    }
    std::ofstream(target, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

// The code points of [first, last] that FreeType cannot load from `path`
// at 48 px with `loadFlags`.
inline std::vector<char32_t> codesFailingToLoad(const std::string& path, char32_t first, char32_t last,
                                                FT_Int32 loadFlags)
{
    const QvFontFace font(path);
    std::vector<char32_t> failing;
    for (char32_t c = first; c <= last; ++c)
        if (FT_Load_Char(font.face(), c, loadFlags) != 0) failing.push_back(c);
    return failing;
}

// A scratch copy of the DejaVu font with 'A' and Zhe broken, and the code points of both
// ranges that FreeType then refuses with `loadFlags` (glyphs built from the
// broken ones fail too).
struct BrokenFont {
    std::string path;
    std::vector<char32_t> failingFirstRange;     // of 0..254
    std::vector<char32_t> failingCyrillicRange;  // of U+0401..U+0451
};

inline BrokenFont makeBrokenFont(const std::string& name, FT_Int32 loadFlags)
{
    BrokenFont font;
    font.path = testsupport::tempPath(name).string();
    writeFontWithBrokenGlyphs(dejaVuFile, font.path, {U'A', U'\u0416'});
    font.failingFirstRange = codesFailingToLoad(font.path, 0, 254, loadFlags);
    font.failingCyrillicRange = codesFailingToLoad(font.path, 0x0401, 0x0451, loadFlags);
    return font;
}

// The glyph's rectangle of the 1024-pixel-wide atlas holds `pixels` (rows top
// to bottom, width bytes apart).
inline bool atlasHolds(const std::vector<uint8_t>& atlas, const Character2D& glyph,
                       const std::vector<uint8_t>& pixels)
{
    const size_t width = size_t(glyph.size.x);
    for (size_t r = 0; r < glyph.rows; ++r) {
        const auto row =
            atlas.begin() + long((size_t(glyph.atlasRect.y) + r) * 1024 + size_t(glyph.atlasRect.x));
        if (!std::equal(row, row + long(width), pixels.begin() + long(r * width))) return false;
    }
    return true;
}

// What the fonts print for `count` glyphs that failed to load.
inline std::string glyphErrorLines(size_t count)
{
    std::string lines;
    for (size_t i = 0; i < count; ++i) lines += "ERROR::FREETYTPE: Failed to load Glyph\n";
    return lines;
}

}  // namespace fonttest
