// QvWindow: GLFW initialisation, the splash and main window, the icon, and
// the small GL operations of the main loop.
#include "engine/platform/qvwindow.h"

#include "engine/core/qvcamera.h"
#include "engine/core/qvfiles.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"
#include "engine/picture/qvbmp.h"
#include "engine/picture/qvdecoderprocess.h"

#include <FreeImage.h>
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// Xlib's macros (None, Bool, Status...) are kept out of the headers above.
#include <X11/Xlib.h>

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif

namespace {

constexpr int kSplashWidth = 512;
constexpr int kSplashHeight = 256;
constexpr int kSamples = 8;
constexpr const char* kIconPath = "icons/icon.bmp";
constexpr glm::vec4 kSplashClear(0.2f, 0.7f, 0.3f, 1.0f);

// Icons are small; anything larger is not an icon.
constexpr int kMaxIconSide = 256;
// The largest icon file read. A 256 x 256 picture of 32-bit pixels takes
// 256 KiB; the rest leaves room for a palette, an editor's extra data and
// compressed formats that come out larger than their pixels.
constexpr std::uintmax_t kMaxIconFileBytes = std::uintmax_t(1) << 20;

bool iconSizeFits(std::uint64_t width, std::uint64_t height)
{
    return width > 0 && height > 0 && width <= kMaxIconSide && height <= kMaxIconSide;
}

// How many bytes of its file a BMP's header says the picture needs: up to the
// end of its pixels where the header tells it (the largest icon file where it
// does not); just the headers for a picture too large to be an icon, which
// is refused on its size alone.
std::uint64_t bmpBytesNeeded(const QvBmpHeader& header, std::size_t headersRead)
{
    if (!iconSizeFits(std::uint64_t(std::max<std::int64_t>(header.width, 0)),
                      std::uint64_t(std::abs(header.height))))
        return headersRead;
    return qvBmpPixelsEnd(header).value_or(kMaxIconFileBytes);
}

// The icon file's picture. A BMP's header is read first and says how many
// more bytes to read; another picture is read whole up to the largest icon
// file. Nothing, with the reason in `error`, when the path is no regular
// file, cannot be read, holds more than an icon can need, or no icon.
std::optional<QvIconImage> loadIconFile(const char* path, std::string& error)
{
    std::optional<std::vector<std::uint8_t>> file = qvReadRegularFile(path, error, qvBmpHeadersBytes);
    if (!file) return std::nullopt;
    const std::optional<QvBmpHeader> header = qvReadBmpHeader(*file);
    const std::uint64_t needed = header ? bmpBytesNeeded(*header, file->size()) : kMaxIconFileBytes + 1;
    if (file->size() == qvBmpHeadersBytes && needed > file->size()) {
        file = needed <= kMaxIconFileBytes ? qvReadRegularFile(path, error, needed)
                                           : qvReadBoundedFile(path, error, kMaxIconFileBytes);
        if (!file) return std::nullopt;
    }
    return decodeIcon(*file, error);
}

// GLFW tells why it failed only to an error callback; the latest reason is
// kept here so that a failed start can pass it on.
std::string glfwLastError;

// The error callback: keeps GLFW's description of its latest error.
void keepGlfwError(int /*code*/, const char* description)
{
    glfwLastError = description != nullptr ? description : "";
}

// Without an X display GLFW cannot start; says which display could not be
// opened, or nothing when the display opens (GLFW failed for another reason).
std::optional<std::string> unopenedDisplay()
{
    if (Display* display = XOpenDisplay(nullptr)) {
        XCloseDisplay(display);
        return std::nullopt;
    }
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return "The X display could not be opened: DISPLAY is not set";
    return fmt::format("The X display \"{}\" could not be opened", name);
}

#if defined(__SANITIZE_ADDRESS__)
// Keeps a library loaded for the rest of the process.
int holdLibrary(dl_phdr_info* info, std::size_t, void*)
{
    if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
        ::dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
    return 0;
}
#endif

// Terminates GLFW. In the sanitizer build every library loaded by then (the
// GL driver, GLX, the X client libraries) stays mapped: their per-process
// state is never freed, only dropped with the library, and once its library
// is unloaded the leak checker at exit finds that state unreachable and ends
// the program with a report and status 1. Left mapped, the state is still
// reachable from the library's data and no leak.
void terminateGlfw()
{
#if defined(__SANITIZE_ADDRESS__)
    dl_iterate_phdr(holdLibrary, nullptr);
#endif
    glfwTerminate();
}

}  // namespace

std::optional<QvIconImage> decodeIcon(std::span<const std::uint8_t> file, std::string& error)
{
    const QvDecodeRequest request{.maxSide = kMaxIconSide, .layout = QvPixelLayout::rgbaTopRowFirst};
    // The file's name says nothing: its content does, a BMP's as any other's
    // (BMP is read by content, and its reader is the first asked).
    const std::optional<QvDecodedPicture> picture = qvDecodeApart(file, FIF_UNKNOWN, request, error);
    if (!picture) return std::nullopt;
    QvIconImage image{
        picture->width, picture->height, {picture->rows.data(), picture->rows.data() + picture->rows.size()}};
    // A 32-bit file whose fourth byte is zero everywhere has no alpha at all;
    // taking it literally would make the icon invisible.
    bool anyAlpha = false;
    for (std::size_t i = 3; i < image.rgba.size(); i += 4) anyAlpha = anyAlpha || image.rgba[i] != 0;
    if (!anyAlpha) {
        for (std::size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 255;
    }
    return image;
}

QvWindowPosition centredWindowPosition(int screenWidth, int screenHeight, int width, int height)
{
    return {screenWidth / 2 - width / 2, screenHeight / 2 - height / 2};
}

QvWindow::QvWindow()
{
    glfwLastError.clear();
    glfwSetErrorCallback(keepGlfwError);
    if (glfwInit() == GLFW_FALSE) {
        std::string message = "Error! Library GLFW didn't initialized!";
        if (!glfwLastError.empty()) message += "\n" + glfwLastError;
        if (const std::optional<std::string> display = unopenedDisplay()) message += "\n" + *display;
        throw std::runtime_error(message);
    }
}

QvWindow::~QvWindow()
{
    if (handle != nullptr) glfwDestroyWindow(handle);
    terminateGlfw();
}

void QvWindow::create()
{
    _initializeGL();
    handle = glfwCreateWindow(kSplashWidth, kSplashHeight, title.c_str(), nullptr, nullptr);
    if (handle == nullptr) {
        terminateGlfw();
        throw std::runtime_error("Error! Window didn't created!");
    }
    if (const GLFWvidmode* mode = glfwGetVideoMode(glfwGetPrimaryMonitor())) {
        screenWidth = mode->width;
        screenHeight = mode->height;
    }
    const QvWindowPosition at = centredWindowPosition(screenWidth, screenHeight, kSplashWidth, kSplashHeight);
    glfwSetWindowPos(handle, at.x, at.y);
    _makeContext();
    glfwSwapInterval(1);
    onCreate(this, nullptr);
    _getGLInfo();
    if (glfwGetWindowAttrib(handle, GLFW_TRANSPARENT_FRAMEBUFFER) != 0) {
        fmt::print("framebuffer is currently transparent\n");
    }
    drawSplashScreen();
}

void QvWindow::restoreWindowDecor()
{
    glfwSetWindowSize(handle, width, height);
    if (const GLFWvidmode* mode = glfwGetVideoMode(glfwGetPrimaryMonitor())) {
        const QvWindowPosition at = centredWindowPosition(mode->width, mode->height, width, height);
        glfwSetWindowPos(handle, at.x, at.y);
    }
    glfwSetWindowAttrib(handle, GLFW_DECORATED, GLFW_TRUE);
    _loadIcon();
}

void QvWindow::hide()
{
    glfwHideWindow(handle);
}

void QvWindow::show()
{
    glfwShowWindow(handle);
}

void QvWindow::close()
{
    glfwSetWindowShouldClose(handle, GLFW_TRUE);
}

// Always-on-top windows lose their frame; leaving the mode gives it back.
void QvWindow::setAttributeOnTop(bool on)
{
    onTop = on;
    glfwSetWindowAttrib(handle, GLFW_FLOATING, on ? GLFW_TRUE : GLFW_FALSE);
    glfwSetWindowAttrib(handle, GLFW_DECORATED, on ? GLFW_FALSE : GLFW_TRUE);
}

float QvWindow::getWindowWidth()
{
    return float(width);
}

float QvWindow::getWindowHeight()
{
    return float(height);
}

void QvWindow::swapBuffers()
{
    glfwSwapBuffers(handle);
}

double QvWindow::getTime()
{
    return glfwGetTime();
}

int QvWindow::windowShouldClose()
{
    return glfwWindowShouldClose(handle);
}

void QvWindow::clear()
{
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

void QvWindow::setViewport(int newWidth, int newHeight)
{
    glViewport(0, 0, newWidth, newHeight);
    width = newWidth;
    height = newHeight;
}

void QvWindow::waitEvents()
{
    glfwWaitEvents();
}

void QvWindow::pollEvents()
{
    glfwPollEvents();
}

QvWorld* QvWindow::getWorld()
{
    return nullptr;
}

void QvWindow::_initializeGL()
{
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_ANY_PROFILE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
    glfwWindowHint(GLFW_SAMPLES, kSamples);
}

void QvWindow::_makeContext()
{
    glfwMakeContextCurrent(handle);
}

void QvWindow::_getGLInfo()
{
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION));
    glslVersion = version != nullptr ? QvShader::parseGlslVersion(version) : 0.0f;
}

void QvWindow::_loadIcon()
{
    std::string error;
    const std::optional<QvIconImage> icon = loadIconFile(kIconPath, error);
    if (!icon) {
        fmt::print("Window icon \"{}\" not loaded: {}\n", kIconPath, error);
        std::fflush(stdout);
        return;
    }
    GLFWimage image;
    image.width = icon->width;
    image.height = icon->height;
    image.pixels = const_cast<unsigned char*>(icon->rgba.data());
    glfwSetWindowIcon(handle, 1, &image);
}

void QvWindow::drawSplashScreen()
{
    glClearColor(kSplashClear.r, kSplashClear.g, kSplashClear.b, kSplashClear.a);
    glClear(GL_COLOR_BUFFER_BIT);

    QvShader shader(QvShader::pathFor(glslVersion, "texture", ".vert"),
                    QvShader::pathFor(glslVersion, "texture", ".frag"));

    CameraData data;
    data.width = std::uint32_t(width);
    data.height = std::uint32_t(height);
    data.fov = 45.0f;
    data.position = glm::vec3(0.0f, 0.0f, 1.0f);
    data.target = glm::vec3(0.0f, 0.0f, -1.0f);
    data.up = glm::vec3(0.0f, 1.0f, 0.0f);
    data.lastX = float(width / 2);
    data.lastY = float(height / 2);
    Camera camera(data);
    camera.lookAt();

    // A quad twice the orthographic view: its upper-right quarter, with
    // texture coordinates 1..2, fills the window with the logo once.
    const float w = float(width);
    const float h = float(height);
    const float quad[4][8] = {
        {-w, -h, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f},
        {-w, h, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f, 1.0f},
        {w, h, 0.0f, 2.0f, 2.0f, 0.0f, 0.0f, 1.0f},
        {w, -h, 0.0f, 2.0f, 0.0f, 0.0f, 0.0f, 1.0f},
    };
    // Vertex layout: position (3 floats), texture coordinate (2), normal (3).
    constexpr GLsizei kStride = 8 * sizeof(float);
    constexpr GLsizeiptr kTexCoordOffset = 3 * sizeof(float);
    constexpr GLsizeiptr kNormalOffset = 5 * sizeof(float);
    // The splash frame is the only user of these objects: they go when it is drawn.
    const QvVertexArray vao = QvVertexArray::create();
    glBindVertexArray(vao.get());
    const QvBuffer vbo = qvMakeBuffer(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    qvPointAttribute(QvAttribute::position, vbo, 3, kStride);
    qvPointAttribute(QvAttribute::normal, vbo, 3, kStride, kNormalOffset);
    qvPointAttribute(QvAttribute::texCoords, vbo, 2, kStride, kTexCoordOffset);

    TextureLoader loader;
    const QvTexture logo = loader.loadTexture("textures/logo.png");
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, logo.get());

    shader.useProgram();
    // The logo program may declare its colour as a vec3 or a vec4.
    shader.setColorUniform("diffuseColor", glm::vec4(1.0f));
    shader.setUniform("projection", camera.getOrthographicMatrix());
    shader.setUniform("camera", camera.getCameraMatrix());
    shader.setUniform("model", glm::mat4(1.0f));
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
    glBindVertexArray(0);

    glUseProgram(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    swapBuffers();
}

void QvWindow::setWindowCloseCallback(GLFWwindowclosefun callback)
{
    glfwSetWindowCloseCallback(handle, callback);
}

void QvWindow::setWindowSizeCallback(GLFWwindowsizefun callback)
{
    glfwSetWindowSizeCallback(handle, callback);
}

void QvWindow::setKeyCallback(GLFWkeyfun callback)
{
    glfwSetKeyCallback(handle, callback);
}

void QvWindow::setCharCallback(GLFWcharfun callback)
{
    glfwSetCharCallback(handle, callback);
}

void QvWindow::setMouseButtonCallback(GLFWmousebuttonfun callback)
{
    glfwSetMouseButtonCallback(handle, callback);
}

void QvWindow::setCursorPosCallback(GLFWcursorposfun callback)
{
    glfwSetCursorPosCallback(handle, callback);
}

void QvWindow::setScrollCallback(GLFWscrollfun callback)
{
    glfwSetScrollCallback(handle, callback);
}

void QvWindow::setDropCallback(GLFWdropfun callback)
{
    glfwSetDropCallback(handle, callback);
}
