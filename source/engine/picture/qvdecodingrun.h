// qvdecodingrun: pictures decoded side by side. The program admits them in
// order as one memory budget allows, sends each to the decoder process
// (qvdecoderprocess) with a fresh result segment, sends what a decoder
// process held once more should it end, and takes each result as its child
// ends (qvdecodedpicture).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "engine/picture/qvdecodedpicture.h"
#include "engine/picture/qvdecoderlimits.h"
#include "engine/picture/qvpicturedecode.h"
#include "engine/picture/qvpicturefile.h"

// One picture to decode among others: a file already read, or the `path`
// of one, read only once its decoding is admitted; under its picture's own
// limits (qvDecoderLimits) unless others are given.
struct QvDecodeJob {
    const QvPictureFile* file = nullptr;
    QvDecodeRequest request;
    std::optional<QvDecoderLimits> limits;
    std::filesystem::path path;
};
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
