// Small picture files with known pixels and headers, built by hand or by
// FreeImage: what the header, decoding and texture loader tests read. No GL.
#pragma once

#include "tempfiles.h"
#include <FreeImage.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string_view>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace imagefixtures {

using Bytes = std::vector<std::uint8_t>;

inline void put(Bytes& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}
// Appends fields of `size` bytes each.
inline void putFields(Bytes& bytes, int size, std::initializer_list<std::uint64_t> values,
                      bool littleEndian = false)
{
    for (const std::uint64_t value : values) {
        for (int i = 0; i < size; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * (littleEndian ? i : size - 1 - i))));
        }
    }
}
// A TIFF field; the values of StripOffsets or TileOffsets count from
// `atPixels`, which stands for where the pixels start.
struct TiffEntry {
    std::uint64_t id;
    std::uint64_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL, 11 FLOAT
    std::vector<std::uint64_t> values;
};
inline constexpr std::uint64_t atPixels = 1ull << 40;

// A little-endian TIFF of one directory: its fields in order of their tags,
// the values too long for an entry after it, then the pixels.
inline Bytes tiffOf(std::vector<TiffEntry> entries, const Bytes& pixels)
{
    std::ranges::sort(entries, {}, &TiffEntry::id);
    const auto valueBytes = [](const TiffEntry& e) {
        return e.values.size() * (e.type == 3 ? 2 : e.type == 5 ? 8 : 4);
    };
    std::uint64_t pixelsStart = 8 + 2 + 12 * entries.size() + 4;
    for (const TiffEntry& e : entries) pixelsStart += valueBytes(e) > 4 ? valueBytes(e) : 0;
    Bytes bytes{'I', 'I', 42, 0};
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
inline Bytes tiff(std::uint64_t width, std::uint64_t height, std::uint64_t compression, const Bytes& pixels,
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

// Writes bytes to a temporary file of that name; its path.
inline std::string writeBytes(const std::string& name, const Bytes& bytes)
{
    const std::string path = testsupport::tempPath(name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    return path;
}

// The colour of pixel (x, y), y counted from the top of the picture; every
// pixel differs from its neighbours.
inline std::array<std::uint8_t, 3> colourAt(int x, int y, int salt = 0)
{
    return {static_cast<std::uint8_t>(40 * x + 7 + salt), static_cast<std::uint8_t>(50 * y + 3),
            static_cast<std::uint8_t>(200 - 10 * x - 20 * y)};
}

// Writes a 24-bit picture of colourAt values in `format` and returns its path.
inline std::string writePicture(FREE_IMAGE_FORMAT format, const std::string& name, int width, int height,
                                int salt = 0)
{
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = colourAt(x, y, salt);
            RGBQUAD quad{c[2], c[1], c[0], 0};
            FreeImage_SetPixelColor(bitmap, x, height - 1 - y, &quad);  // FreeImage: bottom-up
        }
    }
    const auto path = testsupport::tempPath(name).string();
    FreeImage_Save(format, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    return path;
}

// Writes a lossless picture of colourAt values and returns its path.
inline std::string writePng(const std::string& name, int width, int height, int salt = 0)
{
    return writePicture(FIF_PNG, name, width, height, salt);
}

// The colourAt picture as a GIF (one palette entry a pixel, so every colour
// survives); at most 256 pixels.
inline std::string writeGif(const std::string& name, int width, int height)
{
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 8);
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = colourAt(x, y);
            BYTE index = static_cast<BYTE>(y * width + x);
            palette[index] = RGBQUAD{c[2], c[1], c[0], 0};
            FreeImage_SetPixelIndex(bitmap, x, height - 1 - y, &index);
        }
    }
    const auto path = testsupport::tempPath(name).string();
    FreeImage_Save(FIF_GIF, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    return path;
}

// An uncompressed 24-bit DDS of colourAt pixels (top row first, blue, green,
// red), built by hand; the reader takes widths and heights in steps of 4.
// Without pixels, the header alone.
inline std::string writeDds(const std::string& name, std::uint32_t width, std::uint32_t height,
                            bool withPixels = true)
{
    // Size 124; caps, height, width and pixel format given; then at 18 the
    // pixel format: size 32, RGB, 24 bits, red, green and blue masks; a texture.
    const std::uint32_t header[31] = {124, 0x1007, height, width, 0,        0,      0,    0, 0,
                                      0,   0,      0,      0,     0,        0,      0,    0, 0,
                                      32,  0x40,   0,      24,    0xFF0000, 0xFF00, 0xFF, 0, 0x1000};
    const auto path = testsupport::tempPath(name).string();
    std::ofstream out(path, std::ios::binary);
    out << "DDS ";
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (std::uint32_t y = 0; withPixels && y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto c = colourAt(int(x), int(y));
            out << c[2] << c[1] << c[0];
        }
    }
    return path;
}

// A grey ramp, brighter to the right, of 16-bit or floating-point pixels
// (FIT_UINT16, FIT_FLOAT or FIT_RGBF) as FreeImage writes `format`.
inline std::string writeGreyRamp(const std::string& name, FREE_IMAGE_FORMAT format, FREE_IMAGE_TYPE type,
                                 int width, int height)
{
    FIBITMAP* bitmap = FreeImage_AllocateT(type, width, height);
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, y);
        for (int x = 0; x < width; ++x) {
            const float value = 0.05f + 0.4f * float(x);
            if (type == FIT_UINT16)
                reinterpret_cast<std::uint16_t*>(line)[x] = std::uint16_t(x * 65535 / width);
            if (type == FIT_FLOAT) reinterpret_cast<float*>(line)[x] = value;
            if (type == FIT_RGBF) reinterpret_cast<FIRGBF*>(line)[x] = FIRGBF{value, value, value};
        }
    }
    const auto path = testsupport::tempPath(name).string();
    FreeImage_Save(format, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    return path;
}

// A PPM header claiming the given size, with no pixels behind it.
inline std::string writePpmHeader(const std::string& name, std::uint64_t width, std::uint64_t height)
{
    const auto path = testsupport::tempPath(name).string();
    std::ofstream(path, std::ios::binary) << "P6\n" << width << ' ' << height << "\n255\n";
    return path;
}

// A black 24-bit PNG: a large picture in a small file, packed about as
// tightly as deflate allows.
inline std::string writeBlackPng(const std::string& name, int width, int height)
{
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
    const auto path = testsupport::tempPath(name).string();
    FreeImage_Save(FIF_PNG, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    return path;
}

inline std::vector<std::uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The bytes with fields of `size` bytes each written over them from `at` on.
inline Bytes patched(Bytes bytes, std::size_t at, int size, std::initializer_list<std::uint64_t> values,
                     bool littleEndian = false)
{
    Bytes fields;
    putFields(fields, size, values, littleEndian);
    std::copy(fields.begin(), fields.end(), bytes.begin() + at);
    return bytes;
}
// `file` cut, or padded with `fill` again and again, to `bytes`.
inline Bytes padded(Bytes file, std::size_t bytes, const Bytes& fill = {0x41})
{
    for (std::size_t i = 0; file.size() < bytes; ++i) file.push_back(fill[i % fill.size()]);
    file.resize(bytes);
    return file;
}

// 8-bit PCX of one plane of even rows, plain or run-length (coding 1); 0x41 stands for itself either way.
inline Bytes pcx(std::uint64_t width, std::uint64_t height, std::uint64_t coding, std::size_t bytes,
                 const Bytes& fill = {0x41})
{
    const Bytes file =
        patched(patched(Bytes(128, 0), 0, 1, {0x0A, 5, coding, 8}), 8, 2, {width - 1, height - 1}, true);
    return padded(patched(patched(file, 65, 1, {1}), 66, 2, {(width + 1) & ~1ull}, true), bytes, fill);
}
// A Sun raster without a colour map.
inline Bytes ras(std::uint64_t width, std::uint64_t height, std::uint64_t bits, std::uint64_t kind,
                 std::size_t bytes)
{
    return padded(patched(Bytes(32, 0), 0, 4, {0x59A66A95, width, height, bits, 0, kind}), bytes);
}
// Run-length 8-bit grey TGA; 0x41 heads a packet of 66 pixels that stand for themselves.
inline Bytes tgaRuns(std::uint64_t width, std::uint64_t height, std::size_t bytes, const Bytes& fill = {0x41})
{
    return padded(patched(patched(Bytes(18, 0), 2, 1, {11}), 12, 2, {width, height, 8}, true), bytes, fill);
}

// An OpenEXR file of one run-length coded tile of `width` x `height` 32-bit float RGBA pixels of one
// colour, (51, 102, 153) as 8-bit values, alpha near 1. Each sample's two 16-bit halves alike, the tile's
// bytes at even places are their low bytes, then those at odd places their high ones, each coded as its
// difference from the byte before plus 128, in runs of up to 128 alike.
inline Bytes oneTileExr(std::uint32_t width, std::uint32_t height)
{
    constexpr std::uint16_t halves[] = {0x3F7F, 0x3F19, 0x3ECC, 0x3E4C};  // A, B, G, R: by their names
    Bytes tile;
    std::optional<std::uint8_t> last;
    for (int odd = 0; odd < 2; ++odd)
        for (std::uint32_t y = 0; y < height; ++y)
            for (const std::uint16_t half : halves) {
                const auto byte = std::uint8_t(half >> (8 * odd));
                tile.insert(tile.end(), {0, std::uint8_t(last ? byte - *last + 128 : byte)});
                last = byte;
                for (std::uint32_t left = 2 * width - 1, run = 0; left > 0; left -= run) {
                    run = std::min(left, 128u);
                    tile.insert(tile.end(), {std::uint8_t(run - 1), 128});
                }
            }
    Bytes exr{0x76, 0x2F, 0x31, 0x01, 2, 2, 0, 0};  // the magic number, version 2 of a tiled file
    const auto attribute = [&](const std::string& name, const std::string& type, int size,
                               std::initializer_list<std::uint64_t> values, Bytes value = {}) {
        put(exr, name + '\0' + type + '\0');
        putFields(value, size, values, true);
        putFields(exr, 4, {value.size()}, true);
        exr.insert(exr.end(), value.begin(), value.end());
    };
    Bytes channels, tiles;
    for (const char* name : {"A", "B", "G", "R"}) {
        put(channels, {name, 2});                    // with its ending 0
        putFields(channels, 4, {2, 0, 1, 1}, true);  // FLOAT, not linear, sampled at every pixel
    }
    putFields(tiles, 4, {width, height}, true);
    constexpr std::uint64_t one = 0x3F800000;  // 1.0f
    attribute("channels", "chlist", 1, {0}, channels);
    attribute("compression", "compression", 1, {1});  // RLE
    attribute("dataWindow", "box2i", 4, {0, 0, width - 1, height - 1});
    attribute("displayWindow", "box2i", 4, {0, 0, width - 1, height - 1});
    attribute("lineOrder", "lineOrder", 1, {0});
    attribute("pixelAspectRatio", "float", 4, {one});
    attribute("screenWindowCenter", "v2f", 4, {0, 0});
    attribute("screenWindowWidth", "float", 4, {one});
    attribute("tiles", "tiledesc", 1, {0}, tiles);  // one level
    exr.push_back(0);
    // The table of the one tile's offset, then the tile: its place, its level and its bytes.
    putFields(exr, 8, {exr.size() + 8}, true);
    putFields(exr, 4, {0, 0, 0, 0, tile.size()}, true);
    exr.insert(exr.end(), tile.begin(), tile.end());
    return exr;
}

}  // namespace imagefixtures
