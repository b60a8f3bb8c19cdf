#include "glcontext.h"

#include "engine/picture/qvdecoderprocess.h"
#include "engine/gl/qvshader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <cstdio>
#include <cstdlib>

namespace testsupport {

namespace {
// Pictures are decoded in children of a process forked from this one before
// any test starts a GL driver's threads, before main: a bench that links this
// file cannot start one later (it knows no decoder role), and a test program
// that can need not run its own file for it.
const bool decoderStarted = qvStartDecoderProcess();
}  // namespace

#ifdef __SANITIZE_ADDRESS__
namespace {

// Holds every library loaded so far for the rest of the process.
int holdLibrary(dl_phdr_info* info, size_t, void*)
{
    if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
        dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
    return 0;
}

// Each GL test starts and ends GLFW, which loads the GL driver and the X
// libraries and unloads them again; the leak checker cannot name the
// allocations of an unloaded library, so they would pass for ours. Once, before
// the tests, a hidden window loads them all, and they are held mapped: the
// suppression file can then leave out the driver's and X's own allocations.
class ResidentGlLibraries : public testing::Environment {
public:
    void SetUp() override
    {
        if (!glfwInit()) return;
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        if (GLFWwindow* window = glfwCreateWindow(16, 16, "velmorin-libraries", nullptr, nullptr)) {
            glfwMakeContextCurrent(window);
            dl_iterate_phdr(holdLibrary, nullptr);
            glfwDestroyWindow(window);
        }
        glfwTerminate();
    }
};

[[maybe_unused]] testing::Environment* const residentLibraries =
    testing::AddGlobalTestEnvironment(new ResidentGlLibraries);

}  // namespace
#endif

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

    framebuffer_ = QvFramebuffer::create();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_.get());
    colour_ = QvRenderbuffer::create();
    glBindRenderbuffer(GL_RENDERBUFFER, colour_.get());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_.get());
    depthStencil_ = QvRenderbuffer::create();
    glBindRenderbuffer(GL_RENDERBUFFER, depthStencil_.get());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                              depthStencil_.get());
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        std::fprintf(stderr, "GlContext: offscreen framebuffer incomplete\n");
        std::abort();
    }
    bind();
}

GlContext::~GlContext()
{
    // The names go while their context is still current; the members' own
    // destructors would run after the window is gone.
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    colour_.reset();
    depthStencil_.reset();
    framebuffer_.reset();
    glfwDestroyWindow(window_);
    glfwTerminate();
}

void GlContext::bind() const
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_.get());
    glViewport(0, 0, width_, height_);
}

std::array<uint8_t, 4> GlContext::pixel(int x, int y) const
{
    std::array<uint8_t, 4> rgba{};
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_.get());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

std::vector<uint8_t> GlContext::pixels() const
{
    std::vector<uint8_t> rgba(static_cast<size_t>(width_) * height_ * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_.get());
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
