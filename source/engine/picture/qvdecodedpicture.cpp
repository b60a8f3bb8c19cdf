// qvdecodedpicture: a child's result taken: its header checked, its rows in
// place or copied, its words made printable.
#include "engine/picture/qvdecodedpicture.h"

#include "engine/picture/qvdecodercrossing.h"

#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include <sys/mman.h>

using namespace qvcrossing;

namespace {

// Bytes of the UTF-8 character at the start of `text`; 0 when none starts
// there (a stray byte, an overlong form, a surrogate, a code point past
// U+10FFFF, or one cut short).
std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return std::uint8_t(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text.size() < length) return 0;
    // The second byte's range rules out the overlong forms, the surrogates
    // and what lies past U+10FFFF.
    const std::uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const std::uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    return length;
}

// A child's words made safe to print: C0 and C1 controls, DEL and bytes that
// are not UTF-8 written as \xNN, a newline as \n.
std::string printableText(std::string_view text)
{
    std::string printable;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8Length(text.substr(at));
        const auto lead = std::uint8_t(text[at]);
        const bool control = length == 1 ? lead < 0x20 || lead == 0x7F
                                         : length == 2 && lead == 0xC2 && std::uint8_t(text[at + 1]) < 0xA0;
        if (length > 0 && !control) {
            printable.append(text.substr(at, length));
        } else {
            for (std::size_t i = at; i < at + std::max<std::size_t>(length, 1); ++i)
                printable +=
                    text[i] == '\n' ? std::string("\\n") : fmt::format("\\x{:02x}", std::uint8_t(text[i]));
        }
        at += std::max<std::size_t>(length, 1);
    }
    return printable;
}

}  // namespace

QvPixelRows::QvPixelRows(QvSharedMemory segment, std::size_t offset, std::size_t size)
    : segment_(std::move(segment)), data_(segment_.data() + offset), size_(size)
{
}

std::optional<QvPixelRows> QvPixelRows::copyOf(const std::uint8_t* from, std::size_t size)
{
    QvPixelRows rows;
    rows.copy_.reset(new (std::nothrow) std::uint8_t[size]);
    if (rows.copy_ == nullptr) return std::nullopt;
    std::memcpy(rows.copy_.get(), from, size);
    rows.data_ = rows.copy_.get();
    rows.size_ = size;
    return rows;
}

QvDecodeOutcome qvTakeDecodedPicture(QvSharedMemory segment, QvPixelLayout layout,
                                     std::optional<QvImageSize> headerSize, std::uint64_t maxSide)
{
    // Read once, into our own memory: the segment may change under us.
    ResultHeader header{};
    if (segment.size() < resultRowsAt) return {std::nullopt, "the picture decoder gave no result"};
    std::memcpy(&header, segment.data(), sizeof(header));
    const std::string name = decoderName(header.decoder);
    if (header.finished != 1) return {std::nullopt, fmt::format("{} stopped (status 0)", name)};
    std::string error = printableText(getText(header.error));
    if (!error.empty()) return {std::nullopt, std::move(error)};
    const QvImageSize size{std::uint64_t(std::int64_t(header.width)),
                           std::uint64_t(std::int64_t(header.height))};
    if (headerSize && (size.width != headerSize->width || size.height != headerSize->height))
        return {std::nullopt,
                fmt::format("{} gave a {}x{} picture, where its header says {}x{}", name, header.width,
                            header.height, headerSize->width, headerSize->height)};
    if (!headerSize && header.width > 0 && header.height > 0) {
        if (std::string problem = qvImageSizeProblem(size, maxSide); !problem.empty())
            return {std::nullopt,
                    fmt::format("{} gave a {}x{} picture: {}", name, header.width, header.height, problem)};
    }
    // Only the rows its size takes are read, whatever the child claims beyond.
    const std::size_t room = segment.size() - resultRowsAt;
    const std::size_t rowBytes = header.width > 0 ? qvRowBytes(layout, header.width) : 0;
    if (header.height <= 0 || rowBytes == 0 || std::size_t(header.height) > room / rowBytes ||
        header.rowBytes != rowBytes * std::size_t(header.height))
        return {std::nullopt,
                fmt::format("{} gave no rows of its {}x{} picture", name, header.width, header.height)};
    std::string remarks = printableText(getText(header.remarks));
    // Where no other process can write the rows any longer, they are read
    // in place, through a view that cannot write them either.
    const bool inPlace = segment.attachedOnlyHere();
    if (inPlace && !segment.seal()) return {std::nullopt, qvSharedMemoryProblem(errno)};
    // The child wrote the rows into pages this view has not mapped yet: one
    // call maps them all, where reading them would take a fault for every
    // few pages (a kernel before 5.14 refuses the advice, and the reads map
    // them as before).
    const std::uint8_t* rows = segment.data() + resultRowsAt;
    ::madvise(const_cast<std::uint8_t*>(rows), header.rowBytes, MADV_POPULATE_READ);
    if (inPlace) {
        return {QvDecodedPicture{header.width, header.height,
                                 QvPixelRows(std::move(segment), resultRowsAt, header.rowBytes),
                                 std::move(remarks)},
                {}};
    }
    std::optional<QvPixelRows> copy = QvPixelRows::copyOf(rows, header.rowBytes);
    if (!copy) return {std::nullopt, qvNoMemoryForPicture};
    return {QvDecodedPicture{header.width, header.height, std::move(*copy), std::move(remarks)}, {}};
}
