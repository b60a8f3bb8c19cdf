// qvimage: one texture on a flat rectangle in the scene, pickable like
// every other control. Its quad is re-sent on every draw, so a new size only
// needs setSize. The texture is borrowed: whoever made it outlives the image.
#pragma once

#include <string>
#include <vector>

#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvmaterialobject.h"

class Camera;

class QvImage : public QvMaterialObject {
public:
    QvImage(const std::string& name, const QvTexture* texture, Camera& camera);

    // The quad of width x height from the local origin and its collision
    // data; the depth is kept but shapes nothing. No GL.
    virtual void setSize(float width, float height, float depth);
    // The transform's dimension = size x the transform's scaling.
    virtual void setDimension();
    // The quad's vertex array and a 96-byte dynamic buffer (no wire box).
    void initBuffers() override;
    // The textured quad; nothing before initBuffers.
    void draw(Camera& camera) override;

    QvBuffer vbo;
    QvVertexArray vao;
    const QvTexture* texture = nullptr;  // not owned; null: the quad is drawn untextured
    std::vector<float> quad;
};
