// qvimage: the quad's buffers, its collision data and its draw.
#include "controls/qvimage.h"

#include "controls/qvboxcontrol.h"
#include "controls/qvcontrolbox.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

namespace {

constexpr GLsizeiptr kQuadBytes = qvImageQuadFloatCount * sizeof(float);
constexpr GLsizei kQuadVertexCount = 6;

}  // namespace

QvImage::QvImage(const std::string& name, const QvTexture* texture, Camera& camera)
    : QvMaterialObject(name), texture(texture)
{
    mcp.camera = camera.getCameraMatrix();
}

void QvImage::setSize(float width, float height, float depth)
{
    size = {width, height, depth};
    quad = qvImageQuadVertices(width, height);
    aabb = qvImageQuadAABB(quad);
}

void QvImage::setDimension()
{
    const glm::mat4 m = transform->getScaling();
    transform->setDimension({size.width * m[0][0], size.height * m[1][1], size.depth * m[2][2]});
}

void QvImage::initBuffers()
{
    vao = QvVertexArray::create();
    glBindVertexArray(vao.get());
    vbo = qvMakeBuffer(GL_ARRAY_BUFFER, kQuadBytes, nullptr, GL_DYNAMIC_DRAW);
    qvPointAttribute(QvAttribute::position, vbo, 4);  // (x, y, u, v) records
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
}

void QvImage::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    // Without its buffers vertex array 0 would draw whatever is bound.
    if (shader == nullptr || !vao || quad.size() != qvImageQuadFloatCount) {
        return;
    }
    shader->useProgram();
    takeCameraMatrices(camera);
    _prepareUniforms(*shader, transform->getMatrix());
    qvSetControlStencil(1, 0xFF);
    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(vao.get());
    glBindTexture(GL_TEXTURE_2D, texture != nullptr ? texture->get() : 0);
    glBindBuffer(GL_ARRAY_BUFFER, vbo.get());
    glBufferSubData(GL_ARRAY_BUFFER, 0, kQuadBytes, quad.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDrawArrays(GL_TRIANGLES, 0, kQuadVertexCount);
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
}
