#include "glcontext.h"

#include "engine/gl/qvshader.h"

#include <cstdio>
#include <cstdlib>

namespace testsupport {

GlContext::GlContext(int width, int height) : width_(width), height_(height)
{
    if (!glfwInit()) {
        std::fprintf(stderr, "GlContext: GLFW could not be initialised (is a display set?)\n");
        std::abort();
    }
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
    window_ = glfwCreateWindow(width, height, "velmorin-test", nullptr, nullptr);
    if (!window_) {
        std::fprintf(stderr, "GlContext: no OpenGL 3.1 window could be created\n");
        std::abort();
    }
    glfwMakeContextCurrent(window_);

    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glGenRenderbuffers(1, &colour_);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    glGenRenderbuffers(1, &depthStencil_);
    glBindRenderbuffer(GL_RENDERBUFFER, depthStencil_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthStencil_);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        std::fprintf(stderr, "GlContext: offscreen framebuffer incomplete\n");
        std::abort();
    }
    bind();
}

GlContext::~GlContext()
{
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteRenderbuffers(1, &colour_);
    glDeleteRenderbuffers(1, &depthStencil_);
    glDeleteFramebuffers(1, &framebuffer_);
    glfwDestroyWindow(window_);
    glfwTerminate();
}

void GlContext::bind() const
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, width_, height_);
}

std::array<uint8_t, 4> GlContext::pixel(int x, int y) const
{
    std::array<uint8_t, 4> rgba{};
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

std::vector<uint8_t> GlContext::pixels() const
{
    std::vector<uint8_t> rgba(static_cast<size_t>(width_) * height_ * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

float GlContext::glslVersion() const
{
    const auto* text = reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION));
    return text ? QvShader::parseGlslVersion(text) : 0.0f;
}

}  // namespace testsupport
