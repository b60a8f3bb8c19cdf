// Image files to OpenGL textures and cube maps, decoded apart from the
// program (qvdecoderprocess), and the JPEG screenshot writer. Pixel buffers
// are 24-bit RGB, rows padded to a multiple of 4 bytes, row 0 = the bottom
// row of the picture.
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
#include "engine/picture/qvdecoderprocess.h"
#include "engine/picture/qvpicturefile.h"
#include "engine/picture/qvpicturedecode.h"

// Reads a picture file of any format FreeImage decodes (qvReadPictureFile,
// its format named by the path), and decodes it in a child of the decoder
// process (qvDecodeApart) as `request` asks. Nothing, with the reason in
// `error`, when the file is not a regular file of at most 512 MiB, cannot be
// read, is no picture that may be decoded, or its decoder failed, crashed,
// reached a limit or stopped working.
std::optional<QvDecodedPicture> qvReadPicture(const std::string& path, const QvDecodeRequest& request,
                                              std::string& error);
// The line that says a picture was not loaded and why.
void qvReportUnloadedPicture(const std::string& path, const std::string& reason);
// The line that says what the decoder said of a picture it read all the same.
void qvReportPictureRemarks(const std::string& path, const std::string& remarks);
// A repeating, linearly filtered 2D texture of such rows (null pixels give an
// empty texture), uploaded whatever unpack alignment was left behind.
QvTexture qvCreateRgbTexture(int width, int height, const std::uint8_t* pixels);

// The usual largest texture side of current drivers: the bound on pictures
// read where no context can be asked for its own limit.
constexpr int qvCommonMaxTextureSize = 16384;

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
    // of the size most faces share (the earliest face's among sizes as
    // common) raises QvResourceError naming the file and the reason.
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

private:
    // The file's picture, bounded by maxImageSide, its size recorded;
    // nothing after the line saying why.
    std::optional<QvDecodedPicture> readPicture(const std::string& path);
    // The picture of a 2D texture, bounded by the driver's texture size, its
    // size recorded and printed; nothing after the line saying why.
    std::optional<QvDecodedPicture> readTexturePicture(const std::string& path);
};
