// qvpng: PNG and its kin: how PNG's chunks are read and held against the
// file, and how an MNG's first PNG or JNG image gives its size.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/picture/qvpictureformat.h"

// PNG: every chunk must lie in the file, and the image data must be able to
// inflate to the pixels the header claims.
QvHeaderReading qvReadPng(std::span<const std::uint8_t> file);
// MNG, read for its size alone: FreeImage decodes the first PNG or JNG inside
// at that image's own size, whatever frame size the MNG header gives.
QvHeaderReading qvReadMngSize(std::span<const std::uint8_t> file);

inline constexpr std::array<QvPictureFormat, 2> qvPngFormats{{
    {.format = FIF_PNG,
     .readHeader = qvReadPng,
     .readInFull = true,
     .cost = {.largestBits = 64},
     .loadFlagsRead = PNG_IGNOREGAMMA},
    {.format = FIF_MNG, .readHeader = qvReadMngSize},
}};
