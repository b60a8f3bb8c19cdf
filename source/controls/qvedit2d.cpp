// qvedit2d: bitmap glyphs, caret homes, Enter, the ticker and the two draw
// paths (glyph by glyph, and batched from one buffer on the font atlas).
#include "controls/qvedit2d.h"

#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"
#include "engine/text/qvfont2d.h"

namespace {

constexpr float fontSizeDivisor = 1667.0f;
constexpr float defaultScale = 0.024f;
constexpr float caretDepthOffset = 0.02f;  // the text floats just in front of the face
constexpr char16_t barCode = u'|';
constexpr char16_t fallbackCode = 0x00A4;  // the fonts' stand-in glyph
constexpr double tickerPeriod = 0.016;
constexpr glm::vec4 textColor{0.9f, 0.9f, 0.9f, 1.0f};
constexpr glm::vec4 selectionColor{0.2f, 0.24f, 0.83f, 1.0f};
constexpr std::size_t floatsPerGlyph = 36;
constexpr GLsizei verticesPerGlyph = 6;
constexpr GLsizei batchStride = 6 * sizeof(float);  // x y z w, u v

}  // namespace

QvEdit2D::QvEdit2D(const std::string& name, QvFont2D& font, QvLight* /*light*/, Camera& camera)
    : QvEditBox(name, camera, qvEdit2DFirstTransformId, QvEditFlavour::flat, defaultScale), font(font)
{
    glyphsInTree = true;
    *onCameraPosition += [this](Camera*, QvCameraPositionEventArgs*) { updatePosition(); };
}

void QvEdit2D::setFontSize(float size)
{
    fontSize = size / fontSizeDivisor;
    scale = fontSize;
}

void QvEdit2D::setTransform(QvTransform* t)
{
    QvEditBox::setTransform(t);
    if (!transform) return;  // no place for a bar
    createBar();
}

const Character2D* QvEdit2D::glyphRecord(char16_t code) const
{
    if (const Character2D* record = font.findCharacter(code)) return record;
    return font.findCharacter(fallbackCode);
}

std::unique_ptr<QvCharacter2D> QvEdit2D::makeGlyph(char16_t code) const
{
    return std::make_unique<QvCharacter2D>(qvEncodeUtf8(code), glyphRecord(code));
}

float QvEdit2D::advanceOf(char16_t code) const
{
    const Character2D* record = glyphRecord(code);
    return record ? static_cast<float>(record->advance >> 6) * scale : 0.0f;
}

double QvEdit2D::barHalfWidth() const
{
    if (!bar || !bar->glyph) return 0.0;
    return static_cast<double>(bar->glyph->advance >> 6) * 0.5 * static_cast<double>(scale);
}

void QvEdit2D::createBar()
{
    buildBar(makeGlyph(barCode), textShader);
    barAdvance = advanceOf(barCode);
    placeCaret(-(size.width / 2.0f) * boxScaling.x, caretDepthOffset);
    barPosition = caretPosition;
    barTransform->setScaling(scale, scale, scale);
    barTransform->setDimension(glm::vec3(scale * barAdvance) * boxScaling);
    placeTransform(*barTransform, barPosition);
}

void QvEdit2D::moveBarHome(float caretX, float barX)
{
    placeCaret(caretX, caretDepthOffset);
    barPosition = {barX, caretPosition.y, caretPosition.z};
    placeTransform(*barTransform, barPosition);
}

// The margin is not scaled by the box's scaling; the bar waits at the edge.
void QvEdit2D::moveBarToStartPosition()
{
    if (!barTransform) return;
    refreshFrame();
    const float margin = size.width * (2.0f * static_cast<float>(padding)) / 100.0f;
    const float edge = (size.width / 2.0f) * boxScaling.x;
    moveBarHome(margin - edge, -edge);
}

void QvEdit2D::moveBarToEndPosition()
{
    if (!barTransform) return;
    refreshFrame();
    const float margin = size.width * (2.0f * static_cast<float>(padding)) / 100.0f;
    const float edge = (size.width / 2.0f) * boxScaling.x;
    moveBarHome(edge - margin, edge);
}

void QvEdit2D::clear()
{
    QvEditBox::clear();
    // Whatever follows rebuilds the batch (Enter, a ticker text, a camera
    // move) or ends batching (each glyph typed or set).
    deleteBuffers();
    batchVertices.clear();
}

void QvEdit2D::enter()
{
    optimized = true;
    rebuildBatch();
    text = line.text();
    QvEventArgs entered;
    enteredEvent(this, &entered);
}

void QvEdit2D::initLabel2D(const std::u16string& tickerText)
{
    if (!transform) return;
    setDimension();
    for (char32_t code : qvDecodeUtf16(tickerText)) {
        if (code <= qvEditLastCodePoint) insertGlyph(static_cast<char16_t>(code));
    }
}

bool QvEdit2D::tickerStepDue(double now)
{
    if (!tickerMode || now - tickerTime < tickerPeriod) return false;
    line.shift(-tickerStep);
    tickerTime = now;
    return true;
}

// ------------------------------------------------------------------ batching

void QvEdit2D::deleteBuffers()
{
    batchVao.reset();
    batchVbo.reset();
}

void QvEdit2D::computeSizeOfBuffer()
{
    batchVertices.assign(glyphs.size() * floatsPerGlyph, 0.0f);
}

void QvEdit2D::prepareVertices()
{
    placeGlyphs();
    for (std::size_t i = 0; i < glyphs.size() && (i + 1) * floatsPerGlyph <= batchVertices.size(); ++i) {
        const std::array<float, 36> corners = glyphs[i].object->getVertices();
        std::copy(corners.begin(), corners.end(),
                  batchVertices.begin() + static_cast<long>(i * floatsPerGlyph));
    }
}

void QvEdit2D::prepareGLBuffers()
{
    batchVao = QvVertexArray::create();
    glBindVertexArray(batchVao.get());
    batchVbo = qvMakeBuffer(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(batchVertices.size() * sizeof(float)),
                            batchVertices.data(), GL_STATIC_DRAW);
    qvPointAttribute(QvAttribute::position, batchVbo, 4, batchStride);
    qvPointAttribute(QvAttribute::atlasCoords, batchVbo, 2, batchStride, 4 * sizeof(float));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
}

void QvEdit2D::rebuildBatch()
{
    deleteBuffers();
    computeSizeOfBuffer();
    prepareVertices();
    prepareGLBuffers();
    ++batchRebuilds;
}

void QvEdit2D::rebuildBatchIfDrawn()
{
    if (optimized) rebuildBatch();
}

// Glyph-by-glyph drawing does not read the batch, and Enter rebuilds it when
// batching starts, so a camera move only refreshes a batch that is drawn.
void QvEdit2D::updatePosition()
{
    rebuildBatchIfDrawn();
}

// ------------------------------------------------------------------ drawing

void QvEdit2D::optimizeDraw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (tickerStepDue(camera.frameTime)) rebuildBatch();
    if (optimizeTextShader && batchVao) {
        optimizeTextShader->useProgram();
        takeCameraMatrices(camera);
        currentColor = textColor;
        _prepareUniforms(*optimizeTextShader, glm::mat4(1.0f));
        glBindVertexArray(batchVao.get());
        glDrawArrays(GL_TRIANGLES, 0,
                     static_cast<GLsizei>(batchVertices.size() / floatsPerGlyph) * verticesPerGlyph);
        glBindVertexArray(0);
    }
    if (line.wrap()) rebuildBatch();
}

void QvEdit2D::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (shader == nullptr || !transform) return;
    currentColor = focused ? focusColor : color;
    prepareBoxDraw(camera);
    // The box writes its mask into the stencil whatever write mask the
    // previous control left (a panel leaves 0, which would hide all text).
    qvSetControlStencil(mask, 0xFF);
    drawFrame();
    // Text only where the stencil holds the mask or more: clipped to the box.
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glStencilFunc(GL_LEQUAL, mask, 0xFF);
    if (focused) drawBar(camera);
    if (optimized) {
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, font.atlasTexture.get());
        optimizeDraw(camera);
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    const bool stepped = tickerStepDue(camera.frameTime);
    placeGlyphs();
    for (Glyph& glyph : glyphs) {
        QvCharacter2D& object = *glyph.object;
        const bool picked = object.selected && !stepped && pickingTextShader;
        QvShader* program = picked ? pickingTextShader : textShader;
        if (!program) continue;
        currentColor = picked ? selectionColor : textColor;
        object.draw(*program, glyphDrawFlag, camera, currentColor);
    }
    line.wrap();
}
