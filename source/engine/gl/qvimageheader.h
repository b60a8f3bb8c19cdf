// qvimageheader: what a picture file claims, read from its header without
// decoding it, and whether the file can hold that picture, so a small file
// claiming a huge picture is refused before any decoder allocates it.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Width and height a picture's header gives.
struct QvImageSize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
};

// The most pixels of one picture: those of a 7680x4320 screen, the largest
// this program is shown on. Larger claims are refused unread, as image
// libraries refuse decompression bombs.
inline constexpr std::uint64_t qvMaxPicturePixels = 7680ull * 4320;

// What a picture's header says.
struct QvHeaderReading {
    // The size the decoder allocates; nothing when it was not read.
    std::optional<QvImageSize> size;
    // Why the file cannot be the picture it claims: it is not of that format
    // at all, it is cut short, a part its header points to lies outside it,
    // or its coding cannot pack that many pixels into its bytes. Empty when
    // it can, and when the format has no reader here.
    std::string problem;
    bool fatal = false;
};

// Whether qvReadHeader reads `format` in full: a size or a problem, never
// neither. Those are the formats whose decoders are given files of any
// content (the loader's list), and JPEG, PNG and BMP, the program's own.
bool qvHeaderReadsFully(FREE_IMAGE_FORMAT format);
bool qvReadByContent(FREE_IMAGE_FORMAT format);

// The header of a file decoded as `format`. Read in full (size and checks
// against the file): BMP, GIF, HDR, J2K, JP2, JPEG, the Netpbm formats, PFM,
// PNG, SGI and TIFF. Only the size, where FreeImage has no header read of its
// own: DDS, IFF (LBM), MNG, WBMP, XBM, PICT and KOALA. The size is the one
// FreeImage allocates when it decodes the file, or a larger one where
// FreeImage may choose between two.
QvHeaderReading qvReadHeader(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file);
