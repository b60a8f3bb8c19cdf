// QvWindow: GLFW initialisation, the splash and main window, the icon, and
// the small GL operations of the main loop.
#include "engine/platform/qvwindow.h"

#include "engine/core/qvcamera.h"
#include "engine/core/qvfiles.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

#include <FreeImage.h>
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// Xlib's macros (None, Bool, Status...) are kept out of the headers above.
#include <X11/Xlib.h>

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

// Fields of a BMP's file header and of the Windows info headers (the 40-byte
// one and the longer V2 to V5 ones, which all begin with its fields).
constexpr std::size_t kFileHeader = 14;
constexpr std::size_t kPixelOffsetAt = 10;
constexpr std::size_t kInfoSizeAt = 14;
constexpr std::uint32_t kInfoHeader = 40;  // the Windows header FreeImage reads
constexpr std::uint32_t kInfoHeaderV5 = 124;
constexpr std::uint32_t kUncompressed = 0;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;
// Everything readBmpHeader looks at: the file header and the longest info
// header, which also covers the masks that follow the 40-byte one.
constexpr std::size_t kBmpHeadersBytes = kFileHeader + kInfoHeaderV5;

std::uint32_t readU32(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

std::uint16_t readU16(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint16_t(b[at] | b[at + 1] << 8);
}

void writeU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(value >> (8 * i));
}

bool hasBitFields(const QvBmpHeader& header)
{
    return header.compression == kBitFields || header.compression == kAlphaBitFields;
}

std::uint64_t rowCount(const QvBmpHeader& header)
{
    return std::uint64_t(header.height < 0 ? -header.height : header.height);
}

// The header of a BMP with a Windows info header of 40 to 124 bytes; nothing
// for other files (OS/2 BMPs included), which FreeImage reads on its own.
std::optional<QvBmpHeader> readBmpHeader(std::span<const std::uint8_t> file)
{
    std::optional<QvBmpHeader> header = qvReadBmpHeader(file);
    if (!header || header->os2 || header->infoSize < kInfoHeader || header->infoSize > kInfoHeaderV5)
        return std::nullopt;
    return header;
}

bool iconSizeFits(std::uint64_t width, std::uint64_t height)
{
    return width > 0 && height > 0 && width <= kMaxIconSide && height <= kMaxIconSide;
}

std::string iconSizeError(std::uint64_t width, std::uint64_t height)
{
    return fmt::format("unsupported icon size {}x{}", width, height);
}

// FreeImage refuses the V2 to V5 headers that image editors write. It gets
// the file with the 40-byte header they begin with, followed by the palette
// and pixels moved up to where that header ends. Nothing when the pixels
// are said to start inside the header.
std::optional<std::vector<std::uint8_t>> withPlainInfoHeader(std::span<const std::uint8_t> file,
                                                             const QvBmpHeader& header)
{
    if (header.infoSize == kInfoHeader) return std::vector<std::uint8_t>(file.begin(), file.end());
    const std::size_t headersEnd = kFileHeader + header.infoSize;
    if (header.pixelOffset < headersEnd || file.size() < headersEnd) return std::nullopt;
    const std::uint32_t removed = header.infoSize - kInfoHeader;
    std::vector<std::uint8_t> copy(file.begin(), file.begin() + kFileHeader + kInfoHeader);
    copy.insert(copy.end(), file.begin() + headersEnd, file.end());
    writeU32(copy, kInfoSizeAt, kInfoHeader);
    writeU32(copy, kPixelOffsetAt, header.pixelOffset - removed);
    return copy;
}

// Where the rows of an uncompressed or bit-field BMP end in the file.
std::uint64_t plainPixelsEnd(const QvBmpHeader& header)
{
    const std::uint64_t rowBytes = (std::uint64_t(header.width) * header.bitCount + 31) / 32 * 4;
    return std::uint64_t(header.pixelOffset) + rowBytes * rowCount(header);
}

// FreeImage reads an uncompressed BMP cut short without complaint, making up
// the missing rows: it must hold every row its header promises.
bool pixelRowsPresent(std::span<const std::uint8_t> file, const QvBmpHeader& header)
{
    if (header.compression != kUncompressed && !hasBitFields(header)) return true;
    return plainPixelsEnd(header) <= file.size();
}

// A colour mask is one run of set bits within the pixel's bits.
bool maskUsable(std::uint32_t mask, int bitCount)
{
    if (mask == 0 || (bitCount < 32 && mask >> bitCount != 0)) return false;
    const std::uint32_t run = mask >> std::countr_zero(mask);
    return (run & (run + 1)) == 0;
}

// One channel of a pixel word, scaled from the mask's bits to 0..255.
std::uint8_t maskedChannel(std::uint32_t word, std::uint32_t mask)
{
    const std::uint64_t top = (std::uint64_t(1) << std::popcount(mask)) - 1;
    const std::uint64_t value = (word & mask) >> std::countr_zero(mask);
    return std::uint8_t((value * 255 + top / 2) / top);
}

// A 16- or 32-bit BMP whose colour masks say where each channel is. FreeImage
// ignores the masks of 32-bit files, so these are read here.
std::optional<QvIconImage> decodeBitFields(std::span<const std::uint8_t> file, const QvBmpHeader& header,
                                           std::string& error)
{
    if (header.bitCount != 16 && header.bitCount != 32) {
        error = fmt::format("colour masks on a {}-bit picture", header.bitCount);
        return std::nullopt;
    }
    const auto [red, green, blue, alpha] = header.masks;
    if (!maskUsable(red, header.bitCount) || !maskUsable(green, header.bitCount) ||
        !maskUsable(blue, header.bitCount) || (alpha != 0 && !maskUsable(alpha, header.bitCount))) {
        error = "unsupported colour masks";
        return std::nullopt;
    }
    if (!pixelRowsPresent(file, header)) {
        error = "pixel data runs past the end of the file";
        return std::nullopt;
    }
    QvIconImage image;
    image.width = int(header.width);
    image.height = int(rowCount(header));
    image.rgba.resize(std::size_t(image.width) * image.height * 4);
    const std::size_t bytesPerPixel = header.bitCount / 8;
    const std::size_t rowBytes = (std::size_t(image.width) * header.bitCount + 31) / 32 * 4;
    for (int y = 0; y < image.height; ++y) {
        const int fileRow = header.height > 0 ? image.height - 1 - y : y;
        const std::size_t rowAt = header.pixelOffset + std::size_t(fileRow) * rowBytes;
        std::uint8_t* out = &image.rgba[std::size_t(y) * image.width * 4];
        for (int x = 0; x < image.width; ++x) {
            const std::size_t at = rowAt + std::size_t(x) * bytesPerPixel;
            const std::uint32_t word = bytesPerPixel == 4 ? readU32(file, at) : readU16(file, at);
            out[x * 4 + 0] = maskedChannel(word, red);
            out[x * 4 + 1] = maskedChannel(word, green);
            out[x * 4 + 2] = maskedChannel(word, blue);
            out[x * 4 + 3] = alpha != 0 ? maskedChannel(word, alpha) : 255;
        }
    }
    return image;
}

// A picture decoded apart as an icon of at most kMaxIconSide a side, as the
// named format or, when it says none, the one its content shows; nothing,
// with the reason in `error`, when it cannot be.
std::optional<QvIconImage> decodeApart(std::span<const std::uint8_t> file, FREE_IMAGE_FORMAT named,
                                       std::string& error)
{
    const QvDecodeRequest request{
        .named = named, .maxSide = kMaxIconSide, .layout = QvPixelLayout::rgbaTopRowFirst};
    const std::optional<QvDecodedPicture> picture = qvDecodeApart(file, request, error);
    if (!picture) return std::nullopt;
    return QvIconImage{
        picture->width, picture->height, {picture->rows.data(), picture->rows.data() + picture->rows.size()}};
}

// A Windows BMP: its size is checked before anything is decoded.
std::optional<QvIconImage> decodeWindowsBmp(std::span<const std::uint8_t> file, const QvBmpHeader& header,
                                            std::string& error)
{
    const std::uint64_t width = std::uint64_t(std::max<std::int64_t>(header.width, 0));
    if (!iconSizeFits(width, rowCount(header))) {
        error = iconSizeError(width, rowCount(header));
        return std::nullopt;
    }
    if (hasBitFields(header)) return decodeBitFields(file, header, error);
    const std::optional<std::vector<std::uint8_t>> plain = withPlainInfoHeader(file, header);
    if (!plain) {
        error = "pixel data starts inside the header";
        return std::nullopt;
    }
    if (!pixelRowsPresent(file, header)) {
        error = "pixel data runs past the end of the file";
        return std::nullopt;
    }
    return decodeApart(*plain, FIF_BMP, error);
}

// How many bytes of its file a BMP's header says the picture needs: up to the
// end of its rows, or of the compressed pixels it gives the length of (the
// largest icon file when it gives none); just the headers for a picture too
// large to be an icon, which is refused on its size alone.
std::uint64_t bmpBytesNeeded(const QvBmpHeader& header, std::size_t headersRead)
{
    if (!iconSizeFits(std::uint64_t(std::max<std::int64_t>(header.width, 0)), rowCount(header)))
        return headersRead;
    if (header.compression == kUncompressed || hasBitFields(header)) return plainPixelsEnd(header);
    if (header.imageBytes == 0) return kMaxIconFileBytes;
    return std::uint64_t(header.pixelOffset) + header.imageBytes;
}

// The icon picture of a file's bytes, its BMP header (nothing for another
// picture) read from them already.
std::optional<QvIconImage> decodeIcon(std::span<const std::uint8_t> file,
                                      const std::optional<QvBmpHeader>& header, std::string& error)
{
    std::optional<QvIconImage> image =
        header ? decodeWindowsBmp(file, *header, error) : decodeApart(file, FIF_UNKNOWN, error);
    if (!image) return std::nullopt;
    // A 32-bit file whose fourth byte is zero everywhere has no alpha at all;
    // taking it literally would make the icon invisible.
    bool anyAlpha = false;
    for (std::size_t i = 3; i < image->rgba.size(); i += 4) anyAlpha = anyAlpha || image->rgba[i] != 0;
    if (!anyAlpha) {
        for (std::size_t i = 3; i < image->rgba.size(); i += 4) image->rgba[i] = 255;
    }
    return image;
}

// The icon file's picture. A BMP's header is read first and says how many
// more bytes to read; another picture is read whole up to the largest icon
// file. Nothing, with the reason in `error`, when the path is no regular
// file, cannot be read, holds more than an icon can need, or no icon.
std::optional<QvIconImage> loadIconFile(const char* path, std::string& error)
{
    std::optional<std::vector<std::uint8_t>> file = qvReadRegularFile(path, error, kBmpHeadersBytes);
    if (!file) return std::nullopt;
    const std::optional<QvBmpHeader> header = readBmpHeader(*file);
    const std::uint64_t needed = header ? bmpBytesNeeded(*header, file->size()) : kMaxIconFileBytes + 1;
    if (file->size() == kBmpHeadersBytes && needed > file->size()) {
        file = needed <= kMaxIconFileBytes ? qvReadRegularFile(path, error, needed)
                                           : qvReadBoundedFile(path, error, kMaxIconFileBytes);
        if (!file) return std::nullopt;
    }
    return decodeIcon(*file, header, error);
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

}  // namespace

std::optional<QvIconImage> decodeIconBmp(std::span<const std::uint8_t> file, std::string& error)
{
    return decodeIcon(file, readBmpHeader(file), error);
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
