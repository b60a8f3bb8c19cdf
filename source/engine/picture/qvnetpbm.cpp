// qvnetpbm: Netpbm and PFM headers read once, as FreeImage reads their text
// numbers, for their readers and the plain PBM rewrite alike.
#include "engine/picture/qvnetpbm.h"

#include "engine/picture/qvheaderreader.h"

#include <fmt/core.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

using namespace qvheader;

namespace {

bool isDigit(std::uint8_t c)
{
    return c >= '0' && c <= '9';
}
// Blank as C's isspace says in its "C" locale.
bool isBlank(std::uint8_t c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}
// Where the line holding byte `at` ends: its line break, or the file's end.
std::size_t lineEnd(Bytes file, std::size_t at)
{
    while (at < file.size() && file[at] != '\n' && file[at] != '\r') ++at;
    return at;
}

// The Netpbm formats and PFM: text numbers. FreeImage skips anything but
// digits before a number (and "#" comments) and reads digits into an int
// until the first other character, which it takes too; the pixels start
// after the last one.
class NetpbmText {
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

// The Netpbm kinds, by the digit after the signature's "P".
struct NetpbmKind {
    char digit;
    std::uint64_t samples;  // of a pixel
    bool bitmap;
    bool plain;  // samples written as text
};
constexpr NetpbmKind netpbmKinds[] = {{'1', 1, true, true},  {'2', 1, false, true},  {'3', 3, false, true},
                                      {'4', 1, true, false}, {'5', 1, false, false}, {'6', 3, false, false}};

// A Netpbm header held against its file.
QvHeaderReading netpbmReading(Bytes file, const QvNetpbmHeader& header, const NetpbmKind& kind)
{
    const QvImageSize size{header.width, header.height};
    const bool wide = header.maxValue > 0xFF;
    const PixelHold hold{kind.bitmap ? 1u : std::uint32_t(kind.samples * (wide ? 16 : 8))};
    if (settled(size)) return sized(size, hold);
    if (header.maxValue == 0 || header.maxValue > 0xFFFF)
        return damaged(fmt::format("a largest sample of {}", header.maxValue));
    const std::uint64_t samples = times(times(size.width, size.height), kind.samples);
    std::uint64_t end = 0;
    if (kind.bitmap && kind.plain) {
        end = plus(header.pixelsStart, samples);  // a character a pixel
    } else if (kind.plain) {
        end =
            plus(header.pixelsStart, samples == 0 ? 0 : times(samples, 2) - 1);  // digits and a space between
    } else if (kind.bitmap) {
        end = plus(header.pixelsStart, times(ceilDiv(size.width, 8), size.height));
    } else {
        end = plus(header.pixelsStart, times(samples, wide ? 2 : 1));
    }
    return sized(size, hold, cutShort(end, file.size()));
}

// Steps over white space and comments, which run to the end of their line.
std::size_t skipSpace(Bytes file, std::size_t at)
{
    while (at < file.size() && (file[at] == '#' || isBlank(file[at])))
        at = file[at] == '#' ? lineEnd(file, at) : at + 1;
    return at;
}

}  // namespace

QvHeaderReading qvReadNetpbm(std::span<const std::uint8_t> file)
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
    const QvNetpbmHeader header{kind->digit, *width, *height, *maxValue, text.at()};
    QvHeaderReading reading = netpbmReading(file, header, *kind);
    reading.facts = header;
    return reading;
}

QvHeaderReading qvReadPfm(std::span<const std::uint8_t> file)
{
    if (file.size() < 2 || file[0] != 'P' || (file[1] != 'F' && file[1] != 'f')) return notA("PFM");
    NetpbmText text(file);
    const std::optional<std::uint64_t> width = text.number();
    const std::optional<std::uint64_t> height = text.number();
    if (!width || !height) return cutInHeader();
    text.skipWord();
    const QvNetpbmHeader header{char(file[1]), *width, *height, 0, text.at()};
    const QvImageSize size{*width, *height};
    const bool colour = file[1] == 'F';
    const PixelHold hold{colour ? 96u : 32u, true};  // RGB or grey floats
    QvHeaderReading reading =
        settled(size) ? sized(size, hold)
                      : sized(size, hold,
                              cutShort(plus(header.pixelsStart,
                                            times(times(times(size.width, size.height), colour ? 3 : 1), 4)),
                                       file.size()));
    reading.facts = header;
    return reading;
}

QvRewrittenPicture qvRewritePlainPbm(std::span<const std::uint8_t> file, const QvHeaderReading& reading)
{
    const QvNetpbmHeader* header = std::get_if<QvNetpbmHeader>(&reading.facts);
    if (header == nullptr || header->kind != '1' || header->pixelsStart > file.size()) return {};
    // FreeImage takes the character that ends the height as part of it, a
    // "#" too: the comment that starts there runs to its line's end as any
    // other, and FreeImage is handed a line break in its place.
    const std::size_t start = header->pixelsStart;
    const bool commented = start > 0 && file[start - 1] == '#';
    // Only the picture's own width x height digits are copied: whatever
    // follows them is no part of it, however long it runs.
    const std::uint64_t pixels = reading.size ? reading.size->width * reading.size->height : 0;
    std::vector<std::uint8_t> bytes(file.begin(), file.begin() + (commented ? start - 1 : start));
    if (commented) bytes.push_back('\n');
    bytes.reserve(start + 2 * std::min<std::uint64_t>(pixels, file.size()) + 1);
    bool together = false;
    std::uint64_t copied = 0;
    for (std::size_t at = skipSpace(file, commented ? lineEnd(file, start) : start);
         at < file.size() && copied < pixels; at = skipSpace(file, at), ++copied) {
        if (file[at] != '0' && file[at] != '1') return {};  // for FreeImage to refuse
        together = together || (at > 0 && (file[at - 1] == '0' || file[at - 1] == '1'));
        bytes.insert(bytes.end(), {' ', file[at++]});
    }
    if (!together && !commented) return {};
    bytes.push_back('\n');
    return {std::move(bytes), {}};
}

void qvPfmAsStored(FIBITMAP* bitmap, int, const QvHeaderReading&, std::span<const std::uint8_t>)
{
    // FreeImage's row 0 becomes its last row and so on.
    const unsigned height = FreeImage_GetHeight(bitmap);
    const std::size_t lineBytes = FreeImage_GetLine(bitmap);
    for (unsigned y = 0; y < height / 2; ++y) {
        BYTE* low = FreeImage_GetScanLine(bitmap, int(y));
        BYTE* high = FreeImage_GetScanLine(bitmap, int(height - 1 - y));
        std::swap_ranges(low, low + lineBytes, high);
    }
}
