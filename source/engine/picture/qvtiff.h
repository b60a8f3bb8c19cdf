// qvtiff: TIFF and BigTIFF: how the first directory, the page FreeImage
// reads, is read and held against the file, and what FreeImage 3.18's
// decoder makes of associated alpha, of 16-bit grey with alpha or of 0 for
// white and of tiled inks.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/picture/qvpictureformat.h"

// Its header reader: every strip or tile the first directory points to must
// lie in the file and be able to hold its share of the pixels in its coding.
QvHeaderReading qvReadTiff(std::span<const std::uint8_t> file);

// A TIFF of associated alpha (ExtraSamples 1) stores its colours multiplied
// by their alpha: they are divided by it where it is above 0, as every other
// picture with alpha comes. 16-bit grey and alpha, which FreeImage hands
// back as the bytes of 8-bit colours, is put back as 8-bit grey and alpha;
// 16-bit grey alone of 0 for white, which it hands back as stored, is
// inverted. A tiled CMYK TIFF's inks are put in their order and marked as
// inks, as those of strips come.
void qvTiffAsStored(FIBITMAP* bitmap, int flags, const QvHeaderReading& header,
                    std::span<const std::uint8_t> file);

inline constexpr std::array<QvPictureFormat, 1> qvTiffFormats{{
    {.format = FIF_TIFF,
     .readHeader = qvReadTiff,
     .readInFull = true,
     .cost = {.largestBits = 128},
     .asStored = qvTiffAsStored,
     .loadFlagsRead = TIFF_CMYK},
}};
