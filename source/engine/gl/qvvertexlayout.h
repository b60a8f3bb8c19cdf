// Vertex set-up: buffers filled in one call and attributes pointed at them,
// so every drawable describes its vertices the same way.
#pragma once

#include <epoxy/gl.h>

#include <vector>

#include "engine/gl/qvattributes.h"
#include "engine/gl/qvglobjects.h"

// A new buffer bound to `target` holding `bytes` of `data` (null: undefined).
// An element buffer is recorded in the vertex array bound at the time.
QvBuffer qvMakeBuffer(GLenum target, GLsizeiptr bytes, const void* data, GLenum usage);

// Points `attribute` of the bound vertex array at `components` values of
// `type` per vertex in `buffer`, `stride` bytes apart (0: packed) from
// `offset`, and enables it. Integer types reach the shader unconverted.
void qvPointAttribute(QvAttribute attribute, const QvBuffer& buffer, GLint components, GLsizei stride = 0,
                      GLsizeiptr offset = 0, GLenum type = GL_FLOAT);

// A new static buffer of GLM float vectors, with `attribute` of the bound
// vertex array pointed at it.
template <typename Vector>
QvBuffer qvUploadAttribute(QvAttribute attribute, const std::vector<Vector>& values)
{
    QvBuffer buffer = qvMakeBuffer(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(values.size() * sizeof(Vector)),
                                   values.data(), GL_STATIC_DRAW);
    qvPointAttribute(attribute, buffer, Vector::length());
    return buffer;
}
