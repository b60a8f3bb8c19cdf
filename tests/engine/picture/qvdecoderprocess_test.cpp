// The decoding child's limits and what it inherits: every valid picture of
// the largest size decodes under the limits its header gives; a limit that
// ends a decoding, or a decoder or decoder process that stops working, is
// named; the child prints nothing and leaves no core file.
#include "childcheck.h"
#include "tempfiles.h"
#include "engine/picture/qvdecoderprocess.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <fmt/core.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int largestWidth = 7680;
constexpr int largestHeight = 4320;
constexpr int textureSide = 16384;

// A picture of one colour, (51, 102, 153) as 8-bit values, in FreeImage's
// pixel type `type`, written as `format`: a small file of a large picture.
Bytes flatPicture(FREE_IMAGE_FORMAT format, FREE_IMAGE_TYPE type, int bpp, int flags, int width, int height)
{
    FIBITMAP* bitmap = FreeImage_AllocateT(type, width, height, bpp);
    const double colour[4] = {0.2, 0.4, 0.6, 1.0};
    const unsigned channels = type == FIT_BITMAP                        ? unsigned(bpp) / 8
                              : type == FIT_RGB16 || type == FIT_RGBF   ? 3
                              : type == FIT_RGBA16 || type == FIT_RGBAF ? 4
                                                                        : 1;
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, y);
        for (int x = 0; x < width; ++x) {
            for (unsigned c = 0; c < channels; ++c) {
                // FreeImage's 8-bit pixels are blue, green, red in memory.
                const double value = colour[type == FIT_BITMAP && c < 3 ? 2 - c : c];
                const std::size_t at = std::size_t(x) * channels + c;
                if (type == FIT_BITMAP)
                    line[at] = BYTE(value * 255);
                else if (type == FIT_RGB16 || type == FIT_RGBA16)
                    reinterpret_cast<WORD*>(line)[at] = WORD(value * 65535);
                else
                    reinterpret_cast<float*>(line)[at] = float(value);
            }
        }
    }
    FIMEMORY* memory = FreeImage_OpenMemory();
    EXPECT_TRUE(FreeImage_SaveToMemory(format, bitmap, memory, flags)) << FreeImage_GetFormatFromFIF(format);
    FreeImage_Unload(bitmap);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    Bytes bytes(data, data + size);
    FreeImage_CloseMemory(memory);
    return bytes;
}

QvPictureFile pictureFile(const Bytes& bytes, FREE_IMAGE_FORMAT named)
{
    std::string error;
    std::optional<QvPictureFile> file = qvPictureFileOf(bytes, named, error);
    EXPECT_TRUE(file) << error;
    return std::move(*file);
}

const QvDecodeRequest textureRequest{.retryFlags = true, .maxSide = textureSide};

// Rows in this process's own memory, and how many loads the decoding took.
struct VectorSink : QvDecodeSink {
    void decoding(FREE_IMAGE_FORMAT) override { ++loads; }
    std::uint8_t* rows(int, int, std::size_t bytes) override
    {
        kept.resize(bytes);
        return kept.data();
    }
    std::vector<std::uint8_t> kept;
    int loads = 0;
};

// The process of process group `group` (this one's by default) whose
// command is `name`; 0 when none.
pid_t processNamed(const std::string& name, pid_t group = ::getpgrp())
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string comm;
        std::getline(std::ifstream(entry.path() / "comm"), comm);
        if (comm == name && ::getpgid(std::stoi(pid)) == group) return std::stoi(pid);
    }
    return 0;
}

// Waits up to 20 s for the process named `name` in `group`; 0 when none came.
pid_t waitForProcess(const std::string& name, pid_t group = ::getpgrp())
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (const pid_t found = processNamed(name, group)) return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

// What a stopped process holds: its descriptors and its shared segments.
struct Holdings {
    std::size_t descriptors = 0;
    std::size_t segments = 0;
};
Holdings holdingsOf(pid_t process)
{
    Holdings held;
    const std::filesystem::path proc = "/proc/" + std::to_string(process);
    for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator(proc / "fd"))
        ++held.descriptors;
    std::ifstream maps(proc / "maps");
    for (std::string line; std::getline(maps, line);)
        held.segments += line.find("/SYSV") != std::string::npos;
    return held;
}

// Stops the process named `name` as soon as it shows, from another thread,
// and notes what it holds then.
std::thread stopWhenSeen(const std::string& name, Holdings* held = nullptr)
{
    return std::thread([name, held] {
        if (const pid_t found = waitForProcess(name)) {
            ::kill(found, SIGSTOP);
            if (held != nullptr) *held = holdingsOf(found);
        }
    });
}

}  // namespace

// A valid picture half the largest size on each side, in each format whose
// decoding costs more than its bitmap, decodes under the limits its header
// gives, however small its file: every pixel is the one stored. At this size
// a memory limit that counts only a quarter of the picture's pixels already
// ends a decoding. The largest size, which the sanitizer build takes minutes
// to decode beside a busy machine's other work, is measured by
// bench_picture_costs (bench/picture_costs.cpp): what the largest picture of
// each of these kinds takes against its limits.
TEST(DecoderLimits, APictureOfEachCostlyKindDecodesUnderItsHeadersLimits)
{
    constexpr int width = largestWidth / 2;
    constexpr int height = largestHeight / 2;
    struct Kind {
        const char* name;
        FREE_IMAGE_FORMAT format;
        FREE_IMAGE_TYPE type;
        int bpp;
        int flags;
        int offBy;  // what lossy coding may change of a sample
    };
    const Kind kinds[] = {
        {"progressive 4:4:4 JPEG", FIF_JPEG, FIT_BITMAP, 24, JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_444, 2},
        {"16-bit RGBA PNG", FIF_PNG, FIT_RGBA16, 64, 0, 0},
        {"float TIFF", FIF_TIFF, FIT_RGBF, 96, TIFF_DEFLATE, 0},
        {"half EXR", FIF_EXR, FIT_RGBF, 96, EXR_DEFAULT, 0},
        {"Radiance HDR", FIF_HDR, FIT_RGBF, 96, 0, 1},  // a shared exponent
        {"JPEG 2000", FIF_J2K, FIT_BITMAP, 24, 0, 1},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const QvPictureFile file =
            pictureFile(flatPicture(kind.format, kind.type, kind.bpp, kind.flags, width, height), kind.format);
        EXPECT_LT(file.size, 1u << 20);
        std::string error;
        const std::optional<QvDecodedPicture> picture = qvDecodeApart(file, textureRequest, error);
        ASSERT_TRUE(picture) << error;
        ASSERT_EQ(std::pair(picture->width, picture->height), std::pair(width, height));
        // Every row as the first, every pixel of which is the stored colour
        // (compared a row at a time: pixel by pixel takes seconds in the
        // sanitizer build).
        const std::size_t rowBytes = std::size_t(width) * 3;
        ASSERT_EQ(picture->rows.size(), rowBytes * height);
        const std::uint8_t* first = picture->rows.data();
        int wrong = 0;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int stored = 51 * (c + 1);
                const int read = first[x * 3 + c];
                if (read < stored - kind.offBy || read > stored + kind.offBy) {
                    ++wrong;
                    break;
                }
            }
        }
        EXPECT_EQ(wrong, 0);
        int otherRows = 0;
        for (std::size_t y = 1; y < std::size_t(height); ++y)
            otherRows += !std::equal(first, first + rowBytes, first + y * rowBytes);
        EXPECT_EQ(otherRows, 0);
    }
}

// Pictures decoded side by side share the one core they have: however long
// that takes on the clock, each is decoded, as the sky's six faces are.
TEST(DecoderLimits, PicturesDecodedSideBySideShareOneCore)
{
    const QvPictureFile face = pictureFile(flatPicture(FIF_PNG, FIT_RGBA16, 64, 0, 4096, 4096), FIF_PNG);
    const std::vector<QvDecodeJob> faces(6, QvDecodeJob{&face, {.maxSide = textureSide}, std::nullopt});
    EXPECT_TRUE(testsupport::holdsInChild([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        if (::sched_setaffinity(0, sizeof one, &one) != 0) return false;
        const std::vector<QvDecodeOutcome> outcomes = qvDecodeApartTogether(faces);
        return std::all_of(outcomes.begin(), outcomes.end(), [](const QvDecodeOutcome& outcome) {
            if (!outcome.picture) std::fprintf(stdout, "%s\n", outcome.error.c_str());
            return outcome.picture.has_value();
        });
    }));
}

// The limit that ends a decoding is named, with its figure: processor time,
// memory, and a decoder that does no work (stopped here). The program goes on.
TEST(DecoderLimits, ALimitThatEndsADecodingIsNamed)
{
    ASSERT_EQ(::setpgid(0, 0), 0);  // a process group of this test's own
    ASSERT_TRUE(qvStartDecoderProcess());
    const QvPictureFile big = pictureFile(flatPicture(FIF_PNG, FIT_BITMAP, 24, 0, 5000, 5000), FIF_PNG);
    const QvDecoderLimits plenty = qvDecoderLimits(FIF_PNG, big.header.reading, big.size);
    std::string error;
    EXPECT_FALSE(qvDecodeApart(big, textureRequest, error,
                               QvDecoderLimits{0.002, plenty.stalledSeconds, plenty.memoryBytes}));
    EXPECT_EQ(error, "the PNG decoder took longer than 0.002 s");
    EXPECT_FALSE(qvDecodeApart(big, textureRequest, error,
                               QvDecoderLimits{plenty.cpuSeconds, plenty.stalledSeconds, 16 << 20}));
    EXPECT_EQ(error, "it needs more than the 16 MiB a picture of 5000x5000 may take");
    // A decoding child stopped does no work; the decoder process ends it.
    std::thread stopper = stopWhenSeen("qvdecoding");
    EXPECT_FALSE(qvDecodeApart(big, textureRequest, error,
                               QvDecoderLimits{plenty.cpuSeconds, 0.5, plenty.memoryBytes}));
    stopper.join();
    EXPECT_EQ(error, "the PNG decoder did no work for 0.5 s");
    ASSERT_TRUE(qvDecodeApart(big, textureRequest, error)) << error;

    // The decoder process stopped says nothing more: the program gives up
    // waiting as soon, and ends it; the next picture starts another.
    stopper = stopWhenSeen("qvdecoder");
    stopper.join();
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_FALSE(qvDecodeApart(big, textureRequest, error,
                               QvDecoderLimits{plenty.cpuSeconds, 0.5, plenty.memoryBytes}));
    EXPECT_EQ(error, "the picture decoder has stopped");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
    // Ended and reaped: it is no child of ours.
    const auto ended = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (processNamed("qvdecoder") != 0 && std::chrono::steady_clock::now() < ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(processNamed("qvdecoder"), 0);
    EXPECT_TRUE(qvDecodeApart(big, textureRequest, error)) << error;
}

// Time the whole program spends stopped (a terminal's Ctrl-Z) is no stall:
// the decoding goes on where it was.
TEST(DecoderLimits, TimeTheProgramSpendsStoppedIsNoStall)
{
    const QvPictureFile big = pictureFile(flatPicture(FIF_PNG, FIT_RGBA16, 64, 0, 4096, 4096), FIF_PNG);
    const QvDecoderLimits limits = qvDecoderLimits(FIF_PNG, big.header.reading, big.size);
    const pid_t program = ::fork();
    if (program == 0) {
        std::string error;
        const bool decoded = ::setpgid(0, 0) == 0 && qvStartDecoderProcess() &&
                             qvDecodeApart(big, textureRequest, error,
                                           QvDecoderLimits{limits.cpuSeconds, 0.5, limits.memoryBytes});
        if (!decoded) std::fprintf(stdout, "%s\n", error.c_str());
        ::_exit(decoded ? 0 : 1);
    }
    ASSERT_NE(waitForProcess("qvdecoding", program), 0);
    ::kill(-program, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ::kill(-program, SIGCONT);
    int status = 0;
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A decoder that said why it failed fails every flag value alike, out of
// memory too: it is not run again.
TEST(DecoderLimits, AFailedDecodingIsNotRunAgain)
{
    const Bytes big = flatPicture(FIF_PNG, FIT_BITMAP, 24, 0, 5000, 5000);
    Bytes damaged = flatPicture(FIF_PNG, FIT_BITMAP, 24, 0, 3, 2);
    damaged[damaged.size() - 20] ^= 0xFF;  // the image data's own checksum
    for (const Bytes* file : std::initializer_list<const Bytes*>{&damaged, &big}) {
        EXPECT_TRUE(testsupport::holdsInChild([&] {
            VectorSink sink;
            const bool limited = file == &damaged || testsupport::limitAddressSpaceGrowth(16u << 20);
            const QvDecodeResult result =
                qvDecodePicture(*file, qvReadPictureHeader(*file, FIF_PNG), textureRequest, sink);
            return limited && !result.error.empty() && sink.loads == 1;
        }));
    }
}

// A little-endian TIFF of one directory and one uncompressed strip of
// `pixels`, with these fields (tag, SHORT values) beside its size and strip.
Bytes tiffFile(std::uint16_t width, std::uint16_t height,
               std::vector<std::pair<std::uint16_t, std::vector<std::uint16_t>>> fields, const Bytes& pixels)
{
    fields.push_back({256, {width}});
    fields.push_back({257, {height}});
    fields.push_back({259, {1}});
    fields.push_back({278, {height}});
    std::sort(fields.begin(), fields.end());
    const auto put = [](Bytes& bytes, std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes.push_back(std::uint8_t(value >> (8 * i)));
    };
    const std::uint32_t entries = std::uint32_t(fields.size()) + 2;
    std::uint32_t outside = 8 + 2 + 12 * entries + 4;
    Bytes head = {'I', 'I', 42, 0}, values;
    put(head, 8, 4);
    put(head, entries, 2);
    std::uint32_t pixelsAt = outside;
    for (const auto& field : fields)
        pixelsAt += field.second.size() > 2 ? 2 * std::uint32_t(field.second.size()) : 0;
    bool stripWritten = false;
    for (const auto& [tag, shorts] : fields) {
        if (tag > 273 && !stripWritten) {  // StripOffsets in its place
            put(head, 273, 2), put(head, 4, 2), put(head, 1, 4), put(head, pixelsAt, 4);
            stripWritten = true;
        }
        put(head, tag, 2), put(head, 3, 2), put(head, std::uint32_t(shorts.size()), 4);
        if (shorts.size() <= 2) {
            for (std::size_t i = 0; i < 2; ++i) put(head, i < shorts.size() ? shorts[i] : 0, 2);
        } else {
            put(head, outside, 4);
            for (const std::uint16_t value : shorts) put(values, value, 2);
            outside += 2 * std::uint32_t(shorts.size());
        }
    }
    put(head, 279, 2), put(head, 4, 2), put(head, 1, 4), put(head, std::uint32_t(pixels.size()), 4);
    put(head, 0, 4);
    head.insert(head.end(), values.begin(), values.end());
    head.insert(head.end(), pixels.begin(), pixels.end());
    return head;
}

// The decoding child prints nothing (libtiff names each tag it does not
// know) and leaves no core file when its decoder crashes, whatever the
// program's launcher allows.
TEST(DecoderProcess, TheChildLeavesNoTrace)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer build keeps the child's reports";
#endif
    const std::filesystem::path folder = testsupport::tempPath("traces");
    std::filesystem::create_directories(folder);
    // A 1x1 grey picture with a private field, 65000, and a 9x9 one of 4-bit
    // palette pixels said to have four samples: FreeImage 3.18 copies past its bitmap.
    const Bytes tagged = tiffFile(1, 1, {{258, {8}}, {262, {1}}, {277, {1}}, {65000, {7}}}, {0x80});
    std::vector<std::uint16_t> palette(3 * 16);
    for (std::size_t i = 0; i < palette.size(); ++i) palette[i] = std::uint16_t(i * 4099);
    const Bytes crashing =
        tiffFile(9, 9, {{258, {4}}, {262, {3}}, {277, {4}}, {320, palette}}, Bytes(9 * 18, 0x5A));
    int errors[2];
    ASSERT_EQ(::pipe(errors), 0);
    EXPECT_TRUE(testsupport::holdsInChild([&] {
        const rlimit anyCore{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_CORE, &anyCore);
        if (::chdir(folder.c_str()) != 0 || ::dup2(errors[1], STDERR_FILENO) < 0 || !qvStartDecoderProcess())
            return false;
        std::string read, crashed;
        const bool decoded = qvDecodeApart(tagged, {.named = FIF_TIFF, .maxSide = 16}, read).has_value();
        const bool refused = !qvDecodeApart(crashing, {.named = FIF_TIFF, .maxSide = 16}, crashed);
        if (!decoded || !refused || crashed != "the TIFF decoder crashed (signal 11)")
            std::fprintf(stdout, "%s / %s\n", read.c_str(), crashed.c_str());
        return decoded && refused && crashed == "the TIFF decoder crashed (signal 11)";
    }));
    ::close(errors[1]);
    char said[256];
    EXPECT_EQ(::read(errors[0], said, sizeof said), 0) << "the decoding child printed";
    ::close(errors[0]);
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        ADD_FAILURE() << entry.path() << " left behind";
    std::filesystem::remove_all(folder);
}

// A process that has threads by now cannot fork the decoder process safely:
// a first picture then names the reason.
TEST(DecoderProcess, StartsOnlyWhileTheProgramHasOneThread)
{
    const Bytes small = flatPicture(FIF_PNG, FIT_BITMAP, 24, 0, 4, 4);
    EXPECT_TRUE(testsupport::holdsInChild([&] {
        bool release = false;
        std::thread waiting([&] {
            while (!__atomic_load_n(&release, __ATOMIC_ACQUIRE))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        std::string error;
        const bool refused = !qvDecodeApart(small, {.named = FIF_PNG, .maxSide = textureSide}, error);
        __atomic_store_n(&release, true, __ATOMIC_RELEASE);
        waiting.join();
        return refused && error == "the picture decoder is not running";
    }));
}
