// qvimageheader: the size a picture file claims and whether the file can hold
// it, read from the header in the fields FreeImage's own readers allocate the
// picture by, before any of them runs. Only what a file cannot be is refused:
// cut short, a part outside it, or more pixels than its coding can pack into
// its bytes (a coding's packing limit is the most pixel bytes it gives for
// one byte of the file). Codings that pack any number of pixels in a few
// bytes are held only by the pixel bound the decoding child applies to the
// size read here (qvImageSizeProblem in qvpicturedecode), since pictures are
// decoded in a child process under memory and time limits.
//
// Headers are read in the main program too (a sky's six faces), outside any
// limit, so a reading costs at most one cheap pass over the file whatever it
// holds: walks over strips, entries, chunks, markers and lines read them in
// place, format no text and allocate nothing until they find a problem, and
// a size no picture may have ends the reading at once.
#include "engine/picture/qvimageheader.h"

#include "engine/picture/qvbytecursor.h"

#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();

// Packing limits of the codings several formats share: the most pixel bytes
// one byte of coded data can give.
// Deflate: a 258-byte match to the byte before, in two bits at the least.
constexpr std::uint64_t deflateBytesPerByte = 258 * 4;
// LZW of at most 12-bit codes: a code stands for at most 4096 bytes.
constexpr std::uint64_t lzwBytesPerByte = (4096 * 8 + 11) / 12;

template <class Unsigned>
Unsigned byteSwapped(Unsigned value)
{
    if constexpr (sizeof value == 2) return __builtin_bswap16(value);
    if constexpr (sizeof value == 4) return __builtin_bswap32(value);
    if constexpr (sizeof value == 8) return __builtin_bswap64(value);
}

// a x b and a + b, held at the largest value instead of wrapping.
std::uint64_t times(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? saturated : product;
}
std::uint64_t plus(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? saturated : sum;
}
std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b)
{
    return a / b + (a % b != 0 ? 1 : 0);
}
// The number of `bytes` bytes (1, 2, 4 or 8) at `at`, in either byte order;
// read in place, for walks over millions of fields.
std::uint64_t readNumber(const std::uint8_t* at, std::uint64_t bytes, bool bigEndian)
{
    const auto inOrder = [&](auto value) {
        std::memcpy(&value, at, sizeof value);
        return std::uint64_t(bigEndian == (std::endian::native == std::endian::big) ? value
                                                                                    : byteSwapped(value));
    };
    switch (bytes) {
    case 1:
        return at[0];
    case 2:
        return inOrder(std::uint16_t());
    case 4:
        return inOrder(std::uint32_t());
    case 8:
        return inOrder(std::uint64_t());
    default:
        return 0;
    }
}
std::uint64_t readBig(const std::uint8_t* at, std::uint64_t bytes)
{
    return readNumber(at, bytes, true);
}
// The eight bytes at `at` as one word, the first byte lowest.
std::uint64_t wordAt(const std::uint8_t* at)
{
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return std::endian::native == std::endian::little ? word : byteSwapped(word);
}
// The bytes of a word equal to `value`: the high bit of each such byte set.
// Walks over text take eight bytes at a time with it where nothing happens.
std::uint64_t bytesEqual(std::uint64_t word, std::uint8_t value)
{
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7F;
    const std::uint64_t differences = word ^ (0x0101010101010101ull * value);
    return ~(((differences & low7) + low7) | differences) & ~low7;
}
// Bytes of `count` samples of `bits` each, rounded up to whole bytes.
std::uint64_t packedBytes(std::uint64_t count, std::uint64_t bits)
{
    return times(count, bits) == saturated ? saturated : ceilDiv(times(count, bits), 8);
}

// Readings of a file whose signature is the format's: any problem is fatal.
QvHeaderReading sized(QvImageSize size, std::string problem = {})
{
    const bool fatal = !problem.empty();
    return {size, std::move(problem), fatal};
}
// How FreeImage's decoder holds a pixel: the bits of one in its bitmap, and
// whether its samples are floating point. Bits 0: the header does not tell.
struct PixelHold {
    std::uint32_t bits = 0;
    bool floating = false;
};
QvHeaderReading held(QvHeaderReading reading, PixelHold hold)
{
    reading.bitmapBits = hold.bits;
    reading.floatSamples = hold.floating;
    return reading;
}
// A reading of a format read for its size alone.
QvHeaderReading found(QvImageSize size, PixelHold hold)
{
    return held({size, {}, false}, hold);
}
QvHeaderReading refused(std::string problem)
{
    return {std::nullopt, std::move(problem), true};
}
// The one problem that is not fatal: the file is of another format.
QvHeaderReading notA(std::string_view format)
{
    return {std::nullopt, fmt::format("it is not a {} file", format), false};
}
QvHeaderReading cutInHeader()
{
    return refused("it is cut short in its header");
}
QvHeaderReading damaged(std::string_view what)
{
    return refused(fmt::format("its header is damaged: {}", what));
}
// Why a picture whose data must reach byte `end` is not all there.
std::string cutShort(std::uint64_t end, std::size_t fileSize)
{
    return end <= fileSize ? std::string()
                           : fmt::format("it is cut short: its pixels end at byte {}, the file at byte {}",
                                         end, fileSize);
}
// Whether `length` bytes from byte `start` lie in a file of `fileSize` bytes.
bool within(std::uint64_t start, std::uint64_t length, std::uint64_t fileSize)
{
    return start <= fileSize && length <= fileSize - start;
}
// Why a part of the file at `start` that does not lie within it is not there.
std::string runsPast(std::string_view part, std::uint64_t start, std::size_t fileSize)
{
    return fmt::format("its {} at byte {} runs past the end of the file (byte {})", part, start, fileSize);
}
// Whether a picture of this size is refused whatever the rest of its file
// holds: it has no pixels, or more than any picture may have. Its reading
// ends there, so a file claiming one costs nothing to walk; the caller refuses
// it by its size (qvImageSizeProblem), or qvReadHeader for a side of 0.
bool settled(QvImageSize size)
{
    return size.width == 0 || size.height == 0 || times(size.width, size.height) > qvMaxPicturePixels;
}
// Why `pixelBytes` cannot come from `coded` bytes of a coding that gives at
// most `perByte` of them for each.
std::string packing(QvImageSize size, std::uint64_t pixelBytes, std::uint64_t coded, std::uint64_t perByte,
                    std::string_view coding)
{
    return pixelBytes <= times(coded, perByte)
               ? std::string()
               : fmt::format("its {}x{} pixels cannot come from {} bytes of {} data", size.width, size.height,
                             coded, coding);
}

// The four characters of a chunk or box type as one big-endian number.
constexpr std::uint64_t tag(const char (&name)[5])
{
    return std::uint64_t(std::uint8_t(name[0])) << 24 | std::uint64_t(std::uint8_t(name[1])) << 16 |
           std::uint64_t(std::uint8_t(name[2])) << 8 | std::uint64_t(std::uint8_t(name[3]));
}

// Whether the four characters of a chunk type are ASCII letters, as every
// PNG chunk's are.
bool isChunkType(std::uint64_t type)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint64_t lower = (type >> shift & 0xFF) | 0x20;
        if (lower < 'a' || lower > 'z') return false;
    }
    return true;
}
std::string chunkName(std::uint64_t type)
{
    return {char(type >> 24), char(type >> 16), char(type >> 8), char(type)};
}

// How FreeImage holds a pixel of each PNG colour type and depth, plain and
// with a transparency chunk (found by decoding each); MNG's images alike.
struct PngHold {
    std::uint64_t colourType, depth;
    std::uint32_t plain, transparent;
};
constexpr PngHold pngHolds[] = {{0, 1, 1, 8},    {0, 2, 8, 8},   {0, 4, 4, 8},    {0, 8, 8, 8},
                                {0, 16, 16, 64}, {2, 8, 24, 32}, {2, 16, 48, 64}, {3, 1, 1, 8},
                                {3, 2, 8, 8},    {3, 4, 4, 8},   {3, 8, 8, 8},    {4, 8, 32, 32},
                                {4, 16, 64, 64}, {6, 8, 32, 32}, {6, 16, 64, 64}};
PixelHold pngHold(std::uint64_t colourType, std::uint64_t depth, bool transparent)
{
    for (const PngHold& hold : pngHolds)
        if (hold.colourType == colourType && hold.depth == depth)
            return {transparent ? hold.transparent : hold.plain};
    return {};
}

// Whether the chunks before a PNG's image data give it transparency as libpng
// takes it: a tRNS chunk of two bytes for grey, six for RGB, or one for each
// of at most as many palette entries as the PLTE before it has.
class PngTransparency {
public:
    explicit PngTransparency(std::uint64_t colourType) : colourType_(colourType) {}
    void see(std::uint64_t type, std::uint64_t length)
    {
        if (type == tag("PLTE")) paletteEntries_ = length / 3;
        if (type == tag("tRNS"))
            found_ = found_ || (colourType_ == 0 && length == 2) || (colourType_ == 2 && length == 6) ||
                     (colourType_ == 3 && length >= 1 && length <= paletteEntries_);
    }
    bool found() const { return found_; }

private:
    std::uint64_t colourType_;
    std::uint64_t paletteEntries_ = 0;
    bool found_ = false;
};

// ---------------------------------------------------------------- BMP

// The shortest OS/2 headers end before the compression, then the image size.
constexpr std::uint32_t bmpCompressionHeader = 20;
constexpr std::uint32_t bmpImageBytesHeader = 24;
// The first header to hold an alpha mask; Windows' first (qvBmpPlainHeader)
// is followed by its masks instead of holding them.
constexpr std::uint32_t bmpAlphaMaskHeader = 56;

}  // namespace

std::optional<QvBmpHeader> qvReadBmpHeader(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (!in.expect("BM")) return std::nullopt;
    QvBmpHeader header;
    in.skip(8);  // file size, reserved
    header.pixelOffset = std::uint32_t(in.le(4));
    header.infoSize = std::uint32_t(in.le(4));
    header.os2 = header.infoSize == qvBmpOs2Header;
    header.width = header.os2 ? std::int64_t(in.le(2)) : std::int64_t(std::int32_t(in.le(4)));
    header.height = header.os2 ? std::int64_t(in.le(2)) : std::int64_t(std::int32_t(in.le(4)));
    in.skip(2);  // planes
    header.bitCount = std::uint16_t(in.le(2));
    if (header.infoSize >= bmpCompressionHeader) header.compression = std::uint32_t(in.le(4));
    if (header.infoSize >= bmpImageBytesHeader) header.imageBytes = std::uint32_t(in.le(4));
    if (in.cut()) return std::nullopt;
    if ((header.compression == qvBmpBitFields || header.compression == qvBmpAlphaBitFields) &&
        header.infoSize >= qvBmpPlainHeader) {
        const bool alpha = header.compression == qvBmpAlphaBitFields || header.infoSize >= bmpAlphaMaskHeader;
        QvByteCursor masks(file, qvBmpFileHeader + qvBmpPlainHeader);
        for (std::size_t i = 0; i < (alpha ? 4u : 3u); ++i) header.masks[i] = std::uint32_t(masks.le(4));
        if (masks.cut()) header.masks = {};  // its pixels cannot be read either: for the caller to refuse
    }
    return header;
}

namespace {

// BMP: Windows and OS/2 headers. Rows stored plainly must all be in the file;
// run-length rows may end the picture early, so only the size bounds them.
QvHeaderReading bmpHeader(Bytes file)
{
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M') return notA("BMP");
    const std::optional<QvBmpHeader> header = qvReadBmpHeader(file);
    if (!header) return cutInHeader();
    if (!header->os2 && (header->infoSize < qvBmpShortestHeader || header->infoSize > qvBmpLongestHeader))
        return damaged(fmt::format("an info header of {} bytes", header->infoSize));
    std::uint64_t coloursUsed = 0;
    if (header->infoSize >= qvBmpPlainHeader) {
        QvByteCursor in(file, qvBmpColoursUsedAt);
        coloursUsed = in.le(4);
        if (in.cut()) return cutInHeader();
    }
    if (header->width < 0) return damaged(fmt::format("a picture of {}x{}", header->width, header->height));
    const QvImageSize size{std::uint64_t(header->width), std::uint64_t(std::abs(header->height))};
    const std::uint64_t bitCount = header->bitCount;
    constexpr std::array<std::uint64_t, 6> bitCounts{1, 4, 8, 16, 24, 32};
    if (std::ranges::find(bitCounts, bitCount) == bitCounts.end())
        return damaged(fmt::format("{} bits a pixel", bitCount));
    // FreeImage keeps every depth as it is stored (found by decoding each).
    const PixelHold hold{std::uint32_t(bitCount)};
    if (settled(size)) return held(sized(size), hold);

    // The palette (or the masks of a 40-byte header) follows the info header.
    const std::uint64_t entryBytes = header->os2 ? 3 : 4;
    std::uint64_t tables = 0;
    if (bitCount <= 8) tables = times(coloursUsed != 0 ? coloursUsed : 1u << bitCount, entryBytes);
    if ((header->compression == qvBmpBitFields || header->compression == qvBmpAlphaBitFields) &&
        header->infoSize == qvBmpPlainHeader)
        tables = header->compression == qvBmpBitFields ? 12 : 16;
    const std::uint64_t tablesEnd = plus(qvBmpFileHeader + header->infoSize, tables);
    if (tablesEnd > file.size()) return cutInHeader();
    const std::uint64_t start = std::max<std::uint64_t>(header->pixelOffset, tablesEnd);
    if (header->compression == qvBmpRle8 || header->compression == qvBmpRle4)
        return held(sized(size, start <= file.size() ? "" : runsPast("pixel data", start, file.size())),
                    hold);
    const std::uint64_t rowBytes = times(ceilDiv(times(size.width, bitCount), 32), 4);
    return held(sized(size, cutShort(plus(start, times(rowBytes, size.height)), file.size())), hold);
}

// ---------------------------------------------------------------- GIF

// LZW codes of GIF start one bit wider than the smallest code size, which
// holds the colour indices of 2 to 8 bits.
constexpr std::uint64_t gifFewestCodeBits = 2;
constexpr std::uint64_t gifMostCodeBits = 8;

// Blocks between GIF images.
constexpr std::uint64_t gifExtension = 0x21;
constexpr std::uint64_t gifImageDescriptor = 0x2C;

// Steps over a colour table whose presence and size a block's flags give.
void skipGifColourTable(QvByteCursor& in, std::uint64_t flags)
{
    if (flags & 0x80) in.skip(3u << ((flags & 7) + 1));
}
// FreeImage holds an image of up to 16 colours in 1 or 4 bits with the
// default flag (found by decoding each size), but read with GIF_LOAD256, the
// texture loader's first flag, every one in 8: the larger, which a decoding
// may need.
constexpr PixelHold gifHold{8};

// Steps over an extension's sub-blocks, each led by its length, up to and past
// the empty one that ends them. A tight loop: a file may hold hundreds of
// millions of them.
void skipGifSubBlocks(QvByteCursor& in, Bytes file)
{
    std::uint64_t at = in.at();
    while (at < file.size() && file[at] != 0) at += file[at] + 1u;
    in.seek(at + 1);
}

// GIF: FreeImage allocates the first image's own size, whatever the logical
// screen says, and the LZW data after that image's descriptor must be able
// to fill it.
QvHeaderReading gifHeader(Bytes file)
{
    QvByteCursor in(file);
    if (!in.expect("GIF")) return notA("GIF");
    in.skip(3 + 4);  // version, logical screen
    const std::uint64_t flags = in.le(1);
    in.skip(2);  // background colour, pixel aspect
    skipGifColourTable(in, flags);
    while (!in.cut()) {
        const std::uint64_t block = in.le(1);
        if (block == gifExtension) {
            in.skip(1);  // its label
            skipGifSubBlocks(in, file);
        } else if (block == gifImageDescriptor) {
            in.skip(4);  // left, top
            const QvImageSize size{in.le(2), in.le(2)};
            const std::uint64_t localFlags = in.le(1);
            skipGifColourTable(in, localFlags);
            const PixelHold hold = gifHold;
            const std::uint64_t codeBits = in.le(1);
            if (in.cut()) return held(sized(size, "it is cut short in its header"), hold);
            if (settled(size)) return held(sized(size), hold);
            if (codeBits < gifFewestCodeBits || codeBits > gifMostCodeBits)
                return held(sized(size, fmt::format("its LZW minimum code size {} is outside {} to {}",
                                                    codeBits, gifFewestCodeBits, gifMostCodeBits)),
                            hold);
            return held(
                sized(size, packing(size, times(size.width, size.height), in.left(), lzwBytesPerByte, "LZW")),
                hold);
        } else if (!in.cut()) {
            return damaged("no image before its end");
        }
    }
    return cutInHeader();
}

// ---------------------------------------------------------------- Radiance HDR

// A run of at most 127 equal values in two bytes, for each of the four
// channels of a run-length coded row, after its four-byte start.
constexpr std::uint64_t hdrRunLength = 127;
constexpr std::uint64_t hdrRowStart = 4;

// FreeImage reads each header line into 256 bytes, one of them for the end
// of the string: a longer line, or one holding a NUL, fails its reader.
constexpr std::size_t hdrLongestLine = 255;
// The eight orientations a resolution line may give, as FreeImage's scan of
// "<first> %d <second> %d" reads them. It reads the first two, in both
// taking the second number for the width; the other six fail it (found by
// decoding files of each), though their files are sound.
struct HdrOrientation {
    std::string_view first, second;
    bool read;
};
constexpr std::array<HdrOrientation, 8> hdrOrientations{{{"-Y", "+X", true},
                                                         {"+X", "+Y", true},
                                                         {"+Y", "+X", false},
                                                         {"+Y", "-X", false},
                                                         {"-Y", "-X", false},
                                                         {"+X", "-Y", false},
                                                         {"-X", "+Y", false},
                                                         {"-X", "-Y", false}}};

// The two numbers of a resolution line, read as scanf reads `first` %d
// `second` %d: the first axis at the very start, blanks allowed between the
// rest, a number of digits with an optional plus; nothing when it does not
// match (a minus too, which fails FreeImage's reader).
std::optional<std::array<std::uint64_t, 2>> hdrResolution(std::string_view line, std::string_view first,
                                                          std::string_view second)
{
    const auto skipBlanks = [&] {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
    };
    const auto number = [&]() -> std::optional<std::uint64_t> {
        skipBlanks();
        if (line.starts_with('+')) line.remove_prefix(1);
        if (line.empty() || line.front() < '0' || line.front() > '9') return std::nullopt;
        std::uint64_t value = 0;
        for (; !line.empty() && line.front() >= '0' && line.front() <= '9'; line.remove_prefix(1))
            value = plus(times(value, 10), std::uint64_t(line.front() - '0'));
        return value;
    };
    if (!line.starts_with(first)) return std::nullopt;
    line.remove_prefix(first.size());
    const std::optional<std::uint64_t> a = number();
    skipBlanks();
    if (!a || !line.starts_with(second)) return std::nullopt;
    line.remove_prefix(second.size());
    const std::optional<std::uint64_t> b = number();
    return b ? std::optional(std::array{*a, *b}) : std::nullopt;
}

// Radiance HDR: text lines, an empty one, then the resolution line.
QvHeaderReading hdrHeader(Bytes file)
{
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    if (!text.starts_with("#?")) return notA("Radiance HDR");
    // The lines up to the empty one after the signature's, then the resolution
    // line, in one pass over their bytes: a file may hold hundreds of millions.
    std::string_view line;
    std::size_t start = 0;
    bool nul = false, ended = false;
    std::size_t at = 0;
    // Eight bytes at a time while they hold no NUL and no empty line: only
    // the first line end of each can end a line too long.
    for (bool newlineBefore = false; text.size() - at >= 8; at += 8) {
        const std::uint64_t newlines = bytesEqual(wordAt(file.data() + at), '\n');
        if (bytesEqual(wordAt(file.data() + at), '\0') != 0 || (newlines & newlines >> 8) != 0 ||
            (newlineBefore && (newlines & 0x80) != 0))
            break;
        newlineBefore = newlines >> 63 != 0;
        if (newlines == 0) continue;
        if (at + std::countr_zero(newlines) / 8 - start > hdrLongestLine)
            return damaged(fmt::format("a line longer than {} characters", hdrLongestLine));
        start = at + (63 - std::countl_zero(newlines)) / 8 + 1;
    }
    // From there byte by byte, up to the resolution line's end.
    for (;; ++at) {
        if (at == text.size()) return cutInHeader();
        if (text[at] == '\0') {
            nul = true;  // its line is refused at its end
            const void* end = std::memchr(text.data() + at, '\n', text.size() - at);
            at = end == nullptr ? text.size() : std::size_t(static_cast<const char*>(end) - text.data());
            if (at == text.size()) return cutInHeader();
        }
        if (text[at] != '\n') continue;
        line = text.substr(start, at - start);
        if (line.size() > hdrLongestLine)
            return damaged(fmt::format("a line longer than {} characters", hdrLongestLine));
        if (nul) return damaged("a NUL byte in a line");
        if (ended) break;
        ended = start != 0 && line.empty();
        start = at + 1;
    }
    std::optional<std::array<std::uint64_t, 2>> sides;
    const auto orientation = std::ranges::find_if(hdrOrientations, [&](const HdrOrientation& o) {
        return (sides = hdrResolution(line, o.first, o.second)).has_value();
    });
    if (!sides) return damaged("no \"-Y height +X width\" or \"+X height +Y width\" line");
    if (orientation->first == "+Y")
        return refused("FreeImage reads no HDR picture stored bottom row first (+Y)");
    if (!orientation->read)
        return refused(fmt::format("FreeImage reads no HDR picture stored in the order \"{} {}\"",
                                   orientation->first, orientation->second));
    const QvImageSize size{(*sides)[1], (*sides)[0]};
    constexpr PixelHold rgbFloats{96, true};
    if (settled(size)) return held(sized(size), rgbFloats);
    // Rows of 8 to 32767 pixels may be run-length coded; others are stored flat.
    const std::uint64_t flatRow = times(size.width, 4);
    std::uint64_t row = flatRow;
    if (size.width >= 8 && size.width <= 0x7FFF)
        row = std::min(flatRow, hdrRowStart + 4 * 2 * ceilDiv(size.width, hdrRunLength));
    return held(sized(size, packing(size, times(row, size.height), file.size() - (at + 1), 1, "run-length")),
                rgbFloats);
}

// ---------------------------------------------------------------- JPEG 2000

// A JPEG 2000 codestream: the SIZ segment after the start marker gives the
// reference grid, less the image offset, and the tiling; then every tile-part
// the codestream holds must lie in it. A tile takes at least the 14 bytes of
// its tile-part's start, so a small file cannot claim many.
QvHeaderReading codestreamHeader(Bytes file)
{
    constexpr std::uint64_t startOfCodestream = 0xFF4F;
    constexpr std::uint64_t imageAndTileSize = 0xFF51;
    constexpr std::uint64_t startOfTile = 0xFF90;
    constexpr std::uint64_t endOfCodestream = 0xFFD9;
    constexpr std::uint64_t smallestTilePart = 14;
    QvByteCursor in(file);
    if (in.be(2) != startOfCodestream || in.be(2) != imageAndTileSize) return notA("JPEG 2000");
    const std::uint64_t segmentLength = in.be(2);
    in.skip(2);  // capabilities
    const std::uint64_t gridWidth = in.be(4), gridHeight = in.be(4);
    const std::uint64_t left = in.be(4), top = in.be(4);
    const std::uint64_t tileWidth = in.be(4), tileHeight = in.be(4);
    const std::uint64_t tileLeft = in.be(4), tileTop = in.be(4);
    const std::uint64_t components = in.be(2);
    // Each component's precision and sampling: FreeImage makes RGB of three
    // alike, RGBA of four, and grey of the first otherwise, 16 bits a sample
    // past 8 bits of precision; it reads none past 16 (found by decoding each).
    const std::uint64_t firstSampling = in.be(3);
    bool alike = true;
    for (std::uint64_t i = 1; i < components; ++i)
        alike = (in.be(3) & 0x7FFFFF) == (firstSampling & 0x7FFFFF) && alike;
    if (in.cut()) return cutInHeader();
    const std::uint64_t precision = (firstSampling >> 16 & 0x7F) + 1;
    const std::uint32_t samples =
        alike && (components == 3 || components == 4) ? std::uint32_t(components) : 1;
    const PixelHold hold{precision > 16 ? 0 : samples * (precision > 8 ? 16 : 8)};
    if (left > gridWidth || top > gridHeight || tileWidth == 0 || tileHeight == 0 || tileLeft > left ||
        tileTop > top || components == 0)
        return damaged("its image and tile sizes do not fit together");
    const QvImageSize size{gridWidth - left, gridHeight - top};
    const auto done = [&](std::string problem = {}) { return held(sized(size, std::move(problem)), hold); };
    if (settled(size)) return done();
    const std::uint64_t tiles =
        times(ceilDiv(gridWidth - tileLeft, tileWidth), ceilDiv(gridHeight - tileTop, tileHeight));
    if (tiles > file.size() / smallestTilePart)
        return done(fmt::format("its {} tiles cannot lie in {} bytes", tiles, file.size()));
    // Segments and tile-parts, read in place: a file may hold a hundred million.
    const std::uint8_t* data = file.data();
    std::uint64_t at = 4 + segmentLength;
    while (at < file.size()) {
        const std::uint64_t marker = file.size() - at < 2 ? 0 : readBig(data + at, 2);
        if (marker == endOfCodestream) break;
        if (marker < 0xFF00) return done("its header is damaged: a stray byte between its segments");
        if (file.size() - at < 4) return done("it is cut short in a segment's header");
        if (marker == startOfTile) {
            if (file.size() - at < 10) return done("it is cut short in a segment's header");
            const std::uint64_t tilePart = readBig(data + at + 6, 4);
            if (tilePart == 0) break;  // the last one, up to the end
            if (!within(at, tilePart, file.size())) return done(runsPast("tile-part", at, file.size()));
            at += tilePart;
        } else {
            const std::uint64_t length = readBig(data + at + 2, 2);
            if (!within(at, length + 2, file.size())) return done(runsPast("segment", at, file.size()));
            at += 2 + length;
        }
    }
    return done();
}

// Calls visit(type, contents, start) for each JP2 box of `file` until it
// returns true; a box running past the end of the file is a problem.
template <class Visit>
std::string forEachBox(Bytes file, Visit visit)
{
    QvByteCursor in(file);
    while (in.left() > 0) {
        const std::size_t start = in.at();
        std::uint64_t length = in.be(4);
        const std::uint64_t type = in.be(4);
        if (length == 1) {
            length = in.be(8);  // a 64-bit length follows
        } else if (length == 0) {
            length = file.size() - start;  // the box runs to the end of the file
        }
        const std::size_t header = in.at() - start;
        if (in.cut() || length < header) return "it is cut short in a box's header";
        if (!within(start, length, file.size())) return runsPast("box", start, file.size());
        if (visit(type, file.subspan(in.at(), length - header))) return {};
        in.skip(length - header);
    }
    return {};
}

// JP2: the image header box gives height, then width; OpenJPEG refuses a
// codestream of another size, so where both are there the larger is safe.
QvHeaderReading jp2Header(Bytes file)
{
    constexpr std::array<std::uint8_t, 12> signature{0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (file.size() < signature.size() || !std::equal(signature.begin(), signature.end(), file.begin()))
        return notA("JP2");
    std::optional<QvImageSize> header;
    std::optional<QvHeaderReading> codestream;
    std::string boxProblem;
    bool palette = false;
    std::string problem = forEachBox(file, [&](std::uint64_t type, Bytes contents) {
        if (type == tag("jp2h")) {
            boxProblem = forEachBox(contents, [&](std::uint64_t innerType, Bytes inner) {
                // OpenJPEG turns palette indices into the palette's colours.
                palette = palette || innerType == tag("pclr");
                if (innerType != tag("ihdr")) return false;
                QvByteCursor in(inner);
                const std::uint64_t height = in.be(4);
                const std::uint64_t width = in.be(4);
                if (!in.cut()) header = QvImageSize{width, height};
                return false;
            });
        } else if (type == tag("jp2c")) {
            codestream = codestreamHeader(contents);
            return true;
        }
        return false;
    });
    if (problem.empty()) problem = boxProblem;
    if (!problem.empty()) return refused(problem);
    if (!codestream) return damaged("no codestream");
    // Inside a JP2 even a codestream without its signature rules the file out.
    codestream->fatal = !codestream->problem.empty();
    if (palette) codestream->bitmapBits = 0;
    if (!codestream->size) return *codestream;
    if (header) {
        codestream->size->width = std::max(codestream->size->width, header->width);
        codestream->size->height = std::max(codestream->size->height, header->height);
    }
    return *codestream;
}

// ---------------------------------------------------------------- JPEG

constexpr std::uint64_t jpegStartOfImage = 0xFFD8;
constexpr std::uint64_t jpegEndOfImage = 0xD9;
constexpr std::uint64_t jpegStartOfScan = 0xDA;
// Huffman coding: at least one bit for each 8x8 block a scan codes in full.
constexpr std::uint64_t jpegBlocksPerByte = 8;
// Counts no real picture reaches, while a few kilobytes of hostile JPEG
// beyond them cost libjpeg seconds: it decodes every scan over the whole
// picture, and walks its list of saved markers for each new one. Image
// libraries refuse more than 256 progressive scans by default; a real
// progressive script visits each block fewer than 20 times.
constexpr std::uint64_t jpegMostScans = 256;
constexpr std::uint64_t jpegMostSegments = 1024;
constexpr std::uint64_t jpegMostVisits = 64;

// A marker: where it starts (its fill bytes included), its code, and where
// its segment starts.
struct JpegMarker {
    std::size_t at = 0;
    std::uint64_t code = 0;
    std::size_t after = 0;
};

// Whether a byte after 0xFF makes a marker: not a stuffed zero, a fill byte,
// nor a restart marker or TEM of entropy-coded data.
constexpr auto jpegMarkerCodes = [] {
    std::array<bool, 0x100> codes{};
    for (std::size_t code = 0x02; code < 0xFF; ++code) codes[code] = code < 0xD0 || code > 0xD7;
    return codes;
}();

// The first marker from byte `from` on. Stray bytes, fill bytes, stuffed
// zeros and restart markers of entropy-coded data are stepped over as the
// decoder steps over them, eight bytes at a time where none starts a marker:
// a scan's data may be hundreds of megabytes of them.
std::optional<JpegMarker> nextJpegMarker(Bytes file, std::size_t from)
{
    std::size_t at = from;
    for (; file.size() - std::min(at, file.size()) >= 9; at += 8) {
        const std::uint64_t word = wordAt(file.data() + at);
        const std::uint64_t next = word >> 8 | std::uint64_t(file[at + 8]) << 56;  // the byte after each
        const std::uint64_t restarts = bytesEqual(next & 0xF8F8F8F8F8F8F8F8, 0xD0);
        const std::uint64_t kept =
            bytesEqual(next, 0x00) | bytesEqual(next, 0x01) | bytesEqual(next, 0xFF) | restarts;
        if ((bytesEqual(word, 0xFF) & ~kept) != 0) break;
    }
    for (; at + 1 < file.size(); ++at) {
        if (file[at] == 0xFF && jpegMarkerCodes[file[at + 1]]) {
            std::size_t start = at;
            while (start > from && file[start - 1] == 0xFF) --start;
            return JpegMarker{start, file[at + 1], at + 2};
        }
    }
    return std::nullopt;
}

// A component of a JPEG frame: its id and the 8x8 blocks it codes.
struct JpegComponent {
    std::uint64_t id = 0;
    std::uint64_t blocks = 0;
    std::uint64_t mcuBlocks =
        0;                   // its sampling factors' product: its blocks in one unit of an interleaved scan
    std::uint64_t mcus = 0;  // the units of an interleaved scan over the picture
};

// The components of the frame header `in` is at, which ends at `end`: each
// takes its share of the picture by its sampling factors against the largest.
std::optional<std::vector<JpegComponent>> jpegComponents(QvByteCursor& in, QvImageSize size, std::size_t end)
{
    const std::uint64_t count = in.be(1);
    std::vector<std::array<std::uint64_t, 3>> fields;  // id, horizontal and vertical sampling
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t id = in.be(1);
        const std::uint64_t factors = in.be(1);
        in.skip(1);  // quantisation table
        fields.push_back(
            {id, std::max<std::uint64_t>(factors >> 4, 1), std::max<std::uint64_t>(factors & 15, 1)});
    }
    if (in.cut() || in.at() > end) return std::nullopt;
    std::uint64_t widest = 1, tallest = 1;
    for (const auto& [id, h, v] : fields) widest = std::max(widest, h), tallest = std::max(tallest, v);
    std::vector<JpegComponent> components;
    // A unit of an interleaved scan covers 8 pixels for each of the largest sampling factors.
    const std::uint64_t mcus = times(ceilDiv(size.width, 8 * widest), ceilDiv(size.height, 8 * tallest));
    for (const auto& [id, h, v] : fields)
        components.push_back({id,
                              times(ceilDiv(ceilDiv(times(size.width, h), widest), 8),
                                    ceilDiv(ceilDiv(times(size.height, v), tallest), 8)),
                              h * v, mcus});
    return components;
}

// JPEG: every marker of the file, each segment in it, the entropy-coded data
// between them skipped as the decoder skips it. A Huffman-coded sequential
// scan, or a progressive scan's first pass over DC, takes at least a bit for
// each block of its components; arithmetic coding, and a progressive AC
// scan's runs of empty blocks, have no such floor.
QvHeaderReading jpegHeader(Bytes file)
{
    QvByteCursor in(file);
    if (in.be(2) != jpegStartOfImage) return notA("JPEG");
    std::optional<QvImageSize> size;
    std::vector<JpegComponent> components;
    std::uint64_t allBlocks = 0;
    bool huffman = false;
    bool progressive = false;
    bool ended = false;
    std::uint64_t segments = 0, scans = 0, visits = 0;
    // The blocks the latest scan takes a bit each for, and where its data starts.
    std::uint64_t scanBlocks = 0;
    std::size_t scanData = 0;
    // FreeImage decodes grey to 8 bits, and colour (CMYK too) to 24 (found by
    // decoding each); it reads no other number of components.
    PixelHold hold;
    const auto done = [&](std::string problem = {}) { return held(sized(*size, std::move(problem)), hold); };
    const auto refuse = [&](std::string problem) { return size ? done(problem) : refused(problem); };
    // Why the latest scan, whose data ends at byte `end`, cannot be there.
    const auto scanProblem = [&](std::size_t end) {
        return times(end - scanData, jpegBlocksPerByte) >= scanBlocks
                   ? std::string()
                   : fmt::format("its scan {} of {} blocks cannot come from {} bytes of Huffman-coded data",
                                 scans, scanBlocks, end - scanData);
    };
    while (!ended) {
        const std::optional<JpegMarker> next = nextJpegMarker(file, in.at());
        if (!next) break;
        const std::uint64_t marker = next->code;
        in.seek(next->after);
        if (std::string problem = scanProblem(next->at); !problem.empty()) return done(std::move(problem));
        scanBlocks = 0;
        ended = marker == jpegEndOfImage;
        if (ended) break;
        const std::size_t start = in.at();
        const std::uint64_t length = in.be(2);
        if (in.cut()) break;
        if (length < 2) return refuse("its header is damaged: a segment shorter than its length field");
        if (!within(start - 2, length + 2, file.size()))
            return refuse(runsPast("segment", start - 2, file.size()));
        if (++segments > jpegMostSegments)
            return refuse(fmt::format("it holds more than {} marker segments, more than any real picture",
                                      jpegMostSegments));
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && !size) {
            in.skip(1);  // sample precision
            const std::uint64_t height = in.be(2);
            const std::uint64_t width = in.be(2);
            const std::optional<std::vector<JpegComponent>> read =
                jpegComponents(in, {width, height}, start + length);
            if (!read) return damaged("a frame header longer than its segment");
            size = QvImageSize{width, height};
            components = *read;
            hold.bits = components.size() == 1                             ? 8
                        : components.size() == 3 || components.size() == 4 ? 24
                                                                           : 0;
            if (settled(*size)) return done();
            for (const JpegComponent& component : components) allBlocks = plus(allBlocks, component.blocks);
            huffman = marker < 0xC8;
            progressive = (marker & 3) == 2;
        }
        if (marker == jpegStartOfScan) {
            if (!size) return damaged("a scan before its frame header");
            // A scan of one component codes its blocks; an interleaved scan codes
            // whole units, padding blocks past the picture's edge included.
            const std::uint64_t count = in.be(1);
            std::uint64_t blocks = 0;
            for (std::uint64_t i = 0; i < count; ++i) {
                const auto found = std::ranges::find(components, in.be(1), &JpegComponent::id);
                if (found != components.end())
                    blocks = plus(blocks, count == 1 ? found->blocks : times(found->mcus, found->mcuBlocks));
                in.skip(1);  // its coding tables
            }
            const std::uint64_t spectralStart = in.be(1);
            in.skip(1);  // spectral end
            const std::uint64_t approximation = in.be(1);
            if (in.cut() || in.at() > start + length)
                return done("its header is damaged: a scan header longer than its segment");
            if (++scans > jpegMostScans)
                return done(
                    fmt::format("it holds more than {} scans, more than any real picture", jpegMostScans));
            visits = plus(visits, blocks);
            if (visits > times(allBlocks, jpegMostVisits))
                return sized(*size,
                             fmt::format("its {} scans go over {} blocks, more than {} times the {} of its "
                                         "picture",
                                         scans, visits, jpegMostVisits, allBlocks));
            const bool firstDcPass = spectralStart == 0 && (approximation >> 4) == 0;
            if (huffman && (!progressive || firstDcPass)) scanBlocks = blocks;
            scanData = start + length;
        }
        in.seek(start + length);
    }
    if (std::string problem = scanProblem(file.size()); !problem.empty()) return done(std::move(problem));
    if (scans > 0) return done();
    if (ended) return refuse("its header is damaged: no image before its end");
    return refuse("it is cut short in its header");
}

// ---------------------------------------------------------------- Netpbm and PFM

// The Netpbm formats and PFM: text numbers. FreeImage skips anything but
// digits before a number (and "#" comments) and reads digits into an int
// until the first other character, which it takes too; the pixels start
// after the last one.
class NetpbmText {
    static bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
    // Blank as C's isspace says in its "C" locale.
    static bool isBlank(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

public:
    explicit NetpbmText(Bytes file) : file_(file) {}

    // Each loop keeps its place in a local: the file's bytes could alias a member.
    std::optional<std::uint64_t> number()
    {
        std::size_t at = at_;
        for (bool comment = false; at < file_.size(); ++at) {
            const std::uint8_t c = file_[at];
            if (!comment && isDigit(c)) break;
            comment = comment ? c != '\n' && c != '\r' : c == '#';
        }
        if (at == file_.size()) {
            at_ = at;
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (; at < file_.size() && isDigit(file_[at]); ++at)
            if (value != saturated) value = plus(times(value, 10), std::uint64_t(file_[at] - '0'));
        at_ = at < file_.size() ? at + 1 : at;  // the character that ended it
        return value;
    }
    // Steps over PFM's scale, a decimal number of its own line.
    void skipWord()
    {
        std::size_t at = at_;
        while (at < file_.size() && isBlank(file_[at])) ++at;
        while (at < file_.size() && !isBlank(file_[at])) ++at;
        at_ = at < file_.size() ? at + 1 : at;
    }
    std::size_t at() const { return at_; }

private:
    Bytes file_;
    std::size_t at_ = 2;  // after the two-character signature
};

// The Netpbm kinds, by the digit after the signature's "P". FreeImage names
// each a format of its own, but its one decoder reads any of them as any.
struct NetpbmKind {
    FREE_IMAGE_FORMAT format;
    char digit;
    std::uint64_t samples;  // of a pixel
    bool bitmap;
    bool plain;  // samples written as text
};
constexpr NetpbmKind netpbmKinds[] = {{FIF_PBM, '1', 1, true, true},      {FIF_PGM, '2', 1, false, true},
                                      {FIF_PPM, '3', 3, false, true},     {FIF_PBMRAW, '4', 1, true, false},
                                      {FIF_PGMRAW, '5', 1, false, false}, {FIF_PPMRAW, '6', 3, false, false}};

// P1 to P6. Numbers past an int would wrap in FreeImage; they stay large here,
// where the decoder's size bounds refuse them.
QvHeaderReading netpbmHeader(Bytes file)
{
    const auto kind = std::ranges::find(netpbmKinds, file.size() < 2 || file[0] != 'P' ? '\0' : char(file[1]),
                                        &NetpbmKind::digit);
    if (kind == std::end(netpbmKinds)) return notA("Netpbm");
    NetpbmText text(file);
    const std::optional<std::uint64_t> width = text.number();
    const std::optional<std::uint64_t> height = text.number();
    const std::optional<std::uint64_t> maxValue =
        kind->bitmap ? std::optional<std::uint64_t>(1) : text.number();
    if (!width || !height || !maxValue) return cutInHeader();
    const QvImageSize size{*width, *height};
    // FreeImage holds a bitmap in 1 bit, samples to 255 in 8 bits, larger
    // ones in 16 (found by decoding each).
    const bool wide = *maxValue > 0xFF;
    const PixelHold hold{kind->bitmap ? 1u : std::uint32_t(kind->samples * (wide ? 16 : 8))};
    if (settled(size)) return held(sized(size), hold);
    if (*maxValue == 0 || *maxValue > 0xFFFF)
        return damaged(fmt::format("a largest sample of {}", *maxValue));
    const std::uint64_t samples = times(times(size.width, size.height), kind->samples);
    std::uint64_t end = 0;
    if (kind->bitmap && kind->plain) {
        end = plus(text.at(), samples);  // a character a pixel
    } else if (kind->plain) {
        end = plus(text.at(), samples == 0 ? 0 : times(samples, 2) - 1);  // digits and a space between
    } else if (kind->bitmap) {
        end = plus(text.at(), times(ceilDiv(size.width, 8), size.height));
    } else {
        end = plus(text.at(), times(samples, wide ? 2 : 1));
    }
    return held(sized(size, cutShort(end, file.size())), hold);
}

// PFM: "PF" (colour) or "Pf" (grey), the sides, a scale, then 32-bit floats.
QvHeaderReading pfmHeader(Bytes file)
{
    if (file.size() < 2 || file[0] != 'P' || (file[1] != 'F' && file[1] != 'f')) return notA("PFM");
    NetpbmText text(file);
    const std::optional<std::uint64_t> width = text.number();
    const std::optional<std::uint64_t> height = text.number();
    if (!width || !height) return cutInHeader();
    text.skipWord();
    const QvImageSize size{*width, *height};
    const PixelHold hold{file[1] == 'F' ? 96u : 32u, true};  // RGB or grey floats
    if (settled(size)) return held(sized(size), hold);
    const std::uint64_t channels = file[1] == 'F' ? 3 : 1;
    return held(
        sized(size, cutShort(plus(text.at(), times(times(times(size.width, size.height), channels), 4)),
                             file.size())),
        hold);
}

// ---------------------------------------------------------------- PNG

// PNG: every chunk must lie in the file, and the image data must be able to
// inflate to the pixels the header claims.
QvHeaderReading pngHeader(Bytes file)
{
    constexpr std::string_view signature{"\x89PNG\r\n\x1a\n", 8};
    constexpr std::uint64_t largestLength = 0x7FFFFFFF;
    QvByteCursor in(file);
    if (!in.expect(signature)) return notA("PNG");
    in.skip(4);
    if (!in.expect("IHDR")) return in.cut() || in.left() < 4 ? cutInHeader() : damaged("no IHDR chunk first");
    const QvImageSize size{in.be(4), in.be(4)};
    const std::uint64_t depth = in.be(1);
    const std::uint64_t colourType = in.be(1);
    if (in.cut()) return cutInHeader();
    // Samples a pixel of each colour type: grey, -, RGB, palette, grey and alpha, -, RGBA.
    constexpr std::array<std::uint64_t, 7> channels{1, 0, 3, 1, 2, 0, 4};
    if (colourType >= channels.size() || channels[colourType] == 0 || depth == 0 || depth > 16 ||
        (depth & (depth - 1)) != 0)
        return damaged(fmt::format("colour type {} of {} bits", colourType, depth));
    if (settled(size)) return held(sized(size), pngHold(colourType, depth, false));
    // Length, type, data and checksum of each chunk, read in place: a file may
    // hold tens of millions.
    std::uint64_t imageData = 0;
    bool imageStarted = false;
    PngTransparency transparency(colourType);
    const auto done = [&](std::string problem = {}) {
        return held(sized(size, std::move(problem)), pngHold(colourType, depth, transparency.found()));
    };
    for (std::uint64_t at = signature.size(); at < file.size();) {
        if (file.size() - at < 8)
            return done(fmt::format("it is cut short in the header of its chunk at byte {}", at));
        const std::uint64_t length = readBig(file.data() + at, 4);
        const std::uint64_t type = readBig(file.data() + at + 4, 4);
        if (length > largestLength || !isChunkType(type))
            return done(fmt::format("its header is damaged: no chunk can start at byte {}", at));
        if (!within(at, length + 12, file.size()))
            return done(runsPast(chunkName(type) + " chunk", at, file.size()));
        imageStarted = imageStarted || type == tag("IDAT");
        if (type == tag("IDAT")) imageData += length;
        if (!imageStarted) transparency.see(type, length);
        if (type == tag("IEND")) break;
        at += length + 12;
    }
    const std::uint64_t pixelBytes =
        times(packedBytes(size.width, times(depth, channels[colourType])), size.height);
    return done(packing(size, pixelBytes, imageData, deflateBytesPerByte, "deflate"));
}

// ---------------------------------------------------------------- SGI

// SGI: verbatim channels must be in the file; run-length rows are found
// through tables of their starts and lengths, each of which must lie in the
// file and be able to hold a row.
QvHeaderReading sgiHeader(Bytes file)
{
    constexpr std::uint64_t magic = 474;
    constexpr std::uint64_t header = 512;
    constexpr std::uint64_t runLength = 127;
    QvByteCursor in(file);
    if (in.be(2) != magic) return notA("SGI");
    const std::uint64_t storage = in.be(1);
    const std::uint64_t sampleBytes = in.be(1);
    const std::uint64_t dimension = in.be(2);
    const std::uint64_t width = in.be(2);
    const std::uint64_t height = in.be(2);
    const std::uint64_t depth = in.be(2);
    if (in.cut()) return cutInHeader();
    // A picture of fewer dimensions is one row, or one channel, whatever the fields say.
    const QvImageSize size{width, dimension < 2 ? 1 : height};
    const std::uint64_t channels = dimension < 3 ? 1 : depth;
    // FreeImage holds grey in 8 bits, grey and alpha as RGBA; it reads no
    // samples of two bytes (found by decoding each).
    constexpr std::array<std::uint32_t, 5> bitsOfChannels{0, 8, 32, 24, 32};
    const PixelHold hold{sampleBytes == 1 && channels < bitsOfChannels.size() ? bitsOfChannels[channels] : 0};
    const auto done = [&](std::string problem = {}) { return held(sized(size, std::move(problem)), hold); };
    if (settled(size)) return done();
    if (storage > 1 || sampleBytes < 1 || sampleBytes > 2 || channels < 1 || channels > 4)
        return damaged(
            fmt::format("storage {}, {} bytes a sample, {} channels", storage, sampleBytes, channels));
    const std::uint64_t rows = times(size.height, channels);
    if (storage == 0)
        return done(cutShort(plus(header, times(times(rows, size.width), sampleBytes)), file.size()));
    const std::uint64_t tables = times(rows, 4);
    if (!within(header, times(tables, 2), file.size()))
        return done(runsPast("row tables", header, file.size()));
    for (std::uint64_t row = 0; row < rows; ++row) {
        QvByteCursor start(file, header + 4 * row);
        QvByteCursor length(file, header + tables + 4 * row);
        const std::uint64_t at = start.be(4);
        const std::uint64_t bytes = length.be(4);
        if (!within(at, bytes, file.size())) return done(runsPast("row", at, file.size()));
        if (times(size.width, 2 * sampleBytes) > times(bytes, runLength))
            return done(packing(size, size.width, bytes, runLength / (2 * sampleBytes), "run-length"));
    }
    return done();
}

// ---------------------------------------------------------------- TIFF

// PackBits: a byte repeated 128 times in two bytes.
constexpr std::uint64_t packBitsBytesPerByte = 128 / 2;
// CCITT fax codings: at least one bit a row.
constexpr std::uint64_t faxRowsPerByte = 8;

constexpr std::uint64_t tiffUncompressed = 1, tiffLzw = 5, tiffOldJpeg = 6, tiffJpeg = 7, tiffDeflate = 8,
                        tiffOldDeflate = 32946, tiffPackBits = 32773, tiffCcittRle = 2, tiffCcittFax4 = 4;
constexpr std::uint64_t tiffSeparatePlanes = 2;
constexpr std::uint64_t tiffYCbCr = 6;
// Unless a YCbCr picture says otherwise, two chroma samples serve 2x2 pixels.
constexpr std::uint64_t tiffDefaultSubsampling = 2;

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

// How FreeImage holds a pixel of each photometric interpretation, samples a
// pixel, bits a sample and sample formats (found by decoding each layout;
// planes hold alike). CMYK as TIFF_CMYK, the texture loader's first flag,
// reads it: its inks kept, which is larger than the colours of flag 0. Other layouts it reads in ways not
// held here, or not at all.
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

// The value of `bytes` bytes at `at`.
template <std::size_t bytes>
std::uint64_t readFixed(const std::uint8_t* at, bool bigEndian)
{
    using Unsigned = std::conditional_t<bytes == 2, std::uint16_t,
                                        std::conditional_t<bytes == 4, std::uint32_t, std::uint64_t>>;
    Unsigned value = 0;
    std::memcpy(&value, at, bytes);
    return bigEndian == (std::endian::native == std::endian::big) ? value : byteSwapped(value);
}

// The walk itself, for each width of offsets and counts (0: no counts): a
// file may hold a hundred million strips, read at a few instructions each.
template <std::size_t offsetBytes, std::size_t countBytes>
std::optional<TiffUnitFault> firstTiffUnitFault(const TiffUnits& w)
{
    const std::uint8_t* offsets = w.file.data() + w.offsets;
    const std::uint8_t* counts = w.file.data() + w.counts;
    for (std::uint64_t i = 0, strip = 0; i < w.units; ++i) {
        const std::uint64_t at = readFixed<offsetBytes>(offsets + i * offsetBytes, w.bigEndian);
        const std::uint64_t bytes =
            countBytes == 0               ? w.file.size() - std::min<std::uint64_t>(at, w.file.size())
            : readFixed < countBytes == 0 ? 2
                                          : countBytes > (counts + i * countBytes, w.bigEndian);
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

// TIFF and BigTIFF, first directory (the page FreeImage reads): every strip
// or tile it points to must lie in the file and be able to hold its share of
// the pixels in its coding. Entries, strips and tiles are read in place, a
// few comparisons each: a file may hold hundreds of millions of them.
QvHeaderReading tiffHeader(Bytes file)
{
    QvByteCursor in(file);
    bool bigEndian = false;
    if (in.expect("MM")) {
        bigEndian = true;
    } else if (!in.expect("II")) {
        return notA("TIFF");
    }
    const std::uint64_t version = in.field(2, bigEndian);
    const bool bigTiff = version == 43;
    if (version != 42 && !bigTiff) return notA("TIFF");
    const std::uint64_t offsetBytes = bigTiff ? 8 : 4;
    if (bigTiff) in.skip(4);  // the offset size and a reserved word
    in.seek(in.field(int(offsetBytes), bigEndian));
    const std::uint64_t entries = in.field(bigTiff ? 8 : 2, bigEndian);
    const std::uint64_t entryBytes = bigTiff ? 20 : 12;
    if (in.cut() || times(entries, entryBytes) > in.left()) return cutInHeader();
    TiffFields fields;
    for (std::uint64_t i = 0, at = in.at(); i < entries; ++i, at += entryBytes) {
        const std::uint64_t id = readNumber(file.data() + at, 2, bigEndian);
        if (id < tiffLowestTag || id > tiffHighestTag || tiffFieldOfTag[id - tiffLowestTag] == nullptr)
            continue;
        TiffField field{readNumber(file.data() + at + 2, 2, bigEndian),
                        readNumber(file.data() + at + 4, offsetBytes, bigEndian), at + 4 + offsetBytes, true};
        const std::uint64_t bytes = times(field.count, tiffTypeBytes(field.type));
        if (bytes > offsetBytes) field.at = readNumber(file.data() + field.at, offsetBytes, bigEndian);
        if (!within(field.at, bytes, file.size()))
            return refused(runsPast(fmt::format("field {}", id), field.at, file.size()));
        TiffField& kept = fields.*tiffFieldOfTag[id - tiffLowestTag];
        if (!kept.present) kept = field;
    }
    // Value `index` of a field of whole numbers; `otherwise` when it has none.
    const auto value = [&](const TiffField& field, std::uint64_t otherwise, std::uint64_t index = 0) {
        const std::uint64_t bytes = tiffTypeBytes(field.type);
        return field.count <= index ? otherwise
                                    : readNumber(file.data() + field.at + index * bytes, bytes, bigEndian);
    };
    if (!fields.width.present || !fields.height.present) return damaged("no width or height");
    const QvImageSize size{value(fields.width, 0), value(fields.height, 0)};
    const std::uint64_t bits = value(fields.bitsPerSample, 1);
    const std::uint64_t samples = value(fields.samplesPerPixel, 1);
    const PixelHold hold = fields.photometric.present ? tiffHold(value(fields.photometric, 0), samples, bits,
                                                                 value(fields.sampleFormat, 1))
                                                      : PixelHold{};
    const auto done = [&](std::string problem = {}) { return held(sized(size, std::move(problem)), hold); };
    if (settled(size)) return done();
    const std::uint64_t coding = value(fields.compression, tiffUncompressed);
    const bool planes = value(fields.planarConfig, 1) == tiffSeparatePlanes;
    const std::uint64_t samplesPerPlane = planes ? 1 : samples;
    const bool tiled = fields.tileWidth.present;
    const std::uint64_t unitWidth = tiled ? value(fields.tileWidth, 0) : size.width;
    const std::uint64_t unitRows =
        tiled ? value(fields.tileLength, 0) : std::min(value(fields.rowsPerStrip, saturated), size.height);
    if (bits == 0 || samples == 0 || unitWidth == 0 || unitRows == 0)
        return damaged(fmt::format("{} bits, {} samples, {}x{} pixels a strip or tile", bits, samples,
                                   unitWidth, unitRows));
    // YCbCr stored as such (not by a JPEG coding, which gives RGB) keeps two
    // chroma samples for each block of subsampled pixels.
    const bool subsampled = value(fields.photometric, 0) == tiffYCbCr && !planes && samples == 3 &&
                            coding != tiffJpeg && coding != tiffOldJpeg;
    const std::uint64_t blockWidth =
        std::max<std::uint64_t>(value(fields.yCbCrSubsampling, tiffDefaultSubsampling, 0), 1);
    const std::uint64_t blockHeight =
        std::max<std::uint64_t>(value(fields.yCbCrSubsampling, tiffDefaultSubsampling, 1), 1);
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
        return done(
            fmt::format("its header is damaged: it does not locate the {} {}s of its picture", units, unit));
    // The last strip of each plane may hold fewer rows; tiles are whole.
    const std::uint64_t lastRows = tiled ? unitRows : size.height - (down - 1) * unitRows;
    const std::optional<TiffPacking> packs = tiffPacking(coding);
    // The fewest coded bytes that can give `rows` rows of one strip or tile.
    const auto fewestBytes = [&](std::uint64_t rows) -> std::uint64_t {
        return packs ? ceilDiv(packs->ofRows ? rows : unitBytes(rows), packs->perByte) : 0;
    };
    const TiffUnits walk{file,
                         bigEndian,
                         offsets.at,
                         estimated ? 0 : counts.at,
                         units,
                         down,
                         fewestBytes(unitRows),
                         fewestBytes(lastRows)};
    const std::optional<TiffUnitFault> fault =
        firstTiffUnitFault(tiffTypeBytes(offsets.type), estimated ? 0 : tiffTypeBytes(counts.type), walk);
    if (!fault) return done();
    if (fault->outside)
        return done(runsPast(fmt::format("{} {}", unit, fault->index), fault->at, file.size()));
    const std::uint64_t rows = fault->index % down == down - 1 ? lastRows : unitRows;
    return done(
        packing(size, packs->ofRows ? rows : unitBytes(rows), fault->bytes, packs->perByte, packs->name));
}

// ---------------------------------------------------------------- Formats read for their size alone

// A Commodore 64 Koala picture has one size; FreeImage reads any file as one,
// of 16 colours.
constexpr QvImageSize koalaSize{320, 200};
constexpr PixelHold koalaHold{4};
// Where the flags of a DDS file's pixel format are: after its signature, the
// header's first 72 bytes and the pixel format's size.
constexpr std::uint64_t ddsPixelFormat = 4 + 72 + 4;
constexpr std::string_view mngSignature{"\x8aMNG\r\n\x1a\n", 8};
constexpr std::size_t pictHeader = 512;
constexpr std::uint64_t pictVersionOp = 0x11;
// Bits, packed bits and direct bits, each clipped to a rectangle or a region.
constexpr std::array<std::uint64_t, 6> pictBitmapOpcodes{0x90, 0x91, 0x98, 0x99, 0x9A, 0x9B};
// Opcodes walked before the first bitmap, at most: the size of a picture that
// draws more before it is not read here but left to its decoder, which runs
// under limits.
constexpr std::uint64_t pictMostOpcodes = 1 << 20;
// XBM numbers past 32 bits wrap in FreeImage; held here at a size any
// limit refuses instead.
constexpr std::uint64_t xbmNumberCeiling = std::numeric_limits<std::uint32_t>::max();
// Lines read before the one that opens the bits, at most: the size of a file
// of more is not read here but left to its decoder, which runs under limits.
constexpr std::size_t xbmMostLines = 1 << 16;

// Reads fields in order. A read past the end of the file marks it cut short
// and gives 0, so a reader asks once, at its end, whether all was there.
QvHeaderReading unlessCut(const QvByteCursor& in, QvImageSize size, PixelHold hold)
{
    return in.cut() ? QvHeaderReading{} : found(size, hold);
}

// FreeImage holds uncompressed DDS pixels of 8 bits as they are, of 16 to 32
// as RGB, or as RGBA at 32 bits that say they have alpha; DXT1, DXT3 and DXT5
// blocks as RGBA (found by decoding each).
PixelHold ddsHold(std::uint64_t flags, std::uint64_t fourCc, std::uint64_t bitCount)
{
    constexpr std::uint64_t alphaPixels = 0x1, compressed = 0x4, rgb = 0x40;
    // A four-character code as its bytes read in their order, least first.
    const auto code = [](const char(&name)[5]) {
        return std::uint64_t(byteSwapped(std::uint32_t(tag(name))));
    };
    if (flags & rgb) {
        if (bitCount == 8) return {8};
        if (bitCount == 16 || bitCount == 24) return {24};
        if (bitCount == 32) return {flags & alphaPixels ? 32u : 24u};
        return {};
    }
    if ((flags & compressed) && (fourCc == code("DXT1") || fourCc == code("DXT3") || fourCc == code("DXT5")))
        return {32};
    return {};
}

// FreeImage holds a JNG of grey as 8 bits, of colour as RGB, with alpha as
// RGBA (found by decoding each).
PixelHold jngHold(std::uint64_t colourType)
{
    switch (colourType) {
    case 8:
        return {8};
    case 10:
        return {24};
    case 12:
    case 14:
        return {32};
    default:
        return {};
    }
}

// A PNG inside an MNG is held as a PNG file: its chunks from `at` on, up to
// its image data, may give it transparency.
PixelHold mngPngHold(Bytes file, std::uint64_t at, std::uint64_t colourType, std::uint64_t depth)
{
    PngTransparency transparency(colourType);
    for (; at + 8 <= file.size(); at += 12 + readBig(file.data() + at, 4)) {
        const std::uint64_t type = readBig(file.data() + at + 4, 4);
        if (type == tag("IDAT") || type == tag("IEND")) break;
        transparency.see(type, readBig(file.data() + at, 4));
    }
    return pngHold(colourType, depth, transparency.found());
}

QvHeaderReading ddsSize(Bytes file)
{
    QvByteCursor in(file);
    if (!in.expect("DDS ")) {
        return {};
    }
    in.skip(8);  // header size, flags
    const std::uint64_t height = in.le(4);
    const std::uint64_t width = in.le(4);
    QvByteCursor format(file, ddsPixelFormat);
    const std::uint64_t flags = format.le(4);
    const std::uint64_t fourCc = format.le(4);
    const std::uint64_t bitCount = format.le(4);
    return unlessCut(in, {width, height}, format.cut() ? PixelHold{} : ddsHold(flags, fourCc, bitCount));
}

// IFF (ILBM, PBM): the bitmap header chunk, before the pixels.
QvHeaderReading iffSize(Bytes file)
{
    QvByteCursor in(file);
    if (!in.expect("FORM")) {
        return {};
    }
    // Chunks read in place: a file may hold tens of millions.
    for (std::uint64_t at = 12; at + 8 <= file.size();) {
        const std::uint64_t id = readBig(file.data() + at, 4);
        const std::uint64_t length = readBig(file.data() + at + 4, 4);
        if (id == tag("BMHD")) {
            in.seek(at + 8);
            const std::uint64_t width = in.be(2);
            const std::uint64_t height = in.be(2);
            QvByteCursor planes(file, at + 8 + 8);  // after the sides and the position
            // FreeImage holds up to 8 planes as palette indices, 24 as RGB (found by decoding each).
            const std::uint64_t count = planes.be(1);
            const PixelHold hold{planes.cut() ? 0u : count >= 1 && count <= 8 ? 8u : count == 24 ? 24u : 0u};
            return unlessCut(in, {width, height}, hold);
        }
        if (id == tag("BODY")) {
            return {};
        }
        at += 8 + length + (length & 1);  // chunks are padded to an even length
    }
    return {};
}

// MNG: FreeImage decodes the first PNG or JNG inside at that image's own
// size, whatever frame size the MNG header gives.
QvHeaderReading mngSize(Bytes file)
{
    QvByteCursor in(file);
    if (!in.expect(mngSignature)) {
        return {};
    }
    // Chunks read in place: a file may hold tens of millions.
    for (std::uint64_t at = mngSignature.size(); at + 8 <= file.size();) {
        const std::uint64_t length = readBig(file.data() + at, 4);
        const std::uint64_t type = readBig(file.data() + at + 4, 4);
        if (type == tag("IHDR") || type == tag("JHDR")) {
            in.seek(at + 8);
            const std::uint64_t width = in.be(4);
            const std::uint64_t height = in.be(4);
            QvByteCursor kind = in;
            const std::uint64_t depth = kind.be(1);
            const std::uint64_t colourType = kind.be(1);
            PixelHold hold;
            if (!kind.cut())
                hold = type == tag("JHDR") ? jngHold(colourType)
                                           : mngPngHold(file, at + 12 + length, colourType, depth);
            return unlessCut(in, {width, height}, hold);
        }
        if (type == tag("MEND")) {
            return {};
        }
        at += 12 + length;  // length, type, data and checksum
    }
    return {};
}

// A WBMP number: 7 bits a byte, the high bit set on all but the last.
// FreeImage keeps it in 16 bits, so a longer one wraps here as there.
std::uint64_t wbmpNumber(QvByteCursor& in)
{
    std::uint16_t value = 0;
    for (std::uint64_t byte = 0x80; (byte & 0x80) && !in.cut();) {
        byte = in.le(1);
        value = static_cast<std::uint16_t>(value << 7 | (byte & 0x7F));
    }
    return value;
}

QvHeaderReading wbmpSize(Bytes file)
{
    QvByteCursor in(file);
    if (wbmpNumber(in) != 0) {
        return {};  // type 0 is the only type there is
    }
    const std::uint64_t fixedHeader = in.le(1);
    // Extension headers, walked as FreeImage walks them: a chain of 7-bit
    // bytes, or a parameter whose name and value lengths the header gives.
    for (std::uint64_t extension = fixedHeader; (extension & 0x80) && !in.cut();) {
        extension = in.le(1);
        if ((extension & 0x60) == 0x00) {
            wbmpNumber(in);
        } else if ((extension & 0x60) == 0x60) {
            in.skip(((extension >> 4) & 7) + (extension & 0x0F));
        }
    }
    const std::uint64_t width = wbmpNumber(in);
    const std::uint64_t height = wbmpNumber(in);
    return unlessCut(in, {width, height}, {1});
}

// Whether a character ends a word of an XBM line: a blank, or the line's end.
bool endsXbmWord(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The field and the number of a "#define NAME [+-]DIGITS" line at the start
// of `text`, read as FreeImage's scan reads it: the field is what follows the
// name's last underscore, which FreeImage compares. Nothing for any other line.
std::optional<std::pair<std::string_view, std::uint64_t>> xbmDefine(std::string_view text)
{
    constexpr std::string_view keyword = "#define";
    if (!text.starts_with(keyword)) return {};
    std::size_t at = keyword.size();
    const auto skipBlanks = [&] {
        while (at < text.size() && text[at] != '\n' && endsXbmWord(text[at])) ++at;
    };
    skipBlanks();
    std::size_t field = at;
    const std::size_t nameStart = at;
    for (; at < text.size() && !endsXbmWord(text[at]); ++at)
        if (text[at] == '_') field = at + 1;
    const std::string_view name = text.substr(field, at - field);
    const bool named = at > nameStart;
    skipBlanks();
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (!named || at == text.size() || text[at] < '0' || text[at] > '9') return {};
    std::uint64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = std::min<std::uint64_t>(value * 10 + std::uint64_t(text[at] - '0'), xbmNumberCeiling);
    return std::pair(name, value);
}

// XBM: the "#define <name>_width N" and "_height N" lines before the line
// starting "static" that opens the bits; a later line overrides an earlier.
QvHeaderReading xbmSize(Bytes file)
{
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    std::optional<std::uint64_t> width;
    std::optional<std::uint64_t> height;
    for (std::size_t start = 0, lines = 0; start < text.size() && lines < xbmMostLines; ++start, ++lines) {
        if (text[start] == 's' && text.substr(start).starts_with("static")) {
            return width && height ? found({*width, *height}, {1}) : QvHeaderReading{};
        }
        if (text[start] == '#') {
            if (const auto define = xbmDefine(text.substr(start))) {
                if (define->first == "width") {
                    width = define->second;
                } else if (define->first == "height") {
                    height = define->second;
                }
            }
        }
        const void* end = std::memchr(text.data() + start, '\n', text.size() - start);
        start = end == nullptr ? text.size() : std::size_t(static_cast<const char*>(end) - text.data());
    }
    return {};
}

// The fixed length of what follows a PICT opcode; -1 for an opcode whose
// length the file gives, or that is not stepped over.
constexpr int pictFixedLength(std::uint64_t opcode)
{
    // Opcodes 0x00 to 0x23.
    constexpr std::array<int, 0x24> fixedLengths{0,  -1, 8,  2, 1, 2, 4, 4, 2, 8, 8, 4, 4, 2, 4, 4, 8, 1,
                                                 -1, -1, -1, 2, 2, 0, 0, 0, 6, 6, 0, 6, 0, 6, 8, 4, 6, 2};
    // The shape opcodes 0x30 to 0x6F, eight to a shape: rect, same rect,
    // round rect, same, oval, same, arc, same arc.
    constexpr std::array<int, 8> shapeLengths{8, 0, 8, 0, 8, 0, 12, 4};
    if (opcode < fixedLengths.size()) return fixedLengths[opcode];
    if (opcode >= 0x30 && opcode <= 0x6F) return shapeLengths[(opcode - 0x30) / 8];
    // Polygons and regions, which give their size; then "same polygon" and "same region".
    if (opcode >= 0x70 && opcode <= 0x8F) return opcode <= 0x87 && (opcode & 0x08) == 0 ? -1 : 0;
    if (opcode == 0xA0) return 2;  // short comment
    if ((opcode >= 0xB0 && opcode <= 0xCF) || (opcode >= 0x8000 && opcode <= 0x80FF)) return 0;
    if (opcode >= 0x0100 && opcode <= 0x7FFF)
        return int(2 * (opcode >> 8));  // reserved, two bytes for each of the high byte
    return -1;
}

// The bytes that follow a PICT opcode, reading any length field it has;
// nothing for the end of the picture and for what cannot be stepped over
// here (pixel patterns, QuickTime pictures, whose size their own codec holds).
std::optional<std::uint64_t> pictOperandLength(QvByteCursor& in, std::uint64_t opcode)
{
    if (const int fixed = pictFixedLength(opcode); fixed >= 0) return fixed;
    if (opcode == 0x01 || (opcode >= 0x70 && opcode <= 0x87)) {
        const std::uint64_t size = in.be(2);  // a region or polygon, its size word included
        return size >= 2 ? std::optional(size - 2) : std::nullopt;
    }
    if (opcode >= 0x28 && opcode <= 0x2B) {  // text: its position, then counted characters
        constexpr std::array<int, 4> positionBytes{4, 1, 1, 2};
        in.skip(positionBytes[opcode - 0x28]);
        return in.be(1);
    }
    if (opcode == 0xA1) {
        in.skip(2);  // long comment: its kind, then counted bytes
        return in.be(2);
    }
    if ((opcode >= 0x24 && opcode <= 0x2F) || (opcode >= 0x92 && opcode <= 0xAF)) {
        return in.be(2);  // reserved, with a 16-bit length
    }
    if ((opcode >= 0xD0 && opcode <= 0xFE) ||
        (opcode >= 0x8100 && opcode <= 0xFFFE && opcode != 0x8200 && opcode != 0x8201)) {
        return in.be(4);  // reserved, with a 32-bit length
    }
    return {};
}

// PICT: FreeImage allocates the bounds of the first bitmap or pixel map the
// picture draws, not its frame, so the opcodes before that one are walked.
QvHeaderReading pictSize(Bytes file)
{
    QvByteCursor in(file, pictHeader);
    in.skip(10);  // picture size and frame, which FreeImage does not use
    const auto opening = std::find_if(file.begin() + std::min<std::size_t>(in.at(), file.size()), file.end(),
                                      [](std::uint8_t byte) { return byte != 0; });
    in.seek(std::uint64_t(opening - file.begin()) + 1);
    const std::uint64_t byte = opening == file.end() ? 0 : *opening;
    const std::uint64_t version = in.be(1);
    if (byte != pictVersionOp || (version != 1 && version != 2) || (version == 2 && in.be(1) != 0xFF)) {
        return {};
    }
    const int opcodeBytes = static_cast<int>(version);
    for (std::uint64_t opcodes = 0; !in.cut() && opcodes < pictMostOpcodes; ++opcodes) {
        if (version == 2 && in.at() % 2 != 0) {
            in.skip(1);  // version 2 opcodes are word aligned
        }
        const std::uint64_t opcode = in.be(opcodeBytes);
        if (std::ranges::find(pictBitmapOpcodes, opcode) != pictBitmapOpcodes.end()) {
            const bool direct = opcode >= 0x9A;
            in.skip(direct ? 4 : 0);                         // the base address of direct pixels
            const bool pixelMap = (in.be(2) & 0x8000) != 0;  // in its row bytes
            const std::int64_t top = in.be16Signed();
            const std::int64_t left = in.be16Signed();
            const std::int64_t bottom = in.be16Signed();
            const std::int64_t right = in.be16Signed();
            QvByteCursor map = in;
            map.skip(18);  // version, packing, resolution and pixel type of a pixel map
            const std::uint64_t pixelSize = map.be(2);
            // FreeImage holds direct pixels and those of 16 or 32 bits as RGBA, those of
            // up to 8 as palette indices; plain bitmaps it does not read (found by
            // decoding each).
            PixelHold hold;
            if (direct || (pixelMap && !map.cut() && (pixelSize == 16 || pixelSize == 32))) hold.bits = 32;
            if (!direct && pixelMap && !map.cut() && pixelSize >= 1 && pixelSize <= 8) hold.bits = 8;
            // FreeImage takes the extent either way round.
            return unlessCut(
                in, {std::uint64_t(std::abs(right - left)), std::uint64_t(std::abs(bottom - top))}, hold);
        }
        const std::optional<std::uint64_t> length = pictOperandLength(in, opcode);
        if (!length) {
            return {};
        }
        in.skip(*length);
    }
    return {};
}

// ---------------------------------------------------------------- The formats

// How each format is read: the one list of them. `full`: a size or a
// problem, never neither, so the decoder needs no header read of FreeImage's.
// Those read only for their size are read where FreeImage has no header read
// of its own.
struct FormatReader {
    FREE_IMAGE_FORMAT format;
    QvHeaderReading (*read)(Bytes);
    bool full;
};

constexpr FormatReader formatReaders[] = {
    {FIF_BMP, bmpHeader, true},
    {FIF_GIF, gifHeader, true},
    {FIF_HDR, hdrHeader, true},
    {FIF_J2K, codestreamHeader, true},
    {FIF_JP2, jp2Header, true},
    {FIF_JPEG, jpegHeader, true},
    {FIF_PFM, pfmHeader, true},
    {FIF_PNG, pngHeader, true},
    {FIF_SGI, sgiHeader, true},
    {FIF_TIFF, tiffHeader, true},
    {FIF_DDS, ddsSize, false},
    {FIF_IFF, iffSize, false},  // also FIF_LBM
    {FIF_MNG, mngSize, false},
    {FIF_WBMP, wbmpSize, false},
    {FIF_XBM, xbmSize, false},
    {FIF_PICT, pictSize, false},
    {FIF_KOALA, [](Bytes) { return found(koalaSize, koalaHold); }, false},
};
// The Netpbm formats, one reader for all, are those of their own table.
constexpr FormatReader netpbmReader{FIF_UNKNOWN, netpbmHeader, true};

const FormatReader* readerOf(FREE_IMAGE_FORMAT format)
{
    if (std::ranges::find(netpbmKinds, format, &NetpbmKind::format) != std::end(netpbmKinds))
        return &netpbmReader;
    const auto found = std::ranges::find(formatReaders, format, &FormatReader::format);
    return found == std::end(formatReaders) ? nullptr : &*found;
}

}  // namespace

bool qvHeaderReadsFully(FREE_IMAGE_FORMAT format)
{
    const FormatReader* reader = readerOf(format);
    return reader != nullptr && reader->full;
}

// A header read in full is held against the file before any decoder runs; the
// decoders of other formats (PCX's and DDS's among them) make pixels of memory
// never written from a file too short, so they see only files of their names.
bool qvReadByContent(FREE_IMAGE_FORMAT format)
{
    return qvHeaderReadsFully(format);
}

QvHeaderReading qvReadHeader(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file)
{
    const FormatReader* reader = readerOf(format);
    if (reader == nullptr) return {};
    QvHeaderReading reading = reader->read(file);
    // No decoder makes a picture without pixels; every format read in full
    // gives one reason for it, whether or not its own decoder would fail.
    if (reader->full && reading.size && (reading.size->width == 0 || reading.size->height == 0)) {
        reading.problem = fmt::format("its header is damaged: a picture of {}x{}", reading.size->width,
                                      reading.size->height);
        reading.fatal = true;
    }
    return reading;
}
