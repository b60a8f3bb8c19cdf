// qvstoredpixels: PFM rows, PSD inks and TIFF associated alpha put back to
// what their files store, reading the few header fields that tell.
#include "engine/picture/qvstoredpixels.h"

#include "engine/picture/qvbytecursor.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <type_traits>

namespace {

using Bytes = std::span<const std::uint8_t>;

// PSD: the colour mode in the file header.
constexpr std::uint64_t psdModeAt = 24;
constexpr std::uint64_t psdCmykMode = 4;

// TIFF: the field that says what the samples beyond the colours are, and
// its value for alpha that the colours are already multiplied by.
constexpr std::uint64_t tiffExtraSamples = 338;
constexpr std::uint64_t tiffAssociatedAlpha = 1;
constexpr std::uint64_t tiffShort = 3;

// Whether a PSD's colour mode is CMYK.
bool psdOfInks(Bytes file)
{
    QvByteCursor in(file);
    if (!in.expect("8BPS")) return false;
    in.seek(psdModeAt);
    const std::uint64_t mode = in.be(2);
    return !in.cut() && mode == psdCmykMode;
}

// Whether the first directory of a TIFF or BigTIFF, the page FreeImage
// reads, says its first extra sample is associated alpha.
bool tiffOfAssociatedAlpha(Bytes file)
{
    QvByteCursor in(file);
    bool bigEndian = false;
    if (in.expect("MM"))
        bigEndian = true;
    else if (!in.expect("II"))
        return false;
    const bool bigTiff = in.field(2, bigEndian) == 43;
    const int offsetBytes = bigTiff ? 8 : 4;
    if (bigTiff) in.skip(4);  // the offset size and a reserved word
    in.seek(in.field(offsetBytes, bigEndian));
    const std::uint64_t entries = in.field(bigTiff ? 8 : 2, bigEndian);
    for (std::uint64_t i = 0; i < entries && !in.cut(); ++i) {
        const std::uint64_t id = in.field(2, bigEndian);
        const std::uint64_t type = in.field(2, bigEndian);
        const std::uint64_t count = in.field(offsetBytes, bigEndian);
        const std::uint64_t valueAt = in.at();
        in.skip(offsetBytes);
        if (id != tiffExtraSamples) continue;
        if (type != tiffShort || count == 0) return false;
        // Values too long for the entry lie where it points.
        const bool inEntry = count <= std::uint64_t(offsetBytes / 2);
        QvByteCursor value(file,
                           inEntry ? valueAt : QvByteCursor(file, valueAt).field(offsetBytes, bigEndian));
        const std::uint64_t first = value.field(2, bigEndian);
        return !value.cut() && first == tiffAssociatedAlpha;
    }
    return false;
}

// FreeImage's row 0 becomes its last row and so on.
void flipRows(FIBITMAP* bitmap)
{
    const unsigned height = FreeImage_GetHeight(bitmap);
    const std::size_t lineBytes = FreeImage_GetLine(bitmap);
    for (unsigned y = 0; y < height / 2; ++y) {
        BYTE* low = FreeImage_GetScanLine(bitmap, int(y));
        BYTE* high = FreeImage_GetScanLine(bitmap, int(height - 1 - y));
        std::swap_ranges(low, low + lineBytes, high);
    }
}

// A colour stored multiplied by its alpha, as it was, on a scale of 0..full;
// whole-number samples rounded and held within the scale.
template <typename Sample>
Sample straight(Sample colour, Sample alpha, double full)
{
    if (!(alpha > 0)) return colour;
    const double value = double(colour) * full / double(alpha);
    if constexpr (std::is_floating_point_v<Sample>)
        return Sample(value);
    else
        return Sample(std::min(full, std::round(value)));
}

// Each pixel of `Pixel` (red, green, blue and alpha members) divided by its alpha.
template <typename Pixel>
void divideByAlpha(FIBITMAP* bitmap, double full)
{
    const unsigned width = FreeImage_GetWidth(bitmap), height = FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        Pixel* pixel = reinterpret_cast<Pixel*>(FreeImage_GetScanLine(bitmap, int(y)));
        for (unsigned x = 0; x < width; ++x, ++pixel) {
            pixel->red = straight(pixel->red, pixel->alpha, full);
            pixel->green = straight(pixel->green, pixel->alpha, full);
            pixel->blue = straight(pixel->blue, pixel->alpha, full);
        }
    }
}

// The colours of a bitmap with alpha divided by it.
void straightenAlpha(FIBITMAP* bitmap)
{
    // FreeImage's pixels of each sample type, in its channel order.
    struct Byte4 {
        BYTE blue, green, red, alpha;
    };
    struct Short4 {
        WORD red, green, blue, alpha;
    };
    struct Float4 {
        float red, green, blue, alpha;
    };
    static_assert(FI_RGBA_BLUE == 0 && FI_RGBA_ALPHA == 3, "FreeImage's 8-bit pixels are blue first");
    if (FreeImage_GetColorType(bitmap) != FIC_RGBALPHA) return;  // inks, or no alpha read
    switch (FreeImage_GetImageType(bitmap)) {
    case FIT_BITMAP:
        if (FreeImage_GetBPP(bitmap) == 32) divideByAlpha<Byte4>(bitmap, 255);
        break;
    case FIT_RGBA16:
        divideByAlpha<Short4>(bitmap, 65535);
        break;
    case FIT_RGBAF:
        divideByAlpha<Float4>(bitmap, 1);
        break;
    default:
        break;
    }
}

}  // namespace

void qvAsStored(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, int flags, std::span<const std::uint8_t> file)
{
    if (bitmap == nullptr || !FreeImage_HasPixels(bitmap)) return;
    if (format == FIF_PFM) flipRows(bitmap);
    // PSD_CMYK is ignored for pictures of other modes; a CMYK one comes back
    // as four channels of inks.
    const bool fourChannels =
        FreeImage_GetImageType(bitmap) == FIT_RGBA16 ||
        (FreeImage_GetImageType(bitmap) == FIT_BITMAP && FreeImage_GetBPP(bitmap) == 32);
    if (format == FIF_PSD && (flags & PSD_CMYK) != 0 && fourChannels && psdOfInks(file))
        FreeImage_GetICCProfile(bitmap)->flags |= FIICC_COLOR_IS_CMYK;
    if (format == FIF_TIFF && tiffOfAssociatedAlpha(file)) straightenAlpha(bitmap);
}
