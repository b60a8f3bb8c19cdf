// Vertex set-up shared by every drawable.
#include "engine/gl/qvvertexlayout.h"

QvBuffer qvMakeBuffer(GLenum target, GLsizeiptr bytes, const void* data, GLenum usage)
{
    QvBuffer buffer = QvBuffer::create();
    glBindBuffer(target, buffer.get());
    glBufferData(target, bytes, data, usage);
    return buffer;
}

void qvPointAttribute(QvAttribute attribute, const QvBuffer& buffer, GLint components, GLsizei stride,
                      GLsizeiptr offset, GLenum type)
{
    const GLuint location = qvLocation(attribute);
    const auto* start = reinterpret_cast<const void*>(offset);
    glBindBuffer(GL_ARRAY_BUFFER, buffer.get());
    if (type == GL_FLOAT) {
        glVertexAttribPointer(location, components, type, GL_FALSE, stride, start);
    } else {
        glVertexAttribIPointer(location, components, type, stride, start);
    }
    glEnableVertexAttribArray(location);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}
