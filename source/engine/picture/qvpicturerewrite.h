// qvpicturerewrite: valid picture files that FreeImage's decoders refuse or
// misread, rewritten into files of the same format that they read as the
// picture the original holds. Every BMP and every plain PBM goes through
// here before FreeImage sees it, the window icon's included.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/picture/qvimageheader.h"

// A file as FreeImage is to be handed it.
struct QvRewrittenPicture {
    // The rewritten file; empty when FreeImage reads the original as it is.
    std::vector<std::uint8_t> bytes;
    // Why the file cannot be read right at all; empty when it can.
    std::string problem;
};

// The file as FreeImage's decoder of `format` reads it right:
// - a BMP whose info header is neither the 12-byte OS/2 one nor the 40-byte
//   Windows one (the V2 to V5 headers image editors write, OS/2 2.x's)
//   gets the 40-byte header, its own fields kept;
// - a BMP whose pixels are colour masks (and every 16-bit one, which has
//   implied masks) gets 32-bit blue, green, red, alpha pixels, each channel
//   scaled from its mask with rounding, opaque without an alpha mask;
// - an 8-bit run-length BMP whose last row ends with an end of line ends
//   there with the end of the picture instead;
// - a plain PBM whose digits run together gets them apart, its width x
//   height digits only (what follows them is no part of the picture).
// A file that needs none of this is not copied.
QvRewrittenPicture qvRewriteForFreeImage(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file);

// The most bytes of a BMP's headers: its file header and the longest info
// header, which covers all qvReadBmpHeader reads (the masks that follow a
// 40-byte one included).
inline constexpr std::size_t qvBmpHeadersBytes = qvBmpFileHeader + qvBmpLongestHeader;

// Where the rows of a BMP stored plainly (uncompressed or as colour masks)
// end in the file, counted as the header says; nothing for run-length or
// other compressed pixels, whose length the rows do not tell.
std::optional<std::uint64_t> qvBmpRowsEnd(const QvBmpHeader& header);
