// QvWindow: GLFW initialisation, the splash and main window, the icon, and
// the small GL operations of the main loop.
#include "engine/platform/qvwindow.h"

#include "engine/core/qvcamera.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

#include <FreeImage.h>
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <fmt/core.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

constexpr int kSplashWidth = 512;
constexpr int kSplashHeight = 256;
constexpr int kSamples = 8;
constexpr const char* kIconPath = "icons/icon.bmp";
constexpr glm::vec4 kSplashClear(0.2f, 0.7f, 0.3f, 1.0f);

// Icons are small; anything larger is not an icon.
constexpr int kMaxIconSide = 256;

// BMP header fields that the header-size shim below touches.
constexpr std::size_t kPixelOffsetAt = 10;
constexpr std::size_t kInfoSizeAt = 14;
constexpr std::size_t kWidthAt = 18;
constexpr std::size_t kHeightAt = 22;
constexpr std::size_t kCompressionAt = 30;
constexpr std::uint32_t kInfoHeader = 40;  // the Windows header FreeImage reads
constexpr std::uint32_t kInfoHeaderV5 = 124;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;

std::uint32_t readU32(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

void writeU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(value >> (8 * i));
}

// Image editors write icons with the longer V2 to V5 headers, which FreeImage
// refuses. Those begin with the fields of the 40-byte header and keep their
// channel masks where its bit fields go, and the pixel offset is absolute, so
// the file is handed over as a 40-byte one; nothing else is read here.
std::vector<std::uint8_t> withPlainInfoHeader(std::span<const std::uint8_t> file)
{
    std::vector<std::uint8_t> copy(file.begin(), file.end());
    if (copy.size() < kCompressionAt + 4 || copy[0] != 'B' || copy[1] != 'M') return copy;
    const std::uint32_t infoSize = readU32(copy, kInfoSizeAt);
    if (infoSize <= kInfoHeader || infoSize > kInfoHeaderV5) return copy;
    writeU32(copy, kInfoSizeAt, kInfoHeader);
    if (readU32(copy, kCompressionAt) == kAlphaBitFields) writeU32(copy, kCompressionAt, kBitFields);
    return copy;
}

// A BMP header's size, refused before FreeImage allocates for it.
bool bmpLargerThanAnIcon(std::span<const std::uint8_t> file)
{
    if (file.size() < kHeightAt + 4 || file[0] != 'B' || file[1] != 'M') return false;
    const std::int64_t width = std::int32_t(readU32(file, kWidthAt));
    const std::int64_t height = std::int32_t(readU32(file, kHeightAt));
    return width > kMaxIconSide || height > kMaxIconSide || -height > kMaxIconSide;
}

// FreeImage reads a BMP cut short without complaint, making up the missing
// rows: an uncompressed one must hold every row its header promises.
bool pixelRowsPresent(std::span<const std::uint8_t> file, FIBITMAP* bitmap)
{
    if (file.size() < kCompressionAt + 4 || file[0] != 'B' || file[1] != 'M') return true;  // not a BMP
    const std::uint32_t compression = readU32(file, kCompressionAt);
    if (compression != 0 && compression != kBitFields && compression != kAlphaBitFields) return true;
    const std::uint64_t rowBytes =
        (std::uint64_t(FreeImage_GetWidth(bitmap)) * FreeImage_GetBPP(bitmap) + 31) / 32 * 4;
    const std::uint64_t end = readU32(file, kPixelOffsetAt) + rowBytes * FreeImage_GetHeight(bitmap);
    return end <= file.size();
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::optional<QvIconImage> decodeIconBmp(std::span<const std::uint8_t> file, std::string& error)
{
    if (bmpLargerThanAnIcon(file)) {
        error = "larger than an icon";
        return std::nullopt;
    }
    const QvBitmap bitmap = qvReadBitmap(withPlainInfoHeader(file));
    if (!bitmap) {
        error = "not a picture FreeImage can read";
        return std::nullopt;
    }
    QvIconImage image;
    image.width = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
    image.height = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
    if (image.width <= 0 || image.height <= 0 || image.width > kMaxIconSide || image.height > kMaxIconSide) {
        error = fmt::format("unsupported icon size {}x{}", image.width, image.height);
        return std::nullopt;
    }
    if (!pixelRowsPresent(file, bitmap.get())) {
        error = "pixel data runs past the end of the file";
        return std::nullopt;
    }
    image.rgba = qvBitmapRgbaPixels(bitmap.get());
    if (image.rgba.empty()) {
        error = "pixels cannot be converted";
        return std::nullopt;
    }
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
    if (glfwInit() == GLFW_FALSE) {
        throw std::runtime_error("Error! Library GLFW didn't initialized!");
    }
}

QvWindow::~QvWindow()
{
    if (handle != nullptr) glfwDestroyWindow(handle);
    glfwTerminate();
}

void QvWindow::create()
{
    _initializeGL();
    handle = glfwCreateWindow(kSplashWidth, kSplashHeight, title.c_str(), nullptr, nullptr);
    if (handle == nullptr) {
        glfwTerminate();
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
    const std::optional<std::vector<std::uint8_t>> file = readWholeFile(kIconPath);
    if (!file) {
        fmt::print("Window icon \"{}\" not loaded: cannot open the file\n", kIconPath);
        return;
    }
    std::string error;
    const std::optional<QvIconImage> icon = decodeIconBmp(*file, error);
    if (!icon) {
        fmt::print("Window icon \"{}\" not loaded: {}\n", kIconPath, error);
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
