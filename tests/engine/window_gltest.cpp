// The real window under Xvfb: the splash frame shows the logo with no GL
// error and leaves no GL object behind; the main window has its frame and
// the always-on-top state trades it away.
#include "qvloadimage.h"
#include "qvwindow.h"

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

// Xlib's macros (None, Bool, ...) collide with GoogleTest's names: included last.
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// What the X server shows of the window: RGB, rows top first. (The default
// framebuffer is multisampled, so its front buffer cannot be read back.)
std::vector<std::uint8_t> shownPixels(GLFWwindow* window, int width, int height)
{
    glFinish();
    Display* display = glfwGetX11Display();
    XSync(display, 0);
    XImage* image = XGetImage(display, glfwGetX11Window(window), 0, 0, width, height, AllPlanes, ZPixmap);
    std::vector<std::uint8_t> rgb;
    if (image == nullptr) return rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            rgb.push_back(std::uint8_t((pixel & image->red_mask) >> 16));
            rgb.push_back(std::uint8_t((pixel & image->green_mask) >> 8));
            rgb.push_back(std::uint8_t(pixel & image->blue_mask));
        }
    }
    XDestroyImage(image);
    return rgb;
}

}  // namespace

TEST(Window, SplashShowsTheLogoAndKeepsNoGlObject)
{
    QvWindow window;
    window.create();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_GT(window.glslVersion, 1.2f);

    // The logo fills the 512x256 splash: compare the frame with the picture.
    TextureLoader loader;
    const std::vector<std::uint8_t> logo = loader.loadImage("textures/logo.png");
    ASSERT_FALSE(logo.empty());
    const int logoWidth = loader.getImageWidth();
    const int logoHeight = loader.getImageHeight();
    const int row = TextureLoader::scanLineWidth(logoWidth);
    const std::vector<std::uint8_t> frame = shownPixels(window.handle, 512, 256);
    ASSERT_EQ(frame.size(), 512u * 256u * 3u);
    int matching = 0;
    int samples = 0;
    for (int y = 16; y < 256; y += 32) {
        for (int x = 16; x < 512; x += 32) {
            const std::uint8_t* shown = &frame[(std::size_t(y) * 512 + x) * 3];
            const int lx = x * logoWidth / 512;
            const int ly = (255 - y) * logoHeight / 256;  // the logo's rows count from the bottom
            const std::uint8_t* source = &logo[std::size_t(ly) * row + lx * 3];
            const bool close = std::abs(shown[0] - source[0]) < 40 && std::abs(shown[1] - source[1]) < 40 &&
                               std::abs(shown[2] - source[2]) < 40;
            matching += close ? 1 : 0;
            ++samples;
        }
    }
    EXPECT_GT(matching, samples * 9 / 10) << matching << " of " << samples;

    for (GLuint name = 1; name < 8; ++name) {
        EXPECT_FALSE(glIsBuffer(name)) << name;
        EXPECT_FALSE(glIsVertexArray(name)) << name;
        EXPECT_FALSE(glIsTexture(name)) << name;
        EXPECT_FALSE(glIsProgram(name)) << name;
    }
}

// Size and centring of the main window are checked end to end (window.sh).
TEST(Window, MainWindowHasItsFrameAndOnTopTakesItAway)
{
    QvWindow window;
    window.create();
    EXPECT_EQ(glfwGetWindowAttrib(window.handle, GLFW_DECORATED), GLFW_FALSE);  // splash
    window.restoreWindowDecor();
    EXPECT_EQ(glfwGetWindowAttrib(window.handle, GLFW_DECORATED), GLFW_TRUE);

    window.setAttributeOnTop(true);
    EXPECT_TRUE(window.onTop);
    EXPECT_EQ(glfwGetWindowAttrib(window.handle, GLFW_FLOATING), GLFW_TRUE);
    EXPECT_EQ(glfwGetWindowAttrib(window.handle, GLFW_DECORATED), GLFW_FALSE);
    window.setAttributeOnTop(false);
    EXPECT_FALSE(window.onTop);
    EXPECT_EQ(glfwGetWindowAttrib(window.handle, GLFW_FLOATING), GLFW_FALSE);
    EXPECT_EQ(glfwGetWindowAttrib(window.handle, GLFW_DECORATED), GLFW_TRUE);
}
