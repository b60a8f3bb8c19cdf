// The scene's pure parts, without OpenGL: the key table and the camera keys,
// Home, picking coordinates, transform ids and the quit line.
#include "qvscene.h"

#include "qvevents.h"
#include "qvtransform.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

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

TEST(Scene, WorldCoordinatesOfTheWindowCorners)
{
    BareScene scene;
    EXPECT_EQ(scene.getWorldCoords(0, 0, 1024.0f, 768.0f), glm::vec4(-1.0f, 1.0f, -1.0f, 1.0f));
    EXPECT_EQ(scene.getWorldCoords(1024, 768, 1024.0f, 768.0f), glm::vec4(1.0f, -1.0f, -1.0f, 1.0f));
    EXPECT_EQ(scene.getWorldCoords(512, 192, 1024.0f, 768.0f), glm::vec4(0.0f, 0.5f, -1.0f, 1.0f));
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
