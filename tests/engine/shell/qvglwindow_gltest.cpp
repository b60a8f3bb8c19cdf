// The OpenGL window's relays: a key becomes key-press plus key-down (press)
// or key-up (release), a repeat only key-press; a resize sets the viewport and
// the window's size before the world and the scene see it.
#include "engine/shell/qvglwindow.h"
#include "scene/qvscene.h"
#include "engine/gl/qvshader.h"
#include "engine/shell/qvworld.h"

#include "glcontext.h"

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace {

class CountingScene : public QvScene {
public:
    CountingScene() : QvScene(Bare{}, 1024, 768, 1920, 1080, 3.3f) {}
    void handlerKeyPress(QvKeyboardEventArgs*) override { ++presses; }
    void handlerKeyDown(QvKeyboardEventArgs*) override { ++downs; }
    void handlerKeyUp(QvKeyboardEventArgs*) override { ++ups; }
    void setViewport(int w, int h) override { lastSize = {w, h}; }
    int presses = 0;
    int downs = 0;
    int ups = 0;
    std::pair<int, int> lastSize{0, 0};
};

}  // namespace

TEST(GLWindow, RelaysSplitKeysAndResizeTheViewportFirst)
{
    QvGLWindow window("Velmorin");
    {
        testsupport::GlContext context;  // a current context for the viewport
        auto owned = std::make_unique<CountingScene>();
        CountingScene* scene = owned.get();
        window.world = std::make_unique<QvWorld>(std::move(owned), 1024, 768, 1920, 1080, 3.3f);

        QvKeyboardEventArgs key;
        key.key = GLFW_KEY_A;
        key.action = GLFW_PRESS;
        window.onKey(&window, &key);
        EXPECT_EQ(scene->presses, 1);
        EXPECT_EQ(scene->downs, 1);
        key.action = GLFW_REPEAT;
        window.onKey(&window, &key);
        EXPECT_EQ(scene->presses, 2);
        EXPECT_EQ(scene->downs, 1);
        EXPECT_EQ(scene->ups, 0);
        key.action = GLFW_RELEASE;
        window.onKey(&window, &key);
        EXPECT_EQ(scene->presses, 3);
        EXPECT_EQ(scene->ups, 1);

        QvWindowEventArgs size;
        size.width = 300;
        size.height = 200;
        window.onResize(&window, &size);
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], 300);
        EXPECT_EQ(viewport[3], 200);
        EXPECT_EQ(window.width, 300);
        EXPECT_EQ(scene->lastSize, std::make_pair(300, 200));
        EXPECT_EQ(window.world->cartesianWidth, 300);
        window.world.reset();
    }
}

namespace {

// Records, as it goes, whether its window's context is current and its
// programs still exist: the state in which the scene's GL objects are released.
class ProbeScene : public QvScene {
public:
    ProbeScene(float glslVersion, GLFWwindow** context, bool* programAlive)
        : QvScene(1024, 768, 1920, 1080, glslVersion), context(context), programAlive(programAlive)
    {
    }
    ~ProbeScene() override
    {
        *context = glfwGetCurrentContext();
        *programAlive = glIsProgram(shaders[skyboxShader]->program.get()) == GL_TRUE;
    }
    GLFWwindow** context;
    bool* programAlive;
};

}  // namespace

TEST(GLWindow, ShutdownReleasesTheSceneInItsContextThenTerminatesGlfw)
{
    GLFWwindow* contextAtRelease = nullptr;
    bool programAlive = false;
    GLFWwindow* handle = nullptr;
    {
        QvGLWindow window("Velmorin");
        window.create();
        ASSERT_NE(window.getWorld(), nullptr);
        window.world->setActiveScene(
            std::make_unique<ProbeScene>(window.glslVersion, &contextAtRelease, &programAlive));
        handle = window.handle;
        glfwMakeContextCurrent(nullptr);  // whatever was current last
    }
    EXPECT_EQ(contextAtRelease, handle);
    EXPECT_TRUE(programAlive);
    glfwGetError(nullptr);
    glfwGetTime();  // needs an initialised library
    EXPECT_EQ(glfwGetError(nullptr), GLFW_NOT_INITIALIZED);
}
