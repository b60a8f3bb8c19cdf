// qvpng: PNG's chunks read in place (a file may hold tens of millions), the
// pixel FreeImage makes of each colour type and depth, and the PNG or JNG
// header inside an MNG.
#include "engine/picture/qvpng.h"

#include "engine/picture/qvheaderreader.h"

#include <fmt/core.h>

#include <string>
#include <string_view>

using namespace qvheader;

namespace {

constexpr std::string_view pngSignature{"\x89PNG\r\n\x1a\n", 8};
constexpr std::string_view mngSignature{"\x8aMNG\r\n\x1a\n", 8};
// The longest a chunk may be.
constexpr std::uint64_t pngLargestLength = 0x7FFFFFFF;
// Samples a pixel of each colour type: grey, -, RGB, palette, grey and alpha, -, RGBA.
constexpr std::array<std::uint64_t, 7> pngChannels{1, 0, 3, 1, 2, 0, 4};

// The length and type of the chunk at `at`, which must have them.
std::uint64_t chunkLength(Bytes file, std::uint64_t at)
{
    return QvByteCursor::numberAt<4>(file.data() + at, true);
}
std::uint64_t chunkType(Bytes file, std::uint64_t at)
{
    return QvByteCursor::numberAt<4>(file.data() + at + 4, true);
}

// Whether the four characters of a chunk type are ASCII letters, as every
// PNG chunk's are.
bool isChunkType(std::uint64_t type)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint64_t lower = (type >> shift & 0xFF) | 0x20;
        if (lower < 'a' || lower > 'z') return false;
    }
    return true;
}
std::string chunkName(std::uint64_t type)
{
    return {char(type >> 24), char(type >> 16), char(type >> 8), char(type)};
}

// How FreeImage holds a pixel of each PNG colour type and depth, plain and
// with a transparency chunk (found by decoding each); MNG's images alike.
struct PngHold {
    std::uint64_t colourType, depth;
    std::uint32_t plain, transparent;
};
constexpr PngHold pngHolds[] = {{0, 1, 1, 8},    {0, 2, 8, 8},   {0, 4, 4, 8},    {0, 8, 8, 8},
                                {0, 16, 16, 64}, {2, 8, 24, 32}, {2, 16, 48, 64}, {3, 1, 1, 8},
                                {3, 2, 8, 8},    {3, 4, 4, 8},   {3, 8, 8, 8},    {4, 8, 32, 32},
                                {4, 16, 64, 64}, {6, 8, 32, 32}, {6, 16, 64, 64}};
PixelHold pngHold(std::uint64_t colourType, std::uint64_t depth, bool transparent)
{
    for (const PngHold& hold : pngHolds)
        if (hold.colourType == colourType && hold.depth == depth)
            return {transparent ? hold.transparent : hold.plain};
    return {};
}

// Whether the chunks before a PNG's image data give it transparency as libpng
// takes it: a tRNS chunk of two bytes for grey, six for RGB, or one for each
// of at most as many palette entries as the PLTE before it has.
class PngTransparency {
public:
    explicit PngTransparency(std::uint64_t colourType) : colourType_(colourType) {}
    void see(std::uint64_t type, std::uint64_t length)
    {
        if (type == tag("PLTE")) paletteEntries_ = length / 3;
        if (type == tag("tRNS"))
            found_ = found_ || (colourType_ == 0 && length == 2) || (colourType_ == 2 && length == 6) ||
                     (colourType_ == 3 && length >= 1 && length <= paletteEntries_);
    }
    bool found() const { return found_; }

private:
    std::uint64_t colourType_;
    std::uint64_t paletteEntries_ = 0;
    bool found_ = false;
};

// Walks a PNG's chunks after its signature, adding up the lengths of its
// image data and seeing those before it for transparency; why one cannot be
// there, or nothing.
std::string walkPngChunks(Bytes file, std::uint64_t& imageData, PngTransparency& transparency)
{
    bool imageStarted = false;
    for (std::uint64_t at = pngSignature.size(); at < file.size();) {
        if (file.size() - at < 8)
            return fmt::format("it is cut short in the header of its chunk at byte {}", at);
        const std::uint64_t length = chunkLength(file, at);
        const std::uint64_t type = chunkType(file, at);
        if (length > pngLargestLength || !isChunkType(type))
            return fmt::format("its header is damaged: no chunk can start at byte {}", at);
        if (!within(at, length + 12, file.size()))
            return runsPast(chunkName(type) + " chunk", at, file.size());
        imageStarted = imageStarted || type == tag("IDAT");
        if (type == tag("IDAT")) imageData += length;
        if (!imageStarted) transparency.see(type, length);
        if (type == tag("IEND")) break;
        at += length + 12;
    }
    return {};
}

// FreeImage holds a JNG of grey as 8 bits, of colour as RGB, with alpha as
// RGBA (found by decoding each).
PixelHold jngHold(std::uint64_t colourType)
{
    switch (colourType) {
    case 8:
        return {8};
    case 10:
        return {24};
    case 12:
    case 14:
        return {32};
    default:
        return {};
    }
}

// A PNG inside an MNG is held as a PNG file: its chunks from `at` on, up to
// its image data, may give it transparency.
PixelHold mngPngHold(Bytes file, std::uint64_t at, std::uint64_t colourType, std::uint64_t depth)
{
    PngTransparency transparency(colourType);
    for (; at + 8 <= file.size(); at += 12 + chunkLength(file, at)) {
        const std::uint64_t type = chunkType(file, at);
        if (type == tag("IDAT") || type == tag("IEND")) break;
        transparency.see(type, chunkLength(file, at));
    }
    return pngHold(colourType, depth, transparency.found());
}

}  // namespace

QvHeaderReading qvReadPng(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (!in.expect(pngSignature)) return notA("PNG");
    in.skip(4);
    if (!in.expect("IHDR")) return in.cut() || in.left() < 4 ? cutInHeader() : damaged("no IHDR chunk first");
    const QvImageSize size{in.be(4), in.be(4)};
    const std::uint64_t depth = in.be(1);
    const std::uint64_t colourType = in.be(1);
    if (in.cut()) return cutInHeader();
    if (colourType >= pngChannels.size() || pngChannels[colourType] == 0 || depth == 0 || depth > 16 ||
        (depth & (depth - 1)) != 0)
        return damaged(fmt::format("colour type {} of {} bits", colourType, depth));
    if (settled(size)) return sized(size, pngHold(colourType, depth, false));
    std::uint64_t imageData = 0;
    PngTransparency transparency(colourType);
    std::string problem = walkPngChunks(file, imageData, transparency);
    if (problem.empty()) {
        const std::uint64_t pixelBytes =
            times(packedBytes(size.width, times(depth, pngChannels[colourType])), size.height);
        problem = packing(size, pixelBytes, imageData, deflateBytesPerByte, "deflate");
    }
    return sized(size, pngHold(colourType, depth, transparency.found()), std::move(problem));
}

QvHeaderReading qvReadMngSize(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (!in.expect(mngSignature)) return {};
    // Chunks read in place: a file may hold tens of millions.
    for (std::uint64_t at = mngSignature.size(); at + 8 <= file.size();) {
        const std::uint64_t length = chunkLength(file, at);
        const std::uint64_t type = chunkType(file, at);
        if (type == tag("IHDR") || type == tag("JHDR")) {
            in.seek(at + 8);
            const std::uint64_t width = in.be(4);
            const std::uint64_t height = in.be(4);
            QvByteCursor kind = in;
            const std::uint64_t depth = kind.be(1);
            const std::uint64_t colourType = kind.be(1);
            PixelHold hold;
            if (!kind.cut())
                hold = type == tag("JHDR") ? jngHold(colourType)
                                           : mngPngHold(file, at + 12 + length, colourType, depth);
            return unlessCut(in, {width, height}, hold);
        }
        if (type == tag("MEND")) return {};
        at += 12 + length;  // length, type, data and checksum
    }
    return {};
}
