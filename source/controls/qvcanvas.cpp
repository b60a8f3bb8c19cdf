// qvcanvas: the monitor's box, its overlay draw and the triangle layer.
#include "controls/qvcanvas.h"

#include "controls/qvcontrolbox.h"
#include "controls/qvviewcheck.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

#include <fmt/format.h>

#include <algorithm>

namespace {

constexpr std::size_t frontFaceFirst = 6, frontFaceEnd = 12;  // vertices of the face at z = +D/2
constexpr std::size_t texCoordFloat = 3;                      // u, v at floats 3 and 4 of a vertex
constexpr float faceLineWidth = 1.0f;
constexpr float routeLineWidth = 2.0f;
const glm::vec3 faceBackground{1.0f, 1.0f, 1.0f};
const glm::vec3 pointColor{1.0f, 0.0f, 0.0f};
const glm::vec3 circleColor{0.5f, 0.5f, 0.5f};
const glm::vec3 lineColor{0.1f, 0.2f, 0.9f};
const glm::vec3 cursorColor{0.9f, 0.2f, 0.1f};
const glm::vec3 missingNormal{0.0f, 0.0f, 1.0f};

}  // namespace

std::vector<float> qvCanvasBoxVertices(float width, float height, float depth)
{
    std::vector<float> vertices = qvControlBoxVertices(width, height, depth);
    for (std::size_t v = 0; v < qvBoxVertexCount; ++v) {
        if (v >= frontFaceFirst && v < frontFaceEnd) {
            continue;  // the front face maps the whole picture
        }
        for (std::size_t c = 0; c < 2; ++c) {
            float& coordinate = vertices[v * qvBoxFloatsPerVertex + texCoordFloat + c];
            if (coordinate == 1.0f) {
                coordinate = qvCanvasSideTexCoord;
            }
        }
    }
    return vertices;
}

QvCanvas::QvCanvas(const std::string& name, QvLight* light, Camera& camera)
    : QvCanvas(name, light, camera, nullptr)
{
}

QvCanvas::QvCanvas(const std::string& name, QvLight* /*light*/, Camera& camera, const QvTexture* face)
    : QvPlotSurface(name, camera, qvCanvasFirstTransformId), texture(face)
{
    if (texture == nullptr) {
        defaultTexture = textureLoader.loadTexture(qvCanvasDefaultTexture);
        texture = &defaultTexture;
    }
    fmt::print("\x1b[01;31m CREATING CANVAS {} \x1b[0m \n", name);
}

QvCanvas::~QvCanvas() = default;

void QvCanvas::setSize(float width, float height, float depth)
{
    size = {width, height, depth};
    buildBox(qvCanvasBoxVertices(width, height, depth));
    // Three 12 MB buffers a monitor were most of start-up's canvas cost,
    // though the info monitor never plots and the others wait for tracking.
    initBuffersOnFirstData();
}

void QvCanvas::drawFrame()
{
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture != nullptr ? texture->get() : 0);
    QvBoxControl::drawFrame();
    glBindTexture(GL_TEXTURE_2D, 0);
}

void QvCanvas::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    beginFrameUploads();
    const double now = camera.frameTime;
    takeCameraMatrices(camera);
    if (rotating) {
        transform->setRotation(0.0f, static_cast<float>(now - lastTime), 0.0f);
    }
    if (shader != nullptr) {
        shader->useProgram();
        _prepareUniforms(*shader, transform->getMatrix());
        glLineWidth(faceLineWidth);
        drawFrame();
    }
    backgroundColor = faceBackground;
    if (drawOverlay) {
        drawOverlayLayers(camera);
    }
    lastTime = now;
}

void QvCanvas::drawOverlayLayers(Camera& camera)
{
    // Out of view, a long route would cost its full drawing time for no
    // pixel: only the draws are skipped. The fields change as they would in
    // view, and the lists still go to the GPU (only what they gained), so
    // the layers are current when the canvas comes back into view.
    const bool seen =
        qvBoxMayBeInView(camera.getProjectionMatrix() * camera.getCameraMatrix() * transform->getMatrix(),
                         vertices, qvBoxFloatsPerVertex);
    currentColor = trianglesColor;
    if (seen) {
        glPolygonMode(GL_FRONT_AND_BACK, wireframe ? GL_LINE : GL_FILL);
        drawTriangles(camera);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }
    backgroundColor = pointColor;
    if (seen) {
        drawPoint(camera);
    } else {
        syncLayer(pointLayer, pointCoords);
    }
    backgroundColor = circleColor;
    if (seen) {
        drawCircle(camera);
    } else {
        syncLayer(circleLayer, circleLines);
    }
    backgroundColor = lineColor;
    if (seen) {
        glLineWidth(routeLineWidth);
        drawLineBestPractices(camera);
    } else {
        syncLayer(lineLayer, lineVertices);
    }
    if (!lineVertices.empty()) {
        // Set only when it moves, so an unchanged cursor is not sent again.
        const glm::vec3 last = lineVertices.back();
        if (cursorCoords.size() != 3 || cursorCoords[0] != last.x || cursorCoords[1] != last.y ||
            cursorCoords[2] != last.z) {
            cursorCoords.assign({last.x, last.y, last.z});
        }
    }
    backgroundColor = cursorColor;
    if (seen) {
        drawCursor(camera);
    }
}

void QvCanvas::drawTriangles(Camera& camera)
{
    // The face's program shows its texture, not a colour: the triangles take
    // the overlay's flat program, in trianglesColor.
    if (!trianglesVao || pointShader == nullptr) {
        return;
    }
    prepareLayer(*pointShader, camera, qvOverlayLineDepth, glm::vec3(trianglesColor));
    pointShader->setUniform("diffuseColor", trianglesColor);
    // Never more than the buffer holds, whatever the list has become since.
    const std::size_t count = std::min(triangleVertices.size(), uploadedTriangleVertices);
    if (count > 0) {
        glBindVertexArray(trianglesVao.get());
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(count));
        glBindVertexArray(0);
    }
}

void QvCanvas::initBuffersForTriangles()
{
    trianglesVao = QvVertexArray::create();
    glBindVertexArray(trianglesVao.get());
    trianglesVbo = qvUploadAttribute(QvAttribute::position, triangleVertices);
    trianglesEbo = qvMakeBuffer(GL_ELEMENT_ARRAY_BUFFER,
                                static_cast<GLsizeiptr>(triangleIndices.size() * sizeof(std::uint32_t)),
                                triangleIndices.data(), GL_STATIC_DRAW);
    // A polygon triangulation leaves the normals of an earlier Delaunay run
    // (or none): the buffer gets one per vertex all the same.
    std::vector<glm::vec3> normals = triangleNormals;
    if (normals.size() < triangleVertices.size()) {
        normals.resize(triangleVertices.size(), missingNormal);
    }
    normalsVbo = qvUploadAttribute(QvAttribute::normal, normals);
    glBindVertexArray(0);
    uploadedTriangleVertices = triangleVertices.size();
}

void QvCanvas::reportDelaunay()
{
    fmt::print("\x1b[01;31m triangleVertices.length: {} \x1b[0m \n", triangleVertices.size());
    fmt::print("\x1b[01;31m triangleNormals.length: {} \x1b[0m \n", triangleNormals.size());
}
