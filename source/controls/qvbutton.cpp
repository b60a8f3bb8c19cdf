// qvbutton: construction, the string and buffer labels and the draw.
#include "controls/qvbutton.h"

#include "engine/core/qvcamera.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"

namespace {

constexpr QvTextDepths kButtonDepths{0.02f, 0.03f, 0.1f, 0.03f, 0.1f, 0.03f};

}  // namespace

QvButton::QvButton(const std::string& name, const QvDictionary& dictionary, int language, int key,
                   QvFont3D& font, QvLight* /*light*/, Camera& camera)
    : QvTextControl(name, camera, qvButtonFirstTransformId, qvButtonSlotCount, kButtonDepths)
{
    useDictionary(dictionary, language, key);
    useFont(font);
    initialization(u"", camera);
}

QvButton::QvButton(const std::string& name, const QvDictionary& dictionary, int language, int key,
                   QvFont2D& font, QvLight* /*light*/, Camera& camera)
    : QvTextControl(name, camera, qvButtonFirstTransformId, qvButtonSlotCount, kButtonDepths)
{
    useDictionary(dictionary, language, key);
    useFont(font);
    initialization(u"", camera);
}

QvButton::QvButton(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* /*light*/,
                   Camera& camera)
    : QvTextControl(name, camera, qvButtonFirstTransformId, qvButtonSlotCount, kButtonDepths)
{
    useFont(font);
    initialization(text, camera);
}

QvButton::QvButton(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* /*light*/,
                   Camera& camera)
    : QvTextControl(name, camera, qvButtonFirstTransformId, qvButtonSlotCount, kButtonDepths)
{
    useFont(font);
    initialization(text, camera);
}

void QvButton::initialization(const std::u16string& label, Camera& camera)
{
    focused = false;
    textColor = {1.0f, 1.0f, 1.0f, 1.0f};
    mcp.camera = camera.getCameraMatrix();
    text = label;
    buttonEvent = std::make_unique<QvEvent<QvButton, QvEventArgs>>();
    *onKeyPress += [this](QvMaterialObject* s, QvKeyboardEventArgs* a) { handlerKeyPress(s, a); };
}

void QvButton::handlerKeyPress(QvMaterialObject* /*sender*/, QvKeyboardEventArgs* /*args*/) {}

void QvButton::setLabel(const std::u16string& s)
{
    text = s;
    clear();  // the buffer label's slots, when one is shown
    cLength = 0;
    clear();  // then the string glyphs
    initLabel();
}

void QvButton::setLabel(const char16_t* p, int count)
{
    cText = p;
    clear();
    // Cut to the slots: nothing is ever written past them.
    cLength = p == nullptr ? 0 : std::clamp<std::int64_t>(count, 0, std::int64_t(cGlyphs.size()));
    initCLabel(static_cast<int>(cLength));
    cText = nullptr;  // the caller's buffer, read during this call only
}

void QvButton::updateText(int newLanguage)
{
    if (dictionary != nullptr && dictionary->has(newLanguage, key)) {
        language = newLanguage;
        text = dictionary->text(language, key);
    }
    clear();
    cLength = 0;  // the rebuilt string text is what shows now
    clear();
    initLabel();
}

void QvButton::initLabel()
{
    buildCentredText();
}

void QvButton::initCLabel(int count)
{
    if (count == 0) {
        return;
    }
    initCLabel2D(cText, count);
    textCAlign2D();
}

void QvButton::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (shader == nullptr) {
        return;
    }
    currentColor = hovered ? hoverColor : color;
    prepareBoxDraw(camera);
    qvSetControlStencil(1, 0xFF);
    drawFrame();
    drawGlyphs(camera, textColor);
}
