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
        // A new private segment is refused as invalid only for its size,
        // above what the system allows one (kernel.shmmax): memory too.
        if (errno == EINVAL) errno = ENOMEM;
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
    // Attached again read-only in the place of the writable view, so the
    // address space never holds the bytes twice (under a hard limit on it, a
    // large picture's second copy would not fit). A view made read-only by
    // mprotect could be made writable again by another; one attached
    // read-only cannot, the system refuses it write access for good.
    return ::shmat(id_, data_, SHM_RDONLY | SHM_REMAP) != reinterpret_cast<void*>(-1);
}

bool QvSharedMemory::attachedOnlyHere() const
{
    shmid_ds status{};
    return ::shmctl(id_, IPC_STAT, &status) == 0 && status.shm_nattch == 1;
}
