// Skybox: the 36 cube vertices, the cube map and the per-frame draw.
#include "engine/gl/qvskybox.h"

#include <glm/mat3x3.hpp>

#include "engine/core/qvcamera.h"
#include "engine/gl/qvmaterial.h"
#include "engine/gl/qvshader.h"

namespace {

constexpr GLsizei cubeVertexCount = 36;

// The cube with corners at -1 and +1 as 12 triangles, face by face.
const float cubeVertices[] = {
    -1, 1,  -1, -1, -1, -1, 1,  -1, -1, 1,  -1, -1, 1,  1,  -1, -1, 1,  -1,  // z = -1
    -1, -1, 1,  -1, -1, -1, -1, 1,  -1, -1, 1,  -1, -1, 1,  1,  -1, -1, 1,   // x = -1
    1,  -1, -1, 1,  -1, 1,  1,  1,  1,  1,  1,  1,  1,  1,  -1, 1,  -1, -1,  // x = +1
    -1, -1, 1,  -1, 1,  1,  1,  1,  1,  1,  1,  1,  1,  -1, 1,  -1, -1, 1,   // z = +1
    -1, 1,  -1, 1,  1,  -1, 1,  1,  1,  1,  1,  1,  -1, 1,  1,  -1, 1,  -1,  // y = +1
    -1, -1, -1, -1, -1, 1,  1,  -1, -1, 1,  -1, -1, -1, -1, 1,  1,  -1, 1,   // y = -1
};

}  // namespace

QvSkybox::QvSkybox(const std::string& name, QvShader& skyShader)
    : QvMaterialObject(name), skyboxVertices(std::begin(cubeVertices), std::end(cubeVertices)),
      textureLoader(std::make_unique<TextureLoader>())
{
    shader = &skyShader;
    currentColor = glm::vec4(0.793f, 0.398f, 0.847f, 1.0f);
    initBuffers();
    // A face that fails throws; the members made so far release their names.
    cubemapTexture = textureLoader->loadCubemap(std::vector<std::string>(faces.begin(), faces.end()));
    shader->useProgram();
    shader->setUniform("skybox", std::uint64_t{0});
}

void QvSkybox::initBuffers()
{
    qvMakePositionBuffer(skyboxVAO, skyboxVBO, static_cast<GLsizeiptr>(skyboxVertices.size() * sizeof(float)),
                         skyboxVertices.data(), GL_STATIC_DRAW);
}

void QvSkybox::draw(Camera& c)
{
    QvMaterialObject::draw(c);
    glDepthFunc(GL_LEQUAL);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glStencilFunc(GL_ALWAYS, 1, 0xFF);
    glStencilMask(0xFF);
    shader->useProgram();
    mcp.projection = c.getProjectionMatrix();
    // The view's rotation only: the sky stays put when the camera moves.
    mcp.camera = glm::mat4(glm::mat3(c.getCameraMatrix()));
    shader->setUniform("camera", mcp.camera);
    shader->setUniform("projection", mcp.projection);
    glBindVertexArray(skyboxVAO.get());
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_CUBE_MAP, cubemapTexture.get());
    glDrawArrays(GL_TRIANGLES, 0, cubeVertexCount);
    glBindVertexArray(0);
}
