// A box control for the material object tests: the 36-vertex box every
// control builds, its picking triangles and its 3 % larger wire box.
#pragma once

#include <epoxy/gl.h>

#include <array>
#include <memory>
#include <vector>

#include "engine/core/qvcamera.h"
#include "engine/gl/qvmaterial.h"
#include "engine/gl/qvmaterialobject.h"
#include "engine/gl/qvshader.h"
#include "engine/core/qvtransform.h"

namespace materialfixtures {

// Corner signs of the 36 box vertices: back, front, left, right, bottom, top.
constexpr std::array<std::array<int, 3>, 36> boxCorners = {{
    {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {1, 1, -1},  {-1, 1, -1}, {-1, -1, -1}, {-1, -1, 1},  {1, -1, 1},
    {1, 1, 1},    {1, 1, 1},   {-1, 1, 1}, {-1, -1, 1}, {-1, 1, 1},  {-1, 1, -1},  {-1, -1, -1}, {-1, -1, -1},
    {-1, -1, 1},  {-1, 1, 1},  {1, 1, 1},  {1, 1, -1},  {1, -1, -1}, {1, -1, -1},  {1, -1, 1},   {1, 1, 1},
    {-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {1, -1, 1},  {-1, -1, 1}, {-1, -1, -1}, {-1, 1, -1},  {1, 1, -1},
    {1, 1, 1},    {1, 1, 1},   {-1, 1, 1}, {-1, 1, -1},
}};

class TestBox : public QvMaterialObject {
public:
    using QvMaterialObject::QvMaterialObject;

    // The box, its picking triangles and its wire-box vertices; no GL.
    void build(float w, float h, float d)
    {
        positions.clear();
        for (const auto& c : boxCorners) {
            positions.insert(positions.end(), {c[0] * w / 2, c[1] * h / 2, c[2] * d / 2});
        }
        std::vector<Triangle> triangles;
        for (size_t i = 0; i < positions.size(); i += 9) {
            auto at = [&](size_t k) {
                return glm::vec4(positions[k], positions[k + 1], positions[k + 2], 1.0f);
            };
            triangles.push_back({at(i), at(i + 3), at(i + 6)});
        }
        aabb = std::make_unique<QvAABB>(triangles);
        std::vector<float> wire;
        for (const float p : positions) wire.push_back(p * 1.03f);
        aabb->addBoxVertices(wire);
    }
    // The base buffers, then the box itself.
    void initBuffers() override
    {
        QvMaterialObject::initBuffers();
        qvMakePositionBuffer(vao, vbo, static_cast<GLsizeiptr>(positions.size() * sizeof(float)),
                             positions.data(), GL_STATIC_DRAW);
        // A flat box: every vertex faces the viewer, as the front face does.
        glVertexAttrib3f(1, 0.0f, 0.0f, 1.0f);
    }
    // The base draw, then the filled box in the current colour, as a control draws.
    void draw(Camera& c) override
    {
        QvMaterialObject::draw(c);
        shader->useProgram();
        takeCameraMatrices(c);
        _prepareUniforms(*shader, transform->getMatrix());
        if (fill) {
            glBindVertexArray(vao.get());
            glDrawArrays(GL_TRIANGLES, 0, 36);
            glBindVertexArray(0);
        }
    }

    std::vector<float> positions;
    QvVertexArray vao;
    QvBuffer vbo;
    bool fill = true;
};

// A camera at (0, 0, 5) looking down -z with a 45 degree field of view.
inline std::unique_ptr<Camera> frontCamera(unsigned width, unsigned height,
                                           glm::vec3 position = {0.0f, 0.0f, 5.0f},
                                           glm::vec3 target = {0.0f, 0.0f, -1.0f})
{
    CameraData data;
    data.width = width;
    data.height = height;
    data.fov = 45.0f;
    data.position = position;
    data.target = target;
    data.up = {0.0f, 1.0f, 0.0f};
    data.lastX = width / 2.0f;
    data.lastY = height / 2.0f;
    auto camera = std::make_unique<Camera>(data);
    camera->lookAt();
    return camera;
}

}  // namespace materialfixtures
