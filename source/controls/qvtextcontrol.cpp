// qvtextcontrol: glyph objects and slots of a control's text, placed by the
// layout arithmetic of qvtextlayout.
#include "controls/qvtextcontrol.h"

#include "engine/core/qvdictionary.h"

#include <algorithm>
#include <array>

#include <utf8.h>

#include "engine/core/qvcamera.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"
#include "engine/text/qvcharacter3d.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvfont2d.h"
#include "engine/text/qvtext3d.h"

namespace {

constexpr char16_t kSecondFallback = u'?';
constexpr GLsizei kQuadVertexCount = 6;
constexpr std::size_t kQuadFloats = 24;  // 6 x (x, y, u, v)

bool isSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

// A glyph object's name: its code unit as UTF-8 (wrapping looks for " ").
// A surrogate half is no character of its own and is named U+FFFD.
std::string nameOf(char16_t c)
{
    std::string name;
    utf8::append(isSurrogate(c) ? char32_t(0xFFFD) : char32_t(c), std::back_inserter(name));
    return name;
}

}  // namespace

QvTextControl::QvTextControl(const std::string& name, Camera& camera, std::int64_t firstTransformId,
                             std::size_t slotCount, const QvTextDepths& depths)
    : QvBoxControl(name, camera, firstTransformId), cGlyphs(slotCount), depths(depths),
      builtTransform(transform)
{
}

void QvTextControl::useFont(QvFont3D& font)
{
    font3D = &font;
    is3D = true;
    scale = qvInitialScale3D;
}

void QvTextControl::useFont(QvFont2D& font)
{
    font2D = &font;
    is3D = false;
    scale = qvInitialScale2D;
}

const std::u16string& QvTextControl::useDictionary(const QvDictionary& source, int textLanguage, int textKey)
{
    dictionary = &source;
    language = textLanguage;
    key = textKey;
    return source.text(language, key);
}

QvTextControl::~QvTextControl()
{
    leaveTree();
    // Glyph objects point at their transforms: they go first.
    glyphs2D.clear();
    glyphs3D.clear();
}

void QvTextControl::leaveTree()
{
    if (objectTree == nullptr) {
        return;
    }
    for (const auto& t : glyphTransforms) objectTree->remove(t.get());
    for (const QvGlyphSlot& slot : cGlyphs) {
        if (slot.transform) objectTree->remove(slot.transform.get());
    }
    // The control's own transform goes with it; one its creator handed over
    // stays where the creator put it.
    if (transform == builtTransform) objectTree->remove(transform);
}

void QvTextControl::setTransform(QvTransform* t)
{
    if (t != transform) leaveTree();
    QvBoxControl::setTransform(t);
}

void QvTextControl::setFontSize(float size)
{
    fontSize = qvGlyphScale(size, is3D);
    scale = fontSize;
}

const Character2D* QvTextControl::glyphFor(char16_t code) const
{
    if (font2D == nullptr) {
        return nullptr;
    }
    for (char16_t candidate : {code, qvFallbackCode2D, kSecondFallback}) {
        if (isSurrogate(candidate)) continue;
        if (const Character2D* glyph = font2D->findCharacter(candidate)) return glyph;
    }
    return nullptr;
}

std::size_t QvTextControl::slotsInUse() const
{
    return static_cast<std::size_t>(std::clamp<std::int64_t>(cLength, 0, std::int64_t(cGlyphs.size())));
}

QvTextBox QvTextControl::textBox() const
{
    return {size.width, size.height, size.depth, drawnScaling(), padding};
}

void QvTextControl::enterTree()
{
    if (objectTree->print(transform) == nullptr) {
        objectTree->insert(transform->getParent(), transform);
    }
}

std::unique_ptr<QvTransform> QvTextControl::makeGlyphTransform(bool numbered)
{
    auto t = std::make_unique<QvTransform>(transform);
    if (numbered) {
        t->setId(transform->getId() + transformIdCounter);
        ++transformIdCounter;
    }
    return t;
}

void QvTextControl::place(QvTransform& t, const QvGlyphPlacement& p)
{
    t.setTranslation(p.position);
    t.setScaling(p.scale, p.scale, p.scale);
    t.setDimension(p.dimension);
    t.updateRelativeTransformation(transform);
}

void QvTextControl::placeGlyphs(const QvLineLayout& layout)
{
    const std::size_t n = std::min(layout.glyphs.size(), glyphTransforms.size());
    for (std::size_t i = 0; i < n; ++i) place(*glyphTransforms[i], layout.glyphs[i]);
}

void QvTextControl::placeSlots(const QvLineLayout& layout)
{
    const std::size_t n = std::min(layout.glyphs.size(), slotsInUse());
    for (std::size_t i = 0; i < n; ++i) {
        if (cGlyphs[i].glyph != nullptr) place(*cGlyphs[i].transform, layout.glyphs[i]);
    }
}

std::vector<QvGlyphMetrics> QvTextControl::slotMetrics() const
{
    std::vector<QvGlyphMetrics> metrics;
    metrics.reserve(cGlyphs.size());
    for (std::size_t i = 0; i < slotsInUse(); ++i) {
        if (cGlyphs[i].glyph != nullptr) metrics.push_back(cGlyphs[i].metrics);
    }
    return metrics;
}

void QvTextControl::definedMaxHeightChar(float h)
{
    if (h > maxHeight) maxHeight = h;
}

// --- string text -------------------------------------------------------------------

void QvTextControl::initLabel3D(const std::u16string& label)
{
    QvBoxControl::setDimension();
    enterTree();
    if (font3D == nullptr) {
        return;
    }
    for (char16_t c : label) {
        const Character3D& mesh = font3D->getChar3D(c);
        glyphMetrics.push_back(qvGlyphMetrics(mesh, c));
        auto glyph = std::make_unique<QvCharacter3D>(nameOf(c), mesh);
        auto t = makeGlyphTransform();
        glyph->setTransform(t.get());
        objectTree->insert(transform, t.get());
        glyph->shader = textShader;
        glyph->addLight(light);
        glyph->initBuffers();
        glyphs3D.push_back(std::move(glyph));
        glyphTransforms.push_back(std::move(t));
    }
    const QvLineLayout line = qvLayOutLine(textBox(), glyphMetrics, scale, depths.build);
    placeGlyphs(line);
    textWidth += line.textWidth;
    definedMaxHeightChar(line.maxHeight);
}

void QvTextControl::addGlyph2D(char16_t code, std::unique_ptr<QvTransform> t)
{
    const Character2D* record = glyphFor(code);
    if (record == nullptr) {
        return;  // a font without the code unit and without any fallback
    }
    glyphMetrics.push_back(qvGlyphMetrics(*record, code));
    auto glyph = std::make_unique<QvCharacter2D>(nameOf(code), record);
    glyph->setTransform(t.get());
    objectTree->insert(transform, t.get());
    glyph->shader = textShader;
    glyph->addLight(light);
    glyph->initBuffers();
    glyphs2D.push_back(std::move(glyph));
    glyphTransforms.push_back(std::move(t));
}

void QvTextControl::initLabel2D(const std::u16string& label)
{
    QvBoxControl::setDimension();
    enterTree();
    for (char16_t c : label) addGlyph2D(c, makeGlyphTransform(numberedBitmapGlyphs));
    const QvLineLayout line = qvLayOutLine(textBox(), glyphMetrics, scale, depths.build);
    placeGlyphs(line);
    textWidth += line.textWidth;
    definedMaxHeightChar(line.maxHeight);
}

void QvTextControl::initWrapperLabel2D(const std::u16string& label)
{
    QvBoxControl::setDimension();
    enterTree();
    for (char16_t c : label) addGlyph2D(c, makeGlyphTransform());
    const QvLineLayout text = qvWrapBitmapText(textBox(), glyphMetrics, scale, depths.build);
    placeGlyphs(text);
    textWidth += text.textWidth;
    definedMaxHeightChar(text.maxHeight);
}

void QvTextControl::textAlign3D()
{
    QvLineLayout built;
    built.textWidth = textWidth;
    built.maxHeight = maxHeight;
    const std::optional<QvLineLayout> line =
        qvAlignOutlineLine(textBox(), glyphMetrics, built, scale, depths.fits3D, depths.shrink3D);
    if (line) {
        placeGlyphs(*line);
        textWidth = line->textWidth;
    }
}

void QvTextControl::textAlign2D()
{
    const QvFitResult fit = qvFitBitmapLine(textBox(), glyphMetrics, scale, textWidth);
    textWidth = fit.textWidth;
    alignCenter(fit.scale);
}

void QvTextControl::alignCenter(float k)
{
    placeGlyphs(qvCentreBitmapLine(textBox(), glyphMetrics, k, textWidth, maxHeight, depths.centre2D));
}

// --- buffer text -------------------------------------------------------------------

void QvTextControl::uploadSlot(QvGlyphSlot& slot)
{
    if (slot.glyph == slot.uploaded && slot.vao) {
        return;
    }
    const std::array<float, kQuadFloats> quad = qvGlyphQuadVertices(*slot.glyph, 1.0f);
    if (!slot.vao) {
        slot.vao = QvVertexArray::create();
        glBindVertexArray(slot.vao.get());
        slot.vbo = qvMakeBuffer(GL_ARRAY_BUFFER, sizeof quad, quad.data(), GL_DYNAMIC_DRAW);
        qvPointAttribute(QvAttribute::position, slot.vbo, 4);  // (x, y, u, v) records
        glBindVertexArray(0);
    } else {
        glBindBuffer(GL_ARRAY_BUFFER, slot.vbo.get());
        glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof quad, quad.data());
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    slot.uploaded = slot.glyph;
}

void QvTextControl::initCLabel2D(const char16_t* p, int n)
{
    QvBoxControl::setDimension();
    enterTree();
    const std::size_t count =
        p == nullptr || n < 1 ? 0 : std::min<std::size_t>(std::size_t(n), cGlyphs.size());
    for (std::size_t i = 0; i < count; ++i) {
        QvGlyphSlot& slot = cGlyphs[i];
        slot.glyph = glyphFor(p[i]);
        if (slot.glyph == nullptr) continue;
        slot.metrics = qvGlyphMetrics(*slot.glyph, p[i]);
        // A slot keeps its transform unless the control's transform was replaced.
        if (!slot.transform || slot.transform->getParent() != transform) {
            slot.transform = std::make_unique<QvTransform>(transform, false);
        }
        objectTree->insert(transform, slot.transform.get());
        uploadSlot(slot);
    }
    const QvLineLayout line = qvLayOutLine(textBox(), slotMetrics(), scale, depths.bufferBuild);
    placeSlots(line);
    textWidth += line.textWidth;
    definedMaxHeightChar(line.maxHeight);
}

void QvTextControl::textCAlign2D()
{
    const std::vector<QvGlyphMetrics> metrics = slotMetrics();
    const QvFitResult fit = qvFitBitmapLine(textBox(), metrics, scale, textWidth);
    textWidth = fit.textWidth;
    alignCCenter(fit.scale);
}

void QvTextControl::alignCCenter(float k)
{
    placeSlots(qvCentreBitmapLine(textBox(), slotMetrics(), k, textWidth, maxHeight, depths.bufferCentre));
}

// --- clearing and drawing ------------------------------------------------------------

void QvTextControl::buildCentredText()
{
    if (is3D) {
        initLabel3D(text);
        if (!text.empty()) textAlign3D();
    } else {
        initLabel2D(text);
        if (!text.empty()) textAlign2D();
    }
}

void QvTextControl::clearGlyphs()
{
    // Out of the tree before the transforms go, so it never holds a freed one.
    objectTree->remove(transform);
    objectTree->insert(transform->getParent(), transform);
    if (cLength > 0) {
        for (std::size_t i = 0; i < slotsInUse(); ++i) cGlyphs[i].glyph = nullptr;
    } else {
        glyphs3D.clear();
        glyphs2D.clear();
        glyphTransforms.clear();
        glyphMetrics.clear();
    }
    textWidth = 0.0f;
    maxHeight = 0.0f;
}

void QvTextControl::drawSlots(Camera& camera, glm::vec4 colour, std::size_t count)
{
    if (textShader == nullptr) {
        return;
    }
    textShader->useProgram();
    textShader->setUniform("camera", camera.getCameraMatrix());
    textShader->setUniform("projection", camera.getProjectionMatrix());
    textShader->setUniform("diffuseColor", colour);
    glActiveTexture(GL_TEXTURE0);
    for (std::size_t i = 0; i < std::min(count, cGlyphs.size()); ++i) {
        const QvGlyphSlot& slot = cGlyphs[i];
        if (slot.glyph == nullptr || !slot.vao) continue;
        textShader->setUniform("model", slot.transform->getMatrix());
        glBindTexture(GL_TEXTURE_2D, slot.glyph->texture);
        glBindVertexArray(slot.vao.get());
        glDrawArrays(GL_TRIANGLES, 0, kQuadVertexCount);
    }
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void QvTextControl::drawGlyphs(Camera& camera, glm::vec4 colour)
{
    if (textShader == nullptr) {
        return;
    }
    if (is3D) {
        for (auto& glyph : glyphs3D) glyph->draw(*textShader, glyphDrawFlag, camera, colour);
    } else if (cLength > 0) {
        drawSlots(camera, colour, slotsInUse());
    } else {
        for (auto& glyph : glyphs2D) glyph->draw(*textShader, glyphDrawFlag, camera, colour);
    }
}
