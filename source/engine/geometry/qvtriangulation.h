// Polygon triangulations, convex hulls and the plane predicates they use.
//
// Output contract of every triangulation (also the Delaunay one): per
// triangle, three corner points are appended to `vertices`, the values
// count, count + 1, count + 2 to `indices`, and count grows by 3. Nothing is
// ever cleared: the caller empties the lists and zeroes count beforehand.
// All tests work in the XY plane; z is carried into the output.
#pragma once

#include "engine/geometry/qvtype.h"

#include <cstdint>
#include <span>
#include <vector>

// Appends one triangle under the output contract above.
void appendTriangle(glm::vec3 a, glm::vec3 b, glm::vec3 c, std::vector<glm::vec3>& vertices,
                    std::vector<std::uint32_t>& indices, int& count);

// --- Predicates (QvSegment twins serve the height-ordered cut, QvEdge twins the ear list)

// The closed segments meet; parallel ones never do.
bool findSegmentIntersectionRBT(QvSegment a, QvSegment b);
bool isSegmentIntersection(QvEdge a, QvEdge b);
// Even-odd test of p nudged 2e-5 vertically (towards s.p2's height) against
// the sides; half-open at corners, the ray reaches past every side.
bool isPointInsidePolygonRBT(glm::vec3 p, QvSegment s, std::span<const QvSegment> all);
bool isPointInsidePolygonEdge(glm::vec3 p, QvEdge s, std::span<const QvEdge> all);
// The whole of s meets a side anywhere other than at an end point they share.
// r is not read: callers name the side they are working on.
bool isLineIntersectAnyQvSegmentRBT(QvSegment s, QvSegment r, std::span<const QvSegment> all);
bool isLineIntersectAnyQvEdge(QvEdge s, QvEdge r, std::span<const QvEdge> all);
// Some element equals s in either direction.
bool isSegmentSameQvSegment(QvSegment s, std::span<const QvSegment> all);
bool isEdgeSameQvEdge(QvEdge s, std::span<const QvEdge> all);
// The XY directions are exactly parallel.
bool isEdgeCollinear(QvEdge a, QvEdge b);
// s moved 1e-5 vertically (away from r.p2's height) is parallel to an element
// listed before any copy of the moved s itself.
bool isEdgeCollinearAny(QvEdge s, QvEdge r, std::span<const QvEdge> all);
// +1 for a left (counterclockwise) turn a -> b -> c, -1 for a right turn, 0
// when the cross product's magnitude is at most 1e-9.
int computeTurn(glm::vec3 a, glm::vec3 b, glm::vec3 c);

// --- Polygon triangulations. polygon = corners in drawing order, normally
// closed by repeating the first point; an open chain is closed implicitly.
// Any simple polygon comes out completely covered, without overlaps.

// Cuts ears off the highest sides first (sides ordered by QvSegment::opCmp).
void triangulateByTDBE(std::span<const glm::vec3> polygon, std::vector<glm::vec3>& vertices,
                       std::vector<std::uint32_t>& indices, int& count);
// Cuts ears off in polygon order, restarting at the first side after each cut.
void triangulateBySPAR(std::span<const glm::vec3> polygon, std::vector<glm::vec3>& vertices,
                       std::vector<std::uint32_t>& indices, int& count);

// --- Convex hulls. The start is the lowest point (leftmost among the lowest).
// Each writes diagnostic lines to standard output; an empty point list
// changes nothing and prints nothing.

// A point of the Graham scan, ordered by its angle about the pivot.
struct CGPoint {
    glm::vec3 point = qvNaNPoint;
    glm::vec3 pivot = qvNaNPoint;
    bool turnedLeft = false;  // the last comparison found a left turn

    bool operator==(const CGPoint& other) const { return point == other.point; }
    // grahamComparator(*this, other).
    int opCmp(const CGPoint& other);
    // Clockwise about the pivot (largest angle first); on one ray the nearer
    // first, measured in the plane (exact turns, no tolerance).
    int grahamComparator(const CGPoint& p, const CGPoint& q);
    // Orientation of (p, q, pivot), as computeTurn.
    int computeTurn(glm::vec3 p, glm::vec3 q) const;
};

// Appends start, the hull counterclockwise, and start again.
void createConvexHull(std::span<const glm::vec3> points, std::vector<glm::vec3>& hull);
// Appends the hull counterclockwise from its last point, then that point again.
void createGrahamConvexHull(std::span<const glm::vec3> points, std::vector<glm::vec3>& hull);
// Replaces hull with start, the hull clockwise, and start again (chosen by angles).
void createJarvisWithACosConvexHull(std::span<const glm::vec3> points, std::vector<glm::vec3>& hull);
// Replaces hull with start, the hull clockwise, and start again (chosen by turns).
void createJarvisConvexHull(std::span<const glm::vec3> points, std::vector<glm::vec3>& hull);
// Prints the fixed diagnostic line "Point in right id = -1.4".
void whichIdInClockWiseTurn();
