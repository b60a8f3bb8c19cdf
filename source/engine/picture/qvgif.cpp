// qvgif: a GIF's colour tables and extensions stepped over (a file may hold
// hundreds of millions of sub-blocks) to its first image's descriptor.
#include "engine/picture/qvgif.h"

#include "engine/picture/qvheaderreader.h"

#include <fmt/core.h>

using namespace qvheader;

namespace {

// LZW codes of GIF start one bit wider than the smallest code size, which
// holds the colour indices of 2 to 8 bits.
constexpr std::uint64_t gifFewestCodeBits = 2;
constexpr std::uint64_t gifMostCodeBits = 8;

// Blocks between GIF images.
constexpr std::uint64_t gifExtension = 0x21;
constexpr std::uint64_t gifImageDescriptor = 0x2C;

// FreeImage holds an image of up to 16 colours in 1 or 4 bits with the
// default flag (found by decoding each size), but read with GIF_LOAD256, tried
// before the default, every one in 8: the larger, which a decoding may need.
constexpr PixelHold gifHold{8};

// Steps over a colour table whose presence and size a block's flags give.
void skipGifColourTable(QvByteCursor& in, std::uint64_t flags)
{
    if (flags & 0x80) in.skip(3u << ((flags & 7) + 1));
}

// Steps over an extension's sub-blocks, each led by its length, up to and past
// the empty one that ends them. A tight loop: a file may hold hundreds of
// millions of them.
void skipGifSubBlocks(QvByteCursor& in, Bytes file)
{
    std::uint64_t at = in.at();
    while (at < file.size() && file[at] != 0) at += file[at] + 1u;
    in.seek(at + 1);
}

}  // namespace

QvHeaderReading qvReadGif(std::span<const std::uint8_t> file)
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
            const std::uint64_t codeBits = in.le(1);
            if (in.cut()) return sized(size, gifHold, "it is cut short in its header");
            if (settled(size)) return sized(size, gifHold);
            if (codeBits < gifFewestCodeBits || codeBits > gifMostCodeBits)
                return sized(size, gifHold,
                             fmt::format("its LZW minimum code size {} is outside {} to {}", codeBits,
                                         gifFewestCodeBits, gifMostCodeBits));
            return sized(size, gifHold,
                         packing(size, times(size.width, size.height), in.left(), lzwBytesPerByte, "LZW"));
        } else if (!in.cut()) {
            return damaged("no image before its end");
        }
    }
    return cutInHeader();
}
