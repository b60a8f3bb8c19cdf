// qvdecoderprocess: every picture decoded apart from the program. A small
// process, started from the program before any thread runs, forks a fresh
// child for each picture; the child attaches the bytes the program read into
// shared memory (never the path), runs FreeImage under limits of memory and
// processor time that follow from the picture its header describes, and
// writes the pixels into a second shared segment. A crash, an abort, a limit
// reached or a decoder that stops working becomes the picture's reason, and
// the program goes on as for any picture it cannot read.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/picture/qvpicturedecode.h"
#include "engine/picture/qvpicturefile.h"
#include "engine/picture/qvsharedmemory.h"

// What one picture's decoding may take.
struct QvDecoderLimits {
    // Processor time, all attempts of the picture together.
    double cpuSeconds = 0;
    // Time on the clock a decoder may go without working (stopped, or
    // waiting on something), counted only while the decoder process itself
    // runs: decoding bytes in memory never waits, so only a decoder that no
    // longer works reaches it, however busy the machine.
    double stalledSeconds = 0;
    // Address space the child may add to what it has mapped when it starts
    // (the shared picture and rows among that).
    std::uint64_t memoryBytes = 0;
};

// What decoding a picture of `format` whose header reads `header`, from a
// file of `fileBytes`, may take: the memory and work of its pixels as its
// decoder holds them (the format's largest kind and the largest picture
// where the header does not tell), with room for the decoder's tables, and
// for codings whose work grows with their data (JPEG's scans, JPEG 2000) a
// part in proportion to the file.
QvDecoderLimits qvDecoderLimits(FREE_IMAGE_FORMAT format, const QvHeaderReading& header,
                                std::size_t fileBytes);

// Rows of decoded pixels, held in the memory the decoding child shared.
class QvPixelRows {
public:
    QvPixelRows() = default;
    QvPixelRows(QvSharedMemory memory, std::size_t offset, std::size_t size)
        : memory_(std::move(memory)), offset_(offset), size_(size)
    {
    }

    const std::uint8_t* data() const { return memory_.data() + offset_; }
    std::size_t size() const { return size_; }

private:
    QvSharedMemory memory_;
    std::size_t offset_ = 0;
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

// Starts the decoder process. Call it before any other thread starts (before
// GLFW and the GL driver): a process with threads cannot safely fork. True
// when it runs; while it runs later calls do nothing, and after it failed to
// start or stopped a call starts it again, whatever threads this process has
// by then: a decoding restarts it only while this process has one thread.
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
// The most pictures decoded side by side.
inline constexpr std::size_t qvMostDecodedTogether = 8;
// Decodes the pictures side by side, each in a child of its own,
// qvMostDecodedTogether at a time; their outcomes in the same order. A
// picture whose header already rules it out (qvHeaderProblem) costs no child.
std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs);

// Decodes one picture file apart. Nothing, with the reason in `error`, when
// it cannot be decoded, its decoder crashed, reached a limit or stopped
// working, or the decoder process is not running (and cannot be started,
// because this process has threads by now).
std::optional<QvDecodedPicture> qvDecodeApart(const QvPictureFile& file, const QvDecodeRequest& request,
                                              std::string& error,
                                              std::optional<QvDecoderLimits> limits = std::nullopt);
// The same for bytes already in memory, whose name says the format `named`
// (FIF_UNKNOWN: it says none).
std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> bytes, FREE_IMAGE_FORMAT named,
                                              const QvDecodeRequest& request, std::string& error);
