// Small image files with known pixels for the texture loader tests.
#pragma once

#include "tempfiles.h"
#include <FreeImage.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace imagefixtures {

// The colour of pixel (x, y), y counted from the top of the picture; every
// pixel differs from its neighbours.
inline std::array<std::uint8_t, 3> colourAt(int x, int y, int salt = 0)
{
    return {static_cast<std::uint8_t>(40 * x + 7 + salt), static_cast<std::uint8_t>(50 * y + 3),
            static_cast<std::uint8_t>(200 - 10 * x - 20 * y)};
}

// Writes a 24-bit picture of colourAt values in `format` and returns its path.
inline std::string writePicture(FREE_IMAGE_FORMAT format, const std::string& name, int width, int height,
                                int salt = 0)
{
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = colourAt(x, y, salt);
            RGBQUAD quad{c[2], c[1], c[0], 0};
            FreeImage_SetPixelColor(bitmap, x, height - 1 - y, &quad);  // FreeImage: bottom-up
        }
    }
    const auto path = testsupport::tempPath(name).string();
    FreeImage_Save(format, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    return path;
}

// Writes a lossless picture of colourAt values and returns its path.
inline std::string writePng(const std::string& name, int width, int height, int salt = 0)
{
    return writePicture(FIF_PNG, name, width, height, salt);
}

// The colourAt picture as a GIF (one palette entry a pixel, so every colour
// survives); at most 256 pixels.
inline std::string writeGif(const std::string& name, int width, int height)
{
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 8);
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = colourAt(x, y);
            BYTE index = static_cast<BYTE>(y * width + x);
            palette[index] = RGBQUAD{c[2], c[1], c[0], 0};
            FreeImage_SetPixelIndex(bitmap, x, height - 1 - y, &index);
        }
    }
    const auto path = testsupport::tempPath(name).string();
    FreeImage_Save(FIF_GIF, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    return path;
}

// An uncompressed 24-bit DDS of colourAt pixels (top row first, blue, green,
// red), built by hand; the reader takes widths and heights in steps of 4.
// Without pixels, the header alone.
inline std::string writeDds(const std::string& name, std::uint32_t width, std::uint32_t height,
                            bool withPixels = true)
{
    // Size 124; caps, height, width and pixel format given; then at 18 the
    // pixel format: size 32, RGB, 24 bits, red, green and blue masks; a texture.
    const std::uint32_t header[31] = {124, 0x1007, height, width, 0,        0,      0,    0, 0,
                                      0,   0,      0,      0,     0,        0,      0,    0, 0,
                                      32,  0x40,   0,      24,    0xFF0000, 0xFF00, 0xFF, 0, 0x1000};
    const auto path = testsupport::tempPath(name).string();
    std::ofstream out(path, std::ios::binary);
    out << "DDS ";
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (std::uint32_t y = 0; withPixels && y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto c = colourAt(int(x), int(y));
            out << c[2] << c[1] << c[0];
        }
    }
    return path;
}

// A grey ramp, brighter to the right, of 16-bit or floating-point pixels
// (FIT_UINT16, FIT_FLOAT or FIT_RGBF) as FreeImage writes `format`.
inline std::string writeGreyRamp(const std::string& name, FREE_IMAGE_FORMAT format, FREE_IMAGE_TYPE type,
                                 int width, int height)
{
    FIBITMAP* bitmap = FreeImage_AllocateT(type, width, height);
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, y);
        for (int x = 0; x < width; ++x) {
            const float value = 0.05f + 0.4f * float(x);
            if (type == FIT_UINT16)
                reinterpret_cast<std::uint16_t*>(line)[x] = std::uint16_t(x * 65535 / width);
            if (type == FIT_FLOAT) reinterpret_cast<float*>(line)[x] = value;
            if (type == FIT_RGBF) reinterpret_cast<FIRGBF*>(line)[x] = FIRGBF{value, value, value};
        }
    }
    const auto path = testsupport::tempPath(name).string();
    FreeImage_Save(format, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    return path;
}

// A PPM header claiming the given size, with no pixels behind it.
inline std::string writePpmHeader(const std::string& name, std::uint64_t width, std::uint64_t height)
{
    const auto path = testsupport::tempPath(name).string();
    std::ofstream(path, std::ios::binary) << "P6\n" << width << ' ' << height << "\n255\n";
    return path;
}

// A black 24-bit PNG: a large picture in a small file, packed about as
// tightly as deflate allows.
inline std::string writeBlackPng(const std::string& name, int width, int height)
{
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
    const auto path = testsupport::tempPath(name).string();
    FreeImage_Save(FIF_PNG, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    return path;
}

inline std::vector<std::uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace imagefixtures
