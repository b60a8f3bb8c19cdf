// qvedit2d: the one-line text box of flat 2D glyphs.
//
// A lit control box with bitmap glyph quads on its front face, a blinking
// caret bar, the keys Enter, Backspace, Delete, Left and Right, sideways
// scrolling at the edges and a ticker mode that runs its text right to left.
// The text is clipped to the box through the stencil buffer. Drawn glyph by
// glyph while being edited, and in one call from a batched buffer after
// Enter (rebuilt only when the text or the camera changes).
//
// The line itself (codes, advances, caret, scrolling) is QvEditText; this
// class mirrors its changes into one glyph object and transform per
// character, created when typed and freed when deleted. Glyph transforms are
// placed lazily, once per draw, so a key costs the same however long the
// text is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "controls/qvboxcontrol.h"
#include "controls/qvedittext.h"
#include "engine/core/qvevents.h"
#include "engine/gl/qvglobjects.h"

class QvCharacter2D;
class QvDictionary;
class QvFont2D;
class QvShader;
class QvTransform;
struct Character2D;

inline constexpr std::int64_t qvEdit2DFirstTransformId = 22000;

class QvEdit2D : public QvBoxControl {
    // Declared first: the public names below refer into them.
    QvEditText line{QvEditFlavour::flat};
    QvEditValue numbers;

public:
    // The light is not kept (the creator calls addLight).
    QvEdit2D(const std::string& name, QvFont2D& font, QvLight* light, Camera& camera);
    ~QvEdit2D() override;

    // --- set-up -------------------------------------------------------------------
    virtual void setMask(std::uint8_t value) { mask = value; }
    virtual void setPadding(int value) { padding = value; }
    // fontSize and scale = size / 1667.
    virtual void setFontSize(float size);
    virtual void setBarShader(QvShader* s) { barShader = s; }
    virtual void setTextShader(QvShader* s) { textShader = s; }
    virtual void setPickingTextShader(QvShader* s) { pickingTextShader = s; }
    virtual void setOptimizeBarShader(QvShader* s) { optimizeBarShader = s; }
    virtual void setOptimizeTextShader(QvShader* s) { optimizeTextShader = s; }
    virtual void setOptimizePickingTextShader(QvShader* s) { optimizePickingTextShader = s; }
    // The base's, then a new caret bar from the size, scale, font, text
    // shader and light of this moment.
    void setTransform(QvTransform* t) override;
    // A read-only box (the ticker) is no place to type: clicks leave the keys
    // to the scene.
    bool takesFocus() const override { return !readOnly; }
    virtual void createBar();

    // --- caret ----------------------------------------------------------------------
    virtual void moveBarToStartPosition();
    virtual void moveBarToEndPosition();
    // The bar centred on caret x.
    virtual void moveBar(float x);

    // --- text -------------------------------------------------------------------------
    // Drops every glyph (their transforms leave the tree, their GL objects go).
    virtual void clear();
    // value (clamped when the bounds differ), shown in decimal.
    virtual void setValue(int v);
    virtual int getValue() const { return numbers.value; }
    // The UTF-8 text typed in from the start position; leaves ticker mode.
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
    virtual std::u16string getText() const { return text; }

    // --- ticker -----------------------------------------------------------------------
    virtual void updateText(int newLanguage);
    virtual void setTicker(QvDictionary* source, int newLanguage, int newKey);
    virtual void setTicker(int newKey);
    virtual void setTicker(const std::u16string& tickerText);

    // --- batched drawing ----------------------------------------------------------------
    virtual void optimizeDraw(Camera& camera);
    virtual void deleteBuffers();
    virtual void computeSizeOfBuffer();
    virtual void prepareGLBuffers();
    virtual void prepareVertices();
    // The camera moved: the batch follows (only while it is drawn).
    virtual void updatePosition();

    void draw(Camera& camera) override;

    // --- handlers -------------------------------------------------------------------------
    void addChar(QvMaterialObject* sender, QvCharEventArgs* args);
    void keyDown(QvEdit2D* sender, QvKeyboardEventArgs* args);
    void pickChar(QvMaterialObject* sender, QvMouseEventArgs* args);
    void handlerOnMouseButtonPress(QvMaterialObject* sender, QvMouseEventArgs* args);
    // The ticker's glyphs, from the end position, past the input rules.
    void initLabel2D(const std::u16string& tickerText);
    void drawBar(Camera& camera);

    // --- reading ------------------------------------------------------------------------
    int glyphCount() const { return line.glyphCount(); }
    int caretIndex() const { return line.caretIndex(); }
    // The glyph at position 1..glyphCount, placed where the line has it.
    QvCharacter2D* glyphAt(int position);
    float textWidth() const { return line.textWidth(); }

    // --- fields -------------------------------------------------------------------------
    QvEvent<QvEdit2D, QvEventArgs> enteredEvent;  // raised by Enter
    std::unique_ptr<QvCharacter2D> bar;           // the caret, the glyph of "|"
    QvTransform* barTransform = nullptr;
    int padding = 1;  // caret home margin, percent of the width on each side
    QvDictionary* dictionary = nullptr;
    int language = 0;
    int key = 0;
    float scale = 0.024f;  // box units per glyph pixel
    QvFont2D& font;
    QvShader* barShader = nullptr;  // stored only: the bar draws with textShader
    QvShader* textShader = nullptr;
    QvShader* pickingTextShader = nullptr;
    QvShader* optimizeBarShader = nullptr;  // stored only
    QvShader* optimizeTextShader = nullptr;
    QvShader* optimizePickingTextShader = nullptr;  // stored only
    glm::vec3 caretPosition{std::numeric_limits<float>::quiet_NaN()};
    glm::vec3 barPosition{std::numeric_limits<float>::quiet_NaN()};
    glm::vec3 boxScaling{std::numeric_limits<float>::quiet_NaN()};
    std::u16string text;  // the entered text (Enter) or the ticker text
    float barAdvance = std::numeric_limits<float>::quiet_NaN();
    QvTransform* glyphParent = nullptr;
    bool barLit = false;
    double tickerTime = 0.0;  // frame time of the last ticker step
    glm::vec4 barColor{0.1f, 0.1f, 0.1f, 1.0f};
    bool glyphDrawFlag = false;
    QvVertexArray batchVao;
    QvBuffer batchVbo;
    std::vector<float> batchVertices;  // 36 floats a glyph
    bool& digitsOnly = line.digitsOnly;
    float tickerStep = 0.01f;
    float fontSize = 25.0f;
    std::uint8_t mask = 1;
    std::vector<std::string>& enumNames = numbers.enumNames;
    int& minValue = numbers.minValue;
    int& maxValue = numbers.maxValue;
    bool& readOnly = line.readOnly;
    bool& tickerMode = line.tickerMode;
    int batchRebuilds = 0;  // batch rebuilds so far, for the tests and the benchmark

private:
    struct Glyph {
        std::unique_ptr<QvTransform> transform;  // declared first: outlives its object
        std::unique_ptr<QvCharacter2D> object;
    };

    // The font's record of code, or its fallback glyph's.
    const Character2D* glyphRecord(char16_t code) const;
    float advanceOf(const Character2D* record) const;
    // One typed code point (rules already passed): glyph object and line.
    void insertGlyph(char16_t code);
    // Mirrors a removal of the line into the glyph objects.
    void dropGlyph(int index);
    // Bar to caret x when the line says it moved; box edits end batching.
    void afterEdit(const QvEditChange& change);
    // Program text typed through the input rules; a value's minus sign passes.
    void layOut(const std::u32string& codes, bool signAllowed);
    void layOutFromStart(const std::string& utf8, bool signAllowed = false);
    // Glyph transforms to the line's x where they differ.
    void placeGlyphs();
    void placeTransform(QvTransform& t, glm::vec3 position);
    void rebuildBatch();
    void rebuildBatchIfDrawn();
    // The ticker's 16 ms step; true when it moved.
    bool tickerStepDue(double now);
    void refreshFrame();

    std::vector<Glyph> glyphs;
    std::unique_ptr<QvTransform> ownBarTransform;
};
