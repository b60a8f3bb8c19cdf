// qvsharedmemory: memory a decoding child shares with the program, as System
// V segments. Files in memory (memfd, /dev/shm) cannot grow past a file-size
// limit the user's shell may set (`ulimit -f`), which is meant for the files
// the program writes; a segment has no such limit. Each segment is marked for
// removal as soon as it is made: it lives while a process has it attached and
// cannot outlive the program and its children, however they end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

class QvSharedMemory {
public:
    QvSharedMemory() = default;
    ~QvSharedMemory();
    QvSharedMemory(QvSharedMemory&& other) noexcept;
    QvSharedMemory& operator=(QvSharedMemory&& other) noexcept;
    QvSharedMemory(const QvSharedMemory&) = delete;
    QvSharedMemory& operator=(const QvSharedMemory&) = delete;

    // A new segment of `bytes` (at least one), attached for writing; nothing,
    // with the system's reason in `error` and errno, when it cannot be made
    // (ENOMEM when memory ran out, also for a size beyond the system's
    // largest segment; ENOSPC when the system's segments, kernel.shmmni, or
    // its total of shared memory, kernel.shmall, are used up). Its pages cost
    // nothing until written.
    static std::optional<QvSharedMemory> create(std::size_t bytes, std::string& error);
    // Attaches the segment of `id`, for writing or not, in a process that did
    // not make it; nothing when it cannot.
    static std::optional<QvSharedMemory> attach(int id, std::size_t bytes, bool writable);

    // From now on this process's own view of the segment is read-only, at
    // the same address, so nothing in it writes the bytes once their header
    // was read; the segment itself stays writable to whoever attaches it so
    // (a decoding child attaches a file's segment read-only, and its result's
    // for writing: it writes the rows there). False (errno set) when it
    // cannot be attached again read-only; the segment is then to be let go
    // unread, as an older system may have detached it.
    bool seal();

    // Whether no other process has the segment attached (children that
    // attached it have ended), so that none can write it.
    bool attachedOnlyHere() const;

    int id() const { return id_; }
    std::size_t size() const { return size_; }
    std::uint8_t* data() const { return data_; }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    QvSharedMemory(int id, std::uint8_t* data, std::size_t size) : id_(id), data_(data), size_(size) {}

    int id_ = -1;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};
