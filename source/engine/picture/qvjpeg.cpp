// qvjpeg: a JPEG's markers found eight bytes at a time through its coded
// data, its frame's components counted in blocks, and its scans held to the
// bits their blocks take and to counts no real picture reaches.
#include "engine/picture/qvjpeg.h"

#include "engine/picture/qvheaderreader.h"

#include <fmt/core.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

using namespace qvheader;

namespace {

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
    // Its sampling factors' product: its blocks in one unit of an interleaved scan.
    std::uint64_t mcuBlocks = 0;
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

// A problem found before the frame gave the size rules the file out alone;
// after, it comes with the size.
QvHeaderReading refusal(const std::optional<QvImageSize>& size, PixelHold hold, std::string problem)
{
    return size ? sized(*size, hold, std::move(problem)) : refused(std::move(problem));
}

}  // namespace

QvHeaderReading qvReadJpeg(std::span<const std::uint8_t> file)
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
        if (std::string problem = scanProblem(next->at); !problem.empty())
            return sized(*size, hold, std::move(problem));
        scanBlocks = 0;
        ended = marker == jpegEndOfImage;
        if (ended) break;
        const std::size_t start = in.at();
        const std::uint64_t length = in.be(2);
        if (in.cut()) break;
        if (length < 2)
            return refusal(size, hold, "its header is damaged: a segment shorter than its length field");
        if (!within(start - 2, length + 2, file.size()))
            return refusal(size, hold, runsPast("segment", start - 2, file.size()));
        if (++segments > jpegMostSegments)
            return refusal(size, hold,
                           fmt::format("it holds more than {} marker segments, more than any real picture",
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
            if (settled(*size)) return sized(*size, hold);
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
                return sized(*size, hold, "its header is damaged: a scan header longer than its segment");
            if (++scans > jpegMostScans)
                return sized(
                    *size, hold,
                    fmt::format("it holds more than {} scans, more than any real picture", jpegMostScans));
            visits = plus(visits, blocks);
            if (visits > times(allBlocks, jpegMostVisits))
                return sized(*size, hold,
                             fmt::format("its {} scans go over {} blocks, more than {} times the {} of its "
                                         "picture",
                                         scans, visits, jpegMostVisits, allBlocks));
            const bool firstDcPass = spectralStart == 0 && (approximation >> 4) == 0;
            if (huffman && (!progressive || firstDcPass)) scanBlocks = blocks;
            scanData = start + length;
        }
        in.seek(start + length);
    }
    if (std::string problem = scanProblem(file.size()); !problem.empty())
        return sized(*size, hold, std::move(problem));
    if (scans > 0) return sized(*size, hold);
    if (ended) return refusal(size, hold, "its header is damaged: no image before its end");
    return refusal(size, hold, "it is cut short in its header");
}
