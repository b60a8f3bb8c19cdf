// Glyph drawables: quad and mesh uploads, draws and the 3D picking box.
#include "qvtext3d.h"

#include "qvcamera.h"
#include "qvfont2d.h"
#include "qvshader.h"
#include "qvtransform.h"

#include <epoxy/gl.h>

namespace {

// Batched text samples the atlas; its size turns pixels into texture space.
constexpr float atlasExtent = static_cast<float>(QvFont2D::atlasSize);

constexpr GLsizei quadVertexCount = 6;
constexpr GLint quadComponents = 4;  // x, y, u, v

// Creates the vertex array and buffer of a glyph quad, attribute 0 = (x, y, u, v).
void createQuadBuffers(const Character2D& glyph, float scale, uint32_t& vao, uint32_t& vbo)
{
    const std::array<float, 24> vertices = qvGlyphQuadVertices(glyph, scale);
    glGenVertexArrays(1, &vao);
    glGenBuffers(1, &vbo);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof(vertices), vertices.data(), GL_STATIC_DRAW);
    glVertexAttribPointer(0, quadComponents, GL_FLOAT, GL_FALSE, quadComponents * sizeof(float), nullptr);
    glEnableVertexAttribArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
}

// Deletes a quad's vertex array and buffer; a quad never uploaded makes no
// OpenGL call, so glyph objects can be made and dropped without a context.
void deleteQuadBuffers(uint32_t& vao, uint32_t& vbo)
{
    if (vao == 0 && vbo == 0) {
        return;
    }
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(1, &vbo);
    vao = 0;
    vbo = 0;
}

// Draws a glyph quad with its own texture on unit 0; the program and its
// uniforms are already set.
void drawQuad(uint32_t vao, uint32_t texture)
{
    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(vao);
    glBindTexture(GL_TEXTURE_2D, texture);
    glDrawArrays(GL_TRIANGLES, 0, quadVertexCount);
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

glm::mat4 matrixOf(const QvTransform* transform)
{
    return transform ? transform->getMatrix() : glm::mat4(1.0f);
}

}  // namespace

std::array<float, 24> qvGlyphQuadVertices(const Character2D& glyph, float scale)
{
    // Only the extent is scaled; the corner keeps the unscaled bearing.
    const float x = glyph.bearing.x;
    const float y0 = glyph.bearing.y - glyph.size.y;
    const float w = glyph.size.x * scale;
    const float h = glyph.size.y * scale;
    return {
        x,     y0,     0.0f, 1.0f,  //
        x,     y0 + h, 0.0f, 0.0f,  //
        x + w, y0 + h, 1.0f, 0.0f,  //
        x + w, y0 + h, 1.0f, 0.0f,  //
        x + w, y0,     1.0f, 1.0f,  //
        x,     y0,     0.0f, 1.0f,
    };
}

std::array<float, 36> qvGlyphAtlasVertices(const Character2D& glyph, const glm::mat4& model)
{
    const float left = glyph.bearing.x;
    const float right = glyph.bearing.x + glyph.size.x;
    const float top = glyph.bearing.y;
    const float bottom = glyph.bearing.y - glyph.size.y;
    const float u0 = glyph.atlasRect.x / atlasExtent;
    const float v0 = glyph.atlasRect.y / atlasExtent;
    const float u1 = glyph.atlasRect.z / atlasExtent;
    const float v1 = glyph.atlasRect.w / atlasExtent;
    const std::array<glm::vec4, 6> corners = {
        glm::vec4(left, bottom, u0, v1),  glm::vec4(left, top, u0, v0),
        glm::vec4(right, top, u1, v0),    glm::vec4(right, top, u1, v0),
        glm::vec4(right, bottom, u1, v1), glm::vec4(left, bottom, u0, v1),
    };
    std::array<float, 36> result{};
    for (size_t i = 0; i < corners.size(); ++i) {
        const glm::vec4 placed = model * glm::vec4(corners[i].x, corners[i].y, 0.0f, 1.0f);
        float* record = result.data() + i * 6;
        record[0] = placed.x;
        record[1] = placed.y;
        record[2] = placed.z;
        record[3] = placed.w;
        record[4] = corners[i].z;
        record[5] = corners[i].w;
    }
    return result;
}

// ---------------------------------------------------------------- QvChar2D

QvChar2D::QvChar2D(const Character2D* glyph) : glyph(glyph) {}

QvChar2D::QvChar2D(const std::string& /*name*/, const Character2D* glyph) : glyph(glyph) {}

QvChar2D::~QvChar2D()
{
    deleteQuadBuffers(VAO, VBO);
}

void QvChar2D::setTransform(QvTransform* t)
{
    transform = t;
}

void QvChar2D::initBuffers()
{
    deleteQuadBuffers(VAO, VBO);
    if (glyph == nullptr) {
        return;
    }
    createQuadBuffers(*glyph, scale, VAO, VBO);
}

void QvChar2D::draw(QvShader& shader, bool /*flag*/, Camera& camera, glm::vec4 colour)
{
    if (glyph == nullptr || VAO == 0) {
        return;
    }
    shader.useProgram();
    shader.setUniform("model", matrixOf(transform));
    shader.setUniform("camera", camera.getCameraMatrix());
    shader.setUniform("projection", camera.getProjectionMatrix());
    shader.setUniform("diffuseColor", colour);
    drawQuad(VAO, glyph->texture);
}

std::array<float, 36> QvChar2D::getVertices() const
{
    return glyph ? qvGlyphAtlasVertices(*glyph, matrixOf(transform)) : std::array<float, 36>{};
}
