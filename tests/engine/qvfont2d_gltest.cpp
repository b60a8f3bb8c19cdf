// Bitmap font uploads: glyph textures, the atlas and the unpack alignment.
#include "glcontext.h"
#include "qvfont2d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

constexpr const char* fontFile = "fonts/djsans/DejaVuSans.ttf";

// The red channel of a bound one-byte texture, rows tightly packed.
std::vector<uint8_t> readCoverage(GLuint texture, int width, int rows)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * rows);
    GLint previousPack = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &previousPack);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, previousPack);
    return pixels;
}

}  // namespace

TEST(Font2DUpload, GlyphTexturesMatchTheAtlas)
{
    testsupport::GlContext context;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    const QvFont2D font(fontFile);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);

    ASSERT_GT(font.characters.size(), 300u);
    std::set<uint32_t> textures;
    for (const auto& [code, character] : font.characters) {
        textures.insert(character.texture);
    }
    EXPECT_EQ(textures.size(), font.characters.size());
    EXPECT_EQ(textures.count(0u), 0u);
    EXPECT_EQ(textures.count(font.atlasTexture), 0u);

    EXPECT_EQ(readCoverage(font.atlasTexture, 1024, 1024), font.atlas);
    // 'A' is 33 px wide at 48 px: its rows only come out right with an
    // unpack alignment of 1 during the upload.
    for (const char16_t code : {u'A', u'g', u'\u0416'}) {
        const Character2D* glyph = font.findCharacter(code);
        ASSERT_NE(glyph, nullptr);
        const int width = static_cast<int>(glyph->size.x);
        const int rows = static_cast<int>(glyph->rows);
        const std::vector<uint8_t> texels = readCoverage(glyph->texture, width, rows);
        for (int r = 0; r < rows; ++r) {
            for (int k = 0; k < width; ++k) {
                const int atlasX = static_cast<int>(glyph->atlasRect.x) + k;
                const int atlasY = static_cast<int>(glyph->atlasRect.y) + r;
                ASSERT_EQ(texels[r * width + k], font.atlas[atlasY * 1024 + atlasX]) << int(code);
            }
        }
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(Font2DUpload, LookupOfUnbuiltCodePointFindsNothing)
{
    testsupport::GlContext context;
    const QvFont2D font(fontFile);
    EXPECT_NE(font.findCharacter(u'z'), nullptr);
    EXPECT_EQ(font.findCharacter(u'\u00FF'), nullptr);
    EXPECT_EQ(font.findCharacter(u'\u20AC'), nullptr);
    EXPECT_EQ(font.characters.count(u'\u20AC'), 0u);
}

TEST(Font2DUpload, MissingFontGivesAnEmptyFontAndOneLine)
{
    testsupport::GlContext context;
    testing::internal::CaptureStdout();
    const QvFont2D font("fonts/djsans/Missing.ttf");
    std::fflush(stdout);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_TRUE(font.characters.empty());
    EXPECT_EQ(font.findCharacter(u'A'), nullptr);
    EXPECT_NE(font.atlasTexture, 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
