// Bitmap font without OpenGL: atlas packing, FreeType metrics, unreadable fonts.
#include "qvfont2d.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <string>

namespace {

constexpr const char* fontFile = "fonts/djsans/DejaVuSans.ttf";

struct Size {
    int width;
    int rows;
};

bool overlaps(const glm::vec4& a, const glm::vec4& b)
{
    return a.x < b.z && b.x < a.z && a.y < b.w && b.y < a.w;
}

void expectInsideAndDisjoint(const std::vector<glm::vec4>& rects, int width, int height)
{
    for (size_t i = 0; i < rects.size(); ++i) {
        const glm::vec4& r = rects[i];
        EXPECT_GE(r.x, 0.0f);
        EXPECT_GE(r.y, 0.0f);
        EXPECT_LE(r.z, static_cast<float>(width));
        EXPECT_LE(r.w, static_cast<float>(height));
        for (size_t j = i + 1; j < rects.size(); ++j) {
            EXPECT_FALSE(overlaps(r, rects[j])) << "rectangles " << i << " and " << j;
        }
    }
}

// FreeType's own answer for one code point, rendered as the font renders it.
struct FreeTypeGlyph {
    bool loaded = false;
    int width = 0, rows = 0, left = 0, top = 0;
    long advance = 0;
};

class FreeTypeReference {
public:
    FreeTypeReference()
    {
        FT_Init_FreeType(&library_);
        opened_ = FT_New_Face(library_, fontFile, 0, &face_) == 0;
        if (opened_) {
            FT_Set_Pixel_Sizes(face_, 0, 48);
        }
    }
    ~FreeTypeReference()
    {
        if (opened_) {
            FT_Done_Face(face_);
        }
        FT_Done_FreeType(library_);
    }
    bool opened() const { return opened_; }
    FreeTypeGlyph glyph(char32_t code) const
    {
        FreeTypeGlyph g;
        if (FT_Load_Char(face_, code, FT_LOAD_RENDER) != 0) {
            return g;
        }
        g.loaded = true;
        g.width = static_cast<int>(face_->glyph->bitmap.width);
        g.rows = static_cast<int>(face_->glyph->bitmap.rows);
        g.left = face_->glyph->bitmap_left;
        g.top = face_->glyph->bitmap_top;
        g.advance = face_->glyph->advance.x;
        return g;
    }

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    bool opened_ = false;
};

const QvBitmapGlyphs& dejaVu()
{
    static const QvBitmapGlyphs built = qvRenderBitmapGlyphs(fontFile);
    return built;
}

const QvGlyphBitmap* findGlyph(const QvBitmapGlyphs& built, char16_t code)
{
    for (const QvGlyphBitmap& glyph : built.glyphs) {
        if (glyph.code == code) {
            return &glyph;
        }
    }
    return nullptr;
}

}  // namespace

TEST(AtlasPacker, FillsRowsAndStopsAtTheEdge)
{
    // 40 x 40 glyphs in a 200 x 200 atlas, rows 50 apart: a glyph goes to the
    // next row once its right edge would reach column 200, so x = 0, 40, 80,
    // 120 per row, and rows start at 0, 50, 100, 150: 16 glyphs fit.
    QvAtlasPacker packer(200, 200, 50);
    std::vector<glm::vec4> placed;
    int rejected = 0;
    for (int i = 0; i < 30; ++i) {
        if (const auto rect = packer.place(40, 40)) {
            EXPECT_EQ(rejected, 0) << "a glyph was placed after the atlas was full";
            placed.push_back(*rect);
        } else {
            ++rejected;
        }
    }
    EXPECT_EQ(placed.size(), 16u);
    expectInsideAndDisjoint(placed, 200, 200);
    EXPECT_EQ(placed[4], glm::vec4(0, 50, 40, 90));
    EXPECT_EQ(placed[15], glm::vec4(120, 150, 160, 190));
}

TEST(AtlasPacker, ExactRightEdgeEmptyAndOversizedGlyphs)
{
    QvAtlasPacker packer(100, 120, 50);
    EXPECT_EQ(*packer.place(60, 10), glm::vec4(0, 0, 60, 10));
    // An empty glyph takes no room: the cursor stays where it was.
    EXPECT_EQ(*packer.place(0, 0), glm::vec4(60, 0, 60, 0));
    // 60 + 40 reaches column 100 exactly: next row.
    EXPECT_EQ(*packer.place(40, 10), glm::vec4(0, 50, 40, 60));
    // Wider than the atlas: refused without using up rows.
    EXPECT_FALSE(packer.place(101, 10));
    EXPECT_EQ(*packer.place(10, 10), glm::vec4(40, 50, 50, 60));
    // The last row starts at 100: 20 rows still fit, 21 do not.
    packer.startNewRow();
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
            EXPECT_EQ(rect->z - rect->x, static_cast<float>(width));
            EXPECT_EQ(rect->w - rect->y, static_cast<float>(rows));
            placed.push_back(*rect);
        }
    }
    EXPECT_GT(placed.size(), 50u);
    expectInsideAndDisjoint(placed, 128, 1024);
}

TEST(BitmapGlyphs, EveryGlyphFreeTypeRendersIsPackedInsideTheAtlas)
{
    const FreeTypeReference reference;
    ASSERT_TRUE(reference.opened());
    const QvBitmapGlyphs& built = dejaVu();
    ASSERT_TRUE(built.fontOpened);
    ASSERT_EQ(built.atlas.size(), 1024u * 1024u);

    std::vector<char16_t> expectedCodes;
    for (char32_t c = 0; c <= 254; ++c) {
        if (reference.glyph(c).loaded) {
            expectedCodes.push_back(static_cast<char16_t>(c));
        }
    }
    for (char32_t c = 0x0401; c <= 0x0451; ++c) {
        if (reference.glyph(c).loaded) {
            expectedCodes.push_back(static_cast<char16_t>(c));
        }
    }
    std::vector<char16_t> codes;
    std::vector<glm::vec4> rects;
    for (const QvGlyphBitmap& glyph : built.glyphs) {
        codes.push_back(glyph.code);
        rects.push_back(glyph.metrics.atlasRect);
        EXPECT_EQ(glyph.metrics.rows, static_cast<uint32_t>(glyph.metrics.size.y));
    }
    EXPECT_EQ(codes, expectedCodes);
    expectInsideAndDisjoint(rects, 1024, 1024);

    // The atlas holds each bitmap in its rectangle and nothing anywhere else.
    uint64_t coverageInBitmaps = 0;
    for (const QvGlyphBitmap& glyph : built.glyphs) {
        const int x0 = static_cast<int>(glyph.metrics.atlasRect.x);
        const int y0 = static_cast<int>(glyph.metrics.atlasRect.y);
        const int width = static_cast<int>(glyph.metrics.size.x);
        for (int r = 0; r < static_cast<int>(glyph.metrics.rows); ++r) {
            for (int k = 0; k < width; ++k) {
                ASSERT_EQ(built.atlas[(y0 + r) * 1024 + x0 + k], glyph.pixels[r * width + k]);
            }
        }
        coverageInBitmaps += std::accumulate(glyph.pixels.begin(), glyph.pixels.end(), uint64_t{0});
    }
    EXPECT_EQ(std::accumulate(built.atlas.begin(), built.atlas.end(), uint64_t{0}), coverageInBitmaps);
}

TEST(BitmapGlyphs, CyrillicStartsOnARowOfItsOwn)
{
    const QvBitmapGlyphs& built = dejaVu();
    const QvGlyphBitmap* io = findGlyph(built, u'\u0401');
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->metrics.atlasRect.x, 0.0f);
    for (const QvGlyphBitmap& glyph : built.glyphs) {
        if (glyph.code <= 254) {
            EXPECT_LE(glyph.metrics.atlasRect.w, io->metrics.atlasRect.y) << int(glyph.code);
        }
    }
}

TEST(BitmapGlyphs, MetricsMatchFreeType)
{
    const FreeTypeReference reference;
    const QvBitmapGlyphs& built = dejaVu();
    for (const char16_t code : {u'A', u'g', u'|', u'\u0416', u'\u044F'}) {
        const FreeTypeGlyph expected = reference.glyph(code);
        const QvGlyphBitmap* glyph = findGlyph(built, code);
        ASSERT_NE(glyph, nullptr) << int(code);
        const Character2D& m = glyph->metrics;
        EXPECT_EQ(m.size, glm::vec2(expected.width, expected.rows)) << int(code);
        EXPECT_EQ(m.bearing, glm::vec2(expected.left, expected.top)) << int(code);
        EXPECT_EQ(m.advance, static_cast<uint32_t>(expected.advance)) << int(code);
        EXPECT_EQ(m.rows, static_cast<uint32_t>(expected.rows));
        EXPECT_EQ(m.texture, 0u);
        EXPECT_EQ(glyph->pixels.size(), static_cast<size_t>(expected.width * expected.rows));
    }
    // 'g' hangs below the baseline, 'A' sits on it.
    EXPECT_LT(findGlyph(built, u'g')->metrics.bearing.y, findGlyph(built, u'g')->metrics.size.y);
    EXPECT_EQ(findGlyph(built, u'A')->metrics.bearing.y, findGlyph(built, u'A')->metrics.size.y);
}

TEST(BitmapGlyphs, SpaceIsEmptyButAdvances)
{
    const FreeTypeReference reference;
    const QvGlyphBitmap* space = findGlyph(dejaVu(), u' ');
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->metrics.size, glm::vec2(0, 0));
    EXPECT_EQ(space->metrics.atlasRect.x, space->metrics.atlasRect.z);
    EXPECT_EQ(space->metrics.atlasRect.y, space->metrics.atlasRect.w);
    EXPECT_EQ(space->metrics.advance, static_cast<uint32_t>(reference.glyph(u' ').advance));
    EXPECT_GT(space->metrics.advance >> 6, 0u);
}

TEST(BitmapGlyphs, CodePointsOutsideTheRangesAreNotBuilt)
{
    for (const char16_t code : {u'\u00FF', u'\u0400', u'\u0452', u'\u20AC'}) {
        EXPECT_EQ(findGlyph(dejaVu(), code), nullptr) << int(code);
    }
}

TEST(BitmapGlyphs, UnreadableFontPrintsOneLineAndBuildsNothing)
{
    const std::string garbage = testing::TempDir() + "not_a_font.ttf";
    {
        std::ofstream file(garbage, std::ios::binary);
        file << "this is not a TrueType font";
    }
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
