// Shared fixtures of the glyph tests: outline records made by hand, meshes
// built from plain polygons, and independent measures of a front face
// (triangle areas, non-zero winding) that do not reuse the mesh code.
#pragma once

#include "fontfixtures.h"
#include "engine/text/qvcharacter3d.h"
#include "engine/text/qvfont.h"

#include <glm/vec2.hpp>

#include <array>
#include <cmath>
#include <vector>

namespace glyphtest {

// The outline font of the DejaVu file with every glyph's mesh built, once per
// test process: the table tests walk all of them.
inline const QvFont3D& dejaVuOutlines()
{
    static const QvFont3D font(fonttest::dejaVuFile);
    static const bool allBuilt = (font.buildAllGlyphs(), true);
    (void)allBuilt;
    return font;
}

// A diamond ring: the outer diamond's area is 20000, the hole's 5000.
inline const std::vector<glm::vec2> outerDiamond{{0, 100}, {100, 0}, {0, -100}, {-100, 0}};
inline const std::vector<glm::vec2> innerDiamond{{0, 50}, {-50, 0}, {0, -50}, {50, 0}};

struct OutlinePoint {
    float x, y;
    int tag;  // 1 on-curve, 0 conic control, 2 cubic control
};

inline constexpr int on = 1;
inline constexpr int conic = 0;
inline constexpr int cubic = 2;

// An outline record with the given contours, as FreeType would hand it over.
inline Character makeRecord(const std::vector<std::vector<OutlinePoint>>& contours, char16_t code = u'x')
{
    Character record;
    record.code = code;
    record.bearing = glm::vec2(0.0f);
    record.size = glm::vec2(0.0f);
    for (const auto& contour : contours) {
        for (const OutlinePoint& p : contour) {
            record.points.emplace_back(p.x, p.y);
            record.tags.push_back(int8_t(p.tag));
        }
        record.contourEnds.push_back(int16_t(record.points.size() - 1));
    }
    record.nContours = int16_t(contours.size());
    record.nPoints = int16_t(record.points.size());
    return record;
}

// A glyph whose contours are the given polygons (on-curve points only),
// built the way the font builds every glyph.
inline Character3D buildPolygons(const std::vector<std::vector<glm::vec2>>& polygons,
                                 bool* tessellated = nullptr)
{
    std::vector<std::vector<OutlinePoint>> contours;
    for (const auto& polygon : polygons) {
        contours.emplace_back();
        for (glm::vec2 p : polygon) contours.back().push_back({p.x, p.y, on});
    }
    const Character record = makeRecord(contours);
    Character3D glyph(record);
    QvFont3D::_buildContour(record, 0.0f, 0.0f, glyph);
    const bool rebuilt = QvFont3D::_buildMesh(glyph);
    if (tessellated) *tessellated = rebuilt;
    return glyph;
}

// The front triangles: every consecutive triple of each strip.
inline std::vector<std::array<glm::vec2, 3>> frontTriangles(const Character3D& glyph)
{
    std::vector<std::array<glm::vec2, 3>> triangles;
    std::vector<glm::vec2> strip;
    auto flush = [&] {
        for (size_t i = 2; i < strip.size(); ++i) triangles.push_back({strip[i - 2], strip[i - 1], strip[i]});
        strip.clear();
    };
    for (uint32_t index : glyph.stripIndices) {
        if (index == 0xFFFF)
            flush();
        else
            strip.emplace_back(glyph.frontVertices.at(index));
    }
    flush();
    return triangles;
}

inline double triangleArea(const std::array<glm::vec2, 3>& t)
{
    const double cross = (double(t[1].x) - t[0].x) * (double(t[2].y) - t[0].y) -
                         (double(t[1].y) - t[0].y) * (double(t[2].x) - t[0].x);
    return std::abs(cross) / 2.0;
}

// Sum of the unsigned areas of the front triangles.
inline double frontArea(const Character3D& glyph)
{
    double sum = 0;
    for (const auto& t : frontTriangles(glyph)) sum += triangleArea(t);
    return sum;
}

// Winding number of the contours around p (crossings of a ray towards +x).
inline int windingNumber(const Character3D& glyph, glm::dvec2 p)
{
    int winding = 0;
    for (const Contour& contour : glyph.contours) {
        const size_t n = contour.points.size();
        for (size_t i = 0; i < n; ++i) {
            const glm::dvec2 a{contour.points[i].x, contour.points[i].y};
            const glm::dvec2 b{contour.points[(i + 1) % n].x, contour.points[(i + 1) % n].y};
            const double side = (b.x - a.x) * (p.y - a.y) - (p.x - a.x) * (b.y - a.y);
            if (a.y <= p.y && b.y > p.y && side > 0)
                ++winding;
            else if (a.y > p.y && b.y <= p.y && side < 0)
                --winding;
        }
    }
    return winding;
}

// p lies inside (or on) the triangle t.
inline bool insideTriangle(const std::array<glm::vec2, 3>& t, glm::dvec2 p)
{
    auto side = [&](glm::vec2 a, glm::vec2 b) {
        return (double(b.x) - a.x) * (p.y - a.y) - (p.x - a.x) * (double(b.y) - a.y);
    };
    const double d1 = side(t[0], t[1]), d2 = side(t[1], t[2]), d3 = side(t[2], t[0]);
    const bool negative = d1 < 0 || d2 < 0 || d3 < 0;
    const bool positive = d1 > 0 || d2 > 0 || d3 > 0;
    return !(negative && positive);
}

// Shoelace area of the contours taken together, signed by their directions.
inline double signedOutlineArea(const Character3D& glyph)
{
    double sum = 0;
    for (const Contour& contour : glyph.contours) {
        const size_t n = contour.points.size();
        for (size_t i = 0; i < n; ++i) {
            const glm::vec3 a = contour.points[i], b = contour.points[(i + 1) % n];
            sum += double(a.x) * b.y - double(b.x) * a.y;
        }
    }
    return sum / 2.0;
}

}  // namespace glyphtest
