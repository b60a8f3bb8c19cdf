// qvdecoderprocess: every picture decoded apart from the program. A small
// process, started from the program (forked while the program has one
// thread, later the program's own file run in a decoder role), forks a
// fresh child for each picture, as many at once as one memory budget
// holds; the child attaches the bytes the program read into shared memory
// (never the path), runs FreeImage under limits of memory and processor
// time that follow from the picture its header describes, and writes the
// pixels into a second shared segment, which the program copies into its
// own memory and checks there. A crash, an abort, a limit reached or a
// decoder that stops working becomes the picture's reason, and the program
// goes on as for any picture it cannot read; a decoder process that ends is
// started anew. The limits are qvdecoderlimits', the decoder process and its
// children qvdecoderserver's.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/picture/qvdecoderlimits.h"
#include "engine/picture/qvpicturedecode.h"
#include "engine/picture/qvpicturefile.h"

// Rows of decoded pixels, in memory of this process's own.
class QvPixelRows {
public:
    QvPixelRows() = default;
    // A copy of `size` bytes at `from`.
    QvPixelRows(const std::uint8_t* from, std::size_t size);

    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<std::uint8_t[]> data_;
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

// Serves as the decoder process and never returns when `argv` asks for that
// role (the program's own file run by qvStartDecoderProcess); otherwise
// notes that this program knows the role. Call it first thing in main.
void qvEnterDecoderRoleIfAsked(int argc, char** argv);

// Starts the decoder process: forked while this process has one thread
// (call it before GLFW and the GL driver start theirs: forking is cheaper),
// later, a process with threads being unsafe to fork, by running this
// program's own file in the decoder role, where the program knows the role
// (qvEnterDecoderRoleIfAsked). True when it runs; while it runs later calls
// do nothing.
bool qvStartDecoderProcess();

// One picture to decode among others, under its picture's own limits
// (qvDecoderLimits) unless others are given.
struct QvDecodeJob {
    const QvPictureFile* file = nullptr;
    QvDecodeRequest request;
    std::optional<QvDecoderLimits> limits;
};
// How one decoding ended: the picture, or why there is none.
struct QvDecodeOutcome {
    std::optional<QvDecodedPicture> picture;
    std::string error;
};

// What a decoding child hands back: this header at the start of its result
// segment, then, from qvResultRowsAt on, the rows.
struct QvResultHeader {
    // The FreeImage format whose decoder runs now; FIF_UNKNOWN, as the
    // program makes the segment, before any.
    std::int32_t decoder;
    // Set once everything below is written.
    std::int32_t finished;
    std::int32_t width;
    std::int32_t height;
    std::uint64_t rowBytes;
    // Empty once the rows are written.
    char error[4096];
    char remarks[4096];
    // Why the child decodes without its system-call filter (qvdecodersandbox):
    // the errno with which the kernel refused it; 0 under the filter.
    std::int32_t filterRefusal;
};
// Page aligned, so the rows start on a page of their own.
inline constexpr std::size_t qvResultRowsAt = 16384;

// The picture that a decoding child which finished left in its result
// `segment`, or why there is none. The header is copied once into this
// process's memory and only that copy is read: a size other than the one
// the picture's header gave (`headerSize`, when it gave one), rows of
// another length than that size takes in `layout`, or more rows than the
// segment holds, are refused; the rows are then copied, so that what the
// child (or a process it left behind) writes later changes nothing. The
// child's words, which may quote the file, come back with their control
// characters and the bytes that are not UTF-8 written as \xNN (a newline
// as \n): printed, they start no line of their own and drive no terminal.
QvDecodeOutcome qvTakeDecodedPicture(std::span<const std::uint8_t> segment, QvPixelLayout layout,
                                     std::optional<QvImageSize> headerSize);

// The most pictures decoded side by side.
inline constexpr std::size_t qvMostDecodedTogether = 8;
// Decodes the pictures side by side, each in a child of its own, at most
// qvMostDecodedTogether in a batch, and of a batch as many at once as their
// memory limits fit the budget (qvDecodingBudget; one always runs); their
// outcomes in the same order. A picture whose header already rules it out
// (qvHeaderProblem) costs no child. Should the decoder process end while it
// holds a batch, the batch is decoded once more in a new one.
std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs);

// Decodes one picture file apart. Nothing, with the reason in `error`, when
// it cannot be decoded, its decoder crashed, reached a limit, stopped
// working or was killed, or the decoder process is not running (and cannot
// be started: this process has threads by now and its program does not
// know the decoder role) or has stopped.
std::optional<QvDecodedPicture> qvDecodeApart(const QvPictureFile& file, const QvDecodeRequest& request,
                                              std::string& error,
                                              std::optional<QvDecoderLimits> limits = std::nullopt);
// The same for bytes already in memory, whose name says the format `named`
// (FIF_UNKNOWN: it says none).
std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> bytes, FREE_IMAGE_FORMAT named,
                                              const QvDecodeRequest& request, std::string& error);
