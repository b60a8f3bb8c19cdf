// qvviewcheck: whether a box can show anything in the camera's view. Only one
// monitor faces the camera at a time, and a long route costs real drawing
// time even when all of it falls outside the view, so the canvases skip the
// overlays of a box that this check rules out.
#pragma once

#include <cstddef>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>

// False only when every vertex of the interleaved list (positions x, y, z
// first in each run of `floatsPerVertex` floats) lies beyond one and the same
// plane of the view volume of clipFromModel (projection x view x model), so
// nothing of the box can be seen. A box that straddles a corner of the view
// may be kept although it is out of sight; that only costs a draw.
inline bool qvBoxMayBeInView(const glm::mat4& clipFromModel, const std::vector<float>& vertices,
                             std::size_t floatsPerVertex)
{
    if (floatsPerVertex < 3 || vertices.size() < floatsPerVertex) return true;
    // One bit per plane: -x, +x, -y, +y, near, far; a plane that keeps its
    // bit for every vertex has the whole box behind it.
    unsigned outsideAll = 0x3Fu;
    for (std::size_t i = 0; i + 2 < vertices.size(); i += floatsPerVertex) {
        const glm::vec4 p = clipFromModel * glm::vec4(vertices[i], vertices[i + 1], vertices[i + 2], 1.0f);
        unsigned outside = 0;
        if (p.x < -p.w) outside |= 0x01u;
        if (p.x > p.w) outside |= 0x02u;
        if (p.y < -p.w) outside |= 0x04u;
        if (p.y > p.w) outside |= 0x08u;
        if (p.z < -p.w) outside |= 0x10u;
        if (p.z > p.w) outside |= 0x20u;
        outsideAll &= outside;
        if (outsideAll == 0) return true;
    }
    return outsideAll == 0;
}
