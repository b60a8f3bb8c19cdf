// The screen cursor reads the pointer in screen pixels, wherever it is, and
// reports plainly when there is no display to ask.
#include "engine/platform/qvscreencursor.h"

#include "glcontext.h"

#include <gtest/gtest.h>

// Xlib's macros (None, Bool, ...) collide with GoogleTest's names: included last.
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>
#include <X11/Xlib.h>

namespace {

void warpPointer(Display* display, int x, int y)
{
    XWarpPointer(display, 0L, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XSync(display, 0);
}

}  // namespace

TEST(ScreenCursor, FollowsThePointerAcrossTheWholeScreen)
{
    testsupport::GlContext context;  // GLFW initialised: its display is open
    Display* display = glfwGetX11Display();
    ASSERT_NE(display, nullptr);
    const int screenWidth = DisplayWidth(display, DefaultScreen(display));
    const int screenHeight = DisplayHeight(display, DefaultScreen(display));

    // The test window is hidden, so every one of these lies outside it.
    // With the size of the whole X screen, every monitor of it.
    for (const auto& [x, y] : {std::pair{0, 0}, {123, 45}, {screenWidth - 1, screenHeight - 1}}) {
        warpPointer(display, x, y);
        QvScreenCursor cursor;
        ASSERT_TRUE(qvGetScreenCursor(&cursor));
        EXPECT_EQ(cursor.x, double(x));
        EXPECT_EQ(cursor.y, double(y));
        EXPECT_EQ(cursor.screenWidth, screenWidth);
        EXPECT_EQ(cursor.screenHeight, screenHeight);
    }
}

TEST(ScreenCursor, WithoutGlfwThereIsNoDisplayAndTheAnswerIsZero)
{
    glfwTerminate();
    QvScreenCursor cursor{-1.0, -1.0, -1, -1};
    EXPECT_FALSE(qvGetScreenCursor(&cursor));
    EXPECT_EQ(cursor.x, 0.0);
    EXPECT_EQ(cursor.y, 0.0);
    EXPECT_EQ(cursor.screenWidth, 0);
}
