// qvdecoderlimits: what one picture's decoding may take, from what its
// header says, and what all the decodings side by side may take together,
// from what the system has left to give.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "engine/picture/qvimageheader.h"

// What one picture's decoding may take.
struct QvDecoderLimits {
    // Processor time of the picture's child, all the flag values it tries
    // together (a picture sent again to a new decoder process starts afresh).
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
// a part in proportion to the file, as its format's row measured what each
// file MiB costs.
QvDecoderLimits qvDecoderLimits(FREE_IMAGE_FORMAT format, const QvHeaderReading& header,
                                std::size_t fileBytes);

#if defined(__SANITIZE_ADDRESS__)
// What the sanitizer build's child gets beyond its limits: our instrumented
// code runs several times slower, and the sanitizer's allocator keeps freed
// memory in quarantine for a while.
inline constexpr double qvInstrumentedCpu = 3;
inline constexpr double qvInstrumentedMemory = 2;
#else
inline constexpr double qvInstrumentedCpu = 1;
inline constexpr double qvInstrumentedMemory = 1;
#endif
// The limits a child of this build is held to, and so the figures its lines
// name: `limits`, with the sanitizer build's processor time and memory more.
QvDecoderLimits qvHeldLimits(const QvDecoderLimits& limits);

// The memory side-by-side decodings may take together: the memory limits of
// the children running at once and the segments the program holds for them
// (their files and results, the rows it keeps) add up to no more. A picture
// decoded while no other runs is held to it by its segments only, and a call
// of a single picture not at all (qvDecodeApartTogether).
inline constexpr std::uint64_t qvUsualDecodingBudget = std::uint64_t(2) << 30;

// What the system has left to give, each figure in bytes; nothing where it
// sets no bound.
struct QvMemoryRoom {
    // MemAvailable of /proc/meminfo.
    std::optional<std::uint64_t> available;
    // The least that this process's control group and its ancestors still
    // allow: memory.max less memory.current under cgroup v2,
    // memory.limit_in_bytes less memory.usage_in_bytes under v1's memory
    // controller (the less of the two where both tell), each use less the
    // page cache that the group's memory.stat counts (active and inactive
    // file), which the kernel takes back before it refuses the group memory.
    std::optional<std::uint64_t> controlGroup;
    // The user's soft limit of address space (RLIMIT_AS).
    std::optional<std::uint64_t> addressSpace;
};
// What the live system has left to give, as the files under `root` tell
// (its /proc, and the control group hierarchies its mounts name).
QvMemoryRoom qvReadMemoryRoom(const std::filesystem::path& root = "/");
// The budget of decodings side by side whose largest memory limit is `largestLimit`:
// qvUsualDecodingBudget, or that limit where it alone is larger, and no
// more than any figure of the room.
std::uint64_t qvDecodingBudget(std::uint64_t largestLimit, const QvMemoryRoom& room);
