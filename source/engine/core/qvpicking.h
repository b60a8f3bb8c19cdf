// qvpicking: the geometric tests behind picking and collision.
//
// Pure functions, no GL and no state. The material object's picking
// operations are thin calls into them: the screen-space tests decide whether
// the pointer (in normalised device coordinates) lies inside a projected box
// triangle, and the ray tests serve the tile movement controller.
// Every test reports "no hit" for NaN input: an object that has never been
// drawn has NaN matrices and is never hit.
#pragma once

#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

namespace qvpicking {

// Below this |determinant| a ray counts as parallel to the triangle's plane.
constexpr double kParallelEpsilon = 1e-9;

// ((a + b + c) / 3), summed in the order a, b, c.
glm::vec3 findCentroid(glm::vec3 a, glm::vec3 b, glm::vec3 c);

// Ray against the plane normal . p = distance. Writes `hit` and returns true
// when the ray meets the plane at or ahead of its origin.
bool rayVsPlane(glm::vec3 origin, glm::vec3& hit, glm::vec3 direction, glm::vec3 normal, float distance);

// Ray against the triangle's plane, then point-in-triangle in 3D (w ignored).
// `hit` keeps the plane point even when the point lies outside the triangle.
bool barycentric3DForTriangles(glm::vec4 p0, glm::vec4 p1, glm::vec4 p2, glm::vec3 origin,
                               glm::vec3 direction, glm::vec3& hit);

// Two-sided ray-triangle test (Moller-Trumbore). Hits behind the origin count.
// Writes `hit` only on a hit.
bool barycentric(glm::vec3 origin, glm::vec3 direction, glm::vec3 p0, glm::vec3 p1, glm::vec3 p2,
                 glm::vec3& hit);

// One-sided form: only the front face (counter-clockwise seen from the origin)
// is hit; a parallel or back-facing triangle (det <= kParallelEpsilon) is not.
bool barycentricTESTCULL(glm::vec3 origin, glm::vec3 direction, glm::vec3 p0, glm::vec3 p1, glm::vec3 p2,
                         glm::vec3& hit);

// Screen space: is `mouse` (NDC x, y) inside the triangle projected by
// projection x camera x model? Edges and corners are inside. A triangle with a
// vertex at w <= 0 (at or behind the eye) is never hit, nor one that projects
// to a line or a point. The arguments follow the material object's
// barycentric3D(model, camera, ...), with its stored projection in front.
bool barycentric3D(const glm::mat4& projection, const glm::mat4& model, const glm::mat4& camera, glm::vec4 p0,
                   glm::vec4 p1, glm::vec4 p2, glm::vec2 mouse);

}  // namespace qvpicking
