// qvradiance: Radiance HDR: how its text header and resolution line are read
// as FreeImage reads them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/picture/qvpictureformat.h"

// Its header reader: text lines, an empty one, then the resolution line; the
// rows after it, run-length coded or flat, must be able to fill the picture.
QvHeaderReading qvReadHdr(std::span<const std::uint8_t> file);

inline constexpr std::array<QvPictureFormat, 1> qvRadianceFormats{{
    {.format = FIF_HDR, .readHeader = qvReadHdr, .readInFull = true, .cost = {.largestBits = 96}},
}};
