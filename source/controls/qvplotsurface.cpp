// qvplotsurface: overlay buffers and their incremental upload, the overlay
// draws, and the click handler the canvas and the landscape share.
#include "controls/qvplotsurface.h"

#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

#include <fmt/format.h>

#include <algorithm>

namespace {

constexpr std::size_t floatsPerVertex = 3;
constexpr std::size_t vertexBytes = floatsPerVertex * sizeof(float);
constexpr std::size_t cursorBytes = vertexBytes;

}  // namespace

// --- overlay layer -----------------------------------------------------------

void QvOverlayLayer::create(std::size_t capacity)
{
    capacityBytes = capacity;
    tracker.reset();
    vao = QvVertexArray::create();
    glBindVertexArray(vao.get());
    vbo = qvMakeBuffer(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(capacityBytes), nullptr, GL_DYNAMIC_DRAW);
    qvPointAttribute(QvAttribute::position, vbo, floatsPerVertex);
    glBindVertexArray(0);
}

void QvOverlayLayer::createOnFirstData(std::size_t capacity)
{
    deferredCapacityBytes = capacity;
}

std::size_t QvOverlayLayer::sync(const void* data, std::size_t bytes, std::uint64_t revision)
{
    if (!vbo && bytes > 0 && deferredCapacityBytes > 0) {
        create(deferredCapacityBytes);
    }
    if (!vbo) {
        return 0;
    }
    glBindBuffer(GL_ARRAY_BUFFER, vbo.get());
    if (bytes > capacityBytes) {
        // Same buffer name, so the vertex array still points at it; the new
        // storage starts empty and the plan below refills it from the list.
        capacityBytes = std::max(2 * capacityBytes, bytes);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(capacityBytes), nullptr, GL_DYNAMIC_DRAW);
        tracker.reset();
    }
    const QvUploadTracker::Plan plan = tracker.plan(bytes, revision);
    if (plan.bytes > 0) {
        glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(plan.offset),
                        static_cast<GLsizeiptr>(plan.bytes),
                        static_cast<const unsigned char*>(data) + plan.offset);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    tracker.sent(bytes, revision);
    return plan.bytes;
}

void QvOverlayLayer::draw(GLenum mode, std::size_t count) const
{
    if (!vao || count == 0) {
        return;
    }
    glBindVertexArray(vao.get());
    glDrawArrays(mode, 0, static_cast<GLsizei>(count));
    glBindVertexArray(0);
}

// --- surface -----------------------------------------------------------------

QvPlotSurface::QvPlotSurface(const std::string& name, Camera& camera, std::int64_t firstTransformId)
    : QvBoxControl(name, camera, firstTransformId)
{
    focused = false;
}

QvPlotSurface::~QvPlotSurface() = default;

void QvPlotSurface::setPointShader(QvShader* s)
{
    pointShader = s;
    lineShader = s;
}

void QvPlotSurface::setCirclePointShader(QvShader* s)
{
    circlePointShader = s;
}

void QvPlotSurface::handlerMouseButtonPress(QvMaterialObject* /*sender*/, QvMouseEventArgs* /*args*/)
{
    focused = true;
    addClickedPoint(glm::vec3(mouseVector));
}

void QvPlotSurface::handlerKeyPress(QvMaterialObject* sender, QvKeyboardEventArgs* args)
{
    fmt::print("Key Press on {}, key = {}\n", sender != nullptr ? sender->name : name,
               args != nullptr ? args->key : -1);
}

void QvPlotSurface::triangulationSPAR()
{
    if (triangulatePolygonSPAR()) {
        initBuffersForTriangles();
    }
}

void QvPlotSurface::triangulationTDBE()
{
    if (triangulatePolygonTDBE()) {
        initBuffersForTriangles();
    }
}

void QvPlotSurface::triangulationDeloneSIA()
{
    triangulateDelaunay();
    reportDelaunay();
    createOBJFile();
    saveToOBJFile();
    initBuffersForTriangles();
}

bool QvPlotSurface::saveToOBJFile()
{
    return writeOBJFile(name);
}

void QvPlotSurface::initBuffersForPoint()
{
    pointLayer.create(qvOverlayCapacityBytes);
}

void QvPlotSurface::initBuffersForCirclePoints()
{
    circleLayer.create(qvOverlayCapacityBytes);
}

void QvPlotSurface::initBuffersForLineStrip()
{
    lineLayer.create(qvOverlayCapacityBytes);
}

void QvPlotSurface::initBuffersForCursor()
{
    cursorLayer.create(cursorBytes);
}

void QvPlotSurface::initBuffersOnFirstData()
{
    pointLayer.createOnFirstData(qvOverlayCapacityBytes);
    circleLayer.createOnFirstData(qvOverlayCapacityBytes);
    lineLayer.createOnFirstData(qvOverlayCapacityBytes);
    cursorLayer.createOnFirstData(cursorBytes);
}

void QvPlotSurface::prepareLayer(QvShader& program, Camera& camera, float depth, glm::vec3 colour)
{
    program.useProgram();
    program.setUniform("projection", camera.getProjectionMatrix());
    program.setUniform("camera", camera.getCameraMatrix());
    program.setUniform("model", qvOverlayModel(transform->getMatrix(), depth));
    program.setUniform("backgroundColor", colour);
}

void QvPlotSurface::drawPoint(Camera& camera)
{
    if (pointShader == nullptr) {
        return;
    }
    prepareLayer(*pointShader, camera, qvOverlayPointDepth, backgroundColor);
    syncLayer(pointLayer, pointCoords);
    pointLayer.draw(GL_POINTS, pointCoords.size() / floatsPerVertex);
}

void QvPlotSurface::drawCircle(Camera& camera)
{
    if (circlePointShader == nullptr) {
        return;
    }
    prepareLayer(*circlePointShader, camera, qvOverlayLineDepth, backgroundColor);
    syncLayer(circleLayer, circleLines);
    circleLayer.draw(GL_POINTS, circleLines.size() / floatsPerVertex);
}

void QvPlotSurface::drawLineBestPractices(Camera& camera)
{
    if (lineShader == nullptr) {
        return;
    }
    prepareLayer(*lineShader, camera, qvOverlayLineDepth, backgroundColor);
    syncLayer(lineLayer, lineVertices);
    lineLayer.draw(GL_LINE_STRIP, lineVertices.size());
}

void QvPlotSurface::drawCursor(Camera& camera)
{
    // Before the route had a vertex there is no cursor to show.
    if (pointShader == nullptr || cursorCoords.size() < floatsPerVertex) {
        return;
    }
    prepareLayer(*pointShader, camera, qvOverlayPointDepth, backgroundColor);
    syncLayer(cursorLayer, cursorCoords);
    cursorLayer.draw(GL_POINTS, 1);
}
