// qvboxcontrol: the shared base of every box control (panel, label, button,
// switch, the edit boxes, canvas and landscape).
//
// It owns the box's vertex array and buffer, keeps the 288 floats after upload
// (picking and the bounding box are read from them) and hands out transform
// ids for the parts a control places below its own transform. A second
// setSize replaces the GL objects; the owners delete the previous ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvmaterialobject.h"

class Camera;
class QvTransform;

// Uploads an interleaved box list (8 floats a vertex) into a new vertex array
// and buffer, replacing what they held: attribute 0 position, 1 normal, 2
// texture coordinates, stride 32.
void qvUploadControlBox(QvVertexArray& vao, QvBuffer& vbo, const std::vector<float>& vertices);
// Draws `count` vertices of the box's vertex array as triangles; nothing
// before the upload (vertex array 0 would draw whatever is bound).
void qvDrawControlBox(const QvVertexArray& vao, int count);
// Depth and stencil set-up of the box controls: depth LEQUAL, stencil
// (KEEP, KEEP, REPLACE), function ALWAYS with `reference`, write mask `mask`.
void qvSetControlStencil(int reference, unsigned mask);

class QvBoxControl : public QvMaterialObject {
public:
    // The camera matrix is taken once; the camera itself is not kept.
    QvBoxControl(const std::string& name, Camera& camera, std::int64_t firstTransformId);
    ~QvBoxControl() override;

    // Builds the box of (width, height, depth): vertices, collision triangles,
    // the picking box 3 % larger, then initBuffers.
    virtual void setSize(float width, float height, float depth);
    // The transform's dimension = size x the transform's scaling.
    virtual void setDimension();
    // The scaling the transform's matrix applies. A new transform's stored
    // scaling vector is (0, 0, 0) under an identity matrix; read as it is, a
    // creator that never called setScaling would get collapsed text.
    glm::vec3 drawnScaling() const;
    // The base's wire-box buffers, then the box's own.
    void initBuffers() override;
    // The box alone, 36 vertices with the current program and uniforms.
    void drawFrame();
    // A transform under `parent` with id (own transform id + counter), owned
    // by this control; the counter grows by one.
    QvTransform* createTransform(QvTransform* parent);

    QvVertexArray vao;
    QvBuffer vbo;
    std::vector<float> vertices;  // the box's 288 floats, kept after upload
    std::int64_t transformIdCounter = 0;

protected:
    // The box from an already built vertex list, after `size` is set
    // (controls that alter the table, such as the canvas, hand theirs here).
    void buildBox(std::vector<float> boxVertices);
    // Shader, camera matrices and uniforms for the box in currentColor; the
    // caller has checked that a shader is set.
    void prepareBoxDraw(Camera& camera);

private:
    std::vector<std::unique_ptr<QvTransform>> madeTransforms;
};
