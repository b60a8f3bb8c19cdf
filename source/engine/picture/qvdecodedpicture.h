// qvdecodedpicture: what the program takes of a decoding child's result
// segment once the child has ended: the result header, copied once and
// checked in that copy; the rows, used in place where no other process holds
// the segment any longer; and the child's words, made printable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/picture/qvpicturedecode.h"
#include "engine/picture/qvsharedmemory.h"

// Rows of decoded pixels: in place, in a result segment that only this
// process still holds (its view read-only), or else a copy in this
// process's own memory.
class QvPixelRows {
public:
    QvPixelRows() = default;
    // The `size` bytes at `offset` of `segment`, used where they are.
    QvPixelRows(QvSharedMemory segment, std::size_t offset, std::size_t size);
    // A copy of `size` bytes at `from`; nothing when there is no memory for it.
    static std::optional<QvPixelRows> copyOf(const std::uint8_t* from, std::size_t size);

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    QvSharedMemory segment_;
    std::unique_ptr<std::uint8_t[]> copy_;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A picture decoded apart.
struct QvDecodedPicture {
    int width = 0;
    int height = 0;
    QvPixelRows rows;
    // What the decoder said of a picture it read all the same.
    std::string remarks;
};

// How one decoding ended: the picture, or why there is none; and how many
// decodings the decoder process ran when it started this one, itself
// included (0 when it started none).
struct QvDecodeOutcome {
    std::optional<QvDecodedPicture> picture;
    std::string error;
    std::size_t together = 0;
};

// The picture that a decoding child which finished left in its result
// `segment`, or why there is none. The result header is copied once into
// this process's memory and only that copy is read: a size other than the
// one the picture's header gave (`headerSize`), or where that gave none a
// side longer than `maxSide` or more than the largest picture's pixels,
// rows of another length than that size takes in `layout`, or more rows
// than the segment holds, are refused. The rows are used in place when no
// other process has the segment attached any longer (the view is then made
// read-only), and copied otherwise, so that what another writes later
// changes nothing. The child's words, which may quote the file, come back
// with their control characters and the bytes that are not UTF-8 written as
// \xNN (a newline as \n): printed, they start no line of their own and
// drive no terminal.
QvDecodeOutcome qvTakeDecodedPicture(QvSharedMemory segment, QvPixelLayout layout,
                                     std::optional<QvImageSize> headerSize, std::uint64_t maxSide);
