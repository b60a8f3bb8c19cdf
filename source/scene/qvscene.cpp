// QvScene: construction of the scene's resources, the per-frame work and
// drawing, the camera keys and the screenshot.
#include "scene/qvscene.h"
#include "scene/qvscenelayout.h"

#include "engine/core/qvevents.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvmaterialobject.h"
#include "engine/core/qvobject.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvskybox.h"
#include "engine/core/qvtransform.h"
#include "engine/core/qvcontainer.h"
#include "widgets/qvwidget3d.h"
#include "engine/platform/qvwindow.h"

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <fmt/core.h>

#include <cstddef>
#include <string>

namespace {

constexpr float kFieldOfView = 45.0f;
constexpr glm::vec3 kCameraStart(0.0f, 0.0f, 20.0f);
constexpr glm::vec3 kCameraFront(0.0f, 0.0f, -1.0f);
constexpr glm::vec3 kCameraUp(0.0f, 1.0f, 0.0f);
constexpr float kCameraSpeed = 1.0f;
constexpr double kKeysInterval = 0.016;  // camera keys step at most once per tick
constexpr glm::vec3 kLightPosition(0.0f, 300.0f, 0.0f);
constexpr glm::vec3 kHudLightPosition(0.0f, 0.0f, 0.1f);
constexpr const char* kScreenshotFile = "photo.jpeg";
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
    textureLoader = std::make_unique<TextureLoader>();
    _storeDimensions(widthValue, heightValue, screenWidthValue, screenHeightValue, glslVersionValue);
    // Seam: the word game's rules object (interface language) and the
    // interface string table are created here.
    initializeAll();
    // Seam: the scene layout's creators (monitor canvases, information text,
    // statistics labels, 3D title) append to `objects` here, then the upper
    // and lower panels are put on screen.
}

QvScene::QvScene(Bare, int widthValue, int heightValue, int screenWidthValue, int screenHeightValue,
                 float glslVersionValue)
{
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
}

void QvScene::initializeAll()
{
    initializeCamera();
    // Seam: the outline font and the bitmap font of "fonts/djsans/DejaVuSans.ttf".
    initializeShaders();
    initializeGraphicParameters();
    initializeSkybox();
    initializeCenterScene();
    initializeHUD();
    initializeObjects();
    // Seam: the upper panel, lower panel and FPS panel are created here, in
    // that order, and appended to `widgets`.
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
    width = newWidth;
    height = newHeight;
}

void QvScene::handlerKeyPress(QvKeyboardEventArgs* args)
{
    if (args->key < 0 || args->key >= kKeyCount) return;
    if (args->action == GLFW_PRESS) keys[std::size_t(args->key)] = true;
    if (args->action == GLFW_RELEASE) keys[std::size_t(args->key)] = false;
}

void QvScene::handlerKeyDown(QvKeyboardEventArgs* args)
{
    // Seam: F shows or hides the FPS panel; T the upper and the lower panel.
    if (args->key == GLFW_KEY_HOME) {
        camera->initialize(cameraData);
        currentCanvas = 0;
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

void QvScene::renderScene()
{
    const double t = camera->frameTime;
    if (t > lastFrameTime) fps = float(1.0 / (t - lastFrameTime));
    lastFrameTime = t;

    if (t - double(lastKeysTime) >= kKeysInterval) {
        processingKeys();
        // Seam: the 3D title's sway steps here.
        lastKeysTime = float(t);
    }

    if (refreshTrees) {
        for (QvWidget3D* widget : widgets) {
            if (widget->onScreen) widget->getChildrenOfParent(rootTransform);
        }
        getChildrenOfParent(hudTree.get(), rootTransform);
        refreshTrees = false;
        // Seam: the tracker primes its first pointer sample here.
    }

    // Seam: the tracker's periodic steps (pointer and speed samples, plots,
    // clock, FPS label, stop check) run here.

    skybox->draw(*camera);
    for (QvMaterialObject* object : objects) object->draw(*camera);
    for (QvWidget3D* widget : widgets) {
        if (widget->onScreen) widget->draw();
    }

    if (screenshotPending) {
        screenshotPending = false;
        saveScreenshot();
    }
}

glm::vec4 QvScene::getWorldCoords(int x, int y, float w, float h)
{
    return scenelayout::normalisedDeviceCoords(x, y, w, h);
}

void QvScene::destroy()
{
    fmt::print("{}\n", kDestroyLine);
}

void QvScene::getChildrenOfParent(OakTree<QvTransform>* tree, QvTransform* parent)
{
    tree->walk(parent, [](QvTransform* up, QvTransform* child) { child->updateRelativeTransformation(up); });
}

void QvScene::followingCamera(QvTransform* transform, QvEventArgs*)
{
    getChildrenOfParent(hudTree.get(), transform);
    for (QvWidget3D* widget : widgets) {
        if (widget->onScreen) widget->getChildrenOfParent(transform);
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
