// qvpicturerewrite: BMP headers, colour masks and run-length endings, and
// plain PBM digits, put in the forms FreeImage 3.18's decoders read.
#include "engine/picture/qvpicturerewrite.h"

#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>

namespace {

using Bytes = std::span<const std::uint8_t>;

// ---------------------------------------------------------------- BMP

constexpr std::size_t bmpFileSizeAt = 2;
constexpr std::size_t bmpPixelOffsetAt = 10;
constexpr std::size_t bmpInfoSizeAt = 14;
constexpr std::size_t bmpBitCountAt = 28;
constexpr std::size_t bmpCompressionAt = 30;
constexpr std::size_t bmpImageBytesAt = 34;
// The Windows headers (the first and V2 to V5), which give compression 3
// its meaning of colour masks; OS/2 2.x's, of any other length up to 64
// bytes, give it Huffman coding instead, and 4 run-length 24-bit pixels.
constexpr std::array<std::uint32_t, 5> windowsHeaders{40, 52, 56, 108, 124};

// What OS/2 2.x headers make of compression codes 3 and 4.
constexpr std::uint32_t bmpOs2Huffman = 3, bmpOs2Rle24 = 4;
// The masks 16-bit pixels have without any: 5 bits for each colour.
constexpr std::array<std::uint32_t, 4> bmp555Masks{0x7C00, 0x03E0, 0x001F, 0};
constexpr std::uint8_t opaque = 255;

// Run-length codes that begin with a 0 byte.
constexpr std::uint8_t rleEscape = 0, rleEndOfLine = 0, rleEndOfPicture = 1, rleDelta = 2;

void putU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(value >> (8 * i));
}

std::uint32_t readLe(Bytes bytes, std::size_t at, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value |= std::uint32_t(bytes[at + i]) << (8 * i);
    return value;
}

std::uint64_t rowCount(const QvBmpHeader& header)
{
    return std::uint64_t(header.height < 0 ? -header.height : header.height);
}

// Bytes of one stored row: whole 32-bit words.
std::uint64_t bmpRowBytes(const QvBmpHeader& header)
{
    return (std::uint64_t(header.width) * header.bitCount + 31) / 32 * 4;
}

// A colour mask is one run of set bits within the pixel's bits.
bool maskUsable(std::uint32_t mask, int bitCount)
{
    if (mask == 0 || (bitCount < 32 && mask >> bitCount != 0)) return false;
    const std::uint32_t run = mask >> std::countr_zero(mask);
    return (run & (run + 1)) == 0;
}

// One channel of a pixel word, scaled from the mask's bits to 0..255.
std::uint8_t maskedChannel(std::uint32_t word, std::uint32_t mask)
{
    const std::uint64_t top = (std::uint64_t(1) << std::popcount(mask)) - 1;
    const std::uint64_t value = (word & mask) >> std::countr_zero(mask);
    return std::uint8_t((value * 255 + top / 2) / top);
}

// The file header and a 40-byte info header holding the fields of the
// file's own, those it lacks (an OS/2 2.x header may stop after the bit
// count) as 0.
std::vector<std::uint8_t> plainHeaders(Bytes file, const QvBmpHeader& header)
{
    std::vector<std::uint8_t> bytes(file.begin(), file.begin() + qvBmpFileHeader);
    const std::size_t kept = std::min<std::size_t>(header.infoSize, qvBmpPlainHeader);
    bytes.insert(bytes.end(), file.begin() + qvBmpFileHeader, file.begin() + qvBmpFileHeader + kept);
    bytes.resize(qvBmpFileHeader + qvBmpPlainHeader, 0);
    putU32(bytes, bmpInfoSizeAt, qvBmpPlainHeader);
    return bytes;
}

// The masked pixels as rows of 32-bit blue, green, red, alpha, in the
// file's row order, behind a 40-byte header; a problem where the masks
// cannot place the channels.
QvRewrittenPicture expandMasks(Bytes file, const QvBmpHeader& header, std::uint64_t pixelsStart)
{
    if (header.bitCount != 16 && header.bitCount != 32)
        return {{}, fmt::format("colour masks on a {}-bit picture", header.bitCount)};
    const bool implied = header.compression == qvBmpUncompressed;
    const auto [red, green, blue, alpha] = implied ? bmp555Masks : header.masks;
    for (const std::uint32_t mask : {red, green, blue})
        if (!maskUsable(mask, header.bitCount)) return {{}, "unsupported colour masks"};
    if (alpha != 0 && !maskUsable(alpha, header.bitCount)) return {{}, "unsupported colour masks"};
    const std::uint64_t width = std::uint64_t(header.width), rows = rowCount(header);
    const std::uint64_t rowBytes = bmpRowBytes(header);
    if (rowBytes > (file.size() - pixelsStart) / rows)
        return {{}, "pixel data runs past the end of the file"};

    std::vector<std::uint8_t> bytes = plainHeaders(file, header);
    putU32(bytes, bmpPixelOffsetAt, bytes.size());
    bytes[bmpBitCountAt] = 32;
    putU32(bytes, bmpCompressionAt, qvBmpUncompressed);
    putU32(bytes, bmpImageBytesAt, width * 4 * rows);
    putU32(bytes, qvBmpColoursUsedAt, 0);
    bytes.reserve(bytes.size() + width * 4 * rows);
    const int pixelBytes = header.bitCount / 8;
    for (std::uint64_t y = 0; y < rows; ++y) {
        const std::uint64_t rowAt = pixelsStart + y * rowBytes;
        for (std::uint64_t x = 0; x < width; ++x) {
            const std::uint32_t word = readLe(file, rowAt + x * pixelBytes, pixelBytes);
            bytes.insert(bytes.end(),
                         {maskedChannel(word, blue), maskedChannel(word, green), maskedChannel(word, red),
                          alpha != 0 ? maskedChannel(word, alpha) : opaque});
        }
    }
    putU32(bytes, bmpFileSizeAt, bytes.size());
    return {std::move(bytes), {}};
}

// Where, in 8-bit run-length pixels from `start`, an end of line closes the
// last row: FreeImage takes it for a line past the picture and fails the
// file, though the picture is complete. Nothing when none does.
std::optional<std::size_t> rle8LastRowEnd(Bytes file, std::size_t start, std::uint64_t rows)
{
    std::uint64_t row = 0;
    std::size_t at = start;
    while (at + 1 < file.size()) {
        const std::uint8_t count = file[at], code = file[at + 1];
        at += 2;
        if (count != rleEscape) continue;  // a run of one index
        if (code == rleEndOfLine) {
            if (row + 1 >= rows) return at - 2;
            ++row;
        } else if (code == rleEndOfPicture) {
            return std::nullopt;
        } else if (code == rleDelta) {
            if (at + 1 >= file.size()) return std::nullopt;
            row += file[at + 1];
            at += 2;
        } else {
            at += code + (code & 1);  // indices given one by one, padded to a 16-bit word
        }
    }
    return std::nullopt;
}

QvRewrittenPicture rewriteBmp(Bytes file)
{
    const std::optional<QvBmpHeader> header = qvReadBmpHeader(file);
    if (!header || header->os2 || header->infoSize < qvBmpShortestHeader ||
        header->infoSize > qvBmpLongestHeader || header->width <= 0 || header->height == 0 ||
        qvBmpFileHeader + header->infoSize > file.size())
        return {};
    const bool windows = std::ranges::find(windowsHeaders, header->infoSize) != windowsHeaders.end();
    if (!windows && (header->compression == bmpOs2Huffman || header->compression == bmpOs2Rle24))
        return {};  // codings FreeImage has no decoder for
    const bool masked =
        windows && (header->compression == qvBmpBitFields || header->compression == qvBmpAlphaBitFields);
    // The masks of a 40-byte header follow it; the pixels come after them
    // and the palette, however near the header says they start.
    std::uint64_t tablesEnd = qvBmpFileHeader + header->infoSize;
    if (masked && header->infoSize == qvBmpPlainHeader)
        tablesEnd += header->compression == qvBmpBitFields ? 12 : 16;
    if (header->bitCount <= 8) {
        const bool saysUsed = qvBmpFileHeader + header->infoSize >= qvBmpColoursUsedAt + 4;
        const std::uint32_t used = saysUsed ? readLe(file, qvBmpColoursUsedAt, 4) : 0;
        tablesEnd += std::uint64_t(used != 0 ? used : 1u << header->bitCount) * 4;
    }
    const std::uint64_t pixelsStart = std::max<std::uint64_t>(header->pixelOffset, tablesEnd);
    if (pixelsStart > file.size()) return {};

    if (masked || (header->bitCount == 16 && header->compression == qvBmpUncompressed))
        return expandMasks(file, *header, pixelsStart);
    const std::optional<std::size_t> lastEnd = header->compression == qvBmpRle8
                                                   ? rle8LastRowEnd(file, pixelsStart, rowCount(*header))
                                                   : std::nullopt;
    if (header->infoSize == qvBmpPlainHeader && !lastEnd) return {};

    // The palette and pixels follow the 40-byte header as they followed the file's own.
    const std::size_t infoEnd = qvBmpFileHeader + header->infoSize;
    std::vector<std::uint8_t> bytes = plainHeaders(file, *header);
    const std::size_t shift = bytes.size();
    bytes.insert(bytes.end(), file.begin() + std::min(infoEnd, file.size()), file.end());
    putU32(bytes, bmpPixelOffsetAt, pixelsStart - infoEnd + shift);
    putU32(bytes, bmpFileSizeAt, bytes.size());
    if (lastEnd) bytes[*lastEnd + 1 - infoEnd + shift] = rleEndOfPicture;
    return {std::move(bytes), {}};
}

// ---------------------------------------------------------------- PBM

// Steps over white space and comments, which run to the end of their line.
std::size_t skipSpace(Bytes file, std::size_t at)
{
    while (at < file.size()) {
        if (file[at] == '#') {
            while (at < file.size() && file[at] != '\n' && file[at] != '\r') ++at;
        } else if (std::isspace(file[at])) {
            ++at;
        } else {
            break;
        }
    }
    return at;
}

// A plain PBM's digits need no space between them, but FreeImage reads
// "0110" as one number; it gets them one by one. Only the picture's own
// width x height digits are copied: whatever follows them is no part of it,
// however long it runs.
QvRewrittenPicture rewritePlainPbm(Bytes file)
{
    if (file.size() < 2 || file[0] != 'P' || file[1] != '1') return {};
    std::size_t at = 2;
    std::uint64_t sides[2] = {};
    for (std::uint64_t& side : sides) {
        at = skipSpace(file, at);
        const std::size_t digits = at;
        for (; at < file.size() && std::isdigit(file[at]); ++at)
            side = std::min(side * 10 + std::uint64_t(file[at] - '0'), qvMaxPicturePixels + 1);
        if (at == digits) return {};
    }
    const std::uint64_t pixels = sides[0] * sides[1];  // sides held small enough not to overflow
    std::vector<std::uint8_t> bytes(file.begin(), file.begin() + at);
    bytes.reserve(at + 2 * std::min<std::uint64_t>(pixels, file.size() - at) + 1);
    bool together = false;
    std::uint64_t copied = 0;
    for (at = skipSpace(file, at); at < file.size() && copied < pixels; at = skipSpace(file, at), ++copied) {
        if (file[at] != '0' && file[at] != '1') return {};  // for FreeImage to refuse
        together = together || (at > 0 && (file[at - 1] == '0' || file[at - 1] == '1'));
        bytes.insert(bytes.end(), {' ', file[at++]});
    }
    if (!together) return {};
    bytes.push_back('\n');
    return {std::move(bytes), {}};
}

bool isNetpbm(FREE_IMAGE_FORMAT format)
{
    constexpr FREE_IMAGE_FORMAT netpbm[] = {FIF_PBM, FIF_PBMRAW, FIF_PGM, FIF_PGMRAW, FIF_PPM, FIF_PPMRAW};
    return std::ranges::find(netpbm, format) != std::end(netpbm);
}

}  // namespace

QvRewrittenPicture qvRewriteForFreeImage(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file)
{
    if (format == FIF_BMP) return rewriteBmp(file);
    if (isNetpbm(format)) return rewritePlainPbm(file);
    return {};
}

std::optional<std::uint64_t> qvBmpRowsEnd(const QvBmpHeader& header)
{
    const bool masked = header.compression == qvBmpBitFields || header.compression == qvBmpAlphaBitFields;
    if (header.compression != qvBmpUncompressed && !masked) return std::nullopt;
    return std::uint64_t(header.pixelOffset) + bmpRowBytes(header) * rowCount(header);
}
