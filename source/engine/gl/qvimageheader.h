// engine/gl/qvimageheader.h
#pragma once
#include <FreeImage.h>
#include <cstdint>
#include <optional>
#include <span>
struct QvImageSize { std::uint64_t width = 0; std::uint64_t height = 0; };  // moves here from qvloadimage.h
std::optional<QvImageSize> qvHeaderImageSize(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file);
