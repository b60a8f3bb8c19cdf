// qvlabel: construction, the string and buffer texts, the batch and the draw.
#include "controls/qvlabel.h"

#include <glm/mat4x4.hpp>

#include "engine/core/qvcamera.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"
#include "engine/text/qvfont2d.h"
#include "engine/text/qvtext3d.h"

namespace {

constexpr QvTextDepths kLabelDepths{0.1f, 0.5f, 0.1f, 0.1f, 0.1f, 0.1f};
constexpr std::size_t kBatchFloatsPerVertex = 6;  // x, y, z, w, u, v
constexpr std::size_t kBatchFloatsPerGlyph = 6 * kBatchFloatsPerVertex;

}  // namespace

QvLabel::QvLabel(const std::string& name, const QvDictionary& dictionary, int language, int key,
                 QvFont3D& font, QvLight* /*light*/, Camera& camera)
    : QvTextControl(name, camera, qvLabelFirstTransformId, qvLabelSlotCount, kLabelDepths)
{
    useFont(font);
    initialization(useDictionary(dictionary, language, key), camera);
}

QvLabel::QvLabel(const std::string& name, const QvDictionary& dictionary, int language, int key,
                 QvFont2D& font, QvLight* /*light*/, Camera& camera)
    : QvTextControl(name, camera, qvLabelFirstTransformId, qvLabelSlotCount, kLabelDepths)
{
    useFont(font);
    initialization(useDictionary(dictionary, language, key), camera);
}

QvLabel::QvLabel(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* /*light*/,
                 Camera& camera)
    : QvTextControl(name, camera, qvLabelFirstTransformId, qvLabelSlotCount, kLabelDepths)
{
    useFont(font);
    initialization(text, camera);
}

QvLabel::QvLabel(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* /*light*/,
                 Camera& camera)
    : QvTextControl(name, camera, qvLabelFirstTransformId, qvLabelSlotCount, kLabelDepths)
{
    useFont(font);
    initialization(text, camera);
}

void QvLabel::initialization(const std::u16string& label, Camera& camera)
{
    // Only the outline and the wrapped glyphs take ids from the counter.
    numberedBitmapGlyphs = false;
    focused = false;
    mcp.camera = camera.getCameraMatrix();
    text = label;
    *onKeyPress += [this](QvMaterialObject* s, QvKeyboardEventArgs* a) { handlerKeyPress(s, a); };
}

void QvLabel::handlerKeyPress(QvMaterialObject* /*sender*/, QvKeyboardEventArgs* /*args*/) {}

void QvLabel::setLabel(const std::u16string& s)
{
    text = s;
    cLength = 0;
    clear();
    initLabel();
}

void QvLabel::setLabel(const char16_t* p, int n)
{
    cText = p;
    // Cut to the slots: nothing is ever written past them.
    cLength = p == nullptr ? 0 : std::clamp<std::int64_t>(n, 0, std::int64_t(cGlyphs.size()));
    clear();
    initCLabel(static_cast<int>(cLength));
    cText = nullptr;  // the buffer is the caller's and read during this call only
}

void QvLabel::updateText(int newLanguage)
{
    // The string text shows from now on: the clear must drop its old glyphs,
    // which it leaves alone while the slots are in use.
    cLength = 0;
    clear();
    if (dictionary != nullptr && dictionary->has(newLanguage, key)) {
        language = newLanguage;
        text = dictionary->text(language, key);
    }
    initLabel();
}

void QvLabel::initLabel()
{
    const std::u16string label = text;
    if (is3D) {
        initLabel3D(label);
        if (!label.empty()) textAlign3D();
        return;
    }
    if (wrapping) {
        initWrapperLabel2D(label);
    } else {
        initLabel2D(label);
    }
    if (optimized) {
        prepareVertices();
        prepareGLBuffers();
    }
}

void QvLabel::initCLabel(int n)
{
    initCLabel2D(cText, n);
    if (optimized) {
        prepareCVertices();
        prepareGLBuffers();
    }
}

void QvLabel::prepareVertices()
{
    batchVertices.clear();
    batchVertices.reserve(glyphs2D.size() * kBatchFloatsPerGlyph);
    for (const auto& glyph : glyphs2D) {
        const std::array<float, 36> corners = glyph->getVertices();
        batchVertices.insert(batchVertices.end(), corners.begin(), corners.end());
    }
}

void QvLabel::prepareCVertices()
{
    batchVertices.clear();
    for (std::size_t i = 0; i < slotsInUse(); ++i) {
        const QvGlyphSlot& slot = cGlyphs[i];
        if (slot.glyph == nullptr) continue;
        const std::array<float, 36> corners = qvGlyphAtlasVertices(*slot.glyph, slot.transform->getMatrix());
        batchVertices.insert(batchVertices.end(), corners.begin(), corners.end());
    }
}

void QvLabel::prepareGLBuffers()
{
    // The batch keeps its vertex array and buffer from build to build: a
    // value label rebuilt every frame makes no new GL object.
    const GLsizeiptr bytes = static_cast<GLsizeiptr>(batchVertices.size() * sizeof(float));
    if (!batchVao) {
        batchVao = QvVertexArray::create();
        glBindVertexArray(batchVao.get());
        batchVbo = qvMakeBuffer(GL_ARRAY_BUFFER, bytes, batchVertices.data(), GL_STATIC_DRAW);
        const GLsizei stride = kBatchFloatsPerVertex * sizeof(float);
        qvPointAttribute(QvAttribute::position, batchVbo, 4, stride);
        qvPointAttribute(QvAttribute::atlasCoords, batchVbo, 2, stride, 4 * sizeof(float));
        glBindVertexArray(0);
    } else {
        glBindBuffer(GL_ARRAY_BUFFER, batchVbo.get());
        glBufferData(GL_ARRAY_BUFFER, bytes, batchVertices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
    batchVertexCount = static_cast<GLsizei>(batchVertices.size() / kBatchFloatsPerVertex);
}

void QvLabel::deleteBuffers()
{
    batchVao.reset();
    batchVbo.reset();
    batchVertexCount = 0;
}

void QvLabel::optimizeDraw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    QvShader* s = optimizeTextShader != nullptr ? optimizeTextShader : textShader;
    if (s == nullptr || !batchVao || batchVertexCount == 0) {
        return;
    }
    s->useProgram();
    takeCameraMatrices(camera);
    currentColor = color;
    // The batched corners are already in the world.
    _prepareUniforms(*s, glm::mat4(1.0f));
    glBindVertexArray(batchVao.get());
    glDrawArrays(GL_TRIANGLES, 0, batchVertexCount);
    glBindVertexArray(0);
}

void QvLabel::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (shader != nullptr) shader->useProgram();
    takeCameraMatrices(camera);
    currentColor = color;
    qvSetControlStencil(1, 0xFF);
    if (is3D || !optimized) {
        drawGlyphs(camera, currentColor);
        return;
    }
    if (font2D == nullptr) {
        return;
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, font2D->atlasTexture.get());
    optimizeDraw(camera);
    glBindTexture(GL_TEXTURE_2D, 0);
}
