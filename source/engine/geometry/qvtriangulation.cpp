// Polygon triangulations by ear cutting, convex hulls, and their predicates.
//
// Both triangulations cut ears: a corner P0 -> P1 -> P2 is an ear when it
// turns the polygon's way, the diagonal P0 -> P2 leaves both its ends into
// the polygon and touches no side except at its own ends. A cut mostly
// changes the verdicts of nearby corners only, so each corner's last verdict
// is kept until a cut near it: that keeps the whole cut quadratic (a far cut
// that unblocks a corner is caught by one fresh pass when the kept verdicts
// leave nothing to cut). The two functions differ in the order they try the
// corners.
#include "engine/geometry/qvtriangulation.h"
#include "engine/geometry/qvplane.h"

#include "engine/geometry/qvgeometricfunctions.h"

#include <fmt/format.h>
#include <glm/geometric.hpp>
#include <glm/vec2.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <list>
#include <string>

namespace {

constexpr float insideNudge = 1e-5f;     // vertical step of the nudged ray test, taken twice
constexpr float collinearShift = 1e-5f;  // vertical move of isEdgeCollinearAny
constexpr double clockwiseDemoTurn = -1.4;

// --- Shared geometry helpers

using qvplane::crossXY;
using qvplane::orientation;
using qvplane::sameXY;

double distanceSquaredXY(glm::vec3 a, glm::vec3 b)
{
    const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    return dx * dx + dy * dy;
}

// p, known to be on the line a-b, lies strictly between a and b.
bool isStrictlyBetween(glm::vec3 p, glm::vec3 a, glm::vec3 b)
{
    if (sameXY(p, a) || sameXY(p, b)) return false;
    const double along =
        (double(p.x) - a.x) * (double(b.x) - a.x) + (double(p.y) - a.y) * (double(b.y) - a.y);
    return along > 0.0 && along < distanceSquaredXY(a, b);
}

// Segment k1-k2 and side e1-e2 have a point in common other than an end point
// they share: a crossing, a corner resting on the other's inside, an overlap.
bool touchesBeyondSharedEnds(glm::vec3 k1, glm::vec3 k2, glm::vec3 e1, glm::vec3 e2)
{
    const int o1 = orientation(k1, k2, e1), o2 = orientation(k1, k2, e2);
    const int o3 = orientation(e1, e2, k1), o4 = orientation(e1, e2, k2);
    if (o1 * o2 < 0 && o3 * o4 < 0) return true;
    return (o1 == 0 && isStrictlyBetween(e1, k1, k2)) || (o2 == 0 && isStrictlyBetween(e2, k1, k2)) ||
           (o3 == 0 && isStrictlyBetween(k1, e1, e2)) || (o4 == 0 && isStrictlyBetween(k2, e1, e2));
}

template <class Side>
bool touchesAnySide(Side s, std::span<const Side> all)
{
    return std::any_of(all.begin(), all.end(),
                       [&](const Side& e) { return touchesBeyondSharedEnds(s.p1, s.p2, e.p1, e.p2); });
}

template <class Side>
bool containsEitherWay(Side s, std::span<const Side> all)
{
    return std::any_of(all.begin(), all.end(), [&](const Side& e) { return joinSamePoints(e, s); });
}

glm::vec3 nudgedTowards(glm::vec3 p, float referenceY)
{
    const float step = p.y < referenceY ? insideNudge : -insideNudge;
    p.y += step;
    p.y += step;
    return p;
}

// --- The polygon being cut

enum class CornerCut { Blocked, Clipped, Dropped };

// The polygon's sides as a doubly linked ring; side i runs from `from` to `to`,
// and "the corner of side i" is the one at its `to` end.
class EarRing {
public:
    EarRing(std::span<const glm::vec3> polygon, std::vector<glm::vec3>& vertices,
            std::vector<std::uint32_t>& indices, int& count);

    int liveSides() const { return live_; }
    int sideCount() const { return int(sides_.size()); }
    bool isAlive(int side) const { return sides_[side].alive; }
    int previous(int side) const { return sides_[side].prev; }
    int next(int side) const { return sides_[side].next; }
    QvSegment segment(int side) const { return {sides_[side].from, sides_[side].to}; }
    bool wasRejected(int side) const { return sides_[side].rejected; }
    // Clears every kept verdict; false when there was none to clear.
    bool forgetRejections();

    // Tries the corner of `side`: cuts it off as a triangle (P0, P1, P2), or
    // (P1, P2, P0) when `fromMiddle`, drops it when straight, or marks it rejected.
    CornerCut cutCorner(int side, bool fromMiddle);

private:
    struct Side {
        glm::vec3 from, to;
        int prev = 0, next = 0;
        bool alive = true;
        bool rejected = false;  // corner tested and found not to be an ear
    };

    bool isInCone(glm::vec3 before, glm::vec3 at, glm::vec3 after, glm::vec3 target) const;
    bool isDiagonalClear(int side) const;
    void mergeWithNext(int side);
    void emit(glm::vec3 a, glm::vec3 b, glm::vec3 c);

    std::vector<Side> sides_;
    int live_ = 0;
    int turn_ = 0;  // +1 counterclockwise polygon, -1 clockwise
    std::vector<glm::vec3>& vertices_;
    std::vector<std::uint32_t>& indices_;
    int& count_;
};

EarRing::EarRing(std::span<const glm::vec3> polygon, std::vector<glm::vec3>& vertices,
                 std::vector<std::uint32_t>& indices, int& count)
    : vertices_(vertices), indices_(indices), count_(count)
{
    // Corners without repeats: the closing copy of the first point and points
    // that repeat their predecessor add no side.
    std::vector<glm::vec3> corners;
    for (const glm::vec3& point : polygon)
        if (corners.empty() || !sameXY(corners.back(), point)) corners.push_back(point);
    while (corners.size() > 1 && sameXY(corners.back(), corners.front())) corners.pop_back();
    if (corners.size() < 3) return;

    double twiceArea = 0.0;
    for (size_t i = 0; i < corners.size(); ++i) {
        const glm::vec3 a = corners[i], b = corners[(i + 1) % corners.size()];
        twiceArea += double(a.x) * b.y - double(b.x) * a.y;
    }
    if (twiceArea == 0.0) return;  // all on one line: nothing to cover
    turn_ = twiceArea > 0.0 ? 1 : -1;

    const int n = int(corners.size());
    sides_.resize(n);
    for (int i = 0; i < n; ++i) {
        sides_[i].from = corners[i];
        sides_[i].to = corners[(i + 1) % n];
        sides_[i].prev = (i + n - 1) % n;
        sides_[i].next = (i + 1) % n;
    }
    live_ = n;
}

// The ray from `at` towards `target` starts into the polygon: it lies inside
// the angle that the sides before -> at -> after enclose on the inner side.
// Exact turns only, so a nearly straight sliver is judged as surely as a wide one.
bool EarRing::isInCone(glm::vec3 before, glm::vec3 at, glm::vec3 after, glm::vec3 target) const
{
    auto left = [&](glm::vec3 a, glm::vec3 b, glm::vec3 c) { return orientation(a, b, c) * turn_ > 0; };
    auto leftOrOn = [&](glm::vec3 a, glm::vec3 b, glm::vec3 c) { return orientation(a, b, c) * turn_ >= 0; };
    if (leftOrOn(at, after, before))  // a convex corner
        return left(at, target, before) && left(target, at, after);
    return !(leftOrOn(at, target, after) && leftOrOn(target, at, before));
}

// The diagonal that would cut off the corner of `side` runs inside the
// polygon: it leaves both its ends inwards and touches no side between them.
bool EarRing::isDiagonalClear(int side) const
{
    const Side& s = sides_[side];
    const Side& next = sides_[s.next];
    const glm::vec3 p0 = s.from, p1 = s.to, p2 = next.to;
    if (!isInCone(sides_[s.prev].from, p0, p1, p2) || !isInCone(p1, p2, sides_[next.next].to, p0))
        return false;
    for (const Side& other : sides_)
        if (other.alive && touchesBeyondSharedEnds(p0, p2, other.from, other.to)) return false;
    return true;
}

bool EarRing::forgetRejections()
{
    bool any = false;
    for (Side& side : sides_) {
        any = any || (side.alive && side.rejected);
        side.rejected = false;
    }
    return any;
}

void EarRing::emit(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    appendTriangle(a, b, c, vertices_, indices_, count_);
}

// Replaces the side and its successor by the side from its start to the
// successor's end. A corner's verdict reads the two sides on either side of
// it, so the corners of the two sides before and after the new side are
// judged again.
void EarRing::mergeWithNext(int side)
{
    Side& s = sides_[side];
    Side& t = sides_[s.next];
    s.to = t.to;
    s.next = t.next;
    sides_[t.next].prev = side;
    t.alive = false;
    --live_;
    s.rejected = false;
    sides_[s.next].rejected = false;
    sides_[s.prev].rejected = false;
    sides_[sides_[s.prev].prev].rejected = false;
}

CornerCut EarRing::cutCorner(int side, bool fromMiddle)
{
    const Side& s = sides_[side];
    const glm::vec3 p0 = s.from, p1 = s.to, p2 = sides_[s.next].to;
    const int turn = orientation(p0, p1, p2);
    if (live_ == 3) {  // the last triangle
        if (turn != 0) fromMiddle ? emit(p1, p2, p0) : emit(p0, p1, p2);
        for (Side& each : sides_) each.alive = false;
        live_ = 0;
        return CornerCut::Clipped;
    }
    if (turn == 0) {  // a straight corner or a spike covers nothing
        mergeWithNext(side);
        return CornerCut::Dropped;
    }
    if (turn != turn_ || !isDiagonalClear(side)) {
        sides_[side].rejected = true;
        return CornerCut::Blocked;
    }
    fromMiddle ? emit(p1, p2, p0) : emit(p0, p1, p2);
    mergeWithNext(side);
    return CornerCut::Clipped;
}

// Inserts the side after every side that is not lower, as an ordered multiset
// would; a linear walk stays defined although the vote ordering is not transitive.
void insertByHeight(std::vector<int>& order, const EarRing& ring, int side)
{
    const QvSegment segment = ring.segment(side);
    auto at = std::find_if(order.begin(), order.end(),
                           [&](int other) { return segment.opCmp(ring.segment(other)) > 0; });
    order.insert(at, side);
}

// Runs `pass` (true when it cut or dropped a corner) until the polygon is
// used up. A cut can also unblock a corner far from it, whose diagonal only
// the removed sides crossed; so when a pass finds nothing, the kept verdicts
// are dropped and one fresh pass decides whether the polygon is finished.
template <class Pass>
void cutUntilDone(EarRing& ring, Pass pass)
{
    bool fresh = false;
    while (ring.liveSides() >= 3) {
        if (pass()) {
            fresh = false;
            continue;
        }
        if (fresh || !ring.forgetRejections()) break;  // not a simple polygon: keep what was cut
        fresh = true;
    }
}

// --- Hull helpers

// The lowest point, the leftmost of equally low ones: always a hull corner.
size_t lowestPoint(std::span<const glm::vec3> points)
{
    size_t best = 0;
    for (size_t i = 1; i < points.size(); ++i)
        if (points[i].y < points[best].y || (points[i].y == points[best].y && points[i].x < points[best].x))
            best = i;
    return best;
}

// q lies on the ray from `from` through `towards` (nearer or farther).
bool isOnSameRay(glm::vec3 from, glm::vec3 towards, glm::vec3 q)
{
    if (orientation(from, towards, q) != 0) return false;
    return (double(q.x) - from.x) * (double(towards.x) - from.x) +
               (double(q.y) - from.y) * (double(towards.y) - from.y) >
           0.0;
}

// q lies on the ray from `from` through `towards`, beyond it.
bool isFartherOnSameRay(glm::vec3 from, glm::vec3 towards, glm::vec3 q)
{
    return isOnSameRay(from, towards, q) && distanceSquaredXY(from, q) > distanceSquaredXY(from, towards);
}

// The angle at b between a and c, in the XY plane: the arc cosine of the
// normalised dot product, taken as atan2(|cross|, dot), which keeps its
// precision near 0 and pi where the cosine has none left.
double angleAt(glm::vec3 b, glm::vec3 a, glm::vec3 c)
{
    const glm::dvec2 u{double(a.x) - b.x, double(a.y) - b.y}, v{double(c.x) - b.x, double(c.y) - b.y};
    return std::atan2(std::abs(u.x * v.y - u.y * v.x), glm::dot(u, v));
}

void printStepCounters(size_t count, size_t totalCount)
{
    fmt::print("\x1b[01;37m count = {}, totalCount = {} \x1b[0m \n", count, totalCount);
}

// Gift wrapping from the lowest point: next(at, from) gives the hull point
// after `at` (null when there is none), `from` being the point before `at`
// (null at the start). Stops back at the start or after one step per point,
// and returns the wrap closed by the start.
template <class Next>
std::vector<glm::vec3> wrapFromLowest(std::span<const glm::vec3> points, Next next)
{
    const glm::vec3 start = points[lowestPoint(points)];
    std::vector<glm::vec3> wrapped{start};
    for (size_t steps = 0; steps <= points.size(); ++steps) {
        const glm::vec3* following =
            next(wrapped.back(), wrapped.size() > 1 ? &wrapped[wrapped.size() - 2] : nullptr);
        if (following == nullptr) break;  // every point is the start
        wrapped.push_back(*following);
        if (sameXY(*following, start)) break;
    }
    if (wrapped.size() == 1 || !sameXY(wrapped.back(), start)) wrapped.push_back(start);
    return wrapped;
}

}  // namespace

void appendTriangle(glm::vec3 a, glm::vec3 b, glm::vec3 c, std::vector<glm::vec3>& vertices,
                    std::vector<std::uint32_t>& indices, int& count)
{
    vertices.insert(vertices.end(), {a, b, c});
    indices.insert(indices.end(), {std::uint32_t(count), std::uint32_t(count + 1), std::uint32_t(count + 2)});
    count += 3;
}

// --- Predicates

bool findSegmentIntersectionRBT(QvSegment a, QvSegment b)
{
    return findSegmentIntersection(a.p1, a.p2, b.p1, b.p2);
}

bool isSegmentIntersection(QvEdge a, QvEdge b)
{
    return findSegmentIntersection(a.p1, a.p2, b.p1, b.p2);
}

bool isPointInsidePolygonRBT(glm::vec3 p, QvSegment s, std::span<const QvSegment> all)
{
    return isInsideSides(nudgedTowards(p, s.p2.y), all);
}

bool isPointInsidePolygonEdge(glm::vec3 p, QvEdge s, std::span<const QvEdge> all)
{
    return isInsideSides(nudgedTowards(p, s.p2.y), all);
}

bool isLineIntersectAnyQvSegmentRBT(QvSegment s, QvSegment, std::span<const QvSegment> all)
{
    return touchesAnySide(s, all);
}

bool isLineIntersectAnyQvEdge(QvEdge s, QvEdge, std::span<const QvEdge> all)
{
    return touchesAnySide(s, all);
}

bool isSegmentSameQvSegment(QvSegment s, std::span<const QvSegment> all)
{
    return containsEitherWay(s, all);
}

bool isEdgeSameQvEdge(QvEdge s, std::span<const QvEdge> all)
{
    return containsEitherWay(s, all);
}

bool isEdgeCollinear(QvEdge a, QvEdge b)
{
    return isSegmentCollinear(a, b);
}

bool isEdgeCollinearAny(QvEdge s, QvEdge r, std::span<const QvEdge> all)
{
    const float shift = s.p2.y < r.p2.y ? -collinearShift : collinearShift;
    s.p1.y += shift;
    s.p2.y += shift;
    for (const QvEdge& e : all) {
        if (joinSamePoints(e, s)) return false;
        if (isEdgeCollinear(e, s)) return true;
    }
    return false;
}

int computeTurn(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    return qvplane::computeTurn(a, b, c);
}

// --- Triangulations

void triangulateByTDBE(std::span<const glm::vec3> polygon, std::vector<glm::vec3>& vertices,
                       std::vector<std::uint32_t>& indices, int& count)
{
    EarRing ring(polygon, vertices, indices, count);
    std::vector<int> order;  // live sides, highest first
    for (int side = 0; side < ring.sideCount() && ring.liveSides() > 0; ++side)
        insertByHeight(order, ring, side);

    auto cut = [&](int side, bool fromMiddle) {
        const int merged = ring.next(side);
        if (ring.cutCorner(side, fromMiddle) == CornerCut::Blocked) return false;
        std::erase(order, merged);
        std::erase(order, side);
        if (ring.isAlive(side)) insertByHeight(order, ring, side);
        return true;
    };
    cutUntilDone(ring, [&] {
        for (const int a : order) {
            // Side A with the side after it (corner at A's end), else with the
            // side before it (corner at A's start).
            const int before = ring.previous(a);
            if ((!ring.wasRejected(a) && cut(a, false)) || (!ring.wasRejected(before) && cut(before, true)))
                return true;
        }
        return false;
    });
}

void triangulateBySPAR(std::span<const glm::vec3> polygon, std::vector<glm::vec3>& vertices,
                       std::vector<std::uint32_t>& indices, int& count)
{
    EarRing ring(polygon, vertices, indices, count);
    int head = 0;  // the first side of the list
    cutUntilDone(ring, [&] {
        int side = head;
        for (int step = ring.liveSides(); step > 0; --step, side = ring.next(side)) {
            const bool wasLast = ring.next(side) == head;
            if (ring.wasRejected(side) || ring.cutCorner(side, false) == CornerCut::Blocked) continue;
            if (wasLast) head = side;  // the merged side took the first side's place
            return true;
        }
        return false;
    });
}

// --- Convex hulls
// They judge turns by their exact sign: with a tolerance, the turns of a
// nearly straight set contradict one another and the wrap loses its way.

int CGPoint::grahamComparator(const CGPoint& p, const CGPoint& q)
{
    const double cross = crossXY(pivot, p.point, q.point);
    if (cross == 0.0) {
        return distanceSquaredXY(pivot, q.point) <= distanceSquaredXY(pivot, p.point) ? 1 : -1;
    }
    turnedLeft = cross > 0.0;
    return turnedLeft ? 1 : -1;
}

int CGPoint::opCmp(const CGPoint& other)
{
    return grahamComparator(*this, other);
}

int CGPoint::computeTurn(glm::vec3 p, glm::vec3 q) const
{
    return qvplane::computeTurn(p, q, pivot);
}

void createConvexHull(std::span<const glm::vec3> points, std::vector<glm::vec3>& hull)
{
    if (points.empty()) return;
    const size_t n = points.size();
    const glm::vec3 start = points[lowestPoint(points)];
    hull.push_back(start);
    fmt::print("\x1b[01;38m v[minIndex] = {} \x1b[0m \n", qvPointText(start));

    // Every point is tested against every other as seen from start; the
    // number of points that come before it counterclockwise is its rank.
    std::vector<std::pair<size_t, size_t>> ranked;  // (rank, index)
    std::vector<std::string> texts;                 // each point's text, made once for its 2n lines
    for (const glm::vec3& point : points) texts.push_back(qvPointText(point));
    size_t tests = 0;
    for (size_t i = 0; i < n; ++i) {
        fmt::print("\x1b[01;31m >>>>> \x1b[0m \n");
        const glm::vec3 a = points[i];
        if (sameXY(a, start)) continue;
        size_t rank = 0;
        for (size_t j = 0; j < n; ++j) {
            fmt::print("\x1b[01;37m\t+++ \x1b[0m \n");
            const glm::vec3 b = points[j];
            const int turn = orientation(start, a, b);
            fmt::print("\x1b[01;37m v[i] = {}, v[j] = {}, turn = {} \x1b[0m \n", texts[i], texts[j],
                       float(turn));
            ++tests;
            if (j == i || sameXY(b, start)) continue;
            // b comes first when it turns right of start -> a, or lies on that ray nearer.
            const double toB = distanceSquaredXY(start, b), toA = distanceSquaredXY(start, a);
            if (turn == -1 || (turn == 0 && (toB < toA || (toB == toA && j < i)))) ++rank;
        }
        ranked.emplace_back(rank, i);
    }
    std::sort(ranked.begin(), ranked.end());

    // Walk counterclockwise and keep only left turns.
    std::vector<glm::vec3> chain{start};
    for (const auto& [rank, i] : ranked) {
        while (chain.size() >= 2 && orientation(chain[chain.size() - 2], chain.back(), points[i]) != 1)
            chain.pop_back();
        chain.push_back(points[i]);
    }
    hull.insert(hull.end(), chain.begin() + 1, chain.end());
    hull.push_back(start);
    printStepCounters(chain.size(), tests);
    for (const glm::vec3& point : hull) fmt::print("\x1b[01;34m {} \x1b[0m \n", qvPointText(point));
}

void createGrahamConvexHull(std::span<const glm::vec3> points, std::vector<glm::vec3>& hull)
{
    if (points.empty()) return;
    const glm::vec3 pivot = points[lowestPoint(points)];
    std::list<CGPoint> sorted;
    for (const glm::vec3& point : points) sorted.push_back({point, pivot, false});
    fmt::print("\x1b[01;37m minValue = {}, minIndex = {} \x1b[0m \n", pivot.y, qvPointText(pivot));

    // A list's merge sort stays in bounds even where the tolerance makes the
    // order inconsistent for nearly collinear points.
    size_t comparisons = 0;
    sorted.sort([&](CGPoint a, const CGPoint& b) {
        ++comparisons;
        return a.opCmp(b) < 0;
    });
    std::vector<CGPoint> records(sorted.begin(), sorted.end());
    records.front().turnedLeft = true;

    // Clockwise walk keeping right turns; the pivot is never popped.
    std::vector<CGPoint> stack{records.front()};
    for (size_t i = 1; i < records.size(); ++i) {
        while (stack.size() >= 2 &&
               orientation(stack[stack.size() - 2].point, stack.back().point, records[i].point) != -1)
            stack.pop_back();
        stack.push_back(records[i]);
    }
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) hull.push_back(it->point);
    hull.push_back(stack.back().point);
    printStepCounters(stack.size(), comparisons);
}

void createJarvisWithACosConvexHull(std::span<const glm::vec3> points, std::vector<glm::vec3>& hull)
{
    if (points.empty()) return;
    size_t tests = 0;
    // The point with the best angle score seen from `at`, other than `at`
    // itself: at the start the direction closest to -x, then always the
    // widest angle at `at`. On one ray from `at` the farthest point wins.
    hull = wrapFromLowest(points, [&](glm::vec3 at, const glm::vec3* from) {
        const glm::vec3* best = nullptr;
        double bestScore = -std::numeric_limits<double>::infinity();
        for (const glm::vec3& q : points) {
            if (sameXY(q, at)) continue;
            ++tests;
            const double s = from ? angleAt(at, *from, q) : -angleAt(at, at - glm::vec3(1.0f, 0.0f, 0.0f), q);
            const bool wins = best == nullptr ||
                              (isOnSameRay(at, *best, q) ? isFartherOnSameRay(at, *best, q) : s > bestScore);
            if (wins) best = &q, bestScore = s;
        }
        return best;
    });
    printStepCounters(hull.size() - 1, tests);
}

void createJarvisConvexHull(std::span<const glm::vec3> points, std::vector<glm::vec3>& hull)
{
    if (points.empty()) return;
    size_t tests = 0;
    // The candidate ends with no point to its left; on one ray, the farthest.
    hull = wrapFromLowest(points, [&](glm::vec3 at, const glm::vec3*) {
        const glm::vec3* candidate = nullptr;
        for (const glm::vec3& q : points) {
            if (sameXY(q, at)) continue;
            ++tests;
            const int turn = candidate ? orientation(at, *candidate, q) : 1;
            if (turn == 1 || (turn == 0 && isFartherOnSameRay(at, *candidate, q))) candidate = &q;
        }
        return candidate;
    });
    fmt::print("count = {} totalCount = {}\n", hull.size() - 1, tests);
}

void whichIdInClockWiseTurn()
{
    fmt::print("\x1b[01;37m Point in right id = {} \x1b[0m \n", float(clockwiseDemoTurn));
}
