// qvboxcontrol: box upload and draw, collision data and the part transforms.
#include "controls/qvboxcontrol.h"

#include "controls/qvcontrolbox.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

void qvUploadControlBox(QvVertexArray& vao, QvBuffer& vbo, const std::vector<float>& vertices)
{
    vao = QvVertexArray::create();
    glBindVertexArray(vao.get());
    vbo = qvMakeBuffer(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)),
                       vertices.data(), GL_STATIC_DRAW);
    const GLsizei stride = qvBoxStride;
    qvPointAttribute(QvAttribute::position, vbo, 3, stride, 0);
    qvPointAttribute(QvAttribute::normal, vbo, 3, stride, qvBoxNormalOffset);
    qvPointAttribute(QvAttribute::texCoords, vbo, 2, stride, qvBoxTexCoordOffset);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
}

void qvDrawControlBox(const QvVertexArray& vao, int count)
{
    if (!vao || count <= 0) {
        return;
    }
    glBindVertexArray(vao.get());
    glDrawArrays(GL_TRIANGLES, 0, count);
    glBindVertexArray(0);
}

void qvSetControlStencil(int reference, unsigned mask)
{
    glDepthFunc(GL_LEQUAL);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glStencilFunc(GL_ALWAYS, reference, 0xFF);
    glStencilMask(mask);
}

QvBoxControl::QvBoxControl(const std::string& name, Camera& camera, std::int64_t firstTransformId)
    : QvMaterialObject(name), transformIdCounter(firstTransformId)
{
    mcp.camera = camera.getCameraMatrix();
}

QvBoxControl::~QvBoxControl() = default;

void QvBoxControl::setSize(float width, float height, float depth)
{
    size = {width, height, depth};
    buildBox(qvControlBoxVertices(width, height, depth));
}

void QvBoxControl::buildBox(std::vector<float> boxVertices)
{
    vertices = std::move(boxVertices);
    aabb = qvControlBoxAABB(vertices);
    initBuffers();
}

glm::vec3 QvBoxControl::drawnScaling() const
{
    const glm::mat4 m = transform->getScaling();
    return {m[0][0], m[1][1], m[2][2]};
}

void QvBoxControl::setDimension()
{
    const glm::vec3 s = drawnScaling();
    transform->setDimension({size.width * s.x, size.height * s.y, size.depth * s.z});
}

void QvBoxControl::initBuffers()
{
    QvMaterialObject::initBuffers();
    qvUploadControlBox(vao, vbo, vertices);
}

void QvBoxControl::drawFrame()
{
    qvDrawControlBox(vao, static_cast<int>(vertices.size() / qvBoxFloatsPerVertex));
}

QvTransform* QvBoxControl::createTransform(QvTransform* parent)
{
    auto made = std::make_unique<QvTransform>(parent);
    made->setId(transform->getId() + transformIdCounter);
    ++transformIdCounter;
    madeTransforms.push_back(std::move(made));
    return madeTransforms.back().get();
}

void QvBoxControl::prepareBoxDraw(Camera& camera)
{
    shader->useProgram();
    takeCameraMatrices(camera);
    _prepareUniforms(*shader, transform->getMatrix());
}
