// Front-face check by a band sweep, and the tessellator fallback.
#include "engine/text/qvglyphface.h"

#include "engine/text/qvcharacter3d.h"

#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

// A sound face strays from the outline by at most this share of its area
// (plus one square unit for rounding on tiny glyphs).
constexpr double relativeTolerance = 1e-3;
constexpr double absoluteTolerance = 1.0;

// ---------------------------------------------------------------------------
// Band sweep
// ---------------------------------------------------------------------------

struct Side {
    glm::dvec2 low, high;  // end points, low.y < high.y
    int winding;           // +1 when the outline runs upwards along it
};

struct FaceTriangle {
    glm::dvec2 a, b, c;
    double minY, maxY;
};

struct Interval {
    double from, to;
};

// The outline's sides, horizontal ones left out (they never cross a band).
std::vector<Side> outlineSides(const Character3D& glyph)
{
    std::vector<Side> sides;
    for (const Contour& contour : glyph.contours) {
        const size_t n = contour.points.size();
        for (size_t i = 0; i < n; ++i) {
            const glm::dvec2 a{contour.points[i]};
            const glm::dvec2 b{contour.points[i + 1 == n ? 0 : i + 1]};
            if (a.y < b.y)
                sides.push_back({a, b, 1});
            else if (a.y > b.y)
                sides.push_back({b, a, -1});
        }
    }
    return sides;
}

// The non-degenerate triangles of the front strips.
std::vector<FaceTriangle> frontTriangles(const Character3D& glyph)
{
    std::vector<FaceTriangle> triangles;
    for (const std::vector<glm::vec3>& strip : glyph.faceStrips(glyph.frontVertices)) {
        for (size_t i = 2; i < strip.size(); ++i) {
            const glm::dvec2 a{strip[i - 2]}, b{strip[i - 1]}, c{strip[i]};
            const double cross = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
            if (cross == 0.0 || !std::isfinite(cross)) continue;
            triangles.push_back({a, b, c, std::min({a.y, b.y, c.y}), std::max({a.y, b.y, c.y})});
        }
    }
    return triangles;
}

double crossingX(glm::dvec2 p, glm::dvec2 q, double y)
{
    return p.x + (y - p.y) * (q.x - p.x) / (q.y - p.y);
}

// Where the non-zero winding rule fills the line at height y.
void filledAt(const std::vector<const Side*>& active, double y,
              std::vector<std::pair<double, int>>& crossings, std::vector<Interval>& filled)
{
    crossings.clear();
    for (const Side* s : active) crossings.emplace_back(crossingX(s->low, s->high, y), s->winding);
    std::sort(crossings.begin(), crossings.end());
    filled.clear();
    int winding = 0;
    for (const auto& [x, w] : crossings) {
        const int before = winding;
        winding += w;
        if (before == 0 && winding != 0)
            filled.push_back({x, x});
        else if (before != 0 && winding == 0)
            filled.back().to = x;
    }
}

// Where each triangle covers the line at height y, sorted by start.
void coveredAt(const std::vector<const FaceTriangle*>& active, double y, std::vector<Interval>& spans)
{
    spans.clear();
    for (const FaceTriangle* t : active) {
        double lo = INFINITY, hi = -INFINITY;
        const glm::dvec2 corners[3] = {t->a, t->b, t->c};
        for (int k = 0; k < 3; ++k) {
            const glm::dvec2 p = corners[k], q = corners[(k + 1) % 3];
            if ((p.y > y) == (q.y > y)) continue;
            const double x = crossingX(p, q, y);
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
        if (lo < hi) spans.push_back({lo, hi});
    }
    std::sort(spans.begin(), spans.end(),
              [](const Interval& a, const Interval& b) { return a.from < b.from; });
}

double totalLength(const std::vector<Interval>& list)
{
    double sum = 0;
    for (const Interval& i : list) sum += i.to - i.from;
    return sum;
}

// Union of intervals sorted by their start.
void unite(const std::vector<Interval>& sorted, std::vector<Interval>& merged)
{
    merged.clear();
    for (const Interval& i : sorted) {
        if (!merged.empty() && i.from <= merged.back().to)
            merged.back().to = std::max(merged.back().to, i.to);
        else
            merged.push_back(i);
    }
}

// Length shared by two sorted lists of disjoint intervals.
double sharedLength(const std::vector<Interval>& a, const std::vector<Interval>& b)
{
    double shared = 0;
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        shared += std::max(0.0, std::min(a[i].to, b[j].to) - std::max(a[i].from, b[j].from));
        if (a[i].to < b[j].to)
            ++i;
        else
            ++j;
    }
    return shared;
}

// ---------------------------------------------------------------------------
// Tessellator callbacks
// ---------------------------------------------------------------------------

struct TessOutput {
    std::deque<glm::dvec3> points;   // stable storage for every vertex handed to GLU
    std::vector<glm::vec3> corners;  // the triangles' corners, three per triangle
};

void GLAPIENTRY onVertex(void* vertex, void* data)
{
    const glm::dvec3& p = *static_cast<const glm::dvec3*>(vertex);
    static_cast<TessOutput*>(data)->corners.emplace_back(float(p.x), float(p.y), 0.0f);
}

void GLAPIENTRY onCombine(GLdouble coords[3], void* [4], GLfloat[4], void** out, void* data)
{
    auto* output = static_cast<TessOutput*>(data);
    output->points.emplace_back(coords[0], coords[1], coords[2]);
    *out = &output->points.back();
}

// Setting an edge-flag callback makes GLU emit separate triangles only.
void GLAPIENTRY onEdgeFlag(GLboolean, void*) {}

}  // namespace

// ---------------------------------------------------------------------------
// Public functions
// ---------------------------------------------------------------------------

bool QvFaceCoverage::isSound() const
{
    const double tolerance = relativeTolerance * outlineArea + absoluteTolerance;
    return missingArea + excessArea + overlapArea <= tolerance;
}

// Between two neighbouring vertex heights every side and triangle edge runs
// straight through the band, so the lengths measured at the band's middle
// height times its height give its areas.
QvFaceCoverage qvMeasureFrontFace(const Character3D& glyph)
{
    std::vector<Side> sides = outlineSides(glyph);
    std::vector<FaceTriangle> triangles = frontTriangles(glyph);
    std::vector<double> heights;
    for (const Side& s : sides) heights.insert(heights.end(), {s.low.y, s.high.y});
    for (const FaceTriangle& t : triangles) heights.insert(heights.end(), {t.minY, t.maxY});
    std::sort(heights.begin(), heights.end());
    heights.erase(std::unique(heights.begin(), heights.end()), heights.end());
    std::sort(sides.begin(), sides.end(), [](const Side& a, const Side& b) { return a.low.y < b.low.y; });
    std::sort(triangles.begin(), triangles.end(),
              [](const FaceTriangle& a, const FaceTriangle& b) { return a.minY < b.minY; });

    QvFaceCoverage coverage;
    std::vector<const Side*> activeSides;
    std::vector<const FaceTriangle*> activeTriangles;
    size_t nextSide = 0, nextTriangle = 0;
    std::vector<std::pair<double, int>> crossings;
    std::vector<Interval> filled, spans, covered;
    for (size_t band = 0; band + 1 < heights.size(); ++band) {
        const double y = 0.5 * (heights[band] + heights[band + 1]);
        const double h = heights[band + 1] - heights[band];
        while (nextSide < sides.size() && sides[nextSide].low.y < y)
            activeSides.push_back(&sides[nextSide++]);
        while (nextTriangle < triangles.size() && triangles[nextTriangle].minY < y)
            activeTriangles.push_back(&triangles[nextTriangle++]);
        std::erase_if(activeSides, [y](const Side* s) { return s->high.y < y; });
        std::erase_if(activeTriangles, [y](const FaceTriangle* t) { return t->maxY < y; });

        filledAt(activeSides, y, crossings, filled);
        coveredAt(activeTriangles, y, spans);
        unite(spans, covered);
        const double filledLength = totalLength(filled);
        const double coveredLength = totalLength(covered);
        const double shared = sharedLength(filled, covered);
        coverage.outlineArea += filledLength * h;
        coverage.missingArea += (filledLength - shared) * h;
        coverage.excessArea += (coveredLength - shared) * h;
        coverage.overlapArea += (totalLength(spans) - coveredLength) * h;
    }
    return coverage;
}

void qvTessellateFrontFace(Character3D& glyph)
{
    TessOutput output;
    GLUtesselator* tess = gluNewTess();
    if (!tess) return;
    gluTessProperty(tess, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_NONZERO);
    gluTessNormal(tess, 0.0, 0.0, 1.0);
    gluTessCallback(tess, GLU_TESS_VERTEX_DATA, reinterpret_cast<_GLUfuncptr>(onVertex));
    gluTessCallback(tess, GLU_TESS_COMBINE_DATA, reinterpret_cast<_GLUfuncptr>(onCombine));
    gluTessCallback(tess, GLU_TESS_EDGE_FLAG_DATA, reinterpret_cast<_GLUfuncptr>(onEdgeFlag));

    gluTessBeginPolygon(tess, &output);
    for (const Contour& contour : glyph.contours) {
        if (contour.points.size() < 3) continue;
        gluTessBeginContour(tess);
        for (const glm::vec3& p : contour.points) {
            output.points.emplace_back(p.x, p.y, 0.0);
            gluTessVertex(tess, &output.points.back().x, &output.points.back());
        }
        gluTessEndContour(tess);
    }
    gluTessEndPolygon(tess);
    gluDeleteTess(tess);

    glyph.frontVertices.clear();
    glyph.stripIndices.clear();
    const size_t whole = output.corners.size() - output.corners.size() % 3;
    for (size_t i = 0; i < whole; ++i) {
        glyph.frontVertices.push_back(output.corners[i]);
        glyph.stripIndices.push_back(uint32_t(i));
        if (i % 3 == 2) glyph.stripIndices.push_back(Character3D::restartIndex);
    }
    glyph.makeFrontNormals();
    glyph.makeFrontTextureCoords();
    glyph.makeBackFace();
}
