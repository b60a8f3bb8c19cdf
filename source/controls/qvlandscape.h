// qvlandscape: a terrain control, the canvas's twin.
//
// A 200 x 200 grid of square cells lying in the control's x-y plane, textured
// with an image; the brush (rebuild) raises or lowers its grid points and
// paints grass discs into the image. It keeps the canvas's click lists,
// triangulations, hulls and OBJ export, but draws only its mesh, in front of
// which nothing else of the overlay is shown.
#pragma once

#include "controls/qvplotsurface.h"
#include "engine/core/qvobject.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvloadimage.h"

#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <memory>
#include <string>
#include <vector>

inline constexpr std::int64_t qvLandscapeFirstTransformId = 4000;
inline constexpr char qvLandscapeBaseImage[] = "textures/0096-512x512.jpg";
inline constexpr char qvLandscapeGrassImage[] = "textures/grass.jpg";
// The terrain lies this far along the control's local -z.
inline constexpr float qvLandscapeDepthOffset = 0.55f;

class QvLandscape : public QvPlotSurface {
public:
    // Loads both images (their pixels kept, the grass one as the texture)
    // and makes the two lights; the near one lights the terrain first.
    QvLandscape(const std::string& name, Camera& camera);
    ~QvLandscape() override;

    // The box (without collision data: the terrain supplies it), the overlay
    // buffers and the terrain buffers.
    void setSize(float width, float height, float depth) override;
    // The base's wire-box buffers only when drawAABB is set, then the box.
    void initBuffers() override;
    // Appends the grid for a display of width x height pixels and makes the
    // collision box from its triangles.
    virtual void generateDefaultLandscape(int width, int height);
    // A new texture from the image file in place of the current one.
    virtual void setLandscapeTexture(const std::string& path);
    virtual void outputInfo();
    virtual void createCollisionWithTriangles(std::vector<Triangle> triangles);
    // Collision triangles and box from the current mesh.
    virtual void updateCollisionCoords();
    virtual void switchShading();
    virtual void switchDirection() { direction = !direction; }

    // The brush: moves the grid point of `index` by dh, normals from positions.
    virtual void plow(std::int64_t index, float dh);
    // The brush: moves the grid point, recomputes the normals around it and
    // stamps a grass disc (centres in base and grass image pixels).
    virtual void till(std::int64_t index, float dh, int baseX, int baseY, int grassX, int grassY);
    // The 21-cell brush at display position (x, y) with strength h, then new
    // collision data and the base image as the texture.
    virtual void rebuild(double x, double y, float h);

    // The mesh in landscapeColor (outlines with wireframe).
    void draw(Camera& camera) override;
    void drawTriangles(Camera& camera);
    // New terrain buffers with room for the current mesh; the draw grows
    // them when the mesh outgrows them.
    void initBuffersForTriangles() override;

    bool wireframe = false;
    QvVertexArray trianglesVao;
    QvBuffer trianglesVbo;
    QvBuffer normalsVbo;
    QvBuffer texCoordsVbo;
    std::vector<glm::vec2> textureCoords;  // one per entry of triangleVertices
    glm::vec4 landscapeColor{0.111f, 0.883f, 0.087f, 1.0f};
    int columns = 0;
    int rows = 0;
    float aspectRatio = 1.0f;
    float displayStepX = 1.0f;
    float displayStepY = 1.0f;
    bool shading = false;
    bool direction = false;  // set: the brush lowers
    QvLight farLight;
    QvLight nearLight;
    QvTexture texture;  // the grass picture, then the base image the brush paints
    TextureLoader textureLoader;
    std::vector<std::uint8_t> basePixels;
    std::vector<std::uint8_t> grassPixels;
    int baseScanLine = 0;
    int grassScanLine = 0;
    int baseWidth = 0;
    int baseHeight = 0;
    int grassWidth = 0;
    int grassHeight = 0;
    int displayWidth = 0;
    int displayHeight = 0;

private:
    // Sends the mesh lists, each padded to the vertex count, growing the
    // buffers first when the mesh outgrew them.
    void uploadMesh();
    // Re-specifies the texture from basePixels.
    void uploadBaseImage();

    std::size_t meshCapacity = 0;  // vertices the terrain buffers hold
    QvTransform farLightTransform;
    QvTransform nearLightTransform;
};
