// Plane predicates on directed edges, used by the glyph-face triangulator:
// segment against segment, point in polygon by ray casting, a segment against
// a whole edge list. Only x and y are read; z is carried along.
#pragma once

#include "engine/geometry/qvtype.h"

#include <span>

// The closed segments a1-a2 and b1-b2 meet. Parallel segments (collinear ones
// included) never meet under this test.
bool findSegmentIntersection(glm::vec3 a1, glm::vec3 a2, glm::vec3 b1, glm::vec3 b2);
bool findSegmentIntersection(QvEdge a, QvEdge b);

// The XY directions of a and b are exactly parallel.
bool isSegmentCollinear(QvEdge a, QvEdge b);

// The ray from p towards +x crosses the side a-b. Half-open at the ends, so a
// ray through a shared corner counts that corner once; the ray is unbounded.
bool isSideCrossedByRay(glm::vec3 p, glm::vec3 a, glm::vec3 b);

// The two sides join the same two points, either way round.
template <class A, class B>
bool joinSamePoints(const A& a, const B& b)
{
    return (a.p1 == b.p1 && a.p2 == b.p2) || (a.p1 == b.p2 && a.p2 == b.p1);
}

// Even-odd count of the sides (any record with ends p1 and p2) that the ray
// from p towards +x crosses.
template <class Side>
bool isInsideSides(glm::vec3 p, std::span<const Side> sides)
{
    bool inside = false;
    for (const Side& side : sides)
        if (isSideCrossedByRay(p, side.p1, side.p2)) inside = !inside;
    return inside;
}

// Even-odd test of p against the edges (ray towards +x).
bool isPointInsidePolygon(glm::vec3 p, std::span<const QvEdge> polygon);
// The same test for the point 2.5 units above p.
bool isPointInsidePolygonNew(glm::vec3 p, std::span<const QvEdge> polygon);
// A vertical probe 100 units up and down from just right of p crosses at
// least three edges.
bool isLineIntersectConcavePart(glm::vec3 p, std::span<const QvEdge> polygon);
// s is in the list (either way round) or its middle (0.1 % to 99.9 %) meets
// a listed edge.
bool isSegmentIntersectAnyQvEdge(QvEdge s, std::span<const QvEdge> list);
