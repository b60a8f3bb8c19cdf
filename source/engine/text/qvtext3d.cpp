// Glyph drawables: quad and mesh uploads, draws and the 3D picking box.
#include "engine/text/qvtext3d.h"

#include "engine/text/qvcharacter3d.h"
#include "engine/core/qvcamera.h"
#include "engine/text/qvfont2d.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"
#include "engine/core/qvtransform.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <span>
#include <utility>

namespace {

// Batched text samples the atlas; its size turns pixels into texture space.
constexpr float atlasExtent = static_cast<float>(QvFont2D::atlasSize);

// Depth of a 3D glyph's picking box (the front face lies at z 0).
constexpr float pickingBoxDepth = -100.0f;

constexpr GLsizei quadVertexCount = 6;

// Uploads strip indices into a new element buffer of the bound vertex array.
QvBuffer uploadIndices(const std::vector<uint32_t>& indices)
{
    return qvMakeBuffer(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(uint32_t)),
                        indices.data(), GL_DYNAMIC_DRAW);
}

// Draws one face: its strips joined by the restart index.
void drawStrips(const QvVertexArray& vao, size_t indexCount)
{
    glBindVertexArray(vao.get());
    glEnable(GL_PRIMITIVE_RESTART);
    glPrimitiveRestartIndex(Character3D::restartIndex);
    glDrawElements(GL_TRIANGLE_STRIP, static_cast<GLsizei>(indexCount), GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
}

glm::mat4 matrixOf(const QvTransform* transform)
{
    return transform ? transform->getMatrix() : glm::mat4(1.0f);
}

}  // namespace

std::array<float, 24> qvGlyphQuadVertices(const Character2D& glyph, float scale)
{
    // Only the extent is scaled; the corner keeps the unscaled bearing.
    const float x = glyph.bearing.x;
    const float y0 = glyph.bearing.y - glyph.size.y;
    const float w = glyph.size.x * scale;
    const float h = glyph.size.y * scale;
    return {
        x,     y0,     0.0f, 1.0f,  //
        x,     y0 + h, 0.0f, 0.0f,  //
        x + w, y0 + h, 1.0f, 0.0f,  //
        x + w, y0 + h, 1.0f, 0.0f,  //
        x + w, y0,     1.0f, 1.0f,  //
        x,     y0,     0.0f, 1.0f,
    };
}

std::array<float, 36> qvGlyphAtlasVertices(const Character2D& glyph, const glm::mat4& model)
{
    const float left = glyph.bearing.x;
    const float right = glyph.bearing.x + glyph.size.x;
    const float top = glyph.bearing.y;
    const float bottom = glyph.bearing.y - glyph.size.y;
    const float u0 = glyph.atlasRect.x / atlasExtent;
    const float v0 = glyph.atlasRect.y / atlasExtent;
    const float u1 = glyph.atlasRect.z / atlasExtent;
    const float v1 = glyph.atlasRect.w / atlasExtent;
    const std::array<glm::vec4, 6> corners = {
        glm::vec4(left, bottom, u0, v1), glm::vec4(left, top, u0, v0),     glm::vec4(right, top, u1, v0),
        glm::vec4(right, top, u1, v0),   glm::vec4(right, bottom, u1, v1), glm::vec4(left, bottom, u0, v1),
    };
    std::array<float, 36> result{};
    for (size_t i = 0; i < corners.size(); ++i) {
        const glm::vec4 placed = model * glm::vec4(corners[i].x, corners[i].y, 0.0f, 1.0f);
        float* record = result.data() + i * 6;
        record[0] = placed.x;
        record[1] = placed.y;
        record[2] = placed.z;
        record[3] = placed.w;
        record[4] = corners[i].z;
        record[5] = corners[i].w;
    }
    return result;
}

// ------------------------------------------------------------- QvGlyphQuad

// A quad never uploaded holds no names, so glyph objects can be made and
// dropped without a context.
void QvGlyphQuad::_uploadQuad()
{
    VAO.reset();
    VBO.reset();
    if (glyph == nullptr) {
        return;
    }
    const std::array<float, 24> vertices = qvGlyphQuadVertices(*glyph, scale);
    VAO = QvVertexArray::create();
    glBindVertexArray(VAO.get());
    VBO = qvMakeBuffer(GL_ARRAY_BUFFER, sizeof(vertices), vertices.data(), GL_STATIC_DRAW);
    qvPointAttribute(QvAttribute::position, VBO, 4);  // (x, y, u, v) records
    glBindVertexArray(0);
}

void QvGlyphQuad::_drawQuad() const
{
    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(VAO.get());
    glBindTexture(GL_TEXTURE_2D, glyph->texture);
    glDrawArrays(GL_TRIANGLES, 0, quadVertexCount);
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// ---------------------------------------------------------------- QvChar2D

QvChar2D::QvChar2D(const Character2D* glyph) : QvGlyphQuad(glyph) {}

QvChar2D::QvChar2D(const std::string& /*name*/, const Character2D* glyph) : QvGlyphQuad(glyph) {}

void QvChar2D::setTransform(QvTransform* t)
{
    transform = t;
}

void QvChar2D::initBuffers()
{
    _uploadQuad();
}

void QvChar2D::draw(QvShader& shader, bool /*flag*/, Camera& camera, glm::vec4 colour)
{
    if (glyph == nullptr || !VAO) {
        return;
    }
    shader.useProgram();
    shader.setUniform("model", matrixOf(transform));
    shader.setUniform("camera", camera.getCameraMatrix());
    shader.setUniform("projection", camera.getProjectionMatrix());
    shader.setUniform("diffuseColor", colour);
    _drawQuad();
}

std::array<float, 36> QvChar2D::getVertices() const
{
    return glyph ? qvGlyphAtlasVertices(*glyph, matrixOf(transform)) : std::array<float, 36>{};
}

// ------------------------------------------------------------ QvCharacter2D

QvCharacter2D::QvCharacter2D(const std::string& name, const Character2D* glyph)
    : QvMaterialObject(name), QvGlyphQuad(glyph)
{
}

QvCharacter2D::QvCharacter2D(const Character2D* glyph) : QvGlyphQuad(glyph) {}

void QvCharacter2D::initBuffers()
{
    _uploadQuad();
}

void QvCharacter2D::draw(QvShader& shader, bool /*flag*/, Camera& camera, glm::vec4 colour)
{
    if (glyph == nullptr || !VAO) {
        return;
    }
    shader.useProgram();
    takeCameraMatrices(camera);
    currentColor = colour;
    _prepareUniforms(shader, transform->getMatrix());
    _drawQuad();
}

std::array<float, 36> QvCharacter2D::getVertices() const
{
    return glyph ? qvGlyphAtlasVertices(*glyph, transform->getMatrix()) : std::array<float, 36>{};
}

// ------------------------------------------------------------ QvCharacter3D

QvCharacter3D::QvCharacter3D(const std::string& name, const Character3D& glyph)
    : QvMaterialObject(name), glyph(&glyph)
{
    fillFrontTriangleArray();
    fillBackTriangleArray();
    fillExtrudedTriangleArray();
    findConstraintPoints();
}

void QvCharacter3D::_appendStripTriangles(std::span<const glm::vec3> strip)
{
    for (size_t i = 2; i < strip.size(); ++i) {
        meshTriangles.push_back({strip[i - 2], strip[i - 1], strip[i]});
    }
}

// A triple that spans two strips is no triangle of the glyph.
void QvCharacter3D::_appendFaceTriangles(const std::vector<glm::vec3>& vertices)
{
    for (const std::vector<glm::vec3>& strip : glyph->faceStrips(vertices)) {
        _appendStripTriangles(strip);
    }
}

void QvCharacter3D::fillFrontTriangleArray()
{
    _appendFaceTriangles(glyph->frontVertices);
}

void QvCharacter3D::fillBackTriangleArray()
{
    _appendFaceTriangles(glyph->backVertices);
}

// One wall strip per contour, laid end to end in the glyph's wallStrip.
void QvCharacter3D::fillExtrudedTriangleArray()
{
    const std::span<const glm::vec3> walls(glyph->wallStrip);
    size_t first = 0;
    for (const Contour& contour : glyph->contours) {
        const size_t count = std::min(contour.wallStrip.size(), walls.size() - first);
        _appendStripTriangles(walls.subspan(first, count));
        first += count;
    }
}

void QvCharacter3D::findConstraintPoints()
{
    // The box hugs the outline: grown from the glyph's first point, so an
    // accent high above the baseline is not stretched down to fixed bounds.
    // A glyph without points (the space) gets no box and cannot be picked.
    glm::vec3 low, high;
    if (!glyph->outlineBounds(low, high)) {
        boxCoordinates.clear();
        makeAABBbox(boxCoordinates);
        return;
    }
    minX = low.x;
    maxX = high.x;
    minY = low.y;
    maxY = high.y;
    makeCoordinates();
}

void QvCharacter3D::makeCoordinates()
{
    const float x0 = minX, x1 = maxX, y0 = minY, y1 = maxY;
    const float front = 0.0f, back = pickingBoxDepth;
    const glm::vec3 corners[36] = {
        // front
        {x0, y0, front},
        {x1, y0, front},
        {x1, y1, front},
        {x1, y1, front},
        {x0, y1, front},
        {x0, y0, front},
        // back
        {x0, y0, back},
        {x1, y0, back},
        {x1, y1, back},
        {x1, y1, back},
        {x0, y1, back},
        {x0, y0, back},
        // x = x0
        {x0, y0, back},
        {x0, y0, front},
        {x0, y1, front},
        {x0, y1, front},
        {x0, y1, back},
        {x0, y0, back},
        // x = x1
        {x1, y0, front},
        {x1, y0, back},
        {x1, y1, back},
        {x1, y1, back},
        {x1, y1, front},
        {x1, y0, front},
        // y = y1
        {x0, y1, front},
        {x1, y1, front},
        {x1, y1, back},
        {x1, y1, back},
        {x0, y1, back},
        {x0, y1, front},
        // y = y0
        {x0, y0, front},
        {x1, y0, front},
        {x1, y0, back},
        {x1, y0, back},
        {x0, y0, back},
        {x0, y0, front},
    };
    boxCoordinates.clear();
    for (const glm::vec3& corner : corners) {
        boxCoordinates.insert(boxCoordinates.end(), {corner.x, corner.y, corner.z});
    }
    makeAABBbox(boxCoordinates);
}

void QvCharacter3D::makeAABBbox(const std::vector<float>& coordinates)
{
    std::vector<Triangle> triangles;
    for (size_t i = 0; i + 8 < coordinates.size(); i += 9) {
        const float* c = coordinates.data() + i;
        triangles.push_back({glm::vec4(c[0], c[1], c[2], 1.0f), glm::vec4(c[3], c[4], c[5], 1.0f),
                             glm::vec4(c[6], c[7], c[8], 1.0f)});
    }
    aabb = std::make_unique<QvAABB>(std::move(triangles));
    aabb->addBoxVertices(coordinates);
}

bool QvCharacter3D::opEquals(const QvCharacter3D& other) const
{
    return orderKey.x == other.orderKey.x && orderKey.y == other.orderKey.y;
}

int QvCharacter3D::opCmp(const QvCharacter3D& other) const
{
    if (orderKey.y > other.orderKey.y) {
        return -1;
    }
    if (orderKey.y == other.orderKey.y && other.orderKey.x > orderKey.x) {
        return -1;
    }
    return 1;  // smaller y, NaN on either side, or x not smaller
}

// Every owner below is assigned afresh, so a rebuild releases the previous names.
void QvCharacter3D::initBuffers()
{
    QvMaterialObject::initBuffers();

    outlineVAO = QvVertexArray::create();
    glBindVertexArray(outlineVAO.get());
    outlineVBO = qvUploadAttribute(QvAttribute::position, glyph->outlinePoints);
    glBindVertexArray(0);

    frontVAO = QvVertexArray::create();
    glBindVertexArray(frontVAO.get());
    frontVBO = qvUploadAttribute(QvAttribute::position, glyph->frontVertices);
    frontEBO = uploadIndices(glyph->stripIndices);
    frontNormalsVBO = qvUploadAttribute(QvAttribute::normal, glyph->frontNormals);
    texCoordsVBO = qvUploadAttribute(QvAttribute::texCoords, glyph->frontTexCoords);
    glBindVertexArray(0);

    // The back face shares the front's strip indices and its texture
    // coordinates: its texCoords attribute reads the front's texCoordsVBO.
    backVAO = QvVertexArray::create();
    glBindVertexArray(backVAO.get());
    backVBO = qvUploadAttribute(QvAttribute::position, glyph->backVertices);
    backEBO = uploadIndices(glyph->stripIndices);
    backNormalsVBO = qvUploadAttribute(QvAttribute::normal, glyph->backNormals);
    qvPointAttribute(QvAttribute::texCoords, texCoordsVBO, glm::vec2::length());
    glBindVertexArray(0);

    // All walls in one buffer: positions, then normals, then texture coordinates.
    const GLsizeiptr stripBytes = static_cast<GLsizeiptr>(glyph->wallStrip.size() * sizeof(glm::vec3));
    const GLsizeiptr normalBytes = static_cast<GLsizeiptr>(glyph->wallNormals.size() * sizeof(glm::vec3));
    const GLsizeiptr texCoordBytes = static_cast<GLsizeiptr>(glyph->wallTexCoords.size() * sizeof(glm::vec2));
    wallsVAO = QvVertexArray::create();
    glBindVertexArray(wallsVAO.get());
    wallsVBO =
        qvMakeBuffer(GL_ARRAY_BUFFER, stripBytes + normalBytes + texCoordBytes, nullptr, GL_STATIC_DRAW);
    glBufferSubData(GL_ARRAY_BUFFER, 0, stripBytes, glyph->wallStrip.data());
    glBufferSubData(GL_ARRAY_BUFFER, stripBytes, normalBytes, glyph->wallNormals.data());
    glBufferSubData(GL_ARRAY_BUFFER, stripBytes + normalBytes, texCoordBytes, glyph->wallTexCoords.data());
    qvPointAttribute(QvAttribute::position, wallsVBO, glm::vec3::length());
    qvPointAttribute(QvAttribute::normal, wallsVBO, glm::vec3::length(), 0, stripBytes);
    qvPointAttribute(QvAttribute::texCoords, wallsVBO, glm::vec2::length(), 0, stripBytes + normalBytes);
    glBindVertexArray(0);
}

void QvCharacter3D::draw(QvShader& shader, bool /*flag*/, Camera& camera, glm::vec4 colour)
{
    // A glyph without a box has no wire frame to show.
    if (!boxCoordinates.empty()) {
        QvMaterialObject::draw(camera);
    }
    if (!frontVAO) {
        return;
    }
    shader.useProgram();
    takeCameraMatrices(camera);
    currentColor = colour;
    // The camera matrices go to the program too: a program that no other
    // object has set them on would otherwise draw the glyph nowhere.
    shader.setUniform("model", transform->getMatrix());
    shader.setUniform("camera", mcp.camera);
    shader.setUniform("projection", mcp.projection);
    shader.setUniform("diffuseColor", currentColor);
    drawFrontFace();
    drawBackFace();
    drawExtrudedFaces();
}

void QvCharacter3D::drawFrontFace()
{
    drawStrips(frontVAO, glyph->stripIndices.size());
}

void QvCharacter3D::drawBackFace()
{
    drawStrips(backVAO, glyph->stripIndices.size());
}

void QvCharacter3D::drawExtrudedFaces()
{
    glBindVertexArray(wallsVAO.get());
    GLint first = 0;
    for (const Contour& contour : glyph->contours) {
        const auto count = static_cast<GLsizei>(contour.wallStrip.size());
        glDrawArrays(GL_TRIANGLE_STRIP, first, count);
        first += count;
    }
    glBindVertexArray(0);
}
