// Image files to OpenGL textures and cube maps through FreeImage, and the
// JPEG screenshot writer. Pixel buffers are 24-bit RGB, rows padded to a
// multiple of 4 bytes, row 0 = the bottom row of the picture.
#pragma once

#include <epoxy/gl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvimageheader.h"

struct FIBITMAP;

// A FreeImage bitmap that unloads itself.
struct QvBitmapDeleter {
    void operator()(FIBITMAP* bitmap) const;
};
using QvBitmap = std::unique_ptr<FIBITMAP, QvBitmapDeleter>;

// The usual largest texture side of current drivers: the bound on pictures
// read where no context can be asked for its own limit.
constexpr int qvCommonMaxTextureSize = 16384;

// The reason given for a picture whose pixels do not fit in the memory left.
inline constexpr char qvNoMemoryForPicture[] = "not enough memory to read it";

// Why a picture of that size is not read: a side exceeds maxSide, or it has
// more than qvMaxPicturePixels; empty when it may be read.
std::string qvImageSizeProblem(QvImageSize size, std::uint64_t maxSide);

// The size in a picture's header, read without decoding its pixels, or
// nothing; and in `error` why the picture cannot be decoded, empty when it
// can: FreeImage does not know the format, does not trust its decoder with a
// file's content alone (see qvReadPicture), or the file cannot hold the
// picture its header claims (see qvReadHeader).
std::optional<QvImageSize> qvReadImageSize(std::span<const std::uint8_t> file, std::string& error);

// How a picture file is read.
struct QvPictureReading {
    // Try every one of the loader's flag values in turn, not only the default.
    bool retryFlags = false;
    // Rows of the picture's top first, as cube-map faces and the flipped
    // texture coordinates of models take them; otherwise the bottom first.
    bool topRowFirst = false;
    int maxSide = qvCommonMaxTextureSize;
};

// A picture as RGB rows of TextureLoader::scanLineWidth bytes.
struct QvPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rows;
    // What the decoder said of the file although it read it (a JPEG cut
    // short: its missing rows come out grey); empty when it said nothing.
    std::string remarks;
};

// Reads a picture file of any format FreeImage decodes. Only a regular file
// of at most 512 MiB is opened (a larger one is refused from its size). The
// format comes from the name and, when that format does not read it, from
// the contents, but only among the formats whose decoders are trusted with
// what a file's content alone claims (the others are refused, naming the
// format). Its header is read before any decoding (qvReadHeader, or
// FreeImage's own header read), its size checked (qvImageSizeProblem) and
// the file held to what the header claims; where no header tells the size,
// it is checked right after decoding, before the pixels are copied. Flag
// values that read a file alike are not tried twice. Floating-point pictures
// are tone mapped. Nothing, with the reason in `error` (FreeImage's own
// words where it gives any), when the file is not a regular file, cannot be
// read, is no picture FreeImage can read, has a refused size, cannot hold
// the picture it claims or needs more memory than there is.
std::optional<QvPicture> qvReadPicture(const std::string& path, const QvPictureReading& how,
                                       std::string& error);
// The line that says a picture was not loaded and why.
void qvReportUnloadedPicture(const std::string& path, const std::string& reason);

// The image file as a bitmap, read as qvReadPicture reads it with flag 0;
// null, after a line naming the file and the reason, when unreadable. What
// the decoder said of a file it read is printed too.
QvBitmap qvReadBitmap(const std::string& path, int maxSide = qvCommonMaxTextureSize);
// The bytes of an image file as a bitmap (format from its contents), its
// header read first as qvReadImageSize reads it; null, with the reason in
// `error` (FreeImage's own words where it gives any), when that fails, the
// picture exceeds the common texture size, or the decoder cannot read it.
QvBitmap qvReadBitmap(std::span<const std::uint8_t> file, std::string& error);

// A bitmap of any bit depth or pixel type as RGB rows of
// TextureLoader::scanLineWidth bytes (floating-point pixels tone mapped); row
// 0 is the bitmap's row 0 (the bottom) unless topRowFirst. Empty when
// FreeImage has no memory for the conversion; std::bad_alloc when the rows
// do not fit.
std::vector<std::uint8_t> qvBitmapPixels(FIBITMAP* bitmap, bool topRowFirst);
// A bitmap of any bit depth as tightly packed RGBA rows, top row first;
// without an alpha channel every pixel is opaque.
std::vector<std::uint8_t> qvBitmapRgbaPixels(FIBITMAP* bitmap);
// A repeating, linearly filtered 2D texture of such rows (null pixels give an
// empty texture), uploaded whatever unpack alignment was left behind.
QvTexture qvCreateRgbTexture(int width, int height, const std::uint8_t* pixels);

// A resource the program cannot start without (a sky face) did not load.
class QvResourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TextureLoader {
public:
    TextureLoader() = default;
    virtual ~TextureLoader() = default;

    // Writes a pixel buffer (layout above) as a JPEG; false, with a printed
    // line, when the file cannot be written, and then a file already there
    // under that name is left whole.
    virtual bool saveImage(const std::string& name, int width, int height, const std::uint8_t* pixels);
    // The file's pixels, or an empty buffer (and a recorded size of 0 x 0)
    // when it cannot be read or is larger than maxImageSide, with a line
    // naming the file and the reason (as qvReadPicture). Needs no GL context.
    virtual std::vector<std::uint8_t> loadImage(const std::string& path);
    // A 2D texture of the file; none when it cannot be read or exceeds the
    // driver's texture size (size unchanged), with a line saying why.
    virtual QvTexture loadTexture(const std::string& path);
    // As above, also handing back the pixels and their row length.
    virtual QvTexture loadTexture(const std::string& path, std::vector<std::uint8_t>& pixels, int& stride);
    virtual int getImageWidth() const { return imageWidth; }
    virtual int getImageHeight() const { return imageHeight; }
    // A cube map of six faces ordered +X, -X, +Y, -Y, +Z, -Z; a face that
    // cannot be read, exceeds the driver's cube-map size, or is not a square
    // of the first face's size raises QvResourceError naming the file and
    // the reason.
    virtual QvTexture loadCubemap(const std::vector<std::string>& paths);

    // Reads the current read framebuffer (call before the buffer swap) and
    // writes it as a JPEG; false when the size is empty or writing fails.
    bool saveScreenshot(const std::string& name, int width, int height);

    // Bytes per row of the pixel buffers: 3 x width rounded up to 4.
    static int scanLineWidth(int width);

    int imageWidth = 0;
    int imageHeight = 0;
    // Largest picture side read. loadTexture sets it to the driver's texture
    // limit; loadImage, which may run without a context, takes it as it is.
    int maxImageSide = qvCommonMaxTextureSize;
};
