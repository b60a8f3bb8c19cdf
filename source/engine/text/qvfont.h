// Outline font: reads every glyph outline of the interface's code-point ranges
// from a TrueType file with FreeType at construction; flattens and extrudes a
// glyph's contours into its Character3D mesh the first time the glyph is asked
// for, since a scene shows only a few of the 336.
#pragma once

#include "engine/text/qvglyphoutline.h"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class Character3D;
struct FT_LibraryRec_;
struct FT_FaceRec_;

// What both fonts build: the glyphs of code points 0..254 and of the Cyrillic
// block U+0401..U+0451, rendered at 48 pixels.
inline constexpr char32_t qvFontFirstRangeEnd = 254;
inline constexpr char32_t qvFontCyrillicFirst = 0x0401;
inline constexpr char32_t qvFontCyrillicLast = 0x0451;
inline constexpr int qvFontPixelHeight = 48;
// The line either font prints for a glyph FreeType cannot load.
inline constexpr char qvGlyphLoadError[] = "ERROR::FREETYTPE: Failed to load Glyph\n";

// A TrueType file opened with FreeType at qvFontPixelHeight for the length of
// one font build (or of both fonts' builds), closed again with the FreeType
// library it opened. Only a regular file is read, from memory; a path that is
// none, or a file that cannot be read or opened as a font, gets one line with
// the reason (the system's, or FreeType's) and no face.
class QvFontFace {
public:
    explicit QvFontFace(const std::string& path);
    ~QvFontFace();
    QvFontFace(const QvFontFace&) = delete;
    QvFontFace& operator=(const QvFontFace&) = delete;

    // Null when the file could not be opened at the fonts' size.
    FT_FaceRec_* face() const { return face_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    // The file's bytes: FreeType reads the face from them while it lives.
    std::vector<std::uint8_t> bytes_;
    FT_LibraryRec_* library_ = nullptr;
    FT_FaceRec_* face_ = nullptr;
};

// Marker interface shared by the outline and the bitmap font.
class QvFont {
public:
    virtual ~QvFont() = default;
};

// The outline font: one Character3D mesh per code point read at construction,
// built on first use; code points it did not read answer the glyph of U+00A4.
class QvFont3D : public QvFont {
public:
    explicit QvFont3D(std::string fontPath);
    // From a face opened before: the scene's two fonts share one, so that the
    // file is read, and an unreadable one reported, once.
    explicit QvFont3D(const QvFontFace& file);
    ~QvFont3D() override;
    QvFont3D(const QvFont3D&) = delete;
    QvFont3D& operator=(const QvFont3D&) = delete;

    // The mesh of c, or of the fallback code point when c was not read, built
    // now if it is the first ask; the reference stays valid for the font's
    // life. Never dangling: an unreadable font answers an empty glyph.
    virtual const Character3D& getChar3D(char16_t c) const;
    // Builds every mesh not built yet, for whoever needs the whole table.
    void buildAllGlyphs() const;

    // Stores an empty outline and an empty glyph under c.
    void makeCharDummy(char16_t c);
    // Points every 16-bit code point at fallbackGlyph (when it exists).
    void _fillTableOfGags();

    // Builds the mesh of one outline record and stores it in glyphs.
    void _buildCharacters(const Character& record) const;
    // Joins the contours into the glyph's arrays, classifies and triangulates;
    // true when the face had to be rebuilt by the robust tessellator.
    static bool _buildMesh(Character3D& glyph);
    // Flattens and extrudes every contour of record, offset by (dx, dy).
    static void _buildContour(const Character& record, float dx, float dy, Character3D& glyph);
    // Appends 10 points (t = 0 ... 0.9) of a quadratic or cubic Bezier curve.
    static void _makeInterpolationConic(Contour& contour, glm::vec2 a, glm::vec2 b, glm::vec2 c);
    static void _makeInterpolationCubic(Contour& contour, glm::vec2 a, glm::vec2 b, glm::vec2 c, glm::vec2 d);

    std::unordered_map<char16_t, Character> outlines;
    // The meshes built so far, from outlines: a cache that getChar3D fills,
    // hence mutable. Only the thread that draws asks for glyphs.
    mutable std::unordered_map<char16_t, std::shared_ptr<Character3D>> glyphs;
    char16_t fallbackCode = 0x00A4;
    std::shared_ptr<Character3D> fallbackGlyph;
    std::string fontPath;
    // How many of the built glyphs had their faces rebuilt by the robust
    // tessellator because the strip builder did not cover their outline.
    mutable int tessellatedGlyphs = 0;

private:
    void init(const QvFontFace& file);
    // Builds fallbackGlyph from U+00A4; 1 when FreeType cannot load it.
    int _buildGag(FT_FaceRec_* face);
};
