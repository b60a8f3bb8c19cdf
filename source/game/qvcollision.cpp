// qvcollision: terrain island lookup, ray tests and surface measures.
#include "game/qvcollision.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>

#include "engine/core/qvpicking.h"

namespace qvcollision {

namespace {

// Offsets of the 18-triangle island: two triangles left to three right in
// the row below, the own row and the row above.
constexpr std::int64_t kWideIsland[] = {-402, -401, -400, -399, -398, -397, -2,  -1,  0,
                                        1,    2,    3,    398,  399,  400,  401, 402, 403};
constexpr std::int64_t kRowIsland[] = {-2, -1, 0, 1, 2, 3};

// Offsets from `index` whose whole span [first, last] fits in (0, limit).
bool spanFits(std::int64_t index, std::int64_t first, std::int64_t last, std::int64_t limit)
{
    return index + first > 0 && index + last < limit;
}

}  // namespace

std::optional<std::int64_t> islandIndex(glm::vec3 position)
{
    const float column = ((position.x + kGridHalfWidth) * static_cast<float>(kTrianglesPerRow)) / kGridWidth;
    const float row = ((position.z + kGridHalfDepth) * static_cast<float>(kRows)) / kGridDepth;
    // Off the grid there is no ground: a column past the row's end would
    // otherwise land in the next row.
    if (!(column >= 0.0f && column < static_cast<float>(kTrianglesPerRow))) return std::nullopt;
    if (!(row >= 0.0f && row < static_cast<float>(kRows))) return std::nullopt;
    const auto wholeRow = static_cast<std::int64_t>(std::trunc(row));
    return static_cast<std::int64_t>(std::trunc(column)) +
           static_cast<std::int64_t>(
               std::trunc(static_cast<float>(wholeRow) * static_cast<float>(kTrianglesPerRow)));
}

std::vector<std::int64_t> islandTriangles(std::int64_t index, std::size_t available)
{
    const std::int64_t limit = std::min<std::int64_t>(kGridTriangles, static_cast<std::int64_t>(available));
    std::vector<std::int64_t> indices;
    if (spanFits(index, kWideIsland[0], kWideIsland[std::size(kWideIsland) - 1], limit)) {
        for (const std::int64_t k : kWideIsland) indices.push_back(index + k);
    } else if (spanFits(index, kRowIsland[0], kRowIsland[std::size(kRowIsland) - 1], limit)) {
        for (const std::int64_t k : kRowIsland) indices.push_back(index + k);
    } else if (index > 0 && index < limit) {
        indices.push_back(index);
    }
    return indices;
}

float length(glm::vec3 v)
{
    const long double x = v.x, y = v.y, z = v.z;
    return static_cast<float>(std::sqrt(x * x + y * y + z * z));
}

glm::vec3 normalize(glm::vec3 v)
{
    const float l = length(v);
    return l == 0.0f ? v : v / l;
}

glm::vec3 surfaceNormal(glm::vec3 v0, glm::vec3 v1, glm::vec3 v2)
{
    glm::vec3 n = glm::cross(v1 - v0, v2 - v0);
    if (static_cast<double>(n.z) > kNormalZFloor && n.z < kNormalZCeiling) n.z = 0.0f;
    return normalize(n);
}

Tilt tiltOnto(glm::vec3 normal, glm::vec3 down)
{
    const glm::vec3 nudge = glm::cross(-normal, -down);
    // Turning the normal itself onto the ray would stand the object on its
    // head on every surface whose normal faces up, and mirror its lean on the
    // others: the object's up goes to the side of the surface it came from.
    const glm::vec3 up = -down;
    const glm::vec3 facing = glm::dot(normal, up) < 0.0f ? -normal : normal;
    const glm::vec3 axis = glm::cross(up, facing);
    // Parallel vectors span no plane: a zero axis would spin into NaN.
    if (length(axis) == 0.0f) return {0.0f, nudge, glm::vec3(0.0f, 1.0f, 0.0f)};
    // The sine from the cross product keeps a slight slope's angle exact,
    // where the arc cosine of a cosine near 1 would round it away.
    return {static_cast<float>(std::atan2(static_cast<long double>(length(axis)),
                                          static_cast<long double>(glm::dot(facing, up)))),
            nudge, axis};
}

glm::vec3 downhill(glm::vec3 normal)
{
    const glm::vec3 up(0.0f, 1.0f, 0.0f);
    return glm::cross(-normal, glm::cross(-normal, up));
}

std::optional<RayHit> groundRay(glm::vec3 origin, glm::vec3 direction, glm::vec3 v0, glm::vec3 v1,
                                glm::vec3 v2, float reach)
{
    glm::vec3 hit;
    if (!qvpicking::barycentric(origin, direction, v0, v1, v2, hit)) return std::nullopt;
    if (!(length(hit - origin) <= reach)) return std::nullopt;
    return RayHit{hit, surfaceNormal(v0, v1, v2)};
}

std::optional<RayHit> frontRay(glm::vec3 origin, glm::vec3 direction, glm::vec4 v0, glm::vec4 v1,
                               glm::vec4 v2, float reach)
{
    glm::vec3 hit;
    if (!qvpicking::barycentric3DForTriangles(v0, v1, v2, origin, direction, hit)) return std::nullopt;
    if (!(length(hit - origin) <= reach)) return std::nullopt;
    return RayHit{hit, surfaceNormal(glm::vec3(v0), glm::vec3(v1), glm::vec3(v2))};
}

std::optional<glm::vec3> probeDirection(const std::vector<float>& normalSegments, const glm::mat4& model)
{
    if (normalSegments.size() < 6) return std::nullopt;
    const glm::vec4 from = model * glm::vec4(normalSegments[0], normalSegments[1], normalSegments[2], 1.0f);
    const glm::vec4 to = model * glm::vec4(normalSegments[3], normalSegments[4], normalSegments[5], 1.0f);
    return glm::vec3(to - from);
}

}  // namespace qvcollision
