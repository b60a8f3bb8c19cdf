// Glyph drawables: the objects that put one glyph on the screen for the text
// controls. QvChar2D and QvCharacter2D draw a bitmap-font glyph as a textured
// quad (and hand out its atlas-textured corners for batched text);
// QvCharacter3D draws an extruded outline-font glyph and carries its picking
// box.
//
// Units: a 2D quad is in pixels of the 48-pixel face, a 3D mesh in outline
// units (64 per pixel, z from 0 back to -200); the origin is the pen position
// on the baseline. The controls scale and advance glyphs through each glyph's
// own transform.
#pragma once

#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>

#include <array>
#include <cstdint>
#include <string>

struct Character2D;
class Camera;
class QvShader;
class QvTransform;

// The two triangles of a glyph quad as (x, y, u, v) records: the bitmap's
// place from the pen, width and height multiplied by scale, v = 0 on the
// bitmap's top row.
std::array<float, 24> qvGlyphQuadVertices(const Character2D& glyph, float scale);

// The same two triangles carried through model, as (X, Y, Z, W, u, v)
// records with u, v in the font atlas; for text drawn in one batch.
std::array<float, 36> qvGlyphAtlasVertices(const Character2D& glyph, const glm::mat4& model);

// A bitmap glyph quad without picking or light. The text controls build it in
// storage of their own and destroy it explicitly.
class QvChar2D {
public:
    explicit QvChar2D(const Character2D* glyph);
    QvChar2D(const std::string& name, const Character2D* glyph);
    virtual ~QvChar2D();
    QvChar2D(const QvChar2D&) = delete;
    QvChar2D& operator=(const QvChar2D&) = delete;

    virtual void setTransform(QvTransform* t);
    // Sends model, camera, projection and diffuseColor, then draws the quad
    // with the glyph's own texture; the flag is not read.
    virtual void draw(QvShader& shader, bool flag, Camera& camera, glm::vec4 colour);
    // Creates the quad's vertex array and buffer (replacing earlier ones).
    virtual void initBuffers();
    virtual std::array<float, 36> getVertices() const;

    uint32_t VBO = 0;
    uint32_t VAO = 0;
    float scale = 1.0f;
    const Character2D* glyph = nullptr;  // owned by the font
    QvTransform* transform = nullptr;    // placed by the control
    QvShader* shader = nullptr;          // the control's text shader
};
