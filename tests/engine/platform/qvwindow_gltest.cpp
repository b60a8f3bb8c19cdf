// The real window under Xvfb: the splash frame shows the logo with no GL
// error and leaves no GL object behind; the main window has its frame and
// the always-on-top state trades it away.
#include "engine/gl/qvloadimage.h"
#include "engine/platform/qvwindow.h"
#include "hostilefiles.h"
#include "imagefixtures.h"
#include "tempfiles.h"

#include <gtest/gtest.h>
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <bit>
#include <vector>
#include <array>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

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

// The window icon decoder: BMP files built here byte by byte, independently of
// the decoder, must come out upright, unmirrored RGBA, also with the long
// headers image editors write; broken files are refused.
namespace {

using Rgba = std::array<std::uint8_t, 4>;

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v)
{
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

// A test picture: every pixel's colour encodes its own position, so any flip
// or mirror shows up as a wrong coordinate.
Rgba colourAt(int x, int y)
{
    return {std::uint8_t(10 + x), std::uint8_t(100 + y), 7, 200};
}

// Writes `picture` (rows top first) as a BMP with a 124-byte V5 header, the
// layout image editors produce for 32-bit icons.
std::vector<std::uint8_t> makeBmp(int width, int height, int bits, bool bottomUp,
                                  std::uint32_t compression = 0)
{
    const std::size_t infoSize = 124;
    const std::size_t offset = 14 + infoSize;
    const std::size_t rowSize = (std::size_t(width) * (bits / 8) + 3) / 4 * 4;
    std::vector<std::uint8_t> b(offset + rowSize * height, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, std::uint32_t(b.size()));
    put32(b, 10, std::uint32_t(offset));
    put32(b, 14, std::uint32_t(infoSize));
    put32(b, 18, std::uint32_t(width));
    put32(b, 22, std::uint32_t(bottomUp ? height : -height));
    put16(b, 26, 1);
    put16(b, 28, std::uint16_t(bits));
    put32(b, 30, compression);
    if (compression == 3) {
        put32(b, 54, 0x00FF0000u);
        put32(b, 58, 0x0000FF00u);
        put32(b, 62, 0x000000FFu);
        put32(b, 66, 0xFF000000u);
    }
    for (int y = 0; y < height; ++y) {
        const int fileRow = bottomUp ? height - 1 - y : y;
        for (int x = 0; x < width; ++x) {
            const Rgba c = colourAt(x, y);
            std::uint8_t* p = &b[offset + fileRow * rowSize + x * (bits / 8)];
            p[0] = c[2];  // blue
            p[1] = c[1];  // green
            p[2] = c[0];  // red
            if (bits == 32) p[3] = c[3];
        }
    }
    return b;
}

Rgba pixelOf(const QvIconImage& image, int x, int y)
{
    const std::uint8_t* p = &image.rgba[(std::size_t(y) * image.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

}  // namespace

TEST(WindowIcon, ThirtyTwoBitBottomUpComesOutUprightAndUnmirrored)
{
    for (const std::uint32_t compression : {0u, 3u}) {
        const auto file = makeBmp(32, 32, 32, true, compression);
        std::string error;
        const auto icon = decodeIcon(file, error);
        ASSERT_TRUE(icon) << error;
        EXPECT_EQ(icon->width, 32);
        EXPECT_EQ(icon->height, 32);
        ASSERT_EQ(icon->rgba.size(), 32u * 32u * 4u);
        for (const auto& [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}, {5, 17}}) {
            EXPECT_EQ(pixelOf(*icon, x, y), colourAt(x, y)) << x << "," << y;
        }
    }
}

TEST(WindowIcon, TopDownAndTwentyFourBitRowsWithPadding)
{
    // Width 5 at 24 bits gives 15-byte rows padded to 16: padding must be skipped.
    std::string error;
    const auto topDown = decodeIcon(makeBmp(5, 3, 32, false), error);
    ASSERT_TRUE(topDown) << error;
    EXPECT_EQ(pixelOf(*topDown, 4, 0), colourAt(4, 0));
    EXPECT_EQ(pixelOf(*topDown, 0, 2), colourAt(0, 2));

    const auto rgb = decodeIcon(makeBmp(5, 3, 24, true), error);
    ASSERT_TRUE(rgb) << error;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            Rgba expected = colourAt(x, y);
            expected[3] = 255;  // no alpha channel: opaque
            EXPECT_EQ(pixelOf(*rgb, x, y), expected) << x << "," << y;
        }
    }
}

TEST(WindowIcon, ZeroAlphaByteOfPlainThirtyTwoBitMeansOpaque)
{
    auto file = makeBmp(2, 2, 32, true);
    for (std::size_t i = 14 + 124 + 3; i < file.size(); i += 4) file[i] = 0;
    std::string error;
    const auto icon = decodeIcon(file, error);
    ASSERT_TRUE(icon) << error;
    EXPECT_EQ(pixelOf(*icon, 1, 1)[3], 255);
}

TEST(WindowIcon, MalformedFilesAreRefusedWithAReason)
{
    const auto good = makeBmp(32, 32, 32, true);
    std::string error;

    EXPECT_FALSE(decodeIcon(std::vector<std::uint8_t>(40, 0), error));
    EXPECT_FALSE(error.empty());

    auto wrongMagic = good;
    wrongMagic[0] = 'P';
    EXPECT_FALSE(decodeIcon(wrongMagic, error));

    auto truncated = good;
    truncated.resize(good.size() - 1);
    EXPECT_FALSE(decodeIcon(truncated, error));

    auto offsetPastEnd = good;
    put32(offsetPastEnd, 10, 0xFFFFFFF0u);
    EXPECT_FALSE(decodeIcon(offsetPastEnd, error));

    auto huge = good;
    put32(huge, 18, 100000);
    EXPECT_FALSE(decodeIcon(huge, error));

    auto offsetZero = good;
    put32(offsetZero, 10, 0);
    EXPECT_FALSE(decodeIcon(offsetZero, error));
    EXPECT_EQ(error, "its header is damaged: its pixels start at byte 0, inside its headers");
}

namespace {

// A top-down BMP of 4 x 2 pixels behind an info header of `infoSize` bytes
// that holds an editor's leftovers and the colour masks (a 40-byte one is
// followed by them). One word a pixel, its channels where the masks say; at
// 8 bits the words are the palette and pixel i shows entry i.
struct BmpLayout {
    int bits = 32;
    std::uint32_t infoSize = 124;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks{};
};

std::vector<std::uint8_t> writeBmp(const BmpLayout& bmp, const std::vector<std::uint32_t>& words)
{
    const std::size_t paletteAt = 14 + bmp.infoSize + (bmp.infoSize == 40 ? 4 * bmp.masks.size() : 0);
    const bool paletted = bmp.bits == 8;
    const std::size_t offset = paletteAt + (paletted ? 4 * words.size() : 0), bytes = bmp.bits / 8;
    std::vector<std::uint8_t> b(offset + bytes * words.size(), 0);
    for (std::size_t i = 54; i < 14 + bmp.infoSize; ++i) b[i] = std::uint8_t(0xA5 ^ i);
    b[0] = 'B', b[1] = 'M';
    put32(b, 10, std::uint32_t(offset));
    put32(b, 14, bmp.infoSize);
    put32(b, 18, 4);
    put32(b, 22, std::uint32_t(-2));
    put16(b, 26, 1);
    put16(b, 28, std::uint16_t(bmp.bits));
    put32(b, 30, bmp.compression);
    put32(b, 46, paletted ? std::uint32_t(words.size()) : 0);
    for (std::size_t i = 0; i < bmp.masks.size(); ++i) put32(b, 54 + 4 * i, bmp.masks[i]);
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (paletted) put32(b, paletteAt + 4 * i, words[i]);
        for (std::size_t k = 0; k < bytes; ++k)
            b[offset + i * bytes + k] = std::uint8_t((paletted ? i : words[i]) >> 8 * k);
    }
    return b;
}

}  // namespace

TEST(WindowIcon, PalettesAndColourMasksAreReadBehindEveryHeader)
{
    constexpr std::uint32_t redLow = 0x000000FFu, green = 0x0000FF00u, blueHigh = 0x00FF0000u;
    const BmpLayout layouts[] = {
        {.bits = 8, .infoSize = 108, .masks = {blueHigh, green, redLow}},  // a palette entry's layout
        {.bits = 8, .masks = {blueHigh, green, redLow}},
        {.infoSize = 40, .compression = 3, .masks = {redLow, green, blueHigh}},
        {.infoSize = 40, .compression = 6, .masks = {redLow, green, blueHigh, 0xFF000000u}},
        {.infoSize = 108, .compression = 3, .masks = {0xFF000000u, 0x00FF0000u, 0x0000FF00u, 0x000000FFu}},
        {.bits = 16, .compression = 3, .masks = {0x0F00u, 0x00F0u, 0x000Fu, 0xF000u}},
    };
    for (const BmpLayout& bmp : layouts) {
        SCOPED_TRACE(testing::Message() << bmp.bits << " bits, " << bmp.infoSize
                                        << "-byte header, compression " << bmp.compression);
        std::vector<std::uint32_t> words;
        std::vector<std::uint8_t> expected;
        for (std::uint32_t i = 0; i < 8; ++i) {
            // Levels times 17, which 4-bit channels hold exactly; channels differ within a pixel.
            Rgba c{std::uint8_t(17 * (15 - i)), std::uint8_t(17 * i), std::uint8_t(17 * ((i + 3) % 8)),
                   std::uint8_t(17 * (8 + (i + 2) % 8))};
            std::uint32_t word = 0;
            for (std::size_t k = 0; k < bmp.masks.size(); ++k) {
                word |= std::uint32_t(c[k] >> (8 - std::popcount(bmp.masks[k])))
                        << std::countr_zero(bmp.masks[k]);
            }
            words.push_back(word);
            if (bmp.masks.size() < 4) c[3] = 255;  // no alpha mask: opaque
            expected.insert(expected.end(), c.begin(), c.end());
        }
        std::string error;
        const auto icon = decodeIcon(writeBmp(bmp, words), error);
        ASSERT_TRUE(icon) << error;
        EXPECT_EQ(icon->rgba, expected);
    }

    // Masks that are no runs of bits cannot be read right.
    std::string error;
    const BmpLayout gappy{.infoSize = 40, .compression = 3, .masks = {0x000000F3u, green, blueHigh}};
    EXPECT_FALSE(decodeIcon(writeBmp(gappy, std::vector<std::uint32_t>(8, 0)), error));
    EXPECT_EQ(error, "unsupported colour masks");
}

TEST(WindowIcon, OtherFormatsAreMeasuredBeforeDecoding)
{
    std::string error;
    const auto vast = imagefixtures::fileBytes(imagefixtures::writePpmHeader("vast.ppm", 2000000000, 300000));
    EXPECT_FALSE(decodeIcon(vast, error));
    EXPECT_EQ(error, "2000000000x300000 is larger than the largest picture side 256");
    // Only decoders trusted with what a file's content alone claims see it.
    EXPECT_FALSE(decodeIcon(
        imagefixtures::fileBytes(imagefixtures::writePicture(FIF_TARGA, "icon.tga", 3, 2)), error));
    EXPECT_EQ(error, "the content is a picture in TARGA format, read only from a file named .tga or .targa");
    // A picture cut short says so, and a damaged one gives the decoder's words.
    const auto gif = imagefixtures::fileBytes(imagefixtures::writeGif("icon.gif", 3, 2));
    auto png = imagefixtures::fileBytes(imagefixtures::writePng("icon.png", 3, 2));
    png[png.size() - 20] ^= 0xFF;  // the image data's own checksum, before the chunk's and IEND
    const std::pair<std::vector<std::uint8_t>, std::string> damaged[] = {
        {{gif.begin(), gif.begin() + 20}, "it is cut short in its header"},
        {png, "the PNG decoder says \"IDAT: incorrect data check\""},
    };
    for (const auto& [bytes, reason] : damaged) {
        EXPECT_FALSE(decodeIcon(bytes, error));
        EXPECT_EQ(error, reason);
    }

    const auto icon = decodeIcon(imagefixtures::fileBytes(imagefixtures::writePng("icon.png", 3, 2)), error);
    ASSERT_TRUE(icon) << error;
    const auto c = imagefixtures::colourAt(2, 1);
    EXPECT_EQ(pixelOf(*icon, 2, 1), (Rgba{c[0], c[1], c[2], 255}));
}

namespace {

// Bytes this thread has read from files so far; reading a fixed length of
// the count ("rchar: <n>" first) makes each ask cost exactly kAskCost bytes.
constexpr ssize_t kAskCost = 64;
std::uint64_t bytesReadByThisThread()
{
    char text[kAskCost + 1] = {};
    const int io = ::open("/proc/thread-self/io", O_RDONLY);
    EXPECT_EQ(::read(io, text, kAskCost), kAskCost);
    ::close(io);
    return std::strtoull(text + sizeof "rchar:" - 1, nullptr, 10);
}

}  // namespace

// Whatever stands in the icon's place is refused at once, with its reason; of
// an 8 GB file behind the header of a 32 x 32 picture only the headers are
// read, then as far as the rows reach.
TEST(WindowIcon, OnlyAFileIsReadAndOnlyAsFarAsItsHeaderSays)
{
    namespace fs = std::filesystem;
    QvWindow window;
    window.create();
    const fs::path runDirectory = fs::current_path(), scratch = testsupport::tempPath("iconfolder");
    fs::create_directories(scratch / "icons");
    fs::current_path(scratch);
    std::uint64_t bytesRead = 0;
    const auto printedByLoad = [&] {
        testing::internal::CaptureStdout();
        const std::uint64_t before = bytesReadByThisThread();
        window._loadIcon();
        bytesRead = bytesReadByThisThread() - before - kAskCost;
        return testing::internal::GetCapturedStdout();
    };
    for (const hostilefiles::StandIn& standIn : hostilefiles::standIns) {
        hostilefiles::plant("icons/icon.bmp", standIn);
        EXPECT_EQ(printedByLoad(),
                  std::string("Window icon \"icons/icon.bmp\" not loaded: ") + standIn.reason + "\n");
    }
    const std::vector<std::uint8_t> bmp = makeBmp(32, 32, 32, true);
    fs::remove("icons/icon.bmp");
    std::ofstream("icons/icon.bmp").write(reinterpret_cast<const char*>(bmp.data()), long(bmp.size()));
    fs::resize_file("icons/icon.bmp", std::uintmax_t(8) << 30);
    EXPECT_EQ(printedByLoad(), "");
    EXPECT_EQ(bytesRead, 14u + 124u + bmp.size());
    // Pixels start after the palette however near the file header says: all of them are read. A
    // 300x300 palette picture is refused on its size, though only its headers were read.
    const auto plant = [](std::uint32_t colours, std::uint32_t offset, std::int32_t side) {
        auto file = writeBmp({.bits = 8, .infoSize = 40}, std::vector<std::uint32_t>(8, 0x102030));
        put32(file, 10, offset);
        put32(file, 18, std::uint32_t(side));
        put32(file, 22, std::uint32_t(-side));
        put32(file, 46, colours);
        file.resize(14 + 40 + 4 * (colours ? colours : 256) + std::size_t(side) * side, 0);
        fs::remove("icons/icon.bmp");
        std::ofstream("icons/icon.bmp").write(reinterpret_cast<const char*>(file.data()), long(file.size()));
        return file.size();
    };
    const std::size_t near = plant(8, 14 + 40, 16);
    fs::resize_file("icons/icon.bmp", std::uintmax_t(1) << 30);
    EXPECT_EQ(printedByLoad(), "");
    EXPECT_EQ(bytesRead, 14u + 124u + near);
    plant(0, 14 + 40 + 4 * 256, 300);
    EXPECT_EQ(
        printedByLoad(),
        "Window icon \"icons/icon.bmp\" not loaded: 300x300 is larger than the largest picture side 256\n");
    fs::current_path(runDirectory);
    fs::remove_all(scratch);
}

TEST(WindowPlacement, CentresSplashAndMainWindowOnTheMonitor)
{
    const QvWindowPosition splash = centredWindowPosition(1920, 1080, 512, 256);
    EXPECT_EQ(splash.x, 704);
    EXPECT_EQ(splash.y, 412);
    const QvWindowPosition main = centredWindowPosition(1920, 1080, 1024, 768);
    EXPECT_EQ(main.x, 448);
    EXPECT_EQ(main.y, 156);
}
