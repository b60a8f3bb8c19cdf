// qvdecoderprocess: every picture decoded apart from the program. A small
// process, forked from the program before any thread runs, forks a fresh
// child for each picture; the child gets the bytes the program already read
// (never the path), runs FreeImage under a memory and a time limit, and hands
// the pixels back in shared memory. A crash, an abort, a time-out or
// exhausted memory in the child becomes the picture's reason, and the program
// goes on as for any picture it cannot read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/picture/qvpicturedecode.h"

// What one picture's decoding may take.
struct QvDecoderLimits {
    // Processor time, all attempts of the picture together.
    double cpuSeconds = 0;
    // Time on the clock, a backstop for a decoder that waits instead of working.
    double wallSeconds = 0;
    // Address space the child may add to what it maps when it starts.
    std::uint64_t memoryBytes = 0;
};

// The limits for a picture file of that many bytes. A small file may claim a
// large picture; a larger one may hold more work, and gets more in proportion.
QvDecoderLimits qvDecoderLimits(std::size_t fileBytes);

// Rows of decoded pixels, held in the memory the decoding child shared.
class QvPixelRows {
public:
    QvPixelRows() = default;
    ~QvPixelRows();
    QvPixelRows(QvPixelRows&& other) noexcept;
    QvPixelRows& operator=(QvPixelRows&& other) noexcept;
    QvPixelRows(const QvPixelRows&) = delete;
    QvPixelRows& operator=(const QvPixelRows&) = delete;

    const std::uint8_t* data() const { return size_ == 0 ? nullptr : mapping_ + offset_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

private:
    friend class QvDecoderClient;
    QvPixelRows(std::uint8_t* mapping, std::size_t mappingBytes, std::size_t offset, std::size_t size);

    std::uint8_t* mapping_ = nullptr;
    std::size_t mappingBytes_ = 0;
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
    // FreeImage loads it took.
    int attempts = 0;
};

// Starts the decoder process. Call it before any other thread starts (before
// GLFW and the GL driver): a process with threads cannot safely fork. Later
// calls do nothing; false when it could not start.
bool qvStartDecoderProcess();

// Decodes a picture file's bytes in a fresh child of the decoder process
// under qvDecoderLimits. Nothing, with the reason in `error`, when the
// picture cannot be decoded, its decoder crashed, ran out of time or memory,
// or the decoder process is not running (and cannot be started, because
// this process has threads by now).
std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> file,
                                              const QvDecodeRequest& request, std::string& error);
// The same under other limits.
std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> file,
                                              const QvDecodeRequest& request, std::string& error,
                                              const QvDecoderLimits& limits);

// The most pictures decoded side by side.
inline constexpr std::size_t qvMostDecodedTogether = 8;

// One picture to decode among others.
struct QvDecodeJob {
    std::span<const std::uint8_t> file;
    QvDecodeRequest request;
    QvDecoderLimits limits;
};
// How one decoding ended: the picture, or why there is none.
struct QvDecodeOutcome {
    std::optional<QvDecodedPicture> picture;
    std::string error;
};
// Decodes the pictures side by side, each in a child of its own under its
// limits, qvMostDecodedTogether at a time; their outcomes in the same order.
std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs);
