// qvdecodercrossing: what crosses between the program and the decoder
// process, for both sides of it (qvdecoderprocess, qvdecoderserver): a
// request for one picture, naming two shared segments (the picture's bytes,
// and the result the child writes: a result header, then rows); how each
// child ended, naming its request, and the words for it; the process names,
// the role argument and the clock both sides count time by.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "engine/picture/qvdecoderlimits.h"
#include "engine/picture/qvpicturedecode.h"

namespace qvcrossing {

// What a decoding child hands back: this header at the start of its result
// segment, then, from resultRowsAt on, the rows.
struct ResultHeader {
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
};
// Page aligned, so the rows start on a page of their own.
inline constexpr std::size_t resultRowsAt = 16384;
static_assert(sizeof(ResultHeader) <= resultRowsAt);

// What the program sends for one picture: which request it is, what is
// asked, the picture's format and size as the program read them, its
// limits, and its segments.
struct Request {
    // Numbers the program's requests, so that an ending names its own.
    std::uint64_t id;
    QvDecodeRequest decode;
    QvDecoderLimits limits;
    std::int32_t format;
    std::uint8_t sized;
    std::uint64_t width;
    std::uint64_t height;
    // Why the bytes are not of that format, when they are not (a fatal
    // problem never gets here).
    char notOfFormat[512];
    // What the header reading found for the format's rewrite and fix-ups.
    QvFormatFacts facts;
    std::int32_t fileSegment;
    std::uint64_t fileBytes;
    std::int32_t resultSegment;
    std::uint64_t resultBytes;
};
static_assert(std::is_trivially_copyable_v<Request>);

// How a child ended: its wait status (-1 when it could not be forked), and
// whether the decoder process ended it, for doing no work or for working on
// past its processor time (a child that blocked its timer's signal).
struct Ending {
    int status;
    std::int32_t stalled;
    std::int32_t overran;
};
// The decoder process's word that the child of request `id` has ended, and
// how many of its children ran when it started that one, itself included.
struct Ended {
    std::uint64_t id;
    Ending ending;
    std::uint32_t together;
};
// The decoder process's first words: who it is, so that the program can end
// it should it stop answering; and whether its children decode under their
// system-call filter (qvdecodersandbox), as it learnt from a child of its own
// that set it: that child's wait status, its exit status the errno with
// which the kernel refused the filter.
struct Hello {
    pid_t decoder;
    std::int32_t filterTrial;
};
// Between them it says that it is alive, in one byte.
using Alive = char;
static_assert(sizeof(Hello) != sizeof(Alive) && sizeof(Ended) != sizeof(Hello) &&
              sizeof(Ended) != sizeof(Alive));

// How the decoder process and its children show in a process list.
inline constexpr char decoderProcessName[] = "qvdecoder";
inline constexpr char decodingChildName[] = "qvdecoding";
inline constexpr char filterTrialName[] = "qvfiltertrial";
// The argument that runs the program's own file as the decoder process,
// followed by the number of the socket it inherits.
inline constexpr std::string_view decoderRole = "--picture-decoder-socket=";

// Time is counted in slices: a wait that overslept (the process was stopped,
// or not scheduled) counts one slice only.
inline constexpr int sliceMs = 100;

// Sends `bytes` of `data`; false when the peer is gone.
bool sendAll(int socket, const void* data, std::size_t bytes);
// Receives one message into `data`; the bytes received, or nothing when the
// peer is gone or sent more than fits.
std::optional<std::size_t> receive(int socket, void* data, std::size_t bytes);

// Counts time in capped slices (see sliceMs) until a deadline: time in
// which this process itself was stopped or not scheduled counts one slice.
class AwakeClock {
public:
    explicit AwakeClock(double seconds) : seconds_(seconds) { restart(); }
    void restart()
    {
        left_ = std::chrono::duration<double>(seconds_);
        last_ = std::chrono::steady_clock::now();
    }
    // Counts the time since the last call; false once the deadline is passed.
    bool tick()
    {
        const auto now = std::chrono::steady_clock::now();
        left_ -= std::min<std::chrono::duration<double>>(now - last_, std::chrono::milliseconds(sliceMs));
        last_ = now;
        return left_.count() > 0;
    }

private:
    double seconds_;
    std::chrono::duration<double> left_{};
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// Copies a text into a fixed field, cut to fit.
template <std::size_t N>
void putText(char (&field)[N], const std::string& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}
// The text of a fixed field, which need not end in a zero.
template <std::size_t N>
std::string getText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

// "the TIFF decoder", or the decoding as a whole before any decoder ran.
std::string decoderName(std::int32_t format);
// Seconds as a person would write them: "1.5", "0.002".
std::string secondsText(double seconds);
// Why decoders run without their system-call filter, after a trial of it
// that ended so: "the kernel refused it (Invalid argument)"; empty where it
// holds.
std::string filterRefusal(int trial);
// Why a child that ended so left no result, `decoder` being the decoder it
// ran last and `limits` those it ran under.
std::string endReason(const Ending& ending, std::int32_t decoder, const QvDecoderLimits& limits);

}  // namespace qvcrossing
