// qvfiles: regular files only, read through the descriptor that was checked;
// replacements through a fresh temporary file, synced, then renamed.
#include "engine/core/qvfiles.h"

#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t readChunk = 64 * 1024;
constexpr std::uintmax_t mebibyte = std::uintmax_t(1) << 20;
// Read and write permission for all, less the umask, as a file made with
// fopen gets; mkstemp alone would leave the owner the only reader.
constexpr mode_t newFileMode = 0666;
// A temporary file is "<name>.tmp-" and the six letters or digits mkostemp
// puts in place of the X's.
constexpr std::string_view tempMark = ".tmp-";
constexpr std::string_view tempLetters = "XXXXXX";
// A writer keeps touching its temporary file until it renames it; one left
// untouched this long belongs to a program killed mid-write.
constexpr std::time_t leftoverAgeSeconds = 60;

// What stands at a path of this mode instead of a file; empty for a file.
std::string kindProblem(mode_t mode)
{
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "a folder, not a file";
    if (S_ISFIFO(mode)) return "a named pipe, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a file";
    if (S_ISSOCK(mode)) return "a socket, not a file";
    return "not a regular file";
}

// Opens the file at `path` for reading into `file`, its status into `info`;
// false, with the reason in `error`, when it is no regular file or cannot be
// opened.
bool openRegularFile(const std::filesystem::path& path, QvDescriptor& file, struct stat& info,
                     std::string& error)
{
    error = qvRegularFileProblem(path);
    if (!error.empty()) return false;
    // Not blocking: should a pipe be swapped in after the check, the open
    // returns at once and the check below refuses it.
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
        error = std::strerror(errno);
        return false;
    }
    error = kindProblem(info.st_mode);
    return error.empty();
}

// At most `maxBytes` from the start of the opened `file`, whose status is
// `info`; nothing, with the system's reason in `error`, when a read fails.
std::optional<std::vector<std::uint8_t>> readOpenFile(const QvDescriptor& file, const struct stat& info,
                                                      std::uintmax_t maxBytes, std::string& error)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(std::size_t(std::min<std::uintmax_t>(
        {std::uintmax_t(std::max<off_t>(info.st_size, 0)), maxBytes, std::uintmax_t(readChunk) * 1024})));
    std::uint8_t chunk[readChunk];
    while (bytes.size() < maxBytes) {
        const ssize_t count =
            ::read(file.fd, chunk, std::size_t(std::min<std::uintmax_t>(readChunk, maxBytes - bytes.size())));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        if (count == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
    return bytes;
}

// Reads up to `bytes.size()` bytes from where the descriptor stands, through
// interruptions and short reads; the count read, fewer only at the end of
// the file, or nothing (errno set) when a read fails, also after some bytes.
std::optional<std::size_t> readFully(int fd, std::span<std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::read(fd, bytes.data() + done, std::min(bytes.size() - done, readChunk * 16));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        done += std::size_t(count);
    }
    return done;
}

// Whether a read from where the descriptor stands still gives bytes; nothing
// (errno set) when the read fails. A whole chunk is asked for: some kernel
// files take no smaller reads.
std::optional<bool> holdsMore(int fd)
{
    std::uint8_t chunk[readChunk];
    ssize_t count = 0;
    do count = ::read(fd, chunk, sizeof(chunk));
    while (count < 0 && errno == EINTR);
    if (count < 0) return std::nullopt;
    return count > 0;
}

// Why a file over `maxBytes` is refused, in words that are exactly true: in
// mebibytes only when the bound is a whole number of them.
std::string tooLargeReason(std::uintmax_t maxBytes)
{
    if (maxBytes >= mebibyte && maxBytes % mebibyte == 0)
        return fmt::format("larger than {} MiB", maxBytes / mebibyte);
    return fmt::format("larger than {} bytes", maxBytes);
}

// A file-size limit raises SIGXFSZ, whose default action ends the program.
// While this lives the signal is ignored, so that a write past the limit
// fails with EFBIG and is reported like any other failed write.
class FileSizeSignalIgnored {
public:
    FileSizeSignalIgnored()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGXFSZ, &ignore, &previous_);
    }
    ~FileSizeSignalIgnored() { ::sigaction(SIGXFSZ, &previous_, nullptr); }
    FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
    FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;

private:
    struct sigaction previous_ {};
};

// Writes every byte, through interruptions and short writes; false with
// errno set when the system refuses one.
bool writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes = bytes.subspan(std::size_t(written));
    }
    return true;
}

// "<what> <file>: <the system's reason for errno>".
std::string failure(const char* what, const std::string& file)
{
    return fmt::format("{} {}: {}", what, file, std::strerror(errno));
}

// Makes a rename in `folder` durable. Some file systems cannot sync a
// folder; the new file is in place all the same, so this is best effort.
void syncFolder(const std::filesystem::path& folder)
{
    QvDescriptor directory{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (directory.fd >= 0) ::fsync(directory.fd);
}

// The folder of `path` as the user knows it: a bare name lives in the
// working folder, which "." does not name.
std::string folderName(const std::filesystem::path& path)
{
    if (path.has_parent_path()) return path.parent_path().string();
    std::error_code ec;
    const std::filesystem::path working = std::filesystem::current_path(ec);
    return ec ? std::string(".") : working.string();
}

// Whether `entry` is `prefix` followed by as many of mkostemp's letters as it
// puts in place of the X's.
bool isTempName(std::string_view entry, std::string_view prefix)
{
    if (entry.size() != prefix.size() + tempLetters.size() || !entry.starts_with(prefix)) return false;
    entry.remove_prefix(prefix.size());
    return std::all_of(entry.begin(), entry.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

// Removes the temporary files that replacements of `fileName` in `folder`
// left when killed mid-write. Only regular files, never through a link, of
// this user and of one name (a hard link at a temporary name is a file that
// lives on under another), and only old ones, which no running program still
// writes. Best effort: one that cannot be removed stays.
void removeLeftovers(const std::filesystem::path& folder, const std::string& fileName)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), ::closedir);
    if (!directory) return;
    const std::string prefix = fileName + std::string(tempMark);
    const std::time_t oldest = std::time(nullptr) - leftoverAgeSeconds;
    while (const dirent* entry = ::readdir(directory.get())) {
        if (!isTempName(entry->d_name, prefix)) continue;
        struct stat info {};
        if (::fstatat(::dirfd(directory.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && info.st_nlink == 1 &&
            info.st_mtime < oldest) {
            ::unlinkat(::dirfd(directory.get()), entry->d_name, 0);
        }
    }
}

}  // namespace

QvDescriptor::~QvDescriptor()
{
    if (fd >= 0) ::close(fd);
}

bool QvDescriptor::close()
{
    const int closing = std::exchange(fd, -1);
    return ::close(closing) == 0;
}

std::string qvRegularFileProblem(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
    return kindProblem(info.st_mode);
}

std::optional<std::vector<std::uint8_t>> qvReadRegularFile(const std::filesystem::path& path,
                                                           std::string& error, std::uintmax_t maxBytes)
{
    QvDescriptor file;
    struct stat info {};
    if (!openRegularFile(path, file, info, error)) return std::nullopt;
    return readOpenFile(file, info, maxBytes, error);
}

std::optional<std::vector<std::uint8_t>> qvReadBoundedFile(const std::filesystem::path& path,
                                                           std::string& error, std::uintmax_t maxBytes)
{
    std::vector<std::uint8_t> bytes;
    const std::optional<std::size_t> read =
        qvReadBoundedFileInto(path, error, maxBytes, [&](std::size_t size) {
            bytes.resize(size);
            return bytes.data();
        });
    if (!read) return std::nullopt;
    bytes.resize(*read);
    return bytes;
}

std::optional<std::size_t> qvReadBoundedFileInto(const std::filesystem::path& path, std::string& error,
                                                 std::uintmax_t maxBytes,
                                                 const std::function<std::uint8_t*(std::size_t size)>& room)
{
    QvDescriptor file;
    struct stat info {};
    if (!openRegularFile(path, file, info, error)) return std::nullopt;
    // A file already too large is refused from its size, unread: a huge
    // (perhaps sparse) file costs neither the time nor the memory to read it.
    const std::uintmax_t size = std::uintmax_t(std::max<off_t>(info.st_size, 0));
    if (size > maxBytes) {
        error = tooLargeReason(maxBytes);
        return std::nullopt;
    }
    std::uint8_t* bytes = room(std::size_t(size));
    if (bytes == nullptr && size > 0) return std::nullopt;
    return qvReadSizedInto(file.fd, {bytes, std::size_t(size)}, error);
}

std::optional<std::size_t> qvReadSizedInto(int fd, std::span<std::uint8_t> bytes, std::string& error)
{
    // Only the bytes the size gives are read, and one more to tell a file
    // that holds more than that: a file of the kernel's that says it is empty
    // (a link to /proc/self/pagemap) would otherwise be read to the bound.
    const std::optional<std::size_t> read = readFully(fd, bytes);
    const std::optional<bool> more = read && *read == bytes.size() ? holdsMore(fd) : false;
    if (!read || !more) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    if (*more) {
        error = fmt::format("it holds more than the {} bytes its size says", bytes.size());
        return std::nullopt;
    }
    return read;
}

bool qvReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::string& error)
{
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::string name = path.string() + std::string(tempMark) + std::string(tempLetters);
    QvDescriptor file{::mkostemp(name.data(), O_CLOEXEC)};
    if (file.fd < 0) {
        const int reason = errno;
        const std::string where = folderName(path);
        errno = reason;
        error = failure("cannot create a temporary file in", where);
        return false;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file.fd, newFileMode & ~mask);

    bool written = false;
    {
        const FileSizeSignalIgnored sizeLimitFails;
        if (!writeAll(file.fd, bytes)) {
            error = failure("cannot write", name);
        } else if (::fsync(file.fd) != 0) {
            error = failure("cannot sync", name);
        } else {
            written = true;
        }
    }
    if (!file.close() && written) {
        error = failure("cannot write", name);
        written = false;
    }
    if (written && ::rename(name.c_str(), path.c_str()) != 0) {
        error = failure("cannot put the new file in place of", path.string());
        written = false;
    }
    if (!written) {
        ::unlink(name.c_str());
        return false;
    }
    syncFolder(folder);
    // Only once the new file is in place: tidying up never costs the user
    // the save, and our own temporary file no longer bears a temporary name.
    removeLeftovers(folder, path.filename().string());
    return true;
}
