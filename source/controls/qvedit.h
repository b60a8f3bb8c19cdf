// qvedit: the 3D edit box, twin of the 2D one with extruded glyphs.
//
// The same text model (QvEditText), caret bar, blink, keys and text setters
// as QvEdit2D, with outline-font glyphs; Enter reads the text as an integer
// within the box's range and shows the value. No read-only mode, no batching,
// and the text is not clipped: glyphs scrolled past an edge stay visible.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "controls/qvboxcontrol.h"
#include "controls/qvedittext.h"
#include "engine/core/qvevents.h"

class QvCharacter3D;
class QvDictionary;
class QvFont3D;
class QvShader;
class QvTransform;

inline constexpr std::int64_t qvEditFirstTransformId = 2000;

class QvEdit : public QvBoxControl {
    // Declared first: the public names below refer into them.
    QvEditText line{QvEditFlavour::extruded};
    QvEditValue numbers;

public:
    // The light is not kept (the creator calls addLight).
    QvEdit(const std::string& name, const QvFont3D& font, QvLight* light, Camera& camera);
    ~QvEdit() override;

    // --- set-up -------------------------------------------------------------------
    // fontSize and scale = size / 100000.
    virtual void setFontSize(float size);
    virtual void setBarShader(QvShader* s) { barShader = s; }
    virtual void setTextShader(QvShader* s) { textShader = s; }
    virtual void setPickingTextShader(QvShader* s) { pickingTextShader = s; }
    // The base's, then a new caret bar from the size, scale, font, bar shader
    // and light of this moment.
    void setTransform(QvTransform* t) override;

    // --- caret ----------------------------------------------------------------------
    virtual void moveBarToStartPosition();
    virtual void moveBarToEndPosition();
    virtual void moveBar(float x);

    // --- text -------------------------------------------------------------------------
    virtual void clear();
    virtual void setValue(int v);
    virtual int getValue() const { return numbers.value; }
    virtual void changeText(const std::string& utf8);
    // A text that is no int changes nothing, prints one line and answers false.
    virtual bool setText(const std::string& utf8);
    virtual void setString(const std::string& utf8);
    virtual void setEnum(const std::string& utf8, int v);
    virtual void nextEnum();
    virtual void prevEnum();
    virtual void updateText(int newLanguage);
    virtual void setTicker(QvDictionary* source, int newLanguage, int newKey);
    virtual void setTicker(int newKey);
    virtual void setTicker(const std::u16string& tickerText);

    void draw(Camera& camera) override;

    // --- handlers -------------------------------------------------------------------------
    void addChar(QvMaterialObject* sender, QvCharEventArgs* args);
    void keyDown(QvEdit* sender, QvKeyboardEventArgs* args);
    void pickChar(QvMaterialObject* sender, QvMouseEventArgs* args);
    void handlerOnMouseButtonPress(QvMaterialObject* sender, QvMouseEventArgs* args);
    void drawBar(Camera& camera);

    // --- reading ------------------------------------------------------------------------
    int glyphCount() const { return line.glyphCount(); }
    int caretIndex() const { return line.caretIndex(); }
    // The glyph at position 1..glyphCount, placed where the line has it.
    QvCharacter3D* glyphAt(int position);
    // The codes of the glyphs shown, in order.
    std::u16string shownText() const { return line.text(); }

    // --- fields -------------------------------------------------------------------------
    QvEvent<QvEdit, QvEventArgs> enteredEvent;  // raised by Enter
    std::unique_ptr<QvCharacter3D> bar;         // the caret, the glyph of "|"
    QvTransform* barTransform = nullptr;
    QvDictionary* dictionary = nullptr;
    int language = 0;
    int key = 0;
    float scale = 0.00025f;
    const QvFont3D& font;
    QvShader* barShader = nullptr;
    QvShader* textShader = nullptr;
    QvShader* pickingTextShader = nullptr;  // stored only
    glm::vec3 caretPosition{std::numeric_limits<float>::quiet_NaN()};
    glm::vec3 barPosition{std::numeric_limits<float>::quiet_NaN()};
    glm::vec3 boxScaling{std::numeric_limits<float>::quiet_NaN()};
    std::u16string text;  // the ticker text
    float barAdvance = std::numeric_limits<float>::quiet_NaN();
    QvTransform* glyphParent = nullptr;
    bool barLit = false;
    glm::vec4 barColor{0.1f, 0.1f, 0.1f, 1.0f};
    bool glyphDrawFlag = false;
    bool& digitsOnly = line.digitsOnly;
    bool& tickerMode = line.tickerMode;
    float tickerStep = 0.001f;  // per frame
    float fontSize = 25.0f;
    std::vector<std::string>& enumNames = numbers.enumNames;
    int& minValue = numbers.minValue;
    int& maxValue = numbers.maxValue;

private:
    struct Glyph {
        std::unique_ptr<QvTransform> transform;  // declared first: outlives its object
        std::unique_ptr<QvCharacter3D> object;
    };

    float advanceOf(char16_t code) const;
    void insertGlyph(char16_t code);
    void afterEdit(const QvEditChange& change);
    void layOutFromStart(const std::string& utf8, bool signAllowed = false);
    void placeGlyphs();
    void placeTransform(QvTransform& t, glm::vec3 position);
    void refreshFrame();
    // The caret at the left edge, the bar one bar advance right of it.
    void caretHome(float x);

    std::vector<Glyph> glyphs;
    std::unique_ptr<QvTransform> ownBarTransform;
};
