// The memory the program shares with decoding children: every segment goes with the processes
// that hold it, the program's view of a file's bytes is read-only for good and held once, and a
// segment the system cannot give is named as memory, or as its shared-memory limit where that is used up.
#include "childcheck.h"
#include "hostilefiles.h"
#include "tempfiles.h"
#include "engine/picture/qvdecoderprocess.h"
#include "engine/picture/qvpicturefile.h"
#include "engine/picture/qvsharedmemory.h"

#include <gtest/gtest.h>
#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/mman.h>
#include <sys/shm.h>

namespace {

constexpr std::size_t mebibyte = std::size_t(1) << 20;

// The ids of the segments that the process `pid` made and that still exist.
std::vector<int> segmentsMadeBy(pid_t pid)
{
    std::ifstream table("/proc/sysvipc/shm");
    std::vector<int> ids;
    for (std::string line; std::getline(table, line);) {  // the first line names the columns
        long key = 0, id = 0, mode = 0, size = 0, creator = 0;
        if (std::istringstream(line) >> key >> id >> mode >> size >> creator && creator == pid)
            ids.push_back(int(id));
    }
    return ids;
}

}  // namespace

TEST(SharedMemory, EverySegmentGoesWithTheProcessesThatHoldIt)
{
    const pid_t child = ::fork();
    if (child == 0) {
        // A file's segment and a result's, still attached when the process
        // ends, as when it crashes.
        std::string error;
        const std::optional<QvPictureFile> file =
            qvPictureFileOf(std::vector<std::uint8_t>(4096, 1), FIF_BMP, error);
        const std::optional<QvSharedMemory> result = QvSharedMemory::create(64 * mebibyte, error);
        ::_exit(file && result && segmentsMadeBy(::getpid()).size() == 2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child did not hold its two segments";
    const std::vector<int> left = segmentsMadeBy(child);
    EXPECT_EQ(left.size(), 0u) << "segments outlive the process that made them";
    for (const int id : left) ::shmctl(id, IPC_RMID, nullptr);
}

TEST(SharedMemory, AFilesBytesAreMappedOnceReadOnlyForGood)
{
    std::vector<std::uint8_t> bytes(3 * 4096 + 5);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7);
    std::string error;
    const std::optional<QvPictureFile> file = qvPictureFileOf(bytes, FIF_BMP, error);
    ASSERT_TRUE(file) << error;
    EXPECT_TRUE(std::ranges::equal(bytes, file->bytes()));
    // This process's mappings of the file's segment, as "start permissions".
    std::vector<std::string> mappings;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        std::string range, permissions, offset, device, inode, name;
        std::istringstream(line) >> range >> permissions >> offset >> device >> inode >> name;
        if (name.starts_with("/SYSV") && inode == std::to_string(file->memory.id()))
            mappings.push_back(range.substr(0, range.find('-')) + " " + permissions);
    }
    EXPECT_EQ(mappings,
              std::vector{fmt::format("{:x} r--s", reinterpret_cast<std::uintptr_t>(file->bytes().data()))});
    // A mapping made read-only by mprotect could be made writable again.
    const int made = ::mprotect(file->memory.data(), file->memory.size(), PROT_READ | PROT_WRITE),
              reason = errno;
    EXPECT_EQ(std::pair(made, reason), std::pair(-1, EACCES));
}

TEST(SharedMemory, AFileIsReadInLittleMoreRoomThanItsSizeAndNoRoomIsNamedAsMemory)
{
    constexpr std::size_t fileBytes = 64 * mebibyte;
    const std::filesystem::path path = testsupport::tempPath("large.bin");
    hostilefiles::plantLarge(path, fileBytes);
    for (const auto& [headroom, expected] :
         {std::pair<std::size_t, std::string>{fileBytes + 16 * mebibyte, ""},
          {fileBytes - 16 * mebibyte, qvNoMemoryForPicture}}) {
        EXPECT_TRUE(testsupport::holdsInChild([&] {
            if (!testsupport::limitAddressSpaceGrowth(headroom)) return false;
            std::string error;
            const std::optional<QvPictureFile> file = qvReadPictureFile(path, error);
            const bool held = expected.empty() ? file && file->size == fileBytes : !file && error == expected;
            if (!held)
                std::fprintf(stderr, "with %zu MiB to spare: \"%s\"\n", headroom / mebibyte, error.c_str());
            return held;
        }));
    }
    std::filesystem::remove(path);
    // A segment larger than the system allows any (kernel.shmmax) is memory
    // it cannot give, as it is for a picture whose rows need one.
    std::string error;
    const bool made = QvSharedMemory::create(std::numeric_limits<std::size_t>::max(), error).has_value();
    const int reason = errno;
    EXPECT_EQ(std::pair(made, reason), std::pair(false, ENOMEM));
    EXPECT_EQ(error, "Cannot allocate memory");
}

// The system's segments or its total of shared memory used up (any user can) are named as its limit, not as
// memory: in an IPC namespace of the test's own, whose limit holds a picture's file and not its result.
TEST(SharedMemory, TheSystemsLimitUsedUpIsNamedAsItsLimit)
{
    if (::geteuid() != 0) GTEST_SKIP() << "an IPC namespace's limits are set by root";
    const std::uint8_t pbm[] = "P1\n1 1\n1\n";
    for (const char* limit : {"shmmni", "shmall"}) {  // segments, pages
        EXPECT_EQ(testsupport::reportInChild([&] {
                      std::string error = "no namespace of its own";
                      if (::unshare(CLONE_NEWIPC) == 0 &&
                          std::ofstream(fmt::format("/proc/sys/kernel/{}", limit)) << 1 << std::flush)
                          qvDecodeApart(std::span(pbm, sizeof pbm - 1), FIF_PBM, {.maxSide = 16}, error);
                      return error;
                  }),
                  "the system's shared-memory limit is reached (kernel.shmmni or kernel.shmall)")
            << limit;
    }
}
