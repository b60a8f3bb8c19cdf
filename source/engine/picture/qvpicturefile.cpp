// qvpicturefile: picture files read into shared memory and told apart by our
// own header readers.
#include "engine/picture/qvpicturefile.h"

#include "engine/core/qvfiles.h"
#include "engine/picture/qvformattable.h"

#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Shared memory for `bytes`; nothing, with the reason in `error`, when there
// is none.
std::optional<QvSharedMemory> sharedMemory(std::size_t bytes, std::string& error)
{
    std::optional<QvSharedMemory> memory = QvSharedMemory::create(bytes, error);
    if (!memory) error = qvSharedMemoryProblem(errno);
    return memory;
}

// A file whose bytes are in `memory`, read-only in this process's view, with its header read.
std::optional<QvPictureFile> pictureFile(QvSharedMemory memory, std::size_t size, FREE_IMAGE_FORMAT named,
                                         std::string& error)
{
    if (size == 0) {
        error = "the file is empty";
        return std::nullopt;
    }
    if (!memory.seal()) {
        error = qvSharedMemoryProblem(errno);
        return std::nullopt;
    }
    QvPictureFile file{std::move(memory), size, {}};
    file.header = qvReadPictureHeader(file.bytes(), named);
    return file;
}

}  // namespace

std::string qvSharedMemoryProblem(int reason)
{
    // The system's "Cannot allocate memory" says less to a user than what it
    // means for the picture. Its "No space left on device" is no want of
    // memory: the system's segments or its total of shared memory are used
    // up, by any of its users, and only raising that limit helps.
    if (reason == ENOSPC) return qvSharedMemoryLimitReached;
    return reason == ENOMEM ? qvNoMemoryForPicture : std::strerror(reason);
}

QvPictureHeader qvReadPictureHeader(std::span<const std::uint8_t> file, FREE_IMAGE_FORMAT named)
{
    const auto knows = [](const QvHeaderReading& reading) { return reading.size || reading.fatal; };
    QvPictureHeader header{named, qvReadHeader(named, file)};
    if (knows(header.reading)) return header;
    for (int format = 0; format < FreeImage_GetFIFCount(); ++format) {
        if (format == named || !qvReadByContent(FREE_IMAGE_FORMAT(format))) continue;
        if (QvHeaderReading reading = qvReadHeader(FREE_IMAGE_FORMAT(format), file); knows(reading))
            return {FREE_IMAGE_FORMAT(format), std::move(reading)};
    }
    return header;
}

std::string qvImageSizeProblem(QvImageSize size, std::uint64_t maxSide)
{
    if (size.width > maxSide || size.height > maxSide) {
        return fmt::format("{}x{} is larger than the largest picture side {}", size.width, size.height,
                           maxSide);
    }
    if (size.width > 0 && size.height > qvMaxPicturePixels / size.width) {
        return fmt::format("{}x{} is more than the {} pixels of the largest picture", size.width, size.height,
                           qvMaxPicturePixels);
    }
    return {};
}

std::string qvHeaderProblem(const QvHeaderReading& header, std::uint64_t maxSide)
{
    // A size too large is the news, even in a file that could not hold it.
    if (header.size) {
        if (std::string problem = qvImageSizeProblem(*header.size, maxSide); !problem.empty()) return problem;
    }
    return header.fatal ? header.problem : std::string();
}

std::optional<QvPictureFile> qvReadPictureFile(const std::filesystem::path& path, std::string& error)
{
    std::optional<QvSharedMemory> memory;
    const std::optional<std::size_t> size =
        qvReadBoundedFileInto(path, error, qvLargestPictureFile, [&](std::size_t bytes) -> std::uint8_t* {
            memory = sharedMemory(bytes, error);
            return memory ? memory->data() : nullptr;
        });
    if (!size || !memory) return std::nullopt;
    return pictureFile(std::move(*memory), *size, FreeImage_GetFIFFromFilename(path.c_str()), error);
}

std::optional<QvPictureFile> qvPictureFileOf(std::span<const std::uint8_t> bytes, FREE_IMAGE_FORMAT named,
                                             std::string& error)
{
    std::optional<QvSharedMemory> memory = sharedMemory(bytes.size(), error);
    if (!memory) return std::nullopt;
    std::copy(bytes.begin(), bytes.end(), memory->data());
    return pictureFile(std::move(*memory), bytes.size(), named, error);
}
