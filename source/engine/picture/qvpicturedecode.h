// qvpicturedecode: a picture file's bytes decoded by FreeImage into pixel
// rows. FreeImage's decoders can crash, abort, loop or allocate without end
// on a file a user leaves under a picture's name, so only the decoder
// process (qvdecoderprocess) runs this, each picture in a child of its own.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/picture/qvimageheader.h"

// The reason given for a picture whose pixels do not fit in the memory left.
inline constexpr char qvNoMemoryForPicture[] = "not enough memory to read it";

// How decoded pixels are laid out.
enum class QvPixelLayout : std::uint8_t {
    // RGB, rows padded to 4 bytes, the bottom row first: TextureLoader's buffers.
    rgbBottomRowFirst,
    // The same rows, the top row first: cube-map faces, models' flipped textures.
    rgbTopRowFirst,
    // Tightly packed RGBA, the top row first, opaque without alpha: the window icon.
    rgbaTopRowFirst,
};
// Bytes of one row of `width` pixels in that layout.
std::size_t qvRowBytes(QvPixelLayout layout, int width);

// What is asked of a decoding. Plain data: it crosses to the decoder process.
struct QvDecodeRequest {
    // The format the file's name says; FIF_UNKNOWN when it says none.
    FREE_IMAGE_FORMAT named = FIF_UNKNOWN;
    // Try every one of the loader's flag values in turn, not only the default.
    bool retryFlags = false;
    // The longest side the caller can use.
    int maxSide = 0;
    QvPixelLayout layout = QvPixelLayout::rgbBottomRowFirst;
};

// Where a decoding reports as it goes.
class QvDecodeSink {
public:
    virtual ~QvDecodeSink() = default;
    // The decoder about to run, so that a crash inside it can be named.
    virtual void decoding(FREE_IMAGE_FORMAT format) = 0;
    // Room for `bytes` of rows; null when there is none.
    virtual std::uint8_t* rows(std::size_t bytes) = 0;
};

// How a decoding ended.
struct QvDecodeResult {
    bool decoded = false;
    int width = 0;
    int height = 0;
    // Why there is no picture; empty when there is one.
    std::string error;
    // What the decoder said of a picture it read all the same (a JPEG cut
    // short: its missing rows come out grey); empty when it said nothing.
    std::string remarks;
    // FreeImage loads tried, each with another flag value or format.
    int attempts = 0;
};

// Why a picture of that size is not read: a side exceeds maxSide, or it has
// more than qvMaxPicturePixels; empty when it may be read.
std::string qvImageSizeProblem(QvImageSize size, std::uint64_t maxSide);

// Decodes a picture file of any format FreeImage reads into the sink's rows.
// The format comes from the name and, when that format does not read it,
// from the contents, but only among the formats whose decoders are trusted
// with what a file's content alone claims (the others are refused, naming
// the format). Its header is read before any decoding (qvReadHeader, or
// FreeImage's own header read), its size checked (qvImageSizeProblem) and
// the file held to what the header claims; where no header tells the size,
// it is checked right after decoding, before the pixels are copied. Flag
// values that read a file alike are not tried twice, and none after a
// decode that failed on the file's data. Valid files FreeImage refuses or
// misreads are handed to it rewritten (qvRewriteForFreeImage) and its
// bitmap put back to what the file stores (qvAsStored). Floating-point
// pictures show their values, tone mapped only where some exceed 1, and
// CMYK ones their colours.
QvDecodeResult qvDecodePicture(std::span<const std::uint8_t> file, const QvDecodeRequest& request,
                               QvDecodeSink& sink);
