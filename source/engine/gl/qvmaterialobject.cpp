// Material object: construction with its events, the wire-box and line
// buffers, uniform upload, colour states, box maintenance and picking.
#include "engine/gl/qvmaterialobject.h"

#include <algorithm>

#include "engine/core/qvcamera.h"
#include "engine/gl/qvmaterial.h"
#include "engine/core/qvpicking.h"
#include "engine/gl/qvshader.h"
#include "engine/core/qvtransform.h"
#include "engine/core/qvvectormath.h"

namespace {

constexpr float pressScale = 1.2f;  // a pressed object shrinks by this factor per axis
const glm::vec4 wireColor{0.5f, 0.5f, 0.7f, 1.0f};
const glm::vec4 normalColor{0.0f, 1.0f, 0.0f, 1.0f};
constexpr int floatsPerVertex = 3;
constexpr GLsizei boxVertexCount = 36;  // every control's box: 12 triangles
// The 26th and 27th box vertices span the box's local -z edge: its heading.
constexpr size_t headingFrom = 75, headingTo = 78;

glm::vec3 pointAt(const std::vector<float>& v, size_t i)
{
    return {v[i], v[i + 1], v[i + 2]};
}

// The per-axis scale a scaling matrix applies (what is actually drawn).
glm::vec3 diagonalOf(const glm::mat4& m)
{
    return {m[0][0], m[1][1], m[2][2]};
}

}  // namespace

QvMaterialObject::QvMaterialObject(const std::string& name)
    : name(name), onChar(std::make_unique<QvEvent<QvMaterialObject, QvCharEventArgs>>()),
      onKeyPress(std::make_unique<QvEvent<QvMaterialObject, QvKeyboardEventArgs>>()),
      onKeyDown(std::make_unique<QvEvent<QvMaterialObject, QvKeyboardEventArgs>>()),
      onKeyUp(std::make_unique<QvEvent<QvMaterialObject, QvKeyboardEventArgs>>()),
      onMouseButtonPress(std::make_unique<QvEvent<QvMaterialObject, QvMouseEventArgs>>()),
      onMouseButtonRelease(std::make_unique<QvEvent<QvMaterialObject, QvMouseEventArgs>>()),
      onCursorMove(std::make_unique<QvEvent<QvMaterialObject, QvCursorEventArgs>>()),
      onShader(std::make_unique<QvEvent<QvMaterialObject, QvShaderEventArgs>>()),
      onCameraPosition(std::make_unique<QvEvent<Camera, QvCameraPositionEventArgs>>()),
      ownObjectTree(std::make_unique<OakTree<QvTransform>>(transform->getParent()))
{
    objectTree = ownObjectTree.get();
    // Bound through the virtual operations, so a subclass's override runs.
    *onMouseButtonPress +=
        [this](QvMaterialObject* s, QvMouseEventArgs* a) { handlerMouseButtonPress(s, a); };
    *onMouseButtonRelease +=
        [this](QvMaterialObject* s, QvMouseEventArgs* a) { handlerMouseButtonRelease(s, a); };
    *onCursorMove += [this](QvMaterialObject* s, QvCursorEventArgs* a) { handlerMouseMove(s, a); };
    currentColor = color;
}

QvMaterialObject::QvMaterialObject() = default;

QvMaterialObject::~QvMaterialObject() = default;

void QvMaterialObject::setColor(glm::vec4 c)
{
    color = c;
    currentColor = c;
}

void QvMaterialObject::changeShaders(const std::string& vertex, const std::string& fragment)
{
    shader->prepareNewShaders(vertex, fragment);
}

void QvMaterialObject::setShaders(const std::string& vertex, const std::string& fragment)
{
    changeShaders(vertex, fragment);
}

void QvMaterialObject::loadShaders(const std::string& vertexPath, const std::string& fragmentPath)
{
    shader->loadFromFile(vertexPath, fragmentPath);
}

void QvMaterialObject::loadPickingShaders(const std::string& vertexPath, const std::string& fragmentPath)
{
    pickingShader->loadFromFile(vertexPath, fragmentPath);
}

void QvMaterialObject::setPickingShader(const std::string& vertex, const std::string& fragment)
{
    pickingShader->prepareNewShaders(vertex, fragment);
}

// --- buffers and drawing -----------------------------------------------------

void QvMaterialObject::initBuffers()
{
    // An object without a box has no wire frame, only the line buffers.
    if (aabb) {
        const std::vector<float>& vertices = aabb->getBoxVertices();
        qvMakePositionBuffer(aabbVAO, aabbVBO, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)),
                             vertices.data(), GL_STATIC_DRAW);
        aabbVertexCount = static_cast<GLsizei>(vertices.size() / floatsPerVertex);
    } else {
        aabbVAO.reset();
        aabbVBO.reset();
        aabbVertexCount = 0;
    }
    initBuffersForLine();
}

void QvMaterialObject::initBuffersForLine()
{
    qvMakePositionBuffer(lineVAO, lineVBO, 2 * floatsPerVertex * sizeof(float), nullptr, GL_DYNAMIC_DRAW);
}

void QvMaterialObject::takeCameraMatrices(Camera& c)
{
    mcp.projection = c.getProjectionMatrix();
    mcp.camera = c.getCameraMatrix();
    mcp.cameraPosition = c.getPosition();
    mcp.inverseProjection = c.getInverseProjectionMatrix();
}

void QvMaterialObject::prepareOverlay(Camera& c, glm::vec4 overlayColor)
{
    shader->useProgram();
    takeCameraMatrices(c);
    // Sent as a material: the object keeps its own colour.
    _prepareUniforms(*shader, QvMaterial(overlayColor), transform->getMatrix());
}

void QvMaterialObject::endHover()
{
    if (hoverShown && !pressed) {
        currentColor = color;
    }
    hoverShown = false;
}

void QvMaterialObject::draw(Camera& c)
{
    // The world clears `hovered` before each cursor pass; an object it no
    // longer finds under the cursor shows its normal colour again.
    if (hoverShown && !hovered) {
        endHover();
    }
    if (!drawAABB || shader == nullptr) {
        return;
    }
    prepareOverlay(c, wireColor);
    drawAABBbox();
}

void QvMaterialObject::drawAABBbox()
{
    if (aabbVertexCount == 0) {
        return;  // no wire-box buffer: vertex array 0 would draw stale state
    }
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glBindVertexArray(aabbVAO.get());
    // Every control's box has 36 vertices; a shorter list is drawn as it is.
    glDrawArrays(GL_TRIANGLES, 0, std::min(boxVertexCount, aabbVertexCount));
    glBindVertexArray(0);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

void QvMaterialObject::drawLine(Camera& /*c*/, glm::vec3 from, glm::vec3 to)
{
    if (!lineVAO) {
        return;  // initBuffers has not run
    }
    const float points[] = {from.x, from.y, from.z, to.x, to.y, to.z};
    glBindVertexArray(lineVAO.get());
    glBindBuffer(GL_ARRAY_BUFFER, lineVBO.get());
    glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof points, points);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDrawArrays(GL_LINES, 0, 2);
    glBindVertexArray(0);
}

void QvMaterialObject::drawNormals(Camera& c)
{
    if (normals.size() < 2 * floatsPerVertex || shader == nullptr || !lineVAO) {
        return;
    }
    prepareOverlay(c, normalColor);
    for (size_t i = 0; i + 5 < normals.size(); i += 6) {
        drawLine(c, pointAt(normals, i), pointAt(normals, i + 3));
    }
}

void QvMaterialObject::updateShaderUniforms(Camera* sender, QvCameraPositionEventArgs* /*args*/)
{
    if (shader == nullptr || sender == nullptr) {
        return;
    }
    shader->useProgram();
    takeCameraMatrices(*sender);
    currentColor = color;
    _prepareUniforms(*shader, transform->getMatrix());
}

void QvMaterialObject::_prepareUniforms(QvShader& s, const glm::mat4& model)
{
    s.setUniform("model", model);
    s.setUniform("camera", mcp.camera);
    s.setUniform("projection", mcp.projection);
    if (light != nullptr) {
        s.setUniform("light.position", light->getPosition());
        s.setUniform("light.ambient", light->lightSpecs.ambient);
        s.setUniform("light.diffuse", light->lightSpecs.diffuse);
        s.setUniform("light.specular", light->lightSpecs.specular);
        s.setUniform("cameraPosition", mcp.cameraPosition);
    }
    s.setUniform("diffuseColor", currentColor);
}

void QvMaterialObject::_prepareUniforms(QvShader& s, const QvMaterial& m, const glm::mat4& model)
{
    const glm::vec4 objectColor = currentColor;
    currentColor = m.color;
    _prepareUniforms(s, model);
    currentColor = objectColor;
}

// --- box maintenance -----------------------------------------------------------

void QvMaterialObject::updateAABBbox()
{
    if (!aabb) {
        return;
    }
    aabb->previousDirection = aabb->direction;
    const std::vector<float>& v = aabb->getBoxVertices();
    const glm::mat4 model = transform->getMatrix();
    std::vector<float> moved;
    moved.reserve(v.size());
    for (size_t i = 0; i + 2 < v.size(); i += floatsPerVertex) {
        const glm::vec4 p = model * glm::vec4(pointAt(v, i), 1.0f);
        moved.insert(moved.end(), {p.x, p.y, p.z});
    }
    // A box list too short for the heading edge keeps its old heading.
    if (v.size() >= headingTo + floatsPerVertex) {
        aabb->direction = normaliseUnlessZero(pointAt(moved, headingFrom) - pointAt(moved, headingTo));
    }
    aabb->findMinMax(moved);
}

void QvMaterialObject::updateAABBboxNormals()
{
    if (!aabb) {
        return;
    }
    const std::vector<float>& v = aabb->getBoxVertices();
    for (size_t i = 0; i + 8 < v.size(); i += 9) {
        const glm::vec3 p0 = pointAt(v, i), p1 = pointAt(v, i + 3), p2 = pointAt(v, i + 6);
        const glm::vec3 c = findCentroid(p0, p1, p2);
        const glm::vec3 tip = c + normaliseUnlessZero(glm::cross(p1 - p0, p2 - p0));
        normals.insert(normals.end(), {c.x, c.y, c.z, tip.x, tip.y, tip.z});
    }
}

void QvMaterialObject::updateCollisionWithTriangles()
{
    if (!aabb) {
        return;
    }
    const glm::mat4 model = transform->getMatrix();
    for (Triangle& t : aabb->getBoxTriangles()) {
        t.vertexA = model * t.vertexA;
        t.vertexB = model * t.vertexB;
        t.vertexC = model * t.vertexC;
    }
}

// --- picking -----------------------------------------------------------------------

glm::vec3 QvMaterialObject::findCentroid(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    return qvpicking::findCentroid(a, b, c);
}

bool QvMaterialObject::rayVsPlane(glm::vec3 origin, glm::vec3& hit, glm::vec3 direction, glm::vec3 normal,
                                  float distance)
{
    return qvpicking::rayVsPlane(origin, hit, direction, normal, distance);
}

bool QvMaterialObject::barycentricTESTCULL(glm::vec3 origin, glm::vec3 direction, glm::vec3 p0, glm::vec3 p1,
                                           glm::vec3 p2, glm::vec3& hit)
{
    return qvpicking::barycentricTESTCULL(origin, direction, p0, p1, p2, hit);
}

bool QvMaterialObject::barycentric(glm::vec3 origin, glm::vec3 direction, glm::vec3 p0, glm::vec3 p1,
                                   glm::vec3 p2, glm::vec3& hit)
{
    return qvpicking::barycentric(origin, direction, p0, p1, p2, hit);
}

bool QvMaterialObject::barycentric3DForTriangles(glm::vec4 p0, glm::vec4 p1, glm::vec4 p2, glm::vec3 origin,
                                                 glm::vec3 direction, glm::vec3& hit)
{
    return qvpicking::barycentric3DForTriangles(p0, p1, p2, origin, direction, hit);
}

bool QvMaterialObject::barycentric3D(const glm::mat4& model, const glm::mat4& camera, glm::vec4 p0,
                                     glm::vec4 p1, glm::vec4 p2, glm::vec3 mouse)
{
    return qvpicking::barycentric3D(mcp.projection, model, camera, p0, p1, p2, glm::vec2(mouse.x, mouse.y));
}

bool QvMaterialObject::boxUnderPointer(glm::vec4 mouse)
{
    mouseVector = mouse;
    if (!aabb) {
        return false;
    }
    const glm::mat4 model = transform->getMatrix();
    const glm::mat4 camera = getCameraMatrix();
    for (const Triangle& t : aabb->getBoxTriangles()) {
        if (barycentric3D(model, camera, t.vertexA, t.vertexB, t.vertexC, glm::vec3(mouse))) {
            return true;
        }
    }
    return false;
}

bool QvMaterialObject::findIntersectsWithAABB(glm::vec4 mouse, QvMouseEventArgs* args)
{
    if (!boxUnderPointer(mouse)) {
        return false;
    }
    pressed = true;
    if (onMouseButtonPress) {
        onMouseButtonPress->opCall(this, args);
    }
    return true;
}

bool QvMaterialObject::findIntersectsWithAABBMouseMove(glm::vec4 mouse, QvCursorEventArgs* args)
{
    if (!boxUnderPointer(mouse)) {
        endHover();
        return false;
    }
    hovered = true;
    if (onCursorMove) {
        onCursorMove->opCall(this, args);
    }
    return true;
}

// --- mouse handlers -------------------------------------------------------------------

void QvMaterialObject::handlerMouseMove(QvMaterialObject* /*sender*/, QvCursorEventArgs* /*args*/)
{
    currentColor = hoverColor;
    hoverShown = true;
}

void QvMaterialObject::handlerMouseButtonPress(QvMaterialObject* /*sender*/, QvMouseEventArgs* /*args*/)
{
    currentColor = pressedColor;
    if (pressScaled) {
        return;  // a second press before the release does not shrink again
    }
    // The scaling matrix is what is drawn; the stored scaling vector may still
    // be (0, 0, 0) on a transform whose scaling was never set.
    scaleBeforePress = diagonalOf(transform->getScaling());
    pressScaled = true;
    const glm::vec3 shrunk = scaleBeforePress / pressScale;
    transform->setScaling(shrunk.x, shrunk.y, shrunk.z);
    transform->updateRelativeTransformation(transform->getParent());
}

void QvMaterialObject::handlerMouseButtonRelease(QvMaterialObject* /*sender*/, QvMouseEventArgs* /*args*/)
{
    currentColor = color;
    hoverShown = false;
    if (!pressScaled) {
        return;  // nothing was shrunk (e.g. a subclass press handler that does not)
    }
    pressScaled = false;
    transform->setScaling(scaleBeforePress.x, scaleBeforePress.y, scaleBeforePress.z);
    transform->updateRelativeTransformation(transform->getParent());
}
