// The decoding child's limits, what it inherits and reaches; how a limit, a crash or a lost decoder is named.
#include "childcheck.h"
#include "imagebytes.h"
#include "engine/picture/qvdecodercrossing.h"
#include "engine/picture/qvdecoderprocess.h"
#include "engine/picture/qvdecodersandbox.h"
#include "engine/picture/qvsharedmemory.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <fmt/core.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <grp.h>
#include <seccomp.h>

namespace {

using imagefixtures::Bytes, imagefixtures::tiff;

constexpr int textureSide = 16384;

// A small file of a large picture of one colour, (51, 102, 153) as 8-bit values, of `bpp` bits a pixel:
// 24 bytes, 64 16-bit RGBA words, 96 floats.
Bytes flatPicture(FREE_IMAGE_FORMAT format, int bpp, int flags, int width, int height)
{
    const RGBQUAD bytes{.rgbBlue = 153, .rgbGreen = 102, .rgbRed = 51, .rgbReserved = 255};
    const WORD words[4] = {13107, 26214, 39321, 65535};
    const float reals[4] = {0.2f, 0.4f, 0.6f, 1.0f};
    const void* colour = bpp == 64 ? (const void*)words : bpp == 96 ? (const void*)reals : &bytes;
    FIBITMAP* bitmap = FreeImage_AllocateT(bpp == 64   ? FIT_RGBA16
                                           : bpp == 96 ? FIT_RGBF
                                                       : FIT_BITMAP,
                                           width, height, bpp);
    EXPECT_TRUE(FreeImage_FillBackground(bitmap, colour));
    FIMEMORY* memory = FreeImage_OpenMemory();
    EXPECT_TRUE(FreeImage_SaveToMemory(format, bitmap, memory, flags)) << FreeImage_GetFormatFromFIF(format);
    FreeImage_Unload(bitmap);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    Bytes file(data, data + size);
    FreeImage_CloseMemory(memory);
    return file;
}

QvPictureFile pictureFile(const Bytes& bytes, FREE_IMAGE_FORMAT named = FIF_PNG)
{
    std::string error;
    std::optional<QvPictureFile> file = qvPictureFileOf(bytes, named, error);
    EXPECT_TRUE(file) << error;
    return std::move(*file);
}

const QvDecodeRequest textureRequest{.retryFlags = true, .maxSide = textureSide};

// Decodes `file` apart for a texture: "decoded", or why not.
std::string decodedApart(const QvPictureFile& file, std::optional<QvDecoderLimits> limits = std::nullopt)
{
    std::string error;
    return qvDecodeApart(file, textureRequest, error, limits) ? "decoded" : error;
}
// The same for bytes in memory, named `named`.
std::string decodedApart(const Bytes& bytes, FREE_IMAGE_FORMAT named,
                         const QvDecodeRequest& request = {.maxSide = 16})
{
    std::string error;
    return qvDecodeApart(bytes, named, request, error) ? "decoded" : error;
}

// Rows in this process's own memory, and how many loads the decoding took.
struct VectorSink : QvDecodeSink {
    void decoding(FREE_IMAGE_FORMAT) override { ++loads; }
    std::uint8_t* rows(int, int, std::size_t bytes) override { return kept.resize(bytes), kept.data(); }
    std::vector<std::uint8_t> kept;
    int loads = 0;
};

// Asks `found` every few milliseconds until it answers other than zero, or 20 s pass; its last answer.
template <class Find>
auto waitFor(Find found)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto answer = found();
    for (; !answer && std::chrono::steady_clock::now() < giveUp; answer = found())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return answer;
}

// A process's name, state, parent, process group and processor time in clock ticks; empty once gone.
struct ProcessStat {
    std::string name;
    char state = 0;
    pid_t parent = 0, group = 0;
    unsigned long long ticks = 0;
};
ProcessStat statOf(pid_t pid)
{
    std::string line;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), line);
    const std::size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return {};
    ProcessStat stat{line.substr(open + 1, close - open - 1)};
    unsigned long long user = 0, system = 0;  // after the session, terminals, flags and page faults
    std::sscanf(line.c_str() + close + 1, " %c %d %d %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu", &stat.state,
                &stat.parent, &stat.group, &user, &system);
    stat.ticks = user + system;
    return stat;
}

// The processes named `name` of `group` or whose parent is: a decoding child leads a group of its own.
std::vector<pid_t> processesNamed(const std::string& name, pid_t group = ::getpgrp())
{
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const ProcessStat stat = statOf(std::stoi(pid));
        if (stat.name == name && (stat.group == group || statOf(stat.parent).group == group))
            found.push_back(std::stoi(pid));
    }
    return found;
}

// This process group's decoder process; 0 when it has none.
pid_t decoderProcess()
{
    const std::vector<pid_t> found = processesNamed("qvdecoder");
    return found.empty() ? 0 : found.front();
}

// The decoder process of a running decoding child; 0 once it has ended or outlived its decoder process.
pid_t decoderOf(pid_t child)
{
    const ProcessStat stat = statOf(child);
    return stat.state != 'Z' && statOf(stat.parent).name == "qvdecoder" ? stat.parent : 0;
}

// Waits for a decoding child of `group` past its start (it has worked a clock tick), of a decoder process
// other than `oldDecoder`; 0 when none came.
pid_t waitForDecoding(pid_t group = ::getpgrp(), pid_t oldDecoder = 0)
{
    return waitFor([&] {
        for (const pid_t child : processesNamed("qvdecoding", group))
            if (const pid_t decoder = decoderOf(child);
                decoder != 0 && decoder != oldDecoder && statOf(child).ticks)
                return child;
        return pid_t(0);
    });
}

// Starts a decoder process for this process alone, in a process group of its own, run from the test
// program's file as a program with threads does: forked, it would carry whatever earlier tests left in this
// process's memory, in which its children's decoders could allocate past their limits. Its pid; 0 when none.
pid_t freshDecoder()
{
    std::promise<void> release;
    std::thread waiting([waited = release.get_future()] { waited.wait(); });
    const bool started = ::setpgid(0, 0) == 0 && qvStartDecoderProcess();
    release.set_value();
    waiting.join();
    return started ? waitFor(decoderProcess) : 0;
}

// Sends `signal` to `process` when there is one: 0 would reach the whole process group.
void signalProcess(pid_t process, int signal)
{
    if (process > 0) ::kill(process, signal);
}

// What a stopped process holds: its descriptors and its shared segments.
std::string holdingsOf(pid_t process)
{
    const std::filesystem::path proc = "/proc/" + std::to_string(process);
    std::error_code missing;
    const std::filesystem::directory_iterator descriptors(proc / "fd", missing);
    if (process <= 0 || missing) return "no process";  // 0: a start that failed
    std::ifstream maps(proc / "maps");
    std::size_t segments = 0;
    for (std::string line; std::getline(maps, line);) segments += line.find("/SYSV") != std::string::npos;
    return fmt::format("{} descriptors, {} segments", std::distance(descriptors, {}), segments);
}

// The permissions of this process's mapping that holds `address` ("r--s"); empty when none does.
std::string mappingOf(const void* address)
{
    std::ifstream maps("/proc/self/maps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    for (std::string line; std::getline(maps, line);) {
        std::uintptr_t from = 0, to = 0;
        char permissions[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, permissions) == 3 && from <= at && at < to)
            return permissions;
    }
    return {};
}

// A figure of a process's status (NoNewPrivs, Seccomp); -1 when it has none.
long statusOf(pid_t process, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
    return -1;
}

// How often a process has waited (its voluntary context switches).
long waitsOf(pid_t process)
{
    return statusOf(process, "voluntary_ctxt_switches");
}

// Makes this process, where it is root (held to no process limit), a user no process runs as: the kernel
// counts a user's every process against it. The id comes from this process's, past any an earlier run's
// unreaped process holds. False when that fails.
bool becomeUserOfItsOwn()
{
    if (::geteuid() != 0) return true;
    // Above every id a system hands out; each step passes the largest process id.
    constexpr id_t first = id_t(1) << 30, step = id_t(1) << 22;
    const auto taken = [](id_t id) {
        return std::ranges::any_of(std::filesystem::directory_iterator("/proc"), [&](const auto& entry) {
            const std::string pid = entry.path().filename();
            return std::isdigit(pid[0]) && statusOf(std::stoi(pid), "Uid") == long(id);
        });
    };
    id_t own = first + id_t(::getpid());
    while (taken(own)) own += step;
    return ::setgroups(0, nullptr) == 0 && ::setresgid(own, own, own) == 0 && ::setresuid(own, own, own) == 0;
}

// The errors of the outcomes that have no picture, each in brackets: nothing when all were decoded.
std::string failuresOf(const std::vector<QvDecodeOutcome>& outcomes)
{
    std::string failures;
    for (const QvDecodeOutcome& outcome : outcomes)
        if (!outcome.picture) failures += "[" + outcome.error + "]";
    return failures;
}

}  // namespace

// A small file of a picture half the largest size, in each format whose decoding costs more than its bitmap,
// decodes to the stored pixels under its header's limits (the largest size is bench/picture_costs.cpp's).
TEST(DecoderLimits, APictureOfEachCostlyKindDecodesUnderItsHeadersLimits)
{
    constexpr int width = 7680 / 2, height = 4320 / 2;  // half the largest picture on each side
    const struct {
        const char* name;
        FREE_IMAGE_FORMAT format;
        int bpp, flags, offBy;  // offBy: what lossy coding may change of a sample
    } kinds[] = {
        {"progressive 4:4:4 JPEG", FIF_JPEG, 24, JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_444, 2},
        {"16-bit RGBA PNG", FIF_PNG, 64, 0, 0},
        {"float TIFF", FIF_TIFF, 96, TIFF_DEFLATE, 0},
        {"half EXR", FIF_EXR, 96, EXR_DEFAULT, 0},
        {"Radiance HDR", FIF_HDR, 96, 0, 1},  // a shared exponent
        {"JPEG 2000", FIF_J2K, 24, 0, 1},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const QvPictureFile file =
            pictureFile(flatPicture(kind.format, kind.bpp, kind.flags, width, height), kind.format);
        EXPECT_LT(file.size, 1u << 20);
        std::string error;
        const std::optional<QvDecodedPicture> picture = qvDecodeApart(file, textureRequest, error);
        ASSERT_TRUE(picture) << error;
        ASSERT_EQ(std::pair(picture->width, picture->height), std::pair(width, height));
        // Every sample of the first row the stored one, every row as the first (compared a row at a time:
        // pixel by pixel takes seconds in the sanitizer build).
        const std::size_t rowBytes = std::size_t(width) * 3;
        ASSERT_EQ(picture->rows.size(), rowBytes * height);
        const std::uint8_t* row = picture->rows.data();  // the first
        int wrong = 0, otherRows = 0;
        for (unsigned i = 0; i < rowBytes; ++i) wrong += std::abs(row[i] - 51 * int(i % 3 + 1)) > kind.offBy;
        for (int y = 1; y < height; ++y) otherRows += !std::equal(row, row + rowBytes, row + y * rowBytes);
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(otherRows, 0);
    }
}

// Pictures decoded side by side on one core, as the sky's six faces, are each decoded however long it takes.
TEST(DecoderLimits, PicturesDecodedSideBySideShareOneCore)
{
    const QvPictureFile face = pictureFile(flatPicture(FIF_PNG, 64, 0, 4096, 4096));
    const std::vector<QvDecodeJob> faces(6, QvDecodeJob{&face, {.maxSide = textureSide}, std::nullopt, {}});
    EXPECT_EQ(testsupport::reportInChild([&] {
                  cpu_set_t one;
                  CPU_ZERO(&one);
                  CPU_SET(0, &one);
                  return ::sched_setaffinity(0, sizeof one, &one) == 0
                             ? failuresOf(qvDecodeApartTogether(faces))
                             : "not on one core";
              }),
              "");
}

// Decodings share one memory budget with the segments the program holds for them, as the decoder process
// counts them running, and the rows of those decoded: a decoding always starts when nothing else runs,
// whatever its limit; one whose own rows do not fit is refused, save the one picture of a call, which the
// system's room does not hold; a picture's file is read only once it fits. Each in a child: a decoding
// that never started would wait for ever.
TEST(DecoderLimits, DecodingsSideBySideShareOneMemoryBudget)
{
    const Bytes png = flatPicture(FIF_PNG, 24, 0, 5000, 5000);
    const QvPictureFile big = pictureFile(png);
    const QvDecoderLimits own = qvDecoderLimits(FIF_PNG, big.header.reading, big.size);
    const auto limited = [&](std::uint64_t bytes) {
        return QvDecoderLimits{own.cpuSeconds, own.stalledSeconds, bytes};
    };
    const std::uint64_t mib = 1 << 20, rows = qvRowBytes(QvPixelLayout::rgbBottomRowFirst, 5000) * 5000,
                        result = qvcrossing::resultRowsAt + rows;
    // What one decoding holds while it runs (its limit, its file and its result segment), and the rows of
    // pictures decoded and a file, kept.
    const auto running = [&](std::uint64_t limit) { return limit + big.size + result; };
    const auto kept = [&](int pictures) { return pictures * result + big.size + mib; };
    const std::uint64_t ownRunning = running(own.memoryBytes);
    // Room for one decoding and half a file: the next file fits only once it has ended.
    const std::uint64_t oneAndHalfAFile = running(kept(6)) + big.size / 2;
    const auto noRoom = [](int pictures) {
        std::string said;
        while (pictures-- > 0) said += "[not enough memory to read it]";
        return said;
    };
    // Where a row gives the pictures after the first by path, their file is damaged until the first
    // decoding runs: read any sooner, it is no picture.
    const std::filesystem::path later = testsupport::tempPath("later.png");
    const auto write = [&](bool damaged) {
        Bytes file = png;
        file[1] ^= damaged ? 0xFF : 0;
        std::ofstream(later, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    };
    const struct {
        const char* name;
        QvDecoderLimits limits;
        QvMemoryRoom room;
        std::size_t pictures;
        bool byPath;
        std::string outcome;  // the failures, and the most run at once
    } cases[] = {
        {"room for three", own, {3 * ownRunning + mib, {}, {}}, 6, false, "3 at once"},
        {"four fit, five less their segments", own, {4 * ownRunning + mib, {}, {}}, 6, false, "4 at once"},
        {"two of 1.2 GiB in no bound but the usual", limited(1229 * mib), {}, 6, false, "1 at once"},
        {"less room than one limit", limited(2 * kept(6)), {{}, kept(6), {}}, 6, false, "1 at once"},
        {"less room than the rows", own, {{}, {}, rows / 2}, 6, false, noRoom(6) + "0 at once"},
        {"room for the rows of three kept", own, {{}, kept(3), {}}, 6, false, noRoom(3) + "1 at once"},
        {"one picture, whatever the room", own, {{}, {}, rows / 2}, 1, false, "1 at once"},
        {"a file read once it fits", limited(kept(6)), {oneAndHalfAFile, {}, {}}, 6, true, "1 at once"},
    };
    for (const auto& c : cases) {
        std::vector<QvDecodeJob> jobs(c.pictures, QvDecodeJob{&big, textureRequest, c.limits, {}});
        if (c.byPath) write(true);
        for (std::size_t i = 1; c.byPath && i < jobs.size(); ++i)
            jobs[i] = {nullptr, textureRequest, c.limits, later};
        const std::string outcome = testsupport::reportInChild(
            [&] {
                if (::setpgid(0, 0) != 0) return std::string("no group of its own");
                const std::jthread mending([&] {
                    if (!c.byPath) return;
                    const pid_t first = waitForDecoding();
                    signalProcess(first, SIGSTOP);
                    write(false);
                    signalProcess(first, SIGCONT);
                });
                const std::vector<QvDecodeOutcome> outcomes = qvDecodeApartTogether(jobs, c.room);
                std::size_t most = 0;
                for (const QvDecodeOutcome& outcome : outcomes) most = std::max(most, outcome.together);
                return fmt::format("{}{} at once", failuresOf(outcomes), most);
            },
            45);
        EXPECT_EQ(outcome, c.outcome) << c.name;
    }
    std::filesystem::remove(later);
}

// The limit that ends a decoding is named with its figure, as are a kill from outside and the user's own
// limit; the program goes on. In a process of its own, with fresh decoder processes, whatever ran before.
TEST(DecoderLimits, ALimitThatEndsADecodingIsNamed)
{
    const QvPictureFile big = pictureFile(flatPicture(FIF_PNG, 24, 0, 5000, 5000));
    const QvDecoderLimits plenty = qvDecoderLimits(FIF_PNG, big.header.reading, big.size);
    const QvDecoderLimits stalling{plenty.cpuSeconds, 0.5, plenty.memoryBytes};
    const QvPictureFile deep = pictureFile(flatPicture(FIF_PNG, 64, 0, 3000, 3000));
    const struct {
        std::optional<QvDecoderLimits> limits;
        int signal;  // sent to the decoding child as soon as it decodes
        std::string error;
    } ends[] = {
        // Named with the figures this build holds the child to (the sanitizer build's are larger).
        {QvDecoderLimits{0.002, plenty.stalledSeconds, plenty.memoryBytes}, 0,
         fmt::format("the PNG decoder took longer than {} s",
                     qvcrossing::secondsText(0.002 * qvInstrumentedCpu))},
        {QvDecoderLimits{plenty.cpuSeconds, plenty.stalledSeconds, 16 << 20}, 0,
         fmt::format("it needs more than the {} MiB a picture of 5000x5000 may take",
                     16 * qvInstrumentedMemory)},
        {stalling, SIGSTOP, "the PNG decoder did no work for 0.5 s"},  // the decoder process ends it
        {std::nullopt, SIGKILL, "the PNG decoder was killed (signal 9), by none of the program's limits"},
    };
    std::string expected;
    for (const auto& end : ends) expected += end.error + " / ";
    EXPECT_EQ(
        testsupport::reportInChild([&] {
            if (freshDecoder() == 0) return std::string("not started");
            std::string said;
            for (const auto& end : ends) {
                std::thread signalling(
                    [&] { signalProcess(end.signal ? waitForDecoding() : 0, end.signal); });
                said += decodedApart(big, end.limits) + " / ";
                signalling.join();
            }
            said += decodedApart(big);
            // A stopped decoder process is given up as soon, ended and reaped; the next picture
            // starts another.
            signalProcess(waitFor(decoderProcess), SIGSTOP);
            const auto asked = std::chrono::steady_clock::now();
            said += " / " + decodedApart(big, stalling);
            const bool soon = std::chrono::steady_clock::now() - asked < std::chrono::seconds(5);
            const bool ended = waitFor([] { return decoderProcess() == 0; });
            // The user's lower limit of address space, set on a new decoder process with room for the
            // rows but not the decoding, is named.
            const pid_t decoder = freshDecoder();
            long pages = 0;
            std::ifstream(fmt::format("/proc/{}/statm", decoder)) >> pages;
            const std::uint64_t mib = 1 << 20, users = (pages * ::sysconf(_SC_PAGESIZE) / mib + 64) * mib;
            const rlimit soft{rlim_t(users), RLIM_INFINITY};
            const std::string limited =
                ::prlimit(decoder, RLIMIT_AS, &soft, nullptr) == 0 ? decodedApart(deep) : "";
            const bool named =
                limited ==
                fmt::format("it needs more than the {} MiB of address space the user's limit allows",
                            users / mib);
            return fmt::format("{}, soon {}, ended {} / {}", said, soon, ended, named ? "named" : limited);
        }),
        expected + "decoded / the picture decoder has stopped, soon true, ended true / named");
}

// The program stopped (Ctrl-Z) is no stall; its child stopped across it leaves only the capped count to hold.
TEST(DecoderLimits, TimeTheProgramSpendsStoppedIsNoStall)
{
    const QvPictureFile big = pictureFile(flatPicture(FIF_PNG, 64, 0, 4096, 4096));
    const QvDecoderLimits limits = qvDecoderLimits(FIF_PNG, big.header.reading, big.size);
    const pid_t program = ::fork();
    if (program == 0) {
        const std::string said =
            ::setpgid(0, 0) == 0 && qvStartDecoderProcess()
                ? decodedApart(big, QvDecoderLimits{limits.cpuSeconds, 1, limits.memoryBytes})
                : "not started";
        std::fprintf(stdout, "%s\n", said.c_str());
        std::fflush(stdout);
        ::_exit(said == "decoded" ? 0 : 1);
    }
    ::setpgid(program, program);
    const pid_t child = waitForDecoding(program);
    ASSERT_NE(child, 0);
    // The decoder process looks at its children between two waits.
    const auto waitForLooks = [decoder = decoderOf(child)](long looks) {
        const long waited = waitsOf(decoder);
        waitFor([&] { return waitsOf(decoder) >= waited + looks; });
    };
    ::kill(child, SIGSTOP);
    waitForLooks(2);
    ::kill(-program, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ::kill(-program, SIGCONT);
    waitForLooks(1);
    ::kill(child, SIGCONT);  // in a process group of its own
    int status = 0;
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A decoder that said why it failed fails every flag value alike, out of memory too: it is not run again.
TEST(DecoderLimits, AFailedDecodingIsNotRunAgain)
{
    const Bytes big = flatPicture(FIF_PNG, 24, 0, 5000, 5000);
    Bytes damaged = flatPicture(FIF_PNG, 24, 0, 3, 2);
    damaged[damaged.size() - 20] ^= 0xFF;  // the image data's own checksum
    // Where no earlier test left free memory that the decoder could take within its limit.
    EXPECT_TRUE(testsupport::holdsInFreshProcess([&] {
        const auto failsOnce = [&](const Bytes& file, bool limited) {
            return testsupport::holdsInChild([&] {
                VectorSink sink;
                if (limited && !testsupport::limitAddressSpaceGrowth(16u << 20)) return false;
                const QvDecodeResult result =
                    qvDecodePicture(file, qvReadPictureHeader(file, FIF_PNG), textureRequest, sink);
                return !result.error.empty() && sink.loads == 1;
            });
        };
        return failsOnce(damaged, false) && failsOnce(big, true);
    }));
}

// The decoding child prints nothing (libtiff names unknown tags) and leaves no core file when it crashes.
TEST(DecoderProcess, TheChildLeavesNoTrace)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer build keeps the child's reports";
#endif
    const std::filesystem::path folder = testsupport::tempPath("traces");
    std::filesystem::create_directories(folder);
    // A private field, and 4-bit palette pixels said to have four samples: FreeImage copies past its bitmap.
    const Bytes tagged = tiff(1, 1, 1, {0x80}, 1, 0, {{65000, 3, {7}}});
    std::vector<std::uint64_t> palette(3 * 16);
    for (std::size_t i = 0; i < palette.size(); ++i) palette[i] = std::uint16_t(i * 4099);
    const Bytes crashing = tiff(9, 9, 1, Bytes(9 * 18, 0x5A), 9 * 18, 0,
                                {{258, 3, {4}}, {262, 3, {3}}, {277, 3, {4}}, {320, 3, palette}});
    int errors[2];
    ASSERT_EQ(::pipe(errors), 0);
    EXPECT_EQ(testsupport::reportInChild([&] {
                  const rlimit anyCore{RLIM_INFINITY, RLIM_INFINITY};
                  ::setrlimit(RLIMIT_CORE, &anyCore);
                  if (::chdir(folder.c_str()) != 0 || ::dup2(errors[1], STDERR_FILENO) < 0 ||
                      !qvStartDecoderProcess())
                      return std::string("not started");
                  const std::string read = decodedApart(tagged, FIF_TIFF);
                  return read + " / " + decodedApart(crashing, FIF_TIFF);
              }),
              "decoded / the TIFF decoder crashed (signal 11)");
    ::close(errors[1]);
    char said[256];
    EXPECT_EQ(::read(errors[0], said, sizeof said), 0) << "the decoding child printed";
    ::close(errors[0]);
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        ADD_FAILURE() << entry.path() << " left behind";
    std::filesystem::remove_all(folder);
}

// A process with threads cannot fork safely: its decoder process is its own file run in the decoder role.
TEST(DecoderProcess, AProgramWithThreadsRunsItsOwnFileAsTheDecoder)
{
    const Bytes small = flatPicture(FIF_PNG, 24, 0, 4, 4);
    EXPECT_EQ(testsupport::reportInChild([&] {
                  static int forks = 0;
                  if (::setpgid(0, 0) != 0 || ::pthread_atfork([] { ++forks; }, nullptr, nullptr) != 0)
                      return std::string("not set up");
                  std::promise<void> release;
                  std::thread waiting([waited = release.get_future()] { waited.wait(); });
                  const std::string decoded = decodedApart(small, FIF_PNG, {.maxSide = textureSide});
                  std::string command;
                  std::getline(std::ifstream(fmt::format("/proc/{}/cmdline", decoderProcess())), command);
                  release.set_value();
                  waiting.join();
                  return fmt::format("{}, in the decoder role {}, {} forks", decoded,
                                     command.find("--picture-decoder-socket=") != std::string::npos, forks);
              }),
              "decoded, in the decoder role true, 0 forks");
}

// The decoder process and each child hold only their own, not a launcher's pipe; the child leads a group
// and decodes under its system-call filter.
TEST(DecoderProcess, EachHoldsOnlyItsOwn)
{
    const QvPictureFile big = pictureFile(flatPicture(FIF_PNG, 24, 0, 5000, 5000));
    const std::string held = testsupport::reportInChild([&] {
        int launchers[2];
        if (::setpgid(0, 0) != 0 || ::pipe(launchers) != 0 || !qvStartDecoderProcess())
            return std::string("not started");
        std::string child, decoder;
        bool leader = false, ended = false;
        std::thread looking([&] {
            const pid_t found = waitForDecoding();
            signalProcess(found, SIGSTOP);
            child = fmt::format("{}, no new privileges {}, filter mode {}", holdingsOf(found),
                                statusOf(found, "NoNewPrivs"), statusOf(found, "Seccomp"));
            decoder = holdingsOf(decoderOf(found));
            leader = ::getpgid(found) == found;
            // While both live, the pipe ends with the last writer the test holds.
            ::close(launchers[1]);
            pollfd end{launchers[0], POLLIN, 0};
            char byte = 0;
            ended = ::poll(&end, 1, 5000) == 1 && ::read(launchers[0], &byte, 1) == 0;
            signalProcess(found, SIGCONT);
        });
        const std::string decoded = decodedApart(big);
        looking.join();
        return fmt::format("{}; child {}, leader {}; decoder {}; pipe ended {}", decoded, child, leader,
                           decoder, ended);
    });
    // The child: the standard three. The decoder process: those, its socket and its signals.
    EXPECT_EQ(held,
              "decoded; child 3 descriptors, 2 segments, no new privileges 1, filter mode 2, leader true; "
              "decoder 5 descriptors, 0 segments; pipe ended true");
}

// A decoder process that ends is started anew; the picture it held is decoded once more and its child ends.
TEST(DecoderProcess, ADecoderProcessThatEndsIsStartedAnew)
{
    const QvPictureFile big = pictureFile(flatPicture(FIF_PNG, 24, 0, 5000, 5000));
    const std::string decodings = testsupport::reportInChild([&] {
        // Orphans come here: a stopped child that outlives its decoder process is then no orphaned group's.
        if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0 || ::setpgid(0, 0) != 0 || !qvStartDecoderProcess())
            return std::string("not started");
        signalProcess(waitFor(decoderProcess), SIGKILL);
        const std::string between = decodedApart(big);
        pid_t stopped = 0;
        std::thread killing([&] {
            stopped = waitForDecoding();
            signalProcess(stopped, SIGSTOP);
            signalProcess(decoderOf(stopped), SIGKILL);
        });
        const std::string held = decodedApart(big);
        killing.join();
        // Stopped, it could not end on its own: only its decoder process's end ended it.
        const bool childGone = waitFor([&] { return ::waitpid(stopped, nullptr, WNOHANG) == stopped; });
        if (!childGone) signalProcess(stopped, SIGKILL);
        // Lost twice: the picture is not decoded a third time.
        killing = std::thread([] {
            const pid_t first = decoderOf(waitForDecoding());
            signalProcess(first, SIGKILL);
            signalProcess(decoderOf(waitForDecoding(::getpgrp(), first)), SIGKILL);
        });
        const std::string lost = decodedApart(big);
        killing.join();
        return fmt::format("{} / {}, child gone {} / {} / {}", between, held, childGone, lost,
                           decodedApart(big));
    });
    EXPECT_EQ(decodings, "decoded / decoded, child gone true / the picture decoder has stopped / decoded");
}

// Held to the user's process limit (root is held to none: the test takes a user id no process has), a
// decoder process with no room to start, forked or run from the program's own file (by a process with
// threads), is named as not started. One that cannot fork a child says so, naming no decoder, when no other
// child runs; while one runs, the fork is tried again once it ends.
TEST(DecoderProcess, AChildThatCannotStartNamesNoDecoder)
{
    if (::geteuid() != 0) GTEST_SKIP() << "switching to a user of its own needs root";
    const Bytes small = flatPicture(FIF_PNG, 24, 0, 4, 4), large = flatPicture(FIF_PNG, 24, 0, 5000, 5000);
    for (const rlim_t tasks : {2, 3}) {  // room for this process (and its thread) and the process in between
        EXPECT_EQ(testsupport::reportInChild([&] {
                      if (tasks == 3)
                          std::thread([] { std::this_thread::sleep_for(std::chrono::hours(1)); }).detach();
                      const rlimit room{tasks, tasks};
                      return becomeUserOfItsOwn() && ::setrlimit(RLIMIT_NPROC, &room) == 0
                                 ? decodedApart(small, FIF_PNG)
                                 : "not limited";
                  }),
                  "the picture decoder could not be started")
            << tasks << " tasks";
    }
    EXPECT_EQ(testsupport::reportInChild([&] {
                  if (::setpgid(0, 0) != 0 || !becomeUserOfItsOwn())
                      return std::string("not a user of its own");
                  const std::string first = decodedApart(small, FIF_PNG);
                  // The user's processes now: this one and the decoder process; room for one child more.
                  const rlimit three{3, 3}, one{1, 1};
                  const bool limited = ::prlimit(decoderProcess(), RLIMIT_NPROC, &three, nullptr) == 0;
                  const QvPictureFile big = pictureFile(large);  // the user's own segment
                  const std::vector<QvDecodeJob> jobs(3, QvDecodeJob{&big, textureRequest, std::nullopt, {}});
                  const std::string inTurn = failuresOf(qvDecodeApartTogether(jobs));
                  ::prlimit(decoderProcess(), RLIMIT_NPROC, &one, nullptr);
                  return fmt::format("{} / limited {} / [{}] / {}", first, limited, inTurn,
                                     decodedApart(small, FIF_PNG));
              }),
              "decoded / limited true / [] / the picture decoder could not be started");
}

// Only the child's own ending ends a decoding: a word of the decoder process that names no request of the
// program's (told twice, or forged) is refused, and whatever joined the child's process group is ended
// with the child, before the child is reaped.
TEST(DecoderProcess, OnlyTheChildsOwnEndingEndsItsDecoding)
{
    const QvPictureFile big = pictureFile(flatPicture(FIF_PNG, 24, 0, 5000, 5000));
    EXPECT_EQ(testsupport::reportInChild([&] {
                  if (::setpgid(0, 0) != 0 || !qvStartDecoderProcess()) return std::string("not started");
                  std::string forged = "not forged";
                  pid_t left = 0;
                  std::thread meddling([&] {
                      const pid_t child = waitForDecoding();
                      signalProcess(child, SIGSTOP);
                      left = ::fork();
                      if (left == 0) {
                          if (::setpgid(0, child) == 0) ::pause();
                          ::_exit(1);
                      }
                      waitFor([&] { return ::getpgid(left) == child; });
                      // The decoder process's own end of its socket, as it would speak through it.
                      const int process = int(::syscall(SYS_pidfd_open, decoderOf(child), 0));
                      const int socket = int(::syscall(SYS_pidfd_getfd, process, 3, 0));
                      const qvcrossing::Ended never{0, {0, 0, 0}, 1}, told{~std::uint64_t(0), {0, 0, 0}, 1};
                      if (qvcrossing::sendAll(socket, &never, sizeof never) &&
                          qvcrossing::sendAll(socket, &told, sizeof told))
                          forged = "forged";
                      ::close(socket);
                      ::close(process);
                      signalProcess(child, SIGCONT);
                  });
                  const std::string decoded = decodedApart(big);
                  meddling.join();
                  int status = 0;
                  const bool ended = waitFor([&] { return ::waitpid(left, &status, WNOHANG) == left; });
                  if (!ended) signalProcess(left, SIGKILL);
                  return fmt::format("{}, {}, the one left killed {}", forged, decoded,
                                     ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
              }),
              "forged, decoded, the one left killed true");
}

// Every way out of a child in its sandbox fails with EPERM (clone3 as a kernel without it does, so that the
// C library falls back to clone), each tried in a thread of its own; so does a call by another architecture's
// numbers.
TEST(DecoderSandbox, CodeInTheChildReachesNothingButItsMemoryAndThreads)
{
    EXPECT_EQ(
        testsupport::reportInChild([&] {
            static const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
            static const itimerval stopped{};
            static char parentsByte = 1, copy = 0;  // at the same address in the parent
            const iovec here{&copy, 1}, there{&parentsByte, 1};
            void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            const pid_t parent = ::getppid();
            std::string error;
            const std::optional<QvSharedMemory> programs = QvSharedMemory::create(4096, error);
            const int refusal = qvEnterDecoderSandbox(true);
            // The 32-bit entry's getpid, its errno as the C library gives it.
            const auto i386GetPid = [] {
                long answer = 20;
                asm volatile("int $0x80" : "+a"(answer) : : "memory");
                return answer < 0 ? (errno = int(-answer), -1L) : answer;
            };
            const std::tuple<const char*, int, std::function<long()>> attempts[] = {
                {"fork", EPERM, [] { return ::fork() == 0 ? (::_exit(0), 0) : -1; }},
                {"exec", EPERM, [] { return ::execl("/bin/true", "true", nullptr); }},
                {"setpgid", EPERM, [] { return ::setpgid(0, 0); }},
                {"setsid", EPERM, [] { return ::setsid(); }},
                {"maps", EPERM, [] { return ::open("/proc/self/maps", O_RDONLY); }},
                {"file", EPERM, [] { return ::open(VELMORIN_TEST_DATA "/models/panel.obj", O_RDONLY); }},
                {"socket", EPERM, [] { return ::socket(AF_UNIX, SOCK_STREAM, 0); }},
                {"shmat", EPERM, [&] { return long(::shmat(programs->id(), nullptr, 0)); }},
                {"ptrace", EPERM, [&] { return ::ptrace(PTRACE_SEIZE, parent, 0, 0); }},
                {"process_vm_readv", EPERM,
                 [&] { return ::process_vm_readv(parent, &here, 1, &there, 1, 0); }},
                {"kill", EPERM, [&] { return ::kill(parent, 0); }},
                {"tgkill", EPERM, [&] { return ::syscall(SYS_tgkill, parent, parent, 0); }},
                // Too short to start anything, were it let through: the kernel would refuse it with EINVAL.
                {"clone3", ENOSYS, [] { return ::syscall(SYS_clone3, nullptr, 0); }},
                {"mprotect", EPERM, [&] { return ::mprotect(page, 4096, PROT_READ | PROT_EXEC); }},
                {"mmap", EPERM,
                 [] { return long(::mmap(nullptr, 9, PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)); }},
                {"setrlimit", EPERM, [] { return ::setrlimit(RLIMIT_AS, &unlimited); }},
                {"setitimer", EPERM, [] { return ::setitimer(ITIMER_PROF, &stopped, nullptr); }},
                {"sigaction", EPERM, [] { return long(::signal(SIGPROF, SIG_IGN)); }},
                {"32-bit getpid", EPERM, i386GetPid},
                {"x32 getpid", EPERM, [] { return ::syscall(0x40000000 | SYS_getpid); }},
            };
            std::string allowed;
            for (const auto& [name, expected, attempt] : attempts) {
                bool refused = false;
                std::thread([&] { refused = attempt() == -1 && errno == expected; }).join();
                if (!refused) allowed += fmt::format(" {}", name);
            }
            return fmt::format("filter {}, allowed:{}", refusal, allowed);
        }),
        "filter 0, allowed:");
}

// Where the filter cannot be set (here a launcher's filter of the test's own answers as a kernel without
// seccomp does, or ends the process that asks), pictures decode as before, and the program says why once.
TEST(DecoderProcess, AKernelThatRefusesTheFilterIsNamedOnce)
{
    const Bytes small = flatPicture(FIF_PNG, 24, 0, 4, 4);
    const std::pair<std::uint32_t, std::string> launchers[] = {
        // answers to a call that sets a filter
        {SCMP_ACT_ERRNO(EINVAL), "the kernel refused it (Invalid argument)"},
        {SCMP_ACT_ERRNO(ENOSYS), "the kernel refused it (Function not implemented)"},
        {SCMP_ACT_KILL_PROCESS, "setting it ended the process (signal 31)"},
    };
    for (const auto& [action, why] : launchers) {
        EXPECT_EQ(
            testsupport::reportInChild([&] {
                scmp_filter_ctx refusing = seccomp_init(SCMP_ACT_ALLOW);
                seccomp_rule_add(refusing, action, SCMP_SYS(seccomp), 0);
                seccomp_rule_add(refusing, action, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP));
                const bool refuses = seccomp_load(refusing) == 0;
                seccomp_release(refusing);
                testing::internal::CaptureStdout();
                const std::string decoded =
                    decodedApart(small, FIF_PNG) + " / " + decodedApart(small, FIF_PNG);
                return fmt::format("{}, {}: {}", refuses, decoded, testing::internal::GetCapturedStdout());
            }),
            "true, decoded / decoded: Picture decoders run without their system-call filter: " + why + "\n");
    }
}

namespace {

// A decoder taken over by its file, doing what the file asks: "write" to the standard streams, start
// "threads" until refused, or block its timer's signal and "work" (5 s at most). Registered before a process
// forks its decoder process, it decodes a format the table of formats does not know in that process's
// children.
int takenOver = FIF_UNKNOWN;
FIBITMAP* DLL_CALLCONV loadTakenOver(FreeImageIO* io, fi_handle handle, int, int, void*)
{
    char asked[8] = {};
    io->read_proc(asked, 1, sizeof asked - 1, handle);
    const std::string_view command = asked;
    int started = 0;
    if (command == "write")
        for (const int stream : {0, 1, 2}) (void)!::write(stream, "taken over\n", 11);
    const auto sleeping = [](void*) -> void* {
        for (;;) ::sleep(60);
    };
    for (pthread_t thread;
         command == "threads" && started < 16 && ::pthread_create(&thread, nullptr, sleeping, nullptr) == 0;)
        ++started;
    sigset_t timer;
    timespec used{};
    if (command == "work" && sigemptyset(&timer) == 0 && sigaddset(&timer, SIGPROF) == 0)
        while (::sigprocmask(SIG_BLOCK, &timer, nullptr) == 0 &&
               ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used) == 0 && used.tv_sec < 5) {}
    FreeImage_OutputMessageProc(takenOver, "%s, %d threads", asked, started);
    return nullptr;
}

void DLL_CALLCONV takeOver(Plugin* plugin, int format)
{
    takenOver = format;
    plugin->load_proc = loadTakenOver;
}

}  // namespace

// Code that took over a decoding child writes nothing the program's standard streams lead to, starts no more
// than the few threads decoders use (as a user: root is bounded by none), and is ended once it worked past
// its processor time with its timer's signal blocked.
TEST(DecoderProcess, ADecoderTakenOverByItsFileReachesNoFurther)
{
    // Bound where the child, as a user, may have a user namespace of its own, whose tasks the kernel counts
    // apart (Linux 5.14 on).
    utsname system{};
    int major = 0, minor = 0;
    const bool bounded =
        ::uname(&system) == 0 && std::sscanf(system.release, "%d.%d", &major, &minor) == 2 &&
        std::pair(major, minor) >= std::pair(5, 14) &&
        testsupport::holdsInChild([] { return becomeUserOfItsOwn() && ::unshare(CLONE_NEWUSER) == 0; });
    // Standard error is kept in the sanitizer build (the instrumented one), for the sanitizer's reports.
    const std::string reached = qvInstrumentedCpu > 1 ? "taken over\n" : "";
    const struct {
        char asked[8];
        double cpuSeconds;
        std::string outcome;
    } cases[] = {
        {"write", 60, "the TAKENOVER decoder says \"write, 0 threads\"; reached: " + reached},
        {"threads", 60,
         fmt::format("the TAKENOVER decoder says \"threads, {} threads\"; reached: ", bounded ? 3 : 16)},
        {"work", 0.2,
         fmt::format("the TAKENOVER decoder took longer than {} s; reached: ",
                     qvcrossing::secondsText(0.2 * qvInstrumentedCpu))},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testsupport::reportInChild([&] {
                      const auto format = FreeImage_RegisterLocalPlugin(takeOver, "TAKENOVER");
                      int streams[2];
                      becomeUserOfItsOwn();  // or not, as found above
                      if (format == FIF_UNKNOWN || ::pipe2(streams, O_NONBLOCK) != 0) return std::string();
                      for (const int stream : {0, 1, 2}) ::dup2(streams[1], stream);
                      std::string error;
                      const QvPictureFile file = pictureFile(Bytes(c.asked, std::end(c.asked)), format);
                      qvDecodeApart(file, textureRequest, error, QvDecoderLimits{c.cpuSeconds, 60, 1 << 30});
                      char said[64] = {};
                      return fmt::format("{}; reached: {}", error,
                                         ::read(streams[0], said, 63) > 0 ? said : "");
                  }),
                  c.outcome);
    }
}

// What a decoder says quotes the file (an unknown XPM colour): an escape sequence in it drives no terminal.
TEST(DecoderProcess, ADecodersWordsArePrintable)
{
    const std::string xpm =
        "/* XPM */\nstatic char * x[] = {\n\"2 1 1 1\",\n\"a c \x1b[31mred\nx\",\n\"aa\"};\n";
    EXPECT_EQ(decodedApart(Bytes(xpm.begin(), xpm.end()), FIF_XPM),
              "the XPM decoder says \"Unknown color name 'a c \\x1b[31mred x'\"");
}

// A child's result is checked in the program's own copy of its header, read once: sizes that do not hold
// refused, words printable; its rows are read in place, read-only, where no other process holds the
// segment, and copied where one does.
TEST(DecoderProcess, AChildsResultIsCheckedInTheProgramsOwnCopy)
{
    const std::size_t rowBytes = qvRowBytes(QvPixelLayout::rgbBottomRowFirst, 4);
    const struct {
        const char* name;
        int width, height;
        std::uint64_t rowBytes;
        std::size_t segmentRows;
        std::optional<QvImageSize> headerSize;
        std::uint64_t maxSide;
        const char *error, *remarks, *outcome;  // outcome: the error, or the remarks of the picture
    } cases[] = {
        {"as its header says", 4, 4, 4 * rowBytes, 4, QvImageSize{4, 4}, 16, "", "", ""},
        {"a size of its own", 3, 2, 2 * qvRowBytes(QvPixelLayout::rgbBottomRowFirst, 3), 4, QvImageSize{4, 4},
         16, "", "", "the PNG decoder gave a 3x2 picture, where its header says 4x4"},
        {"no size in the header, within the caller's side", 4, 4, 4 * rowBytes, 4, std::nullopt, 4, "", "",
         ""},
        {"no size in the header, a side too long", 4, 4, 4 * rowBytes, 4, std::nullopt, 3, "", "",
         "the PNG decoder gave a 4x4 picture: 4x4 is larger than the largest picture side 3"},
        {"no size in the header, more pixels than the largest picture", 8192, 8192, 8192 * rowBytes, 4,
         std::nullopt, 16384, "", "",
         "the PNG decoder gave a 8192x8192 picture: 8192x8192 is more than the 33177600 pixels of the "
         "largest picture"},
        {"rows of another length", 4, 4, 10, 4, QvImageSize{4, 4}, 16, "", "",
         "the PNG decoder gave no rows of its 4x4 picture"},
        {"more rows than the segment holds", 4, 4, 4 * rowBytes, 2, std::nullopt, 16, "", "",
         "the PNG decoder gave no rows of its 4x4 picture"},
        {"no rows", 4, 0, 0, 4, std::nullopt, 16, "", "", "the PNG decoder gave no rows of its 4x0 picture"},
        {"words that would drive a terminal", 4, 4, 4 * rowBytes, 4, QvImageSize{4, 4}, 16,
         "it says \x1b[2J\nPicture forged", "", "it says \\x1b[2J\\nPicture forged"},
        {"remarks of C1 controls and stray bytes", 4, 4, 4 * rowBytes, 4, QvImageSize{4, 4}, 16, "",
         "caf\xc3\xa9 \xc2\x9b"
         "1m \xff\xe0\x80\x80 \x7f",
         "caf\xc3\xa9 \\xc2\\x9b1m \\xff\\xe0\\x80\\x80 \\x7f"},
    };
    // A segment of `rows` rows behind `header`; with a second view, as a process left behind would hold it.
    const auto segmentOf = [&](const qvcrossing::ResultHeader& header, std::size_t rows, bool heldElsewhere) {
        std::string error;
        std::optional<QvSharedMemory> segment =
            QvSharedMemory::create(qvcrossing::resultRowsAt + rows * rowBytes, error);
        std::fill(segment->data(), segment->data() + segment->size(), 0x5A);
        std::memcpy(segment->data(), &header, sizeof(header));
        std::optional<QvSharedMemory> other;
        if (heldElsewhere) other = QvSharedMemory::attach(segment->id(), segment->size(), true);
        return std::pair(std::move(*segment), std::move(other));
    };
    for (const auto& c : cases) {
        for (const bool heldElsewhere : {false, true}) {
            SCOPED_TRACE(fmt::format("{}, held elsewhere {}", c.name, heldElsewhere));
            qvcrossing::ResultHeader header{FIF_PNG, 1, c.width, c.height, c.rowBytes, {}, {}};
            std::strcpy(header.error, c.error);
            std::strcpy(header.remarks, c.remarks);
            auto [segment, other] = segmentOf(header, c.segmentRows, heldElsewhere);
            const std::uint8_t* rowsAt = segment.data() + qvcrossing::resultRowsAt;
            const QvDecodeOutcome outcome = qvTakeDecodedPicture(
                std::move(segment), QvPixelLayout::rgbBottomRowFirst, c.headerSize, c.maxSide);
            EXPECT_EQ(outcome.picture ? outcome.picture->remarks : outcome.error, c.outcome);
            if (!outcome.picture) continue;
            // Written after it was taken, the segment changes nothing of the picture.
            if (other) std::fill(other->data(), other->data() + other->size(), 0xA5);
            const QvPixelRows& rows = outcome.picture->rows;
            ASSERT_EQ(rows.size(), 4 * rowBytes);
            EXPECT_EQ(std::count(rows.data(), rows.data() + rows.size(), 0x5A), std::ptrdiff_t(rows.size()));
            EXPECT_EQ(rows.data() == rowsAt && mappingOf(rows.data()).starts_with("r--s"), !heldElsewhere);
        }
    }

    // The header is read once: its size rewritten all the while through another view, the picture taken is
    // always of the size its rows were checked for, or refused.
    const qvcrossing::ResultHeader fits{FIF_PNG, 1, 4, 4, 4 * rowBytes, {}, {}};
    int mixed = 0;
    for (int round = 0; round < 10000; ++round) {
        auto [segment, other] = segmentOf(fits, 4, true);
        std::atomic<bool> done = false;
        std::thread rewriting([&, sides = reinterpret_cast<volatile std::int32_t*>(other->data()) + 2] {
            for (std::int32_t side = 4; !done; side ^= 4 ^ 16) {
                sides[0] = side;
                sides[1] = side;
            }
        });
        const QvDecodeOutcome outcome =
            qvTakeDecodedPicture(std::move(segment), QvPixelLayout::rgbBottomRowFirst, std::nullopt, 16);
        done = true;
        rewriting.join();
        mixed += outcome.picture && (outcome.picture->width != 4 || outcome.picture->height != 4 ||
                                     outcome.picture->rows.size() != 4 * rowBytes);
    }
    EXPECT_EQ(mixed, 0);
}
