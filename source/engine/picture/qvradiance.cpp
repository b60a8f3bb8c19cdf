// qvradiance: a Radiance file's header lines walked eight bytes at a time (a
// file may hold hundreds of millions), and its resolution line read as
// FreeImage's scan reads it.
#include "engine/picture/qvradiance.h"

#include "engine/picture/qvheaderreader.h"

#include <fmt/core.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>

using namespace qvheader;

namespace {

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

}  // namespace

QvHeaderReading qvReadHdr(std::span<const std::uint8_t> file)
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
    if (settled(size)) return sized(size, rgbFloats);
    // Rows of 8 to 32767 pixels may be run-length coded; others are stored flat.
    const std::uint64_t flatRow = times(size.width, 4);
    std::uint64_t row = flatRow;
    if (size.width >= 8 && size.width <= 0x7FFF)
        row = std::min(flatRow, hdrRowStart + 4 * 2 * ceilDiv(size.width, hdrRunLength));
    return sized(size, rgbFloats,
                 packing(size, times(row, size.height), file.size() - (at + 1), 1, "run-length"));
}
