// qvjpeg2000: JPEG 2000, as a bare codestream (J2K) or in JP2 boxes: how
// their headers are read and what OpenJPEG's decoding costs.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/picture/qvpictureformat.h"

// A codestream: the SIZ segment after the start marker gives the reference
// grid, less the image offset, and the tiling; then every tile-part the
// codestream holds must lie in it.
QvHeaderReading qvReadJ2k(std::span<const std::uint8_t> file);
// JP2: the image header box gives height, then width; OpenJPEG refuses a
// codestream of another size, so where both are there the larger is safe.
QvHeaderReading qvReadJp2(std::span<const std::uint8_t> file);

// OpenJPEG holds every sample in 32 bits, and the coded data whole.
inline constexpr QvDecodingCost qvJpeg2000Cost{
    .largestBits = 64, .decoderBytesPerSample = 4, .bytesPerFileByte = 1, .cpuSecondsPerFileMiB = 0.2};

inline constexpr std::array<QvPictureFormat, 2> qvJpeg2000Formats{{
    {.format = FIF_J2K, .readHeader = qvReadJ2k, .readInFull = true, .cost = qvJpeg2000Cost},
    {.format = FIF_JP2, .readHeader = qvReadJp2, .readInFull = true, .cost = qvJpeg2000Cost},
}};
