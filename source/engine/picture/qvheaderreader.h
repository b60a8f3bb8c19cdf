// qvheaderreader: what every format's header reader shares, so that each
// family's file holds only its own format's rules. The size a picture claims
// and whether the file can hold it are read from the header in the fields
// FreeImage's own readers allocate the picture by, before any of them runs.
// Only what a file cannot be is refused: cut short, a part outside it, or
// more pixels than its coding can pack into its bytes (a coding's packing
// limit is the most pixel bytes it gives for one byte of the file). Codings
// that pack any number of pixels in a few bytes are held only by the pixel
// bound the decoding child applies to the size read here
// (qvImageSizeProblem), since pictures are decoded in a child process under
// memory and time limits.
//
// Headers are read in the main program, for every picture file it hands to
// a decoding child, outside any limit, so a reading costs at most one cheap
// pass over the file whatever it holds: walks over strips, entries, chunks,
// markers and lines read them in place, format no text and allocate nothing
// until they find a problem, and a size no picture may have ends the
// reading at once.
#pragma once

#include "engine/picture/qvbytecursor.h"
#include "engine/picture/qvimageheader.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace qvheader {

using Bytes = std::span<const std::uint8_t>;

inline constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();

// Packing limits of the codings several formats share: the most pixel bytes
// one byte of coded data can give.
// Deflate: a 258-byte match to the byte before, in two bits at the least.
inline constexpr std::uint64_t deflateBytesPerByte = 258 * 4;
// LZW of at most 12-bit codes: a code stands for at most 4096 bytes.
inline constexpr std::uint64_t lzwBytesPerByte = (4096 * 8 + 11) / 12;
// PackBits: a byte repeated 128 times in two bytes.
inline constexpr std::uint64_t packBitsBytesPerByte = 128 / 2;

// a x b and a + b, held at the largest value instead of wrapping.
inline std::uint64_t times(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? saturated : product;
}
inline std::uint64_t plus(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? saturated : sum;
}
inline std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b)
{
    return a / b + (a % b != 0 ? 1 : 0);
}
// Bytes of `count` samples of `bits` each, rounded up to whole bytes.
inline std::uint64_t packedBytes(std::uint64_t count, std::uint64_t bits)
{
    return times(count, bits) == saturated ? saturated : ceilDiv(times(count, bits), 8);
}
// Whether `length` bytes from byte `start` lie in a file of `fileSize` bytes.
inline bool within(std::uint64_t start, std::uint64_t length, std::uint64_t fileSize)
{
    return start <= fileSize && length <= fileSize - start;
}

// The eight bytes at `at` as one word, the first byte lowest.
inline std::uint64_t wordAt(const std::uint8_t* at)
{
    return QvByteCursor::numberAt<8>(at, false);
}
// The bytes of a word equal to `value`: the high bit of each such byte set.
// Walks over text take eight bytes at a time with it where nothing happens.
inline std::uint64_t bytesEqual(std::uint64_t word, std::uint8_t value)
{
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7F;
    const std::uint64_t differences = word ^ (0x0101010101010101ull * value);
    return ~(((differences & low7) + low7) | differences) & ~low7;
}

// The four characters of a chunk or box type as one big-endian number.
constexpr std::uint64_t tag(const char (&name)[5])
{
    return std::uint64_t(std::uint8_t(name[0])) << 24 | std::uint64_t(std::uint8_t(name[1])) << 16 |
           std::uint64_t(std::uint8_t(name[2])) << 8 | std::uint64_t(std::uint8_t(name[3]));
}

// How FreeImage's decoder holds a pixel: the bits of one in its bitmap, and
// whether its samples are floating point. Bits 0: the header does not tell.
struct PixelHold {
    std::uint32_t bits = 0;
    bool floating = false;
};

// The reading of a file whose signature is the format's and whose size was
// read: any problem is fatal. Also the reading of a format read for its size
// alone, which never has a problem.
QvHeaderReading sized(QvImageSize size, PixelHold hold, std::string problem = {});
// A reading of a file whose size and pixel `in` read, unless it was cut
// short before them: then nothing.
QvHeaderReading unlessCut(const QvByteCursor& in, QvImageSize size, PixelHold hold);
// A reading without a size that rules the file out.
QvHeaderReading refused(std::string problem);
// The one problem that is not fatal: the file is of another format.
QvHeaderReading notA(std::string_view format);
QvHeaderReading cutInHeader();
QvHeaderReading damaged(std::string_view what);

// Why a picture whose data must reach byte `end` is not all there; empty
// when it is.
std::string cutShort(std::uint64_t end, std::size_t fileSize);
// Why a part of the file at `start` that does not lie within it is not there.
std::string runsPast(std::string_view part, std::uint64_t start, std::size_t fileSize);
// Why `pixelBytes` cannot come from `coded` bytes of a coding that gives at
// most `perByte` of them for each; empty when they can.
std::string packing(QvImageSize size, std::uint64_t pixelBytes, std::uint64_t coded, std::uint64_t perByte,
                    std::string_view coding);

// Whether a picture of this size is refused whatever the rest of its file
// holds: it has no pixels, or more than any picture may have. Its reading
// ends there, so a file claiming one costs nothing to walk; the caller refuses
// it by its size (qvImageSizeProblem), or qvReadHeader for a side of 0.
inline bool settled(QvImageSize size)
{
    return size.width == 0 || size.height == 0 || times(size.width, size.height) > qvMaxPicturePixels;
}

}  // namespace qvheader
