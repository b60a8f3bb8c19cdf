// Reading only regular files, and replacing a file whole: checked on the
// file system itself, with the things a user's folder can hold in a file's
// place and the failures a disk can give.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

#include "engine/core/qvfiles.h"
#include "hostilefiles.h"
#include "tempfiles.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder of the test's own.
fs::path scratchFolder(const std::string& name)
{
    const fs::path folder = testsupport::tempPath(name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void writeText(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

// Names in the folder other than those given: what a replacement left behind.
std::vector<std::string> strayNames(const fs::path& folder, const std::vector<std::string>& expected)
{
    std::vector<std::string> stray;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
    }
    return stray;
}

}  // namespace

TEST(RegularFile, ReadsFilesAndLinksToThemAndRefusesEverythingElseAtOnce)
{
    const fs::path folder = scratchFolder("regular");
    writeText(folder / "file", "contents");
    fs::create_symlink(folder / "file", folder / "link");
    std::string error;
    for (const char* name : {"file", "link"}) {
        const auto bytes = qvReadRegularFile(folder / name, error);
        ASSERT_TRUE(bytes) << name << ": " << error;
        EXPECT_EQ(*bytes, bytesOf("contents")) << name;
        EXPECT_EQ(qvRegularFileProblem(folder / name), "") << name;
    }
    EXPECT_EQ(qvReadRegularFile(folder / "file", error, 3), bytesOf("con")) << "only the start when bounded";

    for (const hostilefiles::StandIn& standIn : hostilefiles::standIns) {
        hostilefiles::plant(folder / "other", standIn);
        EXPECT_EQ(qvRegularFileProblem(folder / "other"), standIn.reason) << standIn.what;
        error.clear();
        EXPECT_FALSE(qvReadRegularFile(folder / "other", error)) << standIn.what;
        EXPECT_EQ(error, standIn.reason) << standIn.what;
    }
    fs::remove_all(folder);
}

TEST(ReplaceFile, WritesANewFileWhateverStandsBesideIt)
{
    const fs::path folder = scratchFolder("replace");
    const fs::path target = folder / "photo.jpeg";
    const fs::path outside = folder / "outside";
    writeText(target, "old");
    writeText(outside, "keep");
    // Where the temporary file once had a fixed name: a link out of the
    // folder and a pipe must neither be written through nor wait.
    fs::create_symlink(outside, folder / "photo.jpeg.tmp");
    ::mkfifo((folder / "photo.jpeg.tmp-fifo").c_str(), 0600);
    const mode_t previousMask = ::umask(022);

    std::string error;
    ASSERT_TRUE(qvReplaceFile(target, bytesOf("new"), error)) << error;
    ::umask(previousMask);
    EXPECT_EQ(readText(target), "new");
    EXPECT_EQ(readText(outside), "keep");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(strayNames(folder, {"photo.jpeg", "outside", "photo.jpeg.tmp", "photo.jpeg.tmp-fifo"}),
              std::vector<std::string>{});
    fs::remove_all(folder);
}

TEST(ReplaceFile, AFailedWriteNamesTheFileAndReasonAndKeepsTheOldFile)
{
    const fs::path folder = scratchFolder("replace_failing");
    const fs::path target = folder / "photo.jpeg";
    writeText(target, "old");
    const std::vector<std::uint8_t> large(4096, 7);
    std::string error;

    // A file-size limit: the write fails as a write; the signal that would
    // end the program by default is neither raised at it nor left ignored.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{512, limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = qvReplaceFile(target, large, error);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.starts_with("cannot write " + target.string() + ".tmp-")) << error;
    EXPECT_TRUE(error.ends_with(": File too large")) << error;
    struct sigaction current {};
    ::sigaction(SIGXFSZ, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
    EXPECT_EQ(readText(target), "old");

    // A folder where the file should be: the rename fails and says so.
    const fs::path blocked = folder / "blocked";
    fs::create_directories(blocked / "inside");
    EXPECT_FALSE(qvReplaceFile(blocked, large, error));
    EXPECT_EQ(error, "cannot put the new file in place of " + blocked.string() + ": Is a directory");

    // No folder at all.
    EXPECT_FALSE(qvReplaceFile(folder / "missing" / "photo.jpeg", large, error));
    EXPECT_EQ(error, "cannot create a temporary file in " + (folder / "missing").string() +
                         ": No such file or directory");
    EXPECT_EQ(strayNames(folder, {"photo.jpeg", "blocked"}), std::vector<std::string>{});
    fs::remove_all(folder);
}
