// Bitmap font uploads: glyph textures, the atlas and the unpack alignment.
#include "fontfixtures.h"
#include "glcontext.h"
#include "engine/text/qvfont2d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

// The red channel of a one-byte texture, rows tightly packed.
std::vector<uint8_t> readCoverage(GLuint texture, int width, int rows)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * rows);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

}  // namespace

TEST(Font2DUpload, GlyphTexturesMatchTheAtlasAndAlignmentIsRestored)
{
    testsupport::GlContext context;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    const QvFont2D font(fonttest::dejaVuFile);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);

    ASSERT_GT(font.characters.size(), 300u);
    std::set<uint32_t> textures = {0u, font.atlasTexture.get()};
    for (const auto& [code, character] : font.characters) {
        textures.insert(character.texture);
    }
    EXPECT_EQ(textures.size(), font.characters.size() + 2);  // all distinct, none 0

    EXPECT_EQ(readCoverage(font.atlasTexture.get(), 1024, 1024), font.atlas);
    // 'A' is 33 px wide: its rows only come out right when uploaded with an
    // unpack alignment of 1.
    for (const char16_t code : {u'A', u'g', u'\u0416'}) {
        const Character2D* glyph = font.findCharacter(code);
        ASSERT_NE(glyph, nullptr);
        const std::vector<uint8_t> texels =
            readCoverage(glyph->texture, static_cast<int>(glyph->size.x), static_cast<int>(glyph->rows));
        ASSERT_TRUE(fonttest::atlasHolds(font.atlas, *glyph, texels)) << int(code);
    }
    EXPECT_EQ(font.findCharacter(u'\u00FF'), nullptr);
    EXPECT_EQ(font.findCharacter(u'\u20AC'), nullptr);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
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
    EXPECT_NE(font.atlasTexture.get(), 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
