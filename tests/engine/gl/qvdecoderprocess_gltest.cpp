// Pictures decoded apart: a decoder's crash, its time and its memory stay the
// picture's, whichever part of the program asked for it.
#include "tempfiles.h"
#include "glcontext.h"
#include "imagefixtures.h"
#include "childcheck.h"
#include "engine/gl/qvdecoderprocess.h"
#include "engine/gl/qvloadimage.h"
#include "engine/model/qvmodel.h"
#include "engine/platform/qvwindow.h"

#include <gtest/gtest.h>
#include <fmt/core.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void putLe(Bytes& bytes, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) bytes.push_back(std::uint8_t(value >> (8 * i)));
}

// A valid little-endian TIFF of one uncompressed strip, bytes 0x5A, that
// FreeImage 3.18 cannot take: one kept in planes trips an assertion in its
// pixel copy; a palette of four samples runs its copy out of the bitmap.
Bytes faultyTiff(std::uint32_t side, std::uint32_t bits, std::uint32_t samples, std::uint32_t planes)
{
    const std::uint32_t photometric = bits == 1 ? 1 : 3;  // black is zero, or a palette
    const std::uint32_t rowBytes = planes == 2 ? (side * bits + 7) / 8 : (side * bits * samples + 7) / 8;
    const std::uint32_t stripBytes = rowBytes * side * (planes == 2 ? samples : 1);
    struct Field {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    const std::uint32_t paletteEntries = photometric == 3 ? 3u << bits : 0;
    std::vector<Field> fields = {{256, 3, 1, side},    {257, 3, 1, side},        {258, 3, 1, bits},
                                 {259, 3, 1, 1},       {262, 3, 1, photometric}, {273, 4, 1, 0},
                                 {277, 3, 1, samples}, {278, 3, 1, side},        {279, 4, 1, stripBytes},
                                 {284, 3, 1, planes}};
    if (paletteEntries != 0) fields.push_back({320, 3, paletteEntries, 0});
    const std::uint32_t directoryEnd = 8 + 2 + 12 * std::uint32_t(fields.size()) + 4;
    const std::uint32_t stripAt = directoryEnd + 2 * paletteEntries;
    Bytes bytes = {'I', 'I', 42, 0};
    putLe(bytes, 8, 4);
    putLe(bytes, std::uint32_t(fields.size()), 2);
    for (const Field& field : fields) {
        putLe(bytes, field.tag, 2);
        putLe(bytes, field.type, 2);
        putLe(bytes, field.count, 4);
        const std::uint32_t value = field.tag == 273   ? stripAt
                                    : field.tag == 320 ? directoryEnd
                                                       : field.value;
        putLe(bytes, value, field.type == 3 && field.count == 1 ? 2 : 4);
        if (field.type == 3 && field.count == 1) putLe(bytes, 0, 2);
    }
    putLe(bytes, 0, 4);
    for (std::uint32_t i = 0; i < paletteEntries; ++i) putLe(bytes, i * 4099, 2);
    bytes.resize(bytes.size() + stripBytes, 0x5A);
    return bytes;
}

std::string writeBytes(const std::string& name, const Bytes& bytes)
{
    const std::string path = testsupport::tempPath(name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    return path;
}

// Rows in this process's own memory.
struct VectorSink : QvDecodeSink {
    void decoding(FREE_IMAGE_FORMAT) override {}
    std::uint8_t* rows(std::size_t bytes) override
    {
        kept.resize(bytes);
        return kept.data();
    }
    std::vector<std::uint8_t> kept;
};

std::string skyError(const std::vector<std::string>& faces)
{
    try {
        TextureLoader().loadCubemap(faces);
    } catch (const QvResourceError& error) {
        return error.what();
    }
    return {};
}

}  // namespace

// Each file crashes FreeImage's TIFF decoder; every part of the program that
// reads pictures names it and goes on.
TEST(DecoderProcess, ACrashInTheDecoderIsThePicturesReason)
{
    testsupport::GlContext context;
    struct Case {
        const char* name;
        Bytes file;
        int signal;
    };
    const Case cases[] = {
        {"bilevel-planes.tif", faultyTiff(9, 1, 1, 2), SIGABRT},
        {"palette-planes.tif", faultyTiff(9, 4, 1, 2), SIGABRT},
        {"palette-samples.tif", faultyTiff(9, 4, 4, 1), SIGSEGV},
    };
    const std::string fine = imagefixtures::writePng("fine.png", 9, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string reason = fmt::format("the TIFF decoder crashed (signal {})", c.signal);
        // Under a name of its own format and under another one alike.
        for (const std::string& path :
             {writeBytes(c.name, c.file), writeBytes(std::string(c.name) + ".jpg", c.file)}) {
            const std::string line = fmt::format("Picture {} not loaded: {}\n", path, reason);
            testing::internal::CaptureStdout();
            TextureLoader loader;
            EXPECT_FALSE(loader.loadTexture(path));
            EXPECT_TRUE(loader.loadImage(path).empty());
            loadTexture(path);  // a model's texture
            EXPECT_EQ(testing::internal::GetCapturedStdout(), line + line + line);
            std::vector<std::string> faces(6, fine);
            faces[3] = path;
            EXPECT_EQ(skyError(faces), fmt::format("Cannot load the sky image {}: {}", path, reason));
        }
        std::string error;
        EXPECT_FALSE(decodeIconBmp(c.file, error));
        EXPECT_EQ(error, reason);
    }
    // The six faces are measured before any is decoded: a face that crashes
    // the decoder is never reached when another face cannot fit it.
    std::vector<std::string> faces(6, writeBytes("square-planes.tif", faultyTiff(8, 4, 1, 2)));
    faces[1] = fine;
    EXPECT_EQ(skyError(faces),
              fmt::format("Cannot load the sky image {}: it is 9x9, where a sky face must be "
                          "the 8x8 of {}",
                          fine, faces[0]));
}

// Time and memory are the child's: a picture over either limit is named with
// what it ran out of, and one that fails on its data is not decoded again.
TEST(DecoderProcess, LimitsEndTheDecodingNotTheProgram)
{
    const Bytes big = imagefixtures::fileBytes(imagefixtures::writeBlackPng("limits.png", 5000, 5000));
    const QvDecodeRequest request{.named = FIF_PNG, .retryFlags = true};
    const QvDecoderLimits plenty = qvDecoderLimits(big.size());
    struct Case {
        QvDecoderLimits limits;
        std::string reason;
    };
    const Case cases[] = {
        {{0.002, plenty.wallSeconds, plenty.memoryBytes}, "the PNG decoder took longer than 0.002 s"},
        {{plenty.cpuSeconds, 0.002, plenty.memoryBytes},
         "the PNG decoder took longer than 0.002 s on the clock"},
        {{plenty.cpuSeconds, plenty.wallSeconds, 16 << 20},
         "the PNG decoder says \"DIB allocation failed, maybe caused by an invalid image size or by a lack "
         "of "
         "memory\""},
    };
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t checked = 2;  // the sanitizer's allocator cannot run under an address-space limit
#else
    const std::size_t checked = 3;
#endif
    for (std::size_t i = 0; i < checked; ++i) {
        std::string error;
        EXPECT_FALSE(qvDecodeApart(big, request, error, cases[i].limits));
        EXPECT_EQ(error, cases[i].reason);
    }
    std::string error;
    const std::optional<QvDecodedPicture> picture = qvDecodeApart(big, request, error);
    ASSERT_TRUE(picture) << error;
    EXPECT_EQ(std::pair(picture->width, picture->height), std::pair(5000, 5000));
    EXPECT_EQ(picture->rows.size(), 15000u * 5000u);
    EXPECT_EQ(picture->attempts, 1);

    // A decoder that says why it fails (the image data damaged, or no memory
    // for the bitmap) fails every flag value alike: tried once.
    Bytes damaged = imagefixtures::fileBytes(imagefixtures::writePng("damaged.png", 3, 2));
    damaged[damaged.size() - 20] ^= 0xFF;  // the image data's own checksum
    EXPECT_FALSE(qvDecodeApart(damaged, request, error));
    EXPECT_EQ(error, "the PNG decoder says \"IDAT: incorrect data check\"");
    VectorSink sink;
    EXPECT_EQ(qvDecodePicture(damaged, request, sink).attempts, 1);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_TRUE(testsupport::holdsInChild([&] {
        VectorSink rows;
        const QvDecodeResult result = testsupport::limitAddressSpaceGrowth(16 << 20)
                                          ? qvDecodePicture(big, request, rows)
                                          : QvDecodeResult{};
        return !result.decoded && result.attempts == 1;
    }));
#endif

    // A small file, however hostile, costs at most 2 s and 300 MiB; a large
    // one more in proportion: a 10 MB progressive JPEG of 7680x4320 pixels in
    // 4:4:4 keeps 200 MB of coefficients beside 2 x 100 MB of pixels.
    const QvDecoderLimits small = qvDecoderLimits(1024), photo = qvDecoderLimits(10'000'000);
    EXPECT_LE(small.cpuSeconds, 2.0);
    EXPECT_LE(small.memoryBytes, 300u << 20);
    EXPECT_GT(photo.cpuSeconds, small.cpuSeconds);
    EXPECT_GE(photo.memoryBytes, 400'000'000u);
}

// A TIFF of inks is shown in its colours: cyan ink alone is cyan light.
TEST(DecoderProcess, CmykPicturesShowTheirColours)
{
    testsupport::GlContext context;
    FIBITMAP* inks = FreeImage_Allocate(4, 2, 32);
    for (unsigned y = 0; y < 2; ++y) {
        BYTE* row = FreeImage_GetScanLine(inks, int(y));
        for (unsigned x = 0; x < 4; ++x)
            row[x * 4] = 255, row[x * 4 + 1] = 0, row[x * 4 + 2] = 0, row[x * 4 + 3] = 0;
    }
    const std::string path = testsupport::tempPath("cyan.tif").string();
    ASSERT_TRUE(FreeImage_Save(FIF_TIFF, inks, path.c_str(), TIFF_CMYK | TIFF_NONE));
    FreeImage_Unload(inks);
    TextureLoader loader;
    const std::vector<std::uint8_t> rows = loader.loadImage(path);
    ASSERT_EQ(rows.size(), 2u * 12u);
    for (std::size_t i = 0; i < rows.size(); i += 3)
        EXPECT_EQ((std::array{rows[i], rows[i + 1], rows[i + 2]}), (std::array<std::uint8_t, 3>{0, 255, 255}))
            << i;
}
