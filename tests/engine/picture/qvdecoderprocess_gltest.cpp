// Pictures decoded apart: a decoder's crash, its time and its memory stay the
// picture's, whichever part of the program asked for it.
#include "tempfiles.h"
#include "glcontext.h"
#include "imagefixtures.h"
#include "engine/picture/qvdecoderprocess.h"
#include "engine/gl/qvloadimage.h"
#include "engine/model/qvmodel.h"
#include "engine/platform/qvwindow.h"

#include <gtest/gtest.h>
#include <fmt/core.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace imagefixtures;

// A valid TIFF of one uncompressed strip, bytes 0x5A, that FreeImage 3.18
// cannot take: one kept in planes trips an assertion in its pixel copy; a
// palette of four samples runs its copy out of the bitmap.
Bytes faultyTiff(std::uint64_t side, std::uint64_t bits, std::uint64_t samples, std::uint64_t planes)
{
    const std::uint64_t rowBytes = planes == 2 ? (side * bits + 7) / 8 : (side * bits * samples + 7) / 8;
    const std::uint64_t stripBytes = rowBytes * side * (planes == 2 ? samples : 1);
    std::vector<TiffEntry> fields{{258, 3, {bits}}, {277, 3, {samples}}, {284, 3, {planes}}};
    if (bits > 1) {
        fields.push_back({262, 3, {3}});  // a palette
        fields.push_back({320, 3, {}});
        for (std::uint64_t i = 0; i < 3u << bits; ++i) fields.back().values.push_back(i * 4099);
    }
    return tiff(side, side, 1, Bytes(stripBytes, 0x5A), stripBytes, 0, fields);
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
        EXPECT_FALSE(decodeIcon(c.file, error));
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
// A TIFF of inks is shown in its colours: cyan ink alone is cyan light.
TEST(DecoderProcess, CmykPicturesShowTheirColours)
{
    Bytes cyan;
    for (int pixel = 0; pixel < 8; ++pixel) cyan.insert(cyan.end(), {255, 0, 0, 0});
    const std::vector<TiffEntry> inks{{258, 3, {8, 8, 8, 8}}, {262, 3, {5}}, {277, 3, {4}}};
    TextureLoader loader;
    const std::vector<std::uint8_t> rows =
        loader.loadImage(writeBytes("cyan.tif", tiff(4, 2, 1, cyan, 32, 0, inks)));
    ASSERT_EQ(rows.size(), 2u * 12u);
    for (std::size_t i = 0; i < rows.size(); i += 3)
        EXPECT_EQ((std::array{rows[i], rows[i + 1], rows[i + 2]}), (std::array<std::uint8_t, 3>{0, 255, 255}))
            << i;
}
