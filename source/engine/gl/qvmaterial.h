// Small classes beside the material object: QvMaterial, a colour record sent
// in place of an object's own colour; Line, one coloured world-space segment
// with its own buffer, camera and program; Primitive, their empty base. Also
// the position-only vertex buffer that lines, boxes and the sky are drawn from.
#pragma once

#include <epoxy/gl.h>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include <limits>

#include "engine/gl/qvglobjects.h"

class Camera;
class QvShader;

// A vertex array with one buffer of `bytes` (null data: left undefined) whose
// positions are three floats per vertex, in place of what vao and vbo held;
// both are left unbound.
void qvMakePositionBuffer(QvVertexArray& vao, QvBuffer& vbo, GLsizeiptr bytes, const void* data,
                          GLenum usage);

class QvMaterial {
public:
    // Light terms in the layout of the light record; nothing fills or reads it.
    struct Light {
        glm::vec3 position{std::numeric_limits<float>::quiet_NaN()};
        glm::vec3 ambient{std::numeric_limits<float>::quiet_NaN()};
        glm::vec3 diffuse{std::numeric_limits<float>::quiet_NaN()};
        glm::vec3 specular{std::numeric_limits<float>::quiet_NaN()};
        bool operator==(const Light&) const = default;
    };

    QvMaterial() = default;
    explicit QvMaterial(glm::vec4 color) : color(color) {}
    virtual ~QvMaterial() = default;

    glm::vec4 color{std::numeric_limits<float>::quiet_NaN()};
};

class Primitive {
public:
    virtual ~Primitive() = default;
};

class Line : public Primitive {
public:
    // Green by default; the buffer is made at once, so a context must exist.
    Line(Camera& camera, QvShader& shader);

    virtual void setPosition(glm::vec3 start, glm::vec3 end);
    virtual void _initBuffers();
    // Draws the segment 3 pixels wide, then puts the line width back to 1.
    virtual void draw();

    glm::vec3 start{std::numeric_limits<float>::quiet_NaN()};
    glm::vec3 end{std::numeric_limits<float>::quiet_NaN()};
    glm::vec4 color{0.0f, 1.0f, 0.0f, 1.0f};
    Camera* camera;
    QvBuffer vbo;
    QvVertexArray vao;
    QvShader* shader;
};
