// Texture and cube-map uploads read back from the driver, and the screenshot.
#include "tempfiles.h"
#include "glcontext.h"
#include "hostilefiles.h"
#include "imagefixtures.h"
#include "childcheck.h"
#include "engine/gl/qvloadimage.h"

#include <gtest/gtest.h>
#include <fmt/core.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

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

// Writes `bytes` to a temporary file of that name; its path.
std::string writeFile(const std::string& name, const std::string& bytes)
{
    std::ofstream(testsupport::tempPath(name), std::ios::binary) << bytes;
    return testsupport::tempPath(name).string();
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
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Picture textures/missing.jpg not loaded: No such file or directory\n");
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

    // Nor does a picture beyond the driver's limit get decoded: a line names it.
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    const std::string wide = imagefixtures::writePpmHeader("wide.ppm", maxSide + 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loader.loadTexture(wide, pixels, stride));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fmt::format("Picture {} not loaded: {}x1 is larger than the largest picture side {}\n", wide,
                          maxSide + 1, maxSide));
    EXPECT_EQ(loader.getImageWidth(), 7);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(TextureSize, PicturesReadWithoutAContextAreBoundedToo)
{
    constexpr std::uint64_t anySide = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(qvImageSizeProblem({16384, 2025}, 16384), "") << "7680 x 4320 pixels in another shape";
    EXPECT_EQ(qvImageSizeProblem({16384, 2026}, 16384),
              "16384x2026 is more than the 33177600 pixels of the largest picture");
    // Sides whose product wraps around in 64 bits are still too many pixels.
    EXPECT_EQ(qvImageSizeProblem({anySide, 2}, anySide),
              fmt::format("{}x2 is more than the 33177600 pixels of the largest picture", anySide));

    // The loader's bound is the common texture size; lifted, the pixels still bound it.
    const std::string wide = imagefixtures::writePpmHeader("wide.ppm", qvCommonMaxTextureSize + 1, 1);
    const std::string vast = imagefixtures::writePpmHeader("vast.ppm", 2000000000, 2000000000);
    TextureLoader loader;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(loader.loadImage(wide).empty());
    loader.maxImageSide = std::numeric_limits<int>::max();
    EXPECT_TRUE(loader.loadImage(vast).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fmt::format("Picture {} not loaded: {}x1 is larger than the largest picture side {}\n"
                          "Picture {} not loaded: 2000000000x2000000000 is more than the 33177600 pixels of "
                          "the largest picture\n",
                          wide, qvCommonMaxTextureSize + 1, qvCommonMaxTextureSize, vast));
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
    // So is one beyond the driver's cube-map size, never decoded, the reason in the message.
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_CUBE_MAP_TEXTURE_SIZE, &maxSide);
    faces[3] = imagefixtures::writePpmHeader("vast.ppm", maxSide + 1, maxSide + 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(imagefixtures::skyError(faces),
              fmt::format("Cannot load the sky image {}: {}x{} is larger than the largest picture side {}",
                          faces[3], maxSide + 1, maxSide + 1, maxSide));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // So is a face that GL would refuse, leaving the whole sky black: not square, or not the size most
    // faces share.
    const std::string flat = imagefixtures::writePng("flat.png", 2, 1);
    faces.assign(6, imagefixtures::writePng("fine.png", 2, 2));
    faces[4] = flat;
    EXPECT_EQ(imagefixtures::skyError(faces),
              fmt::format("Cannot load the sky image {}: it is 2x1, where a sky face must be the 2x2 of {}",
                          flat, faces[0]));
    // The size most faces have is the one that counts, whichever face is odd.
    faces[0] = flat;
    EXPECT_EQ(imagefixtures::skyError(faces),
              fmt::format("Cannot load the sky image {}: it is 2x1, where a sky face must be the 2x2 of {}",
                          flat, faces[1]));
    const std::string small = imagefixtures::writePng("small.png", 1, 1);
    faces.assign(6, imagefixtures::writePng("fine.png", 2, 2));
    faces[0] = small;
    EXPECT_EQ(imagefixtures::skyError(faces),
              fmt::format("Cannot load the sky image {}: it is 1x1, where a sky face must be the 2x2 of {}",
                          small, faces[1]));
    faces.assign(6, flat);
    EXPECT_EQ(
        imagefixtures::skyError(faces),
        fmt::format("Cannot load the sky image {}: it is 2x1, where a sky face must be a square", flat));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Every picture FreeImage decodes becomes a texture, whatever its name says
// (where its content's decoder is trusted with a file named otherwise),
// whatever its pixel type, and whether or not its size can be read before
// decoding. Every other file, and anything but a file in a picture's place
// (refused at once: no wait on a pipe, no endless read of a device), is named
// with the reason, FreeImage's own words where it has any, by each entry
// point: a line, or the sky's error.
TEST(PictureFiles, AnyPictureLoadsAndEveryOtherIsNamedWithTheReason)
{
    testsupport::GlContext context;
    ::alarm(30);
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    const auto text = [](const std::string& path) {
        const std::vector<std::uint8_t> bytes = imagefixtures::fileBytes(path);
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string png = text(imagefixtures::writePng("real.png", 6, 2));
    const std::string jpeg = text(imagefixtures::writePicture(FIF_JPEG, "real.jpg", 64, 64));
    const std::string targa = text(imagefixtures::writePicture(FIF_TARGA, "real.tga", 6, 2));
    const std::string bmp = text(imagefixtures::writePicture(FIF_BMP, "real.bmp", 8, 8));
    const std::string ppm = text(imagefixtures::writePicture(FIF_PPMRAW, "real.ppm", 6, 2));
    // What a loaded picture's texels must show.
    enum class Texels { colourAt, greyRamp, any };
    struct Case {
        std::string path;
        int width, height;  // width 0: not loaded for `said`; -1: nor tried as a sky face
        std::string said;   // why it was not loaded, or what the decoder said of a picture it read
        Texels texels = Texels::colourAt;
    };
    std::vector<Case> cases = {
        {imagefixtures::writeGif("small.gif", 8, 4), 8, 4, ""},
        {imagefixtures::writeDds("small.dds", 8, 4), 8, 4, ""},
        {writeFile("png.jpg", png), 6, 2, ""},
        {writeFile("targa.tga", targa), 6, 2, ""},
        {imagefixtures::writeGreyRamp("grey16.png", FIF_PNG, FIT_UINT16, 8, 2), 8, 2, "", Texels::greyRamp},
        {imagefixtures::writeGreyRamp("ramp.hdr", FIF_HDR, FIT_RGBF, 8, 2), 8, 2, "", Texels::greyRamp},
        {imagefixtures::writeGreyRamp("ramp.exr", FIF_EXR, FIT_RGBF, 8, 2), 8, 2, "", Texels::greyRamp},
        {imagefixtures::writeGreyRamp("ramp.pfm", FIF_PFM, FIT_FLOAT, 8, 2), 8, 2, "", Texels::greyRamp},
        {writeFile("cut.jpeg", jpeg.substr(0, jpeg.size() * 6 / 10)), 64, 64,
         "the JPEG decoder says \"Premature end of JPEG file\"", Texels::any},
        {writeFile("empty.jpg", ""), 0, 0, "the file is empty"},
        {writeFile("text.jpg", "no picture here"), 0, 0, "it is not a JPEG file"},
        {writeFile("cut.jpg", png.substr(0, 40)), 0, 0,
         "it is cut short in the header of its chunk at byte 33"},
        {writeFile("targa.jpg", targa), 0, 0,
         "it is not a JPEG file; the content is a picture in TARGA format, read only from a file named .tga "
         "or .targa"},
        // FreeImage's IFF decoder loops for ever on this.
        {writeFile("iff.jpg", std::string("FORM\0\0\1\0ILBM", 12)), 0, 0,
         "it is not a JPEG file; the content is a picture in IFF format, read only from a file named .iff or "
         ".lbm"},
        // FreeImage's PBM decoder takes the width as 1 and writes past its rows.
        {writeFile("wrap.jpg", std::string("P4\n4294967295 1\n\0\0\0\0", 20)), -1, 0,
         fmt::format("4294967295x1 is larger than the largest picture side {}", maxSide)},
        // Files that cannot hold the picture they claim, refused unread.
        {writeFile("halfbmp.jpg", bmp.substr(0, bmp.size() / 2)), 0, 0,
         fmt::format("it is cut short: its pixels end at byte {}, the file at byte {}", bmp.size(),
                     bmp.size() / 2)},
        {writeFile("thirdppm.jpg", ppm.substr(0, ppm.size() / 3)), 0, 0,
         fmt::format("it is cut short: its pixels end at byte {}, the file at byte {}", ppm.size(),
                     ppm.size() / 3)},

        {imagefixtures::writeDds("wide.dds", maxSide + 4, 4, false), -1, 0,
         fmt::format("{}x4 is larger than the largest picture side {}", maxSide + 4, maxSide)},
    };
    for (const hostilefiles::StandIn& standIn : hostilefiles::standIns) {
        cases.push_back(
            {testsupport::tempPath(std::string(standIn.what) + ".jpg").string(), 0, 0, standIn.reason});
        hostilefiles::plant(cases.back().path, standIn);
    }
    std::vector<std::string> faces(6, imagefixtures::writePng("sky.png", 2, 2));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TextureLoader loader;
        testing::internal::CaptureStdout();
        const QvTexture texture = loader.loadTexture(c.path);
        if (c.width > 0) {
            const std::string output = testing::internal::GetCapturedStdout();
            ASSERT_TRUE(texture) << output;
            EXPECT_EQ(std::pair(loader.getImageWidth(), loader.getImageHeight()),
                      std::pair(c.width, c.height));
            const std::string remark = fmt::format("Picture {} loaded, but {}\n", c.path, c.said);
            EXPECT_EQ(output.find("Picture"), c.said.empty() ? std::string::npos : output.find(remark))
                << output;
            const auto texels = readTexture(GL_TEXTURE_2D, c.width, c.height);
            for (int row = 0; row < c.height && c.texels == Texels::colourAt; ++row)
                expectTexelRow(texels, c.width, row, c.height - 1 - row);
            // A ramp, not a flat grey; grey and never darker to the right.
            for (int i = 0; i < c.width * c.height && c.texels == Texels::greyRamp; ++i) {
                const std::uint8_t* texel = &texels[std::size_t(i) * 3];
                EXPECT_TRUE(texel[1] == texel[0] && texel[2] == texel[0] &&
                            (i % c.width == 0 || texel[0] >= texel[-3]))
                    << i;
            }
            EXPECT_TRUE(c.texels != Texels::greyRamp ||
                        texels[0] + 100 < texels[std::size_t(c.width - 1) * 3]);
            continue;
        }
        EXPECT_FALSE(texture);
        EXPECT_TRUE(loader.loadImage(c.path).empty());
        faces[2] = c.path;
        if (c.width == 0) {
            EXPECT_EQ(imagefixtures::skyError(faces),
                      fmt::format("Cannot load the sky image {}: {}", c.path, c.said));
        }
        const std::string line = fmt::format("Picture {} not loaded: {}\n", c.path, c.said);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), line + line);
    }
    ::alarm(0);
}

// A picture whose rows do not fit in the memory left is named instead of
// ending the program with a bare std::bad_alloc.
TEST(PictureFiles, APictureThatDoesNotFitInMemoryIsNamed)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#endif
    // Loading `path` with `headroom` more address space prints exactly that line.
    const auto refusedWithin = [](std::size_t headroom, const std::string& path, const std::string& reason) {
        return testsupport::holdsInChild([&] {
            ::alarm(5);
            TextureLoader loader;
            testing::internal::CaptureStdout();
            const bool refused =
                testsupport::limitAddressSpaceGrowth(headroom) && loader.loadImage(path).empty();
            const std::string output = testing::internal::GetCapturedStdout();
            if (output != "Picture " + path + " not loaded: " + reason + "\n")
                std::fputs(output.c_str(), stderr);
            return refused && output == "Picture " + path + " not loaded: " + reason + "\n";
        });
    };
    // 5000 x 5000 x 3 bytes from about 73 KB, decoded apart: its rows do not
    // fit in the 40 MiB left here.
    const std::string picture = imagefixtures::writeBlackPng("big.png", 5000, 5000);
    EXPECT_TRUE(refusedWithin(40u << 20, picture, "not enough memory to read it"));

    // A small file claiming a huge picture, and a huge file, cost next to
    // nothing: refused from the header or the size, unread.
    const std::vector<std::uint8_t> real =
        imagefixtures::fileBytes(imagefixtures::writePng("real.png", 6, 2));
    const std::string png(real.begin(), real.end() - 12);  // without its end chunk
    const std::string sparse = testsupport::tempPath("sparse.jpg").string();
    hostilefiles::plantLarge(sparse, std::uintmax_t(4) << 30);
    EXPECT_TRUE(refusedWithin(
        16u << 20, writeFile("claim.hdr", "#?RADIANCE\n\n-Y 16384 +X 16384\n" + std::string(8, '\2')),
        "16384x16384 is more than the 33177600 pixels of the largest picture"));
    EXPECT_TRUE(refusedWithin(16u << 20,
                              writeFile("chunk.png", png + std::string("\x7f\xff\xff\xf0tEXtComment", 15)),
                              fmt::format("its tEXt chunk at byte {} runs past the end of the file (byte {})",
                                          png.size(), png.size() + 15)));
    EXPECT_TRUE(refusedWithin(16u << 20, sparse, "larger than 512 MiB"));
    std::filesystem::remove(sparse);
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
    const std::string path = imagefixtures::writePng("kept.jpeg", 16, 16);
    const std::vector<std::uint8_t> earlier = imagefixtures::fileBytes(path);
    const std::vector<std::uint8_t> pixels(std::size_t(TextureLoader::scanLineWidth(16)) * 16);
    TextureLoader loader;

    // Writes past 512 bytes, less than any JPEG takes, fail as on a full disk, even for root.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{512, limit.rlim_max};
    testing::internal::CaptureStdout();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = loader.saveImage(path, 16, 16, pixels.data());
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_FALSE(written);
    EXPECT_TRUE(output.find(fmt::format("ERROR! Image {} could not be written: cannot write {}.tmp-", path,
                                        path)) != std::string::npos &&
                output.ends_with(": File too large\n"))
        << output;
    EXPECT_EQ(imagefixtures::fileBytes(path), earlier) << "the earlier photo survives byte for byte";
    const std::filesystem::path kept(path);
    for (const auto& entry : std::filesystem::directory_iterator(kept.parent_path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(entry.path() == kept || !name.starts_with(kept.filename().string()))
            << "half-written " << name;
    }
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

    // Nor does a PNG whose pixel data is cut short, refused before decoding.
    const std::string stub = imagefixtures::writePng("stub.png", 6, 2);
    const std::vector<std::uint8_t> png = imagefixtures::fileBytes(stub);
    const std::string idat = "IDAT";
    const std::size_t idatAt = std::search(png.begin(), png.end(), idat.begin(), idat.end()) - png.begin();
    std::filesystem::resize_file(stub, idatAt + 6);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(loader.loadImage(stub).empty());
    EXPECT_EQ(
        testing::internal::GetCapturedStdout(),
        fmt::format(
            "Picture {} not loaded: its IDAT chunk at byte {} runs past the end of the file (byte {})\n",
            stub, idatAt - 4, idatAt + 6));
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
