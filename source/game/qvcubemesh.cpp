// qvcubemesh: the tile's unit cube and its picking box.
#include "game/qvcubemesh.h"

namespace {

// x y z, u v, nx ny nz for each vertex, faces back, front, left, right,
// bottom, top.
// clang-format off
constexpr float kCube[qvCubeVertexCount * qvCubeFloatsPerVertex] = {
    // back
     0,  0, -1,  0,  0,  0,  0, -1,
     1,  1, -1,  1,  0,  0,  0, -1,
     1,  0, -1,  1,  1,  0,  0, -1,
     1,  1, -1,  1,  1,  0,  0, -1,
     0,  0, -1,  0,  1,  0,  0, -1,
     0,  1, -1,  0,  0,  0,  0, -1,
    // front
     0,  0,  0,  0,  0,  0,  0,  1,
     1,  0,  0,  1,  0,  0,  0,  1,
     1,  1,  0,  1,  1,  0,  0,  1,
     1,  1,  0,  1,  1,  0,  0,  1,
     0,  1,  0,  0,  1,  0,  0,  1,
     0,  0,  0,  0,  0,  0,  0,  1,
    // left
     0,  1,  0,  1,  1, -1,  0,  0,
     0,  1, -1,  0,  1, -1,  0,  0,
     0,  0, -1,  0,  0, -1,  0,  0,
     0,  0, -1,  0,  0, -1,  0,  0,
     0,  0,  0,  1,  0, -1,  0,  0,
     0,  1,  0,  1,  1, -1,  0,  0,
    // right
     1,  1, -1,  1,  1,  1,  0,  0,
     1,  1,  0,  0,  1,  1,  0,  0,
     1,  0, -1,  0,  0,  1,  0,  0,
     1,  0, -1,  0,  0,  1,  0,  0,
     1,  1,  0,  1,  0,  1,  0,  0,
     1,  0,  0,  1,  1,  1,  0,  0,
    // bottom
     0,  0, -1,  0,  1,  0, -1,  0,
     1,  0, -1,  1,  1,  0, -1,  0,
     1,  0,  0,  1,  0,  0, -1,  0,
     1,  0,  0,  1,  0,  0, -1,  0,
     0,  0,  0,  0,  0,  0, -1,  0,
     0,  0, -1,  0,  1,  0, -1,  0,
    // top
     0,  1, -1,  0,  1,  0,  1,  0,
     1,  1,  0,  1,  1,  0,  1,  0,
     1,  1, -1,  1,  0,  0,  1,  0,
     1,  1,  0,  1,  0,  0,  1,  0,
     0,  1, -1,  0,  0,  0,  1,  0,
     0,  1,  0,  0,  1,  0,  1,  0,
};
// clang-format on

}  // namespace

std::vector<float> qvCubeVertices()
{
    return {std::begin(kCube), std::end(kCube)};
}

std::vector<Triangle> qvCubeTriangles(const std::vector<float>& vertices)
{
    std::vector<Triangle> triangles;
    const std::size_t stride = qvCubeFloatsPerVertex;
    for (std::size_t v = 0; (v + 3) * stride <= vertices.size(); v += 3) {
        const auto corner = [&](std::size_t i) {
            const float* p = &vertices[(v + i) * stride];
            return glm::vec4(p[0], p[1], p[2], 1.0f);
        };
        triangles.push_back({corner(0), corner(1), corner(2)});
    }
    return triangles;
}

std::vector<float> qvCubeAABBVertices(const std::vector<float>& vertices)
{
    std::vector<float> pushed;
    const float m = qvCubePickingMargin;
    for (std::size_t i = 0; i + 3 <= vertices.size(); i += qvCubeFloatsPerVertex) {
        const float x = vertices[i], y = vertices[i + 1], z = vertices[i + 2];
        pushed.insert(pushed.end(), {x > 0 ? x + m : x - m, y > 0 ? y + m : y - m, z < 0 ? z - m : z + m});
    }
    return pushed;
}
