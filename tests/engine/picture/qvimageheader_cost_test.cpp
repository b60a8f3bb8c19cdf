// Header readings of files of millions of elements (strips, entries, lines,
// opcodes) cost little processor time, whatever the file holds: the six sky
// faces' headers are read in the main program, outside any limit.
#include "imagebytes.h"
#include "engine/picture/qvformattable.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace imagefixtures;

// The processor time a reading may take: a second for a file of 512 MiB, in
// proportion to the file. Unoptimised and sanitised builds run many times
// slower and get that much more.
double allowedSeconds(std::size_t fileBytes)
{
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
    constexpr double slowdown = 1;
#else
    constexpr double slowdown = 50;
#endif
    return slowdown * double(fileBytes) / double(512u << 20);
}

// A little-endian TIFF directory entry of one value, or of `count` values at `at`.
void putEntry(Bytes& bytes, std::uint64_t id, std::uint64_t type, std::uint64_t count, std::uint64_t value)
{
    putFields(bytes, 2, {id, type}, true);
    putFields(bytes, 4, {count, value}, true);
}

// A TIFF of 8-bit grey strips of one row each, `samples` planes of them,
// every strip the same four bytes of deflate data (enough for 4128 pixels).
Bytes tiffOfOneRowStrips(std::uint64_t width, std::uint64_t height, std::uint64_t samples = 1)
{
    const std::uint64_t strips = height * samples;
    constexpr std::uint64_t entries = 9, pixels = 8 + 2 + entries * 12 + 4, offsets = pixels + 4;
    Bytes bytes{'I', 'I', 42, 0};
    putFields(bytes, 4, {8}, true);
    putFields(bytes, 2, {entries}, true);
    putEntry(bytes, 256, 4, 1, width);
    putEntry(bytes, 257, 4, 1, height);
    putEntry(bytes, 258, 3, 1, 8);
    putEntry(bytes, 259, 3, 1, 8);  // deflate
    putEntry(bytes, 273, 3, strips, offsets);
    putEntry(bytes, 277, 3, 1, samples);
    putEntry(bytes, 278, 4, 1, 1);
    putEntry(bytes, 279, 3, strips, offsets + 2 * strips);
    putEntry(bytes, 284, 3, 1, samples > 1 ? 2 : 1);
    putFields(bytes, 4, {0}, true);
    putFields(bytes, 4, {0x78}, true);  // the strips' bytes
    bytes.reserve(bytes.size() + 4 * strips);
    for (std::uint64_t i = 0; i < strips; ++i) putFields(bytes, 2, {pixels}, true);
    for (std::uint64_t i = 0; i < strips; ++i) putFields(bytes, 2, {4}, true);
    return bytes;
}

// A BigTIFF of a 3x2 grey picture whose directory repeats its bits per
// sample `repeats` times; libtiff takes the first.
Bytes bigTiffOfRepeatedFields(std::uint64_t repeats)
{
    Bytes bytes{'I', 'I', 43, 0};
    putFields(bytes, 2, {8, 0}, true);
    putFields(bytes, 8, {24}, true);
    bytes.resize(bytes.size() + 6, 0x80);  // the pixels
    bytes.resize(24, 0);
    putFields(bytes, 8, {4 + repeats}, true);
    const auto entry = [&](std::uint64_t id, std::uint64_t type, std::uint64_t value) {
        putFields(bytes, 2, {id, type}, true);
        putFields(bytes, 8, {1, value}, true);
    };
    entry(256, 4, 3);
    entry(257, 4, 2);
    bytes.reserve(bytes.size() + 20 * repeats + 80);
    for (std::uint64_t i = 0; i < repeats; ++i) entry(258, 3, 8);
    entry(273, 16, 16);
    entry(279, 16, 6);
    putFields(bytes, 8, {0}, true);
    return bytes;
}

Bytes text(const std::string& bytes)
{
    return Bytes(bytes.begin(), bytes.end());
}

// Lines, each of `line`, `count` times.
std::string repeated(const std::string& line, std::size_t count)
{
    std::string lines;
    lines.reserve(line.size() * count);
    for (std::size_t i = 0; i < count; ++i) lines += line;
    return lines;
}

// A version 1 PICT that draws `count` no-ops before a 2x3 bitmap.
Bytes pictBehindNoOps(std::size_t count)
{
    Bytes bytes(512, 0);
    putFields(bytes, 2, {0, 0, 0, 3, 2});
    putFields(bytes, 1, {0x11, 0x01});
    bytes.resize(bytes.size() + count, 0x00);
    putFields(bytes, 1, {0x90});
    putFields(bytes, 2, {2, 0, 0, 3, 2});
    return bytes;
}

struct Costly {
    const char* name;
    FREE_IMAGE_FORMAT format;
    Bytes file;
    std::optional<QvImageSize> size;
    std::string problem;
};

}  // namespace

TEST(ImageHeaderCost, ReadingTakesLittleTimeWhateverTheFileHolds)
{
    const Costly cases[] = {
        // Strips one row high: eight million for a size any picture may have, as many
        // in planes, and a size no picture may have, whose strips are not walked.
        {"tiff of 8388608 strips", FIF_TIFF, tiffOfOneRowStrips(1, 8388608), QvImageSize{1, 8388608}, ""},
        {"tiff of 4096x4096 pixels in 512 planes", FIF_TIFF, tiffOfOneRowStrips(4096, 4096, 512),
         QvImageSize{4096, 4096}, ""},
        {"tiff of more pixels than any picture", FIF_TIFF, tiffOfOneRowStrips(5, 8388608),
         QvImageSize{5, 8388608}, ""},
        {"bigtiff of two million entries", FIF_TIFF, bigTiffOfRepeatedFields(2000000), QvImageSize{3, 2}, ""},
        {"hdr of sixteen million comment lines", FIF_HDR,
         text("#?RADIANCE\n" + repeated("#\n", 16 << 20) + "\n-Y 2 +X 3\n" + std::string(24, 'A')),
         QvImageSize{3, 2}, ""},
        // Size-only readings give up where no real picture goes on: the
        // decoder, under its limits, reads such a file alone.
        {"xbm of 32 million blank lines", FIF_XBM,
         text(std::string(32 << 20, '\n') +
              "#define a_width 2\n#define a_height 3\nstatic char a[] = {0};\n"),
         std::nullopt, ""},
        {"pict of 32 million no-ops", FIF_PICT, pictBehindNoOps(32 << 20), std::nullopt, ""},
        // Each pixel coded on its own (a TGA packet of one, 0 then the pixel).
        {"pcx of 16 million runs", FIF_PCX, pcx(4096, 4096, 1, 128 + (1 << 24)), QvImageSize{4096, 4096}, ""},
        {"tga of 16 million packets", FIF_TARGA, tgaRuns(4096, 4096, 18 + (2 << 24), {0, 0x41}),
         QvImageSize{4096, 4096}, ""},
        {"sun raster of 16 million runs", FIF_RAS, ras(4096, 4096, 8, 2, 32 + (1 << 24)),
         QvImageSize{4096, 4096}, ""},
    };
    for (const Costly& c : cases) {
        SCOPED_TRACE(c.name);
        const std::clock_t start = std::clock();
        const QvHeaderReading reading = qvReadHeader(c.format, c.file);
        const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
        EXPECT_EQ(reading.problem, c.problem);
        EXPECT_EQ(reading.fatal, !c.problem.empty());
        EXPECT_EQ(reading.size.has_value(), c.size.has_value());
        if (c.size && reading.size) {
            EXPECT_EQ(reading.size->width, c.size->width);
            EXPECT_EQ(reading.size->height, c.size->height);
        }
        EXPECT_LT(seconds, allowedSeconds(c.file.size())) << c.file.size() << " bytes";
    }
}
