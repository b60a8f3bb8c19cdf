// QvLowerPanelWidget3D: the slab and the controls of the lower panel, wired
// to the scene's operations.
#include "widgets/qvlowerpanelwidget3d.h"

#include "controls/qvbutton.h"
#include "controls/qvedit2d.h"
#include "controls/qvpanel.h"
#include "controls/qvswitch.h"
#include "engine/core/qvdictionary.h"
#include "engine/gl/qvshader.h"
#include "scene/qvscene.h"

namespace {

constexpr float kWidgetY = -0.388f;
constexpr float kPanelHeight = 0.9f;
constexpr glm::vec4 kPanelColour(0.5058f, 0.79f, 1.0f, 1.0f);

// Switches and the button: boxes of 2 x 1 in a row on the panel's left.
constexpr glm::vec3 kButtonScaling(0.9f, 0.8f, 0.2f);
constexpr float kButtonY = 0.05f;
constexpr float kButtonZ = 0.7f;
constexpr float kButtonWidth = 2.0f;
constexpr float kButtonFontSize = 16.0f;
constexpr int kButtonPadding = 2;
constexpr float kStartX = -9.4f;
constexpr float kClearX = -7.4f;
constexpr float kVSyncX = -5.4f;
constexpr float kOnTopX = -3.4f;
constexpr glm::vec4 kWindowSwitchOnColour(0.11f, 0.89f, 0.03f, 1.0f);
constexpr std::int32_t kStartKey = 1, kStopKey = 2;
constexpr std::int32_t kEcoKey = 10, kPowerKey = 11;
constexpr std::int32_t kOffTopKey = 3, kOnTopKey = 4;
constexpr const char16_t* kClearText = u"Clear";

// The name box and the ticker.
constexpr glm::vec3 kEditScaling(0.9f, 0.8f, 0.9f);
constexpr float kEditZ = 0.1f;
constexpr float kEditFontSize = 20.0f;
constexpr float kNameWidth = 4.0f;
constexpr float kNameX = 0.0f;
constexpr float kTickerWidth = 8.0f;
constexpr float kTickerX = 6.8f;
// The longest name the box takes, so that the 3D title shows it readably
// and builds few meshes (one extruded mesh a letter): the title shrinks 32
// of the font's widest letters to a third of its size on a 16:9 screen, to
// a quarter on a 4:3 one; names of common letters to a half.
constexpr int kNameMaxLength = 32;
constexpr std::uint8_t kTickerMask = 2;  // its own stencil reference: the scroll is clipped to its box
constexpr std::int32_t kAboutKey = 16;

}  // namespace

QvLowerPanelWidget3D::QvLowerPanelWidget3D(QvScene* owner) : QvWidget3D(owner)
{
    initialize();
}

QvLowerPanelWidget3D::~QvLowerPanelWidget3D() = default;

void QvLowerPanelWidget3D::initialize()
{
    widgetTransform = createWidgetTransform(kWidgetY);
    panel = createPanel(widgetTransform, kPanelHeight, kPanelColour);

    // The delegates call through the scene's virtual operations; sender and
    // arguments are not passed on.
    switchShading = _createSwitch("QvModel_SwitchShading", kStartKey, kStopKey, kStartX);
    *switchShading->onMouseButtonRelease += [this]() { scene->startTracker(); };

    QvTransform* clearTransform =
        createControlTransform(widgetTransform, kButtonScaling, glm::vec3(kClearX, kButtonY, kButtonZ));
    clearButton = std::make_unique<QvButton>("QvModel_ButtonClear", kClearText, *scene->font2D,
                                             scene->light.get(), *scene->camera);
    clearButton->setObjectTree(widgetTree.get());
    clearButton->setId(nextControlId());
    clearButton->setSize(kButtonWidth, 1.0f, 1.0f);
    clearButton->setFontSize(kButtonFontSize);
    clearButton->setPadding(kButtonPadding);
    _setUpTextControl(*clearButton, clearTransform);
    clearButton->initLabel();
    clearButton->pickable = true;
    *clearButton->onMouseButtonRelease += [this]() { scene->buttonClear(); };
    clearButton->addLight(scene->hudLight.get());
    components.push_back(clearButton.get());
    scene->textObjects.push_back(clearButton.get());

    switchVSync = _createSwitch("QvModel_SwitchVSync", kEcoKey, kPowerKey, kVSyncX);
    *switchVSync->onMouseButtonRelease += [this]() { scene->switchVSync(); };
    switchOnTop = _createSwitch("QvModel_SwitchOnTop", kOffTopKey, kOnTopKey, kOnTopX);
    *switchOnTop->onMouseButtonRelease += [this]() { scene->switchOnTop(); };

    editName = _createEditBox("QvModel_EditName", kNameWidth, kNameX);
    editName->optimized = true;  // one batched draw for the typed glyphs
    editName->maxLength = kNameMaxLength;
    editName->pickable = true;
    editName->addLight(scene->hudLight.get());
    components.push_back(editName.get());

    ticker = _createEditBox("QvModel_LabelLogo", kTickerWidth, kTickerX);
    // Batched too: the scrolling line is one draw a frame instead of one per
    // glyph, most of which the stencil clips away anyway.
    ticker->optimized = true;
    ticker->readOnly = true;
    ticker->pickable = true;
    ticker->setMask(kTickerMask);
    ticker->setTicker(scene->dictionary.get(), scene->language(), kAboutKey);
    ticker->addLight(scene->hudLight.get());
    components.push_back(ticker.get());
}

std::unique_ptr<QvSwitch> QvLowerPanelWidget3D::_createSwitch(const char* switchName, std::int32_t offKey,
                                                              std::int32_t onKey, float x)
{
    QvTransform* transform =
        createControlTransform(widgetTransform, kButtonScaling, glm::vec3(x, kButtonY, kButtonZ));
    auto control = std::make_unique<QvSwitch>(switchName, *scene->dictionary, scene->language(), offKey,
                                              *scene->font2D, scene->light.get(), *scene->camera);
    control->setObjectTree(widgetTree.get());
    control->setId(nextControlId());
    control->setSize(kButtonWidth, 1.0f, 1.0f);
    control->setFontSize(kButtonFontSize);
    control->setPadding(kButtonPadding);
    control->setOnText(onKey);
    // The window switches light up green; Start/Stop keeps the switch's own.
    if (offKey != kStartKey) control->setOnColor(kWindowSwitchOnColour);
    _setUpTextControl(*control, transform);
    control->initLabel();
    control->pickable = true;
    control->addLight(scene->hudLight.get());
    components.push_back(control.get());
    scene->textObjects.push_back(control.get());
    return control;
}

void QvLowerPanelWidget3D::_setUpTextControl(QvTextControl& control, QvTransform* transform)
{
    control.setTransform(transform);
    control.shader = scene->shaders[QvScene::lightShader].get();
    control.setTextShader(scene->shaders[QvScene::text2DShader].get());
}

std::unique_ptr<QvEdit2D> QvLowerPanelWidget3D::_createEditBox(const char* editName, float width, float x)
{
    QvTransform* transform =
        createControlTransform(widgetTransform, kEditScaling, glm::vec3(x, 0.0f, kEditZ));
    auto edit = std::make_unique<QvEdit2D>(editName, *scene->font2D, scene->light.get(), *scene->camera);
    edit->setObjectTree(widgetTree.get());
    edit->setId(nextControlId());
    edit->setSize(width, 1.0f, 1.0f);
    edit->setFontSize(kEditFontSize);
    QvShader* light = scene->shaders[QvScene::lightShader].get();
    QvShader* text = scene->shaders[QvScene::text2DShader].get();
    edit->shader = light;
    edit->setBarShader(text);
    edit->setPickingTextShader(text);
    edit->setTextShader(text);
    edit->setOptimizeTextShader(scene->shaders[QvScene::text2DStaticShader].get());
    edit->setTransform(transform);
    return edit;
}
