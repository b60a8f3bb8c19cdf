// The whole scene with a real context: a frame draws the sky under the
// camera with no GL error, camera keys step once per tick, and the
// screenshot is taken at Stop and skipped while minimised.
#include "scene/qvscene.h"
#include "controls/qvbutton.h"
#include "controls/qvedit.h"
#include "controls/qvedit2d.h"
#include "controls/qvlabel.h"
#include "controls/qvswitch.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvevents.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvshader.h"
#include "glcontext.h"
#include "engine/core/qvtransform.h"
#include "engine/platform/qvwindow.h"
#include "game/qvgamelogic.h"
#include "widgets/qvfpswidget3d.h"
#include "widgets/qvlowerpanelwidget3d.h"
#include "widgets/qvupperpanelwidget3d.h"

#include <gtest/gtest.h>
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

void frame(QvScene& scene, double time)
{
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    scene.camera->frameTime = time;
    scene.renderScene();
}

bool skyLike(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return b >= 90 && b > r + 25 && b + 10 >= g;
}

}  // namespace

TEST(SceneFrame, DrawsTheSkyEverywhereWithoutGlErrors)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    scene.camera->moveUpDown(10.0);  // high above the monitors: sky and the two panels
    frame(scene, 1.0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    const std::vector<std::uint8_t> pixels = context.pixels();
    int sky = 0;
    int white = 0;
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        sky += skyLike(pixels[i], pixels[i + 1], pixels[i + 2]) ? 1 : 0;
        white += (pixels[i] == 255 && pixels[i + 1] == 255 && pixels[i + 2] == 255) ? 1 : 0;
    }
    const int total = kWidth * kHeight;
    EXPECT_GT(sky, total / 2);
    EXPECT_LT(white, total / 100);  // the clear colour is covered everywhere

    // Looking straight up shows another face of the sky: the picture changes.
    const auto before = context.pixel(kWidth / 2, kHeight / 2);
    scene.camera->lookAround(double(kWidth / 2), -1000.0);
    frame(scene, 1.1);
    EXPECT_NE(context.pixel(kWidth / 2, kHeight / 2), before);
}

TEST(SceneFrame, HeldCameraKeysStepAtMostOncePerTick)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    QvKeyboardEventArgs key;
    key.key = GLFW_KEY_S;
    key.action = GLFW_PRESS;
    scene.handlerKeyPress(&key);
    frame(scene, 1.000);
    frame(scene, 1.010);  // inside the same 0.016 s tick: no second step
    EXPECT_NEAR(scene.camera->getPosition().z, 21.0f, 1e-5f);
    frame(scene, 1.020);
    EXPECT_NEAR(scene.camera->getPosition().z, 22.0f, 1e-5f);
    EXPECT_NEAR(scene.fps, 100.0f, 0.5f);  // 1 / 0.01 s
}

TEST(SceneFrame, ScreenshotAtStopAndNoneWhenMinimised)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    frame(scene, 1.0);
    scene.startTracker();
    frame(scene, 1.1);
    std::filesystem::remove("photo.jpeg");
    scene.startTracker();
    ASSERT_TRUE(std::filesystem::exists("photo.jpeg"));

    TextureLoader loader;
    const std::vector<std::uint8_t> photo = loader.loadImage("photo.jpeg");
    ASSERT_EQ(loader.getImageWidth(), kWidth);
    ASSERT_EQ(loader.getImageHeight(), kHeight);
    // The photo holds the stopped scene, as the next frame shows it (JPEG is
    // lossy: near, not equal).
    frame(scene, 1.2);
    const auto shown = context.pixel(kWidth / 2, kHeight / 2);
    const std::uint8_t* saved =
        &photo[std::size_t(kHeight / 2) * TextureLoader::scanLineWidth(kWidth) + 3 * (kWidth / 2)];
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(saved[c], shown[c], 24) << c;

    std::filesystem::remove("photo.jpeg");
    scene.setViewport(0, 0);
    scene.startTracker();
    frame(scene, 1.3);
    scene.startTracker();
    EXPECT_FALSE(std::filesystem::exists("photo.jpeg"));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// Only the controls that read the dictionary take the new language: the
// caption label, a dictionary button and a 3D edit box's ticker do; the
// literal label, the Clear button, the switches and the 2D ticker keep what
// they show.
TEST(SceneText, UpdateTextGivesTheDictionaryControlsTheInterfaceLanguage)
{
    testsupport::GlContext context(kWidth, kHeight);
    QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
    const Language other = scene.gameLogic->language == German ? Russian : German;
    QvEdit2D& ticker = *scene.lowerPanel->ticker;
    QvSwitch& startStop = *scene.lowerPanel->switchShading;
    const std::u16string tickerText = ticker.text, switchText = startStop.text;
    // "Yes" and "No" differ in every language.
    constexpr int kYes = 14, kNo = 15;
    QvButton yes("QvModel_ButtonYes", *scene.dictionary, scene.language(), kYes, *scene.font2D,
                 scene.light.get(), *scene.camera);
    yes.setObjectTree(scene.objectTree.get());
    yes.setSize(2.0f, 1.0f, 1.0f);
    yes.setTransform(scene.createTransform(scene.centerTransform));
    yes.setTextShader(scene.shaders[QvScene::text2DShader].get());
    QvEdit no("QvModel_EditNo", *scene.font3D, nullptr, *scene.camera);
    no.setSize(8.0f, 1.0f, 1.0f);
    no.setTransform(scene.createTransform(scene.centerTransform));
    no.setTextShader(scene.shaders[QvScene::lightShader].get());
    no.setTicker(scene.dictionary.get(), scene.language(), kNo);
    scene.textObjects.insert(scene.textObjects.end(),
                             {scene.odometerLabel.get(), scene.odometerValueLabel.get(), &ticker, &yes, &no});

    scene.gameLogic->language = other;
    scene.updateText();
    EXPECT_EQ(scene.odometerLabel->text, scene.dictionary->text(other, 19));
    EXPECT_EQ(yes.getLabel(), scene.dictionary->text(other, kYes));
    EXPECT_EQ(yes.glyphs2D.size(), yes.getLabel().size());
    EXPECT_EQ(no.text, scene.dictionary->text(other, kNo));
    EXPECT_EQ(no.shownText(), no.text);
    EXPECT_EQ(scene.odometerValueLabel->text, u"0");
    EXPECT_EQ(scene.lowerPanel->clearButton->text, u"Clear");
    EXPECT_EQ(startStop.text, switchText);
    EXPECT_EQ(ticker.text, tickerText);
}

TEST(SceneFrame, ReleasesItsProgramsWhileTheContextExists)
{
    testsupport::GlContext context(kWidth, kHeight);
    std::vector<GLuint> programs;
    {
        QvScene scene(kWidth, kHeight, 1920, 1080, context.glslVersion());
        for (const auto& shader : scene.shaders) programs.push_back(shader->program.get());
        frame(scene, 1.0);
    }
    ASSERT_EQ(programs.size(), std::size_t(QvScene::shaderCount));
    for (const GLuint program : programs) EXPECT_FALSE(glIsProgram(program)) << program;
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// A driver below GLSL 3.30 cannot compile "#version 330": its programs come
// from the 3.1 set, whatever the driver's 1.x version.
TEST(SceneFrame, ProgramsComeFromTheSetTheDriverCanCompile)
{
    testsupport::GlContext context(kWidth, kHeight);
    for (const auto& [version, directory] : {std::pair{1.4f, "shaders/3.1/"}, std::pair{1.5f, "shaders/3.1/"},
                                             std::pair{3.3f, "shaders/3.3/"}}) {
        QvScene scene(kWidth, kHeight, 1920, 1080, version);
        ASSERT_EQ(scene.shaders.size(), std::size_t(QvScene::shaderCount));
        EXPECT_EQ(scene.shaders[QvScene::skyboxShader]->vertexPath, std::string(directory) + "skybox.vert")
            << version;
        EXPECT_EQ(scene.shaders[QvScene::circlePointShader]->fragmentPath,
                  std::string(directory) + "circlePoint.frag")
            << version;
    }
}

namespace {

constexpr int kHudWidth = 256;
constexpr int kHudHeight = 192;

// Within a few units per channel (lighting and blending round alike, not
// always to the same value on every driver).
bool near(std::array<std::uint8_t, 4> a, std::array<std::uint8_t, 4> b)
{
    for (int c = 0; c < 3; ++c) {
        if (std::abs(int(a[c]) - int(b[c])) > 3) return false;
    }
    return true;
}

// Pixels of the panels, from the top of the window down: the upper panel's
// band, the FPS panel's band just below it, the lower panel's band.
struct HudProbe {
    testsupport::GlContext& context;
    std::array<std::uint8_t, 4> upper() const { return context.pixel(kHudWidth / 2, kHudHeight - 4); }
    std::array<std::uint8_t, 4> fps() const { return context.pixel(kHudWidth / 2, kHudHeight - 19); }
    std::array<std::uint8_t, 4> lower() const { return context.pixel(kHudWidth / 2, 4); }
    std::array<std::uint8_t, 4> middle() const { return context.pixel(kHudWidth / 2, kHudHeight / 2); }
};

void key(QvScene& scene, int code)
{
    QvKeyboardEventArgs args;
    args.key = code;
    args.action = GLFW_PRESS;
    scene.handlerKeyPress(&args);
    scene.handlerKeyDown(&args);
    args.action = GLFW_RELEASE;
    scene.handlerKeyPress(&args);
    scene.handlerKeyUp(&args);
}

}  // namespace

// The panels hang in front of the camera: wherever it moves and turns, they
// cover the same pixels in the same colours, while the view behind changes.
TEST(SceneHud, PanelsStayInFrontOfTheMovingCamera)
{
    testsupport::GlContext context(kHudWidth, kHudHeight);
    QvScene scene(kHudWidth, kHudHeight, 1920, 1080, context.glslVersion());
    ASSERT_EQ(scene.widgets.size(), 3u);
    EXPECT_TRUE(scene.upperPanelShown && scene.lowerPanelShown);
    EXPECT_FALSE(scene.fpsShown);
    const HudProbe probe{context};
    frame(scene, 1.0);
    const auto upper = probe.upper(), lower = probe.lower(), middle = probe.middle();
    key(scene, GLFW_KEY_T);
    frame(scene, 1.1);
    EXPECT_FALSE(near(probe.upper(), upper));  // the sky where the panel was
    EXPECT_FALSE(near(probe.lower(), lower));
    key(scene, GLFW_KEY_T);

    scene.camera->moveUpDown(-2.0);
    scene.camera->lookAround(double(kHudWidth / 2) + 300.0, double(kHudHeight / 2) - 150.0);
    scene.camera->moveToForward();
    frame(scene, 1.2);
    EXPECT_FALSE(near(probe.middle(), middle));
    EXPECT_TRUE(near(probe.upper(), upper));
    EXPECT_TRUE(near(probe.lower(), lower));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// T hides and shows both panels (each on its own flag); F the FPS panel,
// which starts hidden and sits just below the upper panel.
TEST(SceneHud, TAndFTogglePanels)
{
    testsupport::GlContext context(kHudWidth, kHudHeight);
    QvScene scene(kHudWidth, kHudHeight, 1920, 1080, context.glslVersion());
    const HudProbe probe{context};
    frame(scene, 1.0);
    const auto upper = probe.upper(), fpsArea = probe.fps(), lower = probe.lower();

    key(scene, GLFW_KEY_F);
    EXPECT_TRUE(scene.fpsShown && scene.fpsWidget->onScreen);
    frame(scene, 1.1);
    const auto fps = probe.fps();
    EXPECT_FALSE(near(fps, fpsArea));
    EXPECT_TRUE(near(probe.upper(), upper));
    key(scene, GLFW_KEY_F);
    frame(scene, 1.2);
    EXPECT_TRUE(near(probe.fps(), fpsArea));

    // With only the upper panel hidden, T swaps the two.
    scene.undrawUpperPanel();
    key(scene, GLFW_KEY_T);
    EXPECT_TRUE(scene.upperPanelShown && scene.upperPanel->onScreen);
    EXPECT_FALSE(scene.lowerPanelShown || scene.lowerPanel->onScreen);
    frame(scene, 1.3);
    EXPECT_TRUE(near(probe.upper(), upper));
    EXPECT_FALSE(near(probe.lower(), lower));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// The window switches: VSync flips the window's flag (and the swap
// interval), On Top the window's floating state.
TEST(SceneSwitches, VSyncAndOnTopFollowTheWindow)
{
    QvWindow window;
    window.create();
    QvScene scene(1024, 768, 1920, 1080, 3.3f);
    scene.window = &window;
    EXPECT_FALSE(window.vsyncOff);
    scene.switchVSync();
    EXPECT_TRUE(window.vsyncOff);
    scene.switchVSync();
    EXPECT_FALSE(window.vsyncOff);

    scene.switchOnTop();
    EXPECT_TRUE(window.onTop);
    EXPECT_EQ(glfwGetWindowAttrib(window.handle, GLFW_FLOATING), GLFW_TRUE);
    scene.switchOnTop();
    EXPECT_FALSE(window.onTop);
    EXPECT_EQ(glfwGetWindowAttrib(window.handle, GLFW_FLOATING), GLFW_FALSE);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// The scene's pure parts, without OpenGL: the key table and the camera keys,
// Home, picking coordinates, transform ids and the quit line.
namespace {

class BareScene : public QvScene {
public:
    BareScene() : QvScene(Bare{}, 1024, 768, 1920, 1080, 3.3f) {}
};

void sendKey(QvScene& scene, int key, int action)
{
    QvKeyboardEventArgs args;
    args.key = key;
    args.action = action;
    scene.handlerKeyPress(&args);
    if (action == GLFW_PRESS) scene.handlerKeyDown(&args);
    if (action == GLFW_RELEASE) scene.handlerKeyUp(&args);
}

}  // namespace

TEST(SceneKeys, HeldKeysStepTheCameraAndReleaseStopsIt)
{
    BareScene scene;
    const glm::vec3 start = scene.camera->getPosition();
    ASSERT_EQ(start, glm::vec3(0.0f, 0.0f, 20.0f));

    sendKey(scene, GLFW_KEY_W, GLFW_PRESS);
    sendKey(scene, GLFW_KEY_W, GLFW_REPEAT);  // a repeat neither sets nor clears
    scene.processingKeys();
    EXPECT_NEAR(scene.camera->getPosition().z, 19.0f, 1e-5f);  // one step along -z

    sendKey(scene, GLFW_KEY_LEFT, GLFW_PRESS);  // left and forward act in one step
    scene.processingKeys();
    EXPECT_NEAR(scene.camera->getPosition().x, -1.0f, 1e-5f);
    EXPECT_NEAR(scene.camera->getPosition().z, 18.0f, 1e-5f);

    sendKey(scene, GLFW_KEY_W, GLFW_RELEASE);
    sendKey(scene, GLFW_KEY_LEFT, GLFW_RELEASE);
    scene.processingKeys();
    EXPECT_NEAR(scene.camera->getPosition().z, 18.0f, 1e-5f);

    sendKey(scene, -1, GLFW_PRESS);  // outside the table: ignored, no crash
    sendKey(scene, QvScene::kKeyCount, GLFW_PRESS);
    for (bool held : scene.keys) EXPECT_FALSE(held);
}

TEST(SceneKeys, HomeRestoresTheStartingViewAndTheFirstScreen)
{
    BareScene scene;
    scene.camera->lookAround(700.0, 100.0);
    scene.camera->moveUpDown(-2.0);
    scene.currentCanvas = 2;
    sendKey(scene, GLFW_KEY_HOME, GLFW_PRESS);
    EXPECT_EQ(scene.currentCanvas, 0);
    EXPECT_EQ(scene.camera->getPosition(), glm::vec3(0.0f, 0.0f, 20.0f));
    EXPECT_EQ(scene.camera->getTarget(), glm::vec3(0.0f, 0.0f, -1.0f));
}

TEST(Scene, WorldCoordinatesOfTheWindowCornersAndTheCameraInverses)
{
    BareScene scene;
    EXPECT_EQ(scene.getWorldCoords(0, 0, 1024.0f, 768.0f), glm::vec4(-1.0f, 1.0f, -1.0f, 1.0f));
    EXPECT_EQ(scene.getWorldCoords(1024, 768, 1024.0f, 768.0f), glm::vec4(1.0f, -1.0f, -1.0f, 1.0f));
    EXPECT_EQ(scene.getWorldCoords(512, 192, 1024.0f, 768.0f), glm::vec4(0.0f, 0.5f, -1.0f, 1.0f));
    EXPECT_EQ(scene.normalisedDeviceCoordinates(512, 192, 1024.0f, 768.0f),
              glm::vec4(0.0f, 0.5f, -1.0f, 1.0f));
    // Picking takes device coordinates through each control's own matrices:
    // the two inverses hand their vector back as it came.
    const glm::vec4 p(0.3f, -0.2f, -5.0f, 1.0f);
    EXPECT_EQ(scene.inverseProjection(p), p);
    EXPECT_EQ(scene.inverseCamera(p), p);
}

// The walks recompose the HUD's and a widget's trees under the parent's matrix.
TEST(Scene, TreeWalksPlaceTheTreesUnderTheParent)
{
    BareScene scene;
    scene.centerTransform->setTranslation(glm::vec3(2.0f, -24.0f, 20.0f));
    scene.getChildrenOfParentHUD(scene.hudTree.get(), scene.rootTransform);
    EXPECT_EQ(scene.hudLight->getTransform()->getTranslationVectorFromMatrix(),
              glm::vec3(2.0f, -24.0f, 20.1f));

    OakTree<QvTransform> widgetTree(scene.rootTransform);
    QvTransform* control = scene.createTransform(scene.centerTransform);
    control->setTranslation(glm::vec3(-9.4f, 0.05f, 0.7f));
    widgetTree.insert(scene.rootTransform, scene.centerTransform);
    widgetTree.insert(scene.centerTransform, control);
    scene.getChildrenOfWidget(&widgetTree, scene.rootTransform);
    EXPECT_LT(glm::distance(control->getTranslationVectorFromMatrix(), glm::vec3(-7.4f, -23.95f, 20.7f)),
              1e-5f);
}

// Members die in reverse order of declaration: what the panels, canvases
// and labels borrow must be declared (and so laid out) before them.
TEST(Scene, OwnersOutliveTheirBorrowers)
{
    BareScene scene;
    const auto at = [](const auto& member) { return reinterpret_cast<std::uintptr_t>(&member); };
    EXPECT_LT(std::max({at(scene.dictionary), at(scene.font3D), at(scene.font2D), at(scene.objectTree),
                        at(scene.hudTree), at(scene.textureLoader), at(scene.light), at(scene.shaders)}),
              std::min({at(scene.upperPanel), at(scene.lowerPanel), at(scene.fpsWidget), at(scene.infoCanvas),
                        at(scene.infoText), at(scene.titleText)}));
    EXPECT_LT(at(scene.monitorTextures), at(scene.infoCanvas)) << "the canvases show these pictures";
    EXPECT_LT(at(scene.stopsCanvas), at(scene.tracker)) << "the tracker writes into the canvases' lists";
}

TEST(Scene, TransformsAndTheCentreThatCarriesTheCamera)
{
    BareScene scene;
    EXPECT_EQ(scene.rootTransform->getId(), 0);
    EXPECT_EQ(scene.centerTransform->getId(), 1);
    const QvTransform* next = scene.createTransform();
    EXPECT_EQ(next->getId(), scene.transformCounter - 1);
    EXPECT_GT(next->getId(), 1);

    // The centre transform is the camera's placement: the inverse of its view.
    scene.camera->moveUpDown(-1.0);
    const glm::vec3 centre = scene.centerTransform->getTranslationVectorFromMatrix();
    EXPECT_NEAR(centre.y, -24.0f, 1e-4f);
    EXPECT_NEAR(centre.z, 20.0f, 1e-4f);
}

TEST(Scene, DestroyOnlyPrintsItsLine)
{
    BareScene scene;
    testing::internal::CaptureStdout();
    scene.destroy();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Компилятор не видит, что функция destroy() не существует и поэтому не предупреждает!\n");
}
