// Line drawing: the segment's buffer, its uniforms and its depth and stencil set-up.
#include "engine/gl/qvmaterial.h"

#include <glm/mat4x4.hpp>

#include "engine/core/qvcamera.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

namespace {

constexpr float lineWidth = 3.0f;
constexpr GLsizeiptr segmentBytes = 6 * sizeof(float);
constexpr GLint floatsPerVertex = 3;

}  // namespace

void qvMakePositionBuffer(QvVertexArray& vao, QvBuffer& vbo, GLsizeiptr bytes, const void* data, GLenum usage)
{
    vao = QvVertexArray::create();
    glBindVertexArray(vao.get());
    vbo = qvMakeBuffer(GL_ARRAY_BUFFER, bytes, data, usage);
    qvPointAttribute(QvAttribute::position, vbo, floatsPerVertex);
    glBindVertexArray(0);
}

Line::Line(Camera& camera, QvShader& shader) : camera(&camera), shader(&shader)
{
    _initBuffers();
}

void Line::setPosition(glm::vec3 from, glm::vec3 to)
{
    start = from;
    end = to;
}

void Line::_initBuffers()
{
    qvMakePositionBuffer(vao, vbo, segmentBytes, nullptr, GL_DYNAMIC_DRAW);
}

void Line::draw()
{
    shader->useProgram();
    shader->setUniform("projection", camera->getProjectionMatrix());
    shader->setUniform("camera", camera->getCameraMatrix());
    shader->setUniform("model", glm::mat4(1.0f));
    shader->setUniform("diffuseColor", color);

    glLineWidth(lineWidth);
    glDepthFunc(GL_LEQUAL);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glStencilFunc(GL_ALWAYS, 1, 0xFF);
    glStencilMask(0xFF);

    const float points[] = {start.x, start.y, start.z, end.x, end.y, end.z};
    glBindVertexArray(vao.get());
    glBindBuffer(GL_ARRAY_BUFFER, vbo.get());
    glBufferSubData(GL_ARRAY_BUFFER, 0, segmentBytes, points);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDrawArrays(GL_LINES, 0, 2);
    glBindVertexArray(0);
    glLineWidth(1.0f);
}
