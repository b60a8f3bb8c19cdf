// Reading only regular files, and replacing a file whole: checked on the
// file system itself, with what a user's folder can hold in a file's place
// and the failures a disk can give.
#include <gtest/gtest.h>

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

struct Folder {
    fs::path path;
    explicit Folder(const std::string& name) : path(testsupport::tempPath(name))
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(path / name, std::ios::binary) << text;
    }
    std::string read(const std::string& name) const
    {
        std::ifstream in(path / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::size_t entries() const { return std::size_t(std::distance(fs::directory_iterator(path), {})); }
};

std::vector<std::uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

}  // namespace

TEST(RegularFile, ReadsFilesAndLinksToThemAndRefusesEverythingElseAtOnce)
{
    const Folder folder("regular");
    folder.write("file", "contents");
    fs::create_symlink(folder.path / "file", folder.path / "link");
    std::string error;
    for (const char* name : {"file", "link"}) {
        EXPECT_EQ(qvReadRegularFile(folder.path / name, error), bytesOf("contents")) << name;
        EXPECT_EQ(qvRegularFileProblem(folder.path / name), "") << name;
    }
    EXPECT_EQ(qvReadRegularFile(folder.path / "file", error, 3), bytesOf("con")) << "only the start when bounded";
    EXPECT_EQ(qvReadBoundedFile(folder.path / "file", error, 8), bytesOf("contents")) << "a file that fits";
    EXPECT_FALSE(qvReadBoundedFile(folder.path / "file", error, 7));
    EXPECT_EQ(error, "larger than 7 bytes") << "refused whole, not cut";

    for (const hostilefiles::StandIn& standIn : hostilefiles::standIns) {
        hostilefiles::plant(folder.path / "other", standIn);
        EXPECT_EQ(qvRegularFileProblem(folder.path / "other"), standIn.reason) << standIn.what;
        EXPECT_FALSE(qvReadRegularFile(folder.path / "other", error)) << standIn.what;
        EXPECT_EQ(error, standIn.reason) << standIn.what;
    }
}

TEST(ReplaceFile, WritesANewFileWhateverStandsBesideIt)
{
    const Folder folder("replace");
    folder.write("photo.jpeg", "old");
    folder.write("outside", "keep");
    // Where the temporary file once had a fixed name: a link out of the
    // folder and a pipe must neither be written through nor waited on.
    fs::create_symlink(folder.path / "outside", folder.path / "photo.jpeg.tmp");
    ::mkfifo((folder.path / "photo.jpeg.tmp-fifo").c_str(), 0600);
    const mode_t previousMask = ::umask(022);
    std::string error;
    EXPECT_TRUE(qvReplaceFile(folder.path / "photo.jpeg", bytesOf("new"), error)) << error;
    ::umask(previousMask);

    EXPECT_EQ(folder.read("photo.jpeg"), "new");
    EXPECT_EQ(folder.read("outside"), "keep");
    EXPECT_EQ(fs::symlink_status(folder.path / "photo.jpeg").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(folder.entries(), 4u) << "no temporary file left";
}

TEST(ReplaceFile, AFailedWriteNamesTheFileAndReasonAndKeepsTheOldFile)
{
    const Folder folder("replace_failing");
    const fs::path target = folder.path / "photo.jpeg";
    folder.write("photo.jpeg", "old");
    const std::vector<std::uint8_t> large(4096, 7);
    std::string error;

    // Past a file-size limit the write fails as a write, rather than the
    // signal's default action ending the program, and the signal is left
    // as it was.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{512, limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = qvReplaceFile(target, large, error);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.starts_with("cannot write " + target.string() + ".tmp-") &&
                error.ends_with(": File too large"))
        << error;
    struct sigaction current {};
    ::sigaction(SIGXFSZ, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
    EXPECT_EQ(folder.read("photo.jpeg"), "old");

    fs::create_directories(folder.path / "blocked" / "inside");
    EXPECT_FALSE(qvReplaceFile(folder.path / "blocked", large, error));
    EXPECT_EQ(error, "cannot put the new file in place of " + (folder.path / "blocked").string() +
                         ": Is a directory");
    EXPECT_FALSE(qvReplaceFile(folder.path / "missing" / "photo.jpeg", large, error));
    EXPECT_EQ(error, "cannot create a temporary file in " + (folder.path / "missing").string() +
                         ": No such file or directory");
    EXPECT_EQ(folder.entries(), 2u) << "no temporary file left";
}
