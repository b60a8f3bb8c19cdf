// qvfiles: reading only what is a file, and replacing a file so that it is
// never seen half written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

// Closes a descriptor when it goes out of scope.
struct QvDescriptor {
    int fd = -1;

    QvDescriptor() = default;
    explicit QvDescriptor(int owned) : fd(owned) {}
    QvDescriptor(QvDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    QvDescriptor(const QvDescriptor&) = delete;
    QvDescriptor& operator=(const QvDescriptor&) = delete;
    ~QvDescriptor();
    // Closes now; false (errno set) when the close reports a failed write.
    bool close();
};

// Why `path` cannot be read as a file: empty when it names a regular file,
// directly or through links; otherwise the system's reason, or what stands
// there instead (a folder, a named pipe, a device, a socket). Never opens the
// path, so it cannot block on a pipe or stir a device.
std::string qvRegularFileProblem(const std::filesystem::path& path);

// The contents of the regular file at `path`, at most `maxBytes` of them
// (its start); nothing, with the reason in `error`, when the path is not a
// regular file (qvRegularFileProblem) or cannot be read. The bytes come from
// the very file that was checked.
std::optional<std::vector<std::uint8_t>>
qvReadRegularFile(const std::filesystem::path& path, std::string& error,
                  std::uintmax_t maxBytes = std::numeric_limits<std::uintmax_t>::max());

// As qvReadRegularFile, but a file of more than `maxBytes` is refused whole
// ("larger than N MiB" when the bound is whole mebibytes, "larger than N
// bytes" otherwise) rather than cut short: for readers that must have all of
// a file and will not hold any size of it. A file whose size already exceeds
// the bound is refused without a byte of it read; one that holds more bytes
// than its size gives is refused after one byte more.
std::optional<std::vector<std::uint8_t>> qvReadBoundedFile(const std::filesystem::path& path,
                                                           std::string& error, std::uintmax_t maxBytes);

// As qvReadBoundedFile, into memory the caller gives: `room(size)` is called
// once the file's size is known and passes the file, and returns where its
// bytes go (at least `size` of them; none, with the reason in `error`, when
// there is no room). The bytes read, which are fewer than the size only when
// the file shrank meanwhile; nothing, with the reason in `error`, when the
// file is refused or cannot be read.
std::optional<std::size_t> qvReadBoundedFileInto(const std::filesystem::path& path, std::string& error,
                                                 std::uintmax_t maxBytes,
                                                 const std::function<std::uint8_t*(std::size_t size)>& room);
// The reading step of qvReadBoundedFileInto, from the open descriptor `fd`
// of a file whose size is `bytes.size()`: the bytes read into `bytes`, fewer
// only when the file ended early; nothing, with the reason in `error`, when
// a read fails (also after some bytes came) or the file holds more than its
// size.
std::optional<std::size_t> qvReadSizedInto(int fd, std::span<std::uint8_t> bytes, std::string& error);

// Replaces the file at `path` by `bytes`. They go to a new temporary file of
// a unique name beside it (created exclusively, so no link or pipe planted
// there is followed and no other writer shares it), which is flushed to disk
// and renamed over the name only once complete; the folder is synced after.
// A kill, a full disk or a file-size limit mid-write leaves the earlier file
// whole; such a leftover temporary file of `path` is removed by a later
// replacement once it is a minute old. On failure the temporary file is
// removed and `error` says which file or folder failed and the system's
// reason.
bool qvReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string& error);
