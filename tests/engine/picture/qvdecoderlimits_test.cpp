// A decoding child's limits from its picture's header and file, and the budget decodings share.
#include "imagebytes.h"
#include "tempfiles.h"
#include "engine/picture/qvdecoderlimits.h"
#include "engine/picture/qvdecoderprocess.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <fstream>

TEST(DecoderLimits, ALargerFileOfTheSamePictureGetsWhatItsDataCostsMore)
{
    // What each MiB more of coded data of the same picture costs, as bench_picture_costs measured it on the
    // largest picture: processor time, and memory where the decoder holds the coded data whole.
    constexpr struct {
        FREE_IMAGE_FORMAT format;
        double cpuSecondsPerMiB, bytesPerByte;
    } measured[] = {{FIF_JPEG, 0.027, 0}, {FIF_J2K, 0.15, 1}, {FIF_JP2, 0.15, 1}, {FIF_WEBP, 0.015, 2}};
    QvHeaderReading header;
    header.size = QvImageSize{7680, 4320};
    header.bitmapBits = 24;
    constexpr double mebibyte = 1 << 20, moreMiB = 100;
    for (const auto& cost : measured) {
        SCOPED_TRACE(FreeImage_GetFormatFromFIF(cost.format));
        const QvDecoderLimits small = qvDecoderLimits(cost.format, header, std::size_t(mebibyte));
        const QvDecoderLimits large =
            qvDecoderLimits(cost.format, header, std::size_t((1 + moreMiB) * mebibyte));
        EXPECT_GE(large.cpuSeconds - small.cpuSeconds, moreMiB * cost.cpuSecondsPerMiB);
        EXPECT_GE(double(large.memoryBytes) - double(small.memoryBytes),
                  moreMiB * mebibyte * cost.bytesPerByte);
    }
}

// The budget is 2 GiB, or a larger single limit, within what memory, control group and user leave.
TEST(DecoderLimits, TheBudgetIsWhatTheSystemCanGive)
{
    constexpr std::uint64_t mib = 1 << 20, gib = 1 << 30;
    const struct {
        const char* name;
        std::uint64_t largest;
        QvMemoryRoom room;
        std::uint64_t budget;
    } cases[] = {
        {"no bound known", 300 * mib, {{}, {}, {}}, 2 * gib},
        {"a larger single limit", 3 * gib, {{}, {}, {}}, 3 * gib},
        {"less memory available", 300 * mib, {gib, {}, {}}, gib},
        {"a control group with less room", 3 * gib, {{}, 500 * mib, {}}, 500 * mib},
        {"the user's address space", 300 * mib, {{}, {}, 700 * mib}, 700 * mib},
        {"bounds above the budget", 300 * mib, {8 * gib, 4 * gib, 16 * gib}, 2 * gib},
        {"the least of them", 3 * gib, {2500 * mib, 2600 * mib, 2700 * mib}, 2500 * mib},
    };
    for (const auto& c : cases) EXPECT_EQ(qvDecodingBudget(c.largest, c.room), c.budget) << c.name;
}

// OpenEXR decodes a tile whole: the largest picture stored as one tile, of the costliest kind (32-bit floats
// with alpha), decodes apart under the limits of its header, which tells neither its size nor its kind.
TEST(DecoderLimits, AnExrOfOneTileFitsItsLimit)
{
    constexpr int width = 7680, height = 4320;
    std::string error;
    const std::optional<QvPictureFile> file =
        qvPictureFileOf(imagefixtures::oneTileExr(width, height), FIF_EXR, error);
    ASSERT_TRUE(file) << error;
    const std::optional<QvDecodedPicture> picture = qvDecodeApart(*file, {.maxSide = 16384}, error);
    ASSERT_TRUE(picture) << error;
    ASSERT_EQ(std::pair(picture->width, picture->height), std::pair(width, height));
    const std::size_t rowBytes = qvRowBytes(QvPixelLayout::rgbBottomRowFirst, width);
    ASSERT_EQ(picture->rows.size(), rowBytes * height);
    std::vector<std::uint8_t> row(rowBytes);
    for (int i = 0; i < width * 3; ++i) row[i] = 51 * (i % 3 + 1);
    int wrongRows = 0;
    for (int y = 0; y < height; ++y)
        wrongRows += !std::equal(row.begin(), row.end(), picture->rows.data() + y * rowBytes);
    EXPECT_EQ(wrongRows, 0);
}

// A control group's room is its limit less what it uses beyond the page cache the kernel takes back, never
// shared memory: a group of 768 MiB just after a sky's six faces were read, as the kernel told it (v1), then
// in v2.
TEST(DecoderLimits, AControlGroupsPageCacheIsRoom)
{
    const std::filesystem::path root = testsupport::tempPath("room");
    const auto write = [&](const char* path, const char* text) {
        std::filesystem::create_directories((root / path).parent_path());
        std::ofstream(root / path) << text;
    };
    write("proc/self/mounts",
          "cgroup /sys/fs/cgroup/memory cgroup rw,memory 0 0\ncgroup2 /v2 cgroup2 rw 0 0\n");
    write("proc/self/cgroup", "4:memory:/sky\n0::/sky\n");
    write("sys/fs/cgroup/memory/sky/memory.limit_in_bytes", "805306368");
    write("sys/fs/cgroup/memory/sky/memory.usage_in_bytes", "444596224");
    write("sys/fs/cgroup/memory/sky/memory.stat",
          "active_file 9\ntotal_active_file 441450496\ntotal_inactive_file 0");
    EXPECT_EQ(qvReadMemoryRoom(root).controlGroup.value_or(0) >> 20, 765u);
    // With 192 MiB of shared memory more, which v2 counts among its "file".
    write("v2/sky/memory.max", "805306368");
    write("v2/sky/memory.current", "645922816");
    write("v2/sky/memory.stat", "file 643301376\nshmem 201326592\nactive_file 300\ninactive_file 441450196");
    EXPECT_EQ(qvReadMemoryRoom(root).controlGroup.value_or(0) >> 20, 573u);
    std::filesystem::remove_all(root);
}
