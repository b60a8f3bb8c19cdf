// Texture loader: reading images with FreeImage into padded RGB buffers,
// uploading them as 2D textures or cube-map faces, and writing JPEG files.
#include "engine/gl/qvloadimage.h"

#include "engine/core/qvfiles.h"

#include <FreeImage.h>
#include <fmt/core.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <memory>

namespace {

// FreeImage's JPEG flag values in their declaration order, then the default;
// every format is tried with each in turn until one loads.
constexpr int loadFlags[] = {1,    2,    4,    8,     16,    128,   256,    512,    1024,
                             2048, 8192, 4096, 16384, 32768, 65536, 131072, 262144, 0};
constexpr int jpegQualitySuperb = 128;
constexpr int bytesPerPixel = 3;
constexpr GLint rowAlignment = 4;  // matches scanLineWidth

using Bitmap = QvBitmap;

void reportRefusal(const std::string& path, const std::string& reason)
{
    fmt::print("Picture {} not loaded: {}\n", path, reason);
    std::fflush(stdout);
}

// Reads the picture's header alone, so that a small file claiming a huge
// size costs nothing. False when the picture must not be decoded: a size
// refused (with a line naming the file), or a header that does not read (in
// silence, as for any unreadable file).
bool sizeReadable(FREE_IMAGE_FORMAT format, const std::string& path, int maxSide)
{
    if (!FreeImage_FIFSupportsNoPixels(format)) {
        reportRefusal(path, fmt::format("the size of a {} picture cannot be read before decoding it",
                                        FreeImage_GetFormatFromFIF(format)));
        return false;
    }
    const Bitmap header(FreeImage_Load(format, path.c_str(), FIF_LOAD_NOPIXELS));
    if (!header) {
        return false;
    }
    const QvImageSize size{FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get())};
    const std::string problem = qvImageSizeProblem(size, std::uint64_t(std::max(maxSide, 0)));
    if (!problem.empty()) {
        reportRefusal(path, problem);
        return false;
    }
    return true;
}

// Reads the file with the default flags, or trying every flag value in turn
// when retry is set; null when nothing reads it or its size is refused.
Bitmap readBitmap(const std::string& path, bool retry, int maxSide)
{
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    if (format == FIF_UNKNOWN || !sizeReadable(format, path, maxSide)) {
        return nullptr;
    }
    if (!retry) {
        return Bitmap(FreeImage_Load(format, path.c_str(), 0));
    }
    for (const int flags : loadFlags) {
        // 32768 (JPEG_SUBSAMPLING_444) is also FIF_LOAD_NOPIXELS: the header
        // alone that it reads of a broken picture is no picture.
        Bitmap bitmap(FreeImage_Load(format, path.c_str(), flags));
        if (bitmap && FreeImage_HasPixels(bitmap.get())) {
            return bitmap;
        }
    }
    return nullptr;
}

void printSizeLines(int width, int height)
{
    fmt::print("width = {}, height = {}\n", width, height);
    fmt::print("remainder = {}\n", width % 3);
    fmt::print("scanLineWidth = {}\n", TextureLoader::scanLineWidth(width));
}

// Uploads one RGB image with rows padded to 4 bytes, whatever unpack
// alignment another module left behind (the bitmap font sets 1).
void uploadImage(GLenum target, int width, int height, const std::uint8_t* pixels)
{
    GLint previous = rowAlignment;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previous);
    glPixelStorei(GL_UNPACK_ALIGNMENT, rowAlignment);
    glTexImage2D(target, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, previous);
}

// The driver's limit on a side of a texture of the given kind; the common
// limit when the driver gives none.
int driverMaxSize(GLenum limit)
{
    GLint size = 0;
    glGetIntegerv(limit, &size);
    return size > 0 ? size : qvCommonMaxTextureSize;
}

// Writes RGB rows (row 0 at the bottom) of the given length as a JPEG;
// false with the reason in `error` when it cannot.
bool writeJpeg(const std::string& name, int width, int height, const std::uint8_t* pixels, int stride,
               std::string& error)
{
    error = "the picture cannot be encoded";
    const Bitmap bitmap(FreeImage_Allocate(width, height, 24, 0, 0, 0));
    if (!bitmap) {
        return false;
    }
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap.get(), y);
        const std::uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            line[x * 3 + FI_RGBA_RED] = row[x * 3 + 0];
            line[x * 3 + FI_RGBA_GREEN] = row[x * 3 + 1];
            line[x * 3 + FI_RGBA_BLUE] = row[x * 3 + 2];
        }
    }
    // Encoded in memory first: the file is only touched with a complete picture.
    FIMEMORY* memory = FreeImage_OpenMemory();
    if (memory == nullptr) {
        return false;
    }
    BYTE* bytes = nullptr;
    DWORD size = 0;
    const bool written = FreeImage_SaveToMemory(FIF_JPEG, bitmap.get(), memory, jpegQualitySuperb) != 0 &&
                         FreeImage_AcquireMemory(memory, &bytes, &size) != 0 &&
                         qvReplaceFile(name, std::span<const std::uint8_t>(bytes, size), error);
    FreeImage_CloseMemory(memory);
    return written;
}

void reportWriteFailure(const std::string& name, const std::string& reason)
{
    fmt::print("ERROR! Image {} could not be written: {}\n", name, reason);
    std::fflush(stdout);
}

}  // namespace

void QvBitmapDeleter::operator()(FIBITMAP* bitmap) const
{
    FreeImage_Unload(bitmap);
}

std::string qvImageSizeProblem(QvImageSize size, std::uint64_t maxSide)
{
    if (size.width > maxSide || size.height > maxSide) {
        return fmt::format("{}x{} is larger than the largest picture side {}", size.width, size.height,
                           maxSide);
    }
    // Rows are measured in int (scanLineWidth); a copy takes up to 4 bytes a pixel.
    constexpr std::uint64_t bytesPerPixelAtMost = 4;
    constexpr std::uint64_t maxRow = std::numeric_limits<int>::max();
    constexpr std::uint64_t maxBuffer = std::numeric_limits<std::ptrdiff_t>::max();
    const std::uint64_t row = size.width * bytesPerPixelAtMost;
    if (row > maxRow || (row > 0 && size.height > maxBuffer / row)) {
        return fmt::format("{}x{} does not fit in memory", size.width, size.height);
    }
    return {};
}

std::optional<QvImageSize> qvReadImageSize(std::span<const std::uint8_t> file, std::string& error)
{
    // FreeImage only reads from the memory it is given.
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(file.data()), static_cast<DWORD>(file.size()));
    if (memory == nullptr) {
        error = "not a picture FreeImage can read";
        return std::nullopt;
    }
    std::optional<QvImageSize> size;
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory, 0);
    if (format != FIF_UNKNOWN && !FreeImage_FIFSupportsNoPixels(format)) {
        error = fmt::format("the size of a {} picture cannot be read before decoding it",
                            FreeImage_GetFormatFromFIF(format));
    } else if (const Bitmap header{format == FIF_UNKNOWN
                                       ? nullptr
                                       : FreeImage_LoadFromMemory(format, memory, FIF_LOAD_NOPIXELS)}) {
        size = QvImageSize{FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get())};
    } else {
        error = "not a picture FreeImage can read";
    }
    FreeImage_CloseMemory(memory);
    return size;
}

QvBitmap qvReadBitmap(const std::string& path, int maxSide)
{
    return readBitmap(path, false, maxSide);
}

QvBitmap qvReadBitmap(std::span<const std::uint8_t> file)
{
    // FreeImage only reads from the memory it is given.
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(file.data()), static_cast<DWORD>(file.size()));
    if (memory == nullptr) {
        return nullptr;
    }
    QvBitmap bitmap;
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory, 0);
    if (format != FIF_UNKNOWN) {
        bitmap.reset(FreeImage_LoadFromMemory(format, memory, 0));
    }
    FreeImage_CloseMemory(memory);
    return bitmap;
}

std::vector<std::uint8_t> qvBitmapRgbaPixels(FIBITMAP* source)
{
    const int width = static_cast<int>(FreeImage_GetWidth(source));
    const int height = static_cast<int>(FreeImage_GetHeight(source));
    const bool hasAlpha = FreeImage_GetBPP(source) == 32;
    const Bitmap rgba(FreeImage_ConvertTo32Bits(source));
    std::vector<std::uint8_t> pixels(static_cast<size_t>(width) * height * 4, 0);
    if (!rgba) {
        return {};
    }
    for (int y = 0; y < height; ++y) {
        // FreeImage's row 0 is the bottom of the picture.
        const BYTE* line = FreeImage_GetScanLine(rgba.get(), height - 1 - y);
        std::uint8_t* row = pixels.data() + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            row[x * 4 + 0] = line[x * 4 + FI_RGBA_RED];
            row[x * 4 + 1] = line[x * 4 + FI_RGBA_GREEN];
            row[x * 4 + 2] = line[x * 4 + FI_RGBA_BLUE];
            row[x * 4 + 3] = hasAlpha ? line[x * 4 + FI_RGBA_ALPHA] : 255;
        }
    }
    return pixels;
}

std::vector<std::uint8_t> qvBitmapPixels(FIBITMAP* source, bool topRowFirst)
{
    const int width = static_cast<int>(FreeImage_GetWidth(source));
    const int height = static_cast<int>(FreeImage_GetHeight(source));
    const int stride = TextureLoader::scanLineWidth(width);
    const Bitmap rgb(FreeImage_ConvertTo24Bits(source));
    std::vector<std::uint8_t> pixels(static_cast<size_t>(stride) * height, 0);
    if (!rgb) {
        return pixels;
    }
    for (int y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(rgb.get(), topRowFirst ? height - 1 - y : y);
        std::uint8_t* row = pixels.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            row[x * 3 + 0] = line[x * 3 + FI_RGBA_RED];
            row[x * 3 + 1] = line[x * 3 + FI_RGBA_GREEN];
            row[x * 3 + 2] = line[x * 3 + FI_RGBA_BLUE];
        }
    }
    return pixels;
}

QvTexture qvCreateRgbTexture(int width, int height, const std::uint8_t* pixels)
{
    QvTexture texture = QvTexture::create();
    glBindTexture(GL_TEXTURE_2D, texture.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    uploadImage(GL_TEXTURE_2D, width, height, pixels);
    return texture;
}

int TextureLoader::scanLineWidth(int width)
{
    const int bytes = bytesPerPixel * width;
    return bytes % 4 == 0 ? bytes : bytes / 4 * 4 + 4;
}

std::vector<std::uint8_t> TextureLoader::loadImage(const std::string& path)
{
    const Bitmap bitmap = readBitmap(path, true, maxImageSide);
    if (!bitmap) {
        imageWidth = 0;
        imageHeight = 0;
        return {};
    }
    imageWidth = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
    imageHeight = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
    return qvBitmapPixels(bitmap.get(), false);
}

QvTexture TextureLoader::loadTexture(const std::string& path)
{
    std::vector<std::uint8_t> pixels;
    int stride = 0;
    return loadTexture(path, pixels, stride);
}

QvTexture TextureLoader::loadTexture(const std::string& path, std::vector<std::uint8_t>& pixels, int& stride)
{
    maxImageSide = driverMaxSize(GL_MAX_TEXTURE_SIZE);
    const Bitmap bitmap = readBitmap(path, true, maxImageSide);
    if (!bitmap) {
        return {};
    }
    imageWidth = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
    imageHeight = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
    stride = scanLineWidth(imageWidth);
    printSizeLines(imageWidth, imageHeight);
    pixels = qvBitmapPixels(bitmap.get(), false);
    fmt::print("scanLineWidth = {}\n", stride);

    return qvCreateRgbTexture(imageWidth, imageHeight, pixels.data());
}

QvTexture TextureLoader::loadCubemap(const std::vector<std::string>& paths)
{
    const int maxFaceSide = driverMaxSize(GL_MAX_CUBE_MAP_TEXTURE_SIZE);
    QvTexture texture = QvTexture::create();
    glBindTexture(GL_TEXTURE_CUBE_MAP, texture.get());
    for (size_t i = 0; i < paths.size(); ++i) {
        const Bitmap bitmap = readBitmap(paths[i], false, maxFaceSide);
        if (!bitmap) {
            // The sky cannot be drawn without all six faces: the caller decides
            // how to end; the texture made so far goes with the owner.
            throw QvResourceError("Cannot load the sky image " + paths[i]);
        }
        const int width = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
        const int height = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
        // Cube-map faces are specified from their top row.
        const std::vector<std::uint8_t> pixels = qvBitmapPixels(bitmap.get(), true);
        if (!pixels.empty()) {
            uploadImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + static_cast<GLenum>(i), width, height,
                        pixels.data());
        }
    }
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    return texture;
}

bool TextureLoader::saveImage(const std::string& name, int width, int height, const std::uint8_t* pixels)
{
    printSizeLines(width, height);
    std::string error = "the picture has no pixels";
    if (width <= 0 || height <= 0 || pixels == nullptr ||
        !writeJpeg(name, width, height, pixels, scanLineWidth(width), error)) {
        reportWriteFailure(name, error);
        return false;
    }
    return true;
}

bool TextureLoader::saveScreenshot(const std::string& name, int width, int height)
{
    if (width <= 0 || height <= 0) {
        fmt::print("Screenshot {} skipped: the window has no pixels\n", name);
        std::fflush(stdout);
        return false;
    }
    // Tightly packed rows: alignment 1 makes the read independent of the width.
    const int stride = bytesPerPixel * width;
    std::vector<std::uint8_t> pixels(static_cast<size_t>(stride) * height);
    GLint previous = rowAlignment;
    glGetIntegerv(GL_PACK_ALIGNMENT, &previous);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, previous);
    std::string error;
    if (!writeJpeg(name, width, height, pixels.data(), stride, error)) {
        reportWriteFailure(name, error);
        return false;
    }
    return true;
}
