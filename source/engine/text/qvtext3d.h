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

#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvmaterialobject.h"

#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

struct Character2D;
class Character3D;
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

// What both bitmap glyph drawables share: the glyph, the quad's scale, and
// the quad's vertex array and buffer.
class QvGlyphQuad {
public:
    explicit QvGlyphQuad(const Character2D* glyph) : glyph(glyph) {}

    QvBuffer VBO;
    QvVertexArray VAO;
    float scale = 1.0f;
    const Character2D* glyph = nullptr;  // owned by the font

protected:
    // Replaces the quad's vertex array and buffer; a missing glyph gets none.
    void _uploadQuad();
    // Draws the quad with the glyph's own texture on unit 0; the program and
    // its uniforms are already set.
    void _drawQuad() const;
};

// A bitmap glyph quad without picking or light. The text controls build it in
// storage of their own and destroy it explicitly.
class QvChar2D : public QvGlyphQuad {
public:
    explicit QvChar2D(const Character2D* glyph);
    QvChar2D(const std::string& name, const Character2D* glyph);
    virtual ~QvChar2D() = default;

    virtual void setTransform(QvTransform* t);
    // Sends model, camera, projection and diffuseColor, then draws the quad
    // with the glyph's own texture; the flag is not read.
    virtual void draw(QvShader& shader, bool flag, Camera& camera, glm::vec4 colour);
    // Creates the quad's vertex array and buffer (replacing earlier ones).
    virtual void initBuffers();
    virtual std::array<float, 36> getVertices() const;

    QvTransform* transform = nullptr;  // placed by the control
    QvShader* shader = nullptr;        // the control's text shader
};

// A bitmap glyph quad as a material object: it carries a name, colours, a
// light and picking state like any scene object.
class QvCharacter2D : public QvMaterialObject, public QvGlyphQuad {
public:
    QvCharacter2D(const std::string& name, const Character2D* glyph);
    // A bare material object: no events, no transform tree.
    explicit QvCharacter2D(const Character2D* glyph);

    // The quad only: a glyph has no wire box.
    void initBuffers() override;
    using QvMaterialObject::draw;
    // Takes the camera, sends the material uniforms with colour as
    // diffuseColor and draws the quad; the flag is not read.
    virtual void draw(QvShader& shader, bool flag, Camera& camera, glm::vec4 colour);
    virtual std::array<float, 36> getVertices() const;

    // x: where a 2D edit box placed the glyph along its line.
    glm::vec2 linePosition{std::numeric_limits<float>::quiet_NaN()};
    float& positionX = linePosition.x;  // the name the edit boxes use for that x
};

// An extruded outline glyph: front and back faces as restart-joined strips,
// one wall strip per contour, and a picking box around the outline.
class QvCharacter3D : public QvMaterialObject {
public:
    // Builds the picking triangles and box; no OpenGL yet.
    QvCharacter3D(const std::string& name, const Character3D& glyph);

    // The wire box, then the outline, face and wall buffers.
    void initBuffers() override;
    using QvMaterialObject::opCmp;
    using QvMaterialObject::opEquals;
    // Equal when both orderKey components are equal (never while NaN).
    virtual bool opEquals(const QvCharacter3D& other) const;
    // Reading order on orderKey: -1 when this comes first (higher y, then
    // smaller x), otherwise 1; never 0.
    virtual int opCmp(const QvCharacter3D& other) const;
    using QvMaterialObject::draw;
    // Sends model, camera, projection and diffuseColor = colour, then draws
    // the faces and walls; leaves primitive restart enabled. The flag is not read.
    virtual void draw(QvShader& shader, bool flag, Camera& camera, glm::vec4 colour);

    // Picking box over the outline's own bounds; none for a glyph without points.
    void findConstraintPoints();
    // The 36 box vertices of [minX, maxX] x [minY, maxY] x [-100, 0].
    void makeCoordinates();
    // aabb from the triangles of coordinates, which also become its vertices.
    void makeAABBbox(const std::vector<float>& coordinates);
    void drawFrontFace();
    void drawBackFace();
    void drawExtrudedFaces();
    // Picking triangles: every consecutive triple within each front strip,
    // each back strip and each contour's wall strip.
    void fillFrontTriangleArray();
    void fillBackTriangleArray();
    void fillExtrudedTriangleArray();

    QvBuffer outlineVBO;
    QvVertexArray outlineVAO;
    QvVertexArray frontVAO;
    QvBuffer frontVBO, frontNormalsVBO, frontEBO, texCoordsVBO;
    QvVertexArray backVAO;
    QvBuffer backVBO, backNormalsVBO, backEBO;
    QvVertexArray wallsVAO;
    QvBuffer wallsVBO;
    glm::vec2 linePosition{std::numeric_limits<float>::quiet_NaN()};  // x: place along the line
    float& positionX = linePosition.x;  // the name the edit boxes use for that x
    glm::vec2 orderKey{std::numeric_limits<float>::quiet_NaN()};      // compared by opEquals, opCmp
    // Bounds of the picking box; a glyph without points keeps these values.
    float minX = 1000.0f;
    float maxX = 0.0f;
    float minY = 1000.0f;
    float maxY = 0.0f;
    std::vector<float> boxCoordinates;
    const Character3D* glyph = nullptr;  // shared with the outline font

private:
    void _appendStripTriangles(std::span<const glm::vec3> strip);
    void _appendFaceTriangles(const std::vector<glm::vec3>& vertices);
};
