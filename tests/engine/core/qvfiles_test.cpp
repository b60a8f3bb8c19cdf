// Reading only regular files, and replacing a file whole: checked on the
// file system itself, with what a user's folder can hold in a file's place
// and the failures a disk can give.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "engine/core/qvfiles.h"
#include "hostilefiles.h"
#include "childcheck.h"
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
    EXPECT_EQ(qvReadRegularFile(folder.path / "file", error, 3), bytesOf("con"))
        << "only the start when bounded";
    EXPECT_EQ(qvReadBoundedFile(folder.path / "file", error, 8), bytesOf("contents")) << "a file that fits";
    EXPECT_FALSE(qvReadBoundedFile(folder.path / "file", error, 7));
    EXPECT_EQ(error, "larger than 7 bytes") << "refused whole, not cut";
    // A kernel file that says it is empty and holds megabytes is read only to
    // its size; one whose read fails is named with the system's reason.
    for (const auto& [kernelFile, reason] :
         {std::pair{"/proc/self/pagemap", "it holds more than the 0 bytes its size says"},
          std::pair{"/proc/self/mem", "Input/output error"}}) {
        EXPECT_FALSE(qvReadBoundedFile(kernelFile, error, std::uintmax_t(512) << 20));
        EXPECT_EQ(error, reason);
    }
    // A huge file is refused from its size, unread (reading it would outlast
    // the alarm), its limit named exactly.
    hostilefiles::plantLarge(folder.path / "huge", std::uintmax_t(4) << 30);
    for (const auto& [limit, reason] :
         {std::pair<std::uintmax_t, std::string>{std::uintmax_t(4095) << 20, "larger than 4095 MiB"},
          {(std::uintmax_t(4) << 30) - 1, "larger than 4294967295 bytes"}}) {
        EXPECT_TRUE(testsupport::holdsInChild([&] {
            ::alarm(1);
            return !qvReadBoundedFile(folder.path / "huge", error, limit) && error == reason;
        })) << reason;
    }

    for (const hostilefiles::StandIn& standIn : hostilefiles::standIns) {
        hostilefiles::plant(folder.path / "other", standIn);
        EXPECT_EQ(qvRegularFileProblem(folder.path / "other"), standIn.reason) << standIn.what;
        EXPECT_FALSE(qvReadRegularFile(folder.path / "other", error)) << standIn.what;
        EXPECT_EQ(error, standIn.reason) << standIn.what;
    }
}

TEST(RegularFile, APipeSwappedInAfterTheCheckIsRefusedNotWaitedOn)
{
    // A thread swaps a pipe and the file as fast as it can while reads go on: each read gives the
    // file's bytes or refuses the pipe; one that waited on it ends in the alarm, so this runs in a child.
    const Folder folder("swapped");
    folder.write("file", "contents");
    ::mkfifo((folder.path / "pipe").c_str(), 0600);
    const fs::path target = folder.path / "target", next = folder.path / "next";
    fs::create_hard_link(folder.path / "file", target);
    EXPECT_TRUE(testsupport::holdsInChild([&] {
        ::alarm(5);
        std::atomic<bool> done = false;
        std::thread swapper([&] {
            for (int i = 0; !done; ++i) {
                ::link((folder.path / (i % 2 ? "file" : "pipe")).c_str(), next.c_str());
                ::rename(next.c_str(), target.c_str());
            }
        });
        bool right = true;
        std::string error;
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
             right && std::chrono::steady_clock::now() < end;) {
            const std::optional<std::vector<std::uint8_t>> bytes = qvReadRegularFile(target, error);
            right = bytes ? *bytes == bytesOf("contents") : error == "a named pipe, not a file";
        }
        done = true;
        swapper.join();
        return right;
    }));
}

TEST(RegularFile, AReadThatFailsAfterSomeBytesIsAnErrorNotAShortFile)
{
    // No regular file fails mid-read on demand; a socket does: its peer sends some bytes and closes
    // with a byte it was sent unread, so the reader gets the bytes, then the connection's reset.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const QvDescriptor reader{pair[0]};
    QvDescriptor peer{pair[1]};
    // A read that waited for ever would fail the test rather than hang it.
    const timeval patience{10, 0};
    ASSERT_EQ(::setsockopt(reader.fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience)), 0);
    ASSERT_EQ(::write(peer.fd, "first", 5), 5);
    ASSERT_EQ(::write(reader.fd, "x", 1), 1);
    peer.close();

    std::vector<std::uint8_t> bytes(16, '-');
    std::string error;
    EXPECT_FALSE(qvReadSizedInto(reader.fd, bytes, error)) << "taken as a file of 5 bytes";
    EXPECT_EQ(error, "Connection reset by peer");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "first-----------") << "read before the reset";
}

TEST(ReplaceFile, WritesANewFileWhateverStandsBesideItAndRemovesOnlyItsOwnOldLeftovers)
{
    constexpr uid_t nobody = 65534;
    const Folder folder("replace");
    folder.write("photo.jpeg", "old");
    folder.write("outside", "keep");
    // Where the temporary file once had a fixed name: a link out of the folder, not written through.
    fs::create_symlink(folder.path / "outside", folder.path / "photo.jpeg.tmp");
    // Temporary files of replacements killed mid-write, and what only looks like one: at a name the
    // program could choose, a link or a pipe is neither written through, waited on nor removed, and
    // a hard link is a file that lives on under its other name.
    const std::string removed = "photo.jpeg.tmp-Ab3xZ9";
    std::vector<std::string> kept = {
        "photo.jpeg.tmp-young1",  "photo.jpeg.tmp-Link01", "photo.jpeg.tmp-Pipe01", "photo.jpeg.tmp-Hard01",
        "photo.jpeg.tmp-ABCDEFG", "photo.jpeg.tmp-ab_d.f", "photo.webp.tmp-ABCDEF"};
    // Another user's, in a folder both may write (only root can make one).
    if (::geteuid() == 0) kept.push_back("photo.jpeg.tmp-Other1");
    // Two minutes old, a link itself rather than what it names.
    const auto age = [&](const std::string& name) {
        const timespec old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
        ::utimensat(AT_FDCWD, (folder.path / name).c_str(), old, AT_SYMLINK_NOFOLLOW);
    };
    folder.write("saved", "saved");
    folder.write(removed, "leftover");
    age(removed);
    for (const std::string& name : kept) {
        if (name.ends_with("Link01"))
            fs::create_symlink(folder.path / "outside", folder.path / name);
        else if (name.ends_with("Pipe01"))
            ::mkfifo((folder.path / name).c_str(), 0600);
        else if (name.ends_with("Hard01"))
            fs::create_hard_link(folder.path / "saved", folder.path / name);
        else
            folder.write(name, "leftover");
        if (name.ends_with("Other1")) ::lchown((folder.path / name).c_str(), nobody, nobody);
        if (!name.ends_with("young1")) age(name);
    }
    // What the old link names is old too: a removal that followed the link would find an old file.
    age("outside");
    const mode_t previousMask = ::umask(022);
    std::string error;
    EXPECT_TRUE(qvReplaceFile(folder.path / "photo.jpeg", bytesOf("new"), error)) << error;
    ::umask(previousMask);

    EXPECT_EQ(folder.read("photo.jpeg"), "new");
    EXPECT_EQ(folder.read("outside"), "keep");
    EXPECT_EQ(fs::symlink_status(folder.path / "photo.jpeg").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder.path / removed)));
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(fs::symlink_status(folder.path / name))) << name;
    EXPECT_EQ(folder.read("photo.jpeg.tmp-Link01"), "keep");
    EXPECT_EQ(folder.read("photo.jpeg.tmp-Hard01"), "saved");
    EXPECT_EQ(folder.entries(), 4 + kept.size()) << "no temporary file left";
}

TEST(ReplaceFile, AFailedWriteNamesTheFileAndReasonAndKeepsTheOldFile)
{
    const Folder folder("replace_failing");
    const fs::path target = folder.path / "photo.jpeg";
    folder.write("photo.jpeg", "old");
    const std::vector<std::uint8_t> large(4096, 7);
    std::string error;

    // Past a file-size limit the write fails as a write, rather than the signal's default action
    // ending the program, and the signal is left as it was.
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
    // A bare name lives in the working folder, named by its full path.
    const fs::path working = fs::current_path();
    fs::current_path(folder.path);
    const bool replaced = qvReplaceFile(std::string(250, 'n'), large, error);
    fs::current_path(working);
    EXPECT_FALSE(replaced);
    EXPECT_EQ(error, "cannot create a temporary file in " + fs::canonical(folder.path).string() +
                         ": File name too long");
    EXPECT_EQ(folder.entries(), 2u) << "no temporary file left";
}
