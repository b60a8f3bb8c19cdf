// The application with a real window: the main loop's frame order around a
// close request, and the GLFW callbacks filling their shared arguments.
#include "engine/shell/qvapplication.h"
#include "engine/platform/qvwindow.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace {

// A plain window (no world) that is asked to close during its third event
// poll, as a close button's event would arrive.
class ClosingWindow : public QvWindow {
public:
    void pollEvents() override
    {
        QvWindow::pollEvents();
        if (++polls == 3) close();
    }
    void swapBuffers() override
    {
        ++swaps;
        QvWindow::swapBuffers();
    }
    int polls = 0;
    int swaps = 0;
};

}  // namespace

TEST(Application, ACloseRequestStillLetsThatFrameBeDrawn)
{
    ClosingWindow window;
    QvApplication application(&window);
    application.start();
    EXPECT_EQ(window.polls, 3);
    EXPECT_EQ(window.swaps, 1 + 3);  // the splash, then every polled frame
    application.stop();
    EXPECT_NE(window.windowShouldClose(), 0);
}

TEST(Application, CallbacksFillTheSharedArgumentsAndFireTheWindowEvents)
{
    QvWindow window;
    QvApplication application(&window);
    application._startUp();
    // The installed callbacks, taken back from GLFW to be called with chosen input.
    const GLFWcursorposfun cursor = glfwSetCursorPosCallback(window.handle, nullptr);
    const GLFWmousebuttonfun button = glfwSetMouseButtonCallback(window.handle, nullptr);
    const GLFWkeyfun key = glfwSetKeyCallback(window.handle, nullptr);
    const GLFWscrollfun scroll = glfwSetScrollCallback(window.handle, nullptr);
    const GLFWwindowclosefun closing = glfwSetWindowCloseCallback(window.handle, nullptr);
    ASSERT_TRUE(cursor && button && key && scroll && closing);

    std::vector<std::pair<int, int>> moves;
    window.onCursorMove += [&](QvWindow* sender, QvCursorEventArgs* args) {
        EXPECT_EQ(sender, &window);
        moves.emplace_back(args->x, args->y);
    };
    cursor(window.handle, 10.9, -0.5);
    cursor(window.handle, -10.9, 3e10);  // far outside any screen: saturated
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], std::make_pair(10, 0));
    EXPECT_EQ(moves[1], std::make_pair(-10, std::numeric_limits<std::int32_t>::max()));

    int presses = 0;
    int releases = 0;
    window.onMouseButtonPress += [&](QvWindow*, QvMouseEventArgs* args) {
        ++presses;
        double x = 0.0;
        double y = 0.0;
        glfwGetCursorPos(window.handle, &x, &y);
        EXPECT_EQ(args->x, std::int32_t(x));
        EXPECT_EQ(args->button, GLFW_MOUSE_BUTTON_RIGHT);
    };
    window.onMouseButtonRelease += [&]() { ++releases; };
    button(window.handle, GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, 0);
    button(window.handle, GLFW_MOUSE_BUTTON_RIGHT, GLFW_RELEASE, 0);
    button(window.handle, GLFW_MOUSE_BUTTON_RIGHT, GLFW_REPEAT, 0);  // no such button action
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(releases, 1);

    std::vector<int> actions;
    window.onKey += [&](QvWindow*, QvKeyboardEventArgs* args) { actions.push_back(args->action); };
    key(window.handle, GLFW_KEY_W, 17, GLFW_REPEAT, 0);
    EXPECT_EQ(actions, std::vector<int>{GLFW_REPEAT});

    double wheel = 0.0;
    window.onScroll += [&](QvWindow*, QvScrollEventArgs* args) { wheel = args->yoffset; };
    scroll(window.handle, 0.0, -1.5);
    EXPECT_EQ(wheel, -1.5);

    int quits = 0;
    window.onQuit += [&]() { ++quits; };
    closing(window.handle);
    EXPECT_EQ(quits, 1);
}
