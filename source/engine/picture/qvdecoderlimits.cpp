// qvdecoderlimits: a decoding's limits from the measured costs of its
// format's row, and the decodings' shared budget from /proc and the control
// group this process is in.
#include "engine/picture/qvdecoderlimits.h"

#include "engine/picture/qvformattable.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include <sys/resource.h>

namespace {

// ---- limits ---------------------------------------------------------------

// The decoders' tables, the libraries' own buffers and our code's.
constexpr double tableMemory = 64 << 20;
// Beyond its bitmap a picture is held once more as 24-bit RGB while it is
// converted, and floating point once more as the tone mapper's working copy.
constexpr double convertedBytesPerPixel = 3;
constexpr double floatWorkBytesPerPixel = 12;
// Room above what the largest pictures measured.
constexpr double memoryMargin = 1.25;
// Processor time for each byte of pixels handled, and room above it: a
// slower machine than the one measured still decodes every valid picture.
constexpr double cpuSecondsPerPixelByte = 0.006e-6;
constexpr double cpuMargin = 3;
constexpr double cpuSecondsLeast = 1;
// Decoding bytes in memory never waits: a decoder that has not worked for
// this long no longer works.
constexpr double stalledSecondsDefault = 20;

// Samples of a pixel of `bits`: 8-bit samples up to 32 bits, 16-bit ones
// above (48 is RGB16, 64 RGBA16), 32-bit floats from 96 on.
double samplesOf(double bits)
{
    return bits <= 32 ? std::max(1.0, bits / 8) : bits < 96 ? bits / 16 : bits / 32;
}

// ---- the system's memory --------------------------------------------------

// MemAvailable of /proc/meminfo, in bytes.
std::optional<std::uint64_t> availableMemory()
{
    std::ifstream meminfo("/proc/meminfo");
    for (std::string name; meminfo >> name;) {
        std::uint64_t kib = 0;
        if (!(meminfo >> kib)) break;
        if (name == "MemAvailable:") return kib << 10;
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return std::nullopt;
}

// Where the cgroup v2 hierarchy is mounted; empty when it is not.
std::filesystem::path controlGroupMount()
{
    std::ifstream mounts("/proc/self/mounts");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string device, point, type;
        if (fields >> device >> point >> type && type == "cgroup2") return point;
    }
    return {};
}

// A control group's figure; nothing where its file is missing or says "max".
std::optional<std::uint64_t> groupFigure(const std::filesystem::path& file)
{
    std::uint64_t figure = 0;
    if (std::ifstream(file) >> figure) return figure;
    return std::nullopt;
}

// The least room that this process's control group and its ancestors leave
// (memory.max less memory.current); nothing when none has a limit.
std::optional<std::uint64_t> controlGroupRoom()
{
    const std::filesystem::path mount = controlGroupMount();
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    while (std::getline(groups, line) && !line.starts_with("0::")) {}
    if (mount.empty() || !line.starts_with("0::")) return std::nullopt;
    std::optional<std::uint64_t> least;
    for (std::filesystem::path group = line.substr(3);; group = group.parent_path()) {
        const std::filesystem::path folder = mount / group.relative_path();
        const std::optional<std::uint64_t> most = groupFigure(folder / "memory.max");
        const std::uint64_t used = groupFigure(folder / "memory.current").value_or(0);
        if (most) least = std::min(least.value_or(*most), *most > used ? *most - used : 0);
        if (group == group.parent_path()) break;
    }
    return least;
}

}  // namespace

QvDecoderLimits qvDecoderLimits(FREE_IMAGE_FORMAT format, const QvHeaderReading& header,
                                std::size_t fileBytes)
{
    // Measured for the largest picture of each kind (bench_picture_costs).
    const QvDecodingCost& cost = qvPictureFormatOf(format).cost;
    const double pixels =
        header.size ? double(header.size->width) * double(header.size->height) : double(qvMaxPicturePixels);
    const double bits = header.bitmapBits != 0 ? double(header.bitmapBits) : double(cost.largestBits);
    // A kind of pixel the header does not tell may be floating point.
    const bool floating = header.floatSamples || (header.bitmapBits == 0 && cost.largestBits >= 96);
    const double pixelBytes = bits / 8 + convertedBytesPerPixel +
                              cost.decoderBytesPerSample * samplesOf(bits) +
                              (floating ? floatWorkBytesPerPixel : 0);
    const double fileMiB = double(fileBytes) / double(1 << 20);
    QvDecoderLimits limits;
    limits.memoryBytes = std::uint64_t(
        tableMemory + memoryMargin * (pixels * pixelBytes + cost.bytesPerFileByte * double(fileBytes)));
    limits.cpuSeconds = cpuSecondsLeast + cpuMargin * (pixels * pixelBytes * cpuSecondsPerPixelByte +
                                                       fileMiB * cost.cpuSecondsPerFileMiB);
    limits.stalledSeconds = stalledSecondsDefault;
    return limits;
}

QvMemoryRoom qvReadMemoryRoom()
{
    QvMemoryRoom room;
    room.available = availableMemory();
    room.controlGroup = controlGroupRoom();
    rlimit addressSpace{};
    if (::getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY)
        room.addressSpace = addressSpace.rlim_cur;
    return room;
}

std::uint64_t qvDecodingBudget(std::uint64_t largestLimit, const QvMemoryRoom& room)
{
    std::uint64_t budget = std::max(qvUsualDecodingBudget, largestLimit);
    for (const std::optional<std::uint64_t>& bound : {room.available, room.controlGroup, room.addressSpace})
        if (bound) budget = std::min(budget, *bound);
    return budget;
}
