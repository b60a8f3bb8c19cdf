// Damaged pictures of every format the program reads, through the real
// loading path (TextureLoader::loadImage, each picture decoded apart). For
// each kind a small valid picture is made (FreeImage writes those it can,
// the rest are built here byte by byte; a few claim the largest picture in
// a file that packs it into little), then N mutants of it: bytes changed,
// put in, taken out, the file cut short, header fields set to extreme
// values (binary fields of the format's own header where it is known, the
// decimal numbers of text headers), and PNG chunks given their checksums
// back so the damage reaches past them. Each mutant is loaded twice: under
// its format's own file name and under another format's.
//
// What each load ended as is read from the line the loader prints, and its
// reason is sorted by who gave it: the header readers (a size beyond the
// largest picture counted apart), a decoder's own words, a crash of the
// decoding child (by signal), a limit of memory or time, or anything else
// (listed at the end). The bench itself must never crash or hang: a watchdog
// names the mutant a load hangs on, and a loaded picture whose rows do not
// match its size is reported as a fault.
//
//   cmake --build build --target bench_picture_mutations
//   build/bench_picture_mutations [N=300] [--only KIND...] [--seed S]
//   build/bench_picture_mutations --repro KIND INDEX   (writes the mutant's
//       two files to /tmp, keeps them, and loads them with the lines shown)
//
// Mutants are made from (seed, kind, index) alone, so any one is made again
// with --repro.
#include "engine/gl/qvloadimage.h"
#include "engine/picture/qvdecoderprocess.h"
#include "engine/picture/qvpicturefile.h"

#include <FreeImage.h>
#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int seedWidth = 64;
constexpr int seedHeight = 48;
// Pictures that claim the largest size, packed into a small file.
constexpr int largeWidth = 7680;
constexpr int largeHeight = 4320;
// Large pictures cost a full decoding each: they get this share of N.
constexpr int largeShare = 8;
constexpr int defaultMutants = 300;
constexpr std::size_t mostReasonsShown = 12;
// Longer than any limit a small or large picture gets, with the program's
// grace on top: a load that takes this long hangs.
constexpr unsigned watchdogSeconds = 180;
// Where mutation reaches most often: the header.
constexpr std::size_t headerBytes = 512;

// ---- seeds ---------------------------------------------------------------------

// How the pixels of a seed are held before FreeImage writes them.
enum class Pixels {
    rgb24,
    rgba32,
    grey8,
    palette8,
    palette4,
    mono1,
    grey16,
    rgb16,
    rgba16,
    greyF,
    rgbF,
    rgbaF
};

struct Written {
    const char* name;
    FREE_IMAGE_FORMAT format;
    Pixels pixels;
    int flags;
    bool large = false;
};
// FreeImage writes only square icons.
constexpr int iconSide = 48;

const Written written[] = {
    {"bmp-24", FIF_BMP, Pixels::rgb24, 0},
    {"bmp-32", FIF_BMP, Pixels::rgba32, 0},
    {"bmp-8", FIF_BMP, Pixels::palette8, 0},
    {"bmp-rle8", FIF_BMP, Pixels::palette8, BMP_SAVE_RLE},
    {"bmp-4", FIF_BMP, Pixels::palette4, 0},
    {"bmp-1", FIF_BMP, Pixels::mono1, 0},
    {"ico-32", FIF_ICO, Pixels::rgba32, 0},
    {"ico-8", FIF_ICO, Pixels::palette8, 0},
    {"jpeg-baseline", FIF_JPEG, Pixels::rgb24, JPEG_QUALITYGOOD},
    {"jpeg-progressive", FIF_JPEG, Pixels::rgb24, JPEG_PROGRESSIVE | JPEG_QUALITYGOOD},
    {"jpeg-grey", FIF_JPEG, Pixels::grey8, JPEG_QUALITYGOOD},
    {"jng", FIF_JNG, Pixels::rgba32, 0},
    {"pbm-plain", FIF_PBM, Pixels::mono1, 0},
    {"pbm-raw", FIF_PBMRAW, Pixels::mono1, 0},
    {"pgm-plain", FIF_PGM, Pixels::grey8, 0},
    {"pgm-raw", FIF_PGMRAW, Pixels::grey8, 0},
    {"pgm-raw16", FIF_PGMRAW, Pixels::grey16, 0},
    {"ppm-plain", FIF_PPM, Pixels::rgb24, 0},
    {"ppm-plain16", FIF_PPM, Pixels::rgb16, 0},
    {"ppm-raw", FIF_PPMRAW, Pixels::rgb24, 0},
    {"ppm-raw16", FIF_PPMRAW, Pixels::rgb16, 0},
    {"pfm-rgb", FIF_PFM, Pixels::rgbF, 0},
    {"pfm-grey", FIF_PFM, Pixels::greyF, 0},
    {"png-8", FIF_PNG, Pixels::palette8, 0},
    {"png-24", FIF_PNG, Pixels::rgb24, 0},
    {"png-32-interlaced", FIF_PNG, Pixels::rgba32, PNG_INTERLACED},
    {"png-grey16", FIF_PNG, Pixels::grey16, 0},
    {"png-rgba16", FIF_PNG, Pixels::rgba16, 0},
    {"targa-24", FIF_TARGA, Pixels::rgb24, 0},
    {"targa-rle32", FIF_TARGA, Pixels::rgba32, TARGA_SAVE_RLE},
    {"targa-8", FIF_TARGA, Pixels::palette8, 0},
    {"tiff-none", FIF_TIFF, Pixels::rgb24, TIFF_NONE},
    {"tiff-lzw", FIF_TIFF, Pixels::rgb24, TIFF_LZW},
    {"tiff-deflate", FIF_TIFF, Pixels::rgba32, TIFF_DEFLATE},
    {"tiff-packbits", FIF_TIFF, Pixels::rgb24, TIFF_PACKBITS},
    {"tiff-jpeg", FIF_TIFF, Pixels::rgb24, TIFF_JPEG},
    {"tiff-fax4", FIF_TIFF, Pixels::mono1, TIFF_CCITTFAX4},
    {"tiff-4", FIF_TIFF, Pixels::palette4, TIFF_NONE},
    {"tiff-rgb16", FIF_TIFF, Pixels::rgb16, TIFF_LZW},
    {"tiff-float", FIF_TIFF, Pixels::rgbF, TIFF_DEFLATE},
    {"tiff-grey-float", FIF_TIFF, Pixels::greyF, TIFF_NONE},
    {"tiff-rgba-float", FIF_TIFF, Pixels::rgbaF, TIFF_LZW},
    {"wbmp", FIF_WBMP, Pixels::mono1, 0},
    {"psd-24", FIF_PSD, Pixels::rgb24, 0},
    {"psd-32", FIF_PSD, Pixels::rgba32, 0},
    {"psd-rgb16", FIF_PSD, Pixels::rgb16, 0},
    {"xpm-24", FIF_XPM, Pixels::rgb24, 0},
    {"xpm-8", FIF_XPM, Pixels::palette8, 0},
    {"gif-8", FIF_GIF, Pixels::palette8, 0},
    {"gif-4", FIF_GIF, Pixels::palette4, 0},
    {"hdr", FIF_HDR, Pixels::rgbF, 0},
    {"exr-half-piz", FIF_EXR, Pixels::rgbF, EXR_DEFAULT},
    {"exr-float-zip", FIF_EXR, Pixels::rgbaF, EXR_FLOAT | EXR_ZIP},
    {"exr-grey-none", FIF_EXR, Pixels::greyF, EXR_FLOAT | EXR_NONE},
    {"exr-half-pxr24", FIF_EXR, Pixels::rgbF, EXR_PXR24},
    {"exr-half-b44", FIF_EXR, Pixels::rgbaF, EXR_B44},
    {"j2k-24", FIF_J2K, Pixels::rgb24, 16},
    {"j2k-lossless-8", FIF_J2K, Pixels::grey8, 1},
    {"j2k-rgba16", FIF_J2K, Pixels::rgba16, 8},
    {"jp2-24", FIF_JP2, Pixels::rgb24, 16},
    {"jp2-32", FIF_JP2, Pixels::rgba32, 8},
    {"webp-lossy", FIF_WEBP, Pixels::rgb24, 90},
    {"webp-lossless", FIF_WEBP, Pixels::rgba32, WEBP_LOSSLESS},
    {"jxr-24", FIF_JXR, Pixels::rgb24, 0},
    {"jxr-float", FIF_JXR, Pixels::rgbF, 0},
    {"png-large", FIF_PNG, Pixels::grey8, 0, true},
    {"jpeg-large", FIF_JPEG, Pixels::rgb24, JPEG_QUALITYNORMAL, true},
    {"gif-large", FIF_GIF, Pixels::palette8, 0, true},
    {"tiff-large", FIF_TIFF, Pixels::rgb24, TIFF_DEFLATE, true},
    {"pfm-large", FIF_PFM, Pixels::greyF, 0, true},
};

// A header field: where it lies, its width and byte order.
struct Field {
    std::size_t at;
    unsigned bytes;
    bool bigEndian;
};
// A seed picture: its bytes, the file name extension of its format, and the
// fields of its header worth setting to extreme values.
struct Seed {
    std::string name;
    FREE_IMAGE_FORMAT format;
    std::string extension;
    Bytes bytes;
    bool large = false;
    std::vector<Field> fields;
    bool pngChunks = false;
};

// 0..255 at a pixel: a gradient with a ripple, so every coding has real
// data to pack; flat for the large pictures.
double shade(int x, int y, int channel, bool flat)
{
    if (flat) return 0.4 + 0.1 * channel;
    return 0.5 + 0.45 * std::sin(x * 0.21 * (channel + 1) + y * 0.13) * std::cos(y * 0.07 + channel);
}

struct BitmapDeleter {
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

// A bitmap of the seed's kind of pixels.
Bitmap seedBitmap(Pixels pixels, int width, int height, bool flat)
{
    const bool alpha = pixels == Pixels::rgba32 || pixels == Pixels::rgba16 || pixels == Pixels::rgbaF;
    Bitmap colour(FreeImage_Allocate(width, height, alpha ? 32 : 24));
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(colour.get(), y);
        for (int x = 0; x < width; ++x) {
            BYTE* pixel = line + x * (alpha ? 4 : 3);
            pixel[FI_RGBA_RED] = BYTE(255 * shade(x, y, 0, flat));
            pixel[FI_RGBA_GREEN] = BYTE(255 * shade(x, y, 1, flat));
            pixel[FI_RGBA_BLUE] = BYTE(255 * shade(x, y, 2, flat));
            if (alpha) pixel[FI_RGBA_ALPHA] = BYTE(x * 255 / std::max(width - 1, 1));
        }
    }
    switch (pixels) {
    case Pixels::rgb24:
    case Pixels::rgba32:
        return colour;
    case Pixels::grey8:
        return Bitmap(FreeImage_ConvertToGreyscale(colour.get()));
    case Pixels::palette8:
        return Bitmap(FreeImage_ColorQuantize(colour.get(), FIQ_WUQUANT));
    case Pixels::palette4:
        return Bitmap(FreeImage_ConvertTo4Bits(colour.get()));
    case Pixels::mono1:
        return Bitmap(FreeImage_Threshold(colour.get(), 128));
    case Pixels::grey16:
        return Bitmap(FreeImage_ConvertToUINT16(colour.get()));
    case Pixels::rgb16:
        return Bitmap(FreeImage_ConvertToRGB16(colour.get()));
    case Pixels::rgba16:
        return Bitmap(FreeImage_ConvertToRGBA16(colour.get()));
    case Pixels::greyF:
        return Bitmap(FreeImage_ConvertToFloat(colour.get()));
    case Pixels::rgbF:
        return Bitmap(FreeImage_ConvertToRGBF(colour.get()));
    case Pixels::rgbaF:
        return Bitmap(FreeImage_ConvertToRGBAF(colour.get()));
    }
    return nullptr;
}

// The seed as FreeImage writes it; empty when it cannot here.
Bytes writeSeed(const Written& kind)
{
    const int width = kind.large ? largeWidth : kind.format == FIF_ICO ? iconSide : seedWidth;
    const int height = kind.large ? largeHeight : seedHeight;
    const Bitmap bitmap = seedBitmap(kind.pixels, width, height, kind.large);
    if (!bitmap) return {};
    FIMEMORY* memory = FreeImage_OpenMemory();
    Bytes bytes;
    BYTE* data = nullptr;
    DWORD size = 0;
    if (FreeImage_SaveToMemory(kind.format, bitmap.get(), memory, kind.flags) &&
        FreeImage_AcquireMemory(memory, &data, &size))
        bytes.assign(data, data + size);
    FreeImage_CloseMemory(memory);
    // Some writers (ICO, JPEG XR) write only to files.
    if (bytes.empty()) {
        const std::string path = fmt::format("/tmp/velmorin-seed-{}.{}", ::getpid(), kind.name);
        if (FreeImage_Save(kind.format, bitmap.get(), path.c_str(), kind.flags)) {
            std::ifstream file(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
        std::remove(path.c_str());
    }
    return bytes;
}

// ---- seeds built here, of formats FreeImage only reads ----------------------

void putBe(Bytes& out, std::uint64_t value, unsigned bytes)
{
    for (unsigned i = bytes; i-- > 0;) out.push_back(std::uint8_t(value >> (8 * i)));
}
void putLe(Bytes& out, std::uint64_t value, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}
void putText(Bytes& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}
std::uint8_t sample(int x, int y, int channel)
{
    return std::uint8_t(255 * shade(x, y, channel, false));
}

// Run-length coding of SGI rows: a count byte with the top bit set copies
// that many bytes, without it repeats the next byte; 0 ends the row.
Bytes sgiRunLength(const Bytes& row)
{
    Bytes out;
    std::size_t i = 0;
    while (i < row.size()) {
        std::size_t run = 1;
        while (i + run < row.size() && run < 127 && row[i + run] == row[i]) ++run;
        if (run >= 3) {
            out.push_back(std::uint8_t(run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        std::size_t literal = 0;
        while (i + literal < row.size() && literal < 127 &&
               !(i + literal + 2 < row.size() && row[i + literal] == row[i + literal + 1] &&
                 row[i + literal] == row[i + literal + 2]))
            ++literal;
        out.push_back(std::uint8_t(0x80 | literal));
        out.insert(out.end(), row.begin() + long(i), row.begin() + long(i + literal));
        i += literal;
    }
    out.push_back(0);
    return out;
}

// An SGI image of three 8-bit channels, planes of rows from the bottom.
Bytes sgiSeed(bool runLength)
{
    constexpr int channels = 3;
    Bytes out;
    putBe(out, 474, 2);
    out.push_back(runLength ? 1 : 0);
    out.push_back(1);
    putBe(out, 3, 2);
    putBe(out, seedWidth, 2);
    putBe(out, seedHeight, 2);
    putBe(out, channels, 2);
    putBe(out, 0, 4);
    putBe(out, 255, 4);
    out.resize(512, 0);
    std::vector<Bytes> rows;
    for (int c = 0; c < channels; ++c)
        for (int y = 0; y < seedHeight; ++y) {
            Bytes row;
            for (int x = 0; x < seedWidth; ++x) row.push_back(sample(x, seedHeight - 1 - y, c) & 0xF0);
            rows.push_back(runLength ? sgiRunLength(row) : row);
        }
    if (runLength) {
        std::size_t at = 512 + rows.size() * 8;
        for (const Bytes& row : rows) putBe(out, std::exchange(at, at + row.size()), 4);
        for (const Bytes& row : rows) putBe(out, row.size(), 4);
    }
    for (const Bytes& row : rows) out.insert(out.end(), row.begin(), row.end());
    return out;
}

// A PCX image: 8-bit with a palette at the end, or three planes of 8 bits.
Bytes pcxSeed(bool planes)
{
    const int bytesPerLine = seedWidth + seedWidth % 2;
    Bytes out{10, 5, 1, 8};
    putLe(out, 0, 2);
    putLe(out, 0, 2);
    putLe(out, seedWidth - 1, 2);
    putLe(out, seedHeight - 1, 2);
    putLe(out, 72, 2);
    putLe(out, 72, 2);
    out.resize(65, 0);
    out.push_back(planes ? 3 : 1);
    putLe(out, bytesPerLine, 2);
    putLe(out, 1, 2);
    out.resize(128, 0);
    for (int y = 0; y < seedHeight; ++y)
        for (int plane = 0; plane < (planes ? 3 : 1); ++plane) {
            Bytes line(std::size_t(bytesPerLine), 0);
            for (int x = 0; x < seedWidth; ++x) line[std::size_t(x)] = sample(x, y, plane) & 0xE0;
            for (std::size_t x = 0; x < line.size();) {
                std::size_t run = 1;
                while (x + run < line.size() && run < 63 && line[x + run] == line[x]) ++run;
                if (run > 1 || line[x] >= 0xC0) out.push_back(std::uint8_t(0xC0 | run));
                out.push_back(line[x]);
                x += run;
            }
        }
    if (!planes) {
        out.push_back(12);
        for (int i = 0; i < 256; ++i)
            out.insert(out.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(255 - i)});
    }
    return out;
}

// A Sun raster: 24-bit BGR, or 8-bit with a map of 16 greys, run-length
// coded. (FreeImage refuses an 8-bit map of all 256 colours.)
constexpr int rasGreys = 16;
Bytes rasSeed(bool runLength)
{
    const int depth = runLength ? 8 : 24;
    Bytes data;
    for (int y = 0; y < seedHeight; ++y) {
        Bytes row;
        for (int x = 0; x < seedWidth; ++x) {
            if (runLength)
                row.push_back(sample(x / 4, y, 0) >> 4);
            else
                row.insert(row.end(), {sample(x, y, 2), sample(x, y, 1), sample(x, y, 0)});
        }
        if (row.size() % 2 != 0) row.push_back(0);
        if (!runLength) {
            data.insert(data.end(), row.begin(), row.end());
            continue;
        }
        for (std::size_t x = 0; x < row.size();) {
            std::size_t run = 1;
            while (x + run < row.size() && run < 256 && row[x + run] == row[x]) ++run;
            if (run >= 3 || row[x] == 0x80) {
                data.insert(data.end(), {0x80, std::uint8_t(run - 1), row[x]});
                x += run;
            } else {
                data.push_back(row[x++]);
            }
        }
    }
    Bytes out;
    for (const std::uint64_t word : std::initializer_list<std::uint64_t>{
             0x59a66a95, std::uint64_t(seedWidth), std::uint64_t(seedHeight), std::uint64_t(depth),
             std::uint64_t(data.size()), std::uint64_t(runLength ? 2 : 1), std::uint64_t(runLength ? 1 : 0),
             std::uint64_t(runLength ? 3 * rasGreys : 0)})
        putBe(out, word, 4);
    if (runLength)
        for (int channel = 0; channel < 3; ++channel)
            for (int i = 0; i < rasGreys; ++i) out.push_back(std::uint8_t(i * 17));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// An X bitmap: C source of bytes, the first pixel in the lowest bit.
Bytes xbmSeed()
{
    Bytes out;
    putText(out, fmt::format("#define seed_width {}\n#define seed_height {}\nstatic char seed_bits[] = {{\n",
                             seedWidth, seedHeight));
    for (int y = 0; y < seedHeight; ++y)
        for (int x = 0; x < seedWidth; x += 8) {
            int bits = 0;
            for (int b = 0; b < 8; ++b) bits |= (sample(x + b, y, 0) > 128 ? 1 : 0) << b;
            putText(out, fmt::format("0x{:02x},{}", bits, (x + 8) % 96 == 0 ? "\n" : " "));
        }
    putText(out, "};\n");
    return out;
}

// A DirectDraw surface: DXT1 blocks, or 32-bit BGRA pixels.
Bytes ddsSeed(bool dxt1)
{
    Bytes out;
    putText(out, "DDS ");
    putLe(out, 124, 4);
    putLe(out, 0x1007 | (dxt1 ? 0x80000 : 0x8), 4);
    putLe(out, seedHeight, 4);
    putLe(out, seedWidth, 4);
    putLe(out, dxt1 ? seedWidth * seedHeight / 2 : seedWidth * 4, 4);
    out.resize(76, 0);
    putLe(out, 32, 4);
    putLe(out, dxt1 ? 0x4 : 0x41, 4);
    if (dxt1)
        putText(out, "DXT1");
    else
        putLe(out, 0, 4);
    for (const std::uint64_t word :
         std::initializer_list<std::uint64_t>{32, 0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000})
        putLe(out, dxt1 ? 0 : word, 4);
    putLe(out, 0x1000, 4);
    out.resize(128, 0);
    if (dxt1) {
        for (int by = 0; by < seedHeight / 4; ++by)
            for (int bx = 0; bx < seedWidth / 4; ++bx) {
                const auto rgb565 = [](int r, int g, int b) {
                    return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
                };
                putLe(out, rgb565(sample(bx * 4, by * 4, 0), sample(bx * 4, by * 4, 1), 200), 2);
                putLe(out, rgb565(sample(bx * 4 + 3, by * 4 + 3, 0), 40, sample(bx * 4 + 3, by * 4 + 3, 2)),
                      2);
                putLe(out, 0x1B1B1B1Bu * std::uint32_t(1 + (bx + by) % 3), 4);
            }
    } else {
        for (int y = 0; y < seedHeight; ++y)
            for (int x = 0; x < seedWidth; ++x)
                out.insert(out.end(),
                           {sample(x, y, 2), sample(x, y, 1), sample(x, y, 0), std::uint8_t(x * 4)});
    }
    return out;
}

// A Koala Painter picture: its load address, then 8000 bytes of bitmap and
// 2000 of colours, and the background.
Bytes koalaSeed()
{
    Bytes out{0x00, 0x60};
    for (int i = 0; i < 10001; ++i) out.push_back(std::uint8_t((i * 37 + (i / 320) * 11) & 0xFF));
    return out;
}

// ---- header fields -------------------------------------------------------

std::uint64_t readBe(const Bytes& bytes, std::size_t at, unsigned count)
{
    std::uint64_t value = 0;
    for (unsigned i = 0; i < count && at + i < bytes.size(); ++i) value = value << 8 | bytes[at + i];
    return value;
}
std::uint64_t readLe(const Bytes& bytes, std::size_t at, unsigned count)
{
    std::uint64_t value = 0;
    for (unsigned i = count; i-- > 0;) value = value << 8 | (at + i < bytes.size() ? bytes[at + i] : 0);
    return value;
}
std::size_t find(const Bytes& bytes, std::string_view text, std::size_t from = 0)
{
    const auto at = std::search(bytes.begin() + long(std::min(from, bytes.size())), bytes.end(), text.begin(),
                                text.end());
    return at == bytes.end() ? std::string_view::npos : std::size_t(at - bytes.begin());
}

// The SIZ fields of a JPEG 2000 codestream starting at `at`: sizes, offsets,
// tile sizes, component count and each component's depth and subsampling.
void codestreamFields(const Bytes& bytes, std::size_t at, std::vector<Field>& fields)
{
    for (std::size_t i = 0; i < 8; ++i) fields.push_back({at + 8 + 4 * i, 4, true});
    fields.push_back({at + 40, 2, true});
    const std::size_t components = readBe(bytes, at + 40, 2);
    for (std::size_t c = 0; c < std::min<std::size_t>(components, 4); ++c)
        for (std::size_t i = 0; i < 3; ++i) fields.push_back({at + 42 + 3 * c + i, 1, true});
    // The first tile-part's length and the coding style's levels and block sizes.
    if (const std::size_t sot = find(bytes, "\xFF\x90", at); sot != std::string_view::npos)
        fields.push_back({sot + 6, 4, true});
    if (const std::size_t cod = find(bytes, "\xFF\x52", at); cod != std::string_view::npos)
        for (std::size_t i = 5; i < 12; ++i) fields.push_back({cod + i, 1, true});
}

// The fields of a TIFF's first directory: each entry's type, count and value.
void tiffFields(const Bytes& bytes, std::vector<Field>& fields)
{
    const bool big = bytes.size() > 1 && bytes[0] == 'M';
    const auto read = [&](std::size_t at, unsigned count) {
        return big ? readBe(bytes, at, count) : readLe(bytes, at, count);
    };
    const std::size_t directory = read(4, 4);
    const std::size_t entries = read(directory, 2);
    for (std::size_t i = 0; i < entries && directory + 2 + 12 * (i + 1) <= bytes.size(); ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        const unsigned valueBytes = read(entry + 2, 2) == 3 && read(entry + 4, 4) == 1 ? 2 : 4;
        fields.push_back({entry + 2, 2, big});
        fields.push_back({entry + 4, 4, big});
        fields.push_back({entry + 8, valueBytes, big});
    }
}

// The header fields of a seed that say its size, depth, coding and where
// its parts lie, by format.
std::vector<Field> headerFields(FREE_IMAGE_FORMAT format, const Bytes& bytes)
{
    std::vector<Field> fields;
    const auto add = [&](std::initializer_list<std::size_t> offsets, unsigned count, bool bigEndian) {
        for (const std::size_t at : offsets) fields.push_back({at, count, bigEndian});
    };
    switch (format) {
    case FIF_BMP:
        add({2, 10, 14, 18, 22, 30, 34, 46, 50}, 4, false);
        add({26, 28}, 2, false);
        break;
    case FIF_ICO:
        add({2, 4, 10, 12}, 2, false);
        add({6, 7, 8}, 1, false);
        add({14, 18}, 4, false);
        if (const std::size_t at = readLe(bytes, 18, 4); at + 16 < bytes.size()) {
            add({at, at + 4, at + 8, at + 16, at + 20, at + 32}, 4, false);
            add({at + 12, at + 14}, 2, false);
        }
        break;
    case FIF_JPEG:
    case FIF_JNG:
        for (std::size_t at = 2; at + 4 < bytes.size() && bytes[at] == 0xFF;) {
            const std::uint8_t marker = bytes[at + 1];
            add({at + 2}, 2, true);
            if ((marker >= 0xC0 && marker <= 0xC2) || marker == 0xDA || marker == 0xDD) {
                add({at + 5, at + 7}, 2, true);
                add({at + 4, at + 9, at + 10, at + 11, at + 12}, 1, true);
            }
            if (marker == 0xDA) break;
            at += 2 + readBe(bytes, at + 2, 2);
        }
        break;
    case FIF_PNG:
        add({16, 20}, 4, true);
        add({24, 25, 26, 27, 28}, 1, true);
        for (std::size_t at = 8; at + 8 <= bytes.size() && at < 8 + 4096;) {
            add({at}, 4, true);
            at += 12 + readBe(bytes, at, 4);
        }
        break;
    case FIF_TARGA:
        add({0, 1, 2, 7, 16, 17}, 1, false);
        add({3, 5, 8, 10, 12, 14}, 2, false);
        break;
    case FIF_TIFF:
        tiffFields(bytes, fields);
        break;
    case FIF_PSD:
        add({12, 22, 24}, 2, true);
        add({14, 18, 26}, 4, true);
        if (const std::size_t resources = 26 + 4 + readBe(bytes, 26, 4); resources + 4 < bytes.size()) {
            add({resources}, 4, true);
            const std::size_t layers = resources + 4 + readBe(bytes, resources, 4);
            add({layers, layers + 4}, 4, true);
            add({layers + 4 + readBe(bytes, layers, 4)}, 2, true);
        }
        break;
    case FIF_GIF:
        add({6, 8}, 2, false);
        add({10, 11}, 1, false);
        if (const std::size_t image = find(bytes, ","); image != std::string_view::npos) {
            add({image + 1, image + 3, image + 5, image + 7}, 2, false);
            add({image + 9, image + 10}, 1, false);
        }
        break;
    case FIF_SGI:
        add({2, 3}, 1, true);
        add({4, 6, 8, 10}, 2, true);
        add({12, 16, 104, 512, 512 + 4 * 3 * seedHeight}, 4, true);
        break;
    case FIF_PCX:
        add({1, 2, 3, 65}, 1, false);
        add({4, 6, 8, 10, 66, 68}, 2, false);
        break;
    case FIF_RAS:
        add({4, 8, 12, 16, 20, 24, 28}, 4, true);
        break;
    case FIF_DDS:
        add({4, 8, 12, 16, 20, 24, 28, 76, 80, 84, 88, 92, 108, 112}, 4, false);
        break;
    case FIF_J2K:
        codestreamFields(bytes, 0, fields);
        break;
    case FIF_JP2:
        if (const std::size_t header = find(bytes, "ihdr"); header != std::string_view::npos) {
            add({header - 4, header + 4, header + 8}, 4, true);
            add({header + 12}, 2, true);
            add({header + 14, header + 15}, 1, true);
        }
        if (const std::size_t stream = find(bytes, "jp2c"); stream != std::string_view::npos) {
            add({stream - 4}, 4, true);
            codestreamFields(bytes, stream + 4, fields);
        }
        break;
    case FIF_EXR:
        for (const std::string_view attribute : {"dataWindow", "displayWindow"})
            if (const std::size_t at = find(bytes, attribute); at != std::string_view::npos) {
                const std::size_t value = at + attribute.size() + 1 + 6 + 4;
                add({value - 4, value, value + 4, value + 8, value + 12}, 4, false);
            }
        if (const std::size_t at = find(bytes, "channels"); at != std::string_view::npos)
            add({at + 9 + 7}, 4, false);
        if (const std::size_t at = find(bytes, "compression"); at != std::string_view::npos)
            add({at + 12 + 12 + 4}, 1, false);
        break;
    case FIF_WEBP:
        add({4, 16}, 4, false);
        add({20, 24, 26, 28}, 2, false);
        add({21, 22, 23, 24, 25}, 1, false);
        break;
    case FIF_JXR:
        add({4}, 4, false);
        if (const std::size_t at = readLe(bytes, 4, 4); at + 2 < bytes.size()) {
            for (std::size_t i = 0, n = readLe(bytes, at, 2); i < n && i < 32; ++i) {
                add({at + 2 + 12 * i + 2}, 2, false);
                add({at + 2 + 12 * i + 4, at + 2 + 12 * i + 8}, 4, false);
            }
        }
        break;
    case FIF_KOALA:
        add({0}, 2, false);
        break;
    default:
        break;
    }
    std::erase_if(fields, [&](const Field& field) { return field.at + field.bytes > bytes.size(); });
    return fields;
}

// Every seed, made once.
std::vector<Seed> makeSeeds()
{
    std::vector<Seed> seeds;
    const auto add = [&](std::string name, FREE_IMAGE_FORMAT format, Bytes bytes, bool large = false) {
        if (bytes.empty()) {
            fmt::print(stderr, "{} cannot be written here\n", name);
            return;
        }
        std::string extensions = FreeImage_GetFIFExtensionList(format);
        Seed seed{std::move(name),
                  format,
                  extensions.substr(0, extensions.find(',')),
                  std::move(bytes),
                  large,
                  {},
                  false};
        seed.fields = headerFields(format, seed.bytes);
        seed.pngChunks = format == FIF_PNG;
        seeds.push_back(std::move(seed));
    };
    for (const Written& kind : written) add(kind.name, kind.format, writeSeed(kind), kind.large);
    add("sgi-verbatim", FIF_SGI, sgiSeed(false));
    add("sgi-rle", FIF_SGI, sgiSeed(true));
    add("pcx-8", FIF_PCX, pcxSeed(false));
    add("pcx-24", FIF_PCX, pcxSeed(true));
    add("ras-24", FIF_RAS, rasSeed(false));
    add("ras-rle8", FIF_RAS, rasSeed(true));
    add("xbm", FIF_XBM, xbmSeed());
    add("dds-dxt1", FIF_DDS, ddsSeed(true));
    add("dds-bgra", FIF_DDS, ddsSeed(false));
    add("koala", FIF_KOALA, koalaSeed());
    return seeds;
}

// ---- mutation --------------------------------------------------------------

constexpr std::uint64_t extremeValues[] = {
    0,      1,       0x7F,       0x80,       0xFF,       0x100,      0x7FFF,     0x8000,
    0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0x3FFFFFFF, 0x01000000};
constexpr std::string_view extremeNumbers[] = {"0",
                                               "1",
                                               "-1",
                                               "255",
                                               "65535",
                                               "65536",
                                               "2147483647",
                                               "2147483648",
                                               "4294967295",
                                               "4294967296",
                                               "99999999999999999999",
                                               "1e38",
                                               "nan",
                                               "-0",
                                               "7680",
                                               "1000000"};

std::uint64_t fnv(std::string_view text)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : text) hash = (hash ^ std::uint8_t(c)) * 0x100000001b3ull;
    return hash;
}

// CRC-32 of PNG chunks.
std::uint32_t crc32(const std::uint8_t* data, std::size_t size)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

// Gives every whole PNG chunk its right checksum, so that the decoder reads
// what the damage made of it.
void repairPngChunks(Bytes& bytes)
{
    for (std::size_t at = 8; at + 12 <= bytes.size();) {
        const std::uint64_t length = readBe(bytes, at, 4);
        if (at + 12 + length > bytes.size()) break;
        const std::uint32_t crc = crc32(bytes.data() + at + 4, std::size_t(length) + 4);
        for (int i = 0; i < 4; ++i) bytes[at + 8 + length + i] = std::uint8_t(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

// One mutant of a seed, and what was done to it.
struct Mutant {
    Bytes bytes;
    std::string how;
};

Mutant mutate(const Seed& seed, std::uint64_t runSeed, int index)
{
    std::seed_seq sequence{std::uint32_t(runSeed), std::uint32_t(fnv(seed.name)), std::uint32_t(index)};
    std::mt19937_64 random(sequence);
    const auto below = [&](std::size_t n) {
        return n == 0 ? std::size_t(0) : std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    // An offset in the header half of the time, anywhere else otherwise.
    const auto offset = [&](std::size_t size) {
        return below(2) == 0 ? below(std::min(size, headerBytes)) : below(size);
    };
    Mutant mutant{seed.bytes, {}};
    Bytes& bytes = mutant.bytes;
    const auto note = [&](const std::string& what) { mutant.how += (mutant.how.empty() ? "" : "; ") + what; };
    const int operations = 1 + int(below(3) == 0) + int(below(6) == 0);
    for (int operation = 0; operation < operations && !bytes.empty(); ++operation) {
        switch (below(8)) {
        case 0:
        case 1: {  // bytes changed: a bit flipped or a random value
            const std::size_t count = 1 + below(8);
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t at = offset(bytes.size());
                const std::uint8_t value =
                    below(2) == 0 ? std::uint8_t(bytes[at] ^ (1u << below(8))) : std::uint8_t(below(256));
                note(fmt::format("byte {} {:#04x}->{:#04x}", at, bytes[at], value));
                bytes[at] = value;
            }
            break;
        }
        case 2: {  // bytes put in
            const std::size_t at = offset(bytes.size() + 1);
            const std::size_t count = 1 + below(32);
            Bytes added(count);
            for (std::uint8_t& b : added) b = std::uint8_t(below(256));
            bytes.insert(bytes.begin() + long(at), added.begin(), added.end());
            note(fmt::format("insert {} at {}", count, at));
            break;
        }
        case 3: {  // bytes taken out
            const std::size_t at = offset(bytes.size());
            const std::size_t count = std::min(1 + below(32), bytes.size() - at);
            bytes.erase(bytes.begin() + long(at), bytes.begin() + long(at + count));
            note(fmt::format("delete {} at {}", count, at));
            break;
        }
        case 4: {  // cut short, often within the header
            const std::size_t size =
                below(3) == 0 ? below(std::min(bytes.size(), headerBytes)) : below(bytes.size());
            bytes.resize(size);
            note(fmt::format("cut to {}", size));
            break;
        }
        case 5:
        case 6: {  // a header field set to an extreme value
            Field field{};
            if (!seed.fields.empty() && below(4) != 0) {
                field = seed.fields[below(seed.fields.size())];
            } else {
                const unsigned widths[] = {1, 2, 4};
                field = {below(std::min(bytes.size(), std::size_t(128))), widths[below(3)], below(2) == 0};
            }
            if (field.at + field.bytes > bytes.size()) break;
            std::uint64_t value = extremeValues[below(std::size(extremeValues))];
            if (below(5) == 0) value = readLe(bytes, field.at, field.bytes) + (below(2) == 0 ? 1 : -1);
            if (field.bytes < 8) value &= (std::uint64_t(1) << (8 * field.bytes)) - 1;
            for (unsigned i = 0; i < field.bytes; ++i)
                bytes[field.at + i] =
                    std::uint8_t(value >> (8 * (field.bigEndian ? field.bytes - 1 - i : i)));
            note(fmt::format("field {}:{}{} = {:#x}", field.at, field.bytes, field.bigEndian ? "be" : "le",
                             value));
            break;
        }
        case 7: {  // a decimal number of a text header, or a block copied over another
            std::vector<std::pair<std::size_t, std::size_t>> numbers;
            for (std::size_t i = 0; i < std::min(bytes.size(), std::size_t(2048));) {
                if (std::isdigit(bytes[i]) == 0) {
                    ++i;
                    continue;
                }
                std::size_t end = i;
                while (end < bytes.size() && (std::isdigit(bytes[end]) != 0 || bytes[end] == '.')) ++end;
                numbers.emplace_back(i, end - i);
                i = end;
            }
            const bool text =
                std::all_of(bytes.begin(), bytes.begin() + long(std::min(bytes.size(), std::size_t(16))),
                            [](std::uint8_t c) { return c == '\n' || c == '\r' || (c >= 32 && c < 127); });
            if (text && !numbers.empty()) {
                const auto [at, length] = numbers[below(std::min(numbers.size(), std::size_t(12)))];
                const std::string_view number = extremeNumbers[below(std::size(extremeNumbers))];
                bytes.erase(bytes.begin() + long(at), bytes.begin() + long(at + length));
                bytes.insert(bytes.begin() + long(at), number.begin(), number.end());
                note(fmt::format("number at {} = {}", at, number));
            } else {
                const std::size_t length =
                    1 + below(std::min({bytes.size(), seed.bytes.size(), std::size_t(256)}));
                const std::size_t from = below(bytes.size() - length + 1);
                const std::size_t to = offset(bytes.size() - length + 1);
                std::copy_n(seed.bytes.begin() + long(std::min(from, seed.bytes.size() - length)), length,
                            bytes.begin() + long(to));
                note(fmt::format("copy {} from {} to {}", length, from, to));
            }
            break;
        }
        }
    }
    if (seed.pngChunks && below(2) == 0) {
        repairPngChunks(bytes);
        note("checksums repaired");
    }
    return mutant;
}

// ---- loading -------------------------------------------------------------

// What a load ended as.
enum Outcome { loaded, header, size, words, crash, limit, other, outcomes };
constexpr const char* outcomeNames[] = {"loaded", "header", "size", "words", "crash", "limit", "other"};

struct Load {
    Outcome outcome = other;
    std::string reason;
    int signal = 0;
    double seconds = 0;
    std::string fault;  // a fault of the program's, when the load shows one
};

// The loader's lines go to a memory file, read after each load.
class CapturedOutput {
public:
    CapturedOutput()
        : memory_(::memfd_create("loader-lines", 0)), terminal_(::dup(STDOUT_FILENO)),
          out_(::fdopen(::dup(STDOUT_FILENO), "w"))
    {
        std::fflush(stdout);
        ::dup2(memory_, STDOUT_FILENO);
    }
    ~CapturedOutput()
    {
        std::fflush(stdout);
        ::dup2(terminal_, STDOUT_FILENO);
    }
    FILE* out() const { return out_; }
    void clear()
    {
        std::fflush(stdout);
        (void)!::ftruncate(memory_, 0);
        ::lseek(memory_, 0, SEEK_SET);
    }
    std::string text()
    {
        std::fflush(stdout);
        std::string text(std::size_t(::lseek(memory_, 0, SEEK_CUR)), '\0');
        (void)!::pread(memory_, text.data(), text.size(), 0);
        return text;
    }

private:
    int memory_;
    int terminal_;
    FILE* out_;
};

// What the watchdog names when a load hangs.
char hanging[512] = "";

void onHang(int)
{
    const char lead[] = "\nFAULT: a load hangs: ";
    (void)!::write(STDERR_FILENO, lead, sizeof lead - 1);
    (void)!::write(STDERR_FILENO, hanging, strnlen(hanging, sizeof hanging));
    (void)!::write(STDERR_FILENO, "\n", 1);
    ::_exit(3);
}

// A reason with its numbers as N, so that reasons of one kind count together.
std::string pattern(const std::string& reason)
{
    std::string out;
    for (std::size_t i = 0; i < reason.size(); ++i) {
        if (std::isdigit(std::uint8_t(reason[i])) != 0) {
            while (i + 1 < reason.size() && std::isdigit(std::uint8_t(reason[i + 1])) != 0) ++i;
            out += 'N';
        } else {
            out += reason[i];
        }
    }
    return out;
}

// Sorts a load's reason by who gave it. The header's own reading of the
// same bytes tells its reasons apart from the decoders'.
Outcome classify(const std::string& reason, const Bytes& bytes, const std::string& path, int& signal)
{
    const QvPictureHeader header = qvReadPictureHeader(std::span(bytes.data(), bytes.size()),
                                                       FreeImage_GetFIFFromFilename(path.c_str()));
    // From the header's size, or from the size a decoder gave.
    if (reason.find("is larger than the largest picture side") != std::string::npos ||
        reason.find("pixels of the largest picture") != std::string::npos)
        return size;
    if (!header.reading.problem.empty() && reason.starts_with(header.reading.problem)) return Outcome::header;
    if (const std::size_t at = reason.find("crashed (signal "); at != std::string::npos) {
        signal = std::atoi(reason.c_str() + at + 16);
        return crash;
    }
    if (reason.find("took longer than") != std::string::npos ||
        reason.find("needs more than the") != std::string::npos ||
        reason.find("did no work for") != std::string::npos)
        return limit;
    if (reason.find(" says \"") != std::string::npos) return words;
    return other;
}

// Loads one file through the loader, and reads what it said.
Load load(TextureLoader& loader, CapturedOutput& captured, const std::string& path, const Bytes& bytes)
{
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    captured.clear();
    ::alarm(watchdogSeconds);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::uint8_t> pixels = loader.loadImage(path);
    const auto end = std::chrono::steady_clock::now();
    ::alarm(0);
    Load result;
    result.seconds = std::chrono::duration<double>(end - start).count();
    const std::string lines = captured.text();
    const std::string refused = "Picture " + path + " not loaded: ";
    if (!pixels.empty()) {
        result.outcome = loaded;
        const int width = loader.getImageWidth();
        const int height = loader.getImageHeight();
        const std::size_t expected = std::size_t(TextureLoader::scanLineWidth(width)) * std::size_t(height);
        if (width <= 0 || height <= 0 || pixels.size() != expected)
            result.fault =
                fmt::format("loaded {} bytes of rows for a {}x{} picture", pixels.size(), width, height);
        else if (std::uint64_t(width) * std::uint64_t(height) > qvMaxPicturePixels ||
                 width > qvCommonMaxTextureSize || height > qvCommonMaxTextureSize)
            result.fault = fmt::format("loaded a {}x{} picture, beyond the largest", width, height);
        else if (lines.find(refused) != std::string::npos)
            result.fault = "loaded, and said it was not";
        return result;
    }
    const std::size_t at = lines.find(refused);
    if (at == std::string::npos) {
        result.fault = fmt::format("not loaded, and no line said why (it said \"{}\")", lines);
        return result;
    }
    const std::size_t from = at + refused.size();
    result.reason = lines.substr(from, lines.find('\n', from) - from);
    result.outcome = classify(result.reason, bytes, path, result.signal);
    if (result.reason.find("the picture decoder has stopped") != std::string::npos ||
        result.reason.find("the picture decoder is not running") != std::string::npos)
        result.fault = "the decoder process stopped";
    return result;
}

// ---- the run ---------------------------------------------------------------

struct Tally {
    int mutants = 0;
    int counts[2][outcomes] = {};  // by name: its own, another format's
    std::map<int, int> signals;
    double slowest = 0;
    std::string slowestWhich;
};

// Extensions the mutants are also named with: those of every format read.
std::vector<std::string> otherNames(const std::vector<Seed>& seeds)
{
    std::vector<std::string> names;
    for (const Seed& seed : seeds)
        if (std::find(names.begin(), names.end(), seed.extension) == names.end())
            names.push_back(seed.extension);
    for (const char* more : {"cut", "iff", "mng", "pct", "pcd", "hdp", "psb", "rgb", "tiff", "jpeg"})
        names.push_back(more);
    return names;
}

// The name another format gives the mutant: chosen from its index alone.
std::string otherExtension(const Seed& seed, const std::vector<std::string>& names, int index)
{
    std::mt19937 random(std::uint32_t(fnv(seed.name) ^ std::uint64_t(index) * 0x9E3779B97F4A7C15ull));
    for (;;) {
        const std::string& name = names[random() % names.size()];
        if (FreeImage_GetFIFFromFilename(("x." + name).c_str()) != seed.format) return name;
    }
}

std::string cell(const Tally& tally, Outcome outcome)
{
    return fmt::format("{}/{}", tally.counts[0][outcome], tally.counts[1][outcome]);
}

void printRow(FILE* out, const std::string& name, const Tally& tally)
{
    std::string signals;
    for (const auto& [signal, count] : tally.signals) signals += fmt::format(" {}:{}", signal, count);
    fmt::print(out, "{:20} {:>7} {:>11} {:>11} {:>9} {:>11} {:>9} {:>9} {:>11} {:>9.3f}  {}{}\n", name,
               tally.mutants, cell(tally, loaded), cell(tally, header), cell(tally, size), cell(tally, words),
               cell(tally, crash), cell(tally, limit), cell(tally, other), tally.slowest, tally.slowestWhich,
               signals.empty() ? "" : "  signals" + signals);
    std::fflush(out);
}

long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field)) return std::atol(line.c_str() + std::strlen(field));
    return 0;
}
long openFiles()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
}

}  // namespace

int main(int argc, char** argv)
{
    // Forked while this process has one thread.
    if (!qvStartDecoderProcess()) {
        fmt::print(stderr, "the decoder process cannot be started\n");
        return 1;
    }
    int mutantsEach = defaultMutants;
    std::uint64_t runSeed = 1;
    std::vector<std::string> only;
    std::string reproKind;
    int reproIndex = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--seed" && i + 1 < argc)
            runSeed = std::stoull(argv[++i]);
        else if (argument == "--repro" && i + 2 < argc) {
            reproKind = argv[++i];
            reproIndex = std::atoi(argv[++i]);
        } else if (argument == "--only") {
            while (i + 1 < argc && argv[i + 1][0] != '-') only.emplace_back(argv[++i]);
        } else
            mutantsEach = std::max(std::atoi(argument.c_str()), 0);
    }
    const std::vector<Seed> seeds = makeSeeds();
    const std::vector<std::string> names = otherNames(seeds);
    TextureLoader loader;

    if (reproIndex >= 0) {
        for (const Seed& seed : seeds) {
            if (seed.name != reproKind) continue;
            const Mutant mutant = mutate(seed, runSeed, reproIndex);
            fmt::print("{} #{}: {}\n", seed.name, reproIndex, mutant.how);
            for (const std::string& extension : {seed.extension, otherExtension(seed, names, reproIndex)}) {
                const std::string path =
                    fmt::format("/tmp/velmorin-mutant-{}-{}.{}", seed.name, reproIndex, extension);
                std::ofstream(path, std::ios::binary)
                    .write(reinterpret_cast<const char*>(mutant.bytes.data()),
                           std::streamsize(mutant.bytes.size()));
                const std::vector<std::uint8_t> pixels = loader.loadImage(path);
                if (!pixels.empty())
                    fmt::print("{}: loaded {}x{}\n", path, loader.getImageWidth(), loader.getImageHeight());
            }
            return 0;
        }
        fmt::print(stderr, "no kind {}\n", reproKind);
        return 1;
    }

    const std::filesystem::path directory = fmt::format("/tmp/velmorin-mutants-{}", ::getpid());
    std::filesystem::create_directories(directory);
    std::signal(SIGALRM, onHang);
    CapturedOutput captured;
    FILE* out = captured.out();
    const long filesBefore = openFiles();
    const auto runStart = std::chrono::steady_clock::now();

    // The seeds themselves load under their own names.
    fmt::print(out, "Seeds (bytes, as loaded unchanged under their own name):\n");
    for (const Seed& seed : seeds) {
        if (!only.empty() && std::find(only.begin(), only.end(), seed.name) == only.end()) continue;
        const std::string path = (directory / ("seed." + seed.extension)).string();
        const Load result = load(loader, captured, path, seed.bytes);
        fmt::print(out, "  {:20} {:>9}  {:.3f} s  {}\n", seed.name, seed.bytes.size(), result.seconds,
                   result.outcome == loaded
                       ? fmt::format("loaded {}x{}", loader.getImageWidth(), loader.getImageHeight())
                       : "NOT LOADED: " + result.reason);
    }
    std::fflush(out);
    const long kibBefore = statusKiB("VmRSS:");

    fmt::print(out, "\nEach count is own name / another format's name. Slowest in s, with its mutant.\n");
    fmt::print(out, "{:20} {:>7} {:>11} {:>11} {:>9} {:>11} {:>9} {:>9} {:>11} {:>9}\n", "kind", "mutants",
               "loaded", "header", "size", "words", "crash", "limit", "other", "slowest");
    Tally total;
    // Reasons with their numbers as N, by outcome: count and first mutant.
    std::map<std::string, int> reasons[outcomes];
    std::map<std::string, std::string> examples[outcomes];
    std::vector<std::string> faults;
    std::vector<std::string> crashes;
    for (const Seed& seed : seeds) {
        if (!only.empty() && std::find(only.begin(), only.end(), seed.name) == only.end()) continue;
        Tally tally;
        const int count = seed.large ? (mutantsEach + largeShare - 1) / largeShare : mutantsEach;
        for (int index = 0; index < count; ++index) {
            const Mutant mutant = mutate(seed, runSeed, index);
            ++tally.mutants;
            const std::string extensions[] = {seed.extension, otherExtension(seed, names, index)};
            for (int naming = 0; naming < 2; ++naming) {
                const std::string path = (directory / ("mutant." + extensions[naming])).string();
                const std::string which = fmt::format("{} {} .{}", seed.name, index, extensions[naming]);
                std::snprintf(hanging, sizeof hanging, "%s (%s), file left at %s", which.c_str(),
                              mutant.how.c_str(), path.c_str());
                const Load result = load(loader, captured, path, mutant.bytes);
                ++tally.counts[naming][result.outcome];
                if (result.outcome == crash) {
                    ++tally.signals[result.signal];
                    if (crashes.size() < 40) crashes.push_back(which + ": " + result.reason);
                }
                if (result.outcome != loaded) {
                    const std::string kind = pattern(result.reason);
                    if (reasons[result.outcome][kind]++ == 0) examples[result.outcome][kind] = which;
                }
                if (!result.fault.empty())
                    faults.push_back(fmt::format("{} ({}): {}", which, mutant.how, result.fault));
                if (result.seconds > tally.slowest) {
                    tally.slowest = result.seconds;
                    tally.slowestWhich = which;
                }
            }
            std::filesystem::remove(directory / ("mutant." + extensions[1]));
        }
        printRow(out, seed.name, tally);
        total.mutants += tally.mutants;
        for (int naming = 0; naming < 2; ++naming)
            for (int outcome = 0; outcome < outcomes; ++outcome)
                total.counts[naming][outcome] += tally.counts[naming][outcome];
        for (const auto& [signal, n] : tally.signals) total.signals[signal] += n;
        if (tally.slowest > total.slowest) {
            total.slowest = tally.slowest;
            total.slowestWhich = tally.slowestWhich;
        }
    }
    printRow(out, "total", total);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count();
    fmt::print(out, "\n{} mutants, {} loads in {:.1f} s ({:.1f} ms a load)\n", total.mutants,
               2 * total.mutants, seconds, 1000 * seconds / std::max(2 * total.mutants, 1));
    fmt::print(
        out,
        "bench process: {} open files before, {} after; resident {} KiB after the seeds, {} KiB at the end\n",
        filesBefore, openFiles(), kibBefore, statusKiB("VmRSS:"));
    for (int outcome = header; outcome < outcomes; ++outcome) {
        fmt::print(out, "\nCommonest reasons counted as {} (count, first mutant; of {} kinds):\n",
                   outcomeNames[outcome], reasons[outcome].size());
        std::vector<std::pair<int, std::string>> sorted;
        for (const auto& [kind, n] : reasons[outcome]) sorted.emplace_back(n, kind);
        std::sort(sorted.rbegin(), sorted.rend());
        sorted.resize(std::min(sorted.size(), mostReasonsShown));
        for (const auto& [n, kind] : sorted)
            fmt::print(out, "  {:6}  {}   [{}]\n", n, kind, examples[outcome][kind]);
    }
    fmt::print(out, "\nDecoder crashes (first {}):\n", crashes.size());
    for (const std::string& line : crashes) fmt::print(out, "  {}\n", line);
    fmt::print(out, "\nFaults: {}\n", faults.size());
    for (const std::string& line : faults) fmt::print(out, "  {}\n", line);
    std::fflush(out);
    std::filesystem::remove_all(directory);
    return faults.empty() ? 0 : 2;
}
