// The base of everything drawn and picked: identity and name, size, shaders,
// the colour states of hover, press and release, the bounding box with its
// wire-frame and normal buffers, the light, the input events, and the picking
// operations (screen-space box test, ray tests) that call into qvpicking.
#pragma once

#include <epoxy/gl.h>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include <memory>
#include <string>
#include <vector>

#include "engine/core/qvboundingvolumes.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvevents.h"
#include "engine/core/qvobject.h"
#include "engine/gl/qvglobjects.h"

class Camera;
class Mesh;
class QvMaterial;
class QvShader;
class QvTransform;

class QvMaterialObject : public QvObject {
public:
    // The full object: events, its own transform tree, hover/press handlers.
    explicit QvMaterialObject(const std::string& name);
    // A bare object (no events, no tree, NaN colour) for lightweight glyphs;
    // it must not have its events fired.
    QvMaterialObject();
    ~QvMaterialObject() override;

    // --- identity and set-up ---------------------------------------------
    virtual bool opEquals(const QvMaterialObject& o) const { return id == o.id; }
    // -1 when this id is greater, else 1 (never 0, also for equal ids).
    virtual int opCmp(const QvMaterialObject& o) const { return id > o.id ? -1 : 1; }
    virtual void setObjectTree(OakTree<QvTransform>* tree) { objectTree = tree; }
    virtual void setId(int value) { id = value; }
    virtual void setColor(glm::vec4 c);
    virtual void addLight(QvLight* l) { light = l; }
    virtual void setShader(QvShader* s) { shader = s; }
    // Does a click give this object the keyboard? A read-only text box is
    // pressed like any control but leaves the keys to the scene.
    virtual bool takesFocus() const { return true; }
    // Forwarders to the existing shader objects (they never create one).
    virtual void changeShaders(const std::string& vertex, const std::string& fragment);
    virtual void setShaders(const std::string& vertex, const std::string& fragment);
    virtual void loadShaders(const std::string& vertexPath, const std::string& fragmentPath);
    virtual void loadPickingShaders(const std::string& vertexPath, const std::string& fragmentPath);
    virtual void setPickingShader(const std::string& vertex, const std::string& fragment);

    // --- buffers and drawing ---------------------------------------------
    // Wire-box buffers from aabb's vertices, then the line buffers; a rebuild
    // replaces the buffers of the previous one.
    virtual void initBuffers();
    virtual void initBuffersForLine();
    // Draws the wire box when drawAABB is set; subclasses call it first.
    virtual void draw(Camera& c);
    virtual void drawAABBbox();
    // One segment with the current program and uniforms.
    virtual void drawLine(Camera& c, glm::vec3 from, glm::vec3 to);
    // The segments of `normals` in green.
    virtual void drawNormals(Camera& c);
    // Handler shape of onCameraPosition: refresh matrices and send uniforms.
    virtual void updateShaderUniforms(Camera* sender, QvCameraPositionEventArgs* args);
    // model, camera, projection, the light terms and cameraPosition when a
    // light is set, then diffuseColor = currentColor (or the material's).
    virtual void _prepareUniforms(QvShader& s, const glm::mat4& model);
    virtual void _prepareUniforms(QvShader& s, const QvMaterial& m, const glm::mat4& model);

    // --- box maintenance -------------------------------------------------
    // World-space bounds and heading of the box under the model matrix.
    virtual void updateAABBbox();
    // Appends centroid and centroid + unit normal of every box triangle.
    virtual void updateAABBboxNormals();
    // Moves the picking triangles by the model matrix, in place.
    virtual void updateCollisionWithTriangles();

    // --- picking (pure tests from qvpicking) -----------------------------
    virtual glm::vec3 findCentroid(glm::vec3 a, glm::vec3 b, glm::vec3 c);
    virtual bool rayVsPlane(glm::vec3 origin, glm::vec3& hit, glm::vec3 direction, glm::vec3 normal,
                            float distance);
    virtual bool barycentricTESTCULL(glm::vec3 origin, glm::vec3 direction, glm::vec3 p0, glm::vec3 p1,
                                     glm::vec3 p2, glm::vec3& hit);
    virtual bool barycentric(glm::vec3 origin, glm::vec3 direction, glm::vec3 p0, glm::vec3 p1, glm::vec3 p2,
                             glm::vec3& hit);
    virtual bool barycentric3DForTriangles(glm::vec4 p0, glm::vec4 p1, glm::vec4 p2, glm::vec3 origin,
                                           glm::vec3 direction, glm::vec3& hit);
    // Is the pointer (NDC x, y of mouse) inside the triangle projected with
    // the stored projection, `camera` and `model`?
    virtual bool barycentric3D(const glm::mat4& model, const glm::mat4& camera, glm::vec4 p0, glm::vec4 p1,
                               glm::vec4 p2, glm::vec3 mouse);
    // Click test: on the first box triangle under the pointer, sets pressed
    // and fires onMouseButtonPress.
    virtual bool findIntersectsWithAABB(glm::vec4 mouse, QvMouseEventArgs* args);
    // Cursor test: on a hit sets hovered and fires onCursorMove; on a miss
    // the hover colour is taken back.
    virtual bool findIntersectsWithAABBMouseMove(glm::vec4 mouse, QvCursorEventArgs* args);

    // --- mouse handlers (subscribed by the named constructor) ------------
    virtual void handlerMouseMove(QvMaterialObject* sender, QvCursorEventArgs* args);
    // Pressed colour and shrink by 1/1.2 per axis.
    virtual void handlerMouseButtonPress(QvMaterialObject* sender, QvMouseEventArgs* args);
    // Normal colour and exactly the scale the press found.
    virtual void handlerMouseButtonRelease(QvMaterialObject* sender, QvMouseEventArgs* args);

    // --- fields ------------------------------------------------------------
    int id = 0;
    std::string name;
    QvDimension size;
    QvShader* shader = nullptr;  // not owned: programs belong to the scene
    QvShader* pickingShader = nullptr;
    QvBuffer aabbVBO;
    QvVertexArray aabbVAO;
    QvBuffer lineVBO;
    QvVertexArray lineVAO;
    std::vector<float> normals;                    // segment end points, appended by updateAABBboxNormals
    std::vector<float>& normalSegments = normals;  // the name the controls use
    glm::vec4 color{0.1058f, 0.7607f, 0.9803f, 1.0f};
    glm::vec4 hoverColor{0.2058f, 0.819f, 1.0f, 1.0f};
    glm::vec4 pressedColor{0.5058f, 0.79f, 1.0f, 1.0f};
    glm::vec4 focusColor{0.5f, 0.5f, 0.5f, 1.0f};  // box of a focused 2D edit box
    std::vector<Mesh*> meshes;                     // a loaded model's meshes, owned by the model
    std::vector<std::vector<glm::vec3>> meshTriangles;
    std::unique_ptr<QvAABB> aabb;  // made by each control from its picking triangles
    QvLight* light = nullptr;      // shared by every control given it
    int vertexStride = 0;
    double lastBarTime = 0.0;         // frame time of the last caret toggle
    double& blinkTime = lastBarTime;  // the name the edit boxes use
    bool selected = false;
    bool focused = false;
    bool hovered = false;
    bool drawAABB = false;
    bool optimized = false;
    bool pickable = false;
    bool pressed = false;
    glm::mat4 outlineModel = unsetMatrix();
    glm::vec4 mouseVector{std::numeric_limits<float>::quiet_NaN()};
    OakTree<QvTransform>* objectTree = nullptr;
    std::vector<QvMaterialObject*> children;
    std::vector<QvMaterialObject*> selection;
    // Objects a movement controller tests this one against; one list under
    // both the names the game code and the object model use.
    std::vector<QvMaterialObject*> collisionObjects;
    std::vector<QvMaterialObject*>& linkedObjects = collisionObjects;

    std::unique_ptr<QvEvent<QvMaterialObject, QvCharEventArgs>> onChar;
    std::unique_ptr<QvEvent<QvMaterialObject, QvKeyboardEventArgs>> onKeyPress;
    std::unique_ptr<QvEvent<QvMaterialObject, QvKeyboardEventArgs>> onKeyDown;
    std::unique_ptr<QvEvent<QvMaterialObject, QvKeyboardEventArgs>> onKeyUp;
    std::unique_ptr<QvEvent<QvMaterialObject, QvMouseEventArgs>> onMouseButtonPress;
    std::unique_ptr<QvEvent<QvMaterialObject, QvMouseEventArgs>> onMouseButtonRelease;
    std::unique_ptr<QvEvent<QvMaterialObject, QvCursorEventArgs>> onCursorMove;
    std::unique_ptr<QvEvent<QvMaterialObject, QvShaderEventArgs>> onShader;
    std::unique_ptr<QvEvent<Camera, QvCameraPositionEventArgs>> onCameraPosition;

    glm::vec4 currentColor{std::numeric_limits<float>::quiet_NaN()};  // sent as diffuseColor

protected:
    // Camera matrices and position into mcp, as every draw takes them.
    void takeCameraMatrices(Camera& c);
    // Program, camera and uniforms for a wire box or normals drawn in
    // `overlayColor`, leaving currentColor as it was.
    void prepareOverlay(Camera& c, glm::vec4 overlayColor);
    // Gives back the normal colour once the cursor has left (not while pressed).
    void endHover();

private:
    // Stores `mouse` in mouseVector; is it over one of the box's triangles,
    // projected with the matrices of the last draw?
    bool boxUnderPointer(glm::vec4 mouse);

    std::unique_ptr<OakTree<QvTransform>> ownObjectTree;
    GLsizei aabbVertexCount = 0;       // vertices in the wire-box buffer
    bool hoverShown = false;           // currentColor holds hoverColor from a cursor hit
    bool pressScaled = false;          // a press shrank the transform
    glm::vec3 scaleBeforePress{1.0f};  // the scaling the press found
};
