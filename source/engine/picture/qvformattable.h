// qvformattable: the one list of picture formats, each family's rows side by
// side; how a file's header is read, which formats are read by content, what
// decoding each costs, what is done to its bytes and pixels and which load
// flags matter are all read from it.
#pragma once

#include <FreeImage.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/picture/qvbmp.h"
#include "engine/picture/qvgif.h"
#include "engine/picture/qvjpeg.h"
#include "engine/picture/qvjpeg2000.h"
#include "engine/picture/qvnetpbm.h"
#include "engine/picture/qvpictureformat.h"
#include "engine/picture/qvpng.h"
#include "engine/picture/qvradiance.h"
#include "engine/picture/qvsmallformats.h"
#include "engine/picture/qvtiff.h"

namespace qvformattable_detail {

template <std::size_t... Counts>
constexpr auto joined(const std::array<QvPictureFormat, Counts>&... families)
{
    std::array<QvPictureFormat, (Counts + ...)> all{};
    std::size_t next = 0;
    ((std::ranges::copy(families, all.begin() + next), next += families.size()), ...);
    return all;
}

}  // namespace qvformattable_detail

// Every format the program knows anything of, once.
inline constexpr auto qvPictureFormats = qvformattable_detail::joined(
    qvBmpFormats, qvGifFormats, qvJpegFormats, qvJpeg2000Formats, qvNetpbmFormats, qvPngFormats,
    qvRadianceFormats, qvSmallFormats, qvTiffFormats);

static_assert(
    [] {
        for (std::size_t i = 0; i < qvPictureFormats.size(); ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (qvPictureFormats[i].format == qvPictureFormats[j].format) return false;
        return true;
    }(),
    "each format has one row");

// The row of a format the program knows nothing of beyond what FreeImage does.
inline constexpr QvPictureFormat qvOtherFormat{};

// The row of `format`; qvOtherFormat for one the table does not list.
constexpr const QvPictureFormat& qvPictureFormatOf(FREE_IMAGE_FORMAT format)
{
    for (const QvPictureFormat& row : qvPictureFormats)
        if (row.format == format) return row;
    return qvOtherFormat;
}

// Whether qvReadHeader reads `format` in full (a size or a problem, never
// neither), and so whether its decoder is trusted with a file whose name says
// another format, its content showing this one.
bool qvReadByContent(FREE_IMAGE_FORMAT format);

// The header of a file decoded as `format`: in full (size and checks against
// the file), or only the size where FreeImage has no header read of its own,
// as the table of formats says; nothing for others. The size is the one
// FreeImage allocates when it decodes the file, or a larger one where
// FreeImage may choose between two.
QvHeaderReading qvReadHeader(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file);
