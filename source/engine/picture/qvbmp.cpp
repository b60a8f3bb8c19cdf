// qvbmp: a BMP's headers read once into their layout, which its reader holds
// against the file and its rewrite (headers, colour masks and run-length
// endings put in the forms FreeImage 3.18's decoder reads) and the window
// icon use as they are.
#include "engine/picture/qvbmp.h"

#include "engine/picture/qvheaderreader.h"

#include <fmt/core.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace qvheader;

namespace {

// The info headers' lengths: OS/2's first, the shortest read, Windows' first.
constexpr std::uint32_t bmpOs2Header = 12, bmpShortestHeader = 16, bmpPlainHeader = 40;
// The Windows headers (the first and V2 to V5), which give compression 3
// its meaning of colour masks; OS/2 2.x's, of any other length from the
// shortest to the longest, give it Huffman coding instead, and 4 run-length
// 24-bit pixels.
constexpr std::array<std::uint32_t, 5> windowsHeaders{40, 52, 56, 108, 124};
// Where the fields of the headers lie in the file: the file header's, then
// those of a Windows or OS/2 2.x info header, whose colour masks come at the
// end of a 40-byte one; OS/2's first holds 16-bit sides, then its planes
// and bit count. A header too short for a field lacks it.
constexpr std::size_t bmpFileSizeAt = 2, bmpPixelOffsetAt = 10, bmpInfoSizeAt = 14, bmpWidthAt = 18,
                      bmpHeightAt = 22, bmpBitCountAt = 28, bmpCompressionAt = 30, bmpImageBytesAt = 34,
                      bmpColoursUsedAt = 46, bmpMasksAt = 54;
constexpr std::size_t bmpOs2HeightAt = 20, bmpOs2BitCountAt = 24;

// Compression codes, and what OS/2 2.x headers make of codes 3 and 4.
constexpr std::uint32_t bmpUncompressed = 0, bmpRle8 = 1, bmpRle4 = 2, bmpBitFields = 3,
                        bmpAlphaBitFields = 6;
constexpr std::uint32_t bmpOs2Huffman = 3, bmpOs2Rle24 = 4;

// The masks 16-bit pixels have without any: 5 bits for each colour.
constexpr std::array<std::uint32_t, 4> bmp555Masks{0x7C00, 0x03E0, 0x001F, 0};
constexpr std::uint8_t opaque = 255;

// Run-length codes that begin with a 0 byte.
constexpr std::uint8_t rleEscape = 0, rleEndOfLine = 0, rleEndOfPicture = 1, rleDelta = 2;

bool ofMasks(std::uint32_t compression)
{
    return compression == bmpBitFields || compression == bmpAlphaBitFields;
}

// Whether an info header of `infoSize` bytes holds the field of `bytes` at `at`.
bool holds(std::uint32_t infoSize, std::size_t at, std::size_t bytes)
{
    return at + bytes <= qvBmpFileHeader + infoSize;
}

// The little-endian field of `bytes` at `at`; 0 past the end of the file,
// which the cursor then marks cut short.
std::uint64_t fieldAt(QvByteCursor& in, std::size_t at, int bytes)
{
    in.seek(at);
    return in.le(bytes);
}

std::uint64_t rowCount(const QvBmpHeader& header)
{
    return std::uint64_t(std::abs(header.height));
}

// ---------------------------------------------------------------- Reading

// Holds the header against the file.
QvHeaderReading bmpReading(Bytes file, const QvBmpHeader& header)
{
    if (!header.os2 && (header.infoSize < bmpShortestHeader || header.infoSize > qvBmpLongestHeader))
        return damaged(fmt::format("an info header of {} bytes", header.infoSize));
    if (holds(header.infoSize, bmpColoursUsedAt, 4) && file.size() < bmpColoursUsedAt + 4)
        return cutInHeader();
    if (header.width < 0) return damaged(fmt::format("a picture of {}x{}", header.width, header.height));
    const QvImageSize size{std::uint64_t(header.width), rowCount(header)};
    constexpr std::array<std::uint64_t, 6> bitCounts{1, 4, 8, 16, 24, 32};
    if (std::ranges::find(bitCounts, header.bitCount) == bitCounts.end())
        return damaged(fmt::format("{} bits a pixel", header.bitCount));
    // FreeImage keeps every depth as it is stored (found by decoding each).
    const PixelHold hold{header.bitCount};
    if (settled(size)) return sized(size, hold);
    // The file header points inside the headers: no writer puts pixels there.
    if (header.pixelOffset < qvBmpFileHeader + header.infoSize)
        return sized(size, hold,
                     fmt::format("its header is damaged: its pixels start at byte {}, inside its headers",
                                 header.pixelOffset));
    // A palette cut short keeps the size, which refuses a picture too large
    // whatever its file holds.
    if (header.tablesEnd > file.size()) {
        if (header.bitCount <= 8 && header.coloursUsed > 1u << header.bitCount)
            return sized(size, hold,
                         fmt::format("its header is damaged: {} colours for {}-bit pixels",
                                     header.coloursUsed, header.bitCount));
        return sized(size, hold, "it is cut short in its header");
    }
    if (header.compression == bmpRle8 || header.compression == bmpRle4)
        return sized(
            size, hold,
            header.pixelsStart <= file.size() ? "" : runsPast("pixel data", header.pixelsStart, file.size()));
    return sized(size, hold,
                 cutShort(plus(header.pixelsStart, times(header.rowBytes, size.height)), file.size()));
}

// ---------------------------------------------------------------- Rewriting

void putU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(value >> (8 * i));
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
    const std::size_t kept = std::min<std::size_t>(header.infoSize, bmpPlainHeader);
    bytes.insert(bytes.end(), file.begin() + qvBmpFileHeader, file.begin() + qvBmpFileHeader + kept);
    bytes.resize(qvBmpFileHeader + bmpPlainHeader, 0);
    putU32(bytes, bmpInfoSizeAt, bmpPlainHeader);
    return bytes;
}

// The masked pixels as rows of 32-bit blue, green, red, alpha, in the
// file's row order, behind a 40-byte header; a problem where the masks
// cannot place the channels.
QvRewrittenPicture expandMasks(Bytes file, const QvBmpHeader& header)
{
    if (header.bitCount != 16 && header.bitCount != 32)
        return {{}, fmt::format("colour masks on a {}-bit picture", header.bitCount)};
    const bool implied = header.compression == bmpUncompressed;
    const auto [red, green, blue, alpha] = implied ? bmp555Masks : header.masks;
    for (const std::uint32_t mask : {red, green, blue})
        if (!maskUsable(mask, header.bitCount)) return {{}, "unsupported colour masks"};
    if (alpha != 0 && !maskUsable(alpha, header.bitCount)) return {{}, "unsupported colour masks"};
    const std::uint64_t width = std::uint64_t(header.width), rows = rowCount(header);
    if (header.rowBytes > (file.size() - header.pixelsStart) / rows)
        return {{}, "pixel data runs past the end of the file"};

    std::vector<std::uint8_t> bytes = plainHeaders(file, header);
    putU32(bytes, bmpPixelOffsetAt, bytes.size());
    bytes[bmpBitCountAt] = 32;
    putU32(bytes, bmpCompressionAt, bmpUncompressed);
    putU32(bytes, bmpImageBytesAt, width * 4 * rows);
    putU32(bytes, bmpColoursUsedAt, 0);
    bytes.reserve(bytes.size() + width * 4 * rows);
    const std::size_t pixelBytes = header.bitCount / 8;
    for (std::uint64_t y = 0; y < rows; ++y) {
        const std::uint8_t* row = file.data() + header.pixelsStart + y * header.rowBytes;
        for (std::uint64_t x = 0; x < width; ++x) {
            const auto word = std::uint32_t(QvByteCursor::numberAt(row + x * pixelBytes, pixelBytes, false));
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

}  // namespace

std::optional<QvBmpHeader> qvReadBmpHeader(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (!in.expect("BM")) return std::nullopt;
    QvBmpHeader header;
    header.pixelOffset = std::uint32_t(fieldAt(in, bmpPixelOffsetAt, 4));
    header.infoSize = std::uint32_t(fieldAt(in, bmpInfoSizeAt, 4));
    header.os2 = header.infoSize == bmpOs2Header;
    header.windows = std::ranges::find(windowsHeaders, header.infoSize) != windowsHeaders.end();
    if (header.os2) {
        header.width = std::int64_t(fieldAt(in, bmpWidthAt, 2));
        header.height = std::int64_t(fieldAt(in, bmpOs2HeightAt, 2));
        header.bitCount = std::uint16_t(fieldAt(in, bmpOs2BitCountAt, 2));
    } else {
        header.width = std::int64_t(std::int32_t(fieldAt(in, bmpWidthAt, 4)));
        header.height = std::int64_t(std::int32_t(fieldAt(in, bmpHeightAt, 4)));
        header.bitCount = std::uint16_t(fieldAt(in, bmpBitCountAt, 2));
    }
    if (holds(header.infoSize, bmpCompressionAt, 4))
        header.compression = std::uint32_t(fieldAt(in, bmpCompressionAt, 4));
    if (holds(header.infoSize, bmpImageBytesAt, 4))
        header.imageBytes = std::uint32_t(fieldAt(in, bmpImageBytesAt, 4));
    if (in.cut()) return std::nullopt;
    // Its reader refuses a file cut short here; the colours are then unknown.
    if (holds(header.infoSize, bmpColoursUsedAt, 4))
        header.coloursUsed = QvByteCursor(file, bmpColoursUsedAt).le(4);
    if (ofMasks(header.compression) && header.infoSize >= bmpPlainHeader) {
        const bool alpha =
            header.compression == bmpAlphaBitFields || holds(header.infoSize, bmpMasksAt + 12, 4);
        QvByteCursor masks(file, bmpMasksAt);
        for (std::size_t i = 0; i < (alpha ? 4u : 3u); ++i) header.masks[i] = std::uint32_t(masks.le(4));
        if (masks.cut()) header.masks = {};  // its pixels cannot be read either: for its reader to refuse
    }
    // The palette (or the masks of a 40-byte header) follows the info header;
    // the pixels come after them, however near the file header says they start.
    std::uint64_t tables = 0;
    if (header.bitCount <= 8)
        tables =
            times(header.coloursUsed != 0 ? header.coloursUsed : 1u << header.bitCount, header.os2 ? 3 : 4);
    if (ofMasks(header.compression) && header.infoSize == bmpPlainHeader)
        tables = header.compression == bmpBitFields ? 12 : 16;
    header.tablesEnd = plus(qvBmpFileHeader + header.infoSize, tables);
    header.pixelsStart = std::max<std::uint64_t>(header.pixelOffset, header.tablesEnd);
    header.rowBytes =
        times(ceilDiv(times(std::uint64_t(std::max<std::int64_t>(header.width, 0)), header.bitCount), 32), 4);
    return header;
}

std::optional<std::uint64_t> qvBmpPixelsEnd(const QvBmpHeader& header)
{
    if (header.compression == bmpUncompressed || ofMasks(header.compression))
        return plus(header.pixelsStart, times(header.rowBytes, rowCount(header)));
    if (header.imageBytes == 0) return std::nullopt;
    return plus(header.pixelsStart, header.imageBytes);
}

QvHeaderReading qvReadBmp(std::span<const std::uint8_t> file)
{
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M') return notA("BMP");
    const std::optional<QvBmpHeader> header = qvReadBmpHeader(file);
    if (!header) return cutInHeader();
    QvHeaderReading reading = bmpReading(file, *header);
    reading.facts = *header;
    return reading;
}

QvRewrittenPicture qvRewriteBmp(std::span<const std::uint8_t> file, const QvHeaderReading& reading)
{
    const QvBmpHeader* header = std::get_if<QvBmpHeader>(&reading.facts);
    if (header == nullptr || header->os2 || header->infoSize < bmpShortestHeader ||
        header->infoSize > qvBmpLongestHeader || header->width <= 0 || header->height == 0 ||
        header->pixelsStart > file.size())
        return {};
    if (!header->windows && (header->compression == bmpOs2Huffman || header->compression == bmpOs2Rle24))
        return {};  // codings FreeImage has no decoder for
    const bool masked = header->windows && ofMasks(header->compression);
    if (masked || (header->bitCount == 16 && header->compression == bmpUncompressed))
        return expandMasks(file, *header);
    const std::optional<std::size_t> lastEnd =
        header->compression == bmpRle8 ? rle8LastRowEnd(file, header->pixelsStart, rowCount(*header))
                                       : std::nullopt;
    if (header->infoSize == bmpPlainHeader && !lastEnd) return {};

    // The palette and pixels follow the 40-byte header as they followed the file's own.
    const std::size_t infoEnd = qvBmpFileHeader + header->infoSize;
    std::vector<std::uint8_t> bytes = plainHeaders(file, *header);
    const std::size_t shift = bytes.size();
    bytes.insert(bytes.end(), file.begin() + std::min(infoEnd, file.size()), file.end());
    putU32(bytes, bmpPixelOffsetAt, header->pixelsStart - infoEnd + shift);
    putU32(bytes, bmpFileSizeAt, bytes.size());
    if (lastEnd) bytes[*lastEnd + 1 - infoEnd + shift] = rleEndOfPicture;
    return {std::move(bytes), {}};
}
