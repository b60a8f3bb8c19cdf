// qvcontrolbox: the box's vertex table and the collision data read from it.
#include "controls/qvcontrolbox.h"

#include <array>

namespace {

// One corner of the unit table: position signs (each half an extent), the
// texture coordinates and the face normal.
struct CornerRecord {
    float sx, sy, sz;
    float u, v;
    float nx, ny, nz;
};

// The box in buffer order. The texture coordinates differ from face to face
// and are part of the format: the canvas face and the tiles rely on them.
constexpr std::array<CornerRecord, qvBoxVertexCount> kBoxTable = {{
    // back (z = -D/2)
    {-1, -1, -1, 0, 0, 0, 0, -1},
    {+1, -1, -1, 1, 0, 0, 0, -1},
    {+1, +1, -1, 1, 1, 0, 0, -1},
    {+1, +1, -1, 1, 1, 0, 0, -1},
    {-1, +1, -1, 0, 1, 0, 0, -1},
    {-1, -1, -1, 0, 0, 0, 0, -1},
    // front (z = +D/2)
    {-1, -1, +1, 0, 0, 0, 0, 1},
    {+1, -1, +1, 1, 0, 0, 0, 1},
    {+1, +1, +1, 1, 1, 0, 0, 1},
    {+1, +1, +1, 1, 1, 0, 0, 1},
    {-1, +1, +1, 0, 1, 0, 0, 1},
    {-1, -1, +1, 0, 0, 0, 0, 1},
    // left (x = -W/2)
    {-1, +1, +1, 1, 1, -1, 0, 0},
    {-1, +1, -1, 0, 1, -1, 0, 0},
    {-1, -1, -1, 0, 0, -1, 0, 0},
    {-1, -1, -1, 0, 0, -1, 0, 0},
    {-1, -1, +1, 1, 0, -1, 0, 0},
    {-1, +1, +1, 1, 1, -1, 0, 0},
    // right (x = +W/2)
    {+1, +1, +1, 1, 1, 1, 0, 0},
    {+1, +1, -1, 0, 1, 1, 0, 0},
    {+1, -1, -1, 0, 0, 1, 0, 0},
    {+1, -1, -1, 0, 0, 1, 0, 0},
    {+1, -1, +1, 1, 0, 1, 0, 0},
    {+1, +1, +1, 1, 1, 1, 0, 0},
    // bottom (y = -H/2)
    {-1, -1, -1, 0, 1, 0, -1, 0},
    {+1, -1, -1, 1, 1, 0, -1, 0},
    {+1, -1, +1, 1, 0, 0, -1, 0},
    {+1, -1, +1, 1, 0, 0, -1, 0},
    {-1, -1, +1, 0, 0, 0, -1, 0},
    {-1, -1, -1, 0, 1, 0, -1, 0},
    // top (y = +H/2)
    {-1, +1, -1, 0, 1, 0, 1, 0},
    {+1, +1, -1, 1, 1, 0, 1, 0},
    {+1, +1, +1, 1, 0, 0, 1, 0},
    {+1, +1, +1, 1, 0, 0, 1, 0},
    {-1, +1, +1, 0, 0, 0, 1, 0},
    {-1, +1, -1, 0, 1, 0, 1, 0},
}};

constexpr std::size_t kCornersPerTriangle = 3;

}  // namespace

std::vector<float> qvControlBoxVertices(float width, float height, float depth)
{
    const float hx = width / 2.0f, hy = height / 2.0f, hz = depth / 2.0f;
    std::vector<float> vertices;
    vertices.reserve(qvBoxFloatCount);
    for (const CornerRecord& c : kBoxTable) {
        vertices.insert(vertices.end(), {c.sx * hx, c.sy * hy, c.sz * hz, c.u, c.v, c.nx, c.ny, c.nz});
    }
    return vertices;
}

std::vector<Triangle> qvControlBoxTriangles(const std::vector<float>& vertices)
{
    const std::size_t stride = qvBoxFloatsPerVertex;
    const std::size_t triangleFloats = kCornersPerTriangle * stride;
    std::vector<Triangle> triangles;
    triangles.reserve(vertices.size() / triangleFloats);
    auto corner = [&](std::size_t at) {
        return glm::vec4(vertices[at], vertices[at + 1], vertices[at + 2], 1.0f);
    };
    for (std::size_t i = 0; i + triangleFloats <= vertices.size(); i += triangleFloats) {
        triangles.push_back({corner(i), corner(i + stride), corner(i + 2 * stride)});
    }
    return triangles;
}

std::vector<float> qvControlBoxAABBVertices(const std::vector<float>& vertices)
{
    std::vector<float> grown;
    grown.reserve(vertices.size() / qvBoxFloatsPerVertex * 3);
    for (std::size_t i = 0; i + qvBoxFloatsPerVertex <= vertices.size(); i += qvBoxFloatsPerVertex) {
        grown.insert(grown.end(), {vertices[i] * qvPickingBoxGrowth, vertices[i + 1] * qvPickingBoxGrowth,
                                   vertices[i + 2] * qvPickingBoxGrowth});
    }
    return grown;
}

std::unique_ptr<QvAABB> qvControlBoxAABB(const std::vector<float>& vertices)
{
    auto box = std::make_unique<QvAABB>(qvControlBoxTriangles(vertices));
    box->addBoxVertices(qvControlBoxAABBVertices(vertices));
    return box;
}

std::vector<float> qvImageQuadVertices(float width, float height)
{
    const float w = width, h = height;
    return {
        0, 0, 0, 0,  //
        0, h, 0, 1,  //
        w, h, 1, 1,  //
        w, h, 1, 1,  //
        w, 0, 1, 0,  //
        0, 0, 0, 0,
    };
}

std::unique_ptr<QvAABB> qvImageQuadAABB(const std::vector<float>& quad)
{
    constexpr std::size_t stride = 4;
    auto corner = [&](std::size_t v) {
        return glm::vec4(quad[v * stride], quad[v * stride + 1], 0.0f, 1.0f);
    };
    std::vector<Triangle> triangles;
    std::vector<float> grown;
    for (std::size_t v = 0; v + 2 < quad.size() / stride; v += 3) {
        triangles.push_back({corner(v), corner(v + 1), corner(v + 2)});
    }
    for (std::size_t v = 0; v < quad.size() / stride; ++v) {
        grown.insert(grown.end(), {quad[v * stride] * qvPickingBoxGrowth,
                                   quad[v * stride + 1] * qvPickingBoxGrowth, 0.0f});
    }
    auto box = std::make_unique<QvAABB>(std::move(triangles));
    box->addBoxVertices(grown);
    return box;
}
