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

// Writes a lossless picture of colourAt values and returns its path.
inline std::string writePng(const std::string& name, int width, int height, int salt = 0)
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
    FreeImage_Save(FIF_PNG, bitmap, path.c_str(), 0);
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

inline std::vector<std::uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace imagefixtures
