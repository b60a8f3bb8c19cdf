// qveditbox: what the 2D and the 3D edit box share, over their glyph type.
//
// The line itself (codes, advances, caret, scrolling, the key commands) is
// QvEditText and the value QvEditValue; this base mirrors the line's changes
// into one glyph object and transform per character, created when typed and
// freed when deleted, and carries the caret bar, its blink, the text setters
// and the ticker's dictionary texts. Glyph transforms are placed lazily, once
// per draw (or when a glyph is asked for), so a key costs the same however
// long the text is: a scroll is one change of the line's origin.
//
// Box is the derived box (the sender of enteredEvent), Object its glyph
// drawable (QvCharacter2D or QvCharacter3D). The derived box supplies the
// glyphs and their advances, the caret's home positions and Enter.
#pragma once

#include <fmt/core.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "controls/qvboxcontrol.h"
#include "controls/qvedittext.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvevents.h"
#include "engine/core/qvtransform.h"

class QvShader;

template <class Box, class Object>
class QvEditBox : public QvBoxControl {
protected:
    // Declared first: the public names below refer into them.
    QvEditText line;
    QvEditValue numbers;

public:
    static constexpr double blinkPeriod = 1.0;
    static constexpr glm::vec4 barDark{0.1f, 0.1f, 0.1f, 1.0f};
    static constexpr glm::vec4 barLight{0.9f, 0.9f, 0.9f, 1.0f};

    QvEditBox(const std::string& name, Camera& camera, std::int64_t firstTransformId, QvEditFlavour flavour,
              float glyphScale);
    // The glyph and bar transforms leave the tree, which outlives the box.
    ~QvEditBox() override;

    // --- set-up -------------------------------------------------------------------
    virtual void setBarShader(QvShader* s) { barShader = s; }
    virtual void setTextShader(QvShader* s) { textShader = s; }
    virtual void setPickingTextShader(QvShader* s) { pickingTextShader = s; }
    // fontSize and scale = size over the box's divisor.
    virtual void setFontSize(float size) = 0;

    // --- caret ----------------------------------------------------------------------
    virtual void moveBarToStartPosition() = 0;
    virtual void moveBarToEndPosition() = 0;
    // The bar centred on caret x.
    virtual void moveBar(float x);

    // --- text -------------------------------------------------------------------------
    // Drops every glyph (their transforms leave the tree, their GL objects go).
    virtual void clear();
    // value (clamped when the bounds differ), shown in decimal with its sign.
    virtual void setValue(int v);
    virtual int getValue() const { return numbers.value; }
    // The UTF-8 text typed in from the start position through the input
    // rules, then out of ticker mode. A box that ran a ticker lays the text
    // out as its ticker texts: without scrolling, so it starts at the start
    // position even when it runs past the right edge.
    virtual void changeText(const std::string& utf8);
    // As changeText, and value = the text read as a decimal int. A text that
    // is no int changes nothing, prints one line and answers false.
    virtual bool setText(const std::string& utf8);
    // As changeText; the value stays.
    virtual void setString(const std::string& utf8);
    // As changeText with value = v.
    virtual void setEnum(const std::string& utf8, int v);
    // value +/- 1 (clamped) and its entry of enumNames shown; nothing when
    // there is no entry for the new value.
    virtual void nextEnum();
    virtual void prevEnum();

    // --- ticker -----------------------------------------------------------------------
    // The dictionary entry (language, key) as the ticker; nothing without a
    // dictionary.
    virtual void updateText(int newLanguage);
    virtual void setTicker(QvDictionary* source, int newLanguage, int newKey);
    virtual void setTicker(int newKey);
    virtual void setTicker(const std::u16string& tickerText);

    // --- handlers -------------------------------------------------------------------------
    void addChar(QvMaterialObject* sender, QvCharEventArgs* args);
    void keyDown(Box* sender, QvKeyboardEventArgs* args);
    // A click focuses (not a read-only box) and is offered to the children.
    void pickChar(QvMaterialObject* sender, QvMouseEventArgs* args);
    void handlerOnMouseButtonPress(QvMaterialObject* sender, QvMouseEventArgs* args);
    // Toggles the bar's colour once a second, then draws it.
    void drawBar(Camera& camera);

    // --- reading ------------------------------------------------------------------------
    int glyphCount() const { return line.glyphCount(); }
    int caretIndex() const { return line.caretIndex(); }
    // The glyph at position 1..glyphCount, placed where the line has it.
    Object* glyphAt(int position);
    // The codes of the glyphs shown, in order (the typed text, before Enter).
    std::u16string shownText() const { return line.text(); }
    float textWidth() const { return line.textWidth(); }

    // --- fields -------------------------------------------------------------------------
    QvEvent<Box, QvEventArgs> enteredEvent;  // raised by Enter
    std::unique_ptr<Object> bar;             // the caret, the glyph of "|"
    QvTransform* barTransform = nullptr;
    QvDictionary* dictionary = nullptr;
    int language = 0;
    int key = 0;
    float scale;  // box units per glyph unit
    float fontSize = 25.0f;
    QvShader* barShader = nullptr;
    QvShader* textShader = nullptr;
    QvShader* pickingTextShader = nullptr;
    glm::vec3 caretPosition{std::numeric_limits<float>::quiet_NaN()};  // where the next glyph goes
    glm::vec3 barPosition{std::numeric_limits<float>::quiet_NaN()};
    glm::vec3 boxScaling{std::numeric_limits<float>::quiet_NaN()};
    std::u16string text;  // the entered text (2D Enter) or the ticker text
    float barAdvance = std::numeric_limits<float>::quiet_NaN();
    QvTransform* glyphParent = nullptr;
    bool barLit = false;
    glm::vec4 barColor = barDark;
    bool glyphDrawFlag = false;
    bool& digitsOnly = line.digitsOnly;
    int& maxLength = line.maxLength;  // 0: any length
    bool& tickerMode = line.tickerMode;
    std::vector<std::string>& enumNames = numbers.enumNames;
    int& minValue = numbers.minValue;
    int& maxValue = numbers.maxValue;
    int glyphPlacements = 0;  // glyph transforms placed so far, for the tests

protected:
    // The glyph drawable of a code (unplaced, without buffers) and its advance.
    virtual std::unique_ptr<Object> makeGlyph(char16_t code) const = 0;
    virtual float advanceOf(char16_t code) const = 0;
    // Half the bar's width, which moveBar takes off the caret x.
    virtual double barHalfWidth() const = 0;
    // Enter: whatever the box does with its text.
    virtual void enter() = 0;
    // The ticker text's glyphs, from the end position.
    virtual void layOutTicker(const std::u16string& tickerText) = 0;
    // After an edit key or a typed character.
    virtual void edited() {}
    // After setText, setEnum or a new ticker text.
    virtual void textSet() {}

    // A new caret bar from `glyph` with its own transform under the box
    // transform, shown with `program`; glyphs the box had are dropped.
    void buildBar(std::unique_ptr<Object> glyph, QvShader* program);
    // boxScaling from the box transform, and the line's frame.
    void refreshFrame();
    // The caret at (x, the text's height, in front of the face).
    void placeCaret(float x, float depthOffset);
    void placeTransform(QvTransform& t, glm::vec3 position);
    // Glyph transforms to the line's x where they differ.
    void placeGlyphs();
    // One code point that passed the rules: glyph object and line.
    void insertGlyph(char16_t code);
    // Program text typed in from the start position.
    void layOutFromStart(const std::string& utf8, bool signAllowed = false);
    // The line's answer to a key, mirrored into glyphs and bar.
    void afterEdit(const QvEditChange& change);
    void drawGlyphs(Camera& camera, QvShader& program, glm::vec4 colour);

    // Glyph transforms go into the object tree (the 2D box's glyphs follow
    // the widget's press scaling through it).
    bool glyphsInTree = false;

    struct Glyph {
        std::unique_ptr<QvTransform> transform;  // declared first: outlives its object
        std::unique_ptr<Object> object;
    };
    std::vector<Glyph> glyphs;

private:
    void dropGlyph(int index);
    void removeBar();

    std::unique_ptr<QvTransform> ownBarTransform;
};

// ------------------------------------------------------------------------------------------

template <class Box, class Object>
QvEditBox<Box, Object>::QvEditBox(const std::string& name, Camera& camera, std::int64_t firstTransformId,
                                  QvEditFlavour flavour, float glyphScale)
    : QvBoxControl(name, camera, firstTransformId), line(flavour), scale(glyphScale)
{
    *onChar += [this](QvMaterialObject* s, QvCharEventArgs* a) { addChar(s, a); };
    *onKeyDown += [this](QvMaterialObject*, QvKeyboardEventArgs* a) { keyDown(static_cast<Box*>(this), a); };
    *onMouseButtonPress += [this](QvMaterialObject* s, QvMouseEventArgs* a) { pickChar(s, a); };
}

template <class Box, class Object>
QvEditBox<Box, Object>::~QvEditBox()
{
    while (!glyphs.empty()) dropGlyph(static_cast<int>(glyphs.size()) - 1);
    removeBar();
}

template <class Box, class Object>
void QvEditBox<Box, Object>::removeBar()
{
    if (objectTree && barTransform) objectTree->remove(barTransform);
    bar.reset();
    ownBarTransform.reset();
    barTransform = nullptr;
}

template <class Box, class Object>
void QvEditBox<Box, Object>::buildBar(std::unique_ptr<Object> glyph, QvShader* program)
{
    clear();  // glyphs hang under the transform the box had before
    removeBar();
    ownBarTransform = std::make_unique<QvTransform>(transform);
    barTransform = ownBarTransform.get();
    barTransform->setId(transform->getId() + transformIdCounter++);
    glyphParent = transform;
    bar = std::move(glyph);
    bar->setTransform(barTransform);
    if (glyphsInTree && objectTree) objectTree->insert(transform, barTransform);
    bar->shader = program;
    bar->pickingShader = program;
    bar->addLight(light);
    bar->initBuffers();
    refreshFrame();
}

template <class Box, class Object>
void QvEditBox<Box, Object>::refreshFrame()
{
    boxScaling = transform->getScalingVector();
    line.setFrame(size.width, boxScaling.x);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::placeCaret(float x, float depthOffset)
{
    caretPosition = {x, -(size.height / 4.0f) * boxScaling.y, size.depth / 2.0f + depthOffset};
    line.placeCaret(x);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::placeTransform(QvTransform& t, glm::vec3 position)
{
    t.setTranslation(position);
    t.updateRelativeTransformation(glyphParent);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::moveBar(float x)
{
    if (!barTransform) return;
    barPosition.x = static_cast<float>(static_cast<double>(x) - barHalfWidth());
    placeTransform(*barTransform, barPosition);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::insertGlyph(char16_t code)
{
    if (!glyphParent) return;  // no transform yet: nothing to place glyphs under
    const float advance = advanceOf(code);
    Glyph glyph{std::make_unique<QvTransform>(glyphParent), makeGlyph(code)};
    glyph.transform->setId(transform->getId() + transformIdCounter++);
    Object& object = *glyph.object;
    object.setTransform(glyph.transform.get());
    if (glyphsInTree && objectTree) objectTree->insert(transform, glyph.transform.get());
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
    ++glyphPlacements;

    const QvEditChange change = line.insert(code, advance);
    glyphs.insert(glyphs.begin() + change.inserted, std::move(glyph));
    if (change.caretMoved) {
        caretPosition.x = line.caretX();
        moveBar(caretPosition.x);
    }
    QvEventArgs added;
    transform->onChange(transform, &added);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::dropGlyph(int index)
{
    Glyph& glyph = glyphs[static_cast<std::size_t>(index)];
    if (glyphsInTree && objectTree) objectTree->remove(glyph.transform.get());
    std::erase(selection, glyph.object.get());
    glyphs.erase(glyphs.begin() + index);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::placeGlyphs()
{
    for (int i = 0; i < line.glyphCount(); ++i) {
        const float x = line.glyphX(i);
        Glyph& glyph = glyphs[static_cast<std::size_t>(i)];
        if (glyph.object->linePosition.x == x) continue;
        glyph.object->linePosition.x = x;
        placeTransform(*glyph.transform, {x, caretPosition.y, caretPosition.z});
        ++glyphPlacements;
    }
}

template <class Box, class Object>
Object* QvEditBox<Box, Object>::glyphAt(int position)
{
    if (position < 1 || position > line.glyphCount()) return nullptr;
    placeGlyphs();
    return glyphs[static_cast<std::size_t>(position - 1)].object.get();
}

template <class Box, class Object>
void QvEditBox<Box, Object>::afterEdit(const QvEditChange& change)
{
    if (!change.applied) return;
    if (change.removed >= 0) dropGlyph(change.removed);
    if (change.caretMoved) {
        caretPosition.x = line.caretX();
        moveBar(caretPosition.x);
    }
    edited();
}

template <class Box, class Object>
void QvEditBox<Box, Object>::clear()
{
    while (!glyphs.empty()) dropGlyph(static_cast<int>(glyphs.size()) - 1);
    line.clear();
    text.clear();
}

template <class Box, class Object>
void QvEditBox<Box, Object>::addChar(QvMaterialObject*, QvCharEventArgs* args)
{
    if (!line.admits(args->codepoint)) return;
    insertGlyph(static_cast<char16_t>(args->codepoint));
    edited();
}

template <class Box, class Object>
void QvEditBox<Box, Object>::keyDown(Box*, QvKeyboardEventArgs* args)
{
    if (line.readOnly) return;
    switch (args->key) {
    case qvKeyEnter:
        enter();
        break;
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

template <class Box, class Object>
void QvEditBox<Box, Object>::pickChar(QvMaterialObject*, QvMouseEventArgs* args)
{
    constexpr int shift = 1;
    if (!line.readOnly) focused = true;
    for (QvMaterialObject* child : children) {
        if (!(args->mods == shift && child->selected)) child->selected = false;
        child->findIntersectsWithAABB(mouseVector, args);
    }
}

template <class Box, class Object>
void QvEditBox<Box, Object>::handlerOnMouseButtonPress(QvMaterialObject* sender, QvMouseEventArgs* args)
{
    constexpr int shift = 1;
    sender->selected = true;
    if (args->mods != shift) selection.clear();
    selection.push_back(sender);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::drawBar(Camera& camera)
{
    if (camera.frameTime - blinkTime >= blinkPeriod) {
        barLit = !barLit;
        barColor = barLit ? barLight : barDark;
        blinkTime = camera.frameTime;
    }
    if (bar && bar->shader) bar->draw(*bar->shader, glyphDrawFlag, camera, barColor);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::drawGlyphs(Camera& camera, QvShader& program, glm::vec4 colour)
{
    placeGlyphs();
    for (Glyph& glyph : glyphs) glyph.object->draw(program, glyphDrawFlag, camera, colour);
}

// ------------------------------------------------------------ program text

template <class Box, class Object>
void QvEditBox<Box, Object>::layOutFromStart(const std::string& utf8, bool signAllowed)
{
    clear();
    moveBarToStartPosition();
    bool first = true;
    for (char32_t code : qvDecodeUtf8(utf8)) {
        // A value's minus sign passes a digits-only box; a typed one does not.
        const bool sign = signAllowed && first && code == U'-' && !line.readOnly;
        first = false;
        if (!sign && !line.admits(code)) continue;
        insertGlyph(static_cast<char16_t>(code));
        edited();  // as typing: a batched 2D box draws glyph by glyph again
    }
    tickerMode = false;
}

template <class Box, class Object>
void QvEditBox<Box, Object>::setValue(int v)
{
    numbers.value = numbers.clamp(v);
    layOutFromStart(std::to_string(numbers.value), true);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::changeText(const std::string& utf8)
{
    layOutFromStart(utf8);
}

template <class Box, class Object>
bool QvEditBox<Box, Object>::setText(const std::string& utf8)
{
    const QvParsedNumber parsed = qvParseDecimal(utf8);
    if (parsed.reading != QvNumberReading::number) {
        fmt::print("{}: \"{}\" is not a whole number in the int range; the box keeps {}\n", name, utf8,
                   numbers.value);
        return false;
    }
    numbers.value = parsed.value;
    layOutFromStart(utf8, true);
    textSet();
    return true;
}

template <class Box, class Object>
void QvEditBox<Box, Object>::setString(const std::string& utf8)
{
    layOutFromStart(utf8);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::setEnum(const std::string& utf8, int v)
{
    numbers.value = v;
    layOutFromStart(utf8);
    textSet();
}

template <class Box, class Object>
void QvEditBox<Box, Object>::nextEnum()
{
    if (const std::string* entry = numbers.step(1)) changeText(*entry);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::prevEnum()
{
    if (const std::string* entry = numbers.step(-1)) changeText(*entry);
}

// ------------------------------------------------------------------- ticker

template <class Box, class Object>
void QvEditBox<Box, Object>::updateText(int newLanguage)
{
    language = newLanguage;
    if (!dictionary) return;
    setTicker(std::u16string(dictionary->text(language, key)));
}

template <class Box, class Object>
void QvEditBox<Box, Object>::setTicker(QvDictionary* source, int newLanguage, int newKey)
{
    dictionary = source;
    key = newKey;
    updateText(newLanguage);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::setTicker(int newKey)
{
    key = newKey;
    updateText(language);
}

template <class Box, class Object>
void QvEditBox<Box, Object>::setTicker(const std::u16string& tickerText)
{
    clear();
    text = tickerText;
    moveBarToEndPosition();
    layOutTicker(tickerText);
    tickerMode = true;
    textSet();
}
