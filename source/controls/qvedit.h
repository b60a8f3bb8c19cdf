// qvedit: the 3D edit box, twin of the 2D one with extruded glyphs.
//
// The same text model, caret bar, blink, keys and text setters as QvEdit2D
// (QvEditBox), with outline-font glyphs; Enter reads the text as an integer
// within the box's range and shows the value. No read-only mode, no
// batching, and the text is not clipped: glyphs scrolled past an edge stay
// visible. The ticker moves every frame.
#pragma once

#include <cstdint>
#include <string>

#include "controls/qveditbox.h"
#include "engine/text/qvtext3d.h"

class QvFont3D;

inline constexpr std::int64_t qvEditFirstTransformId = 2000;

class QvEdit : public QvEditBox<QvEdit, QvCharacter3D> {
public:
    // The light is not kept (the creator calls addLight).
    QvEdit(const std::string& name, const QvFont3D& font, QvLight* light, Camera& camera);

    // fontSize and scale = size / 100000.
    void setFontSize(float size) override;
    // The base's, then a new caret bar from the size, scale, font, bar shader
    // and light of this moment (kept out of the object tree).
    void setTransform(QvTransform* t) override;
    // Caret home at the left or right edge, the bar one bar advance right of it.
    void moveBarToStartPosition() override;
    void moveBarToEndPosition() override;

    void draw(Camera& camera) override;

    const QvFont3D& font;
    float tickerStep = 0.001f;  // per frame

protected:
    std::unique_ptr<QvCharacter3D> makeGlyph(char16_t code) const override;
    float advanceOf(char16_t code) const override;
    double barHalfWidth() const override;
    // The text read as a number, clamped and shown again; enteredEvent.
    void enter() override;
    // Typed through the input rules, scrolling as the mode of that moment says.
    void layOutTicker(const std::u16string& tickerText) override;

private:
    void moveBarHome(float caretX);
};
