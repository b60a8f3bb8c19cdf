// qvtiff: the first directory of a TIFF read in place, a few comparisons an
// entry, and its strips or tiles walked alike (a file may hold hundreds of
// millions of them); alpha that FreeImage hands back as stored multiplied
// into the colours, divided out; 16-bit grey and alpha put back together
// from the bytes FreeImage hands back; and tiled inks put in their order.
#include "engine/picture/qvtiff.h"

#include "engine/picture/qvheaderreader.h"
#include "engine/picture/qvinks.h"

#include <fmt/core.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

using namespace qvheader;

namespace {

// CCITT fax codings: at least one bit a row.
constexpr std::uint64_t faxRowsPerByte = 8;

constexpr std::uint64_t tiffUncompressed = 1, tiffLzw = 5, tiffOldJpeg = 6, tiffJpeg = 7, tiffDeflate = 8,
                        tiffOldDeflate = 32946, tiffPackBits = 32773, tiffCcittRle = 2, tiffCcittFax4 = 4;
constexpr std::uint64_t tiffSeparatePlanes = 2;
constexpr std::uint64_t tiffSeparated = 5, tiffInks = 4;
constexpr std::uint64_t tiffYCbCr = 6;
constexpr std::uint64_t tiffMinIsWhite = 0, tiffMinIsBlack = 1;
// Unless a YCbCr picture says otherwise, two chroma samples serve 2x2 pixels.
constexpr std::uint64_t tiffDefaultSubsampling = 2;
// The type of a field of 16-bit whole numbers, and the extra sample that is
// alpha the colours are already multiplied by.
constexpr std::uint64_t tiffShort = 3;
constexpr std::uint64_t tiffAssociatedAlpha = 1;
// Sample formats other than whole numbers of no sign.
constexpr std::uint64_t tiffSignedFormat = 2, tiffFloatFormat = 3;

// One field of a TIFF directory: where its values are, and how many.
struct TiffField {
    std::uint64_t type = 0;
    std::uint64_t count = 0;
    std::uint64_t at = 0;  // of its first value, in the entry or elsewhere in the file
    bool present = false;
};

// The fields this reader and FreeImage's decoder read, each from the first
// entry of its tag; libtiff ignores any other field whose values lie outside
// the file, and so does this reader.
struct TiffFields {
    TiffField width, height, bitsPerSample, compression, photometric, stripOffsets, samplesPerPixel,
        rowsPerStrip, stripByteCounts, planarConfig, predictor, colourMap, tileWidth, tileLength, tileOffsets,
        tileByteCounts, extraSamples, sampleFormat, yCbCrSubsampling;
};

// The tag of each field read: the one list of them.
constexpr std::pair<std::uint64_t, TiffField TiffFields::*> tiffFieldsRead[] = {
    {256, &TiffFields::width},           {257, &TiffFields::height},
    {258, &TiffFields::bitsPerSample},   {259, &TiffFields::compression},
    {262, &TiffFields::photometric},     {273, &TiffFields::stripOffsets},
    {277, &TiffFields::samplesPerPixel}, {278, &TiffFields::rowsPerStrip},
    {279, &TiffFields::stripByteCounts}, {284, &TiffFields::planarConfig},
    {317, &TiffFields::predictor},       {320, &TiffFields::colourMap},
    {322, &TiffFields::tileWidth},       {323, &TiffFields::tileLength},
    {324, &TiffFields::tileOffsets},     {325, &TiffFields::tileByteCounts},
    {338, &TiffFields::extraSamples},    {339, &TiffFields::sampleFormat},
    {530, &TiffFields::yCbCrSubsampling}};
static_assert(std::size(tiffFieldsRead) * sizeof(TiffField) == sizeof(TiffFields),
              "every field read has a tag");

constexpr std::uint64_t tiffLowestTag =
    std::ranges::min(tiffFieldsRead, {}, &std::pair<std::uint64_t, TiffField TiffFields::*>::first).first;
constexpr std::uint64_t tiffHighestTag =
    std::ranges::max(tiffFieldsRead, {}, &std::pair<std::uint64_t, TiffField TiffFields::*>::first).first;
// The field of each tag from the lowest read to the highest, null for those
// not read: a directory of millions of entries costs a lookup each.
constexpr auto tiffFieldOfTag = [] {
    std::array<TiffField TiffFields::*, tiffHighestTag - tiffLowestTag + 1> fields{};
    for (const auto& [id, field] : tiffFieldsRead) fields[id - tiffLowestTag] = field;
    return fields;
}();

// Bytes of one value of each TIFF field type; 0 for an unknown type.
std::uint64_t tiffTypeBytes(std::uint64_t type)
{
    static constexpr std::array<std::uint64_t, 19> bytes{0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                                         8, 4, 8, 4, 0, 0, 8, 8, 8};
    return type < bytes.size() ? bytes[type] : 0;
}

// The first directory as read: its fields, and the file they are read from.
struct FirstDirectory {
    Bytes file;
    bool bigEndian = false;
    TiffFields fields = {};

    // Value `index` of a field of whole numbers; `otherwise` when it has none.
    std::uint64_t value(const TiffField& field, std::uint64_t otherwise, std::uint64_t index = 0) const
    {
        const std::uint64_t bytes = tiffTypeBytes(field.type);
        return field.count <= index
                   ? otherwise
                   : QvByteCursor::numberAt(file.data() + field.at + index * bytes, bytes, bigEndian);
    }
};

// How FreeImage holds a pixel of each photometric interpretation, samples a
// pixel, bits a sample and sample formats (found by decoding each layout;
// planes hold alike). CMYK as TIFF_CMYK, tried before the default, reads it:
// its inks kept, which is larger than the colours of flag 0. Other layouts it
// reads in ways not held here, or not at all.
enum TiffSampleFormats : unsigned { tiffUnsigned = 1 << 1, tiffSigned = 1 << 2, tiffFloat = 1 << 3 };
constexpr unsigned tiffIntegers = tiffUnsigned | tiffSigned, tiffAnyFormat = tiffIntegers | tiffFloat;
struct TiffHold {
    std::initializer_list<std::uint64_t> photometrics;
    std::uint64_t samples, bits;
    unsigned formats;
    PixelHold hold;
};
constexpr std::initializer_list<std::uint64_t> tiffGrey{0, 1}, tiffPalette{3}, tiffRgb{2}, tiffCmyk{5},
    tiffYCbCrOnly{6}, tiffLab{8};
const TiffHold tiffHolds[] = {
    {tiffGrey, 1, 1, tiffIntegers, {1}},       {tiffGrey, 1, 4, tiffIntegers, {4}},
    {tiffGrey, 1, 8, tiffAnyFormat, {8}},      {tiffGrey, 1, 16, tiffAnyFormat, {16}},
    {tiffGrey, 1, 32, tiffIntegers, {32}},     {tiffGrey, 1, 32, tiffFloat, {32, true}},
    {tiffGrey, 1, 64, tiffFloat, {64, true}},  {tiffGrey, 2, 8, tiffUnsigned, {8}},
    {tiffGrey, 2, 16, tiffIntegers, {32}},     {tiffGrey, 2, 32, tiffFloat, {32, true}},
    {tiffPalette, 1, 1, tiffUnsigned, {1}},    {tiffPalette, 1, 4, tiffUnsigned, {4}},
    {tiffPalette, 1, 8, tiffUnsigned, {8}},    {tiffRgb, 3, 8, tiffIntegers, {24}},
    {tiffRgb, 3, 16, tiffUnsigned, {48}},      {tiffRgb, 3, 16, tiffFloat, {96, true}},
    {tiffRgb, 3, 32, tiffFloat, {96, true}},   {tiffRgb, 4, 8, tiffUnsigned, {32}},
    {tiffRgb, 4, 16, tiffUnsigned, {64}},      {tiffRgb, 4, 32, tiffFloat, {128, true}},
    {tiffCmyk, 4, 8, tiffUnsigned, {32}},      {tiffCmyk, 4, 16, tiffUnsigned, {64}},
    {tiffYCbCrOnly, 3, 8, tiffUnsigned, {24}}, {tiffLab, 3, 8, tiffUnsigned, {24}},
    {tiffLab, 3, 16, tiffUnsigned, {48}}};
PixelHold tiffHold(std::uint64_t photometric, std::uint64_t samples, std::uint64_t bits, std::uint64_t format)
{
    for (const TiffHold& row : tiffHolds)
        if (std::ranges::find(row.photometrics, photometric) != row.photometrics.end() &&
            row.samples == samples && row.bits == bits && format < 32 && (row.formats & (1u << format)) != 0)
            return row.hold;
    return {};
}

// The most pixel bytes one byte of a coding gives (or, for fax, the most
// rows); nothing for codings that pack any number of pixels in a few bytes.
struct TiffPacking {
    std::uint64_t perByte;
    std::string_view name;
    bool ofRows;
};
std::optional<TiffPacking> tiffPacking(std::uint64_t coding)
{
    if (coding == tiffUncompressed) return TiffPacking{1, "uncompressed", false};
    if (coding >= tiffCcittRle && coding <= tiffCcittFax4) return TiffPacking{faxRowsPerByte, "fax", true};
    if (coding == tiffLzw) return TiffPacking{lzwBytesPerByte, "LZW", false};
    if (coding == tiffDeflate || coding == tiffOldDeflate)
        return TiffPacking{deflateBytesPerByte, "deflate", false};
    if (coding == tiffPackBits) return TiffPacking{packBitsBytesPerByte, "PackBits", false};
    return std::nullopt;
}

// The strips or tiles of a picture, to be walked for the first that cannot
// be what it claims. A strip without a byte count (`counts` 0) runs to the
// end of the file.
struct TiffUnits {
    Bytes file;
    bool bigEndian;
    std::uint64_t offsets, counts;
    std::uint64_t units;
    std::uint64_t down;                // strips or tiles down a plane
    std::uint64_t fewest, fewestLast;  // coded bytes that can give its rows, the last of a plane's
};
struct TiffUnitFault {
    std::uint64_t index, at, bytes;
    bool outside;  // otherwise too few bytes for its rows
};

// The walk itself, for each width of offsets and counts (0: no counts, each
// strip running to the end of the file): a file may hold a hundred million
// strips, read at a few instructions each.
template <std::size_t offsetBytes, std::size_t countBytes>
std::optional<TiffUnitFault> firstTiffUnitFault(const TiffUnits& w)
{
    const std::uint8_t* offsets = w.file.data() + w.offsets;
    const std::uint8_t* counts = w.file.data() + w.counts;
    for (std::uint64_t i = 0, strip = 0; i < w.units; ++i) {
        const std::uint64_t at = QvByteCursor::numberAt<offsetBytes>(offsets + i * offsetBytes, w.bigEndian);
        std::uint64_t bytes = 0;
        if constexpr (countBytes == 0)
            bytes = w.file.size() - std::min<std::uint64_t>(at, w.file.size());
        else
            bytes = QvByteCursor::numberAt<countBytes>(counts + i * countBytes, w.bigEndian);
        if (!within(at, bytes, w.file.size())) return TiffUnitFault{i, at, bytes, true};
        if (bytes < (strip == w.down - 1 ? w.fewestLast : w.fewest))
            return TiffUnitFault{i, at, bytes, false};
        strip = strip + 1 == w.down ? 0 : strip + 1;  // its place down its plane, counted without dividing
    }
    return std::nullopt;
}
template <std::size_t offsetBytes>
std::optional<TiffUnitFault> firstTiffUnitFault(std::uint64_t countBytes, const TiffUnits& w)
{
    switch (countBytes) {
    case 2:
        return firstTiffUnitFault<offsetBytes, 2>(w);
    case 4:
        return firstTiffUnitFault<offsetBytes, 4>(w);
    case 8:
        return firstTiffUnitFault<offsetBytes, 8>(w);
    default:
        return firstTiffUnitFault<offsetBytes, 0>(w);
    }
}
std::optional<TiffUnitFault> firstTiffUnitFault(std::uint64_t offsetBytes, std::uint64_t countBytes,
                                                const TiffUnits& w)
{
    switch (offsetBytes) {
    case 2:
        return firstTiffUnitFault<2>(countBytes, w);
    case 4:
        return firstTiffUnitFault<4>(countBytes, w);
    default:
        return firstTiffUnitFault<8>(countBytes, w);
    }
}

// The picture the first directory describes, held against the file.
QvHeaderReading tiffPicture(const FirstDirectory& d)
{
    const TiffFields& fields = d.fields;
    const std::size_t fileSize = d.file.size();
    if (!fields.width.present || !fields.height.present) return damaged("no width or height");
    const QvImageSize size{d.value(fields.width, 0), d.value(fields.height, 0)};
    const std::uint64_t bits = d.value(fields.bitsPerSample, 1);
    const std::uint64_t samples = d.value(fields.samplesPerPixel, 1);
    const PixelHold hold = fields.photometric.present ? tiffHold(d.value(fields.photometric, 0), samples,
                                                                 bits, d.value(fields.sampleFormat, 1))
                                                      : PixelHold{};
    if (settled(size)) return sized(size, hold);
    const std::uint64_t coding = d.value(fields.compression, tiffUncompressed);
    const bool planes = d.value(fields.planarConfig, 1) == tiffSeparatePlanes;
    const std::uint64_t samplesPerPlane = planes ? 1 : samples;
    const bool tiled = fields.tileWidth.present;
    const std::uint64_t unitWidth = tiled ? d.value(fields.tileWidth, 0) : size.width;
    const std::uint64_t unitRows = tiled ? d.value(fields.tileLength, 0)
                                         : std::min(d.value(fields.rowsPerStrip, saturated), size.height);
    if (bits == 0 || samples == 0 || unitWidth == 0 || unitRows == 0)
        return damaged(fmt::format("{} bits, {} samples, {}x{} pixels a strip or tile", bits, samples,
                                   unitWidth, unitRows));
    // YCbCr stored as such (not by a JPEG coding, which gives RGB) keeps two
    // chroma samples for each block of subsampled pixels.
    const bool subsampled = d.value(fields.photometric, 0) == tiffYCbCr && !planes && samples == 3 &&
                            coding != tiffJpeg && coding != tiffOldJpeg;
    const std::uint64_t blockWidth =
        std::max<std::uint64_t>(d.value(fields.yCbCrSubsampling, tiffDefaultSubsampling, 0), 1);
    const std::uint64_t blockHeight =
        std::max<std::uint64_t>(d.value(fields.yCbCrSubsampling, tiffDefaultSubsampling, 1), 1);
    // The bytes of `rows` rows of one strip or tile as decoded.
    const auto unitBytes = [&](std::uint64_t rows) {
        if (!subsampled) return times(packedBytes(unitWidth, times(bits, samplesPerPlane)), rows);
        const std::uint64_t blockSamples = blockWidth * blockHeight + 2;
        return times(packedBytes(times(ceilDiv(unitWidth, blockWidth), blockSamples), bits),
                     ceilDiv(rows, blockHeight));
    };
    const std::uint64_t across = ceilDiv(size.width, unitWidth);
    const std::uint64_t down = ceilDiv(size.height, unitRows);
    const std::uint64_t units = times(times(across, down), planes ? samples : 1);
    const TiffField& offsets = tiled ? fields.tileOffsets : fields.stripOffsets;
    const TiffField& counts = tiled ? fields.tileByteCounts : fields.stripByteCounts;
    const std::string_view unit = tiled ? "tile" : "strip";
    const auto locates = [&](const TiffField& field) {
        constexpr std::array<std::uint64_t, 3> wholeNumbers{3, 4, 16};  // SHORT, LONG, LONG8
        return field.count >= units && std::ranges::find(wholeNumbers, field.type) != wholeNumbers.end();
    };
    // Without byte counts libtiff estimates them, but only for one strip or
    // tile a plane; this reader lets each run to the end of the file.
    const bool estimated = !counts.present && units == (planes ? samples : 1);
    if (!locates(offsets) || (!estimated && !locates(counts)))
        return sized(
            size, hold,
            fmt::format("its header is damaged: it does not locate the {} {}s of its picture", units, unit));
    // The last strip of each plane may hold fewer rows; tiles are whole.
    const std::uint64_t lastRows = tiled ? unitRows : size.height - (down - 1) * unitRows;
    const std::optional<TiffPacking> packs = tiffPacking(coding);
    // The fewest coded bytes that can give `rows` rows of one strip or tile.
    const auto fewestBytes = [&](std::uint64_t rows) -> std::uint64_t {
        return packs ? ceilDiv(packs->ofRows ? rows : unitBytes(rows), packs->perByte) : 0;
    };
    const TiffUnits walk{
        d.file, d.bigEndian,           offsets.at,           estimated ? 0 : counts.at, units,
        down,   fewestBytes(unitRows), fewestBytes(lastRows)};
    const std::optional<TiffUnitFault> fault =
        firstTiffUnitFault(tiffTypeBytes(offsets.type), estimated ? 0 : tiffTypeBytes(counts.type), walk);
    if (!fault) return sized(size, hold);
    if (fault->outside)
        return sized(size, hold, runsPast(fmt::format("{} {}", unit, fault->index), fault->at, fileSize));
    const std::uint64_t rows = fault->index % down == down - 1 ? lastRows : unitRows;
    return sized(
        size, hold,
        packing(size, packs->ofRows ? rows : unitBytes(rows), fault->bytes, packs->perByte, packs->name));
}

// ---------------------------------------------------------------- Associated alpha

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

// ---------------------------------------------------------------- 16-bit grey

// The pixels of 16-bit grey and alpha as FreeImage hands them back: each
// one's four bytes as stored, taken for an 8-bit RGBA pixel (grey in red and
// green, alpha in blue and alpha) whose red and blue it exchanges. Put back
// as the 8-bit grey and alpha a 16-bit picture shows, their high bytes, the
// grey first divided by alpha it is multiplied by and turned into light
// where 0 is white.
void greyFromWideGreyAlpha(FIBITMAP* bitmap, const QvTiffDirectory& directory)
{
    static_assert(std::endian::native == std::endian::little,
                  "FreeImage's samples are in the machine's order");
    if (FreeImage_GetImageType(bitmap) != FIT_BITMAP || FreeImage_GetBPP(bitmap) != 32) return;
    const unsigned width = FreeImage_GetWidth(bitmap), height = FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* pixel = FreeImage_GetScanLine(bitmap, int(y));
        for (unsigned x = 0; x < width; ++x, pixel += 4) {
            WORD grey = WORD(pixel[FI_RGBA_RED] | pixel[FI_RGBA_GREEN] << 8);
            const WORD alpha = WORD(pixel[FI_RGBA_BLUE] | pixel[FI_RGBA_ALPHA] << 8);
            if (directory.associatedAlpha) grey = straight(grey, alpha, 65535);
            if (directory.minIsWhite) grey = WORD(0xFFFF - grey);
            pixel[FI_RGBA_RED] = pixel[FI_RGBA_GREEN] = pixel[FI_RGBA_BLUE] = BYTE(grey >> 8);
            pixel[FI_RGBA_ALPHA] = BYTE(alpha >> 8);
        }
    }
}

// 16-bit grey alone, which FreeImage hands back as stored whatever grey 0
// stands for, turned into light where 0 is white.
void invertWideGrey(FIBITMAP* bitmap)
{
    const unsigned width = FreeImage_GetWidth(bitmap), height = FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        WORD* grey = reinterpret_cast<WORD*>(FreeImage_GetScanLine(bitmap, int(y)));
        for (unsigned x = 0; x < width; ++x) grey[x] = WORD(0xFFFF - grey[x]);
    }
}

// ---------------------------------------------------------------- Tiled inks

// The inks of a tiled CMYK picture as FreeImage hands them back: of 8 bits,
// cyan and yellow exchanged (its tile reader puts every 32-bit pixel in its
// blue-first order, inks too), and without TIFF_CMYK not marked as inks at
// all, whatever their size.
void inksFromTiles(FIBITMAP* bitmap)
{
    const bool eightBit = FreeImage_GetImageType(bitmap) == FIT_BITMAP && FreeImage_GetBPP(bitmap) == 32;
    if (!eightBit && FreeImage_GetImageType(bitmap) != FIT_RGBA16) return;
    if (eightBit) {
        const unsigned width = FreeImage_GetWidth(bitmap), height = FreeImage_GetHeight(bitmap);
        for (unsigned y = 0; y < height; ++y) {
            BYTE* pixel = FreeImage_GetScanLine(bitmap, int(y));
            for (unsigned x = 0; x < width; ++x, pixel += 4) std::swap(pixel[0], pixel[2]);
        }
    }
    if (!qvHoldsInks(bitmap)) qvMarkAsInks(bitmap);
}

}  // namespace

QvHeaderReading qvReadTiff(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    FirstDirectory directory{file};
    const bool bigEndian = in.expect("MM");
    if (!bigEndian && !in.expect("II")) return notA("TIFF");
    directory.bigEndian = bigEndian;
    const std::uint64_t version = in.field(2, bigEndian);
    const bool bigTiff = version == 43;
    if (version != 42 && !bigTiff) return notA("TIFF");
    const std::uint64_t offsetBytes = bigTiff ? 8 : 4;
    if (bigTiff) in.skip(4);  // the offset size and a reserved word
    in.seek(in.field(int(offsetBytes), bigEndian));
    const std::uint64_t entries = in.field(bigTiff ? 8 : 2, bigEndian);
    const std::uint64_t entryBytes = bigTiff ? 20 : 12;
    if (in.cut() || times(entries, entryBytes) > in.left()) return cutInHeader();
    for (std::uint64_t i = 0, at = in.at(); i < entries; ++i, at += entryBytes) {
        const std::uint64_t id = QvByteCursor::numberAt<2>(file.data() + at, bigEndian);
        if (id < tiffLowestTag || id > tiffHighestTag || tiffFieldOfTag[id - tiffLowestTag] == nullptr)
            continue;
        TiffField field{QvByteCursor::numberAt<2>(file.data() + at + 2, bigEndian),
                        QvByteCursor::numberAt(file.data() + at + 4, offsetBytes, bigEndian),
                        at + 4 + offsetBytes, true};
        const std::uint64_t bytes = times(field.count, tiffTypeBytes(field.type));
        if (bytes > offsetBytes)
            field.at = QvByteCursor::numberAt(file.data() + field.at, offsetBytes, bigEndian);
        if (!within(field.at, bytes, file.size()))
            return refused(runsPast(fmt::format("field {}", id), field.at, file.size()));
        TiffField& kept = directory.fields.*tiffFieldOfTag[id - tiffLowestTag];
        if (!kept.present) kept = field;
    }
    QvHeaderReading reading = tiffPicture(directory);
    const TiffField& extra = directory.fields.extraSamples;
    const TiffFields& fields = directory.fields;
    // FreeImage reads 16-bit grey and alpha as the bytes of 8-bit colours,
    // which are put back; signed or floating-point ones as one 32-bit number
    // a pixel, of which nothing is shown.
    const std::uint64_t photometric = directory.value(fields.photometric, tiffMinIsBlack);
    const bool wideGreyAlpha =
        fields.photometric.present && (photometric == tiffMinIsWhite || photometric == tiffMinIsBlack) &&
        directory.value(fields.samplesPerPixel, 1) == 2 && directory.value(fields.bitsPerSample, 1) == 16;
    const std::uint64_t sampleFormat = directory.value(fields.sampleFormat, 1);
    if (wideGreyAlpha && (sampleFormat == tiffSignedFormat || sampleFormat == tiffFloatFormat) &&
        reading.problem.empty())
        return refused(fmt::format("FreeImage cannot read a TIFF of {} 16-bit grey with alpha",
                                   sampleFormat == tiffSignedFormat ? "signed" : "floating-point"));
    reading.facts = QvTiffDirectory{.associatedAlpha = extra.type == tiffShort && extra.count > 0 &&
                                                       directory.value(extra, 0) == tiffAssociatedAlpha,
                                    .tiledInks = fields.tileWidth.present &&
                                                 directory.value(fields.photometric, 0) == tiffSeparated &&
                                                 directory.value(fields.samplesPerPixel, 1) == tiffInks,
                                    .wideGreyAlpha = wideGreyAlpha,
                                    .minIsWhite = photometric == tiffMinIsWhite};
    return reading;
}

void qvTiffAsStored(FIBITMAP* bitmap, int, const QvHeaderReading& header, std::span<const std::uint8_t>)
{
    const QvTiffDirectory* directory = std::get_if<QvTiffDirectory>(&header.facts);
    if (directory == nullptr) return;
    if (directory->tiledInks) inksFromTiles(bitmap);
    if (directory->wideGreyAlpha) {
        greyFromWideGreyAlpha(bitmap, *directory);
        return;
    }
    if (directory->minIsWhite && FreeImage_GetImageType(bitmap) == FIT_UINT16) invertWideGrey(bitmap);
    if (!directory->associatedAlpha) return;
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
