// qvimageheader: the size a picture claims, read from the fixed header of the
// formats whose size FreeImage cannot give without decoding the pixels, so a
// small file claiming a huge picture can be refused before it is decoded.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <optional>
#include <span>

// Width and height a picture's header gives.
struct QvImageSize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
};

// The size a picture of `format` gives in its header, read without decoding;
// nothing when the format has no such reader here or the header is cut short
// or malformed. Read here: GIF, DDS, SGI, J2K, JP2, IFF (LBM), MNG, WBMP, XBM,
// PICT and KOALA. The size is the one FreeImage allocates when it decodes the
// file, or a larger one where FreeImage may choose between two.
std::optional<QvImageSize> qvHeaderImageSize(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file);
