// qvimageheader: what a picture file claims, read from its header without
// decoding it, and whether the file can hold that picture, so a small file
// claiming a huge picture is refused before any decoder allocates it. Each
// format's reader stands in its family's file and gives this record;
// qvReadHeader (qvformattable) reads a file by the reader of its format.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

// Width and height a picture's header gives.
struct QvImageSize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
};

// The most pixels of one picture: those of a 7680x4320 screen, the largest
// this program is shown on. Larger claims are refused unread, as image
// libraries refuse decompression bombs.
inline constexpr std::uint64_t qvMaxPicturePixels = 7680ull * 4320;

// The fields of a BMP's headers that decide where and how its pixels lie
// (qvbmp reads them), for its reader, its rewrite for FreeImage and the
// window icon alike.
struct QvBmpHeader {
    std::uint32_t pixelOffset = 0;  // where the file header says the pixels start
    std::uint32_t infoSize = 0;     // the info header's length
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: rows top first
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t imageBytes = 0;
    std::uint64_t coloursUsed = 0;  // 0: all a palette of bitCount can hold
    // Red, green, blue, alpha, read for bit-field files (compression 3 or 6):
    // after a 40-byte header or inside a longer one (alpha from a 56-byte
    // header on, or compression 6). All 0 when the file ends before them.
    std::array<std::uint32_t, 4> masks{};
    bool os2 = false;      // a 12-byte OS/2 header, of 16-bit sides
    bool windows = false;  // a Windows header, where compression 3 means colour masks
    // Where the palette (or a 40-byte header's masks) after the info header
    // ends, and where the pixels start: there, or later where the file
    // header says so. Held at the largest number rather than wrapped.
    std::uint64_t tablesEnd = 0;
    std::uint64_t pixelsStart = 0;
    // Bytes of one stored row: whole 32-bit words.
    std::uint64_t rowBytes = 0;
};

// What the first directory of a TIFF (the page FreeImage reads) says beyond
// the picture's size.
struct QvTiffDirectory {
    // Its first extra sample is alpha its colours are multiplied by.
    bool associatedAlpha = false;
    // Its pixels are tiles of four 8- or 16-bit inks, CMYK.
    bool tiledInks = false;
    // Its pixels are 16-bit unsigned grey and one extra sample, alpha.
    bool wideGreyAlpha = false;
    // Its grey is 0 for white.
    bool minIsWhite = false;
};

// A Netpbm header's fields as netpbm reads them, a PFM header's as
// FreeImage's decoder does.
struct QvNetpbmHeader {
    char kind = 0;  // the character after "P": '1' to '6', 'F' or 'f'
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t maxValue = 0;  // 1 for a bitmap; 0 for PFM, which has a scale instead
    std::uint64_t pixelsStart = 0;
    // FreeImage reads the header otherwise: a comment starts straight after
    // one of its numbers, or ends at a carriage return alone.
    bool misreadByFreeImage = false;
};

// What a format's reader found that its rewrite and pixel fix-ups use.
// Plain data: it crosses to the decoding child with the size.
using QvFormatFacts = std::variant<std::monostate, QvBmpHeader, QvTiffDirectory, QvNetpbmHeader>;

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
    // The fields the format's rewrite and fix-ups need, where it has any.
    QvFormatFacts facts;
};
