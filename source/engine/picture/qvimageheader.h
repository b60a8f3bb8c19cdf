// qvimageheader: what a picture file claims, read from its header without
// decoding it, and whether the file can hold that picture, so a small file
// claiming a huge picture is refused before any decoder allocates it.
#pragma once

#include <FreeImage.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Width and height a picture's header gives.
struct QvImageSize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
};

// The most pixels of one picture: those of a 7680x4320 screen, the largest
// this program is shown on. Larger claims are refused unread, as image
// libraries refuse decompression bombs.
inline constexpr std::uint64_t qvMaxPicturePixels = 7680ull * 4320;

// What a picture's header says.
struct QvHeaderReading {
    // The size the decoder allocates; nothing when it was not read. A size
    // with a side of 0 or more than qvMaxPicturePixels ends the reading:
    // nothing after it in the file is checked, the size being the news.
    std::optional<QvImageSize> size;
    // Why the file cannot be the picture it claims: it is not of that format
    // at all, it is cut short, damaged (a side of 0 among that), a part its
    // header points to lies outside it, or its coding cannot pack that many
    // pixels into its bytes.
    // Empty when it can, and when the format has no reader here.
    std::string problem;
    // Whether the problem rules the file out: its signature is the format's,
    // but it cannot be the picture it claims (all of the above but the
    // first), so it is refused. Not fatal: the file is not of that format at
    // all, and the format its content shows may be tried. Every reader keeps
    // to this; never set without a problem.
    bool fatal = false;
    // How FreeImage's decoder holds a pixel of this picture, decoding it with
    // flags 0: the bits of one pixel of its bitmap (24 for 8-bit RGB, 48 for
    // 16-bit RGB, 96 for float RGB) and whether the samples are floating
    // point. 0 when the header does not tell; the decoder's memory limit then
    // assumes the format's largest.
    std::uint32_t bitmapBits = 0;
    bool floatSamples = false;
};

// A BMP's layout, shared by its header reader and its rewrite for FreeImage:
// the file header, the info headers' lengths (OS/2's first, the shortest
// read, Windows' first, the longest), where the number of colours used
// lies, and the compression codes.
inline constexpr std::uint64_t qvBmpFileHeader = 14;
inline constexpr std::uint32_t qvBmpOs2Header = 12, qvBmpShortestHeader = 16, qvBmpPlainHeader = 40,
                               qvBmpLongestHeader = 124;
inline constexpr std::uint64_t qvBmpColoursUsedAt = qvBmpFileHeader + 32;
inline constexpr std::uint32_t qvBmpUncompressed = 0, qvBmpRle8 = 1, qvBmpRle4 = 2, qvBmpBitFields = 3,
                               qvBmpAlphaBitFields = 6;

// The fields of a BMP's headers that decide how its pixels are read.
struct QvBmpHeader {
    std::uint32_t pixelOffset = 0;
    std::uint32_t infoSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: rows top first
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t imageBytes = 0;
    // Red, green, blue, alpha, read for bit-field files (compression 3 or 6):
    // after a 40-byte header or inside a longer one (alpha from a 56-byte
    // header on, or compression 6). All 0 when the file ends before them.
    std::array<std::uint32_t, 4> masks{};
    bool os2 = false;  // a 12-byte OS/2 header, of 16-bit sides
};

// The BMP header of `file`; nothing when it does not start "BM" or is cut
// in the fixed fields. Not checked beyond that: qvReadHeader does that.
std::optional<QvBmpHeader> qvReadBmpHeader(std::span<const std::uint8_t> file);

// Whether qvReadHeader reads `format` in full: a size or a problem, never
// neither.
bool qvHeaderReadsFully(FREE_IMAGE_FORMAT format);

// Whether the decoder of `format` is trusted with a file whose name says
// another format, its content showing this one: those read in full.
bool qvReadByContent(FREE_IMAGE_FORMAT format);

// The header of a file decoded as `format`: in full (size and checks against
// the file), or only the size where FreeImage has no header read of its own,
// as the table of formats in qvimageheader.cpp says; nothing for others. The
// size is the one FreeImage allocates when it decodes the file, or a larger
// one where FreeImage may choose between two.
QvHeaderReading qvReadHeader(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file);
