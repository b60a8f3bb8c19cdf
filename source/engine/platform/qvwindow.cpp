// QvWindow: GLFW initialisation, the splash and main window, the icon, and
// the small GL operations of the main loop.
#include "engine/platform/qvwindow.h"

#include "engine/core/qvcamera.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

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

// BMP layout: 14-byte file header, then an info header of at least 40 bytes.
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderMinSize = 40;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
// Icons are small; anything larger is not an icon and is refused before any
// allocation is made from the header's numbers.
constexpr std::int64_t kMaxIconSide = 256;

std::uint32_t readU32(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

std::uint16_t readU16(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint16_t(b[at] | b[at + 1] << 8);
}

// One colour channel described by a bit mask of a 32-bit pixel.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t max = 0;
};

Channel channelFromMask(std::uint32_t mask)
{
    Channel c;
    c.mask = mask;
    if (mask == 0) return c;
    while (((mask >> c.shift) & 1u) == 0) ++c.shift;
    c.max = mask >> c.shift;
    return c;
}

// Scales a masked value to 0..255; an absent channel reads as `absent`.
std::uint8_t channelValue(const Channel& c, std::uint32_t pixel, std::uint8_t absent)
{
    if (c.mask == 0) return absent;
    // 64-bit: a mask may be up to 32 bits wide, and v * 255 must not wrap.
    const std::uint64_t v = (pixel & c.mask) >> c.shift;
    return std::uint8_t((v * 255u + c.max / 2) / c.max);
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
    if (file.size() < kFileHeaderSize + kInfoHeaderMinSize) {
        error = "file too short for a BMP header";
        return std::nullopt;
    }
    if (file[0] != 'B' || file[1] != 'M') {
        error = "not a BMP file";
        return std::nullopt;
    }
    const std::uint32_t pixelOffset = readU32(file, 10);
    const std::uint32_t infoSize = readU32(file, 14);
    const std::int32_t rawWidth = std::int32_t(readU32(file, 18));
    const std::int32_t rawHeight = std::int32_t(readU32(file, 22));
    const std::uint16_t bitCount = readU16(file, 28);
    const std::uint32_t compression = readU32(file, 30);
    if (infoSize < kInfoHeaderMinSize) {
        error = "unsupported BMP header";
        return std::nullopt;
    }
    const std::int64_t width = rawWidth;
    const bool bottomUp = rawHeight > 0;
    const std::int64_t height = bottomUp ? std::int64_t(rawHeight) : -std::int64_t(rawHeight);
    if (width <= 0 || height <= 0 || width > kMaxIconSide || height > kMaxIconSide) {
        error = fmt::format("unsupported icon size {}x{}", rawWidth, rawHeight);
        return std::nullopt;
    }
    if (bitCount != 24 && bitCount != 32) {
        error = fmt::format("unsupported bit depth {}", bitCount);
        return std::nullopt;
    }

    // Channel masks: BI_RGB means fixed blue, green, red (and, at 32 bits, a
    // byte that is alpha when any pixel uses it); bit fields name them.
    Channel red = channelFromMask(0x00FF0000u);
    Channel green = channelFromMask(0x0000FF00u);
    Channel blue = channelFromMask(0x000000FFu);
    Channel alpha = channelFromMask(bitCount == 32 ? 0xFF000000u : 0u);
    if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
        const std::size_t masks = kFileHeaderSize + kInfoHeaderMinSize;
        const bool hasAlphaMask = compression == kBiAlphaBitfields || infoSize >= 56;
        if (bitCount != 32 || file.size() < masks + (hasAlphaMask ? 16 : 12)) {
            error = "malformed BMP bit fields";
            return std::nullopt;
        }
        red = channelFromMask(readU32(file, masks));
        green = channelFromMask(readU32(file, masks + 4));
        blue = channelFromMask(readU32(file, masks + 8));
        alpha = channelFromMask(hasAlphaMask ? readU32(file, masks + 12) : 0u);
    } else if (compression != kBiRgb) {
        error = "compressed BMP not supported";
        return std::nullopt;
    }

    const std::int64_t bytesPerPixel = bitCount / 8;
    const std::int64_t rowSize = (width * bytesPerPixel + 3) / 4 * 4;
    if (std::int64_t(pixelOffset) + rowSize * height > std::int64_t(file.size())) {
        error = "pixel data runs past the end of the file";
        return std::nullopt;
    }

    QvIconImage image;
    image.width = int(width);
    image.height = int(height);
    image.rgba.resize(std::size_t(width * height * 4));
    bool anyAlpha = false;
    for (std::int64_t y = 0; y < height; ++y) {
        // Output row y is the picture's y-th row from the top.
        const std::int64_t fileRow = bottomUp ? height - 1 - y : y;
        const std::size_t rowStart = std::size_t(pixelOffset + fileRow * rowSize);
        for (std::int64_t x = 0; x < width; ++x) {
            const std::size_t at = rowStart + std::size_t(x * bytesPerPixel);
            const std::uint32_t pixel = bitCount == 32
                                            ? readU32(file, at)
                                            : std::uint32_t(file[at]) | std::uint32_t(file[at + 1]) << 8 |
                                                  std::uint32_t(file[at + 2]) << 16;
            std::uint8_t* out = &image.rgba[std::size_t((y * width + x) * 4)];
            out[0] = channelValue(red, pixel, 0);
            out[1] = channelValue(green, pixel, 0);
            out[2] = channelValue(blue, pixel, 0);
            out[3] = channelValue(alpha, pixel, 255);
            anyAlpha = anyAlpha || out[3] != 0;
        }
    }
    // A BI_RGB file whose fourth byte is zero everywhere has no alpha at all;
    // taking it literally would make the icon invisible.
    if (!anyAlpha && compression == kBiRgb) {
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
