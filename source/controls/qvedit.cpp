// qvedit: extruded glyphs, caret bar, keys, number entry and the draw.
#include "controls/qvedit.h"

#include <fmt/core.h>

#include "engine/core/qvcamera.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "engine/text/qvcharacter3d.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvtext3d.h"

namespace {

constexpr float fontSizeDivisor = 100000.0f;
constexpr float caretDepthOffset = 0.01f;
// Glyph advances are pixels x 60 x scale; the bar's own advance has no factor
// and the bar is centred with 30.
constexpr float glyphAdvanceFactor = 60.0f;
constexpr float barCentringFactor = 30.0f;
constexpr char16_t barCode = u'|';
constexpr double blinkPeriod = 1.0;
constexpr glm::vec4 focusedBoxColor{0.0156f, 0.2894f, 0.3906f, 1.0f};
constexpr glm::vec4 boxColor{0.6f, 1.0f, 1.0f, 1.0f};
constexpr glm::vec4 glyphColor{0.0f, 0.0f, 0.0f, 1.0f};
constexpr glm::vec4 barDark{0.1f, 0.1f, 0.1f, 1.0f};
constexpr glm::vec4 barLight{0.9f, 0.9f, 0.9f, 1.0f};
constexpr int shiftModifier = 1;

float pixels(const Character3D& glyph)
{
    return static_cast<float>(glyph.character.advance >> 6);
}

}  // namespace

QvEdit::QvEdit(const std::string& name, const QvFont3D& font, QvLight* /*light*/, Camera& camera)
    : QvBoxControl(name, camera, qvEditFirstTransformId), font(font)
{
    *onChar += [this](QvMaterialObject* s, QvCharEventArgs* a) { addChar(s, a); };
    *onKeyDown += [this](QvMaterialObject*, QvKeyboardEventArgs* a) { keyDown(this, a); };
    *onMouseButtonPress += [this](QvMaterialObject* s, QvMouseEventArgs* a) { pickChar(s, a); };
}

QvEdit::~QvEdit() = default;

void QvEdit::setFontSize(float size)
{
    fontSize = size / fontSizeDivisor;
    scale = fontSize;
}

float QvEdit::advanceOf(char16_t code) const
{
    return pixels(font.getChar3D(code)) * glyphAdvanceFactor * scale;
}

void QvEdit::refreshFrame()
{
    boxScaling = transform->getScalingVector();
    line.setFrame(size.width, boxScaling.x);
}

void QvEdit::placeTransform(QvTransform& t, glm::vec3 position)
{
    t.setTranslation(position);
    t.updateRelativeTransformation(glyphParent);
}

void QvEdit::caretHome(float x)
{
    caretPosition = {x, -(size.height / 4.0f) * boxScaling.y, size.depth / 2.0f + caretDepthOffset};
    barPosition = caretPosition + glm::vec3(barAdvance, 0.0f, 0.0f);
    line.placeCaret(caretPosition.x);
    placeTransform(*barTransform, barPosition);
}

// The bar is built here (the 2D box's createBar); it stays out of the tree.
void QvEdit::setTransform(QvTransform* t)
{
    QvBoxControl::setTransform(t);
    clear();
    bar.reset();
    ownBarTransform = std::make_unique<QvTransform>(transform);
    barTransform = ownBarTransform.get();
    barTransform->setId(transform->getId() + transformIdCounter++);
    glyphParent = transform;
    const Character3D& glyph = font.getChar3D(barCode);
    bar = std::make_unique<QvCharacter3D>("|", glyph);
    bar->setTransform(barTransform);
    barAdvance = pixels(glyph) * scale;
    bar->shader = barShader;
    bar->pickingShader = barShader;
    bar->addLight(light);
    bar->initBuffers();
    refreshFrame();
    barTransform->setScaling(scale, scale, scale);
    barTransform->setDimension(glm::vec3(scale * barAdvance) * boxScaling);
    caretHome(-(size.width / 2.0f) * boxScaling.x);
}

void QvEdit::moveBarToStartPosition()
{
    if (!barTransform) return;
    refreshFrame();
    caretHome(-(size.width / 2.0f) * boxScaling.x);
}

void QvEdit::moveBarToEndPosition()
{
    if (!barTransform) return;
    refreshFrame();
    caretHome((size.width / 2.0f) * boxScaling.x);
}

void QvEdit::moveBar(float x)
{
    if (!barTransform || !bar) return;
    barPosition.x = x - pixels(*bar->glyph) * barCentringFactor * scale;
    placeTransform(*barTransform, barPosition);
}

// ------------------------------------------------------------------- glyphs

void QvEdit::insertGlyph(char16_t code)
{
    if (!glyphParent) return;
    const float advance = advanceOf(code);
    Glyph glyph;
    glyph.transform = std::make_unique<QvTransform>(glyphParent);
    glyph.transform->setId(transform->getId() + transformIdCounter++);
    glyph.object = std::make_unique<QvCharacter3D>(qvEncodeUtf8(code), font.getChar3D(code));
    QvCharacter3D& object = *glyph.object;
    object.setTransform(glyph.transform.get());
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

void QvEdit::placeGlyphs()
{
    for (int i = 0; i < line.glyphCount(); ++i) {
        const float x = line.glyphX(i);
        Glyph& glyph = glyphs[static_cast<std::size_t>(i)];
        if (glyph.object->linePosition.x == x) continue;
        glyph.object->linePosition.x = x;
        placeTransform(*glyph.transform, {x, caretPosition.y, caretPosition.z});
    }
}

QvCharacter3D* QvEdit::glyphAt(int position)
{
    if (position < 1 || position > line.glyphCount()) return nullptr;
    placeGlyphs();
    return glyphs[static_cast<std::size_t>(position - 1)].object.get();
}

void QvEdit::afterEdit(const QvEditChange& change)
{
    if (!change.applied) return;
    if (change.removed >= 0) {
        std::erase(selection, glyphs[static_cast<std::size_t>(change.removed)].object.get());
        glyphs.erase(glyphs.begin() + change.removed);
    }
    if (change.caretMoved) {
        caretPosition.x = line.caretX();
        moveBar(caretPosition.x);
    }
}

void QvEdit::clear()
{
    selection.clear();
    glyphs.clear();
    line.clear();
    text.clear();
}

// --------------------------------------------------------------------- typing

void QvEdit::addChar(QvMaterialObject*, QvCharEventArgs* args)
{
    if (line.admits(args->codepoint)) insertGlyph(static_cast<char16_t>(args->codepoint));
}

void QvEdit::keyDown(QvEdit*, QvKeyboardEventArgs* args)
{
    switch (args->key) {
    case qvKeyEnter: {
        setValue(numbers.entered(line.text()));
        QvEventArgs entered;
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

void QvEdit::pickChar(QvMaterialObject*, QvMouseEventArgs* args)
{
    focused = true;
    for (QvMaterialObject* child : children) {
        if (!(args->mods == shiftModifier && child->selected)) child->selected = false;
        child->findIntersectsWithAABB(mouseVector, args);
    }
}

void QvEdit::handlerOnMouseButtonPress(QvMaterialObject* sender, QvMouseEventArgs* args)
{
    sender->selected = true;
    if (args->mods != shiftModifier) selection.clear();
    selection.push_back(sender);
}

// ------------------------------------------------------------ program text

void QvEdit::layOutFromStart(const std::string& utf8, bool signAllowed)
{
    clear();
    tickerMode = false;
    moveBarToStartPosition();
    bool first = true;
    for (char32_t code : qvDecodeUtf8(utf8)) {
        const bool sign = signAllowed && first && code == U'-';
        first = false;
        if (sign || line.admits(code)) insertGlyph(static_cast<char16_t>(code));
    }
}

void QvEdit::setValue(int v)
{
    numbers.value = numbers.clamp(v);
    layOutFromStart(std::to_string(numbers.value), true);
}

void QvEdit::changeText(const std::string& utf8)
{
    layOutFromStart(utf8);
}

bool QvEdit::setText(const std::string& utf8)
{
    const QvParsedNumber parsed = qvParseDecimal(utf8);
    if (parsed.reading != QvNumberReading::number) {
        fmt::print("{}: \"{}\" is not a whole number in the int range; the box keeps {}\n", name, utf8,
                   numbers.value);
        return false;
    }
    numbers.value = parsed.value;
    layOutFromStart(utf8, true);
    return true;
}

void QvEdit::setString(const std::string& utf8)
{
    layOutFromStart(utf8);
}

void QvEdit::setEnum(const std::string& utf8, int v)
{
    numbers.value = v;
    layOutFromStart(utf8);
}

void QvEdit::nextEnum()
{
    if (const std::string* name = numbers.step(1)) changeText(*name);
}

void QvEdit::prevEnum()
{
    if (const std::string* name = numbers.step(-1)) changeText(*name);
}

void QvEdit::updateText(int newLanguage)
{
    language = newLanguage;
    if (!dictionary) return;
    setTicker(std::u16string(dictionary->text(language, key)));
}

void QvEdit::setTicker(QvDictionary* source, int newLanguage, int newKey)
{
    dictionary = source;
    key = newKey;
    updateText(newLanguage);
}

void QvEdit::setTicker(int newKey)
{
    key = newKey;
    updateText(language);
}

// Typed through the input rules, with the scrolling of the mode the box is
// in when the ticker starts.
void QvEdit::setTicker(const std::u16string& tickerText)
{
    clear();
    text = tickerText;
    moveBarToEndPosition();
    for (char32_t code : qvDecodeUtf16(tickerText)) {
        if (line.admits(code)) insertGlyph(static_cast<char16_t>(code));
    }
    tickerMode = true;
}

// ------------------------------------------------------------------ drawing

void QvEdit::drawBar(Camera& camera)
{
    if (camera.frameTime - blinkTime >= blinkPeriod) {
        barLit = !barLit;
        barColor = barLit ? barLight : barDark;
        blinkTime = camera.frameTime;
    }
    if (bar && bar->shader) bar->draw(*bar->shader, glyphDrawFlag, camera, barColor);
}

void QvEdit::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (shader == nullptr || !transform) return;
    currentColor = focused ? focusedBoxColor : boxColor;
    prepareBoxDraw(camera);
    // The box leaves the stencil write mask as it finds it; the depth
    // function is its own, whatever the previous draw left.
    glDepthFunc(GL_LEQUAL);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glStencilFunc(GL_ALWAYS, 1, 0xFF);
    drawFrame();
    // Text passes where the stencil holds 0 or 1 and clears it: not clipped.
    glStencilOp(GL_KEEP, GL_KEEP, GL_ZERO);
    glStencilFunc(GL_GEQUAL, 1, 0xFF);
    if (focused) drawBar(camera);
    currentColor = glyphColor;
    if (tickerMode) line.shift(-tickerStep);
    placeGlyphs();
    if (textShader) {
        for (Glyph& glyph : glyphs) glyph.object->draw(*textShader, glyphDrawFlag, camera, currentColor);
    }
    line.wrap();
}
