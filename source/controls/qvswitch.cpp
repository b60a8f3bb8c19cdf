// qvswitch: the toggle, its texts and its draw.
#include "controls/qvswitch.h"

#include "engine/core/qvcamera.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"

namespace {

constexpr QvTextDepths kSwitchDepths{0.02f, 0.03f, 0.1f, 0.03f, 0.02f, 0.03f};
constexpr glm::vec4 kTextColour{1.0f, 1.0f, 1.0f, 1.0f};

}  // namespace

QvSwitch::QvSwitch(const std::string& name, const QvDictionary& dictionary, int language, int key,
                   QvFont2D& font, QvLight* /*light*/, Camera& camera)
    : QvTextControl(name, camera, qvSwitchFirstTransformId, 0, kSwitchDepths)
{
    useFont(font);
    initialization(useDictionary(dictionary, language, key), camera);
}

QvSwitch::QvSwitch(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* /*light*/,
                   Camera& camera)
    : QvTextControl(name, camera, qvSwitchFirstTransformId, 0, kSwitchDepths)
{
    useFont(font);
    initialization(text, camera);
}

QvSwitch::QvSwitch(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* /*light*/,
                   Camera& camera)
    : QvTextControl(name, camera, qvSwitchFirstTransformId, 0, kSwitchDepths)
{
    useFont(font);
    initialization(text, camera);
}

void QvSwitch::initialization(const std::u16string& label, Camera& camera)
{
    focused = false;
    offText = label;
    offColor = color;
    mcp.camera = camera.getCameraMatrix();
    text = label;
    switchEvent = std::make_unique<QvEvent<QvSwitch, QvEventArgs>>();
    // After the base's own press handler, which the base constructor added.
    *onMouseButtonPress += [this](QvMaterialObject*, QvMouseEventArgs*) { switching(); };
    *onKeyPress += [this](QvMaterialObject* s, QvKeyboardEventArgs* a) { handlerKeyPress(s, a); };
}

void QvSwitch::handlerKeyPress(QvMaterialObject* /*sender*/, QvKeyboardEventArgs* /*args*/) {}

void QvSwitch::switching()
{
    isOn = !isOn;
    setLabel(isOn ? onText : offText);
}

void QvSwitch::setLabel(const std::u16string& s)
{
    text = s;
    clearGlyphs();
    initLabel();
}

void QvSwitch::setOnText(int k)
{
    key = k;
    if (dictionary != nullptr && dictionary->has(language, k)) {
        onText = dictionary->text(language, k);
    }
}

void QvSwitch::updateText(int newLanguage)
{
    if (dictionary != nullptr && dictionary->has(newLanguage, key)) {
        language = newLanguage;
        text = dictionary->text(language, key);
    }
    clearGlyphs();
    initLabel();
}

void QvSwitch::initLabel()
{
    buildCentredText();
}

void QvSwitch::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (shader == nullptr) {
        return;
    }
    currentColor = isOn ? onColor : offColor;
    if (hovered) currentColor = hoverColor;
    prepareBoxDraw(camera);
    qvSetControlStencil(1, 0xFF);
    drawFrame();
    drawGlyphs(camera, kTextColour);
}
