// qvpicturefile: a picture file as the program hands it to a decoding child:
// its bytes, read once into memory the child shares, where the program's own
// view of them is then read-only, the format it is decoded as, and what its
// header says. The format is decided here, once, by our own header readers;
// no decoder runs in the program.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "engine/picture/qvimageheader.h"
#include "engine/picture/qvsharedmemory.h"

// The largest picture file read: the largest picture (qvMaxPicturePixels)
// stored plainly at 16 bytes a pixel, floating-point RGBA, with room to spare
// for its header. A larger file is refused from its size, unread.
inline constexpr std::uintmax_t qvLargestPictureFile = std::uintmax_t(512) << 20;
static_assert(qvMaxPicturePixels * 16 < qvLargestPictureFile);

// The reason given for a picture whose bytes or pixels do not fit in memory.
inline constexpr char qvNoMemoryForPicture[] = "not enough memory to read it";

// The reason given for a picture when the system's limit on shared memory,
// its segments or its total, leaves no room for the picture's.
inline constexpr char qvSharedMemoryLimitReached[] =
    "the system's shared-memory limit is reached (kernel.shmmni or kernel.shmall)";

// Why a shared-memory call failed with `reason` (an errno): where memory ran
// out, qvNoMemoryForPicture; where the system's segments or its total of
// shared memory did (ENOSPC), qvSharedMemoryLimitReached.
std::string qvSharedMemoryProblem(int reason);

// A file's format and what its header says.
struct QvPictureHeader {
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    QvHeaderReading reading;
};

// The format a file's bytes are decoded as: the named one when its header
// reader knows the bytes (a size, or a reason they cannot be that picture);
// else the first format trusted with what content alone shows (qvReadByContent)
// whose reader knows them; else the named one as it is, for FreeImage to
// read (or to refuse, with its reader's reason when it has one).
QvPictureHeader qvReadPictureHeader(std::span<const std::uint8_t> file, FREE_IMAGE_FORMAT named);

// Why a picture of that size is not read: a side exceeds maxSide, or it has
// more than qvMaxPicturePixels; empty when it may be read.
std::string qvImageSizeProblem(QvImageSize size, std::uint64_t maxSide);

// Why a picture with that header is not decoded at all: its size exceeds
// maxSide or qvMaxPicturePixels (the news even in a file that could not hold
// it), or the file cannot be the picture it claims; empty when it may be.
std::string qvHeaderProblem(const QvHeaderReading& header, std::uint64_t maxSide);

struct QvPictureFile {
    QvSharedMemory memory;
    std::size_t size = 0;
    QvPictureHeader header;

    std::span<const std::uint8_t> bytes() const { return memory.bytes().first(size); }
};

// The regular file at `path`, at most qvLargestPictureFile bytes, its format
// named by its file name; nothing, with the reason in `error`, when it is no
// regular file, cannot be read, or is empty.
std::optional<QvPictureFile> qvReadPictureFile(const std::filesystem::path& path, std::string& error);
// A picture file's bytes already in the program's memory (an icon rewritten
// for FreeImage, a test's file), copied into shared memory.
std::optional<QvPictureFile> qvPictureFileOf(std::span<const std::uint8_t> bytes, FREE_IMAGE_FORMAT named,
                                             std::string& error);
