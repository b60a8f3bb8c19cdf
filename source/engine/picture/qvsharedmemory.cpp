// qvsharedmemory: System V segments, removed as soon as they are made.
#include "engine/picture/qvsharedmemory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/shm.h>

namespace {

constexpr int ownerOnly = 0600;

std::uint8_t* attached(int id, int flags)
{
    void* address = ::shmat(id, nullptr, flags);
    return address == reinterpret_cast<void*>(-1) ? nullptr : static_cast<std::uint8_t*>(address);
}

}  // namespace

QvSharedMemory::~QvSharedMemory()
{
    if (data_ != nullptr) ::shmdt(data_);
}

QvSharedMemory::QvSharedMemory(QvSharedMemory&& other) noexcept
    : id_(std::exchange(other.id_, -1)), data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0))
{
}

QvSharedMemory& QvSharedMemory::operator=(QvSharedMemory&& other) noexcept
{
    if (this != &other) {
        QvSharedMemory gone(std::move(*this));
        id_ = std::exchange(other.id_, -1);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

std::optional<QvSharedMemory> QvSharedMemory::create(std::size_t bytes, std::string& error)
{
    bytes = std::max<std::size_t>(bytes, 1);
    const int id = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | IPC_EXCL | ownerOnly);
    if (id < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::uint8_t* data = attached(id, 0);
    const int reason = errno;
    // Linux lets a segment marked for removal be attached while one process
    // still has it: the children attach it by its id after this.
    ::shmctl(id, IPC_RMID, nullptr);
    if (data == nullptr) {
        error = std::strerror(reason);
        errno = reason;
        return std::nullopt;
    }
    return QvSharedMemory(id, data, bytes);
}

std::optional<QvSharedMemory> QvSharedMemory::attach(int id, std::size_t bytes, bool writable)
{
    shmid_ds status{};
    if (::shmctl(id, IPC_STAT, &status) != 0 || status.shm_segsz < bytes) return std::nullopt;
    std::uint8_t* data = attached(id, writable ? 0 : SHM_RDONLY);
    if (data == nullptr) return std::nullopt;
    return QvSharedMemory(id, data, bytes);
}

bool QvSharedMemory::seal()
{
    std::uint8_t* readOnly = attached(id_, SHM_RDONLY);
    if (readOnly == nullptr) return false;
    ::shmdt(std::exchange(data_, readOnly));
    return true;
}
