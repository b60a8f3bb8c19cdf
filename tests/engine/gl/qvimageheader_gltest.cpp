// Picture sizes read from headers, held against the size FreeImage decodes.
#include "engine/gl/qvimageheader.h"

#include <gtest/gtest.h>
#include <fmt/core.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}
// Appends fields of `size` bytes each.
void putFields(Bytes& bytes, int size, std::initializer_list<std::uint64_t> values, bool littleEndian = false)
{
    for (const std::uint64_t value : values) {
        for (int i = 0; i < size; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * (littleEndian ? i : size - 1 - i))));
        }
    }
}
// The bytes with fields of `size` bytes each written over them from `at` on.
Bytes patched(Bytes bytes, std::size_t at, int size, std::initializer_list<std::uint64_t> values,
              bool littleEndian = false)
{
    Bytes fields;
    putFields(fields, size, values, littleEndian);
    std::copy(fields.begin(), fields.end(), bytes.begin() + at);
    return bytes;
}
std::size_t find(const Bytes& bytes, std::string_view text)
{
    const auto sameByte = [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); };
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end(), sameByte) - bytes.begin();
}
// Pixel bytes; a claimed picture too large to hold keeps only their start.
void putPixels(Bytes& bytes, std::uint64_t count)
{
    bytes.resize(bytes.size() + std::min<std::uint64_t>(count, 4096), 0x5A);
}

// A picture saved by FreeImage; of random pixels when `noise` is set.
Bytes writtenByFreeImage(FREE_IMAGE_FORMAT format, int width, int height, int bitsPerPixel, int flags = 0,
                         FREE_IMAGE_TYPE type = FIT_BITMAP, bool noise = false)
{
    FIBITMAP* bitmap = type == FIT_BITMAP ? FreeImage_Allocate(width, height, bitsPerPixel)
                                          : FreeImage_AllocateT(type, width, height);
    std::mt19937 random(11);
    for (int y = 0; noise && y < height; ++y)
        for (unsigned x = 0; x < FreeImage_GetPitch(bitmap); ++x)
            FreeImage_GetBits(bitmap)[y * FreeImage_GetPitch(bitmap) + x] = BYTE(random());
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(format, bitmap, memory, flags);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    Bytes bytes(data, data + size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(bitmap);
    return bytes;
}

// Uncompressed 32-bit RGBA.
Bytes dds(std::uint64_t width, std::uint64_t height)
{
    Bytes bytes;
    put(bytes, "DDS ");
    putFields(bytes, 4, {124, 0x100F, height, width, width * 4}, true);
    bytes.resize(76, 0);
    putFields(bytes, 4, {32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0x1000}, true);
    bytes.resize(128, 0);
    putPixels(bytes, width * height * 4);
    return bytes;
}

// Uncompressed 8-bit grey.
Bytes sgi(std::uint64_t width, std::uint64_t height, int dimension = 2)
{
    Bytes bytes;
    putFields(bytes, 2, {474, 0x0001, std::uint64_t(dimension), width, height, 1});
    putFields(bytes, 4, {0, 255});
    bytes.resize(512, 0);
    putPixels(bytes, width * height);
    return bytes;
}

// 8-bit grey of run-length rows, each of `rowBytes` bytes, the first of them `row`.
Bytes sgiRuns(std::uint64_t width, std::uint64_t height, std::uint64_t rowBytes, const Bytes& row)
{
    Bytes bytes;
    putFields(bytes, 2, {474, 0x0101, 2, width, height, 1});
    putFields(bytes, 4, {0, 255});
    bytes.resize(512, 0);
    const std::uint64_t rows = 512 + 8 * height;
    for (std::uint64_t y = 0; y < height; ++y) putFields(bytes, 4, {rows + y * rowBytes});
    for (std::uint64_t y = 0; y < height; ++y) putFields(bytes, 4, {rowBytes});
    for (std::uint64_t y = 0; y < height; ++y) {
        bytes.insert(bytes.end(), row.begin(), row.end());
        bytes.resize(rows + (y + 1) * rowBytes, 0);
    }
    return bytes;
}

// One bit plane, uncompressed.
Bytes ilbm(std::uint64_t width, std::uint64_t height)
{
    Bytes form;
    put(form, "ILBMBMHD");
    putFields(form, 4, {20});
    putFields(form, 2, {width, height, 0, 0, 0x0100, 0, 0, 0x0101, width, height});
    put(form, "BODY");
    putFields(form, 4, {(width + 15) / 16 * 2 * height});
    putPixels(form, (width + 15) / 16 * 2 * height);
    Bytes bytes;
    put(bytes, "FORM");
    putFields(bytes, 4, {form.size()});
    bytes.insert(bytes.end(), form.begin(), form.end());
    return bytes;
}

void putPngChunk(Bytes& bytes, std::string_view type, const Bytes& data)
{
    putFields(bytes, 4, {data.size()});
    const std::size_t start = bytes.size();
    put(bytes, type);
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint32_t crc = ~0u;
    for (std::size_t i = start; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    putFields(bytes, 4, {~crc});
}

// A 1x1 frame holding the PNG's chunks.
Bytes mng(const Bytes& png)
{
    Bytes bytes;
    put(bytes, "\x8aMNG\r\n\x1a\n");
    Bytes header;
    putFields(header, 4, {1, 1, 1, 0, 0, 0, 1});
    putPngChunk(bytes, "MHDR", header);
    bytes.insert(bytes.end(), png.begin() + 8, png.end());
    putPngChunk(bytes, "MEND", {});
    return bytes;
}

Bytes xbm(std::uint64_t width, std::uint64_t height)
{
    Bytes bytes;
    put(bytes, "#define pic_width " + std::to_string(width) + "\n#define pic_height " +
                   std::to_string(height) + "\n#define pic_x_hot 0\nstatic char pic_bits[] = {\n");
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>((width + 7) / 8 * height, 4096); ++i) {
        put(bytes, "0x5a, ");
    }
    put(bytes, "};\n");
    return bytes;
}

// Version 2: a 1x1 frame, the header, a clip region, then one 8-bit packed
// bits map of the given bounds (rows under 8 bytes are stored unpacked).
Bytes pict(std::uint64_t width, std::uint64_t height)
{
    Bytes bytes(512, 0);
    putFields(bytes, 2, {0, 0, 0, 1, 1, 0x0011, 0x02FF, 0x0C00, 0xFFFE});
    bytes.resize(bytes.size() + 22, 0);
    const std::uint64_t rowBytes = (width + 1) & ~1ull;
    putFields(bytes, 2, {0x0001, 10, 0, 0, height, width, 0x0098, 0x8000 | rowBytes, 0, 0, height, width});
    // The pixel map's rest, then a two-colour table.
    putFields(bytes, 2, {0, 0, 0, 0, 0x48, 0, 0x48, 0, 0, 8, 1, 8, 0, 0, 0, 0, 0, 0});
    putFields(bytes, 2, {0, 0, 0, 1, 0, 0, 0, 0, 1, 0xFFFF, 0xFFFF, 0xFFFF});
    putFields(bytes, 2, {0, 0, height, width, 0, 0, height, width, 0});  // source, destination, copy mode
    putPixels(bytes, rowBytes * height);
    bytes.resize((bytes.size() + 1) & ~std::size_t(1), 0);
    putFields(bytes, 2, {0x00FF});
    return bytes;
}

// A TIFF field; the values of StripOffsets or TileOffsets count from
// `atPixels`, which stands for where the pixels start.
struct TiffEntry {
    std::uint64_t id;
    std::uint64_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL, 11 FLOAT
    std::vector<std::uint64_t> values;
};
constexpr std::uint64_t atPixels = 1ull << 40;

// A little-endian TIFF of one directory: its fields in order of their tags,
// the values too long for an entry after it, then the pixels.
Bytes tiffOf(std::vector<TiffEntry> entries, const Bytes& pixels)
{
    std::ranges::sort(entries, {}, &TiffEntry::id);
    const auto valueBytes = [](const TiffEntry& e) {
        return e.values.size() * (e.type == 3 ? 2 : e.type == 5 ? 8 : 4);
    };
    std::uint64_t pixelsStart = 8 + 2 + 12 * entries.size() + 4;
    for (const TiffEntry& e : entries) pixelsStart += valueBytes(e) > 4 ? valueBytes(e) : 0;
    Bytes bytes;
    put(bytes, "II*");
    putFields(bytes, 1, {0});
    putFields(bytes, 4, {8}, true);
    putFields(bytes, 2, {entries.size()}, true);
    Bytes outside;
    for (const TiffEntry& e : entries) {
        putFields(bytes, 2, {e.id, e.type}, true);
        putFields(bytes, 4, {e.values.size()}, true);
        Bytes values;
        for (const std::uint64_t v : e.values) {
            const std::uint64_t value = v >= atPixels ? v - atPixels + pixelsStart : v;
            putFields(values, e.type == 3 ? 2 : 4, {value}, true);
            if (e.type == 5) putFields(values, 4, {1}, true);
        }
        if (values.size() > 4) {
            putFields(bytes, 4, {8 + 2 + 12 * entries.size() + 4 + outside.size()}, true);
            outside.insert(outside.end(), values.begin(), values.end());
        } else {
            values.resize(4, 0);
            bytes.insert(bytes.end(), values.begin(), values.end());
        }
    }
    putFields(bytes, 4, {0}, true);  // no next directory
    bytes.insert(bytes.end(), outside.begin(), outside.end());
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return bytes;
}

// An 8-bit grey TIFF of one strip, its pixels after the directory; `changes`
// replace fields of the same tag, or remove them when they have no values.
Bytes tiff(std::uint64_t width, std::uint64_t height, std::uint64_t compression, const Bytes& pixels,
           std::uint64_t stripBytes, std::uint64_t rowsPerStrip = 0,
           const std::vector<TiffEntry>& changes = {})
{
    std::vector<TiffEntry> entries{{256, 4, {width}},     {257, 4, {height}},
                                   {258, 3, {8}},         {259, 3, {compression}},
                                   {262, 3, {1}},         {273, 4, {atPixels}},
                                   {277, 3, {1}},         {278, 4, {rowsPerStrip ? rowsPerStrip : height}},
                                   {279, 4, {stripBytes}}};
    for (const TiffEntry& change : changes) {
        std::erase_if(entries, [&](const TiffEntry& e) { return e.id == change.id; });
        if (!change.values.empty()) entries.push_back(change);
    }
    return tiffOf(entries, pixels);
}

// A JPEG 2000 codestream of one tile, 8-bit components and no wavelet levels,
// whose packets are all empty: a valid picture of mid grey in a few bytes.
Bytes j2k(std::uint64_t width, std::uint64_t height, std::uint64_t components, std::uint64_t left = 0)
{
    Bytes bytes;
    putFields(bytes, 2, {0xFF4F, 0xFF51, 38 + 3 * components, 0});
    putFields(bytes, 4, {width, height, left, 0, width, height, 0, 0});
    putFields(bytes, 2, {components});
    for (std::uint64_t i = 0; i < components; ++i) putFields(bytes, 1, {7, 1, 1});
    putFields(bytes, 2, {0xFF52, 12});
    putFields(bytes, 1, {0, 0, 0, 1, 0, 0, 4, 4, 0, 1});  // one layer, 64x64 code-blocks, reversible
    putFields(bytes, 2, {0xFF5C, 4});
    putFields(bytes, 1, {0x40, 0x40});
    putFields(bytes, 2, {0xFF90, 10, 0});
    putFields(bytes, 4, {12 + 2 + components});
    putFields(bytes, 1, {0, 1});
    putFields(bytes, 2, {0xFF93});
    bytes.resize(bytes.size() + components, 0);  // an empty packet for each component
    putFields(bytes, 2, {0xFFD9});
    return bytes;
}

// Markers and their segments, as JPEG writes them.
void putSegment(Bytes& bytes, std::uint64_t marker, std::initializer_list<std::uint64_t> fields)
{
    putFields(bytes, 2, {0xFF00 | marker, fields.size() + 2});
    putFields(bytes, 1, fields);
}
// A JPEG frame of components sampled (h, v) each, whose quantisation tables
// are all ones, up to its scans.
Bytes jpegFrame(std::uint64_t frameMarker, std::uint64_t width, std::uint64_t height,
                std::initializer_list<std::pair<int, int>> sampling)
{
    Bytes bytes;
    putFields(bytes, 2, {0xFFD8, 0xFFDB, 67});
    putFields(bytes, 1, {0});
    bytes.resize(bytes.size() + 64, 1);
    putFields(bytes, 2, {0xFF00 | frameMarker, 8 + 3 * sampling.size()});
    putFields(bytes, 1, {8});
    putFields(bytes, 2, {height, width});
    putFields(bytes, 1, {sampling.size()});
    std::uint64_t id = 1;
    for (const auto& [h, v] : sampling) putFields(bytes, 1, {id++, std::uint64_t(h * 16 + v), 0});
    return bytes;
}

Bytes cut(Bytes bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

struct HeaderCase {
    const char* name;
    FREE_IMAGE_FORMAT format;
    Bytes file;
    QvImageSize size;
    bool decodes;             // a real file: FreeImage decodes it to `size`
    std::size_t headerBytes;  // how much of the file gives the size; every shorter start of it gives nothing
};

}  // namespace

TEST(ImageHeader, GivesTheSizeFreeImageDecodesOrNothingWhenCutShort)
{
    const Bytes png = writtenByFreeImage(FIF_PNG, 2, 3, 24);
    Bytes koala{0x00, 0x60};
    putPixels(koala, 10001);
    const std::vector<HeaderCase> cases{
        {"dds", FIF_DDS, dds(2, 3), {2, 3}, true, 20},
        {"iff", FIF_IFF, ilbm(2, 3), {2, 3}, true, 24},
        {"mng", FIF_MNG, mng(png), {2, 3}, true, 64},
        {"wbmp", FIF_WBMP, writtenByFreeImage(FIF_WBMP, 2, 3, 1), {2, 3}, true, 4},
        {"wbmp with a parameter",
         FIF_WBMP,
         {0, 0x80, 0x71, 'n', 'a', 'm', 'e', 'n', 'a', 'm', 'v', 2, 3, 0, 0, 0},
         {2, 3},
         true,
         13},
        {"xbm", FIF_XBM, xbm(2, 3), {2, 3}, true, find(xbm(2, 3), "static") + 6},
        {"pict", FIF_PICT, pict(2, 3), {2, 3}, true, 576},
        {"koala", FIF_KOALA, koala, {320, 200}, true, 0},
        // FreeImage reads any file as one (a cut one from memory it never filled).
        {"koala cut short", FIF_KOALA, cut(koala, 100), {320, 200}, false, 0},
        // Claims too large to decode must still be read, for the loader to refuse them.
        {"dds claim", FIF_DDS, dds(20000, 30000), {20000, 30000}, false, 0},
        {"iff claim", FIF_IFF, ilbm(20000, 30000), {20000, 30000}, false, 0},
        {"mng claim", FIF_MNG, mng(patched(png, 16, 4, {20000, 30000})), {20000, 30000}, false, 0},
        {"wbmp claim", FIF_WBMP, {0, 0, 0x81, 0x9C, 0x20, 0x81, 0xEA, 0x30}, {20000, 30000}, false, 0},
        {"xbm claim", FIF_XBM, xbm(20000, 30000), {20000, 30000}, false, 0},
        {"pict claim", FIF_PICT, pict(20000, 30000), {20000, 30000}, false, 0},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QvHeaderReading reading = qvReadHeader(c.format, c.file);
        ASSERT_TRUE(reading.size.has_value());
        EXPECT_EQ(reading.size->width, c.size.width);
        EXPECT_EQ(reading.size->height, c.size.height);
        EXPECT_EQ(reading.problem, "");
        if (c.decodes) {
            FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(c.file.data()), DWORD(c.file.size()));
            FIBITMAP* bitmap = FreeImage_LoadFromMemory(c.format, memory, 0);
            ASSERT_NE(bitmap, nullptr);
            EXPECT_EQ(FreeImage_GetWidth(bitmap), c.size.width);
            EXPECT_EQ(FreeImage_GetHeight(bitmap), c.size.height);
            FreeImage_Unload(bitmap);
            FreeImage_CloseMemory(memory);
        }
        if (c.headerBytes > 0) {
            const std::optional<QvImageSize> header = qvReadHeader(c.format, cut(c.file, c.headerBytes)).size;
            EXPECT_TRUE(header && header->width == c.size.width && header->height == c.size.height);
        }
        for (std::size_t shorter = 0; shorter < c.headerBytes; ++shorter) {
            const QvHeaderReading cutShort = qvReadHeader(c.format, cut(c.file, shorter));
            EXPECT_TRUE(!cutShort.size && cutShort.problem.empty()) << "cut to " << shorter;
        }
    }
}

// Every format decoded from what a file's content alone claims has its header
// read in full: real files give the size FreeImage decodes and no problem,
// and where every byte of a plain layout is needed, no start of the file
// passes; files that cannot hold what they claim are refused with the reason.
TEST(ImageHeader, TrustedFormatsAreHeldToWhatTheirFilesCanHold)
{
    struct Real {
        const char* name;
        FREE_IMAGE_FORMAT format;
        Bytes file;
        bool everyCutRefused;
    };
    const auto fi = [](FREE_IMAGE_FORMAT format, int bits, int flags = 0, FREE_IMAGE_TYPE type = FIT_BITMAP) {
        return writtenByFreeImage(format, 40, 3, bits, flags, type);
    };
    const std::vector<TiffEntry> ycbcr{{258, 3, {8, 8, 8}}, {262, 3, {6}}, {277, 3, {3}}};
    const auto text = [](std::string_view bytes) { return Bytes(bytes.begin(), bytes.end()); };
    const auto withJunk = [](Bytes bytes) {
        bytes.resize(bytes.size() + 20, 0xFF);
        return bytes;
    };
    // A 13x9 JPEG behind `count` empty APP1 segments.
    const auto behindEmptySegments = [](std::size_t count) {
        const Bytes small = writtenByFreeImage(FIF_JPEG, 13, 9, 24);
        Bytes bytes{0xFF, 0xD8};
        for (std::size_t i = 0; i < count; ++i) putFields(bytes, 2, {0xFFE1, 2});
        bytes.insert(bytes.end(), small.begin() + 2, small.end());
        return bytes;
    };
    // A Radiance file of flat rows, a comment line after its first.
    const auto hdrFile = [](std::size_t commentLength, std::string_view resolution, std::size_t pixelBytes) {
        const std::string header = "#?RADIANCE\n#" + std::string(commentLength - 1, 'c') +
                                   "\nFORMAT=32-bit_rle_rgbe\n\n" + std::string(resolution) + "\n";
        Bytes bytes(header.begin(), header.end());
        bytes.resize(bytes.size() + pixelBytes, 0x41);
        return bytes;
    };
    // A DC scan of all three components, then an AC scan of each, all coded in no bytes.
    Bytes arithmeticJpeg = jpegFrame(0xCA, 4000, 3000, {{2, 2}, {1, 1}, {1, 1}});
    putSegment(arithmeticJpeg, 0xDA, {3, 1, 0, 2, 0, 3, 0, 0, 0, 0});
    for (std::uint64_t component = 1; component <= 3; ++component)
        putSegment(arithmeticJpeg, 0xDA, {1, component, 0, 1, 63, 0});
    putFields(arithmeticJpeg, 2, {0xFFD9});
    const std::vector<Real> reals{
        {"bmp", FIF_BMP, fi(FIF_BMP, 24), true},
        {"bmp with a palette", FIF_BMP, fi(FIF_BMP, 8), true},
        {"gif", FIF_GIF, fi(FIF_GIF, 8), false},
        {"gif image beyond its screen", FIF_GIF, patched(fi(FIF_GIF, 8), 6, 2, {1, 1}, true), false},
        {"gif image on a screen of 3000x2000", FIF_GIF,
         patched(writtenByFreeImage(FIF_GIF, 64, 64, 8), 6, 2, {3000, 2000}, true), false},
        {"hdr of run-length rows", FIF_HDR, fi(FIF_HDR, 0, 0, FIT_RGBF), false},
        {"hdr of flat rows", FIF_HDR, writtenByFreeImage(FIF_HDR, 5, 3, 0, 0, FIT_RGBF), true},
        {"hdr of a comment of 128 characters", FIF_HDR, hdrFile(128, "-Y 3 +X 5", 60), true},
        {"hdr of a comment of 255 characters", FIF_HDR, hdrFile(255, "-Y 3 +X 5", 60), true},
        {"hdr whose lines are +X and +Y", FIF_HDR, hdrFile(1, "+X 5 +Y 2", 40), true},
        {"hdr of tight and tab blanks", FIF_HDR, hdrFile(1, "-Y3\t+X +5 and more", 60), true},
        {"jp2", FIF_JP2, writtenByFreeImage(FIF_JP2, 32, 32, 24), true},
        {"j2k with an image offset", FIF_J2K, patched(writtenByFreeImage(FIF_J2K, 32, 32, 24), 16, 4, {4}),
         false},
        {"jpeg", FIF_JPEG, fi(FIF_JPEG, 24), false},
        {"progressive jpeg", FIF_JPEG, fi(FIF_JPEG, 24, JPEG_PROGRESSIVE), false},
        {"jpeg of random pixels", FIF_JPEG,
         writtenByFreeImage(FIF_JPEG, 64, 48, 24, JPEG_QUALITYSUPERB, FIT_BITMAP, true), false},
        {"jpeg behind 1000 empty segments", FIF_JPEG, behindEmptySegments(1000), false},
        {"raw pbm", FIF_PBMRAW, fi(FIF_PBMRAW, 1), true},
        {"raw ppm", FIF_PPMRAW, fi(FIF_PPMRAW, 24), true},
        {"plain ppm", FIF_PPM, fi(FIF_PPM, 24, 1), false},
        {"pgm whose width FreeImage reads past a minus",
         FIF_PGMRAW,
         {'P', '5', '\n', '-', '1', ' ', '1', '\n', '2', '5', '5', '\n', 7},
         true},
        {"pfm", FIF_PFM, fi(FIF_PFM, 0, 0, FIT_RGBF), true},
        {"interlaced 16-bit grey png", FIF_PNG, fi(FIF_PNG, 0, PNG_INTERLACED, FIT_UINT16), false},
        {"sgi", FIF_SGI, sgi(40, 3), true},
        {"sgi of one dimension", FIF_SGI, sgi(40, 3, 1), false},
        {"sgi of run-length rows", FIF_SGI, sgiRuns(40, 3, 3, {0x28, 0x80, 0}), true},
        {"pgm of comments holding digits", FIF_PGMRAW,
         text("P5\n# 99 88\n3 # 77 66\n2\n# 5\n255\n" + std::string(6, 'a')), true},
        {"png with bytes after its end", FIF_PNG, withJunk(fi(FIF_PNG, 24)), false},
        // Its resolution fields follow the directory; libtiff reads on without them.
        {"float tiff", FIF_TIFF, fi(FIF_TIFF, 0, TIFF_NONE, FIT_FLOAT), false},
        {"lzw tiff", FIF_TIFF, fi(FIF_TIFF, 24, TIFF_LZW), false},
        {"deflate tiff", FIF_TIFF, fi(FIF_TIFF, 24, TIFF_DEFLATE), false},
        {"packbits tiff", FIF_TIFF, fi(FIF_TIFF, 24, TIFF_PACKBITS), false},
        {"jpeg tiff", FIF_TIFF, fi(FIF_TIFF, 24, TIFF_JPEG), false},
        {"fax tiff", FIF_TIFF, fi(FIF_TIFF, 1, TIFF_CCITTFAX4), false},
        {"hand-made tiff", FIF_TIFF, tiff(3, 2, 1, Bytes(6, 0x80), 6), true},
        {"tiff of a private field past its end", FIF_TIFF,
         patched(tiff(3, 2, 1, Bytes(6, 0x80), 6, 0, {{65001, 4, {1, 2, 3}}}), 8 + 2 + 9 * 12 + 8, 4,
                 {0x70000000}, true),
         false},
        {"tiff of short strip fields", FIF_TIFF,
         tiff(3, 2, 1, Bytes(6, 0x80), 6, 0, {{273, 3, {atPixels}}, {279, 3, {6}}}), true},
        {"tiff without strip byte counts", FIF_TIFF, tiff(3, 2, 1, Bytes(6, 0x80), 6, 0, {{279, 4, {}}}),
         true},
        // Four luma and two chroma samples for each 2x2 block.
        {"ycbcr tiff", FIF_TIFF, tiff(4, 4, 1, Bytes(24, 0x80), 24, 0, ycbcr), true},
        {"ycbcr tiff of 5x3 pixels", FIF_TIFF, tiff(5, 3, 1, Bytes(36, 0x80), 36, 0, ycbcr), true},
        // Codings that pack any number of pixels are held by the pixel bound alone.
        {"j2k of 4000x3000 rgb in 90 bytes", FIF_J2K, j2k(4000, 3000, 3), false},
        {"j2k of five components", FIF_J2K, j2k(32, 16, 5), false},
        {"arithmetic progressive jpeg of 4000x3000", FIF_JPEG, arithmeticJpeg, false},
    };
    for (const Real& real : reals) {
        SCOPED_TRACE(real.name);
        FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(real.file.data()), DWORD(real.file.size()));
        FIBITMAP* bitmap = FreeImage_LoadFromMemory(real.format, memory, 0);
        ASSERT_NE(bitmap, nullptr);
        const QvHeaderReading reading = qvReadHeader(real.format, real.file);
        EXPECT_EQ(reading.problem, "");
        ASSERT_TRUE(reading.size);
        EXPECT_EQ(reading.size->width, FreeImage_GetWidth(bitmap));
        EXPECT_EQ(reading.size->height, FreeImage_GetHeight(bitmap));
        FreeImage_Unload(bitmap);
        FreeImage_CloseMemory(memory);
        for (std::size_t size = 0; real.everyCutRefused && size < real.file.size(); ++size)
            EXPECT_NE(qvReadHeader(real.format, cut(real.file, size)).problem, "") << "cut to " << size;
    }

    struct Claim {
        const char* name;
        FREE_IMAGE_FORMAT format;
        Bytes file;
        QvImageSize size;  // 0 x 0: none read
        std::string problem;
    };
    const std::string digits(30, '9');
    const std::string hdr = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n";
    const Bytes png = fi(FIF_PNG, 24);
    const std::size_t imageData = find(png, "IDAT");
    const Bytes jpeg = fi(FIF_JPEG, 24);
    const std::size_t scan = find(jpeg, "\xFF\xDA");
    const Bytes jpegHeaders = patched(cut(jpeg, scan + 2 + (jpeg[scan + 2] << 8 | jpeg[scan + 3])),
                                      find(jpeg, "\xFF\xC0") + 5, 2, {3000, 4000});
    // 4000x3000 of 2x2 luma and two chroma components, each block 8x8 pixels.
    const std::uint64_t lumaBlocks = 4000 / 8 * (3000 / 8), chromaBlocks = 2000 / 8 * ((1500 + 7) / 8);
    const auto frame = [](std::uint64_t marker) {
        return jpegFrame(marker, 4000, 3000, {{2, 2}, {1, 1}, {1, 1}});
    };
    Bytes sequential = frame(0xC0);
    putSegment(sequential, 0xDA, {3, 1, 0, 2, 0x11, 3, 0x11, 0, 63, 0});
    sequential.resize(sequential.size() + 20000, 0x55);
    putFields(sequential, 2, {0xFFD9});
    Bytes progressiveDc = frame(0xC2);
    putSegment(progressiveDc, 0xDA, {3, 1, 0, 2, 0, 3, 0, 0, 0, 0});
    progressiveDc.resize(progressiveDc.size() + 20000, 0x55);
    putFields(progressiveDc, 2, {0xFFD9});
    Bytes emptyAcScans = frame(0xC2);
    putSegment(emptyAcScans, 0xDA, {3, 1, 0, 2, 0, 3, 0, 0, 0, 0});
    emptyAcScans.resize(emptyAcScans.size() + 40000, 0x55);
    for (std::uint64_t component = 1; component <= 3; ++component)
        putSegment(emptyAcScans, 0xDA, {1, component, 0, 1, 63, 0});
    putFields(emptyAcScans, 2, {0xFFD9});
    // 7680x4320 of 4x4 luma sampling: `count` AC scans of one component.
    const std::uint64_t bigLumaBlocks = 7680 / 8 * (4320 / 8),
                        bigBlocks = bigLumaBlocks + 2 * (1920 / 8 * (1080 / 8));
    const std::uint64_t overScans = bigBlocks * 64 / bigLumaBlocks + 1;  // the first past 64 visits a block
    const auto manyScans = [](std::uint64_t component, int count) {
        Bytes bytes = jpegFrame(0xC2, 7680, 4320, {{4, 4}, {1, 1}, {1, 1}});
        for (int i = 0; i < count; ++i) putSegment(bytes, 0xDA, {1, component, 0, 1, 63, 0});
        putFields(bytes, 2, {0xFFD9});
        return bytes;
    };
    Bytes arithmetic = jpegHeaders;
    arithmetic[find(jpeg, "\xFF\xC0") + 1] = 0xC9;
    const Bytes gif = fi(FIF_GIF, 8);
    // The image descriptor, its local colour table, then the LZW code size.
    const std::size_t descriptor = find(gif, ",");
    const std::size_t codeSize =
        descriptor + 10 + (gif[descriptor + 9] & 0x80 ? 3u << ((gif[descriptor + 9] & 7) + 1) : 0);
    const Bytes j2k = writtenByFreeImage(FIF_J2K, 32, 32, 24);
    const Bytes jp2 = writtenByFreeImage(FIF_JP2, 32, 32, 24);
    Bytes sgiRows = sgi(40, 3);
    sgiRows[2] = 1;  // run-length rows, the first one's start far beyond the file
    sgiRows = patched(sgiRows, 512, 4, {999999, 520, 520, 2, 2, 2});
    const std::vector<Claim> claims{
        {"pbm whose width wraps in FreeImage",
         FIF_PBMRAW,
         text(std::string_view("P4\n4294967295 1\n\0\0\0\0", 20)),
         {4294967295, 1},
         "it is cut short: its pixels end at byte 536870928, the file at byte 20"},
        {"pgm of an endless width",
         FIF_PGMRAW,
         text("P5\n" + digits + " 1\n255\n"),
         {~0ull, 1},
         "it is cut short: its pixels end at byte 18446744073709551615, the file at byte 40"},
        {"pgm of no largest sample",
         FIF_PGMRAW,
         text("P5\n1 1\n0\n\x01"),
         {},
         "its header is damaged: a largest sample of 0"},
        {"pfm cut short",
         FIF_PFM,
         text("PF\n2 2\n-1.0\n" + std::string(47, 'x')),
         {2, 2},
         "it is cut short: its pixels end at byte 60, the file at byte 59"},
        {"hdr of 61 bytes",
         FIF_HDR,
         text(hdr + "-Y 16384 +X 16384\n" + std::string(8, '\2')),
         {16384, 16384},
         "its 16384x16384 pixels cannot come from 8 bytes of run-length data"},
        {"hdr of a line of 256 characters",
         FIF_HDR,
         text(hdr.substr(0, 11) + std::string(256, '#') + hdr.substr(10) + "-Y 1 +X 1\n" +
              std::string(4, 'A')),
         {},
         "its header is damaged: a line longer than 255 characters"},
        {"hdr of a line of 1000 characters",
         FIF_HDR,
         text(hdr + "-Y 1 +X 1" + std::string(991, ' ') + "\n" + std::string(4, 'A')),
         {},
         "its header is damaged: a line longer than 255 characters"},
        {"hdr of a NUL in a comment",
         FIF_HDR,
         text(hdr.substr(0, 11) + std::string("#\0\n", 3) + hdr.substr(11) + "-Y 1 +X 1\n" +
              std::string(4, 'A')),
         {},
         "its header is damaged: a NUL byte in a line"},
        {"hdr of another orientation",
         FIF_HDR,
         text(hdr + "+Y 2 +X 2\n"),
         {},
         "its header is damaged: no \"-Y height +X width\" or \"+X height +Y width\" line"},
        {"hdr of a blank before its resolution",
         FIF_HDR,
         text(hdr + " -Y 2 +X 2\n"),
         {},
         "its header is damaged: no \"-Y height +X width\" or \"+X height +Y width\" line"},
        {"hdr of a negative side",
         FIF_HDR,
         text(hdr + "-Y -2 +X 2\n"),
         {},
         "its header is damaged: no \"-Y height +X width\" or \"+X height +Y width\" line"},
        {"png claim",
         FIF_PNG,
         patched(png, 16, 4, {20000, 30000}),
         {20000, 30000},
         fmt::format("its 20000x30000 pixels cannot come from {} bytes of deflate data",
                     png[imageData - 2] << 8 | png[imageData - 1])},
        {"png chunk past the end",
         FIF_PNG,
         patched(png, imageData - 4, 4, {0x7FFFFFF0}),
         {40, 3},
         fmt::format("its IDAT chunk at byte {} runs past the end of the file (byte {})", imageData - 4,
                     png.size())},
        {"jpeg claim without a scan",
         FIF_JPEG,
         jpegHeaders,
         {4000, 3000},
         fmt::format("its scan 1 of {} blocks cannot come from 0 bytes of Huffman-coded data",
                     lumaBlocks + 2 * chromaBlocks)},
        {"jpeg whose scan holds its luma alone",
         FIF_JPEG,
         sequential,
         {4000, 3000},
         fmt::format("its scan 1 of {} blocks cannot come from 20000 bytes of Huffman-coded data",
                     lumaBlocks + 2 * chromaBlocks)},
        {"progressive jpeg whose dc scan holds its luma alone",
         FIF_JPEG,
         progressiveDc,
         {4000, 3000},
         fmt::format("its scan 1 of {} blocks cannot come from 20000 bytes of Huffman-coded data",
                     lumaBlocks + 2 * chromaBlocks)},
        {"progressive jpeg of empty ac scans", FIF_JPEG, emptyAcScans, {4000, 3000}, ""},
        {"jpeg of 2000 scans",
         FIF_JPEG,
         manyScans(1, 2000),
         {7680, 4320},
         fmt::format("its {} scans go over {} blocks, more than 64 times the {} of its picture", overScans,
                     overScans * bigLumaBlocks, bigBlocks)},
        {"jpeg of 300 scans of one chroma component",
         FIF_JPEG,
         manyScans(2, 300),
         {7680, 4320},
         "it holds more than 256 scans, more than any real picture"},
        {"jpeg behind 80000 empty segments",
         FIF_JPEG,
         behindEmptySegments(80000),
         {},
         "it holds more than 1024 marker segments, more than any real picture"},
        {"jpeg segment past the end",
         FIF_JPEG,
         patched(jpeg, 4, 2, {0xFFF0}),
         {},
         fmt::format("its segment at byte 2 runs past the end of the file (byte {})", jpeg.size())},
        {"arithmetic jpeg, whose coding packs any size", FIF_JPEG, arithmetic, {4000, 3000}, ""},
        {"gif claim",
         FIF_GIF,
         patched(gif, descriptor + 5, 2, {20000, 30000}, true),
         {20000, 30000},
         fmt::format("its 20000x30000 pixels cannot come from {} bytes of LZW data",
                     gif.size() - codeSize - 1)},
        {"gif of 12-bit lzw codes",
         FIF_GIF,
         patched(gif, codeSize, 1, {12}),
         {40, 3},
         "its LZW minimum code size 12 is outside 2 to 8"},
        {"gif of 1-bit lzw codes",
         FIF_GIF,
         patched(gif, codeSize, 1, {1}),
         {40, 3},
         "its LZW minimum code size 1 is outside 2 to 8"},
        {"sgi of run-length rows too short",
         FIF_SGI,
         sgiRuns(1000, 3, 2, {0x7F, 0x80}),
         {1000, 3},
         "its 1000x3 pixels cannot come from 2 bytes of run-length data"},
        {"sgi row past the end",
         FIF_SGI,
         sgiRows,
         {40, 3},
         fmt::format("its row at byte 999999 runs past the end of the file (byte {})", sgiRows.size())},
        {"j2k of one-pixel tiles",
         FIF_J2K,
         patched(j2k, 24, 4, {1, 1}),
         {32, 32},
         fmt::format("its 1024 tiles cannot lie in {} bytes", j2k.size())},
        {"j2k cut short",
         FIF_J2K,
         cut(j2k, j2k.size() - 10),
         {32, 32},
         fmt::format("its tile-part at byte {} runs past the end of the file (byte {})",
                     find(j2k, "\xFF\x90"), j2k.size() - 10)},
        {"jp2 cut short",
         FIF_JP2,
         cut(jp2, jp2.size() - 10),
         {},
         fmt::format("its box at byte {} runs past the end of the file (byte {})", find(jp2, "jp2c") - 4,
                     jp2.size() - 10)},
        {"tiff strip past the end",
         FIF_TIFF,
         tiff(3, 2, 1, Bytes(6, 0x80), 0x80000000),
         {3, 2},
         "its strip 0 at byte 122 runs past the end of the file (byte 128)"},
        {"tiff of several strips without byte counts",
         FIF_TIFF,
         tiff(3, 4, 1, Bytes(12, 0x80), 0, 1,
              {{273, 4, {atPixels, atPixels + 3, atPixels + 6, atPixels + 9}}, {279, 4, {}}}),
         {3, 4},
         "its header is damaged: it does not locate the 4 strips of its picture"},
        {"tiff without byte counts cut short",
         FIF_TIFF,
         tiff(3, 2, 1, Bytes(5, 0x80), 0, 0, {{279, 4, {}}}),
         {3, 2},
         "its 3x2 pixels cannot come from 5 bytes of uncompressed data"},
        {"ycbcr tiff without subsampling cut short",
         FIF_TIFF,
         tiff(4, 4, 1, Bytes(47, 0x80), 47, 0,
              {{258, 3, {8, 8, 8}}, {262, 3, {6}}, {277, 3, {3}}, {530, 3, {1, 1}}}),
         {4, 4},
         "its 4x4 pixels cannot come from 47 bytes of uncompressed data"},
        {"ycbcr tiff cut short",
         FIF_TIFF,
         tiff(4, 4, 1, Bytes(23, 0x80), 23, 0, {{258, 3, {8, 8, 8}}, {262, 3, {6}}, {277, 3, {3}}}),
         {4, 4},
         "its 4x4 pixels cannot come from 23 bytes of uncompressed data"},
        {"tiff of strip offsets as fractions",
         FIF_TIFF,
         tiff(3, 2, 1, Bytes(6, 0x80), 6, 0, {{273, 5, {atPixels}}}),
         {3, 2},
         "its header is damaged: it does not locate the 1 strips of its picture"},
        {"tiff of strip byte counts as floats",
         FIF_TIFF,
         tiff(3, 2, 1, Bytes(6, 0x80), 6, 0, {{279, 11, {0x40C00000}}}),
         {3, 2},
         "its header is damaged: it does not locate the 1 strips of its picture"},
        {"tiff of its bits per sample past its end",
         FIF_TIFF,
         patched(tiff(3, 2, 1, Bytes(6, 0x80), 6, 0, {{258, 3, {8, 8, 8}}}), 8 + 2 + 2 * 12 + 8, 4,
                 {0x70000000}, true),
         {},
         "its field 258 at byte 1879048192 runs past the end of the file (byte 134)"},
        {"deflate tiff claim",
         FIF_TIFF,
         tiff(1000, 1000, 8, Bytes(10, 0x80), 10),
         {1000, 1000},
         "its 1000x1000 pixels cannot come from 10 bytes of deflate data"},
        {"packbits tiff claim",
         FIF_TIFF,
         tiff(1000, 1000, 32773, Bytes(100, 0x80), 100),
         {1000, 1000},
         "its 1000x1000 pixels cannot come from 100 bytes of PackBits data"},
        {"fax tiff claim",
         FIF_TIFF,
         tiff(1000, 1000, 4, Bytes(100, 0x80), 100, 0, {{258, 3, {1}}}),
         {1000, 1000},
         "its 1000x1000 pixels cannot come from 100 bytes of fax data"},
        {"tiff of too few strips",
         FIF_TIFF,
         tiff(3, 2, 1, Bytes(6, 0x80), 6, 1),
         {3, 2},
         "its header is damaged: it does not locate the 2 strips of its picture"},
        {"lzw tiff claim",
         FIF_TIFF,
         tiff(1000, 1000, 5, Bytes(10, 0x80), 10),
         {1000, 1000},
         "its 1000x1000 pixels cannot come from 10 bytes of LZW data"},
        {"zstd tiff of 16-bit rgb",
         FIF_TIFF,
         tiff(7680, 4320, 50000, Bytes(100, 0x80), 100, 0,
              {{258, 3, {16, 16, 16}}, {262, 3, {2}}, {277, 3, {3}}}),
         {7680, 4320},
         ""},
        {"cmyk jpeg tiff",
         FIF_TIFF,
         tiff(7680, 4320, 7, Bytes(100, 0x80), 100, 0,
              {{258, 3, {8, 8, 8, 8}}, {262, 3, {5}}, {277, 3, {4}}}),
         {7680, 4320},
         ""},
        {"float zstd tiff",
         FIF_TIFF,
         tiff(7680, 4320, 50000, Bytes(100, 0x80), 100, 0, {{258, 3, {32}}, {339, 3, {3}}}),
         {7680, 4320},
         ""},
    };
    for (const Claim& claim : claims) {
        SCOPED_TRACE(claim.name);
        const QvHeaderReading reading = qvReadHeader(claim.format, claim.file);
        EXPECT_EQ(reading.problem, claim.problem);
        EXPECT_EQ(reading.fatal, !claim.problem.empty());
        EXPECT_EQ(reading.size.has_value(), claim.size.width != 0);
        EXPECT_EQ(reading.size.value_or(QvImageSize{}).width, claim.size.width);
        EXPECT_EQ(reading.size.value_or(QvImageSize{}).height, claim.size.height);
    }
}

// The decoders trusted with a file named as another format are exactly those
// whose headers are read in full; PCX and DDS decoders make pixels of memory
// never written, so their files are decoded only under their own names.
TEST(ImageHeader, OnlyFormatsReadInFullAreReadByContent)
{
    const std::vector<std::pair<FREE_IMAGE_FORMAT, bool>> formats{
        {FIF_BMP, true},  {FIF_GIF, true},    {FIF_HDR, true},    {FIF_J2K, true},    {FIF_JP2, true},
        {FIF_JPEG, true}, {FIF_PBM, true},    {FIF_PBMRAW, true}, {FIF_PGM, true},    {FIF_PGMRAW, true},
        {FIF_PPM, true},  {FIF_PPMRAW, true}, {FIF_PFM, true},    {FIF_PNG, true},    {FIF_SGI, true},
        {FIF_TIFF, true}, {FIF_PCX, false},   {FIF_DDS, false},   {FIF_TARGA, false}, {FIF_PSD, false},
        {FIF_ICO, false}, {FIF_WEBP, false},  {FIF_IFF, false},   {FIF_XBM, false},   {FIF_UNKNOWN, false},
    };
    for (const auto& [format, byContent] : formats) {
        SCOPED_TRACE(format);
        EXPECT_EQ(qvReadByContent(format), byContent);
        EXPECT_EQ(qvHeaderReadsFully(format), byContent);
    }
}

// A format read in full gives a size or a problem whatever the bytes. A file
// without the format's signature is not of it (not fatal: another format may
// be tried); one with the signature that cannot be the picture is refused.
TEST(ImageHeader, ProblemsAreFatalOnceTheSignatureMatches)
{
    const std::vector<std::pair<FREE_IMAGE_FORMAT, std::string_view>> signatures{
        {FIF_BMP, "BM"},
        {FIF_GIF, "GIF89a"},
        {FIF_HDR, "#?RADIANCE\n"},
        {FIF_J2K, "\xFF\x4F\xFF\x51"},
        {FIF_JP2, std::string_view("\0\0\0\x0CjP  \r\n\x87\n", 12)},
        {FIF_JPEG, "\xFF\xD8"},
        {FIF_PBM, "P1"},
        {FIF_PBMRAW, "P4"},
        {FIF_PGM, "P2"},
        {FIF_PGMRAW, "P5"},
        {FIF_PPM, "P3"},
        {FIF_PPMRAW, "P6"},
        {FIF_PFM, "PF"},
        {FIF_PNG, "\x89PNG\r\n\x1a\n"},
        {FIF_SGI, "\x01\xDA"},
        {FIF_TIFF, std::string_view("II*\0", 4)},
    };
    std::mt19937 random(7);
    Bytes noise(64);
    for (std::uint8_t& byte : noise) byte = std::uint8_t(random());
    for (int f = 0; f < FreeImage_GetFIFCount(); ++f) {
        const auto format = FREE_IMAGE_FORMAT(f);
        if (!qvHeaderReadsFully(format)) continue;
        SCOPED_TRACE(FreeImage_GetFormatFromFIF(format));
        const auto signature =
            std::ranges::find(signatures, format, &std::pair<FREE_IMAGE_FORMAT, std::string_view>::first);
        ASSERT_NE(signature, signatures.end());
        for (const Bytes& other : {Bytes{}, Bytes{'x'}, noise}) {
            const QvHeaderReading reading = qvReadHeader(format, other);
            EXPECT_FALSE(reading.size);
            EXPECT_NE(reading.problem, "");
            EXPECT_FALSE(reading.fatal);
        }
        const QvHeaderReading alone =
            qvReadHeader(format, Bytes(signature->second.begin(), signature->second.end()));
        EXPECT_NE(alone.problem, "");
        EXPECT_TRUE(alone.fatal);
    }

    const Bytes bmp = writtenByFreeImage(FIF_BMP, 40, 3, 24);
    const Bytes png = writtenByFreeImage(FIF_PNG, 40, 3, 24);
    const Bytes jp2 = writtenByFreeImage(FIF_JP2, 32, 32, 24);
    const struct {
        const char* name;
        FREE_IMAGE_FORMAT format;
        Bytes file;
        std::string problem;
    } cuts[]{
        {"bmp cut in its header", FIF_BMP, cut(bmp, 20), "it is cut short in its header"},
        {"png cut in a chunk header", FIF_PNG, cut(png, find(png, "IDAT") - 2),
         fmt::format("it is cut short in the header of its chunk at byte {}", find(png, "IDAT") - 4)},
        {"jp2 whose codestream lacks its signature", FIF_JP2, patched(jp2, find(jp2, "jp2c") + 4, 1, {0}),
         "it is not a JPEG 2000 file"},
    };
    for (const auto& c : cuts) {
        SCOPED_TRACE(c.name);
        const QvHeaderReading reading = qvReadHeader(c.format, c.file);
        EXPECT_EQ(reading.problem, c.problem);
        EXPECT_TRUE(reading.fatal);
    }
}

// The BMP header as the window icon reads it: the fields at their places in
// the Windows and OS/2 headers, the masks after or inside the info header.
TEST(ImageHeader, BmpHeaderFieldsAndMasks)
{
    // A file header and an info header of `infoSize` bytes, then `tail`.
    const auto bmp = [](std::uint32_t infoSize, std::initializer_list<std::uint64_t> info,
                        std::initializer_list<std::uint64_t> tail = {}) {
        Bytes bytes;
        put(bytes, "BM");
        putFields(bytes, 4, {0, 0, 14 + infoSize + 4 * tail.size(), infoSize}, true);
        if (infoSize == 12) {
            putFields(bytes, 2, info, true);
        } else {
            const std::vector<std::uint64_t> fields(info);
            putFields(bytes, 4, {fields[0], fields[1]}, true);
            putFields(bytes, 2, {1, fields[2]}, true);
            for (std::size_t i = 3; i < fields.size(); ++i) putFields(bytes, 4, {fields[i]}, true);
        }
        bytes.resize(14 + infoSize, 0);
        putFields(bytes, 4, tail, true);
        return bytes;
    };
    const Bytes fi = writtenByFreeImage(FIF_BMP, 40, 3, 24);
    const std::uint64_t topFirst = std::uint32_t(-7);
    const std::uint64_t r = 0xFF0000, g = 0xFF00, b = 0xFF, a = 0xFF000000;
    const struct {
        const char* name;
        Bytes file;
        std::optional<QvBmpHeader> header;
    } cases[]{
        {"written by FreeImage", fi, QvBmpHeader{54, 40, 40, 3, 24, 0, 0, {}, false}},
        {"bit fields after the header", bmp(40, {5, topFirst, 32, 3, 140}, {r, g, b, a}),
         QvBmpHeader{70, 40, 5, -7, 32, 3, 140, {r, g, b, 0}, false}},
        {"alpha bit fields after the header", bmp(40, {5, 7, 32, 6, 0}, {r, g, b, a}),
         QvBmpHeader{70, 40, 5, 7, 32, 6, 0, {r, g, b, a}, false}},
        {"bit fields inside a 124-byte header", bmp(124, {5, 7, 16, 3, 0, 0, 0, 0, 0, r, g, b, a}),
         QvBmpHeader{138, 124, 5, 7, 16, 3, 0, {r, g, b, a}, false}},
        {"bit fields inside a 52-byte header", bmp(52, {5, 7, 16, 3, 0, 0, 0, 0, 0, r, g, b}, {a}),
         QvBmpHeader{70, 52, 5, 7, 16, 3, 0, {r, g, b, 0}, false}},
        {"masks cut short", bmp(40, {5, 7, 32, 3, 0}, {r}), QvBmpHeader{58, 40, 5, 7, 32, 3, 0, {}, false}},
        {"os/2", bmp(12, {300, 200, 1, 8}), QvBmpHeader{26, 12, 300, 200, 8, 0, 0, {}, true}},
        {"cut in the fixed fields", cut(fi, 29), std::nullopt},
        {"not a bmp", patched(fi, 1, 1, {'A'}), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto fields = [](const std::optional<QvBmpHeader>& h) {
            return h ? std::optional(std::tuple(h->pixelOffset, h->infoSize, h->width, h->height, h->bitCount,
                                                h->compression, h->imageBytes, h->masks, h->os2))
                     : std::nullopt;
        };
        EXPECT_EQ(fields(qvReadBmpHeader(c.file)), fields(c.header));
    }
}

// A picture of no pixels is refused alike in every format read in full,
// where some decoders would fail only on allocating it.
TEST(ImageHeader, ASideOfZeroIsRefusedInEveryFormat)
{
    const auto text = [](std::string_view bytes) { return Bytes(bytes.begin(), bytes.end()); };
    const Bytes jpeg = writtenByFreeImage(FIF_JPEG, 40, 3, 24);
    const Bytes gif = writtenByFreeImage(FIF_GIF, 40, 3, 8);
    const struct {
        const char* name;
        FREE_IMAGE_FORMAT format;
        Bytes file;
        QvImageSize size;
    } cases[]{
        {"bmp", FIF_BMP, patched(writtenByFreeImage(FIF_BMP, 40, 3, 24), 18, 4, {0}, true), {0, 3}},
        {"gif", FIF_GIF, patched(gif, find(gif, ",") + 5, 2, {0}, true), {0, 3}},
        {"hdr", FIF_HDR, text("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 0 +X 5\n"), {5, 0}},
        {"j2k", FIF_J2K, j2k(32, 16, 3, 32), {0, 16}},
        {"jpeg", FIF_JPEG, patched(jpeg, find(jpeg, "\xFF\xC0") + 7, 2, {0}), {0, 3}},
        {"pgm", FIF_PGMRAW, text("P5\n0 2\n255\n"), {0, 2}},
        {"pfm", FIF_PFM, text("PF\n3 0\n-1.0\n"), {3, 0}},
        {"png", FIF_PNG, patched(writtenByFreeImage(FIF_PNG, 40, 3, 24), 16, 4, {0}), {0, 3}},
        {"sgi", FIF_SGI, sgi(0, 3), {0, 3}},
        {"tiff", FIF_TIFF, tiff(0, 2, 1, Bytes(6, 0x80), 6), {0, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QvHeaderReading reading = qvReadHeader(c.format, c.file);
        EXPECT_EQ(reading.problem,
                  fmt::format("its header is damaged: a picture of {}x{}", c.size.width, c.size.height));
        EXPECT_TRUE(reading.fatal);
        ASSERT_TRUE(reading.size);
        EXPECT_EQ(reading.size->width, c.size.width);
        EXPECT_EQ(reading.size->height, c.size.height);
    }
}
