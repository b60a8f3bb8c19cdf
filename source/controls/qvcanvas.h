// qvcanvas: the "monitor" of the tracker scene.
//
// A lit box whose front face shows a texture, with an overlay drawn just in
// front of it: the triangle layer, points, circle points, the line strip and
// the cursor, in that order. The scene appends to lineVertices (route, speed)
// and pointCoords (stops) every frame; each frame sends the GPU only what
// those lists gained, so a frame costs the same after hours of tracking.
#pragma once

#include "controls/qvplotsurface.h"
#include "engine/gl/qvloadimage.h"

#include <glm/vec4.hpp>

#include <cstddef>
#include <string>

class QvLight;

inline constexpr std::int64_t qvCanvasFirstTransformId = 4000;
inline constexpr char qvCanvasDefaultTexture[] = "textures/monitor_default.jpg";
// The five faces other than the front show only this corner of the texture.
inline constexpr float qvCanvasSideTexCoord = 0.045f;

// The canvas box: the control box with every texture coordinate of 1 on the
// five faces other than the front set to qvCanvasSideTexCoord.
std::vector<float> qvCanvasBoxVertices(float width, float height, float depth);

class QvCanvas : public QvPlotSurface {
public:
    // Loads the default face texture and prints the "CREATING CANVAS" line.
    // The light is not kept: the creator calls addLight.
    QvCanvas(const std::string& name, QvLight* light, Camera& camera);
    // The same with the face lent from the start, as setTexture lends it, so
    // that no default face is loaded only to be replaced; null: the default.
    QvCanvas(const std::string& name, QvLight* light, Camera& camera, const QvTexture* face);
    ~QvCanvas() override;

    // The canvas box, its collision data and buffers; the point,
    // circle-point, line-strip and cursor buffers follow on the first draw
    // that has something to send to each.
    void setSize(float width, float height, float depth) override;
    // The face shows t from now on (null: no texture). The canvas borrows
    // it: its owner must outlive the canvas or hand it another one first.
    virtual void setTexture(const QvTexture* t) { texture = t; }
    // The face, then (with drawOverlay) the five overlay layers.
    void draw(Camera& camera) override;
    // The box's 36 vertices with the face texture, current program and uniforms.
    void drawFrame();
    // The triangle layer alone, in trianglesColor; nothing before a triangulation.
    void drawTriangles(Camera& camera);
    // triangleVertices, triangleIndices and triangleNormals into new GPU
    // objects replacing the previous ones; normals missing after a polygon
    // triangulation are sent as (0, 0, 1).
    void initBuffersForTriangles() override;

    bool drawOverlay = true;
    bool wireframe = false;
    bool rotating = false;
    QvVertexArray trianglesVao;
    QvBuffer trianglesVbo;
    QvBuffer normalsVbo;
    QvBuffer trianglesEbo;
    // The face's texture: lent by the creator, or the default one owned
    // below until setTexture lends another.
    const QvTexture* texture = nullptr;
    TextureLoader textureLoader;
    glm::vec4 trianglesColor{0.859f, 0.883f, 0.224f, 1.0f};
    double lastTime = 0.0;  // frame time of the previous draw

protected:
    void reportDelaunay() override;

private:
    // The five overlay layers; out of view, only their uploads and the
    // fields they set.
    void drawOverlayLayers(Camera& camera);
    QvTexture defaultTexture;
    std::size_t uploadedTriangleVertices = 0;
};
