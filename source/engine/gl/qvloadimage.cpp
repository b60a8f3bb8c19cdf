// Texture loader: reading images with FreeImage into padded RGB buffers,
// uploading them as 2D textures or cube-map faces, and writing JPEG files.
#include "engine/gl/qvloadimage.h"

#include <FreeImage.h>
#include <fmt/core.h>

#include <cstdio>
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

// Reads the file with the default flags, or trying every flag value in turn
// when retry is set; null when nothing reads it.
Bitmap readBitmap(const std::string& path, bool retry)
{
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    if (format == FIF_UNKNOWN) {
        return nullptr;
    }
    if (!retry) {
        return Bitmap(FreeImage_Load(format, path.c_str(), 0));
    }
    for (const int flags : loadFlags) {
        if (FIBITMAP* bitmap = FreeImage_Load(format, path.c_str(), flags)) {
            return Bitmap(bitmap);
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

// Writes RGB rows (row 0 at the bottom) of the given length as a JPEG.
bool writeJpeg(const std::string& name, int width, int height, const std::uint8_t* pixels, int stride)
{
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
    return FreeImage_Save(FIF_JPEG, bitmap.get(), name.c_str(), jpegQualitySuperb) != 0;
}

void reportWriteFailure(const std::string& name)
{
    fmt::print("ERROR! Image {} could not be written\n", name);
    std::fflush(stdout);
}

}  // namespace

void QvBitmapDeleter::operator()(FIBITMAP* bitmap) const
{
    FreeImage_Unload(bitmap);
}

QvBitmap qvReadBitmap(const std::string& path)
{
    return readBitmap(path, false);
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
    const Bitmap bitmap = readBitmap(path, true);
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
    const Bitmap bitmap = readBitmap(path, true);
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
    QvTexture texture = QvTexture::create();
    glBindTexture(GL_TEXTURE_CUBE_MAP, texture.get());
    for (size_t i = 0; i < paths.size(); ++i) {
        const Bitmap bitmap = readBitmap(paths[i], false);
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
    if (width <= 0 || height <= 0 || pixels == nullptr ||
        !writeJpeg(name, width, height, pixels, scanLineWidth(width))) {
        reportWriteFailure(name);
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
    if (!writeJpeg(name, width, height, pixels.data(), stride)) {
        reportWriteFailure(name);
        return false;
    }
    return true;
}
