// qvcollision: the geometry behind the movement controllers' ground and
// frontal tests, as plain functions.
//
// The terrain lookup maps a position onto the landscape's grid of 200 x 200
// cells (two triangles a cell, 400 a row along x, rows along z, covering x
// -320..320 and z -200..200) and picks the few triangles around it; the ray
// tests find where a short ray from the moved object's box meets a triangle
// and what the surface there looks like. The controllers (qvmovement) apply
// the results to the object and the camera. No GL and no object state here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

namespace qvcollision {

// The landscape grid the island lookup expects.
constexpr float kGridHalfWidth = 320.0f;  // 400 triangles x 1.6 / 2
constexpr float kGridWidth = 640.0f;
constexpr float kGridHalfDepth = 200.0f;
constexpr float kGridDepth = 400.0f;
constexpr std::int64_t kTrianglesPerRow = 400;
constexpr std::int64_t kRows = 200;
constexpr std::int64_t kGridTriangles = kTrianglesPerRow * kRows;  // 80,000

// Farthest a ground hit may lie from the box corner, and a frontal hit.
constexpr float kGroundReach = 1.0f;
constexpr float kFrontReach = 0.2f;
// Normal z components in (1e-9, 1e-5) are taken as 0.
constexpr double kNormalZFloor = 1e-9;
constexpr double kNormalZCeiling = 1e-5;

// Index of the triangle under `position` in the grid's list, or nothing when
// the position lies outside the grid (beyond x +-320 or z +-200, so it never
// wraps into a neighbouring row) or is not a number.
std::optional<std::int64_t> islandIndex(glm::vec3 position);

// The indices around `index` in the grid's list, in test order: the 18 of the
// row below, its own row and the row above (two left to three right), or the
// 6 of its own row near the list's ends, or the one itself, or none. Never an
// index at or past `available` (the length of the list) or 80,000.
std::vector<std::int64_t> islandTriangles(std::int64_t index, std::size_t available);

// Length computed in extended precision, narrowed to float.
float length(glm::vec3 v);
// v / |v|, or v unchanged when |v| is 0.
glm::vec3 normalize(glm::vec3 v);

// The unit normal cross(v1 - v0, v2 - v0), its z zeroed when it is a tiny
// positive residue; zero for a degenerate triangle.
glm::vec3 surfaceNormal(glm::vec3 v0, glm::vec3 v1, glm::vec3 v2);

// The spin that stands an object flush on a surface of unit normal `normal`
// reached along `down`: it carries the object's up (-down) onto the normal
// turned to face back up the ray, whatever the triangle's winding, so a
// slight slope gives a slight tilt and level ground none. `spinAxis` and
// `angle` are that rotation (on level ground angle 0 about y, so nothing
// that is not a number); `axis` is cross(-normal, -down) of the normal as
// wound, zero on level ground, and serves as the object's nudge.
struct Tilt {
    float angle;
    glm::vec3 axis;
    glm::vec3 spinAxis;
};
Tilt tiltOnto(glm::vec3 normal, glm::vec3 down);

// Downhill tangent of a surface of unit normal `normal`: its length is the
// sine of the slope, zero on level ground.
glm::vec3 downhill(glm::vec3 normal);

// Where a ray meets a triangle, with the triangle's unit normal.
struct RayHit {
    glm::vec3 point;
    glm::vec3 normal;
};

// Two-sided ray test (hits behind the origin count) limited to `reach` from
// the origin: the ground test.
std::optional<RayHit> groundRay(glm::vec3 origin, glm::vec3 direction, glm::vec3 v0, glm::vec3 v1,
                                glm::vec3 v2, float reach);
// Forward-only ray test against the triangle's plane, limited to `reach`: the
// frontal test.
std::optional<RayHit> frontRay(glm::vec3 origin, glm::vec3 direction, glm::vec4 v0, glm::vec4 v1,
                               glm::vec4 v2, float reach);

// The first face normal of an object's normal segments (centroid, centroid +
// normal, ...) carried into world space by `model`, scaled as the object is;
// nothing when fewer than six floats are given.
std::optional<glm::vec3> probeDirection(const std::vector<float>& normalSegments, const glm::mat4& model);

}  // namespace qvcollision
