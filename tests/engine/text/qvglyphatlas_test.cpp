// Bitmap font without OpenGL: atlas packing, FreeType metrics, unreadable fonts.
#include "fontfixtures.h"
#include "engine/text/qvglyphatlas.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace {

void expectInsideAndDisjoint(const std::vector<glm::vec4>& rects, int width, int height)
{
    for (size_t i = 0; i < rects.size(); ++i) {
        const glm::vec4& a = rects[i];
        EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.z <= width && a.w <= height) << i;
        for (size_t j = i + 1; j < rects.size(); ++j) {
            const glm::vec4& b = rects[j];
            EXPECT_FALSE(a.x < b.z && b.x < a.z && a.y < b.w && b.y < a.w) << i << " overlaps " << j;
        }
    }
}

// FreeType's own answer for a code point, loaded as the font loads it; the
// slot is null when FreeType cannot load it.
FT_GlyphSlot referenceGlyph(char32_t code)
{
    static const QvFontFace font(fonttest::dejaVuFile);
    return FT_Load_Char(font.face(), code, FT_LOAD_RENDER) == 0 ? font.face()->glyph : nullptr;
}

// A bitmap of two rows of ten pixels as FreeType describes one.
FT_Bitmap twoRowsOfTen(uint8_t* buffer, int pitch, FT_Pixel_Mode mode)
{
    FT_Bitmap bitmap{};
    bitmap.rows = 2;
    bitmap.width = 10;
    bitmap.pitch = pitch;
    bitmap.buffer = buffer;
    bitmap.pixel_mode = static_cast<unsigned char>(mode);
    return bitmap;
}

const QvBitmapGlyphs& dejaVu()
{
    static const QvBitmapGlyphs built = qvRenderBitmapGlyphs(fonttest::dejaVuFile);
    return built;
}

const QvGlyphBitmap* findGlyph(char16_t code)
{
    for (const QvGlyphBitmap& glyph : dejaVu().glyphs) {
        if (glyph.code == code) {
            return &glyph;
        }
    }
    return nullptr;
}

}  // namespace

TEST(AtlasPacker, FillsRowsAndStopsAtTheEdge)
{
    // 40 x 40 glyphs in a 200 x 200 atlas, rows 50 apart: a glyph whose right
    // edge would reach column 200 starts a new row, so 4 fit per row (x = 0,
    // 40, 80, 120) in rows at y = 0, 50, 100, 150: 16 in all.
    QvAtlasPacker packer(200, 200, 50);
    std::vector<glm::vec4> placed;
    for (int i = 0; i < 30; ++i) {
        if (const auto rect = packer.place(40, 40)) {
            EXPECT_EQ(static_cast<int>(placed.size()), i) << "placed after the atlas was full";
            placed.push_back(*rect);
        }
    }
    ASSERT_EQ(placed.size(), 16u);
    expectInsideAndDisjoint(placed, 200, 200);
    EXPECT_EQ(placed[4], glm::vec4(0, 50, 40, 90));
    EXPECT_EQ(placed[15], glm::vec4(120, 150, 160, 190));
}

TEST(AtlasPacker, ExactRightEdgeEmptyOversizedAndBottomRow)
{
    QvAtlasPacker packer(100, 120, 50);
    EXPECT_EQ(*packer.place(60, 10), glm::vec4(0, 0, 60, 10));
    EXPECT_EQ(*packer.place(0, 0), glm::vec4(60, 0, 60, 0));     // takes no room
    EXPECT_EQ(*packer.place(40, 10), glm::vec4(0, 50, 40, 60));  // 60 + 40 reaches column 100
    EXPECT_FALSE(packer.place(101, 10));                         // refused, no row used up
    EXPECT_EQ(*packer.place(10, 10), glm::vec4(40, 50, 50, 60));
    packer.startNewRow();  // last row: y 100, 20 rows left
    EXPECT_FALSE(packer.place(10, 21));
    EXPECT_EQ(*packer.place(10, 20), glm::vec4(0, 100, 10, 120));
}

TEST(AtlasPacker, TallGlyphsNeverOverlapTheNextRow)
{
    QvAtlasPacker packer(128, 1024, 50);
    std::vector<glm::vec4> placed;
    uint32_t seed = 12345;
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int width = static_cast<int>((seed >> 8) % 40);
        const int rows = static_cast<int>((seed >> 16) % 70);
        if (const auto rect = packer.place(width, rows)) {
            EXPECT_EQ(glm::vec2(rect->z - rect->x, rect->w - rect->y), glm::vec2(width, rows));
            placed.push_back(*rect);
        }
    }
    EXPECT_GT(placed.size(), 50u);
    expectInsideAndDisjoint(placed, 128, 1024);
}

TEST(BitmapGlyphs, EveryGlyphFreeTypeRendersIsPackedInsideTheAtlas)
{
    const QvBitmapGlyphs& built = dejaVu();
    ASSERT_TRUE(built.fontOpened);
    ASSERT_EQ(built.atlas.size(), 1024u * 1024u);
    std::vector<char16_t> expectedCodes;
    for (char32_t c = 0; c <= 0x0451; c = (c == 254 ? 0x0401 : c + 1)) {
        if (referenceGlyph(c) != nullptr) {
            expectedCodes.push_back(static_cast<char16_t>(c));
        }
    }
    std::vector<char16_t> codes;
    std::vector<glm::vec4> rects;
    uint64_t coverage = 0;
    for (const QvGlyphBitmap& glyph : built.glyphs) {
        codes.push_back(glyph.code);
        rects.push_back(glyph.metrics.atlasRect);
        EXPECT_EQ(glyph.metrics.rows, static_cast<uint32_t>(glyph.metrics.size.y));
        ASSERT_TRUE(fonttest::atlasHolds(built.atlas, glyph.metrics, glyph.pixels)) << int(glyph.code);
        coverage += std::accumulate(glyph.pixels.begin(), glyph.pixels.end(), uint64_t{0});
    }
    EXPECT_EQ(codes, expectedCodes);
    expectInsideAndDisjoint(rects, 1024, 1024);
    // Nothing lies in the atlas outside the glyphs' rectangles.
    EXPECT_EQ(std::accumulate(built.atlas.begin(), built.atlas.end(), uint64_t{0}), coverage);

    // The Cyrillic range starts at x = 0 below every glyph of the first range.
    const QvGlyphBitmap* io = findGlyph(u'\u0401');
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->metrics.atlasRect.x, 0.0f);
    for (const QvGlyphBitmap& glyph : built.glyphs) {
        if (glyph.code <= 254) {
            EXPECT_LE(glyph.metrics.atlasRect.w, io->metrics.atlasRect.y) << int(glyph.code);
        }
    }
}

TEST(BitmapGlyphs, MetricsMatchFreeTypeAndOnlyTheRangesAreBuilt)
{
    for (const char16_t code : {u'A', u'g', u' ', u'|', u'\u0416', u'\u044F'}) {
        const FT_GlyphSlot expected = referenceGlyph(code);
        const QvGlyphBitmap* glyph = findGlyph(code);
        ASSERT_TRUE(expected != nullptr && glyph != nullptr) << int(code);
        const Character2D& m = glyph->metrics;
        EXPECT_EQ(m.size, glm::vec2(expected->bitmap.width, expected->bitmap.rows)) << int(code);
        EXPECT_EQ(m.bearing, glm::vec2(expected->bitmap_left, expected->bitmap_top)) << int(code);
        EXPECT_EQ(m.advance, static_cast<uint32_t>(expected->advance.x)) << int(code);
        EXPECT_EQ(glyph->pixels.size(), static_cast<size_t>(m.size.x * m.size.y));
    }
    // The space is empty but advances; 'g' hangs below the baseline.
    EXPECT_EQ(findGlyph(u' ')->metrics.size, glm::vec2(0, 0));
    EXPECT_GT(findGlyph(u' ')->metrics.advance >> 6, 0u);
    EXPECT_LT(findGlyph(u'g')->metrics.bearing.y, findGlyph(u'g')->metrics.size.y);
    for (const char16_t code : {u'\u00FF', u'\u0400', u'\u0452', u'\u20AC'}) {
        EXPECT_EQ(findGlyph(code), nullptr) << int(code);
    }
}

TEST(BitmapGlyphs, UnreadableFontPrintsOneLineAndBuildsNothing)
{
    const std::string garbage = fonttest::writeNotAFont("not_a_font.ttf");
    for (const std::string& path : {std::string("fonts/djsans/NoSuchFont.ttf"), garbage}) {
        testing::internal::CaptureStdout();
        const QvBitmapGlyphs built = qvRenderBitmapGlyphs(path);
        std::fflush(stdout);
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(built.fontOpened);
        EXPECT_TRUE(built.glyphs.empty());
        EXPECT_EQ(built.atlas.size(), 1024u * 1024u);
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
        EXPECT_NE(output.find(path), std::string::npos) << output;
    }
    std::remove(garbage.c_str());
}

TEST(BitmapGlyphs, GlyphThatFailsToRenderIsReportedOnlyInTheFirstRangeAndLeftOut)
{
    const fonttest::BrokenFont broken = fonttest::makeBrokenFont("broken_bitmap_glyphs.ttf", FT_LOAD_RENDER);
    ASSERT_FALSE(broken.failingFirstRange.empty());
    ASSERT_FALSE(broken.failingCyrillicRange.empty());

    testing::internal::CaptureStdout();
    const QvBitmapGlyphs built = qvRenderBitmapGlyphs(broken.path);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fonttest::glyphErrorLines(broken.failingFirstRange.size()));
    for (const QvGlyphBitmap& glyph : built.glyphs) {
        EXPECT_NE(glyph.code, u'A');
        EXPECT_NE(glyph.code, u'\u0416');
    }
    EXPECT_GT(built.glyphs.size(), 300u);
    std::remove(broken.path.c_str());
}

TEST(BitmapGlyphs, CoverageRowsComeOutPackedTopDownWhateverTheSourceLayout)
{
    // Two rows of 10 pixels, bottom-up with padded rows (pitch -12).
    uint8_t bottomUp[24] = {};
    for (int k = 0; k < 10; ++k) {
        bottomUp[k] = static_cast<uint8_t>(100 + k);  // stored first: the bottom row
        bottomUp[12 + k] = static_cast<uint8_t>(k);   // the top row
    }
    const FT_Bitmap gray = twoRowsOfTen(bottomUp, -12, FT_PIXEL_MODE_GRAY);
    const auto grayRows = qvCoverageRows(gray);
    ASSERT_TRUE(grayRows);
    EXPECT_EQ(*grayRows, (std::vector<uint8_t>{0,   1,   2,   3,   4,   5,   6,   7,   8,   9,
                                               100, 101, 102, 103, 104, 105, 106, 107, 108, 109}));

    // A one-bit bitmap stores 10 pixels in 2 bytes a row; reading 10 bytes a
    // row would run past the buffer.
    uint8_t bits[4] = {0b10100000, 0b01000000, 0b00000001, 0b10000000};
    const FT_Bitmap mono = twoRowsOfTen(bits, 2, FT_PIXEL_MODE_MONO);
    const auto monoRows = qvCoverageRows(mono);
    ASSERT_TRUE(monoRows);
    EXPECT_EQ(*monoRows,
              (std::vector<uint8_t>{255, 0, 255, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255, 255, 0}));

    FT_Bitmap colour = gray;
    colour.pixel_mode = FT_PIXEL_MODE_BGRA;
    EXPECT_FALSE(qvCoverageRows(colour));
}
