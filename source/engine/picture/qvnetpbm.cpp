// qvnetpbm: Netpbm headers read once, as netpbm reads their text numbers
// and comments, for their readers and the rewrite alike; PFM's as FreeImage
// reads them.
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
// Whether a comment that netpbm ends at byte `at` runs on in FreeImage, which
// ends one only at "\n": it ends at a carriage return alone.
bool runsOnInFreeImage(Bytes file, std::size_t at)
{
    return at < file.size() && file[at] == '\r' && (at + 1 == file.size() || file[at + 1] != '\n');
}

// The Netpbm formats and PFM: text numbers. FreeImage skips anything but
// digits before a number (and "#" comments) and reads digits into an int
// until the first other character, which it takes too; the pixels start
// after the last one. Netpbm's numbers end where a comment starts too, the
// comment running to its line's end in place of that character: Netpbm
// headers are read so (`netpbmComments`), and FreeImage, which would take
// the comment's digits for numbers, is handed them rewritten.
class NetpbmText {
public:
    NetpbmText(Bytes file, bool netpbmComments) : file_(file), netpbmComments_(netpbmComments) {}

    // Each loop keeps its place in a local: the file's bytes could alias a member.
    std::optional<std::uint64_t> number()
    {
        std::size_t at = at_;
        for (bool comment = false; at < file_.size(); ++at) {
            const std::uint8_t c = file_[at];
            if (!comment && isDigit(c)) break;
            misread_ = misread_ || (comment && netpbmComments_ && runsOnInFreeImage(file_, at));
            comment = comment ? c != '\n' && c != '\r' : c == '#';
        }
        if (at == file_.size()) {
            at_ = at;
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (; at < file_.size() && isDigit(file_[at]); ++at)
            if (value != saturated) value = plus(times(value, 10), std::uint64_t(file_[at] - '0'));
        if (netpbmComments_ && at < file_.size() && file_[at] == '#') {
            at = lineEnd(file_, at);
            misread_ = true;
        }
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
    bool misreadByFreeImage() const { return misread_; }

private:
    Bytes file_;
    bool netpbmComments_;
    std::size_t at_ = 2;  // after the two-character signature
    bool misread_ = false;
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

// Where the pixels of a Netpbm picture end: for plain kinds, the fewest
// characters that can hold them.
std::uint64_t pixelsEnd(const QvNetpbmHeader& header, const NetpbmKind& kind)
{
    const std::uint64_t samples = times(times(header.width, header.height), kind.samples);
    if (kind.bitmap && kind.plain) return plus(header.pixelsStart, samples);  // a character a pixel
    if (kind.plain)
        return plus(header.pixelsStart,
                    samples == 0 ? 0 : times(samples, 2) - 1);  // digits and a space between
    if (kind.bitmap) return plus(header.pixelsStart, times(ceilDiv(header.width, 8), header.height));
    return plus(header.pixelsStart, times(samples, header.maxValue > 0xFF ? 2 : 1));
}

// A Netpbm header held against its file.
QvHeaderReading netpbmReading(Bytes file, const QvNetpbmHeader& header, const NetpbmKind& kind)
{
    const QvImageSize size{header.width, header.height};
    const bool wide = header.maxValue > 0xFF;
    const PixelHold hold{kind.bitmap ? 1u : std::uint32_t(kind.samples * (wide ? 16 : 8))};
    if (settled(size)) return sized(size, hold);
    if (header.maxValue == 0 || header.maxValue > 0xFFFF)
        return damaged(fmt::format("a largest sample of {}", header.maxValue));
    return sized(size, hold, cutShort(pixelsEnd(header, kind), file.size()));
}

// What FreeImage would make of the samples of a Netpbm file.
struct PlainSamples {
    // It is handed them as they are: raw pixels, or plain ones where a byte
    // is no digit, white space or comment, for it to read or refuse as it does.
    bool asTheyAre = false;
    // It reads them otherwise: a bitmap's digits run together (one number
    // to it), or a comment starts straight after a sample (the comment's
    // digits samples to it) or ends at a carriage return alone.
    bool misread = false;
    // The last sample's digits end the file, where FreeImage looks for one
    // more character.
    bool endsFile = false;
};

// Walks the first `count` samples of a plain Netpbm file from byte `at` as
// netpbm reads them, over white space and comments, handing each one's
// digits to `visit` (a bitmap's sample is one digit, 0 or 1).
template <typename Visit>
PlainSamples walkPlainSamples(Bytes file, std::size_t at, std::uint64_t count, bool bitmap, Visit visit)
{
    PlainSamples found;
    for (std::uint64_t n = 0; n < count; ++n) {
        while (at < file.size() && (file[at] == '#' || isBlank(file[at]))) {
            if (file[at] == '#') {
                at = lineEnd(file, at);
                found.misread = found.misread || runsOnInFreeImage(file, at);
            } else {
                ++at;
            }
        }
        if (at == file.size()) break;
        const std::size_t start = at;
        if (bitmap ? file[at] != '0' && file[at] != '1' : !isDigit(file[at])) return {.asTheyAre = true};
        if (bitmap)
            ++at;
        else
            while (at < file.size() && isDigit(file[at])) ++at;
        visit(file.subspan(start, at - start));
        found.endsFile = at == file.size();
        found.misread =
            found.misread || (!found.endsFile && (file[at] == '#' || (bitmap && isDigit(file[at]))));
    }
    return found;
}

}  // namespace

QvHeaderReading qvReadNetpbm(std::span<const std::uint8_t> file)
{
    const auto kind = std::ranges::find(netpbmKinds, file.size() < 2 || file[0] != 'P' ? '\0' : char(file[1]),
                                        &NetpbmKind::digit);
    if (kind == std::end(netpbmKinds)) return notA("Netpbm");
    NetpbmText text(file, true);
    const std::optional<std::uint64_t> width = text.number();
    const std::optional<std::uint64_t> height = text.number();
    const std::optional<std::uint64_t> maxValue =
        kind->bitmap ? std::optional<std::uint64_t>(1) : text.number();
    if (!width || !height || !maxValue) return cutInHeader();
    const QvNetpbmHeader header{.kind = kind->digit,
                                .width = *width,
                                .height = *height,
                                .maxValue = *maxValue,
                                .pixelsStart = text.at(),
                                .misreadByFreeImage = text.misreadByFreeImage()};
    QvHeaderReading reading = netpbmReading(file, header, *kind);
    reading.facts = header;
    return reading;
}

QvHeaderReading qvReadPfm(std::span<const std::uint8_t> file)
{
    if (file.size() < 2 || file[0] != 'P' || (file[1] != 'F' && file[1] != 'f')) return notA("PFM");
    NetpbmText text(file, false);
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

QvRewrittenPicture qvRewriteNetpbm(std::span<const std::uint8_t> file, const QvHeaderReading& reading)
{
    const QvNetpbmHeader* header = std::get_if<QvNetpbmHeader>(&reading.facts);
    const auto kind =
        std::ranges::find(netpbmKinds, header != nullptr ? header->kind : '\0', &NetpbmKind::digit);
    if (kind == std::end(netpbmKinds) || !reading.size || header->pixelsStart > file.size()) return {};
    const std::size_t start = header->pixelsStart;
    const std::uint64_t count = times(times(header->width, header->height), kind->samples);
    const PlainSamples samples = kind->plain
                                     ? walkPlainSamples(file, start, count, kind->bitmap, [](Bytes) {})
                                     : PlainSamples{.asTheyAre = true};
    // Netpbm reads a bitmap's last digit at the end of the file, but not a
    // number's: FreeImage refuses that as netpbm does.
    const bool samplesMisread = !samples.asTheyAre && (samples.misread || (kind->bitmap && samples.endsFile));
    if (!header->misreadByFreeImage && !samplesMisread) return {};
    std::string text = fmt::format("P{}\n{} {}\n", kind->digit, header->width, header->height);
    if (!kind->bitmap) text += fmt::format("{}\n", header->maxValue);
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (samples.asTheyAre) {
        const std::uint64_t end =
            kind->plain ? file.size() : std::min<std::uint64_t>(pixelsEnd(*header, *kind), file.size());
        bytes.insert(bytes.end(), file.begin() + start, file.begin() + end);
        return {std::move(bytes), {}};
    }
    // Only the picture's own samples are copied, a space after each: whatever
    // follows them is no part of it, however long it runs.
    bytes.reserve(bytes.size() + std::min<std::uint64_t>(times(count, 5), file.size() - start) +
                  std::min<std::uint64_t>(count, file.size()));
    walkPlainSamples(file, start, count, kind->bitmap, [&](Bytes sample) {
        bytes.insert(bytes.end(), sample.begin(), sample.end());
        bytes.push_back(' ');
    });
    if (!kind->bitmap && samples.endsFile) bytes.pop_back();
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
