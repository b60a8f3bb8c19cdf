// qvimageheader: picture sizes from the headers of GIF, DDS, SGI, JPEG 2000,
// IFF, MNG, WBMP, XBM, PICT and Koala files, each taken from the field that
// FreeImage's own reader allocates the picture by.
#include "engine/gl/qvimageheader.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <utility>

namespace {

using Bytes = std::span<const std::uint8_t>;

// A Commodore 64 Koala picture has one size; FreeImage reads any file as one.
constexpr QvImageSize koalaSize{320, 200};
constexpr std::uint64_t sgiMagic = 474;
constexpr std::uint64_t jpeg2000StartOfCodestream = 0xFF4F;
constexpr std::uint64_t jpeg2000ImageAndTileSize = 0xFF51;
constexpr std::array<std::uint8_t, 12> jp2Signature{0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::string_view mngSignature{"\x8aMNG\r\n\x1a\n", 8};
constexpr std::uint64_t gifExtension = 0x21;
constexpr std::uint64_t gifImageDescriptor = 0x2C;
constexpr std::size_t pictHeader = 512;
constexpr std::uint64_t pictVersionOp = 0x11;
// Bits, packed bits and direct bits, each clipped to a rectangle or a region.
constexpr std::array<std::uint64_t, 6> pictBitmapOpcodes{0x90, 0x91, 0x98, 0x99, 0x9A, 0x9B};
// XBM numbers past 32 bits wrap in FreeImage; held here at a size any
// limit refuses instead.
constexpr std::uint64_t xbmNumberCeiling = std::numeric_limits<std::uint32_t>::max();

// The four characters of a chunk or box type as one big-endian number.
constexpr std::uint64_t tag(const char (&name)[5])
{
    return std::uint64_t(std::uint8_t(name[0])) << 24 | std::uint64_t(std::uint8_t(name[1])) << 16 |
           std::uint64_t(std::uint8_t(name[2])) << 8 | std::uint64_t(std::uint8_t(name[3]));
}

// Reads fields in order. A read past the end of the file marks it cut short
// and gives 0, so a reader asks once, at its end, whether all was there.
class Cursor {
public:
    explicit Cursor(Bytes file, std::size_t at = 0)
        : file_(file), at_(std::min(at, file.size())), cut_(at > file.size())
    {
    }

    std::uint64_t be(int bytes) { return read(bytes, true); }
    std::uint64_t le(int bytes) { return read(bytes, false); }
    // A big-endian signed 16-bit field.
    std::int64_t be16Signed() { return static_cast<std::int16_t>(read(2, true)); }

    void skip(std::uint64_t bytes)
    {
        if (bytes > left()) {
            cut_ = true;
            bytes = left();
        }
        at_ += bytes;
    }

    // Whether the next bytes are `text`, consuming them.
    bool expect(std::string_view text)
    {
        const auto sameByte = [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; };
        if (text.size() > left() || !std::equal(text.begin(), text.end(), file_.begin() + at_, sameByte)) {
            return false;
        }
        at_ += text.size();
        return true;
    }

    std::size_t at() const { return at_; }
    std::size_t left() const { return file_.size() - at_; }
    bool cut() const { return cut_; }

private:
    std::uint64_t read(int bytes, bool bigEndian)
    {
        if (static_cast<std::size_t>(bytes) > left()) {
            skip(bytes);
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const std::uint64_t byte = file_[at_ + i];
            value = bigEndian ? value << 8 | byte : value | byte << (8 * i);
        }
        at_ += bytes;
        return value;
    }

    Bytes file_;
    std::size_t at_;
    bool cut_;
};

std::optional<QvImageSize> unlessCut(const Cursor& in, QvImageSize size)
{
    return in.cut() ? std::nullopt : std::optional(size);
}

// The larger of each side of two sizes, either of which may be missing.
std::optional<QvImageSize> larger(std::optional<QvImageSize> a, std::optional<QvImageSize> b)
{
    if (!a || !b) {
        return a ? a : b;
    }
    return QvImageSize{std::max(a->width, b->width), std::max(a->height, b->height)};
}

// Skips a chain of GIF data sub-blocks, ended by one of length 0.
void skipGifSubBlocks(Cursor& in)
{
    while (const std::uint64_t length = in.le(1)) {
        in.skip(length);
    }
}

// GIF: FreeImage allocates the first image's own size, or the logical screen
// when it plays the file back (a flag the loader tries): the larger of both.
std::optional<QvImageSize> gifSize(Bytes file)
{
    Cursor in(file);
    if (!in.expect("GIF")) {
        return std::nullopt;
    }
    in.skip(3);  // version
    const std::uint64_t screenWidth = in.le(2);
    const std::uint64_t screenHeight = in.le(2);
    const std::uint64_t flags = in.le(1);
    in.skip(2);  // background colour, pixel aspect
    if (flags & 0x80) {
        in.skip(3u << ((flags & 7) + 1));  // the global colour table
    }
    while (!in.cut()) {
        const std::uint64_t block = in.le(1);
        if (block == gifExtension) {
            in.skip(1);  // its label
            skipGifSubBlocks(in);
        } else if (block == gifImageDescriptor) {
            in.skip(4);  // left, top
            const std::uint64_t width = in.le(2);
            const std::uint64_t height = in.le(2);
            return unlessCut(in, {std::max(screenWidth, width), std::max(screenHeight, height)});
        } else {
            return std::nullopt;  // the trailer, or a stray byte, before any image
        }
    }
    return std::nullopt;
}

std::optional<QvImageSize> ddsSize(Bytes file)
{
    Cursor in(file);
    if (!in.expect("DDS ")) {
        return std::nullopt;
    }
    in.skip(8);  // header size, flags
    const std::uint64_t height = in.le(4);
    const std::uint64_t width = in.le(4);
    return unlessCut(in, {width, height});
}

std::optional<QvImageSize> sgiSize(Bytes file)
{
    Cursor in(file);
    if (in.be(2) != sgiMagic) {
        return std::nullopt;
    }
    in.skip(2);  // storage, bytes per channel
    const std::uint64_t dimension = in.be(2);
    const std::uint64_t width = in.be(2);
    const std::uint64_t height = in.be(2);
    // A picture of fewer than two dimensions is one row, whatever ysize says.
    return unlessCut(in, {width, dimension < 2 ? 1 : height});
}

// A JPEG 2000 codestream: its SIZ segment follows the start marker, and the
// picture is the reference grid less the image offset.
std::optional<QvImageSize> codestreamSize(Bytes file)
{
    Cursor in(file);
    if (in.be(2) != jpeg2000StartOfCodestream || in.be(2) != jpeg2000ImageAndTileSize) {
        return std::nullopt;
    }
    in.skip(4);  // segment length, capabilities
    const std::uint64_t gridWidth = in.be(4);
    const std::uint64_t gridHeight = in.be(4);
    const std::uint64_t left = in.be(4);
    const std::uint64_t top = in.be(4);
    if (in.cut() || left > gridWidth || top > gridHeight) {
        return std::nullopt;
    }
    return QvImageSize{gridWidth - left, gridHeight - top};
}

// Calls visit(type, contents) for each JP2 box of `file` until it returns
// true. A box running past the end of the file is handed what there is of it.
template <class Visit>
void forEachBox(Bytes file, Visit visit)
{
    Cursor in(file);
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
        if (in.cut() || length < header) {
            return;
        }
        const std::size_t contents = std::min<std::uint64_t>(length - header, in.left());
        if (visit(type, file.subspan(in.at(), contents))) {
            return;
        }
        in.skip(length - header);
    }
}

// JP2: the image header box gives height, then width; OpenJPEG refuses a
// codestream of another size, so where both are there the larger is safe.
std::optional<QvImageSize> jp2Size(Bytes file)
{
    if (file.size() < jp2Signature.size() || !std::equal(jp2Signature.begin(), jp2Signature.end(), file.begin())) {
        return std::nullopt;
    }
    std::optional<QvImageSize> header;
    std::optional<QvImageSize> codestream;
    forEachBox(file, [&](std::uint64_t type, Bytes contents) {
        if (type == tag("jp2h")) {
            forEachBox(contents, [&](std::uint64_t innerType, Bytes inner) {
                if (innerType != tag("ihdr")) {
                    return false;
                }
                Cursor in(inner);
                const std::uint64_t height = in.be(4);
                const std::uint64_t width = in.be(4);
                header = unlessCut(in, {width, height});
                return true;
            });
        } else if (type == tag("jp2c")) {
            codestream = codestreamSize(contents);
            return true;
        }
        return false;
    });
    return larger(header, codestream);
}

// IFF (ILBM, PBM): the bitmap header chunk, before the pixels.
std::optional<QvImageSize> iffSize(Bytes file)
{
    Cursor in(file);
    if (!in.expect("FORM")) {
        return std::nullopt;
    }
    in.skip(8);  // form length and type
    while (in.left() > 0) {
        const std::uint64_t id = in.be(4);
        const std::uint64_t length = in.be(4);
        if (id == tag("BMHD")) {
            const std::uint64_t width = in.be(2);
            const std::uint64_t height = in.be(2);
            return unlessCut(in, {width, height});
        }
        if (id == tag("BODY")) {
            return std::nullopt;
        }
        in.skip(length + (length & 1));  // chunks are padded to an even length
    }
    return std::nullopt;
}

// MNG: FreeImage decodes the first PNG or JNG inside at that image's own
// size, whatever frame size the MNG header gives.
std::optional<QvImageSize> mngSize(Bytes file)
{
    Cursor in(file);
    if (!in.expect(mngSignature)) {
        return std::nullopt;
    }
    while (in.left() > 0) {
        const std::uint64_t length = in.be(4);
        const std::uint64_t type = in.be(4);
        if (type == tag("IHDR") || type == tag("JHDR")) {
            const std::uint64_t width = in.be(4);
            const std::uint64_t height = in.be(4);
            return unlessCut(in, {width, height});
        }
        if (type == tag("MEND")) {
            return std::nullopt;
        }
        in.skip(length + 4);  // data and checksum
    }
    return std::nullopt;
}

// A WBMP number: 7 bits a byte, the high bit set on all but the last.
// FreeImage keeps it in 16 bits, so a longer one wraps here as there.
std::uint64_t wbmpNumber(Cursor& in)
{
    std::uint16_t value = 0;
    for (std::uint64_t byte = 0x80; (byte & 0x80) && !in.cut();) {
        byte = in.le(1);
        value = static_cast<std::uint16_t>(value << 7 | (byte & 0x7F));
    }
    return value;
}

std::optional<QvImageSize> wbmpSize(Bytes file)
{
    Cursor in(file);
    if (wbmpNumber(in) != 0) {
        return std::nullopt;  // type 0 is the only type there is
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
    return unlessCut(in, {width, height});
}

// The name and the number's size of a "#define NAME [+-]DIGITS" line, read as
// FreeImage's scan reads it; nothing for any other line.
std::optional<std::pair<std::string_view, std::uint64_t>> xbmDefine(std::string_view line)
{
    constexpr std::string_view keyword = "#define";
    constexpr std::string_view blanks = " \t\r\v\f";
    if (!line.starts_with(keyword)) {
        return std::nullopt;
    }
    line.remove_prefix(std::min(line.find_first_not_of(blanks, keyword.size()), line.size()));
    const std::string_view name = line.substr(0, line.find_first_of(blanks));
    line.remove_prefix(name.size());
    line.remove_prefix(std::min(line.find_first_not_of(blanks), line.size()));
    if (!line.empty() && (line.front() == '+' || line.front() == '-')) {
        line.remove_prefix(1);
    }
    if (name.empty() || line.empty() || line.front() < '0' || line.front() > '9') {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        value = std::min<std::uint64_t>(value * 10 + std::uint64_t(line[i] - '0'), xbmNumberCeiling);
    }
    return std::pair(name, value);
}

// XBM: the "#define <name>_width N" and "_height N" lines before the line
// starting "static" that opens the bits; a later line overrides an earlier.
std::optional<QvImageSize> xbmSize(Bytes file)
{
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    std::optional<std::uint64_t> width;
    std::optional<std::uint64_t> height;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.starts_with("static")) {
            return width && height ? std::optional(QvImageSize{*width, *height}) : std::nullopt;
        }
        if (const auto define = xbmDefine(line)) {
            // FreeImage compares what follows the name's last underscore.
            const std::string_view field = define->first.substr(define->first.rfind('_') + 1);
            if (field == "width") {
                width = define->second;
            } else if (field == "height") {
                height = define->second;
            }
        }
    }
    return std::nullopt;
}

// The bytes that follow a PICT opcode, reading any length field it has;
// nothing for the end of the picture and for what cannot be stepped over
// here (pixel patterns, QuickTime pictures, whose size their own codec holds).
std::optional<std::uint64_t> pictOperandLength(Cursor& in, std::uint64_t opcode)
{
    // Fixed operand lengths of opcodes 0x00 to 0x23; -1 for the variable ones.
    constexpr std::array<int, 0x24> fixedLengths{0, -1, 8, 2, 1, 2, 4, 4, 2, 8, 8, 4, 4, 2, 4, 4, 8, 1,
                                                 -1, -1, -1, 2, 2, 0, 0, 0, 6, 6, 0, 6, 0, 6, 8, 4, 6, 2};
    // Operand lengths of the shape opcodes 0x30 to 0x6F, eight to a shape:
    // rect, same rect, round rect, same, oval, same, arc, same arc.
    constexpr std::array<int, 8> shapeLengths{8, 0, 8, 0, 8, 0, 12, 4};
    if (opcode == 0x01 || (opcode >= 0x70 && opcode <= 0x87 && (opcode & 0x08) == 0)) {
        const std::uint64_t size = in.be(2);  // a region or polygon, its size word included
        return size >= 2 ? std::optional(size - 2) : std::nullopt;
    }
    if (opcode < fixedLengths.size()) {
        return fixedLengths[opcode] < 0 ? std::nullopt : std::optional<std::uint64_t>(fixedLengths[opcode]);
    }
    if (opcode >= 0x28 && opcode <= 0x2B) {  // text: its position, then counted characters
        constexpr std::array<int, 4> positionBytes{4, 1, 1, 2};
        in.skip(positionBytes[opcode - 0x28]);
        return in.be(1);
    }
    if (opcode >= 0x30 && opcode <= 0x6F) {
        return shapeLengths[(opcode - 0x30) / 8];
    }
    if (opcode >= 0x70 && opcode <= 0x8F) {
        return 0;  // the "same polygon" and "same region" opcodes
    }
    if (opcode == 0xA0) {
        return 2;  // short comment
    }
    if (opcode == 0xA1) {
        in.skip(2);  // long comment: its kind, then counted bytes
        return in.be(2);
    }
    if ((opcode >= 0x24 && opcode <= 0x2F) || (opcode >= 0x92 && opcode <= 0xAF)) {
        return in.be(2);  // reserved, with a 16-bit length
    }
    if ((opcode >= 0xB0 && opcode <= 0xCF) || (opcode >= 0x8000 && opcode <= 0x80FF)) {
        return 0;
    }
    if (opcode >= 0x0100 && opcode <= 0x7FFF) {
        return 2 * (opcode >> 8);  // reserved, two bytes for each of the high byte
    }
    if ((opcode >= 0xD0 && opcode <= 0xFE) || (opcode >= 0x8100 && opcode <= 0xFFFE && opcode != 0x8200 &&
                                               opcode != 0x8201)) {
        return in.be(4);  // reserved, with a 32-bit length
    }
    return std::nullopt;
}

// PICT: FreeImage allocates the bounds of the first bitmap or pixel map the
// picture draws, not its frame, so the opcodes before that one are walked.
std::optional<QvImageSize> pictSize(Bytes file)
{
    Cursor in(file, pictHeader);
    in.skip(10);  // picture size and frame, which FreeImage does not use
    std::uint64_t byte = 0;
    while ((byte = in.be(1)) == 0 && !in.cut()) {
    }
    const std::uint64_t version = in.be(1);
    if (byte != pictVersionOp || (version != 1 && version != 2) || (version == 2 && in.be(1) != 0xFF)) {
        return std::nullopt;
    }
    const int opcodeBytes = static_cast<int>(version);
    while (!in.cut()) {
        if (version == 2 && in.at() % 2 != 0) {
            in.skip(1);  // version 2 opcodes are word aligned
        }
        const std::uint64_t opcode = in.be(opcodeBytes);
        if (std::ranges::find(pictBitmapOpcodes, opcode) != pictBitmapOpcodes.end()) {
            in.skip(opcode >= 0x9A ? 4 + 2 : 2);  // base address of direct pixels, row bytes
            const std::int64_t top = in.be16Signed();
            const std::int64_t left = in.be16Signed();
            const std::int64_t bottom = in.be16Signed();
            const std::int64_t right = in.be16Signed();
            // FreeImage takes the extent either way round.
            return unlessCut(in, {std::uint64_t(std::abs(right - left)), std::uint64_t(std::abs(bottom - top))});
        }
        const std::optional<std::uint64_t> length = pictOperandLength(in, opcode);
        if (!length) {
            return std::nullopt;
        }
        in.skip(*length);
    }
    return std::nullopt;
}

}  // namespace

std::optional<QvImageSize> qvHeaderImageSize(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file)
{
    switch (format) {
    case FIF_GIF:
        return gifSize(file);
    case FIF_DDS:
        return ddsSize(file);
    case FIF_SGI:
        return sgiSize(file);
    case FIF_J2K:
        return codestreamSize(file);
    case FIF_JP2:
        return jp2Size(file);
    case FIF_IFF:  // also FIF_LBM
        return iffSize(file);
    case FIF_MNG:
        return mngSize(file);
    case FIF_WBMP:
        return wbmpSize(file);
    case FIF_XBM:
        return xbmSize(file);
    case FIF_PICT:
        return pictSize(file);
    case FIF_KOALA:
        return koalaSize;
    default:
        return std::nullopt;
    }
}
