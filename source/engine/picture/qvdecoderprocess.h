// qvdecoderprocess: every picture decoded apart from the program. A small
// process, started from the program (forked while the program has one
// thread, later the program's own file run in a decoder role), forks a
// fresh child for each picture the program sends it, the program sending as
// many at once as its memory budget admits; the child attaches the bytes the
// program read into shared memory (never the path), runs FreeImage under
// limits of memory and processor time that follow from the picture its
// header describes, and writes the pixels into a second shared segment,
// whose header the program copies and checks, and whose rows it uses in
// place where no other process holds that segment any longer (a copy of
// them otherwise). A crash, an abort, a limit reached or a decoder that
// stops working becomes the picture's reason, and the program goes on as
// for any picture it cannot read; a decoder process that ends is started
// anew. The limits are qvdecoderlimits', the decoder process and its
// children qvdecoderserver's.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/picture/qvdecoderlimits.h"
#include "engine/picture/qvpicturedecode.h"
#include "engine/picture/qvpicturefile.h"
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

// Serves as the decoder process and never returns when `argv` asks for that
// role (the program's own file run by qvStartDecoderProcess); otherwise
// notes that this program knows the role. Call it in main before anything
// that starts a thread.
void qvEnterDecoderRoleIfAsked(int argc, char** argv);

// Starts the decoder process: forked while this process has one thread
// (call it before GLFW and the GL driver start theirs: forking is cheaper),
// later, a process with threads being unsafe to fork, by running this
// program's own file in the decoder role, where the program knows the role
// (qvEnterDecoderRoleIfAsked). True when it runs; while it runs later calls
// do nothing.
bool qvStartDecoderProcess();

// One picture to decode among others: a file already read, or the `path`
// of one, read only once its decoding is admitted; under its picture's own
// limits (qvDecoderLimits) unless others are given.
struct QvDecodeJob {
    const QvPictureFile* file = nullptr;
    QvDecodeRequest request;
    std::optional<QvDecoderLimits> limits;
    std::filesystem::path path;
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

// The most pictures decoded side by side.
inline constexpr std::size_t qvMostDecodedTogether = 8;
// Decodes the pictures side by side, each in a child of its own, at most
// qvMostDecodedTogether at once, and as many at once as fit the memory
// budget (qvDecodingBudget, of `room`, the live system's when none is
// given): the memory limits of the children running, and the segments this
// call holds (files it read, results reserved or kept), add up to no more.
// Pictures are admitted in order. One that comes when nothing else runs
// starts whatever its limit, unless its file and rows with the rows kept do
// not fit the budget: it is then refused for want of memory. A call of a
// single picture is held to no budget. Their outcomes in the same order. A
// picture whose header already rules it out (qvHeaderProblem) costs no
// child. A child that cannot be started is tried again when another ends.
// Should the decoder process end, the pictures it held are decoded once
// more in a new one.
std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs,
                                                   std::optional<QvMemoryRoom> room = std::nullopt);

// Decodes one picture file apart. Nothing, with the reason in `error`, when
// it cannot be decoded, its decoder crashed, reached a limit, stopped
// working or was killed, or the decoder process could not be started (the
// user's process limit leaves no room for it), is not running (and cannot
// be: this process has threads by now and its program does not know the
// decoder role) or has stopped.
std::optional<QvDecodedPicture> qvDecodeApart(const QvPictureFile& file, const QvDecodeRequest& request,
                                              std::string& error,
                                              std::optional<QvDecoderLimits> limits = std::nullopt);
// The same for bytes already in memory, whose name says the format `named`
// (FIF_UNKNOWN: it says none).
std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> bytes, FREE_IMAGE_FORMAT named,
                                              const QvDecodeRequest& request, std::string& error);
