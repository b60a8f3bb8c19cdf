// Bitmap font of the flat 2D text: FreeType renders every glyph of the
// interface's code points at 48 px; each glyph gets an OpenGL texture of its
// own and a place in one 1024 x 1024 atlas that batched text samples.
//
// The FreeType rendering and the atlas packing run without OpenGL
// (qvRenderBitmapGlyphs, QvAtlasPacker); QvFont2D only adds the uploads.
#pragma once

#include "engine/text/qvfont.h"
#include "engine/gl/qvglobjects.h"
#include "engine/text/qvglyphatlas.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class QvFont2D : public QvFont {
public:
    static constexpr int atlasSize = qvAtlasSize;
    static constexpr int atlasRowStep = qvAtlasRowStep;

    // Builds and uploads every glyph; needs a current OpenGL context.
    explicit QvFont2D(std::string fontPath);
    // From a face opened before, shared with the outline font (see QvFont3D).
    explicit QvFont2D(const QvFontFace& file);
    QvFont2D(const QvFont2D&) = delete;
    QvFont2D& operator=(const QvFont2D&) = delete;

    // The record of a code point, or null when the font did not build it.
    const Character2D* findCharacter(char16_t code) const;

    std::unordered_map<char16_t, Character2D> characters;
    int atlasWidth = atlasSize;
    int atlasHeight = atlasSize;
    std::string fontPath;
    QvTexture atlasTexture;
    std::vector<uint8_t> atlas;

private:
    void init(const QvFontFace& file);

    // The glyph textures; each record in `characters` carries its name.
    std::vector<QvTexture> glyphTextures;
};
