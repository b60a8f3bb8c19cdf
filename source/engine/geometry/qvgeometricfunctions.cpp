// Plane predicates on directed edges (XY only, float arithmetic).
#include "engine/geometry/qvgeometricfunctions.h"

namespace {

constexpr float innerShift = 2.5f;           // isPointInsidePolygonNew probes above the point
constexpr float concaveProbeReach = 100.0f;  // half length of the vertical concavity probe
constexpr float concaveProbeOffset = 1e-5f;  // keeps that probe off the point's own corner
constexpr int concaveCrossings = 3;
constexpr double trimStart = 0.001;  // part of a segment tested against a list
constexpr double trimEnd = 0.999;

}  // namespace

bool findSegmentIntersection(glm::vec3 a1, glm::vec3 a2, glm::vec3 b1, glm::vec3 b2)
{
    const float d1x = a2.x - a1.x, d1y = a2.y - a1.y;
    const float d2x = b2.x - b1.x, d2y = b2.y - b1.y;
    const float ex = b1.x - a1.x, ey = b1.y - a1.y;
    const float det = d1y * d2x - d1x * d2y;
    // A zero determinant gives an infinite or NaN quotient, which fails the range test.
    const float s = (d2x * ey - d2y * ex) / det;
    const float t = (d1x * ey - d1y * ex) / det;
    return s >= 0.0f && s <= 1.0f && t >= 0.0f && t <= 1.0f;
}

bool findSegmentIntersection(QvEdge a, QvEdge b)
{
    return findSegmentIntersection(a.p1, a.p2, b.p1, b.p2);
}

bool isSegmentCollinear(QvEdge a, QvEdge b)
{
    const glm::vec3 da = a.directionalVector(), db = b.directionalVector();
    return da.x * db.y - da.y * db.x == 0.0f;
}

bool isSideCrossedByRay(glm::vec3 p, glm::vec3 a, glm::vec3 b)
{
    // Exactly one end strictly above the ray: a corner on the ray belongs to
    // the side that rises from it, a horizontal side to neither.
    if ((a.y > p.y) == (b.y > p.y)) return false;
    const double crossX = double(a.x) + (double(p.y) - a.y) * (double(b.x) - a.x) / (double(b.y) - a.y);
    return crossX >= p.x;
}

bool isPointInsidePolygon(glm::vec3 p, std::span<const QvEdge> polygon)
{
    return isInsideSides(p, polygon);
}

bool isPointInsidePolygonNew(glm::vec3 p, std::span<const QvEdge> polygon)
{
    return isPointInsidePolygon({p.x, p.y + innerShift, p.z}, polygon);
}

bool isLineIntersectConcavePart(glm::vec3 p, std::span<const QvEdge> polygon)
{
    const glm::vec3 low{p.x + concaveProbeOffset, p.y - concaveProbeReach, p.z};
    const glm::vec3 high{p.x + concaveProbeOffset, p.y + concaveProbeReach, p.z};
    int crossings = 0;
    for (const QvEdge& edge : polygon)
        if (findSegmentIntersection(edge.p1, edge.p2, low, high)) ++crossings;
    return crossings >= concaveCrossings;
}

bool isSegmentIntersectAnyQvEdge(QvEdge s, std::span<const QvEdge> list)
{
    const glm::vec3 d = s.directionalVector();
    const glm::vec3 from = glm::vec3(glm::dvec3(s.p1) + trimStart * glm::dvec3(d));
    const glm::vec3 to = glm::vec3(glm::dvec3(s.p1) + trimEnd * glm::dvec3(d));
    for (const QvEdge& edge : list) {
        if (joinSamePoints(edge, s)) return true;
        if (findSegmentIntersection(edge.p1, edge.p2, from, to)) return true;
    }
    return false;
}
