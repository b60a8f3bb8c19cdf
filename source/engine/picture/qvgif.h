// qvgif: GIF: how its blocks are walked to the first image, the one
// FreeImage decodes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/picture/qvpictureformat.h"

// Its header reader: FreeImage allocates the first image's own size, whatever
// the logical screen says, and the LZW data after that image's descriptor
// must be able to fill it.
QvHeaderReading qvReadGif(std::span<const std::uint8_t> file);

inline constexpr std::array<QvPictureFormat, 1> qvGifFormats{{
    {.format = FIF_GIF,
     .readHeader = qvReadGif,
     .readInFull = true,
     .loadFlagsRead = GIF_LOAD256 | GIF_PLAYBACK},
}};
