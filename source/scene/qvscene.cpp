// QvScene: construction of the scene's resources, the per-frame work and
// drawing, the camera keys and the screenshot.
#include "scene/qvscene.h"
#include "scene/qvscenelayout.h"
#include "scene/qvtrackertext.h"

#include "controls/qvbutton.h"
#include "controls/qvcanvas.h"
#include "controls/qvedit.h"
#include "controls/qvedit2d.h"
#include "controls/qvlabel.h"
#include "controls/qvcontrolbox.h"
#include "controls/qvviewcheck.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvevents.h"
#include "engine/core/qvobject.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvmaterialobject.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvskybox.h"
#include "engine/platform/qvscreencursor.h"
#include "engine/platform/qvwindow.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvfont2d.h"
#include "engine/text/qvglyphatlas.h"
#include "game/qvgamelogic.h"
#include "widgets/qvfpswidget3d.h"
#include "widgets/qvlowerpanelwidget3d.h"
#include "widgets/qvupperpanelwidget3d.h"

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <fmt/core.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

namespace {

constexpr float kFieldOfView = 45.0f;
constexpr glm::vec3 kCameraStart(0.0f, 0.0f, 20.0f);
constexpr glm::vec3 kCameraFront(0.0f, 0.0f, -1.0f);
constexpr glm::vec3 kCameraUp(0.0f, 1.0f, 0.0f);
constexpr float kCameraSpeed = 1.0f;
constexpr glm::vec3 kLightPosition(0.0f, 300.0f, 0.0f);
constexpr glm::vec3 kHudLightPosition(0.0f, 0.0f, 0.1f);
constexpr const char* kScreenshotFile = "photo.jpeg";
constexpr const char* kInfoTextName = "QvModel_InfoText";
constexpr const char* kFirstStatisticsName = "QvModel_OdometerLabel";
constexpr const char16_t* kTitle = u"Velmorin";
constexpr double kTitleSwayStep = 0.003;     // phase per tick
constexpr double kTitleSwayDivisor = 300.0;  // radians per tick = cos(phase) / this
constexpr const char* kDestroyLine =
    "Компилятор не видит, что функция destroy() не существует и поэтому не предупреждает!";

constexpr const char* kShaderNames[QvScene::shaderCount] = {
    "default", "light",        "texture", "textureLight", "skybox",
    "text2D",  "text2DStatic", "image",   "point",        "circlePoint"};

// Held-key groups in the order the camera steps through them each tick.
constexpr int kLeftKeys[] = {GLFW_KEY_A, GLFW_KEY_LEFT};
constexpr int kRightKeys[] = {GLFW_KEY_D, GLFW_KEY_RIGHT};
constexpr int kForwardKeys[] = {GLFW_KEY_W, GLFW_KEY_UP};
constexpr int kBackwardKeys[] = {GLFW_KEY_S, GLFW_KEY_DOWN};

std::unique_ptr<QvLight> makeLight(QvTransform* transform, glm::vec3 ambient, glm::vec3 diffuse,
                                   glm::vec3 specular)
{
    auto light = std::make_unique<QvLight>();
    light->setTransform(transform);
    light->lightSpecs.ambient = ambient;
    light->lightSpecs.diffuse = diffuse;
    light->lightSpecs.specular = specular;
    return light;
}

}  // namespace

QvScene::QvScene(int widthValue, int heightValue, int screenWidthValue, int screenHeightValue,
                 float glslVersionValue)
{
    textBuffer.fill(char16_t(0xFFFF));
    textureLoader = std::make_unique<TextureLoader>();
    _storeDimensions(widthValue, heightValue, screenWidthValue, screenHeightValue, glslVersionValue);
    gameLogic = std::make_unique<QvGameLogic>();
    dictionary = std::make_unique<QvDictionary>(qvTrackerWords());
    initializeAll();
    createInfoCanvas();
    createMouseRouteCanvas();
    createMouseSpeedCanvas();
    createMouseStopsCanvas();
    createInfoText();
    createOdometerLabel();
    createOdometerValueLabel();
    createSpeedometerLabel();
    createSpeedometerValueLabel();
    createXCoordLabel();
    createXCoordValueLabel();
    createYCoordLabel();
    createYCoordValueLabel();
    createMaxSpeedLabel();
    createMaxSpeedValueLabel();
    createNumberOfStopsLabel();
    createNumberOfStopsValueLabel();
    createTimeLabel();
    createTimeValueLabel();
    createVelmorinText3D();
    tracker->attachPlots({&routeCanvas->lineVertices, &speedCanvas->lineVertices, &stopsCanvas->pointCoords});
    drawUpperPanel();
    drawLowerPanel();
}

QvScene::QvScene(Bare, int widthValue, int heightValue, int screenWidthValue, int screenHeightValue,
                 float glslVersionValue)
{
    textBuffer.fill(char16_t(0xFFFF));
    _storeDimensions(widthValue, heightValue, screenWidthValue, screenHeightValue, glslVersionValue);
    initializeCamera();
    initializeCenterScene();
    initializeHUD();
    initializeObjects();
    camera->lookAt();
}

// Runs while the window's context is still current (the window releases the
// world first): the programs, the skybox and the other members release their
// own GL objects.
QvScene::~QvScene() = default;

void QvScene::_storeDimensions(int widthValue, int heightValue, int screenWidthValue, int screenHeightValue,
                               float glslVersionValue)
{
    width = widthValue;
    height = heightValue;
    screenWidth = screenWidthValue;
    screenHeight = screenHeightValue;
    glslVersion = glslVersionValue;
    tracker = std::make_unique<TrackerModel>(screenWidth, screenHeight);
}

void QvScene::initializeAll()
{
    initializeCamera();
    initializeFonts();
    initializeShaders();
    initializeGraphicParameters();
    initializeSkybox();
    initializeCenterScene();
    initializeHUD();
    initializeObjects();
    initializeWidgets();
    camera->lookAt();
}

void QvScene::initializeCamera()
{
    cameraData.width = std::uint32_t(width);
    cameraData.height = std::uint32_t(height);
    cameraData.fov = kFieldOfView;
    cameraData.position = kCameraStart;
    cameraData.target = kCameraFront;
    cameraData.up = kCameraUp;
    cameraData.speed = kCameraSpeed;
    cameraData.lastX = float(width / 2);
    cameraData.lastY = float(height / 2);
    camera = std::make_unique<Camera>(cameraData);
    // The view exists before the centre transform is attached, so the
    // transform never takes a NaN matrix from it.
    camera->lookAt();
}

// The outline font first: the title's glyphs; every other text is bitmap.
// Both are built from one reading of the file, so an unreadable font is
// reported once.
void QvScene::initializeFonts()
{
    const QvFontFace file(kFontFile);
    font3D = std::make_unique<QvFont3D>(file);
    font2D = std::make_unique<QvFont2D>(file);
}

void QvScene::initializeShaders()
{
    shaders.clear();
    for (const char* name : kShaderNames) {
        shaders.push_back(std::make_unique<QvShader>(QvShader::pathFor(glslVersion, name, ".vert"),
                                                     QvShader::pathFor(glslVersion, name, ".frag")));
    }
}

// Fixed GL state, set once; depth and stencil functions belong to each control.
void QvScene::initializeGraphicParameters()
{
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_STENCIL_TEST);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glEnable(GL_PROGRAM_POINT_SIZE);
}

void QvScene::initializeSkybox()
{
    skybox = std::make_unique<QvSkybox>("Skybox", *shaders[skyboxShader]);
}

void QvScene::initializeCenterScene()
{
    rootTransform = createTransform();
    centerTransform = createTransform();
    centerTransform->setScaling(1.0f, 1.0f, 1.0f);
    centerTransform->setTranslation(camera->getPosition());
    camera->setTransform(centerTransform);
    centerTransform->onChange += [this](QvTransform* t, QvEventArgs* a) { followingCamera(t, a); };
    camera->cameraEvent += [this]() { changeCameraPosition(); };
}

void QvScene::initializeHUD()
{
    hudTree = std::make_unique<OakTree<QvTransform>>(rootTransform);
    hudTree->insert(rootTransform, centerTransform);
    QvTransform* hudLightTransform = createTransform(centerTransform);
    hudLightTransform->setTranslation(kHudLightPosition);
    hudTree->insert(centerTransform, hudLightTransform);
    hudLight = makeLight(hudLightTransform, glm::vec3(0.1f), glm::vec3(0.9f), glm::vec3(1.0f));
}

void QvScene::initializeObjects()
{
    objectTree = std::make_unique<OakTree<QvTransform>>(rootTransform);
    objectTree->insert(rootTransform, centerTransform);
    QvTransform* lightTransform = createTransform();
    lightTransform->setTranslation(kLightPosition);
    light = makeLight(lightTransform, glm::vec3(0.8f), glm::vec3(1.0f), glm::vec3(1.0f));
}

// Each panel builds its controls from the fields set up above.
void QvScene::initializeWidgets()
{
    upperPanel = std::make_unique<QvUpperPanelWidget3D>(this);
    widgets.push_back(upperPanel.get());
    lowerPanel = std::make_unique<QvLowerPanelWidget3D>(this);
    widgets.push_back(lowerPanel.get());
    lowerPanel->editName->enteredEvent += [this]() { changeEditName(); };
    fpsWidget = std::make_unique<QvFPSWidget3D>(this);
    widgets.push_back(fpsWidget.get());
}

std::unique_ptr<QvCanvas> QvScene::_createMonitor(const char* name, int index, const char* texture)
{
    QvTransform* transform = createTransform();
    transform->setScaling(scenelayout::monitorAspect(screenWidth, screenHeight), 1.0f, 1.0f);
    transform->setRelativeTranslation(0.0f, scenelayout::monitorY(index), scenelayout::kMonitorZ);
    objectTree->insert(nullptr, transform);

    // The picture goes in with the canvas, which then loads no default face.
    monitorTextures[std::size_t(index)] = textureLoader->loadTexture(texture);
    auto canvas =
        std::make_unique<QvCanvas>(name, light.get(), *camera, &monitorTextures[std::size_t(index)]);
    canvas->setPointShader(shaders[pointShader].get());
    canvas->setCirclePointShader(shaders[circlePointShader].get());
    canvas->setSize(scenelayout::kMonitorFace, scenelayout::kMonitorFace, scenelayout::kMonitorDepth);
    canvas->setTransform(transform);
    canvas->shader = shaders[textureLightShader].get();
    canvas->pickingShader = shaders[lightShader].get();
    canvas->addLight(light.get());
    objects.push_back(canvas.get());
    return canvas;
}

// The information monitor carries text, not plots: no overlay.
void QvScene::createInfoCanvas()
{
    infoCanvas = _createMonitor("QvModel_InfoCanvas", 0, "textures/monitor_info_black.jpg");
    infoCanvas->drawOverlay = false;
}

void QvScene::createMouseRouteCanvas()
{
    routeCanvas = _createMonitor("QvModel_MouseRouteCanvas", 1, "textures/monitor_route.jpg");
}

void QvScene::createMouseSpeedCanvas()
{
    speedCanvas = _createMonitor("QvModel_MouseSpeedCanvas", 2, "textures/monitor_speed.jpg");
}

void QvScene::createMouseStopsCanvas()
{
    stopsCanvas = _createMonitor("QvModel_MouseStopsCanvas", 3, "textures/monitor_stops.jpg");
}

std::unique_ptr<QvLabel> QvScene::_createStatisticsLabel(const char* name, std::size_t slot)
{
    const scenelayout::StatisticsLabel& place = scenelayout::kStatisticsLabels[slot];
    QvTransform* parent = infoCanvas->getTransform();
    QvTransform* transform = createTransform(parent);
    transform->setScaling(1.0f, 1.0f, 1.0f);
    transform->setRelativeTranslation(place.x, place.y, scenelayout::kLabelZ);
    objectTree->insert(parent, transform);

    std::unique_ptr<QvLabel> label;
    if (place.key != 0) {
        label = std::make_unique<QvLabel>(name, *dictionary, language(), place.key, *font2D, light.get(),
                                          *camera);
    } else {
        label = std::make_unique<QvLabel>(name, u"0", *font2D, light.get(), *camera);
        label->setObjectTree(objectTree.get());
    }
    label->setSize(2.0f, 1.0f, 1.0f);
    label->setFontSize(scenelayout::kStatisticsFontSize);
    label->setTransform(transform);
    label->shader = shaders[lightShader].get();
    label->setTextShader(shaders[text2DShader].get());
    label->setOptimizeTextShader(shaders[text2DStaticShader].get());
    label->initLabel();
    label->addLight(light.get());
    return label;
}

// The help text, wrapped on the information monitor in the interface language.
void QvScene::createInfoText()
{
    QvTransform* parent = infoCanvas->getTransform();
    QvTransform* transform = createTransform(parent);
    transform->setScaling(1.0f, 1.0f, 1.0f);
    transform->setRelativeTranslation(0.0f, 0.0f, scenelayout::kInfoTextZ);
    objectTree->insert(parent, transform);

    infoText = std::make_unique<QvLabel>(kInfoTextName, *dictionary, language(), scenelayout::kHelpKey,
                                         *font2D, light.get(), *camera);
    infoText->enableWrapping();
    infoText->optimized = true;
    infoText->setSize(scenelayout::kInfoTextWidth, scenelayout::kInfoTextHeight, 1.0f);
    // A translation longer than the English wraps to more lines: it is lifted
    // (and shrunk if need be) to stay on the glass and off the heading.
    const QvInfoTextFit fit = _fitInfoText(*infoText);
    if (fit.lift != 0.0f) transform->setRelativeTranslation(0.0f, fit.lift, scenelayout::kInfoTextZ);
    infoText->setFontSize(fit.fontSize);
    infoText->setTransform(transform);
    infoText->shader = shaders[lightShader].get();
    infoText->pickingShader = shaders[lightShader].get();
    infoText->setTextShader(shaders[text2DShader].get());
    infoText->setOptimizeTextShader(shaders[text2DStaticShader].get());
    infoText->initLabel();
    transform->onChange += [this](QvTransform* t, QvEventArgs* a) { transformed(t, a); };
    infoText->addLight(light.get());
    objects.push_back(infoText.get());
}

QvInfoTextFit QvScene::_fitInfoText(const QvLabel& text) const
{
    std::vector<QvInfoGlyph> glyphs;
    glyphs.reserve(text.text.size());
    for (const char16_t code : text.text) {
        if (const Character2D* record = text.glyphFor(code)) glyphs.push_back({record, code == u' '});
    }
    const QvTextBox box{scenelayout::kInfoTextWidth, scenelayout::kInfoTextHeight, 1.0f, glm::vec3(1.0f),
                        text.padding};
    return qvFitInfoText(glyphs, box, scenelayout::kInfoTextFontSize);
}

void QvScene::createOdometerLabel()
{
    odometerLabel = _createStatisticsLabel("QvModel_OdometerLabel", 0);
}

void QvScene::createOdometerValueLabel()
{
    odometerValueLabel = _createStatisticsLabel("QvModel_OdometerValueLabel", 1);
}

void QvScene::createSpeedometerLabel()
{
    speedometerLabel = _createStatisticsLabel("QvModel_SpeedometerLabel", 2);
}

void QvScene::createSpeedometerValueLabel()
{
    speedometerValueLabel = _createStatisticsLabel("QvModel_SpeedometerValueLabel", 3);
}

void QvScene::createXCoordLabel()
{
    xCoordLabel = _createStatisticsLabel("QvModel_XCoordLabel", 4);
}

void QvScene::createXCoordValueLabel()
{
    xCoordValueLabel = _createStatisticsLabel("QvModel_XCoordValueLabel", 5);
}

void QvScene::createYCoordLabel()
{
    yCoordLabel = _createStatisticsLabel("QvModel_YCoordLabel", 6);
}

void QvScene::createYCoordValueLabel()
{
    yCoordValueLabel = _createStatisticsLabel("QvModel_YCoordValueLabel", 7);
}

void QvScene::createMaxSpeedLabel()
{
    maxSpeedLabel = _createStatisticsLabel("QvModel_MaxSpeedLabel", 8);
}

void QvScene::createMaxSpeedValueLabel()
{
    maxSpeedValueLabel = _createStatisticsLabel("QvModel_MaxSpeedValueLabel", 9);
}

void QvScene::createNumberOfStopsLabel()
{
    numberOfStopsLabel = _createStatisticsLabel("QvModel_NumberOfStopsLabel", 10);
}

void QvScene::createNumberOfStopsValueLabel()
{
    numberOfStopsValueLabel = _createStatisticsLabel("QvModel_NumberOfStopsValueLabel", 11);
}

void QvScene::createTimeLabel()
{
    timeLabel = _createStatisticsLabel("QvModel_TimeLabel", 12);
}

void QvScene::createTimeValueLabel()
{
    timeValueLabel = _createStatisticsLabel("QvModel_TimeValueLabel", 13);
}

// The extruded title below the monitors; its glyphs hang in the object tree,
// so they follow its sway.
void QvScene::createVelmorinText3D()
{
    QvTransform* transform = createTransform();
    transform->setScaling(scenelayout::monitorAspect(screenWidth, screenHeight), 1.0f, 1.0f);
    transform->setTranslation(0.0f, scenelayout::kTitleY, scenelayout::kMonitorZ);
    objectTree->insert(nullptr, transform);

    titleText = std::make_unique<QvLabel>("QvModel_VelmorinText3D", kTitle, *font3D, light.get(), *camera);
    titleText->setObjectTree(objectTree.get());
    titleText->setSize(scenelayout::kMonitorFace, scenelayout::kMonitorFace, scenelayout::kMonitorDepth);
    titleText->setFontSize(scenelayout::kTitleFontSize);
    titleText->setTransform(transform);
    titleText->shader = shaders[lightShader].get();
    titleText->pickingShader = shaders[lightShader].get();
    titleText->setTextShader(shaders[lightShader].get());
    titleText->setOptimizeTextShader(shaders[text2DStaticShader].get());
    titleText->initLabel();
    transform->onChange += [this](QvTransform* t, QvEventArgs* a) { transformed(t, a); };
    titleText->addLight(light.get());
    objects.push_back(titleText.get());
}

std::array<QvLabel*, 14> QvScene::statisticsLabels() const
{
    return {odometerLabel.get(),      odometerValueLabel.get(),
            speedometerLabel.get(),   speedometerValueLabel.get(),
            xCoordLabel.get(),        xCoordValueLabel.get(),
            yCoordLabel.get(),        yCoordValueLabel.get(),
            maxSpeedLabel.get(),      maxSpeedValueLabel.get(),
            numberOfStopsLabel.get(), numberOfStopsValueLabel.get(),
            timeLabel.get(),          timeValueLabel.get()};
}

// Recognised by the first caption's name: the labels join once.
void QvScene::includeElements()
{
    const bool listed = std::any_of(objects.begin(), objects.end(), [](const QvMaterialObject* o) {
        return o->name == kFirstStatisticsName;
    });
    if (listed) return;
    for (QvLabel* label : statisticsLabels()) objects.push_back(label);
}

// The title swings back and forth about its vertical axis: the rotation
// accumulates cos(phase) / 300 a tick.
void QvScene::swayTitle()
{
    titleAngle += kTitleSwayStep;
    if (titleText)
        titleText->getTransform()->rotate(0.0f, float(std::cos(titleAngle) / kTitleSwayDivisor), 0.0f);
}

// The typed name, any letters the outline font has (others show its
// fallback sign), an empty one included.
void QvScene::changeEditName()
{
    if (titleText) titleText->setLabel(lowerPanel->editName->getText());
}

void QvScene::transformed(QvTransform* transform, QvEventArgs*)
{
    getChildrenOfParent(objectTree.get(), transform);
}

// The texts on the information monitor (help text, statistics) are tested
// against the monitor's box, the title against its own, which its glyphs
// sway with; anything else is drawn (the canvases check their own view).
// From any one screen the other screens stand 24 units away, out of view.
bool QvScene::_outOfView(const QvMaterialObject& object) const
{
    const QvTransform* transform = object.getTransform();
    const QvBoxControl* bounds = nullptr;
    if (&object == titleText.get()) {
        bounds = titleText.get();
    } else if (infoCanvas && transform != nullptr && transform->getParent() == infoCanvas->getTransform()) {
        bounds = infoCanvas.get();
    } else {
        return false;
    }
    const glm::mat4 clipFromModel =
        camera->getProjectionMatrix() * camera->getCameraMatrix() * bounds->getTransform()->getMatrix();
    return !qvBoxMayBeInView(clipFromModel, bounds->vertices, qvBoxFloatsPerVertex);
}

int QvScene::language() const
{
    return gameLogic ? int(gameLogic->language) : int(English);
}

QvTransform* QvScene::createTransform()
{
    return createTransform(nullptr);
}

QvTransform* QvScene::createTransform(QvTransform* parent)
{
    transforms.push_back(std::make_unique<QvTransform>(parent));
    QvTransform* transform = transforms.back().get();
    transform->setId(transformCounter++);
    return transform;
}

void QvScene::setViewport(int newWidth, int newHeight)
{
    setCartesianLengths(newWidth, newHeight);
}

void QvScene::setCartesianLengths(int newWidth, int newHeight)
{
    width = newWidth;
    height = newHeight;
}

void QvScene::setScreenDimension(int newScreenWidth, int newScreenHeight)
{
    screenWidth = newScreenWidth;
    screenHeight = newScreenHeight;
}

// Only the text controls that read a dictionary follow the language; a
// switch keeps the language it was built with.
void QvScene::updateText()
{
    const int current = language();
    for (QvMaterialObject* object : textObjects) {
        if (auto* button = dynamic_cast<QvButton*>(object)) {
            if (button->dictionary != nullptr) button->updateText(current);
        } else if (auto* edit = dynamic_cast<QvEdit*>(object)) {
            if (edit->dictionary != nullptr) edit->updateText(current);
        } else if (auto* label = dynamic_cast<QvLabel*>(object)) {
            if (label->dictionary != nullptr) label->updateText(current);
        }
    }
}

void QvScene::handlerKeyPress(QvKeyboardEventArgs* args)
{
    if (args->key < 0 || args->key >= kKeyCount) return;
    if (args->action == GLFW_PRESS) keys[std::size_t(args->key)] = true;
    if (args->action == GLFW_RELEASE) keys[std::size_t(args->key)] = false;
}

void QvScene::handlerKeyDown(QvKeyboardEventArgs* args)
{
    switch (args->key) {
    case GLFW_KEY_F:
        showOrHideFPSWidget();
        break;
    case GLFW_KEY_T:
        // Each panel toggles on its own flag, so a lone hidden one swaps.
        showOrHideUpperPanel();
        showOrHideLowerPanel();
        break;
    case GLFW_KEY_HOME:
        camera->initialize(cameraData);
        currentCanvas = 0;
        break;
    default:
        break;
    }
}

void QvScene::handlerKeyUp(QvKeyboardEventArgs*) {}

void QvScene::processingKeys()
{
    const auto held = [this](const int(&group)[2]) {
        return keys[std::size_t(group[0])] || keys[std::size_t(group[1])];
    };
    if (held(kLeftKeys)) camera->moveToStraightLeft();
    if (held(kRightKeys)) camera->moveToStraightRight();
    if (held(kForwardKeys)) camera->moveToForward();
    if (held(kBackwardKeys)) camera->moveToBackward();
}

namespace {

// Shows a hidden widget (brought to the camera's place first) or hides a
// shown one, keeping the scene's flag in step.
void toggleWidget(QvWidget3D* widget, bool& shown)
{
    if (widget == nullptr) return;
    if (shown) {
        shown = false;
        widget->removeFromScreen();
    } else {
        shown = true;
        widget->addToScreen();
    }
}

}  // namespace

void QvScene::showOrHideUpperPanel()
{
    toggleWidget(upperPanel.get(), upperPanelShown);
}

void QvScene::showOrHideLowerPanel()
{
    toggleWidget(lowerPanel.get(), lowerPanelShown);
}

void QvScene::showOrHideFPSWidget()
{
    toggleWidget(fpsWidget.get(), fpsShown);
}

void QvScene::drawUpperPanel()
{
    upperPanel->addToScreen();
    upperPanelShown = true;
}

void QvScene::drawLowerPanel()
{
    lowerPanel->addToScreen();
    lowerPanelShown = true;
}

void QvScene::undrawUpperPanel()
{
    upperPanel->removeFromScreen();
    upperPanelShown = false;
}

void QvScene::undrawLowerPanel()
{
    lowerPanel->removeFromScreen();
    lowerPanelShown = false;
}

// Swap interval 1 (the start) or 0; the window keeps which one is set.
void QvScene::switchVSync()
{
    if (window == nullptr) return;
    glfwSwapInterval(window->vsyncOff ? 1 : 0);
    window->vsyncOff = !window->vsyncOff;
}

void QvScene::switchOnTop()
{
    if (window == nullptr) return;
    window->setAttributeOnTop(!window->onTop);
}

// Start: the help text gives way to the statistics. Stop: the window is
// saved as "photo.jpeg" at once, as it looks with the tracker stopped, so a
// quit or a new start before the next frame neither loses nor changes it.
void QvScene::startTracker()
{
    // Measured from where the pointer is now: movement while the tracker was
    // off never reaches the odometer.
    double x = 0.0;
    double y = 0.0;
    const bool pointerKnown = _readPointer(&x, &y);
    const bool stopped = tracker->toggle(x, y, pointerKnown);
    tracking = tracker->tracking;
    if (!stopped) {
        excludeElement(objects, kInfoTextName);
        includeElements();
    } else {
        _photograph();
    }
}

// The plots start again empty; the counters are the tracker's.
void QvScene::buttonClear()
{
    tracker->clear();
}

void QvScene::excludeElement(std::vector<QvMaterialObject*>& list, const std::string& name)
{
    const auto found = std::find_if(list.begin(), list.end(),
                                    [&name](const QvMaterialObject* o) { return o->name == name; });
    if (found != list.end()) list.erase(found);
}

void QvScene::renderScene()
{
    // The pointer is read on the whole screen every frame, also outside the
    // window; the tracker decides which frames sample it.
    const double t = camera->frameTime;
    double pointerX = 0.0;
    double pointerY = 0.0;
    const bool pointerKnown = _readPointer(&pointerX, &pointerY);
    const TrackerFrame steps = tracker->frame(t, pointerX, pointerY, pointerKnown);
    fps = float(tracker->fps);
    lastFrameTime = t;

    if (steps.keysTick) {
        processingKeys();
        swayTitle();
    }

    if (refreshTrees) {
        for (QvWidget3D* widget : widgets) {
            if (widget->onScreen) getChildrenOfWidget(widget->widgetTree.get(), rootTransform);
        }
        getChildrenOfParentHUD(hudTree.get(), rootTransform);
        refreshTrees = false;
    }

    if (const std::uint32_t changed = tracker->takeChangedLabels()) _showTrackerTexts(changed);

    _drawScene();
}

void QvScene::_drawScene()
{
    if (skybox) skybox->draw(*camera);
    for (QvMaterialObject* object : objects) {
        if (!_outOfView(*object)) object->draw(*camera);
    }
    for (QvWidget3D* widget : widgets) {
        if (widget->onScreen) widget->draw();
    }
}

// Between frames the back buffer holds nothing defined: the photo gets a
// frame of its own, cleared as the main loop clears. The loop's next frame
// clears and draws again, so nothing of it is ever shown.
// Stop comes from inside the Start/Stop switch's release: its box is back from
// the press's shrink, but its new caption, built on the press, still hangs
// under the shrunk box (small, and behind the box's face) until the world
// re-places the switch's children after the release handlers. The panels are
// re-placed here first, as the next frame will find them.
void QvScene::_photograph()
{
    _placeShownWidgets(centerTransform);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    _drawScene();
    saveScreenshot();
}

bool QvScene::_readPointer(double* x, double* y)
{
    QvScreenCursor cursor;
    const bool known = qvGetScreenCursor(&cursor);
    if (known) tracker->setPointerArea(cursor.screenWidth, cursor.screenHeight);
    *x = cursor.x;
    *y = cursor.y;
    return known;
}

std::array<QvLabel*, TrackerModel::kLabelCount> QvScene::_trackerLabels() const
{
    const auto label = [](const std::unique_ptr<QvLabel>& owner) { return owner.get(); };
    return {upperPanel ? label(upperPanel->odometerValueLabel) : nullptr,
            label(odometerValueLabel),
            upperPanel ? label(upperPanel->speedValueLabel) : nullptr,
            label(speedometerValueLabel),
            upperPanel ? label(upperPanel->xCoordValueLabel) : nullptr,
            label(xCoordValueLabel),
            upperPanel ? label(upperPanel->yCoordValueLabel) : nullptr,
            label(yCoordValueLabel),
            label(maxSpeedValueLabel),
            label(numberOfStopsValueLabel),
            label(timeValueLabel),
            fpsWidget ? label(fpsWidget->fpsValueLabel) : nullptr};
}

// Each changed text is assembled in the one textBuffer and handed over as a
// pointer and a length: no string is built per frame.
void QvScene::_showTrackerTexts(std::uint32_t changed)
{
    const std::array<QvLabel*, TrackerModel::kLabelCount> labels = _trackerLabels();
    for (int i = 0; i < TrackerModel::kLabelCount; ++i) {
        if (((changed >> i) & 1u) == 0 || labels[std::size_t(i)] == nullptr) continue;
        const int length = tracker->labelText(TrackerLabel(i), textBuffer.data(), int(textBuffer.size()));
        labels[std::size_t(i)]->setLabel(textBuffer.data(), length);
    }
}

glm::vec4 QvScene::getWorldCoords(int x, int y, float w, float h)
{
    return normalisedDeviceCoordinates(x, y, w, h);
}

glm::vec4 QvScene::normalisedDeviceCoordinates(int x, int y, float w, float h) const
{
    return scenelayout::normalisedDeviceCoords(x, y, w, h);
}

glm::vec4 QvScene::inverseProjection(glm::vec4 clip) const
{
    return clip;
}

glm::vec4 QvScene::inverseCamera(glm::vec4 eye) const
{
    return eye;
}

void QvScene::destroy()
{
    fmt::print("{}\n", kDestroyLine);
}

void QvScene::getChildrenOfParent(OakTree<QvTransform>* tree, QvTransform* parent)
{
    tree->walk(parent, [](QvTransform* up, QvTransform* child) { child->updateRelativeTransformation(up); });
}

void QvScene::getChildrenOfParentHUD(OakTree<QvTransform>* tree, QvTransform* parent)
{
    getChildrenOfParent(tree, parent);
}

void QvScene::getChildrenOfWidget(OakTree<QvTransform>* tree, QvTransform* parent)
{
    getChildrenOfParent(tree, parent);
}

void QvScene::followingCamera(QvTransform* transform, QvEventArgs*)
{
    getChildrenOfParentHUD(hudTree.get(), transform);
    _placeShownWidgets(transform);
}

void QvScene::_placeShownWidgets(QvTransform* from)
{
    for (QvWidget3D* widget : widgets) {
        if (widget->onScreen) getChildrenOfWidget(widget->widgetTree.get(), from);
    }
}

void QvScene::changeCameraPosition()
{
    for (QvWidget3D* widget : widgets) {
        const std::vector<QvMaterialObject*> controls = widget->components;
        for (QvMaterialObject* control : controls) {
            (*control->onCameraPosition)(camera.get(), nullptr);
        }
    }
}

void QvScene::saveScreenshot()
{
    // The loader refuses an empty (minimised) window itself.
    if (textureLoader) textureLoader->saveScreenshot(kScreenshotFile, width, height);
}
