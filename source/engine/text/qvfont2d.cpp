// Bitmap font: uploads the rendered glyphs and their atlas as textures.
#include "engine/text/qvfont2d.h"

#include <epoxy/gl.h>

#include <utility>

namespace {

// Uploads one-byte coverage as a clamped, linearly filtered red texture; the
// texture is left bound. Expects an unpack alignment of 1.
QvTexture uploadCoverage(int width, int rows, const uint8_t* pixels)
{
    QvTexture texture = QvTexture::create();
    glBindTexture(GL_TEXTURE_2D, texture.get());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RED, width, rows, 0, GL_RED, GL_UNSIGNED_BYTE, pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return texture;
}

}  // namespace

QvFont2D::QvFont2D(std::string fontPath) : QvFont2D(QvFontFace(fontPath)) {}

QvFont2D::QvFont2D(const QvFontFace& file) : fontPath(file.path())
{
    init(file);
}

const Character2D* QvFont2D::findCharacter(char16_t code) const
{
    const auto found = characters.find(code);
    return found == characters.end() ? nullptr : &found->second;
}

// Renders and packs without OpenGL, then uploads every glyph and the atlas.
void QvFont2D::init(const QvFontFace& file)
{
    QvBitmapGlyphs built = qvRenderBitmapGlyphs(file);
    atlas = std::move(built.atlas);

    // Coverage rows are one byte a pixel with no padding; the caller's
    // alignment is put back afterwards.
    GLint previousAlignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previousAlignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (const QvGlyphBitmap& glyph : built.glyphs) {
        Character2D record = glyph.metrics;
        glyphTextures.push_back(uploadCoverage(static_cast<int>(record.size.x), static_cast<int>(record.rows),
                                               glyph.pixels.empty() ? nullptr : glyph.pixels.data()));
        record.texture = glyphTextures.back().get();
        characters.emplace(glyph.code, record);
    }
    atlasTexture = uploadCoverage(atlasWidth, atlasHeight, atlas.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, previousAlignment);
}
