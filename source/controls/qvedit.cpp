// qvedit: extruded glyphs, caret homes, number entry and the unclipped draw.
#include "controls/qvedit.h"

#include "engine/gl/qvshader.h"
#include "engine/text/qvcharacter3d.h"
#include "engine/text/qvfont.h"

namespace {

constexpr float fontSizeDivisor = 100000.0f;
constexpr float defaultScale = 0.00025f;
constexpr float caretDepthOffset = 0.01f;
// Glyph advances are pixels x 60 x scale; the bar's own advance has no factor
// and the bar is centred with 30.
constexpr float glyphAdvanceFactor = 60.0f;
constexpr double barCentringFactor = 30.0;
constexpr char16_t barCode = u'|';
constexpr glm::vec4 focusedBoxColor{0.0156f, 0.2894f, 0.3906f, 1.0f};
constexpr glm::vec4 boxColor{0.6f, 1.0f, 1.0f, 1.0f};
constexpr glm::vec4 glyphColor{0.0f, 0.0f, 0.0f, 1.0f};

float pixels(const Character3D& glyph)
{
    return static_cast<float>(glyph.character.advance >> 6);
}

}  // namespace

QvEdit::QvEdit(const std::string& name, const QvFont3D& font, QvLight* /*light*/, Camera& camera)
    : QvEditBox(name, camera, qvEditFirstTransformId, QvEditFlavour::extruded, defaultScale), font(font)
{
}

void QvEdit::setFontSize(float size)
{
    fontSize = size / fontSizeDivisor;
    scale = fontSize;
}

std::unique_ptr<QvCharacter3D> QvEdit::makeGlyph(char16_t code) const
{
    return std::make_unique<QvCharacter3D>(qvEncodeUtf8(code), font.getChar3D(code));
}

float QvEdit::advanceOf(char16_t code) const
{
    return pixels(font.getChar3D(code)) * glyphAdvanceFactor * scale;
}

double QvEdit::barHalfWidth() const
{
    return bar ? static_cast<double>(pixels(*bar->glyph)) * barCentringFactor * static_cast<double>(scale)
               : 0.0;
}

void QvEdit::setTransform(QvTransform* t)
{
    QvEditBox::setTransform(t);
    if (!transform) return;  // no place for a bar
    buildBar(makeGlyph(barCode), barShader);
    barAdvance = pixels(font.getChar3D(barCode)) * scale;
    barTransform->setScaling(scale, scale, scale);
    barTransform->setDimension(glm::vec3(scale * barAdvance) * boxScaling);
    moveBarHome(-(size.width / 2.0f) * boxScaling.x);
}

void QvEdit::moveBarHome(float caretX)
{
    placeCaret(caretX, caretDepthOffset);
    barPosition = caretPosition + glm::vec3(barAdvance, 0.0f, 0.0f);
    placeTransform(*barTransform, barPosition);
}

void QvEdit::moveBarToStartPosition()
{
    if (!barTransform) return;
    refreshFrame();
    moveBarHome(-(size.width / 2.0f) * boxScaling.x);
}

void QvEdit::moveBarToEndPosition()
{
    if (!barTransform) return;
    refreshFrame();
    moveBarHome((size.width / 2.0f) * boxScaling.x);
}

void QvEdit::enter()
{
    setValue(numbers.entered(line.text()));
    QvEventArgs entered;
    enteredEvent(this, &entered);
}

void QvEdit::layOutTicker(const std::u16string& tickerText)
{
    for (char32_t code : qvDecodeUtf16(tickerText)) {
        if (line.admits(code)) insertGlyph(static_cast<char16_t>(code));
    }
}

void QvEdit::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (shader == nullptr || !transform) return;
    currentColor = focused ? focusedBoxColor : boxColor;
    prepareBoxDraw(camera);
    // The depth function is the box's own, whatever the previous draw left;
    // the stencil write mask stays as found.
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
    if (textShader) drawGlyphs(camera, *textShader, currentColor);
    line.wrap();
}
