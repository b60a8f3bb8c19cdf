// qvbmp: BMP, of Windows' and OS/2's headers: where its pixels lie, how its
// header is read, and the forms FreeImage 3.18's decoder is handed it in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/picture/qvpictureformat.h"

// The file header, and the longest info header (Windows' V5).
inline constexpr std::uint64_t qvBmpFileHeader = 14;
inline constexpr std::uint32_t qvBmpLongestHeader = 124;
// The most bytes of a BMP's headers: its file header and the longest info
// header, which covers all qvReadBmpHeader reads (the masks that follow a
// 40-byte one included).
inline constexpr std::size_t qvBmpHeadersBytes = qvBmpFileHeader + qvBmpLongestHeader;

// The BMP header of `file`; nothing when it does not start "BM" or is cut
// in the fixed fields. Not checked beyond that: its header reader does that.
std::optional<QvBmpHeader> qvReadBmpHeader(std::span<const std::uint8_t> file);

// Where a BMP's pixels end in its file as its header tells: after its rows
// where they are stored plainly (uncompressed or as colour masks), after the
// compressed pixels whose length it gives; nothing when it gives none.
std::optional<std::uint64_t> qvBmpPixelsEnd(const QvBmpHeader& header);

// Its header reader. Rows stored plainly must all be in the file; run-length
// rows may end the picture early, so only the size bounds them.
QvHeaderReading qvReadBmp(std::span<const std::uint8_t> file);

// The file as FreeImage's decoder reads it right:
// - a BMP whose info header is neither the 12-byte OS/2 one nor the 40-byte
//   Windows one (the V2 to V5 headers image editors write, OS/2 2.x's)
//   gets the 40-byte header, its own fields kept;
// - a BMP whose pixels are colour masks (and every 16-bit one, which has
//   implied masks) gets 32-bit blue, green, red, alpha pixels, each channel
//   scaled from its mask with rounding, opaque without an alpha mask;
// - an 8-bit run-length BMP whose last row ends with an end of line ends
//   there with the end of the picture instead.
// A file that needs none of this is not copied.
QvRewrittenPicture qvRewriteBmp(std::span<const std::uint8_t> file, const QvHeaderReading& header);

inline constexpr std::array<QvPictureFormat, 1> qvBmpFormats{{
    {.format = FIF_BMP,
     .readHeader = qvReadBmp,
     .readInFull = true,
     // A BMP of colour masks or 16 bits goes to FreeImage rewritten as 32-bit
     // pixels: a second file, and a larger bitmap.
     .cost = {.largestBits = 32, .decoderBytesPerSample = 2},
     .rewrite = qvRewriteBmp},
}};
