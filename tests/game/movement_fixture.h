// Objects for the movement controllers' tests: a unit tile with its box and
// face normals, plain triangle objects, and a terrain laid out as the island
// lookup expects it (x -320..320, z -200..200, 400 triangles a row along x,
// rows along z) with a height field of our choosing. No GL: the moved object
// and the obstacles are bare material objects carrying collision data.
#pragma once

#include <glm/gtc/constants.hpp>
#include <glm/trigonometric.hpp>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/qvcontrolbox.h"
#include "controls/qvlandscapemodel.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvmaterialobject.h"

namespace movementtest {

constexpr float kTerrainSide = 400.0f;  // local square; x scaled by 1.6 to 640

inline CameraData cameraData()
{
    CameraData data;
    data.width = 1024;
    data.height = 768;
    data.fov = 45.0f;
    data.position = {0.0f, 0.0f, 5.0f};
    data.target = {0.0f, 0.0f, -1.0f};
    data.up = {0.0f, 1.0f, 0.0f};
    return data;
}

// A 1 x 1 x 1 box control's collision data, centred on the object's origin.
inline std::unique_ptr<QvMaterialObject> makeTile(glm::vec3 at)
{
    auto tile = std::make_unique<QvMaterialObject>("QvModel_Cube");
    tile->aabb = qvControlBoxAABB(qvControlBoxVertices(1.0f, 1.0f, 1.0f));
    tile->updateAABBboxNormals();
    tile->transform->translate(at, 1);
    tile->updateAABBbox();
    return tile;
}

inline std::unique_ptr<QvMaterialObject> makeTriangles(const std::string& name,
                                                       std::vector<Triangle> triangles)
{
    auto object = std::make_unique<QvMaterialObject>(name);
    object->aabb = std::make_unique<QvAABB>(std::move(triangles));
    return object;
}

// A horizontal square of side 2 x half at height y, wound so that its normal
// points down (as the terrain's do).
inline std::unique_ptr<QvMaterialObject> makeFloor(const std::string& name, float y, float half = 50.0f)
{
    const glm::vec4 a(-half, y, -half, 1), b(half, y, -half, 1), c(half, y, half, 1), d(-half, y, half, 1);
    return makeTriangles(name, {{a, b, c}, {a, c, d}});
}

// A square of side 10 through (0, y, 0) that rises towards +x by `degrees`,
// wound so that its normal points up or down.
inline std::unique_ptr<QvMaterialObject> makeSlope(const std::string& name, float y, float degrees,
                                                   bool normalUp)
{
    const float rise = std::tan(glm::radians(degrees)) * 5.0f;
    const glm::vec4 a(-5, y - rise, -5, 1), b(5, y + rise, -5, 1), c(5, y + rise, 5, 1),
        d(-5, y - rise, 5, 1);
    if (normalUp) return makeTriangles(name, {{a, c, b}, {a, d, c}});
    return makeTriangles(name, {{a, b, c}, {a, c, d}});
}

// The landscape's grid, its local heights (local z) set from world height
// `height`(world x, world z); placed by rotating the x-y plane onto x-z and
// stretching x by 1.6, so world y = -local z.
inline std::unique_ptr<QvMaterialObject> makeTerrain(const std::function<float(float, float)>& height)
{
    std::vector<glm::vec3> vertices, normals;
    std::vector<glm::vec2> uvs;
    std::vector<Triangle> triangles;
    qvGenerateLandscapeGrid(1024, 768, kTerrainSide, false, {vertices, normals, uvs}, triangles);
    for (Triangle& t : triangles) {
        for (glm::vec4* v : {&t.vertexA, &t.vertexB, &t.vertexC}) v->z = -height(v->x * 1.6f, v->y);
    }
    auto terrain = makeTriangles("QvModel_Landscape", std::move(triangles));
    terrain->transform->setScaling(1.6f, 1.0f, 1.0f);
    terrain->transform->rotate(glm::half_pi<float>(), 0.0f, 0.0f);
    return terrain;
}

}  // namespace movementtest
