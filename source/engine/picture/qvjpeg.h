// qvjpeg: JPEG: how its markers are walked and what its decoder costs.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/picture/qvpictureformat.h"

// Its header reader: every marker of the file, each segment in it, the
// entropy-coded data between them skipped as the decoder skips it. A
// Huffman-coded sequential scan, or a progressive scan's first pass over DC,
// takes at least a bit for each block of its components; arithmetic coding,
// and a progressive AC scan's runs of empty blocks, have no such floor.
QvHeaderReading qvReadJpeg(std::span<const std::uint8_t> file);

inline constexpr std::array<QvPictureFormat, 1> qvJpegFormats{{
    {.format = FIF_JPEG,
     .readHeader = qvReadJpeg,
     .readInFull = true,
     .cost = {.largestBits = 32, .decoderBytesPerSample = 2, .cpuSecondsPerFileMiB = 0.03},
     // Its DCT, CMYK, rotation and grey flags, and the size it is scaled to
     // on loading in the high word.
     .loadFlagsRead = JPEG_FAST | JPEG_ACCURATE | JPEG_CMYK | JPEG_EXIFROTATE | JPEG_GREYSCALE | ~0xFFFF},
}};
