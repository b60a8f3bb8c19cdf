// Outline font: FreeType outlines, read at construction -> flattened, extruded
// contours -> Character3D meshes, each built once, when first asked for.
#include "engine/text/qvfont.h"

#include "engine/core/qvfiles.h"
#include "engine/text/qvcharacter3d.h"
#include "engine/text/qvglyphface.h"

#include <fmt/core.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

constexpr int curveSteps = 10;  // points per flattened Bezier arc
// The font is read into memory whole: a TrueType file of the interface's
// scripts is a few MiB at most, so a larger one is refused, not read.
constexpr std::uintmax_t kMaxFontBytes = std::uintmax_t(64) << 20;

enum PointTag { tagConic = 0, tagOn = 1, tagCubic = 2 };

// ---------------------------------------------------------------------------
// Internal functions
// ---------------------------------------------------------------------------

// FreeType's own message for an error code. FT_Error_String gives none
// unless the library was built with its messages (Debian's is not), so they
// come from FreeType's public list, read the way its documentation shows.
const char* freeTypeReason(FT_Error error)
{
#undef FTERRORS_H_
#define FT_ERROR_START_LIST switch (FT_ERROR_BASE(error)) {
#define FT_ERRORDEF(e, v, s)                                                                                 \
    case v:                                                                                                  \
        return s;
#define FT_ERROR_END_LIST }
#include FT_ERRORS_H
    return "unknown error";
}

// Copies the outline and metrics of the glyph FreeType has just loaded.
Character readRecord(FT_GlyphSlot slot, char16_t code)
{
    Character record;
    record.code = code;
    record.size = glm::vec2(float(slot->bitmap.width), float(slot->bitmap.rows));
    record.bearing = glm::vec2(float(slot->bitmap_left), float(slot->bitmap_top));
    const FT_Outline& outline = slot->outline;
    record.nContours = outline.n_contours;
    record.nPoints = outline.n_points;
    for (int i = 0; i < outline.n_points; ++i) {
        record.points.emplace_back(float(outline.points[i].x), float(outline.points[i].y));
        record.tags.push_back(int8_t(outline.tags[i]));
    }
    for (int k = 0; k < outline.n_contours; ++k) record.contourEnds.push_back(outline.contours[k]);
    record.advance = uint32_t(slot->advance.x);
    record.height = uint32_t(slot->metrics.height);
    return record;
}

// The mesh of one outline record, placed by its bearing; `tessellated` tells
// whether the tessellator had to redo the face. A record without contours
// gives an empty glyph.
std::shared_ptr<Character3D> buildGlyph(const Character& record, bool& tessellated)
{
    auto glyph = std::make_shared<Character3D>(record);
    QvFont3D::_buildContour(record, record.bearing.x, record.bearing.y, *glyph);
    tessellated = QvFont3D::_buildMesh(*glyph);
    return glyph;
}

}  // namespace

// ---------------------------------------------------------------------------
// QvFontFace
// ---------------------------------------------------------------------------

QvFontFace::QvFontFace(const std::string& path) : path_(path)
{
    // FreeType would open the path itself, waiting for ever on a named pipe
    // and reading a device without end: it gets the bytes of a checked file.
    std::string problem;
    std::optional<std::vector<std::uint8_t>> bytes = qvReadBoundedFile(path, problem, kMaxFontBytes);
    if (!bytes) {
        fmt::print("ERROR::FREETYPE: Failed to load font {}: {}\n", path, problem);
        return;
    }
    // FreeType would only call an empty buffer an invalid argument.
    if (bytes->empty()) {
        fmt::print("ERROR::FREETYPE: Failed to load font {}: the file is empty\n", path);
        return;
    }
    bytes_ = std::move(*bytes);
    if (FT_Init_FreeType(&library_) != 0) {
        library_ = nullptr;
        fmt::print("ERROR::FREETYPE: Could not init FreeType Library\n");
        return;
    }
    if (const FT_Error error =
            FT_New_Memory_Face(library_, bytes_.data(), FT_Long(bytes_.size()), 0, &face_)) {
        face_ = nullptr;
        fmt::print("ERROR::FREETYPE: Failed to load font {}: {}\n", path, freeTypeReason(error));
        return;
    }
    if (FT_Set_Pixel_Sizes(face_, 0, qvFontPixelHeight) != 0) {
        fmt::print("ERROR::FREETYPE: Failed to set the pixel size of {}\n", path);
        FT_Done_Face(face_);
        face_ = nullptr;
    }
}

QvFontFace::~QvFontFace()
{
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
}

// ---------------------------------------------------------------------------
// QvFont3D
// ---------------------------------------------------------------------------

QvFont3D::QvFont3D(std::string fontPath) : QvFont3D(QvFontFace(fontPath)) {}

QvFont3D::QvFont3D(const QvFontFace& file) : fontPath(file.path())
{
    init(file);
}

QvFont3D::~QvFont3D() = default;

void QvFont3D::init(const QvFontFace& file)
{
    // An unreadable font leaves every code point on an empty fallback glyph:
    // the face's one line says so, and text simply shows nothing.
    FT_Face face = file.face();
    if (!face) {
        makeCharDummy(fallbackCode);
        return;
    }
    _buildGag(face);

    auto load = [&](char32_t c, bool reportFailure) {
        if (FT_Load_Char(face, c, FT_LOAD_DEFAULT) != 0) {
            if (reportFailure) fmt::print(qvGlyphLoadError);
            return;
        }
        outlines[char16_t(c)] = readRecord(face->glyph, char16_t(c));
    };
    // Reading every outline here keeps the lines for glyphs that fail to load
    // at construction, and lets the face close before any mesh is built.
    for (char32_t c = 0; c <= qvFontFirstRangeEnd; ++c) load(c, false);
    for (char32_t c = qvFontCyrillicFirst; c <= qvFontCyrillicLast; ++c) load(c, true);
    if (!outlines.count(fallbackCode)) makeCharDummy(fallbackCode);
}

int QvFont3D::_buildGag(FT_FaceRec_* face)
{
    if (FT_Load_Char(face, fallbackCode, FT_LOAD_DEFAULT) != 0) return 1;
    Character record = readRecord(face->glyph, fallbackCode);
    record.height = 0;
    bool tessellated = false;
    fallbackGlyph = buildGlyph(record, tessellated);
    return 0;
}

void QvFont3D::_buildCharacters(const Character& record) const
{
    bool tessellated = false;
    glyphs[record.code] = buildGlyph(record, tessellated);
    tessellatedGlyphs += tessellated;
}

bool QvFont3D::_buildMesh(Character3D& glyph)
{
    for (const Contour& contour : glyph.contours) {
        glyph.outlinePoints.insert(glyph.outlinePoints.end(), contour.points.begin(), contour.points.end());
        glyph.wallStrip.insert(glyph.wallStrip.end(), contour.wallStrip.begin(), contour.wallStrip.end());
        glyph.wallNormals.insert(glyph.wallNormals.end(), contour.wallNormals.begin(),
                                 contour.wallNormals.end());
        glyph.wallTexCoords.insert(glyph.wallTexCoords.end(), contour.wallTexCoords.begin(),
                                   contour.wallTexCoords.end());
        glyph.edges.insert(glyph.edges.end(), contour.edges.begin(), contour.edges.end());
    }
    // Every inside test sees the edges of all contours, so classify only now.
    for (size_t i = 0; i < glyph.contours.size(); ++i) glyph.identifyTypeOfVertices(glyph.contours[i], i);
    if (glyph.edges.empty()) return false;
    glyph.createBridges();
    // The strip builder is a heuristic; where its triangles miss part of the
    // outline or spill outside it, the robust tessellator redoes the face.
    if (qvMeasureFrontFace(glyph).isSound()) return false;
    qvTessellateFrontFace(glyph);
    return true;
}

// Flattens every contour (quadratic arcs to 10 points each) and extrudes it.
// Contours may start or end on a control point: the arc across the contour's
// start then runs through the implied on-curve point (the middle of the two
// control points), and a contour never repeats its first point at its end.
void QvFont3D::_buildContour(const Character& record, float dx, float dy, Character3D& glyph)
{
    if (record.nContours > 1) glyph.severalContours = true;
    if (record.nContours < 1) return;
    const size_t pointCount = std::min(record.points.size(), record.tags.size());
    const glm::vec2 offset{dx, dy};
    auto P = [&](size_t i) { return record.points[i] + offset; };
    auto tag = [&](size_t i) { return record.tags[i] & 3; };

    size_t start = 0;
    for (int k = 0; k < record.nContours && size_t(k) < record.contourEnds.size(); ++k) {
        const long endValue = record.contourEnds[size_t(k)];
        if (endValue < long(start) || size_t(endValue) >= pointCount) break;  // malformed outline
        const size_t end = size_t(endValue);
        Contour contour;
        auto wrap = [&](size_t i) { return start + (i - start) % (end - start + 1); };
        const bool impliedStart = end != start && tag(start) == tagConic && tag(end) == tagConic;
        const glm::vec2 startPoint = impliedStart ? 0.5f * (P(end) + P(start)) : P(end);
        glm::vec2 prev = startPoint;

        for (size_t i = start; i <= end; ++i) {
            const glm::vec2 cur = P(i);
            if (i == start)
                prev = startPoint;
            else if (tag(i - 1) == tagOn)
                prev = P(i - 1);
            const glm::vec2 next = i == end ? (impliedStart ? startPoint : P(start)) : P(i + 1);
            contour.minX = std::min(contour.minX, cur.x);
            contour.maxX = std::max(contour.maxX, cur.x);

            if (tag(i) == tagOn) {
                contour.points.emplace_back(cur.x, cur.y, 0.0f);
            } else if (tag(i) == tagConic) {
                // The arc starts with the point appended last, so drop it.
                if (!contour.points.empty()) contour.points.pop_back();
                if (i == end || tag(i + 1) != tagConic) {
                    _makeInterpolationConic(contour, prev, cur, next);
                } else {
                    const glm::vec2 middle = 0.5f * (cur + next);
                    _makeInterpolationConic(contour, prev, cur, middle);
                    prev = middle;
                }
            } else if (tag(i) == tagCubic) {
                // A cubic arc is drawn at its first control point; the second
                // one adds nothing.
                const size_t before = i == start ? end : i - 1;
                if (tag(before) != tagCubic) {
                    if (!contour.points.empty()) contour.points.pop_back();
                    _makeInterpolationCubic(contour, prev, cur, P(wrap(i + 1)), P(wrap(i + 2)));
                }
            }
        }
        if (contour.points.size() > 1 && contour.points.back() == contour.points.front())
            contour.points.pop_back();

        contour.makeQvEdgeArray();
        contour.makeExtrude();
        glyph.contours.push_back(std::move(contour));
        start = end + 1;
    }
}

void QvFont3D::_makeInterpolationConic(Contour& contour, glm::vec2 a, glm::vec2 b, glm::vec2 c)
{
    float t = 0.0f;
    for (int step = 0; step < curveSteps; ++step, t += 0.1f) {
        const float u = 1.0f - t;
        const glm::vec2 p = u * u * a + 2.0f * t * u * b + t * t * c;
        contour.points.emplace_back(p.x, p.y, 0.0f);
    }
}

void QvFont3D::_makeInterpolationCubic(Contour& contour, glm::vec2 a, glm::vec2 b, glm::vec2 c, glm::vec2 d)
{
    float t = 0.0f;
    for (int step = 0; step < curveSteps; ++step, t += 0.1f) {
        const float u = 1.0f - t;
        const glm::vec2 p = u * u * u * a + 3.0f * t * u * u * b + 3.0f * t * t * u * c + t * t * t * d;
        contour.points.emplace_back(p.x, p.y, 0.0f);
    }
}

const Character3D& QvFont3D::getChar3D(char16_t c) const
{
    if (const auto built = glyphs.find(c); built != glyphs.end()) return *built->second;
    // A code point never read answers the fallback's glyph.
    const char16_t code = outlines.count(c) ? c : fallbackCode;
    if (const auto built = glyphs.find(code); built != glyphs.end()) return *built->second;
    _buildCharacters(outlines.at(code));
    return *glyphs.at(code);
}

void QvFont3D::buildAllGlyphs() const
{
    for (const auto& [code, record] : outlines)
        if (!glyphs.count(code)) _buildCharacters(record);
}

void QvFont3D::makeCharDummy(char16_t c)
{
    Character record;
    record.code = c;
    record.size = glm::vec2(0.0f);
    record.bearing = glm::vec2(0.0f);
    outlines[c] = record;
    glyphs[c] = std::make_shared<Character3D>(record);
}

void QvFont3D::_fillTableOfGags()
{
    if (!fallbackGlyph) return;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) glyphs[char16_t(c)] = fallbackGlyph;
}
