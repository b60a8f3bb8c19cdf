// Delaunay triangulation of a point set by the advancing front: starting from
// one hull edge, each directed frontier edge takes the point to its right
// whose circle with the edge is smallest, until no edge finds a partner.
// triangulate() finds partners through a grid of cells over the points, so
// it reads only the points near each edge, and hands those to mate(), the
// plain search over all the points it is given. The two give the same
// triangles wherever mate()'s circle test decides every point of the set, as
// on clusters down to about a hundred-thousandth of the set's spread. Against
// the thin triangles of a cluster some million times smaller than its spread,
// far points fall within that test's rounding bound and count as on the
// circle, so mate() over all points can take them (overlapping triangles,
// points inside circles); the grid never hands it such far points and stays
// Delaunay there.
//
// triangulate() reorders the caller's points: the leftmost (then lowest)
// finite point is swapped to index 0. Points whose x or y is not finite are
// left out; the output is the triangulation of the others.
#pragma once

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "engine/geometry/qvtype.h"

#include <cstdint>
#include <set>
#include <span>
#include <vector>

// A directed edge of the frontier; the untriangulated side is on its right.
struct DE {
    glm::vec3 org = qvNaNPoint;
    glm::vec3 dest = qvNaNPoint;

    // Same XY end points in either direction.
    bool operator==(const DE& other) const;
    // org.x, org.y, dest.x, dest.y in turn: direction matters.
    int opCmp(const DE& other) const;
    bool operator<(const DE& other) const { return opCmp(other) < 0; }
    // Turns this edge into its perpendicular bisector, running from its left
    // side to its right side, and returns a copy.
    DE rotate();
    void flip();
    // Intersection of the two lines: 2 with t (along this edge, 0 at org, 1 at
    // dest) and the point p, or 1 when they are parallel (t and p untouched).
    int intersect(const DE& e, double& t, glm::dvec2& p) const;
};

using QvFrontier = std::set<DE>;

// Triangulates the points (fewer than three give nothing), appending under the
// shared output contract, three normals per triangle (facing +z) and the
// outline points of each triangle's circumcircle. Prints three diagnostic lines.
void triangulate(std::vector<glm::vec3>& points, std::vector<glm::vec3>& vertices,
                 std::vector<std::uint32_t>& indices, std::vector<glm::vec3>& normals, int& count,
                 std::vector<float>& circleLines);
// A first frontier edge on the convex hull of the finite points, with no
// point left of it or inside it; moves the leftmost finite point to index 0.
// Without two distinct finite points its ends coincide (NaN for none at all).
DE hullEdge(std::vector<glm::vec3>& points);
// The Delaunay partner of e on its right: p and circle = (centre x, centre y, radius).
bool mate(const DE& e, std::span<const glm::vec3> points, glm::vec3& p, glm::vec3& circle);
// Removes e from the frontier when there, else inserts e reversed.
void updateFrontier(QvFrontier& frontier, DE e);
// 0 when p lies more than 1e-9 left of org -> dest, 1 otherwise.
int classify(glm::vec2 org, glm::vec2 dest, glm::vec2 p);
// Orientation of three points: 0 within 1e-9, +1 left turn, -1 right turn.
int computeTurn(glm::vec2 a, glm::vec2 b, glm::vec2 c);
