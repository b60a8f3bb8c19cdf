// A hidden GLFW window with a current OpenGL context and an offscreen
// framebuffer, for tests and benchmarks that draw and read pixels back.
#pragma once

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>

#include "engine/gl/qvglobjects.h"

#include <array>
#include <cstdint>
#include <vector>

namespace testsupport {

class GlContext {
public:
    // Creates the window (same context hints as the program: OpenGL 3.1, any
    // profile) and binds an RGBA8 + depth/stencil framebuffer of the given size.
    GlContext(int width = 64, int height = 64);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    GLFWwindow* window() const { return window_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Binds the offscreen framebuffer and sets the viewport to cover it.
    void bind() const;
    // RGBA of one pixel of the offscreen framebuffer, (0, 0) bottom left.
    std::array<uint8_t, 4> pixel(int x, int y) const;
    // The whole offscreen framebuffer, RGBA rows bottom-up.
    std::vector<uint8_t> pixels() const;
    // The GLSL version the driver reports, as the program reads it (e.g. 4.5).
    float glslVersion() const;

private:
    GLFWwindow* window_ = nullptr;
    QvFramebuffer framebuffer_;
    QvRenderbuffer colour_;
    QvRenderbuffer depthStencil_;
    int width_;
    int height_;
};

}  // namespace testsupport
