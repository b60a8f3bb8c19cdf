// Advancing-front Delaunay triangulation. Bisectors, centres and turns are
// worked out in double, so that points on one circle tie instead of picking
// partners by rounding noise, and every side test of a point against an edge
// gives one answer whichever way round the edge is held.
#include "engine/geometry/qvdelone.h"

#include "engine/geometry/qvgeometry.h"
#include "engine/geometry/qvplane.h"
#include "engine/geometry/qvtriangulation.h"

#include <fmt/format.h>
#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <utility>

namespace {

constexpr double leftTolerance = 1e-9;
// Rounding bound of the circle determinant relative to its permanent (the sum
// of its terms' magnitudes): coordinates are floats, so their differences are
// exact in double and only the products and sums round. Below it the sign is
// not known and the points count as on one circle.
constexpr double cocircularTolerance = 2e-15;
constexpr int minimumPoints = 3;
constexpr int trianglesPerPoint = 2;  // a planar triangulation has fewer than 2n triangles

// A line through `base` along `direction`, in double.
struct Line {
    glm::dvec2 base;
    glm::dvec2 direction;
};

using qvplane::cross;
using qvplane::isLexicographicallyBefore;
using qvplane::orientation;
using qvplane::sameXY;
using qvplane::xy;

// Perpendicular bisector of a -> b, pointing from its left to its right.
Line bisector(glm::dvec2 a, glm::dvec2 b)
{
    const glm::dvec2 along = b - a;
    return {0.5 * (a + b), {along.y, -along.x}};
}

// Parameter along f where it meets g; false when parallel.
bool meet(const Line& f, const Line& g, double& t)
{
    const double denominator = cross(f.direction, g.direction);
    if (denominator == 0.0) return false;
    t = cross(g.base - f.base, g.direction) / denominator;
    return true;
}

std::string pointListText(std::span<const glm::vec3> points)
{
    std::string text = "[";
    for (size_t i = 0; i < points.size(); ++i) text += (i ? ", " : "") + qvPointText(points[i]);
    return text + "]";
}

// A point with a place in the plane. One without (NaN or infinite x or y)
// lies on no side of any edge and would turn every window and cell of the
// grid into NaN.
bool isFinite(glm::vec3 p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// The finite points, in their order.
std::vector<glm::vec3> finitePoints(std::span<const glm::vec3> points)
{
    std::vector<glm::vec3> finite;
    finite.reserve(points.size());
    std::copy_if(points.begin(), points.end(), std::back_inserter(finite), isFinite);
    return finite;
}

// Swaps the leftmost (then lowest) finite point to index 0; the first of equal points stays.
void moveLeftmostToFront(std::vector<glm::vec3>& points)
{
    const auto finite = std::find_if(points.begin(), points.end(), isFinite);
    if (finite == points.end()) return;
    auto leftmost = finite;
    for (auto p = finite; p != points.end(); ++p)
        if (isFinite(*p) && isLexicographicallyBefore(*p, *leftmost)) leftmost = p;
    std::iter_swap(points.begin(), leftmost);
}

// s lies strictly right of the directed edge: the side a frontier edge takes its partner from.
bool isRightOf(const DE& e, glm::vec3 s)
{
    return orientation(e.org, e.dest, s) < 0;
}

// +1 when d lies inside the circle through the counterclockwise a, b, c,
// -1 outside, 0 on it (within rounding of the determinant).
int inCircle(glm::vec3 a, glm::vec3 b, glm::vec3 c, glm::vec3 d)
{
    const glm::dvec2 ad = xy(a) - xy(d), bd = xy(b) - xy(d), cd = xy(c) - xy(d);
    const double al = glm::dot(ad, ad), bl = glm::dot(bd, bd), cl = glm::dot(cd, cd);
    const double det = al * cross(bd, cd) + bl * cross(cd, ad) + cl * cross(ad, bd);
    auto permanent = [](glm::dvec2 u, glm::dvec2 v) { return std::abs(u.x * v.y) + std::abs(u.y * v.x); };
    const double magnitude = al * permanent(bd, cd) + bl * permanent(cd, ad) + cl * permanent(ad, bd);
    if (std::abs(det) <= cocircularTolerance * magnitude) return 0;
    return det > 0.0 ? 1 : -1;
}

// Of the points on e's right that share the winning circle, the one that cuts
// their polygon as a fan from its lowest corner (smallest x, then y). Every
// edge around the same circle picks by the same fan, so cocircular points
// never give crossing triangles.
const glm::vec3& canonicalOnCircle(const DE& e, std::span<const glm::vec3> points, const glm::vec3& winner)
{
    std::vector<const glm::vec3*> ties;
    for (const glm::vec3& s : points)
        if (isRightOf(e, s) && (&s == &winner || inCircle(e.dest, e.org, winner, s) == 0) &&
            std::none_of(ties.begin(), ties.end(), [&](const glm::vec3* t) { return sameXY(*t, s); }))
            ties.push_back(&s);
    if (ties.size() == 1) return winner;

    const glm::vec3* lowest =
        *std::min_element(ties.begin(), ties.end(), [](const glm::vec3* a, const glm::vec3* b) {
            return isLexicographicallyBefore(*a, *b);
        });
    if (isLexicographicallyBefore(*lowest, e.org) && isLexicographicallyBefore(*lowest, e.dest))
        return *lowest;
    // The fan's apex is an end of e: take the tie next to the other end.
    const bool apexIsOrg = isLexicographicallyBefore(e.org, e.dest);
    const glm::vec3 apex = apexIsOrg ? e.org : e.dest, other = apexIsOrg ? e.dest : e.org;
    const glm::vec3* next = ties.front();
    for (const glm::vec3* q : ties)
        if (orientation(apex, *next, *q) == orientation(apex, *next, other)) next = q;
    return *next;
}

// Buckets of point indices over the points' bounding box, about two points a
// cell, so that a partner search reads the cells around an edge instead of
// every point: the triangulation then grows close to n log n. Every point
// must be finite.
class PointGrid {
public:
    explicit PointGrid(std::span<const glm::vec3> points);
    // The partner mate() finds among all points, found from the cells near e.
    bool mate(const DE& e, glm::vec3& p, glm::vec3& circle) const;

private:
    // An axis-aligned window in point coordinates.
    struct Box {
        double minX, minY, maxX, maxY;
    };

    int column(double x) const;
    int row(double y) const;
    // Calls visit(index) for every point in the cells of `window` that reach
    // the right side of e (a cell wholly left of e's line is skipped).
    template <class Visit>
    void forRightCells(const DE& e, const Box& window, Visit visit) const;
    // Best partner among the points right of e in `window`, or none.
    const glm::vec3* nearestRightOf(const DE& e, const Box& window) const;
    // A window holding the part of e's circle through s on e's right, where
    // every better partner than s must lie.
    Box rightCircleBox(const DE& e, glm::vec3 s) const;

    std::span<const glm::vec3> points;
    Box bounds{0.0, 0.0, 0.0, 0.0};
    double cell = 1.0;
    int columns = 1, rows = 1;
    std::vector<std::uint32_t> cellStart;  // points of cell k: order[cellStart[k] .. cellStart[k + 1])
    std::vector<std::uint32_t> order;      // point indices by cell, ascending within each cell
};

constexpr double pointsPerCell = 2.0;
// Windows are widened by this share of their size, so that rounding at a
// window's edge never leaves a partner out.
constexpr double windowMargin = 1e-5;

PointGrid::PointGrid(std::span<const glm::vec3> input) : points(input)
{
    if (!points.empty()) bounds = {points[0].x, points[0].y, points[0].x, points[0].y};
    for (const glm::vec3& p : points) {
        bounds = {std::min(bounds.minX, double(p.x)), std::min(bounds.minY, double(p.y)),
                  std::max(bounds.maxX, double(p.x)), std::max(bounds.maxY, double(p.y))};
    }
    const double width = bounds.maxX - bounds.minX, height = bounds.maxY - bounds.minY;
    const double n = std::max<double>(1.0, double(points.size()));
    // Square cells for about two points each; a long thin set gets at most n
    // cells along its length instead of a cell size from its tiny area.
    cell = std::max(std::sqrt(width * height * pointsPerCell / n), std::max(width, height) / n);
    if (!(cell > 0.0)) cell = 1.0;
    columns = int(std::min(n, std::floor(width / cell))) + 1;
    rows = int(std::min(n, std::floor(height / cell))) + 1;

    std::vector<std::uint32_t> counts(size_t(columns) * rows + 1, 0);
    auto cellOf = [&](glm::vec3 p) { return size_t(row(p.y)) * columns + column(p.x); };
    for (const glm::vec3& p : points) ++counts[cellOf(p) + 1];
    for (size_t k = 1; k < counts.size(); ++k) counts[k] += counts[k - 1];
    cellStart = counts;
    order.resize(counts.back());
    for (std::uint32_t i = 0; i < points.size(); ++i) order[counts[cellOf(points[i])]++] = i;
}

int PointGrid::column(double x) const
{
    return int(std::clamp(std::floor((x - bounds.minX) / cell), 0.0, double(columns - 1)));
}

int PointGrid::row(double y) const
{
    return int(std::clamp(std::floor((y - bounds.minY) / cell), 0.0, double(rows - 1)));
}

template <class Visit>
void PointGrid::forRightCells(const DE& e, const Box& window, Visit visit) const
{
    const glm::dvec2 o = xy(e.org), d = xy(e.dest) - xy(e.org);
    // A point q is right of e when d.x (q.y - o.y) - d.y (q.x - o.x) < 0; the
    // slack keeps cells that touch the line within rounding.
    const double slack = windowMargin * cell * (std::abs(d.x) + std::abs(d.y));
    const int rowFrom = row(window.minY), rowTo = row(window.maxY);
    for (int r = rowFrom; r <= rowTo; ++r) {
        const double y0 = bounds.minY + r * cell, y1 = y0 + cell;
        const double lowest = std::min(d.x * (y0 - o.y), d.x * (y1 - o.y)) - slack;
        double xFrom = window.minX, xTo = window.maxX;
        if (d.y > 0.0) {
            xFrom = std::max(xFrom, o.x + lowest / d.y - cell);
        } else if (d.y < 0.0) {
            xTo = std::min(xTo, o.x + lowest / d.y + cell);
        } else if (lowest >= 0.0) {
            continue;  // the whole row lies left of a level edge
        }
        if (xFrom > xTo) continue;
        const size_t rowStart = size_t(r) * columns;
        const size_t first = rowStart + column(xFrom), last = rowStart + column(xTo);
        for (std::uint32_t k = cellStart[first]; k < cellStart[last + 1]; ++k) visit(order[k]);
    }
}

const glm::vec3* PointGrid::nearestRightOf(const DE& e, const Box& window) const
{
    const glm::vec3* best = nullptr;
    forRightCells(e, window, [&](std::uint32_t i) {
        const glm::vec3& s = points[i];
        if (!isRightOf(e, s)) return;
        if (best == nullptr || inCircle(e.dest, e.org, *best, s) > 0) best = &s;
    });
    return best;
}

PointGrid::Box PointGrid::rightCircleBox(const DE& e, glm::vec3 s) const
{
    const glm::dvec2 a = xy(e.org), b = xy(e.dest);
    const double length = glm::distance(a, b);
    const glm::dvec2 along = (b - a) / length, right{along.y, -along.x};
    const Line f = bisector(a, b);
    double t = 0.0;
    const Box whole{bounds.minX, bounds.minY, bounds.maxX, bounds.maxY};
    if (!meet(f, bisector(b, xy(s)), t)) return whole;  // s all but on e's line
    const glm::dvec2 centre = f.base + t * f.direction;
    const double radius = glm::distance(xy(s), centre);
    if (!std::isfinite(radius)) return whole;
    const double centreRight = glm::dot(centre - f.base, right);
    // In e's frame the right part of the circle reaches radius + centreRight
    // to the right; along e it stays over the edge unless the centre is on the
    // right, when it can bulge past both ends.
    const double depth = radius + std::max(0.0, centreRight);
    const double from = centreRight > 0.0 ? 0.5 * length - radius : 0.0;
    const double to = centreRight > 0.0 ? 0.5 * length + radius : length;
    Box box{a.x, a.y, a.x, a.y};
    for (double u : {from, to})
        for (double v : {0.0, depth}) {
            const glm::dvec2 q = a + u * along + v * right;
            box = {std::min(box.minX, q.x), std::min(box.minY, q.y), std::max(box.maxX, q.x),
                   std::max(box.maxY, q.y)};
        }
    const double margin = windowMargin * (radius + length) + cell * windowMargin;
    return {box.minX - margin, box.minY - margin, box.maxX + margin, box.maxY + margin};
}

bool PointGrid::mate(const DE& e, glm::vec3& p, glm::vec3& circle) const
{
    if (order.empty() || sameXY(e.org, e.dest)) return false;
    // Widen a window around the edge until it holds a point on the right, or
    // the whole grid has none (a hull edge seen from outside).
    const Box whole{bounds.minX, bounds.minY, bounds.maxX, bounds.maxY};
    const glm::vec3* first = nullptr;
    for (double reach = cell;; reach *= 2.0) {
        const Box window{std::min(e.org.x, e.dest.x) - reach, std::min(e.org.y, e.dest.y) - reach,
                         std::max(e.org.x, e.dest.x) + reach, std::max(e.org.y, e.dest.y) + reach};
        first = nearestRightOf(e, window);
        const bool coversAll = window.minX <= whole.minX && window.minY <= whole.minY &&
                               window.maxX >= whole.maxX && window.maxY >= whole.maxY;
        if (first != nullptr || coversAll) break;
    }
    if (first == nullptr) return false;

    // Every better partner lies inside the circle through `first`: the points
    // there, in their original order, decide as the full search would.
    std::vector<std::uint32_t> near;
    forRightCells(e, rightCircleBox(e, *first), [&](std::uint32_t i) { near.push_back(i); });
    std::sort(near.begin(), near.end());
    std::vector<glm::vec3> candidates;
    candidates.reserve(near.size() + 1);
    for (std::uint32_t i : near) candidates.push_back(points[i]);
    if (candidates.empty()) candidates.push_back(*first);
    return ::mate(e, candidates, p, circle);
}

}  // namespace

bool DE::operator==(const DE& other) const
{
    return (sameXY(org, other.org) && sameXY(dest, other.dest)) ||
           (sameXY(org, other.dest) && sameXY(dest, other.org));
}

int DE::opCmp(const DE& other) const
{
    const float mine[] = {org.x, org.y, dest.x, dest.y};
    const float theirs[] = {other.org.x, other.org.y, other.dest.x, other.dest.y};
    for (int i = 0; i < 4; ++i) {
        if (mine[i] < theirs[i]) return -1;
        if (mine[i] > theirs[i]) return 1;
    }
    return 0;
}

DE DE::rotate()
{
    const Line line = bisector(xy(org), xy(dest));
    const glm::dvec2 from = line.base - 0.5 * line.direction, to = line.base + 0.5 * line.direction;
    org = {float(from.x), float(from.y), org.z};
    dest = {float(to.x), float(to.y), dest.z};
    return *this;
}

void DE::flip()
{
    std::swap(org, dest);
}

int DE::intersect(const DE& e, double& t, glm::dvec2& p) const
{
    const Line self{xy(org), xy(dest) - xy(org)}, other{xy(e.org), xy(e.dest) - xy(e.org)};
    double along = 0.0;
    if (!meet(self, other, along)) return 1;
    t = along;
    p = self.base + along * self.direction;
    return 2;
}

int classify(glm::vec2 org, glm::vec2 dest, glm::vec2 p)
{
    const double s = cross(glm::dvec2(dest) - glm::dvec2(org), glm::dvec2(p) - glm::dvec2(org));
    return s > leftTolerance ? 0 : 1;
}

int computeTurn(glm::vec2 a, glm::vec2 b, glm::vec2 c)
{
    return qvplane::computeTurn(glm::vec3(a, 0.0f), glm::vec3(b, 0.0f), glm::vec3(c, 0.0f));
}

DE hullEdge(std::vector<glm::vec3>& points)
{
    moveLeftmostToFront(points);
    if (points.empty() || !isFinite(points[0])) return {};
    const glm::vec3 origin = points[0];

    // Turn the edge left while any point lies left of it; of points on its
    // line, the nearest one, so that no point is left inside the edge.
    size_t m = 0;
    for (size_t i = 1; i < points.size(); ++i) {
        const glm::vec3 p = points[i];
        if (!isFinite(p) || sameXY(p, origin)) continue;
        if (m == 0) {
            m = i;
            continue;
        }
        const glm::vec3 end = points[m];
        const int turn = orientation(origin, end, p);
        if (turn > 0) {
            m = i;
        } else if (turn == 0 && glm::dot(xy(p) - xy(origin), xy(end) - xy(origin)) > 0.0 &&
                   glm::distance(xy(p), xy(origin)) < glm::distance(xy(end), xy(origin))) {
            m = i;
        }
    }
    return {origin, points[m]};
}

bool mate(const DE& e, std::span<const glm::vec3> points, glm::vec3& p, glm::vec3& circle)
{
    // The partner is the point whose circle with e leaves every other point
    // on e's right outside: each point inside the current best circle wins.
    const glm::vec3* best = nullptr;
    bool tied = false;  // some point fell on the circle of the best so far
    for (const glm::vec3& s : points) {
        // Points on the edge's line have a parallel bisector and never pair.
        if (!isRightOf(e, s)) continue;
        if (best == nullptr) {
            best = &s;
            continue;
        }
        const int side = inCircle(e.dest, e.org, *best, s);
        if (side > 0) best = &s;
        tied = tied || (side == 0 && !sameXY(s, *best));
    }
    if (best == nullptr) return false;
    // Once two points share the winning circle, its second one met a tie.
    if (tied) best = &canonicalOnCircle(e, points, *best);

    double t = 0.0;
    const Line f = bisector(xy(e.org), xy(e.dest));
    meet(f, bisector(xy(e.dest), xy(*best)), t);
    const glm::dvec2 centre = f.base + t * f.direction;
    p = *best;
    circle = {float(centre.x), float(centre.y), float(glm::distance(xy(*best), centre))};
    return true;
}

void updateFrontier(QvFrontier& frontier, DE e)
{
    if (frontier.erase(e) > 0) return;
    e.flip();
    frontier.insert(e);
}

void triangulate(std::vector<glm::vec3>& points, std::vector<glm::vec3>& vertices,
                 std::vector<std::uint32_t>& indices, std::vector<glm::vec3>& normals, int& count,
                 std::vector<float>& circleLines)
{
    // Points without a place in the plane take no part: the rest is
    // triangulated as if they had never been given.
    std::vector<glm::vec3> finite = finitePoints(points);
    if (finite.size() < minimumPoints) return;
    moveLeftmostToFront(points);
    const DE first = hullEdge(finite);
    fmt::print("\x1b[01;37m the most left: [{} -> {}] \x1b[0m \n", qvPointText(first.org),
               qvPointText(first.dest));
    fmt::print("\x1b[01;37m set.length: {} \x1b[0m \n", finite.size());
    fmt::print("\x1b[01;37m set: {} \x1b[0m \n", pointListText(finite));
    if (sameXY(first.org, first.dest)) return;  // every point is the same point

    const PointGrid grid(finite);
    QvFrontier frontier{first};
    // Directed edges that have a triangle on their right. Where rounding makes
    // the choices around a nearly cocircular cluster disagree, an edge could
    // come back for a second triangle; it is dropped instead, so no triangle
    // is made twice and the walk cannot circle for ever.
    std::set<DE> covered;
    auto advance = [&](const DE& side) {
        DE back = side;
        back.flip();
        if (!frontier.contains(side) && covered.contains(back)) return;
        updateFrontier(frontier, side);
    };
    const size_t maxTriangles = trianglesPerPoint * finite.size();
    for (size_t triangles = 0; !frontier.empty() && triangles < maxTriangles;) {
        const DE e = *frontier.begin();
        frontier.erase(frontier.begin());
        glm::vec3 p, circle;
        if (!grid.mate(e, p, circle)) continue;  // a hull edge seen from outside
        const DE fromP{p, e.org}, toP{e.dest, p};
        if (covered.contains(fromP) || covered.contains(toP)) continue;
        covered.insert({e, fromP, toP});
        advance(fromP);
        advance(toP);
        drawCircle({circle.x, circle.y}, circle.z, circleLines);
        appendTriangle(e.org, e.dest, p, vertices, indices, count);
        glm::vec3 normal = glm::cross(e.dest - e.org, e.dest - p);
        if (normal.z < 0.0f) normal = -normal;
        normals.insert(normals.end(), {normal, normal, normal});
        ++triangles;
    }
}
