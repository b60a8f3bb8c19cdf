// qvjpeg2000: a codestream's segments and tile-parts read in place (a file
// may hold a hundred million), and a JP2's boxes around one.
#include "engine/picture/qvjpeg2000.h"

#include "engine/picture/qvheaderreader.h"

#include <fmt/core.h>

#include <algorithm>
#include <optional>
#include <string>

using namespace qvheader;

namespace {

constexpr std::uint64_t startOfCodestream = 0xFF4F;
constexpr std::uint64_t imageAndTileSize = 0xFF51;
constexpr std::uint64_t startOfTile = 0xFF90;
constexpr std::uint64_t endOfCodestream = 0xFFD9;
// A tile takes at least the 14 bytes of its tile-part's start, so a small
// file cannot claim many.
constexpr std::uint64_t smallestTilePart = 14;

// Why the segments and tile-parts from byte `at` on cannot lie in the file;
// empty when they do.
std::string walkCodestream(Bytes file, std::uint64_t at)
{
    const std::uint8_t* data = file.data();
    while (at < file.size()) {
        const std::uint64_t marker = file.size() - at < 2 ? 0 : QvByteCursor::numberAt<2>(data + at, true);
        if (marker == endOfCodestream) break;
        if (marker < 0xFF00) return "its header is damaged: a stray byte between its segments";
        if (file.size() - at < 4) return "it is cut short in a segment's header";
        if (marker == startOfTile) {
            if (file.size() - at < 10) return "it is cut short in a segment's header";
            const std::uint64_t tilePart = QvByteCursor::numberAt<4>(data + at + 6, true);
            if (tilePart == 0) break;  // the last one, up to the end
            if (!within(at, tilePart, file.size())) return runsPast("tile-part", at, file.size());
            at += tilePart;
        } else {
            const std::uint64_t length = QvByteCursor::numberAt<2>(data + at + 2, true);
            if (!within(at, length + 2, file.size())) return runsPast("segment", at, file.size());
            at += 2 + length;
        }
    }
    return {};
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

}  // namespace

QvHeaderReading qvReadJ2k(std::span<const std::uint8_t> file)
{
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
    if (settled(size)) return sized(size, hold);
    const std::uint64_t tiles =
        times(ceilDiv(gridWidth - tileLeft, tileWidth), ceilDiv(gridHeight - tileTop, tileHeight));
    if (tiles > file.size() / smallestTilePart)
        return sized(size, hold, fmt::format("its {} tiles cannot lie in {} bytes", tiles, file.size()));
    return sized(size, hold, walkCodestream(file, 4 + segmentLength));
}

QvHeaderReading qvReadJp2(std::span<const std::uint8_t> file)
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
            codestream = qvReadJ2k(contents);
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
