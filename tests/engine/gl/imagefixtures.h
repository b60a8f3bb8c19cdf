// Small image files with known pixels for the texture loader tests.
#pragma once

#include "tempfiles.h"
#include <FreeImage.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
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

// A tiny PNG whose header claims the given size; its pixel data is a stub.
inline std::vector<std::uint8_t> pngHeaderClaiming(std::uint32_t width, std::uint32_t height)
{
    auto crc32 = [](const std::vector<std::uint8_t>& bytes) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (const std::uint8_t byte : bytes) {
            crc ^= byte;
            for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, std::vector<std::uint8_t> data) {
        for (int i = 3; i >= 0; --i) png.push_back(std::uint8_t(data.size() >> (8 * i)));
        std::vector<std::uint8_t> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        png.insert(png.end(), body.begin(), body.end());
        const std::uint32_t crc = crc32(body);
        for (int i = 3; i >= 0; --i) png.push_back(std::uint8_t(crc >> (8 * i)));
    };
    std::vector<std::uint8_t> header;
    for (const std::uint32_t v : {width, height}) {
        for (int i = 3; i >= 0; --i) header.push_back(std::uint8_t(v >> (8 * i)));
    }
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    chunk("IHDR", header);
    chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    chunk("IEND", {});
    return png;
}

// Writes bytes to a scratch file and returns its path.
inline std::string writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    const auto path = testsupport::tempPath(name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    return path;
}

}  // namespace imagefixtures
