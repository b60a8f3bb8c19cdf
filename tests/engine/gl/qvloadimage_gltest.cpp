// Texture and cube-map uploads read back from the driver, and the screenshot.
#include "tempfiles.h"
#include "glcontext.h"
#include "imagefixtures.h"
#include "engine/gl/qvloadimage.h"

#include <gtest/gtest.h>
#include <fmt/core.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include <sys/resource.h>

namespace {

// The texel rows of one image of a bound texture target, tightly packed.
std::vector<std::uint8_t> readTexture(GLenum target, int width, int height)
{
    std::vector<std::uint8_t> texels(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(target, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

void expectTexelRow(const std::vector<std::uint8_t>& texels, int width, int texelRow, int pictureRow,
                    int salt = 0)
{
    for (int x = 0; x < width; ++x) {
        const auto expected = imagefixtures::colourAt(x, pictureRow, salt);
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(texels[(texelRow * width + x) * 3 + c], expected[c])
                << "texel row " << texelRow << " x " << x;
        }
    }
}

std::vector<std::uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A small JPEG whose frame header claims the given size.
std::string jpegClaiming(const std::string& name, std::uint16_t width, std::uint16_t height)
{
    const std::string path = testsupport::tempPath(name).string();
    FIBITMAP* bitmap = FreeImage_Allocate(8, 8, 24);
    FreeImage_Save(FIF_JPEG, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    std::vector<std::uint8_t> bytes = fileBytes(path);
    for (std::size_t i = 2; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {  // baseline frame: length, precision, height, width
            bytes[i + 5] = std::uint8_t(height >> 8);
            bytes[i + 6] = std::uint8_t(height);
            bytes[i + 7] = std::uint8_t(width >> 8);
            bytes[i + 8] = std::uint8_t(width);
            return imagefixtures::writeBytes(name, bytes);
        }
    }
    ADD_FAILURE() << "FreeImage wrote no baseline frame header";
    return path;
}

// Files of the scratch folder that begin with the name of `path`, other than it.
std::vector<std::string> strayFilesBeside(const std::filesystem::path& path)
{
    std::vector<std::string> stray;
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name != path.filename().string() && name.starts_with(path.filename().string())) stray.push_back(name);
    }
    return stray;
}

}  // namespace

TEST(TextureUpload, OddWidthImageArrivesBottomRowFirstWhateverTheUnpackAlignment)
{
    testsupport::GlContext context;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);  // as the bitmap font leaves it
    constexpr int width = 5, height = 4;
    TextureLoader loader;
    testing::internal::CaptureStdout();
    const QvTexture texture = loader.loadTexture(imagefixtures::writePng("odd.png", width, height));
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(texture);
    EXPECT_EQ(output, "width = 5, height = 4\nremainder = 2\nscanLineWidth = 16\nscanLineWidth = 16\n");
    const auto texels = readTexture(GL_TEXTURE_2D, width, height);
    for (int row = 0; row < height; ++row) {
        expectTexelRow(texels, width, row, height - 1 - row);
    }
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 1) << "the caller's unpack alignment is restored";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(TextureUpload, HandsBackPixelsAndKeepsTheLastSize)
{
    testsupport::GlContext context;
    TextureLoader loader;
    std::vector<std::uint8_t> pixels;
    int stride = -1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loader.loadTexture("textures/missing.jpg", pixels, stride));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(stride, -1);
    EXPECT_TRUE(pixels.empty());

    testing::internal::CaptureStdout();
    EXPECT_TRUE(loader.loadTexture(imagefixtures::writePng("six.png", 6, 2), pixels, stride));
    EXPECT_TRUE(loader.loadTexture(imagefixtures::writePng("seven.png", 7, 3)));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(stride, 20);
    EXPECT_EQ(pixels.size(), 40u);
    EXPECT_EQ(loader.getImageWidth(), 7);
    EXPECT_EQ(loader.getImageHeight(), 3);
    EXPECT_FALSE(loader.loadTexture("textures/missing.jpg"));
    EXPECT_EQ(loader.getImageWidth(), 7) << "a failed load keeps the recorded size";
}

TEST(TextureSize, PictureAboveTheDriversLimitIsRefusedNamingTheFile)
{
    testsupport::GlContext context;
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    ASSERT_GT(maxSide, 0);
    TextureLoader loader;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(loader.loadTexture(imagefixtures::writePng("before.png", 6, 2)));
    testing::internal::GetCapturedStdout();

    const std::string wide =
        imagefixtures::writeBytes("wide.png", imagefixtures::pngHeaderClaiming(std::uint32_t(maxSide) + 1, 1));
    const std::string vast = jpegClaiming("vast.jpg", 65000, 65000);
    std::vector<std::uint8_t> pixels;
    int stride = -1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loader.loadTexture(wide));
    EXPECT_FALSE(loader.loadTexture(vast, pixels, stride));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fmt::format("Picture {} not loaded: {}x1 is larger than the largest picture side {}\n"
                          "Picture {} not loaded: 65000x65000 is larger than the largest picture side {}\n",
                          wide, maxSide + 1, maxSide, vast, maxSide));
    EXPECT_EQ(loader.getImageWidth(), 6) << "a refused picture keeps the recorded size";
    EXPECT_EQ(loader.getImageHeight(), 2);
    EXPECT_EQ(stride, -1);
    EXPECT_TRUE(pixels.empty());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(TextureSize, PicturesReadWithoutAContextAreBoundedToo)
{
    TextureLoader loader;
    const std::string wide = imagefixtures::writeBytes(
        "wide.png", imagefixtures::pngHeaderClaiming(std::uint32_t(qvCommonMaxTextureSize) + 1, 1));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(loader.loadImage(imagefixtures::writePng("small.png", 3, 3)).size() == 3 * 12);
    EXPECT_TRUE(loader.loadImage(wide).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fmt::format("Picture {} not loaded: {}x1 is larger than the largest picture side {}\n", wide,
                          qvCommonMaxTextureSize + 1, qvCommonMaxTextureSize));
    EXPECT_EQ(loader.getImageWidth(), 0);
    EXPECT_EQ(loader.getImageHeight(), 0);
}

TEST(TextureSize, SizesBeyondMemoryArithmeticAreRefused)
{
    constexpr std::uint64_t anySide = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(qvImageSizeProblem({16384, 16384}, 16384), "");
    EXPECT_EQ(qvImageSizeProblem({1, 16385}, 16384), "1x16385 is larger than the largest picture side 16384");
    // A row of 4-byte pixels must be countable in int.
    EXPECT_EQ(qvImageSizeProblem({536870911, 1}, anySide), "");
    EXPECT_EQ(qvImageSizeProblem({536870912, 1}, anySide), "536870912x1 does not fit in memory");
    EXPECT_EQ(qvImageSizeProblem({4000000000u, 4000000000u}, anySide), "4000000000x4000000000 does not fit in memory");

    // And through the loader, whose bound a caller may lift.
    const std::string header = "P6\n2000000000 2000000000\n255\n";
    const std::string path =
        imagefixtures::writeBytes("vast.ppm", std::vector<std::uint8_t>(header.begin(), header.end()));
    TextureLoader loader;
    loader.maxImageSide = std::numeric_limits<int>::max();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(loader.loadImage(path).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fmt::format("Picture {} not loaded: 2000000000x2000000000 does not fit in memory\n", path));
}

TEST(CubeMapUpload, FacesGoToTheirTargetsTopRowFirst)
{
    testsupport::GlContext context;
    constexpr int size = 4;
    std::vector<std::string> faces;
    for (int i = 0; i < 6; ++i) {
        faces.push_back(imagefixtures::writePng("face" + std::to_string(i) + ".png", size, size, i));
    }
    TextureLoader loader;
    const QvTexture cube = loader.loadCubemap(faces);
    ASSERT_TRUE(cube);
    glBindTexture(GL_TEXTURE_CUBE_MAP, cube.get());
    for (int i = 0; i < 6; ++i) {
        const auto texels = readTexture(GL_TEXTURE_CUBE_MAP_POSITIVE_X + static_cast<GLenum>(i), size, size);
        for (int row = 0; row < size; ++row) {
            expectTexelRow(texels, size, row, row, i);
        }
    }
    EXPECT_EQ(loader.getImageWidth(), 0) << "cube faces do not change the recorded size";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(CubeMapUpload, UnreadableFaceIsReportedToTheCaller)
{
    testsupport::GlContext context;
    std::vector<std::string> faces(6, imagefixtures::writePng("fine.png", 2, 2));
    faces[3] = "skybox/art/absent.jpg";
    TextureLoader loader;
    try {
        loader.loadCubemap(faces);
        FAIL() << "a missing face must not pass silently";
    } catch (const QvResourceError& error) {
        EXPECT_NE(std::string(error.what()).find("skybox/art/absent.jpg"), std::string::npos);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(CubeMapUpload, FaceAboveTheDriversLimitIsRefusedNamingTheFile)
{
    testsupport::GlContext context;
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_CUBE_MAP_TEXTURE_SIZE, &maxSide);
    ASSERT_GT(maxSide, 0);
    const auto side = std::uint32_t(maxSide) + 1;
    std::vector<std::string> faces(6, imagefixtures::writePng("fine.png", 2, 2));
    faces[2] = imagefixtures::writeBytes("vast.png", imagefixtures::pngHeaderClaiming(side, side));
    TextureLoader loader;
    testing::internal::CaptureStdout();
    EXPECT_THROW(loader.loadCubemap(faces), QvResourceError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fmt::format("Picture {} not loaded: {}x{} is larger than the largest picture side {}\n", faces[2],
                          side, side, maxSide));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(Screenshot, WritesTheFramebufferUprightAtItsSize)
{
    constexpr int width = 37, height = 24;  // 3 x 37 is not a multiple of 4
    testsupport::GlContext context(width, height);
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, height / 2, width, height - height / 2);  // the upper half
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);

    const auto path = testsupport::tempPath("photo.jpeg").string();
    std::filesystem::remove(path);
    TextureLoader loader;
    ASSERT_TRUE(loader.saveScreenshot(path, width, height));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    FIBITMAP* photo = FreeImage_Load(FIF_JPEG, path.c_str(), 0);
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(photo), static_cast<unsigned>(width));
    EXPECT_EQ(FreeImage_GetHeight(photo), static_cast<unsigned>(height));
    RGBQUAD top{}, bottom{};
    FreeImage_GetPixelColor(photo, width / 2, height - 3, &top);  // FreeImage rows run bottom-up
    FreeImage_GetPixelColor(photo, width / 2, 2, &bottom);
    FreeImage_Unload(photo);
    EXPECT_GT(top.rgbRed, 200);
    EXPECT_LT(top.rgbBlue, 60);
    EXPECT_GT(bottom.rgbBlue, 200);
    EXPECT_LT(bottom.rgbRed, 60);
}

TEST(Screenshot, SavesAPaddedBufferBottomRowFirst)
{
    // Eight rows per colour, so that JPEG's colour blocks stay one colour.
    constexpr int width = 5, height = 16, stride = 16;
    std::vector<std::uint8_t> pixels(stride * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels[y * stride + 3 * x + (y < 8 ? 0 : 1)] = 255;  // bottom red, top green
        }
    }
    const auto path = testsupport::tempPath("buffer.jpeg").string();
    TextureLoader loader;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(loader.saveImage(path, width, height, pixels.data()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "width = 5, height = 16\nremainder = 2\nscanLineWidth = 16\n");
    FIBITMAP* photo = FreeImage_Load(FIF_JPEG, path.c_str(), 0);
    ASSERT_NE(photo, nullptr);
    RGBQUAD bottom{}, top{};
    FreeImage_GetPixelColor(photo, 2, 1, &bottom);
    FreeImage_GetPixelColor(photo, 2, 14, &top);
    FreeImage_Unload(photo);
    EXPECT_GT(bottom.rgbRed, 150);
    EXPECT_GT(top.rgbGreen, 150);
    EXPECT_LT(bottom.rgbGreen, top.rgbGreen);
}

TEST(Screenshot, EmptyWindowIsSkippedAndUnwritableFileReported)
{
    testsupport::GlContext context(8, 8);
    TextureLoader loader;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loader.saveScreenshot("velmorin_never.jpeg", 0, 0));
    EXPECT_FALSE(loader.saveScreenshot("/no/such/directory/photo.jpeg", 8, 8));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(std::filesystem::exists("velmorin_never.jpeg"));
    EXPECT_NE(output.find("skipped"), std::string::npos);
    EXPECT_NE(output.find("ERROR! Image /no/such/directory/photo.jpeg could not be written"),
              std::string::npos);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(Screenshot, FullDiskLeavesTheEarlierPhotoWhole)
{
    // Noise, so that the JPEG is far larger than the room left on the "disk".
    constexpr int width = 128, height = 128;
    std::vector<std::uint8_t> noise(std::size_t(TextureLoader::scanLineWidth(width)) * height);
    std::uint32_t seed = 12345;
    for (std::uint8_t& byte : noise) byte = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    const std::filesystem::path path = testsupport::tempPath("kept.jpeg");
    TextureLoader loader;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(loader.saveImage(path.string(), 16, 16, noise.data()));
    testing::internal::GetCapturedStdout();
    const std::vector<std::uint8_t> earlier = fileBytes(path.string());

    // A file-size limit fails writes past 4 KiB as a full disk would, even for root.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit small = limit;
    small.rlim_cur = 4096;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    testing::internal::CaptureStdout();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = loader.saveImage(path.string(), width, height, noise.data());
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string output = testing::internal::GetCapturedStdout();
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_NE(output.find(fmt::format("ERROR! Image {} could not be written", path.string())), std::string::npos)
        << output;
    EXPECT_EQ(fileBytes(path.string()), earlier) << "the earlier photo must survive byte for byte";
    EXPECT_EQ(strayFilesBeside(path), std::vector<std::string>{});

    // With room again the new photo replaces it whole.
    testing::internal::CaptureStdout();
    EXPECT_TRUE(loader.saveImage(path.string(), width, height, noise.data()));
    testing::internal::GetCapturedStdout();
    FIBITMAP* photo = FreeImage_Load(FIF_JPEG, path.c_str(), 0);
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(photo), unsigned(width));
    FreeImage_Unload(photo);
    EXPECT_EQ(strayFilesBeside(path), std::vector<std::string>{});
    std::filesystem::remove(path);
}

// Image buffers: row length, row order and padding of what the loader reads.
TEST(ImageBuffer, RowsArePaddedToFourBytes)
{
    EXPECT_EQ(TextureLoader::scanLineWidth(1024), 3072);
    EXPECT_EQ(TextureLoader::scanLineWidth(5), 16);
    EXPECT_EQ(TextureLoader::scanLineWidth(6), 20);
    EXPECT_EQ(TextureLoader::scanLineWidth(4), 12);
    EXPECT_EQ(TextureLoader::scanLineWidth(1), 4);
}

TEST(ImageBuffer, BottomRowFirstWithZeroPadding)
{
    constexpr int width = 5, height = 3;
    const std::string path = imagefixtures::writePng("layout.png", width, height);
    TextureLoader loader;
    const auto pixels = loader.loadImage(path);
    ASSERT_EQ(loader.getImageWidth(), width);
    ASSERT_EQ(loader.getImageHeight(), height);
    const int stride = 16;
    ASSERT_EQ(pixels.size(), static_cast<size_t>(stride * height));
    for (int row = 0; row < height; ++row) {
        const int pictureRow = height - 1 - row;  // buffer row 0 is the picture's bottom
        for (int x = 0; x < width; ++x) {
            const auto expected = imagefixtures::colourAt(x, pictureRow);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(pixels[row * stride + 3 * x + c], expected[c])
                    << "row " << row << " x " << x << " channel " << c;
            }
        }
        EXPECT_EQ(pixels[row * stride + 15], 0) << "padding of row " << row;
    }
}

TEST(ImageBuffer, UnreadableFileGivesNoBufferAndNoSize)
{
    TextureLoader loader;
    loader.loadImage(imagefixtures::writePng("first.png", 6, 2));
    EXPECT_EQ(loader.getImageWidth(), 6);
    EXPECT_TRUE(loader.loadImage("textures/no_such_picture.jpg").empty());
    EXPECT_EQ(loader.getImageWidth(), 0);
    EXPECT_EQ(loader.getImageHeight(), 0);
}

TEST(ImageBuffer, PictureWhosePixelsDoNotDecodeIsUnreadable)
{
    // A sound header over a stub of pixel data: no attempt reads the picture
    // (one flag value reads the header alone, which is not a picture).
    const std::string path = imagefixtures::writeBytes("stub.png", imagefixtures::pngHeaderClaiming(6, 2));
    TextureLoader loader;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(loader.loadImage(path).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(loader.getImageWidth(), 0);
}

TEST(ImageBuffer, TheGeneratedPicturesHaveTheirDocumentedSizes)
{
    TextureLoader loader;
    EXPECT_FALSE(loader.loadImage("textures/logo.png").empty());
    EXPECT_EQ(loader.getImageWidth(), 512);
    EXPECT_EQ(loader.getImageHeight(), 256);
    for (const char* face : {"right", "left", "top", "bottom", "front", "back"}) {
        EXPECT_FALSE(loader.loadImage(std::string("skybox/art/") + face + ".jpg").empty()) << face;
        EXPECT_EQ(loader.getImageWidth(), loader.getImageHeight()) << "cube faces are square";
    }
    EXPECT_FALSE(loader.loadImage("textures/0096-512x512.jpg").empty());
    EXPECT_EQ(loader.getImageWidth(), 512);
    for (const char* monitor : {"monitor_info_black", "monitor_route", "monitor_speed", "monitor_stops",
                                "monitor_default", "grass"}) {
        EXPECT_FALSE(loader.loadImage(std::string("textures/") + monitor + ".jpg").empty()) << monitor;
    }
}

TEST(ImageBuffer, IconIsA32BitBottomUpBitmapWithAStandardHeader)
{
    std::FILE* file = std::fopen("icons/icon.bmp", "rb");
    ASSERT_NE(file, nullptr);
    unsigned char header[54] = {};
    ASSERT_EQ(std::fread(header, 1, sizeof header, file), sizeof header);
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    auto u32 = [&](int at) {
        return header[at] | header[at + 1] << 8 | header[at + 2] << 16 | header[at + 3] << 24;
    };
    EXPECT_EQ(header[0], 'B');
    EXPECT_EQ(header[1], 'M');
    const int offset = u32(10);
    EXPECT_EQ(u32(14), 40);     // BITMAPINFOHEADER
    EXPECT_EQ(u32(18), 32);     // width
    EXPECT_EQ(u32(22), 32);     // height, positive: rows bottom-up
    EXPECT_EQ(header[28], 32);  // bits per pixel
    EXPECT_EQ(size, offset + 32 * 32 * 4);
    EXPECT_EQ(u32(2), size);
}
