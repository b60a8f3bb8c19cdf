// qvsmallformats: SGI's row tables and PSD's merged picture; the sizes of
// DDS, IFF, WBMP, XBM, PICT and Koala pictures as FreeImage reads them, and
// DDS pixels held to their file; the PCX, Sun raster and TGA kinds FreeImage
// cannot read and their pixels held to their file; and PSD's inks.
#include "engine/picture/qvsmallformats.h"

#include "engine/picture/qvheaderreader.h"
#include "engine/picture/qvinks.h"

#include <fmt/core.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

using namespace qvheader;

namespace {

// ---------------------------------------------------------------- SGI

constexpr std::uint64_t sgiMagic = 474;
constexpr std::uint64_t sgiHeader = 512;
constexpr std::uint64_t sgiRunLength = 127;

// ---------------------------------------------------------------- DDS

// Where the flags of a DDS file's pixel format are: after its signature, the
// header's first 72 bytes and the pixel format's size.
constexpr std::uint64_t ddsPixelFormat = 4 + 72 + 4;

// FreeImage holds uncompressed DDS pixels of 8 bits as they are, of 16 to 32
// as RGB, or as RGBA at 32 bits that say they have alpha; DXT1, DXT3 and DXT5
// blocks as RGBA (found by decoding each).
constexpr std::uint64_t ddsAlphaPixels = 0x1, ddsCompressed = 0x4, ddsRgb = 0x40;
// DXT pixels come in blocks of 4x4, of 8 bytes (DXT1) or 16, row after row
// of blocks from the end of the header; the sides, the mipmap count and the
// size of the first level lie in the header.
constexpr std::uint64_t ddsBlockSide = 4;
constexpr std::size_t ddsHeightAt = 12, ddsWidthAt = 16, ddsLinearSizeAt = 20, ddsMipmapsAt = 28,
                      ddsFourCcAt = ddsPixelFormat + 4, ddsHeaderEnd = 128;
// Uncompressed rows lie the header's pitch apart where its flags say it
// gives one (in the field of the first level's size); FreeImage reads
// pixels of these bits alone.
constexpr std::uint64_t ddsPitchGiven = 0x8;
constexpr std::array<std::uint64_t, 6> ddsBitsRead{1, 4, 8, 16, 24, 32};

// Whether a DDS's pixels are DXT1, DXT3 or DXT5 blocks.
bool ddsOfBlocks(std::uint64_t flags, std::uint64_t fourCc)
{
    // A four-character code as its bytes read in their order, least first.
    const auto code = [](const char(&name)[5]) {
        return QvByteCursor::numberAt<4>(reinterpret_cast<const std::uint8_t*>(name), false);
    };
    return (flags & ddsRgb) == 0 && (flags & ddsCompressed) &&
           (fourCc == code("DXT1") || fourCc == code("DXT3") || fourCc == code("DXT5"));
}

// The bytes a DXT DDS of that size takes: its header, then whole blocks,
// part-blocks included.
std::uint64_t ddsBlocksEnd(std::uint64_t width, std::uint64_t height, std::uint64_t blockBytes)
{
    return plus(ddsHeaderEnd,
                times(times(ceilDiv(width, ddsBlockSide), ceilDiv(height, ddsBlockSide)), blockBytes));
}

// Where the last uncompressed row FreeImage reads ends: it steps from row to
// row by the pitch, or without one by a row of its bitmap, which holds
// 16-bit pixels as 24-bit ones, so that it reads those 3 bytes a pixel apart.
std::uint64_t ddsRowsEnd(QvImageSize size, std::uint64_t bitCount, std::uint64_t headerFlags,
                         std::uint64_t pitch)
{
    const std::uint64_t rowBytes = packedBytes(size.width, bitCount);
    const std::uint64_t step =
        headerFlags & ddsPitchGiven ? pitch : packedBytes(size.width, bitCount == 16 ? 24 : bitCount);
    return plus(plus(ddsHeaderEnd, times(size.height - 1, step)), rowBytes);
}

PixelHold ddsHold(std::uint64_t flags, std::uint64_t fourCc, std::uint64_t bitCount)
{
    if (flags & ddsRgb) {
        if (bitCount == 8) return {8};
        if (bitCount == 16 || bitCount == 24) return {24};
        if (bitCount == 32) return {flags & ddsAlphaPixels ? 32u : 24u};
        return {};
    }
    return ddsOfBlocks(flags, fourCc) ? PixelHold{32} : PixelHold{};
}

// ---------------------------------------------------------------- WBMP

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

// ---------------------------------------------------------------- XBM

// XBM numbers past 32 bits wrap in FreeImage; held here at a size any
// limit refuses instead.
constexpr std::uint64_t xbmNumberCeiling = std::numeric_limits<std::uint32_t>::max();
// Lines read before the one that opens the bits, at most: the size of a file
// of more is not read here but left to its decoder, which runs under limits.
constexpr std::size_t xbmMostLines = 1 << 16;

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

// ---------------------------------------------------------------- PICT

constexpr std::size_t pictHeader = 512;
constexpr std::uint64_t pictVersionOp = 0x11;
// Bits, packed bits and direct bits, each clipped to a rectangle or a region.
constexpr std::array<std::uint64_t, 6> pictBitmapOpcodes{0x90, 0x91, 0x98, 0x99, 0x9A, 0x9B};
// Opcodes walked before the first bitmap, at most: the size of a picture that
// draws more before it is not read here but left to its decoder, which runs
// under limits.
constexpr std::uint64_t pictMostOpcodes = 1 << 20;

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

// The size of the bitmap or pixel map whose opcode `in` has just read.
QvHeaderReading pictBitmapSize(QvByteCursor& in, std::uint64_t opcode)
{
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
    return unlessCut(in, {std::uint64_t(std::abs(right - left)), std::uint64_t(std::abs(bottom - top))},
                     hold);
}

// ---------------------------------------------------------------- PCX and Sun raster

// PCX: its signature, and where the bits of a pixel in one plane and the
// planes lie. FreeImage reads 1-bit pixels in 1 or 4 planes and 8-bit ones in
// 1 or 3, and takes any other kind for a file of another format.
constexpr std::uint8_t pcxSignature = 0x0A;
constexpr std::size_t pcxBitsAt = 3, pcxPlanesAt = 65;
constexpr std::array<std::pair<std::uint8_t, std::uint8_t>, 4> pcxKindsRead{{{1, 1}, {1, 4}, {8, 1}, {8, 3}}};
// The 128-byte header: its version (FreeImage reads up to 5), its coding,
// plain or run-length, the picture's corners and the bytes of a row of one
// plane; each row holds its planes one after the other.
constexpr std::size_t pcxHeader = 128, pcxVersionAt = 1, pcxCodingAt = 2, pcxCornersAt = 4,
                      pcxRowBytesAt = 66;
constexpr std::uint8_t pcxLastVersion = 5, pcxRunLength = 1;
// A run: a byte of count in its low six bits, then the byte repeated.
// FreeImage reads a count of 0 as 256, and cuts a run at the end of its row
// of planes: the next row starts with a new run.
constexpr std::uint64_t pcxLongestRun = 63, pcxCountZeroRun = 256;
constexpr std::uint8_t pcxRunFlags = 0xC0, pcxCountBits = 0x3F;

// Sun raster: its signature, and the colour map of red, green and blue rows
// FreeImage reads only when it holds fewer colours than the pixels can index
// (it takes a full one for a damaged one).
constexpr std::uint64_t rasSignature = 0x59A66A95;
constexpr std::uint64_t rasEqualRgbMap = 1;
// The 32-byte header, the colour map after it, then the rows, of pixels of
// 1, 8, 24 or 32 bits. FreeImage reads a row of an odd number of pixels with
// one byte more, which rows of 1 to 24 bits have as padding to a 16-bit
// word, and 32-bit ones do not. Kinds 0, 1, 3, 4 and 5 are stored plainly,
// kind 2 in runs of up to 256 bytes in three: a flag byte, a count, the byte.
constexpr std::uint64_t rasHeader = 32;
constexpr std::array<std::uint64_t, 4> rasBitsRead{1, 8, 24, 32};
constexpr std::array<std::uint64_t, 5> rasPlainKinds{0, 1, 3, 4, 5};
constexpr std::uint64_t rasRunLengthKind = 2, rasRunBytes = 3, rasLongestRun = 256;
// A run opens with this byte, then its count less one and the byte; a count
// of 0 stands for the opening byte itself. Runs go on across rows.
constexpr std::uint8_t rasRunEscape = 0x80;

// ---------------------------------------------------------------- TGA

// Where a TGA header says how long its identifier is, whether it has a
// colour map, of how many entries and of how many bits each; the map follows
// the 18-byte header and the identifier.
constexpr std::size_t tgaHeader = 18, tgaMapTypeAt = 1, tgaEntriesAt = 5, tgaEntryBitsAt = 7;
constexpr std::uint8_t tgaHasMap = 1, tgaEntryBits15 = 15, tgaEntryBits24 = 24;
// A 15-bit entry's channels, 5 bits each, blue lowest.
constexpr std::uint32_t tgaChannelBits = 5, tgaChannelTop = (1u << tgaChannelBits) - 1;
// The kind of picture and where its sides and pixel bits lie. Kinds 1 to 3
// are stored plainly, 9 to 11 as packets, each a byte of count and then one
// pixel repeated up to 128 times or as many pixels as it counts. FreeImage
// reads packets through a buffer of the bytes after the header shared out
// among the rows, and reads past it where that holds less than one pixel.
constexpr std::size_t tgaKindAt = 2, tgaWidthAt = 12, tgaHeightAt = 14, tgaBitsAt = 16;
constexpr std::uint64_t tgaRunLengthKinds = 8, tgaLongestRun = 128;
// A packet's count byte: whether it repeats one pixel, and its count less
// one. Packets go on across rows; one longer than the pixels left FreeImage
// either leaves unwritten with the rest of the picture or writes past it.
constexpr std::uint8_t tgaRepeats = 0x80, tgaCountBits = 0x7F;

// Whether FreeImage decodes a TGA of this kind and pixel bits: mapped or grey
// 8-bit pixels, or true colour of 15 to 32 bits.
bool tgaKindRead(std::uint64_t kind, std::uint64_t bits)
{
    const std::uint64_t stored = kind & ~tgaRunLengthKinds;
    if (kind != stored && kind != (stored | tgaRunLengthKinds)) return false;
    if (bits == 8) return stored == 1 || stored == 3;
    return stored == 2 && (bits == 15 || bits == 16 || bits == 24 || bits == 32);
}

// ---------------------------------------------------------------- Run-length walks

// PCX, TGA and Sun raster runs are walked as FreeImage reads them, for
// FreeImage reads on past the end of the file, from buffers holding earlier
// bytes or memory never written, and shows rows made of those.

// Why run-length data that stops before its picture is whole does not hold
// it: the data reaches at the least past the file, and as far from `at`,
// where the run it stopped in starts, as the `rest` of the picture packed
// in runs of the longest, `longest` of it in `runBytes` bytes.
std::string runsCutShort(std::uint64_t at, std::uint64_t rest, std::uint64_t longest, std::uint64_t runBytes,
                         std::size_t fileSize)
{
    return cutShort(std::max<std::uint64_t>(fileSize + 1, plus(at, ceilDiv(times(rest, runBytes), longest))),
                    fileSize);
}

// A PCX's rows of `lineBytes` each (its planes' rows together) from the end
// of its header.
std::string pcxRunsProblem(Bytes file, std::uint64_t rows, std::uint64_t lineBytes)
{
    std::uint64_t at = pcxHeader;
    for (std::uint64_t row = 0; row < rows; ++row) {
        for (std::uint64_t left = lineBytes; left > 0;) {
            // A byte without the run flags stands for itself; a run's byte follows its count.
            const bool run = at < file.size() && (file[at] & pcxRunFlags) == pcxRunFlags;
            if (at + (run ? 1 : 0) >= file.size())
                return runsCutShort(at, plus(left, times(rows - 1 - row, lineBytes)), pcxCountZeroRun, 2,
                                    file.size());
            if (!run) {
                ++at;
                --left;
                continue;
            }
            const std::uint64_t count = file[at] & pcxCountBits;
            left -= std::min(count == 0 ? pcxCountZeroRun : count, left);
            at += 2;
        }
    }
    return {};
}

// A TGA's packets of `pixels` of `PixelBytes` each from byte `at`; of a
// pixel size known here, a walk over a file of millions of packets waits on
// little more than reading each.
template <std::uint64_t PixelBytes>
std::string tgaRunsProblem(Bytes file, std::uint64_t at, std::uint64_t pixels)
{
    for (std::uint64_t given = 0; given < pixels;) {
        const std::uint64_t head = at < file.size() ? file[at] : 0;
        const std::uint64_t count = (head & tgaCountBits) + 1;
        const std::uint64_t bytes = 1 + (head & tgaRepeats ? PixelBytes : count * PixelBytes);
        if (!within(at, bytes, file.size()))
            return runsCutShort(at, pixels - given, tgaLongestRun, 1 + PixelBytes, file.size());
        if (count > pixels - given) return fmt::format("its packet at byte {} runs past its last pixel", at);
        at += bytes;
        given += count;
    }
    return {};
}

std::string tgaRunsProblem(Bytes file, std::uint64_t at, std::uint64_t pixels, std::uint64_t pixelBytes)
{
    switch (pixelBytes) {
    case 1:
        return tgaRunsProblem<1>(file, at, pixels);
    case 2:
        return tgaRunsProblem<2>(file, at, pixels);
    case 3:
        return tgaRunsProblem<3>(file, at, pixels);
    default:
        return tgaRunsProblem<4>(file, at, pixels);
    }
}

// A Sun raster's `pixelBytes` (padding included) from byte `at`.
std::string rasRunsProblem(Bytes file, std::uint64_t at, std::uint64_t pixelBytes)
{
    for (std::uint64_t given = 0; given < pixelBytes;) {
        std::uint64_t bytes = 1, count = 1;
        if (at < file.size() && file[at] == rasRunEscape) {
            bytes = 2;
            if (at + 1 < file.size() && file[at + 1] != 0) {
                bytes = rasRunBytes;
                count = file[at + 1] + 1u;
            }
        }
        if (!within(at, bytes, file.size()))
            return runsCutShort(at, pixelBytes - given, rasLongestRun, rasRunBytes, file.size());
        at += bytes;
        given += count;
    }
    return {};
}

// ---------------------------------------------------------------- Koala and PSD

// A Commodore 64 Koala picture's one size, of 16 colours.
constexpr QvImageSize koalaSize{320, 200};
constexpr PixelHold koalaHold{4};

// PSD: the colour mode in the file header, which ends before the colour mode
// data; PSB, its large form, of version 2.
constexpr std::uint64_t psdModeAt = 24;
constexpr std::uint64_t psdCmykMode = 4;
constexpr std::uint64_t psbVersion = 2;
// How the merged picture after the layers is stored.
constexpr std::uint64_t psdRaw = 0, psdPackBits = 1;

// A PSD's merged picture held against the file that follows `in`, which
// stands after the colour mode data: each channel's rows, one after the
// other, plainly or as PackBits rows whose lengths a table gives first.
std::string psdPictureProblem(Bytes file, QvByteCursor& in, bool large, QvImageSize size,
                              std::uint64_t channels, std::uint64_t depth)
{
    in.skip(in.be(4));              // image resources
    in.skip(in.be(large ? 8 : 4));  // layers and masks
    const std::uint64_t compression = in.be(2);
    if (in.cut()) return "it is cut short in its header";
    const std::uint64_t rowBytes = packedBytes(size.width, depth);
    const std::uint64_t rows = times(channels, size.height);
    if (compression == psdRaw) return cutShort(plus(in.at(), times(rows, rowBytes)), file.size());
    if (compression != psdPackBits) return {};
    // Rows read in place: a picture may have a million.
    const std::uint64_t countBytes = large ? 4 : 2;
    if (!within(in.at(), times(rows, countBytes), file.size()))
        return runsPast("row lengths", in.at(), file.size());
    std::uint64_t end = in.at() + rows * countBytes;
    for (std::uint64_t row = 0; row < rows; ++row) {
        const std::uint64_t bytes =
            QvByteCursor::numberAt(file.data() + in.at() + row * countBytes, countBytes, true);
        if (rowBytes > times(bytes, packBitsBytesPerByte))
            return packing(size, rowBytes, bytes, packBitsBytesPerByte, "PackBits");
        end += bytes;
    }
    return cutShort(end, file.size());
}

// Whether a PSD's colour mode is CMYK.
bool psdOfInks(Bytes file)
{
    QvByteCursor in(file);
    if (!in.expect("8BPS")) return false;
    in.seek(psdModeAt);
    const std::uint64_t mode = in.be(2);
    return !in.cut() && mode == psdCmykMode;
}

}  // namespace

QvHeaderReading qvReadSgi(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (in.be(2) != sgiMagic) return notA("SGI");
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
    if (settled(size)) return sized(size, hold);
    if (storage > 1 || sampleBytes < 1 || sampleBytes > 2 || channels < 1 || channels > 4)
        return damaged(
            fmt::format("storage {}, {} bytes a sample, {} channels", storage, sampleBytes, channels));
    const std::uint64_t rows = times(size.height, channels);
    if (storage == 0)
        return sized(size, hold,
                     cutShort(plus(sgiHeader, times(times(rows, size.width), sampleBytes)), file.size()));
    const std::uint64_t tables = times(rows, 4);
    if (!within(sgiHeader, times(tables, 2), file.size()))
        return sized(size, hold, runsPast("row tables", sgiHeader, file.size()));
    for (std::uint64_t row = 0; row < rows; ++row) {
        const std::uint64_t at = QvByteCursor::numberAt<4>(file.data() + sgiHeader + 4 * row, true);
        const std::uint64_t bytes =
            QvByteCursor::numberAt<4>(file.data() + sgiHeader + tables + 4 * row, true);
        if (!within(at, bytes, file.size())) return sized(size, hold, runsPast("row", at, file.size()));
        if (times(size.width, 2 * sampleBytes) > times(bytes, sgiRunLength))
            return sized(size, hold,
                         packing(size, size.width, bytes, sgiRunLength / (2 * sampleBytes), "run-length"));
    }
    return sized(size, hold);
}

QvHeaderReading qvReadDdsSize(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (!in.expect("DDS ")) return {};
    in.skip(4);  // header size
    const std::uint64_t headerFlags = in.le(4);
    const std::uint64_t height = in.le(4);
    const std::uint64_t width = in.le(4);
    QvByteCursor format(file, ddsPixelFormat);
    const std::uint64_t flags = format.le(4);
    const std::uint64_t fourCc = format.le(4);
    const std::uint64_t bitCount = format.le(4);
    // Cut before these, the file is read as no picture at all.
    if (format.cut()) return unlessCut(in, {width, height}, {});
    const PixelHold hold = ddsHold(flags, fourCc, bitCount);
    if (ddsOfBlocks(flags, fourCc)) {
        // FreeImage decodes whole blocks only: the pixels of a last
        // part-block row or column are left out, and a picture of no whole
        // block is no picture to it.
        if (width < ddsBlockSide || height < ddsBlockSide)
            return refused(fmt::format("FreeImage cannot read a DXT DDS of {}x{} pixels, a side shorter "
                                       "than one block of {}",
                                       width, height, ddsBlockSide));
        const QvImageSize size{width / ddsBlockSide * ddsBlockSide, height / ddsBlockSide * ddsBlockSide};
        if (settled(size)) return sized(size, hold);
        const std::uint64_t blockBytes = file[ddsFourCcAt + 3] == '1' ? 8 : 16;  // DXT1's half-size blocks
        return sized(size, hold, cutShort(ddsBlocksEnd(width, height, blockBytes), file.size()));
    }
    const QvImageSize size{width, height};
    if ((flags & ddsRgb) == 0 || std::ranges::find(ddsBitsRead, bitCount) == ddsBitsRead.end() ||
        settled(size))
        return sized(size, hold);
    const std::uint64_t pitch = QvByteCursor::numberAt<4>(file.data() + ddsLinearSizeAt, false);
    return sized(size, hold, cutShort(ddsRowsEnd(size, bitCount, headerFlags, pitch), file.size()));
}

QvRewrittenPicture qvRewriteDdsBlocks(std::span<const std::uint8_t> file, const QvHeaderReading&)
{
    if (file.size() < ddsHeaderEnd || !QvByteCursor(file).expect("DDS ")) return {};
    const auto field = [&](std::size_t at) { return QvByteCursor::numberAt<4>(file.data() + at, false); };
    const std::uint64_t width = field(ddsWidthAt), height = field(ddsHeightAt);
    if (!ddsOfBlocks(field(ddsPixelFormat), field(ddsFourCcAt)) || width < ddsBlockSide ||
        height < ddsBlockSide || (width % ddsBlockSide == 0 && height % ddsBlockSide == 0))
        return {};
    const std::uint64_t blockBytes = file[ddsFourCcAt + 3] == '1' ? 8 : 16;  // DXT1's half-size blocks
    const std::uint64_t across = ceilDiv(width, ddsBlockSide), kept = width / ddsBlockSide,
                        down = height / ddsBlockSide;
    // The header reading refuses such a file; never rewritten from bytes it does not hold.
    if (std::string problem = cutShort(ddsBlocksEnd(width, height, blockBytes), file.size());
        !problem.empty())
        return {{}, std::move(problem)};
    std::vector<std::uint8_t> bytes(file.begin(), file.begin() + ddsHeaderEnd);
    const auto put = [&](std::size_t at, std::uint64_t value) {
        for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(value >> (8 * i));
    };
    put(ddsWidthAt, kept * ddsBlockSide);
    put(ddsHeightAt, down * ddsBlockSide);
    put(ddsLinearSizeAt, kept * down * blockBytes);
    put(ddsMipmapsAt, 1);
    for (std::uint64_t row = 0; row < down; ++row) {
        const auto start = file.begin() + std::ptrdiff_t(ddsHeaderEnd + row * across * blockBytes);
        bytes.insert(bytes.end(), start, start + std::ptrdiff_t(kept * blockBytes));
    }
    return {std::move(bytes), {}};
}

QvHeaderReading qvReadIffSize(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (!in.expect("FORM")) return {};
    // Chunks read in place: a file may hold tens of millions.
    for (std::uint64_t at = 12; at + 8 <= file.size();) {
        const std::uint64_t id = QvByteCursor::numberAt<4>(file.data() + at, true);
        const std::uint64_t length = QvByteCursor::numberAt<4>(file.data() + at + 4, true);
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
        if (id == tag("BODY")) return {};
        at += 8 + length + (length & 1);  // chunks are padded to an even length
    }
    return {};
}

QvHeaderReading qvReadWbmpSize(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (wbmpNumber(in) != 0) return {};  // type 0 is the only type there is
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

QvHeaderReading qvReadXbmSize(std::span<const std::uint8_t> file)
{
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    std::optional<std::uint64_t> width;
    std::optional<std::uint64_t> height;
    for (std::size_t start = 0, lines = 0; start < text.size() && lines < xbmMostLines; ++start, ++lines) {
        if (text[start] == 's' && text.substr(start).starts_with("static"))
            return width && height ? sized({*width, *height}, {1}) : QvHeaderReading{};
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

QvHeaderReading qvReadPictSize(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file, pictHeader);
    in.skip(10);  // picture size and frame, which FreeImage does not use
    const auto opening = std::find_if(file.begin() + std::min<std::size_t>(in.at(), file.size()), file.end(),
                                      [](std::uint8_t byte) { return byte != 0; });
    in.seek(std::uint64_t(opening - file.begin()) + 1);
    const std::uint64_t byte = opening == file.end() ? 0 : *opening;
    const std::uint64_t version = in.be(1);
    if (byte != pictVersionOp || (version != 1 && version != 2) || (version == 2 && in.be(1) != 0xFF))
        return {};
    const int opcodeBytes = static_cast<int>(version);
    for (std::uint64_t opcodes = 0; !in.cut() && opcodes < pictMostOpcodes; ++opcodes) {
        if (version == 2 && in.at() % 2 != 0) in.skip(1);  // version 2 opcodes are word aligned
        const std::uint64_t opcode = in.be(opcodeBytes);
        if (std::ranges::find(pictBitmapOpcodes, opcode) != pictBitmapOpcodes.end())
            return pictBitmapSize(in, opcode);
        const std::optional<std::uint64_t> length = pictOperandLength(in, opcode);
        if (!length) return {};
        in.skip(*length);
    }
    return {};
}

QvHeaderReading qvReadPcx(std::span<const std::uint8_t> file)
{
    if (file.size() <= pcxPlanesAt || file[0] != pcxSignature) return {};
    const std::pair kind{file[pcxBitsAt], file[pcxPlanesAt]};
    if (std::ranges::find(pcxKindsRead, kind) == pcxKindsRead.end())
        return refused(fmt::format("FreeImage cannot read a PCX of {}-bit pixels in {} plane{}", kind.first,
                                   kind.second, kind.second == 1 ? "" : "s"));
    // FreeImage refuses the rest of a header of another version or coding,
    // or that is cut short, in its own words.
    if (file.size() < pcxHeader || file[pcxVersionAt] > pcxLastVersion || file[pcxCodingAt] > pcxRunLength)
        return {};
    QvByteCursor in(file, pcxCornersAt);
    const std::uint64_t left = in.le(2), top = in.le(2), right = in.le(2), bottom = in.le(2);
    if (left >= right || top >= bottom) return {};
    const QvImageSize size{right - left + 1, bottom - top + 1};
    const auto [bits, planes] = kind;
    const std::uint64_t rowBytes = QvByteCursor::numberAt<2>(file.data() + pcxRowBytesAt, false);
    // Rows too short for their pixels, FreeImage leaves the rest of each row unwritten.
    if (rowBytes < packedBytes(size.width, bits))
        return sized(size, {},
                     fmt::format("its header is damaged: rows of {} bytes for {} pixels of {} bits", rowBytes,
                                 size.width, bits));
    const std::uint64_t pixelBytes = times(times(rowBytes, planes), size.height);
    if (file[pcxCodingAt] != pcxRunLength)
        return sized(size, {}, cutShort(plus(pcxHeader, pixelBytes), file.size()));
    const std::uint64_t coded = file.size() - pcxHeader;
    if (times(pixelBytes, 2) > times(coded, pcxLongestRun))
        return sized(size, {}, packing(size, pixelBytes, coded, pcxLongestRun / 2, "run-length"));
    return sized(size, {}, pcxRunsProblem(file, size.height, times(rowBytes, planes)));
}

QvHeaderReading qvReadSunRaster(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (in.be(4) != rasSignature) return {};
    const std::uint64_t width = in.be(4);
    const std::uint64_t height = in.be(4);
    const std::uint64_t depth = in.be(4);
    in.skip(4);  // length, which old files give as 0
    const std::uint64_t type = in.be(4);
    const std::uint64_t mapType = in.be(4);
    const std::uint64_t mapBytes = in.be(4);
    if (in.cut()) return cutInHeader();
    if (mapType == rasEqualRgbMap && depth <= 8 && mapBytes >= 3u << depth)
        return refused(fmt::format("FreeImage cannot read a Sun raster whose colour map holds all {} colours "
                                   "of its {}-bit pixels",
                                   1u << depth, depth));
    const QvImageSize size{width, height};
    const bool runLength = type == rasRunLengthKind;
    // FreeImage refuses other kinds in its own words.
    if (std::ranges::find(rasBitsRead, depth) == rasBitsRead.end() ||
        (!runLength && std::ranges::find(rasPlainKinds, type) == rasPlainKinds.end()) || settled(size))
        return sized(size, {});
    if (depth == 32 && width % 2 != 0)
        return refused(fmt::format("FreeImage cannot read a 32-bit Sun raster of an odd width ({})", width));
    const std::uint64_t rowBytes = packedBytes(width, depth);
    const std::uint64_t pixelBytes = times(plus(rowBytes, rowBytes % 2), height);
    const std::uint64_t start = plus(rasHeader, mapBytes);
    if (!runLength) return sized(size, {}, cutShort(plus(start, pixelBytes), file.size()));
    const std::uint64_t coded = start < file.size() ? file.size() - start : 0;
    if (times(pixelBytes, rasRunBytes) > times(coded, rasLongestRun))
        return sized(size, {}, packing(size, pixelBytes, coded, rasLongestRun / rasRunBytes, "run-length"));
    return sized(size, {}, rasRunsProblem(file, start, pixelBytes));
}

QvHeaderReading qvReadTga(std::span<const std::uint8_t> file)
{
    // A TGA has no signature: a header of a kind FreeImage decodes, and a
    // colour map only where there may be one, is read as one.
    if (file.size() < tgaHeader || file[tgaMapTypeAt] > tgaHasMap) return {};
    const std::uint64_t kind = file[tgaKindAt], bits = file[tgaBitsAt];
    if (!tgaKindRead(kind, bits)) return {};
    const auto field = [&](std::size_t at) { return QvByteCursor::numberAt<2>(file.data() + at, false); };
    const QvImageSize size{field(tgaWidthAt), field(tgaHeightAt)};
    if (settled(size)) return sized(size, {});
    const std::uint64_t mapBytes =
        file[tgaMapTypeAt] == tgaHasMap ? ceilDiv(file[tgaEntryBitsAt], 8) * field(tgaEntriesAt) : 0;
    const std::uint64_t start = tgaHeader + file[0] + mapBytes;
    const std::uint64_t pixels = size.width * size.height, pixelBytes = ceilDiv(bits, 8);
    if ((kind & tgaRunLengthKinds) == 0)
        return sized(size, {}, cutShort(start + pixels * pixelBytes, file.size()));
    const std::uint64_t coded = start < file.size() ? file.size() - start : 0;
    if (pixels * (1 + pixelBytes) > times(coded, tgaLongestRun))
        return sized(size, {}, packing(size, pixels, coded, tgaLongestRun / (1 + pixelBytes), "run-length"));
    if (coded < size.height * pixelBytes)
        return refused(
            fmt::format("FreeImage cannot read a run-length TGA of {} rows in {} bytes, fewer than {} "
                        "a row",
                        size.height, coded, pixelBytes));
    return sized(size, {}, tgaRunsProblem(file, start, pixels, pixelBytes));
}

QvRewrittenPicture qvRewriteTgaColourMap(std::span<const std::uint8_t> file, const QvHeaderReading&)
{
    if (file.size() < tgaHeader || file[tgaMapTypeAt] != tgaHasMap || file[tgaEntryBitsAt] != tgaEntryBits15)
        return {};
    const std::size_t mapAt = tgaHeader + file[0];
    const std::size_t entries = QvByteCursor::numberAt<2>(file.data() + tgaEntriesAt, false);
    if (!within(mapAt, 2 * entries, file.size())) return {};
    std::vector<std::uint8_t> bytes(file.begin(), file.begin() + std::ptrdiff_t(mapAt));
    bytes[tgaEntryBitsAt] = tgaEntryBits24;
    for (std::size_t i = 0; i < entries; ++i) {
        const auto entry = std::uint32_t(QvByteCursor::numberAt<2>(file.data() + mapAt + 2 * i, false));
        // Blue, green, red, each scaled to 0..255 with rounding.
        for (std::uint32_t shift = 0; shift < 3 * tgaChannelBits; shift += tgaChannelBits)
            bytes.push_back(
                std::uint8_t(((entry >> shift & tgaChannelTop) * 255 + tgaChannelTop / 2) / tgaChannelTop));
    }
    bytes.insert(bytes.end(), file.begin() + std::ptrdiff_t(mapAt + 2 * entries), file.end());
    return {std::move(bytes), {}};
}

QvHeaderReading qvReadPsd(std::span<const std::uint8_t> file)
{
    QvByteCursor in(file);
    if (!in.expect("8BPS")) return notA("PSD");
    const std::uint64_t version = in.be(2);
    in.skip(6);  // reserved
    const std::uint64_t channels = in.be(2);
    const std::uint64_t height = in.be(4);
    const std::uint64_t width = in.be(4);
    const std::uint64_t depth = in.be(2);
    in.skip(2);  // colour mode
    if (in.cut()) return cutInHeader();
    if (version != 1 && version != psbVersion) return damaged(fmt::format("version {}", version));
    const QvImageSize size{width, height};
    if (settled(size)) return sized(size, {});
    constexpr std::array<std::uint64_t, 4> depths{1, 8, 16, 32};
    if (channels == 0 || std::ranges::find(depths, depth) == depths.end())
        return damaged(fmt::format("{} channels of {} bits", channels, depth));
    in.skip(in.be(4));  // colour mode data
    return sized(size, {}, psdPictureProblem(file, in, version == psbVersion, size, channels, depth));
}

QvHeaderReading qvReadKoalaSize(std::span<const std::uint8_t>)
{
    return sized(koalaSize, koalaHold);
}

void qvPsdAsStored(FIBITMAP* bitmap, int flags, const QvHeaderReading&, std::span<const std::uint8_t> file)
{
    // A CMYK picture comes back as four channels of inks.
    const bool fourChannels =
        FreeImage_GetImageType(bitmap) == FIT_RGBA16 ||
        (FreeImage_GetImageType(bitmap) == FIT_BITMAP && FreeImage_GetBPP(bitmap) == 32);
    if ((flags & PSD_CMYK) != 0 && fourChannels && psdOfInks(file)) qvMarkAsInks(bitmap);
}
