// qvdecoderlimits: a decoding's limits from the measured costs of its
// format's row, and the decodings' shared budget from /proc and the control
// groups this process is in.
#include "engine/picture/qvdecoderlimits.h"

#include "engine/picture/qvformattable.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

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

// How a control group hierarchy names a group's memory limit and use, the
// limit from which on it means none, and the figures of its memory.stat that
// count its page cache, group and descendants together.
struct GroupMemoryFiles {
    const char* limit;
    const char* usage;
    std::uint64_t noLimitFrom;
    const char* activeFile;
    const char* inactiveFile;
};
// cgroup v2 writes "max" where there is no limit.
constexpr GroupMemoryFiles unifiedFiles{"memory.max", "memory.current",
                                        std::numeric_limits<std::uint64_t>::max(), "active_file",
                                        "inactive_file"};
// v1's memory controller writes the largest page count it holds, in bytes.
constexpr GroupMemoryFiles memoryControllerFiles{"memory.limit_in_bytes", "memory.usage_in_bytes",
                                                 std::uint64_t(1) << 62, "total_active_file",
                                                 "total_inactive_file"};

// MemAvailable of /proc/meminfo under `root`, in bytes.
std::optional<std::uint64_t> availableMemory(const std::filesystem::path& root)
{
    std::ifstream meminfo(root / "proc/meminfo");
    for (std::string name; meminfo >> name;) {
        std::uint64_t kib = 0;
        if (!(meminfo >> kib)) break;
        if (name == "MemAvailable:") return kib << 10;
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return std::nullopt;
}

// Whether the comma-separated `list` holds `item`.
bool listHolds(std::string_view list, std::string_view item)
{
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        if (list.substr(at, end - at) == item) return true;
        at = end + 1;
    }
    return false;
}

// Where under `root` a control group hierarchy of file system `type` is
// mounted, with `option` among its mount options where one is given; empty
// when none is.
std::filesystem::path controlGroupMount(const std::filesystem::path& root, std::string_view type,
                                        std::string_view option)
{
    std::ifstream mounts(root / "proc/self/mounts");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string device, point, kind, options;
        if (fields >> device >> point >> kind >> options && kind == type &&
            (option.empty() || listHolds(options, option)))
            return root / std::filesystem::path(point).relative_path();
    }
    return {};
}

// This process's group, as the files under `root` tell it, in the hierarchy
// whose controllers include `controller`, or in the v2 hierarchy (its line
// starts "0::") where none is given; nothing when it is in none.
std::optional<std::filesystem::path> controlGroupOf(const std::filesystem::path& root,
                                                    std::string_view controller)
{
    std::ifstream groups(root / "proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string_view controllers = std::string_view(line).substr(first + 1, second - first - 1);
        if (controller.empty() ? line.starts_with("0::") : listHolds(controllers, controller))
            return line.substr(second + 1);
    }
    return std::nullopt;
}

// A control group's figure; nothing where its file is missing or says "max".
std::optional<std::uint64_t> groupFigure(const std::filesystem::path& file)
{
    std::uint64_t figure = 0;
    if (std::ifstream(file) >> figure) return figure;
    return std::nullopt;
}

// The page cache that a group's `stat` (its memory.stat) counts: the kernel
// takes it back as the group needs room, so it is room (the six faces of a
// sky just read are most of its group's use). Shared memory, our segments
// among it, is not page cache of a file and is never counted so.
std::uint64_t reclaimableBytes(const std::filesystem::path& stat, const GroupMemoryFiles& files)
{
    std::ifstream figures(stat);
    std::uint64_t bytes = 0;
    for (std::string name; figures >> name;) {
        std::uint64_t figure = 0;
        if (!(figures >> figure)) break;
        if (name == files.activeFile || name == files.inactiveFile) bytes += figure;
    }
    return bytes;
}

// The least room that `group`, under the hierarchy's `mount`, and its
// ancestors leave (each one's limit less what it uses beyond the page cache
// the kernel can take back); nothing when none has a limit.
std::optional<std::uint64_t> leastGroupRoom(const std::filesystem::path& mount,
                                            const std::optional<std::filesystem::path>& group,
                                            const GroupMemoryFiles& files)
{
    if (mount.empty() || !group) return std::nullopt;
    std::optional<std::uint64_t> least;
    for (std::filesystem::path at = *group;; at = at.parent_path()) {
        const std::filesystem::path folder = mount / at.relative_path();
        const std::optional<std::uint64_t> most = groupFigure(folder / files.limit);
        const std::uint64_t usage = groupFigure(folder / files.usage).value_or(0);
        const std::uint64_t used = usage - std::min(usage, reclaimableBytes(folder / "memory.stat", files));
        if (most && *most < files.noLimitFrom)
            least = std::min(least.value_or(*most), *most > used ? *most - used : 0);
        if (at == at.parent_path()) break;
    }
    return least;
}

// The least room that this process's control groups leave, in the v2
// hierarchy and in v1's memory controller; nothing when neither has a limit.
std::optional<std::uint64_t> controlGroupRoom(const std::filesystem::path& root)
{
    const std::optional<std::uint64_t> unified =
        leastGroupRoom(controlGroupMount(root, "cgroup2", ""), controlGroupOf(root, ""), unifiedFiles);
    const std::optional<std::uint64_t> memoryController = leastGroupRoom(
        controlGroupMount(root, "cgroup", "memory"), controlGroupOf(root, "memory"), memoryControllerFiles);
    if (unified && memoryController) return std::min(*unified, *memoryController);
    return unified ? unified : memoryController;
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

QvDecoderLimits qvHeldLimits(const QvDecoderLimits& limits)
{
    return {limits.cpuSeconds * qvInstrumentedCpu, limits.stalledSeconds,
            std::uint64_t(double(limits.memoryBytes) * qvInstrumentedMemory)};
}

QvMemoryRoom qvReadMemoryRoom(const std::filesystem::path& root)
{
    QvMemoryRoom room;
    room.available = availableMemory(root);
    room.controlGroup = controlGroupRoom(root);
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
