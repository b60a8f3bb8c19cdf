// The sky around the scene: a cube of side 2 centred on the camera, textured
// with a cube map of six pictures and drawn with the camera's rotation only,
// so that it never comes nearer when the camera moves.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvmaterialobject.h"

class QvSkybox : public QvMaterialObject {
public:
    // Builds the cube and loads the six faces; a face that cannot be read
    // raises QvResourceError (the program cannot start without its sky).
    QvSkybox(const std::string& name, QvShader& shader);

    // Uploads the cube (no wire-box buffers: the sky is never picked).
    void initBuffers() override;
    // Depth function LEQUAL, then the cube under the view without translation.
    void draw(Camera& c) override;

    std::vector<float> skyboxVertices;
    QvVertexArray skyboxVAO;
    QvBuffer skyboxVBO;
    QvTexture cubemapTexture;
    std::unique_ptr<TextureLoader> textureLoader;
    // Face pictures in cube-map target order: +X, -X, +Y, -Y, +Z, -Z.
    std::array<std::string, 6> faces = {
        "skybox/art/right.jpg",  "skybox/art/left.jpg",  "skybox/art/top.jpg",
        "skybox/art/bottom.jpg", "skybox/art/front.jpg", "skybox/art/back.jpg",
    };
};
