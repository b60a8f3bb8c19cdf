// qvpicturedecode: a picture file's bytes decoded by FreeImage into pixel
// rows. FreeImage's decoders can crash, abort, loop or allocate without end
// on a file a user leaves under a picture's name, so only the decoder
// process (qvdecoderserver) runs this, each picture in a child of its own.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/picture/qvpicturefile.h"

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
    // Try every one of the loader's flag values in turn, not only the default
    // (the format's defaultFlags).
    bool retryFlags = false;
    // The longest side the caller can use; a picture with a longer side is
    // refused. Every caller gives its own: 0, the default, refuses every
    // picture.
    int maxSide = 0;
    QvPixelLayout layout = QvPixelLayout::rgbBottomRowFirst;
};

// Where a decoding reports as it goes.
class QvDecodeSink {
public:
    virtual ~QvDecodeSink() = default;
    // A decoder about to run over the file (once for each load), so that a
    // crash inside it can be named.
    virtual void decoding(FREE_IMAGE_FORMAT format) = 0;
    // Room for `bytes` of rows of a picture of that size; null when there is none.
    virtual std::uint8_t* rows(int width, int height, std::size_t bytes) = 0;
};

// How a decoding ended.
struct QvDecodeResult {
    // Why there is no picture; empty when its rows were written.
    std::string error;
    // What the decoder said of a picture it read all the same (a JPEG cut
    // short: its missing rows come out grey); empty when it said nothing.
    std::string remarks;
};

// Has FreeImage's messages heard by the decodings that follow, in this
// process and in the processes it forks (the first decoding does it where
// nothing did).
void qvHearFreeImage();

// Decodes a picture file as the format its header decided (qvReadPictureHeader)
// into the sink's rows. The header's size is checked first (qvHeaderProblem);
// where no reader of ours gave one, FreeImage's own header read gives it, or
// else the decoded size is checked before the pixels are copied. Flag values
// that read a file alike are not tried twice, and none after a decoder said
// why it failed. Valid files FreeImage refuses or misreads are handed to it
// rewritten, and its bitmap put back to what the file stores, as the
// format's row in the table of formats says (qvformattable). Floating-point
// pictures show their values, tone mapped only where some exceed 1, and
// CMYK ones their colours.
QvDecodeResult qvDecodePicture(std::span<const std::uint8_t> file, const QvPictureHeader& header,
                               const QvDecodeRequest& request, QvDecodeSink& sink);
