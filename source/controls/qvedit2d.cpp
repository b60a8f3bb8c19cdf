// qvedit2d: glyph objects, caret bar, keys, ticker and the two draw paths.
#include "controls/qvedit2d.h"

#include <fmt/core.h>

#include "engine/core/qvcamera.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"
#include "engine/text/qvfont2d.h"
#include "engine/text/qvtext3d.h"

namespace {

constexpr float fontSizeDivisor = 1667.0f;
constexpr float caretDepthOffset = 0.02f;  // the text floats just in front of the face
constexpr char16_t barCode = u'|';
constexpr char16_t fallbackCode = 0x00A4;  // the fonts' stand-in glyph
constexpr double blinkPeriod = 1.0;
constexpr double tickerPeriod = 0.016;
constexpr glm::vec4 textColor{0.9f, 0.9f, 0.9f, 1.0f};
constexpr glm::vec4 selectionColor{0.2f, 0.24f, 0.83f, 1.0f};
constexpr glm::vec4 barDark{0.1f, 0.1f, 0.1f, 1.0f};
constexpr glm::vec4 barLight{0.9f, 0.9f, 0.9f, 1.0f};
constexpr std::size_t floatsPerGlyph = 36;
constexpr GLsizei verticesPerGlyph = 6;
constexpr GLsizei batchStride = 6 * sizeof(float);  // x y z w, u v
constexpr int shiftModifier = 1;

}  // namespace

QvEdit2D::QvEdit2D(const std::string& name, QvFont2D& font, QvLight* /*light*/, Camera& camera)
    : QvBoxControl(name, camera, qvEdit2DFirstTransformId), font(font)
{
    *onChar += [this](QvMaterialObject* s, QvCharEventArgs* a) { addChar(s, a); };
    *onKeyDown += [this](QvMaterialObject*, QvKeyboardEventArgs* a) { keyDown(this, a); };
    *onMouseButtonPress += [this](QvMaterialObject* s, QvMouseEventArgs* a) { pickChar(s, a); };
    *onCameraPosition += [this](Camera*, QvCameraPositionEventArgs*) { updatePosition(); };
}

QvEdit2D::~QvEdit2D()
{
    // The tree belongs to the widget and outlives the box: take our parts out.
    clear();
    if (objectTree && barTransform) objectTree->remove(barTransform);
}

void QvEdit2D::setFontSize(float size)
{
    fontSize = size / fontSizeDivisor;
    scale = fontSize;
}

void QvEdit2D::setTransform(QvTransform* t)
{
    QvBoxControl::setTransform(t);
    createBar();
}

const Character2D* QvEdit2D::glyphRecord(char16_t code) const
{
    if (const Character2D* record = font.findCharacter(code)) return record;
    return font.findCharacter(fallbackCode);
}

float QvEdit2D::advanceOf(const Character2D* record) const
{
    return record ? static_cast<float>(record->advance >> 6) * scale : 0.0f;
}

void QvEdit2D::refreshFrame()
{
    boxScaling = transform->getScalingVector();
    line.setFrame(size.width, boxScaling.x);
}

void QvEdit2D::placeTransform(QvTransform& t, glm::vec3 position)
{
    t.setTranslation(position);
    t.updateRelativeTransformation(glyphParent);
}

void QvEdit2D::createBar()
{
    clear();  // glyphs hang under the transform the box had before
    if (objectTree && barTransform) objectTree->remove(barTransform);
    bar.reset();
    ownBarTransform = std::make_unique<QvTransform>(transform);
    barTransform = ownBarTransform.get();
    barTransform->setId(transform->getId() + transformIdCounter++);
    glyphParent = transform;
    const Character2D* record = glyphRecord(barCode);
    bar = std::make_unique<QvCharacter2D>("|", record);
    bar->setTransform(barTransform);
    if (objectTree) objectTree->insert(transform, barTransform);
    barAdvance = advanceOf(record);
    bar->shader = textShader;
    bar->pickingShader = textShader;
    bar->addLight(light);
    bar->initBuffers();
    refreshFrame();
    caretPosition = {-(size.width / 2.0f) * boxScaling.x, -(size.height / 4.0f) * boxScaling.y,
                     size.depth / 2.0f + caretDepthOffset};
    barPosition = caretPosition;
    line.placeCaret(caretPosition.x);
    barTransform->setScaling(scale, scale, scale);
    barTransform->setDimension(glm::vec3(scale * barAdvance) * boxScaling);
    placeTransform(*barTransform, barPosition);
}

void QvEdit2D::moveBarToStartPosition()
{
    if (!barTransform) return;
    refreshFrame();
    const float margin = size.width * (2.0f * static_cast<float>(padding)) / 100.0f;
    caretPosition = {margin - (size.width / 2.0f) * boxScaling.x, -(size.height / 4.0f) * boxScaling.y,
                     size.depth / 2.0f + caretDepthOffset};
    barPosition = {-(size.width / 2.0f) * boxScaling.x, caretPosition.y, caretPosition.z};
    line.placeCaret(caretPosition.x);
    placeTransform(*barTransform, barPosition);
}

void QvEdit2D::moveBarToEndPosition()
{
    if (!barTransform) return;
    refreshFrame();
    const float margin = size.width * (2.0f * static_cast<float>(padding)) / 100.0f;
    caretPosition = {(size.width / 2.0f) * boxScaling.x - margin, -(size.height / 4.0f) * boxScaling.y,
                     size.depth / 2.0f + caretDepthOffset};
    barPosition = {(size.width / 2.0f) * boxScaling.x, caretPosition.y, caretPosition.z};
    line.placeCaret(caretPosition.x);
    placeTransform(*barTransform, barPosition);
}

void QvEdit2D::moveBar(float x)
{
    if (!barTransform || !bar || !bar->glyph) return;
    const double half = static_cast<double>(bar->glyph->advance >> 6) * 0.5 * static_cast<double>(scale);
    barPosition.x = static_cast<float>(static_cast<double>(x) - half);
    placeTransform(*barTransform, barPosition);
}

// ------------------------------------------------------------------- glyphs

void QvEdit2D::insertGlyph(char16_t code)
{
    if (!glyphParent) return;  // no transform yet: nothing to place glyphs under
    const Character2D* record = glyphRecord(code);
    const float advance = advanceOf(record);
    Glyph glyph;
    glyph.transform = std::make_unique<QvTransform>(glyphParent);
    glyph.transform->setId(transform->getId() + transformIdCounter++);
    glyph.object = std::make_unique<QvCharacter2D>(qvEncodeUtf8(code), record);
    QvCharacter2D& object = *glyph.object;
    object.setTransform(glyph.transform.get());
    if (objectTree) objectTree->insert(transform, glyph.transform.get());
    object.shader = textShader;
    object.pickingShader = textShader;
    object.addLight(light);
    *object.onMouseButtonPress +=
        [this](QvMaterialObject* s, QvMouseEventArgs* a) { handlerOnMouseButtonPress(s, a); };
    object.initBuffers();
    glyph.transform->setScaling(scale, scale, scale);
    glyph.transform->setDimension(glm::vec3(advance * scale) * boxScaling);
    const float x = line.caretX();
    object.linePosition.x = x;
    placeTransform(*glyph.transform, {x, caretPosition.y, caretPosition.z});

    const QvEditChange change = line.insert(code, advance);
    glyphs.insert(glyphs.begin() + change.inserted, std::move(glyph));
    if (change.caretMoved) {
        caretPosition.x = line.caretX();
        moveBar(caretPosition.x);
    }
    QvEventArgs added;
    transform->onChange(transform, &added);
}

void QvEdit2D::dropGlyph(int index)
{
    Glyph& glyph = glyphs[static_cast<std::size_t>(index)];
    if (objectTree) objectTree->remove(glyph.transform.get());
    std::erase(selection, glyph.object.get());
    glyphs.erase(glyphs.begin() + index);
}

void QvEdit2D::placeGlyphs()
{
    for (int i = 0; i < line.glyphCount(); ++i) {
        const float x = line.glyphX(i);
        QvCharacter2D& object = *glyphs[static_cast<std::size_t>(i)].object;
        if (object.linePosition.x == x) continue;
        object.linePosition.x = x;
        placeTransform(*glyphs[static_cast<std::size_t>(i)].transform, {x, caretPosition.y, caretPosition.z});
    }
}

QvCharacter2D* QvEdit2D::glyphAt(int position)
{
    if (position < 1 || position > line.glyphCount()) return nullptr;
    placeGlyphs();
    return glyphs[static_cast<std::size_t>(position - 1)].object.get();
}

void QvEdit2D::afterEdit(const QvEditChange& change)
{
    if (!change.applied) return;
    if (change.removed >= 0) dropGlyph(change.removed);
    if (change.caretMoved) {
        caretPosition.x = line.caretX();
        moveBar(caretPosition.x);
    }
    optimized = false;
}

void QvEdit2D::clear()
{
    while (!glyphs.empty()) dropGlyph(static_cast<int>(glyphs.size()) - 1);
    line.clear();
    text.clear();
}

// --------------------------------------------------------------------- typing

void QvEdit2D::addChar(QvMaterialObject*, QvCharEventArgs* args)
{
    if (!line.admits(args->codepoint)) return;
    insertGlyph(static_cast<char16_t>(args->codepoint));
    optimized = false;
}

void QvEdit2D::keyDown(QvEdit2D*, QvKeyboardEventArgs* args)
{
    if (readOnly) return;
    switch (args->key) {
    case qvKeyEnter: {
        QvEventArgs entered;
        optimized = true;
        rebuildBatch();
        text = line.text();
        enteredEvent(this, &entered);
        break;
    }
    case qvKeyBackspace:
        afterEdit(line.backspace());
        break;
    case qvKeyDelete:
        afterEdit(line.del());
        break;
    case qvKeyRight:
        afterEdit(line.right());
        break;
    case qvKeyLeft:
        afterEdit(line.left());
        break;
    default:
        break;
    }
}

void QvEdit2D::pickChar(QvMaterialObject*, QvMouseEventArgs* args)
{
    if (!readOnly) focused = true;
    for (QvMaterialObject* child : children) {
        if (!(args->mods == shiftModifier && child->selected)) child->selected = false;
        child->findIntersectsWithAABB(mouseVector, args);
    }
}

void QvEdit2D::handlerOnMouseButtonPress(QvMaterialObject* sender, QvMouseEventArgs* args)
{
    sender->selected = true;
    if (args->mods != shiftModifier) selection.clear();
    selection.push_back(sender);
}

// ------------------------------------------------------------ program text

void QvEdit2D::layOut(const std::u32string& codes, bool signAllowed)
{
    bool first = true;
    for (char32_t code : codes) {
        const bool sign = signAllowed && first && code == U'-' && !readOnly;
        first = false;
        if (sign || line.admits(code)) insertGlyph(static_cast<char16_t>(code));
    }
}

// Edit text leaves ticker mode before it is laid out, so it scrolls like
// typed text instead of running past the box.
void QvEdit2D::layOutFromStart(const std::string& utf8, bool signAllowed)
{
    clear();
    tickerMode = false;
    moveBarToStartPosition();
    layOut(qvDecodeUtf8(utf8), signAllowed);
}

void QvEdit2D::changeText(const std::string& utf8)
{
    layOutFromStart(utf8);
}

void QvEdit2D::setValue(int v)
{
    numbers.value = numbers.clamp(v);
    layOutFromStart(std::to_string(numbers.value), true);
}

bool QvEdit2D::setText(const std::string& utf8)
{
    const QvParsedNumber parsed = qvParseDecimal(utf8);
    if (parsed.reading != QvNumberReading::number) {
        fmt::print("{}: \"{}\" is not a whole number in the int range; the box keeps {}\n", name, utf8,
                   numbers.value);
        return false;
    }
    numbers.value = parsed.value;
    layOutFromStart(utf8, true);
    rebuildBatchIfDrawn();
    return true;
}

void QvEdit2D::setString(const std::string& utf8)
{
    layOutFromStart(utf8);
}

void QvEdit2D::setEnum(const std::string& utf8, int v)
{
    numbers.value = v;
    layOutFromStart(utf8);
    rebuildBatchIfDrawn();
}

void QvEdit2D::nextEnum()
{
    if (const std::string* name = numbers.step(1)) changeText(*name);
}

void QvEdit2D::prevEnum()
{
    if (const std::string* name = numbers.step(-1)) changeText(*name);
}

// ------------------------------------------------------------------- ticker

void QvEdit2D::updateText(int newLanguage)
{
    language = newLanguage;
    if (!dictionary) return;
    text = dictionary->text(language, key);
    setTicker(std::u16string(text));
}

void QvEdit2D::setTicker(QvDictionary* source, int newLanguage, int newKey)
{
    dictionary = source;
    language = newLanguage;
    key = newKey;
    updateText(language);
}

void QvEdit2D::setTicker(int newKey)
{
    key = newKey;
    updateText(language);
}

void QvEdit2D::setTicker(const std::u16string& tickerText)
{
    clear();
    text = tickerText;
    moveBarToEndPosition();
    initLabel2D(tickerText);
    tickerMode = true;
    rebuildBatchIfDrawn();
}

void QvEdit2D::initLabel2D(const std::u16string& tickerText)
{
    if (!transform) return;
    const glm::vec3 s = transform->getScalingVector();
    transform->setDimension({size.width * s.x, size.height * s.y, size.depth * s.z});
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

void QvEdit2D::drawBar(Camera& camera)
{
    if (camera.frameTime - blinkTime >= blinkPeriod) {
        barLit = !barLit;
        barColor = barLit ? barLight : barDark;
        blinkTime = camera.frameTime;
    }
    if (bar && bar->shader) bar->draw(*bar->shader, glyphDrawFlag, camera, barColor);
}

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
    tickerStepDue(camera.frameTime);
    placeGlyphs();
    for (Glyph& glyph : glyphs) {
        QvCharacter2D& object = *glyph.object;
        const bool picked = object.selected && !tickerMode && pickingTextShader;
        QvShader* program = picked ? pickingTextShader : textShader;
        if (!program) continue;
        currentColor = picked ? selectionColor : textColor;
        object.draw(*program, glyphDrawFlag, camera, currentColor);
    }
    line.wrap();
}
