// qvdecoderprocess: the decoder process, its children, and what crosses
// between them and the program: a batch of requests, each with two memory
// files (the picture's bytes, and the result the child writes: a header,
// then rows), and the wait status of each child.
#include "engine/picture/qvdecoderprocess.h"

#include "engine/core/qvfiles.h"

#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <type_traits>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t mebibyte = std::uint64_t(1) << 20;
// A file of a few bytes may claim the largest picture, 7680x4320: FreeImage's
// 24-bit bitmap and our rows of it take 95 MiB each, with room left for the
// decoder's own tables. A small file, whatever it claims, costs no more.
constexpr std::uint64_t baseMemory = 256 * mebibyte;
// A larger file may hold more work: a photograph of the largest size in a
// progressive JPEG of 4:4:4 takes 10 MB or so, and its decoder keeps 200 MB
// of coefficients beside the bitmap and the rows.
constexpr std::uint64_t memoryPerFileByte = 32;
// The largest picture decodes in under a second; a small file, however
// hostile, is stopped after this much.
constexpr double baseCpuSeconds = 1.5;
// Decoding runs at tens of megabytes a second; four times slower still fits.
constexpr double cpuSecondsPerMiB = 0.25;
// A busy machine stretches processor time on the clock.
constexpr double wallPerCpu = 3;

// The result memory: this header, then from rowsAt on the rows.
struct ResultHeader {
    // The FreeImage format whose decoder runs now, FIF_UNKNOWN before any.
    std::int32_t decoder;
    // Set once everything below is written.
    std::int32_t finished;
    std::int32_t decoded;
    std::int32_t width;
    std::int32_t height;
    std::int32_t attempts;
    std::uint64_t rowBytes;
    char error[4096];
    char remarks[4096];
};
// Page aligned, so the rows can be mapped on their own.
constexpr std::size_t rowsAt = 16384;
static_assert(sizeof(ResultHeader) <= rowsAt);

// What the program sends for one picture.
struct Request {
    QvDecodeRequest decode;
    QvDecoderLimits limits;
};
static_assert(std::is_trivially_copyable_v<Request>);

// Pictures decoded side by side, each with its two memory files (the bytes,
// then the result), sent in this order with the batch.
struct Batch {
    std::uint32_t count;
    Request requests[qvMostDecodedTogether];
};
constexpr std::size_t filesPerRequest = 2;
constexpr std::size_t mostFiles = filesPerRequest * qvMostDecodedTogether;

// The decoder process's answer: each child's wait status, in batch order.
struct Reply {
    int status[qvMostDecodedTogether];
};

// The program's end of the socket to the decoder process; -1 when none runs.
int decoderSocket = -1;

// Sends `data` with up to mostFiles descriptors; false when the peer is gone.
bool sendWithFds(int socket, const void* data, std::size_t bytes, std::span<const int> fds)
{
    iovec part{const_cast<void*>(data), bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(mostFiles * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (!fds.empty()) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(fds.size() * sizeof(int));
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
        std::memcpy(CMSG_DATA(header), fds.data(), fds.size() * sizeof(int));
    }
    ssize_t sent = 0;
    do sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == ssize_t(bytes);
}

// Receives one message of at least `least` bytes into `data` and the
// descriptors sent with it (-1 where none came); the bytes received, or
// nothing when the peer is gone or sent something else.
std::optional<std::size_t> receiveWithFds(int socket, void* data, std::size_t bytes, std::size_t least,
                                          std::span<int> fds)
{
    std::fill(fds.begin(), fds.end(), -1);
    iovec part{data, bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(mostFiles * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t received = 0;
    do received = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (received < 0 && errno == EINTR);
    std::size_t kept = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        std::vector<int> sent(count);
        std::memcpy(sent.data(), CMSG_DATA(header), count * sizeof(int));
        for (const int fd : sent) {
            if (kept < fds.size())
                fds[kept++] = fd;
            else
                ::close(fd);
        }
    }
    if (received < ssize_t(least) || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
        for (int& fd : fds) ::close(std::exchange(fd, -1));
        return std::nullopt;
    }
    return std::size_t(received);
}

// Copies a text into a fixed field, cut to fit.
template <std::size_t N>
void putText(char (&field)[N], const std::string& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// ---- the decoding child ---------------------------------------------------

// The result memory, as the child writes it.
class SharedResult : public QvDecodeSink {
public:
    SharedResult(int fd, ResultHeader* header) : fd_(fd), header_(header) {}

    void decoding(FREE_IMAGE_FORMAT format) override { header_->decoder = format; }
    std::uint8_t* rows(std::size_t bytes) override
    {
        if (::ftruncate(fd_, off_t(rowsAt + bytes)) != 0) return nullptr;
        void* rows = ::mmap(nullptr, std::max<std::size_t>(bytes, 1), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_POPULATE, fd_, off_t(rowsAt));
        if (rows == MAP_FAILED) return nullptr;
        header_->rowBytes = bytes;
        return static_cast<std::uint8_t*>(rows);
    }

private:
    int fd_;
    ResultHeader* header_;
};

// Puts the child under its limits: the address space it maps now and the
// memory allowed, the processor time and the time on the clock.
void limitChild(const QvDecoderLimits& limits)
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit memory{rlim_t(pages * ::sysconf(_SC_PAGESIZE)) + limits.memoryBytes, RLIM_INFINITY};
    ::setrlimit(RLIMIT_AS, &memory);
    const auto after = [](double seconds) {
        const auto whole = time_t(seconds);
        return itimerval{{0, 0}, {whole, suseconds_t((seconds - double(whole)) * 1e6)}};
    };
    const itimerval cpu = after(limits.cpuSeconds);
    const itimerval wall = after(limits.wallSeconds);
    ::setitimer(ITIMER_PROF, &cpu, nullptr);
    ::setitimer(ITIMER_REAL, &wall, nullptr);
}

// A crash or a limit ends the child by its signal, whatever handlers the
// program had when the decoder process forked (a sanitizer's among them),
// and leaves no core file behind.
void defaultSignals()
{
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGPROF, SIGALRM, SIGPIPE}) {
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        ::sigaction(signal, &standard, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
}

// What a decoder's libraries print goes nowhere: libtiff names every tag it
// does not know each time it starts, and the C library's last words on an
// abort repeat what the picture's line says. A sanitizer's report is kept.
void silenceStandardError()
{
#if !defined(__SANITIZE_ADDRESS__)
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere >= 0) {
        ::dup2(nowhere, STDERR_FILENO);
        ::close(nowhere);
    }
#endif
}

// Decodes one picture and ends: the exit status is 0 once the result is written.
[[noreturn]] void decodeInChild(const Request& request, int fileFd, int resultFd)
{
    defaultSignals();
    silenceStandardError();
    struct stat file {};
    if (::fstat(fileFd, &file) != 0 || ::ftruncate(resultFd, rowsAt) != 0) ::_exit(1);
    const std::size_t size = std::size_t(file.st_size);
    void* bytes = size == 0 ? nullptr : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fileFd, 0);
    void* header = ::mmap(nullptr, rowsAt, PROT_READ | PROT_WRITE, MAP_SHARED, resultFd, 0);
    if (bytes == MAP_FAILED || header == MAP_FAILED) ::_exit(1);
    auto* result = static_cast<ResultHeader*>(header);
    result->decoder = FIF_UNKNOWN;
    limitChild(request.limits);
    SharedResult sink(resultFd, result);
    const QvDecodeResult decoded =
        qvDecodePicture(std::span(static_cast<const std::uint8_t*>(bytes), size), request.decode, sink);
    result->decoded = decoded.decoded ? 1 : 0;
    result->width = decoded.width;
    result->height = decoded.height;
    result->attempts = decoded.attempts;
    putText(result->error, decoded.error);
    putText(result->remarks, decoded.remarks);
    result->finished = 1;
    ::_exit(0);
}

// ---- the decoder process --------------------------------------------------

// Forks a child for each request of a batch, all at once, and answers with
// how each ended, until the program closes its end or ends.
[[noreturn]] void serve(int socket, pid_t program)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != program) ::_exit(0);
    for (;;) {
        Batch batch{};
        int fds[mostFiles];
        const std::optional<std::size_t> received =
            receiveWithFds(socket, &batch, sizeof(batch), sizeof(batch.count), fds);
        // The program sends nothing but batches: anything else means it has gone.
        if (!received) ::_exit(0);
        const std::size_t count = batch.count;
        const bool whole = count >= 1 && count <= qvMostDecodedTogether &&
                           *received == offsetof(Batch, requests) + count * sizeof(Request) &&
                           std::all_of(fds, fds + filesPerRequest * count, [](int fd) { return fd >= 0; });
        pid_t children[qvMostDecodedTogether];
        for (std::size_t i = 0; i < count && whole; ++i) {
            children[i] = ::fork();
            if (children[i] == 0) {
                ::close(socket);
                decodeInChild(batch.requests[i], fds[filesPerRequest * i], fds[filesPerRequest * i + 1]);
            }
        }
        for (const int fd : fds) ::close(fd);
        Reply reply{};
        for (std::size_t i = 0; i < count && whole; ++i) {
            reply.status[i] = -1;
            while (children[i] > 0 && ::waitpid(children[i], &reply.status[i], 0) < 0 && errno == EINTR) {}
        }
        if (!sendWithFds(socket, &reply, sizeof(reply), {})) ::_exit(0);
    }
}

// Whether this process runs on one thread, so that it may still fork.
bool singleThreaded()
{
    std::error_code error;
    std::filesystem::directory_iterator tasks("/proc/self/task", error);
    return !error && std::distance(tasks, std::filesystem::directory_iterator()) == 1;
}

// ---- the program's side ---------------------------------------------------

// Writes all of `bytes` to a descriptor.
bool writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(std::size_t(written));
    }
    return true;
}

// "the TIFF decoder", or the decoding as a whole before any decoder ran.
std::string decoderName(std::int32_t format)
{
    if (format == FIF_UNKNOWN) return "the picture decoder";
    const char* name = FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT(format));
    return fmt::format("the {} decoder", name != nullptr ? name : "picture");
}

// Seconds as a person would write them: "1.5", "0.002".
std::string secondsText(double seconds)
{
    std::string text = fmt::format("{:.3f}", seconds);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

// Why a child that ended with `status` left no result.
std::string endReason(int status, const std::string& decoder, const QvDecoderLimits& limits)
{
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGPROF)
            return fmt::format("{} took longer than {} s", decoder, secondsText(limits.cpuSeconds));
        if (signal == SIGALRM)
            return fmt::format("{} took longer than {} s on the clock", decoder,
                               secondsText(limits.wallSeconds));
        return fmt::format("{} crashed (signal {})", decoder, signal);
    }
    if (WIFEXITED(status)) return fmt::format("{} stopped (status {})", decoder, WEXITSTATUS(status));
    return fmt::format("{} could not be started", decoder);
}

}  // namespace

// Reads the result a child left; a friend of QvPixelRows, whose mapping it makes.
class QvDecoderClient {
public:
    static std::optional<QvDecodedPicture> collect(int resultFd, int status, const QvDecodeRequest& request,
                                                   const QvDecoderLimits& limits, std::string& error)
    {
        struct stat info {};
        const std::size_t size = ::fstat(resultFd, &info) == 0 ? std::size_t(info.st_size) : 0;
        void* mapping = size < rowsAt
                            ? MAP_FAILED
                            : ::mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, resultFd, 0);
        if (mapping == MAP_FAILED) {
            error =
                size < rowsAt ? endReason(status, decoderName(FIF_UNKNOWN), limits) : qvNoMemoryForPicture;
            return std::nullopt;
        }
        QvPixelRows whole(static_cast<std::uint8_t*>(mapping), size, 0, 0);
        ResultHeader result{};
        std::memcpy(&result, mapping, sizeof(result));
        result.error[sizeof(result.error) - 1] = '\0';
        result.remarks[sizeof(result.remarks) - 1] = '\0';
        const bool exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!exited || result.finished != 1) {
            error = endReason(status, decoderName(result.decoder), limits);
            return std::nullopt;
        }
        if (result.decoded != 1) {
            error = result.error;
            return std::nullopt;
        }
        const std::size_t rowBytes =
            qvRowBytes(request.layout, result.width) * std::size_t(std::max(result.height, 0));
        if (result.width <= 0 || result.height <= 0 || result.rowBytes != rowBytes ||
            size - rowsAt < rowBytes) {
            error = fmt::format("{} gave no rows of its {}x{} picture", decoderName(result.decoder),
                                result.width, result.height);
            return std::nullopt;
        }
        QvDecodedPicture picture;
        picture.width = result.width;
        picture.height = result.height;
        picture.rows = QvPixelRows(std::exchange(whole.mapping_, nullptr), size, rowsAt, rowBytes);
        picture.remarks = result.remarks;
        picture.attempts = result.attempts;
        return picture;
    }
};

QvPixelRows::QvPixelRows(std::uint8_t* mapping, std::size_t mappingBytes, std::size_t offset,
                         std::size_t size)
    : mapping_(mapping), mappingBytes_(mappingBytes), offset_(offset), size_(size)
{
}

QvPixelRows::~QvPixelRows()
{
    if (mapping_ != nullptr) ::munmap(mapping_, mappingBytes_);
}

QvPixelRows::QvPixelRows(QvPixelRows&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)), mappingBytes_(std::exchange(other.mappingBytes_, 0)),
      offset_(std::exchange(other.offset_, 0)), size_(std::exchange(other.size_, 0))
{
}

QvPixelRows& QvPixelRows::operator=(QvPixelRows&& other) noexcept
{
    if (this != &other) {
        QvPixelRows gone(std::move(*this));
        mapping_ = std::exchange(other.mapping_, nullptr);
        mappingBytes_ = std::exchange(other.mappingBytes_, 0);
        offset_ = std::exchange(other.offset_, 0);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

QvDecoderLimits qvDecoderLimits(std::size_t fileBytes)
{
    QvDecoderLimits limits;
    limits.cpuSeconds = baseCpuSeconds + cpuSecondsPerMiB * double(fileBytes) / double(mebibyte);
    limits.wallSeconds = wallPerCpu * limits.cpuSeconds;
    limits.memoryBytes = baseMemory + memoryPerFileByte * std::uint64_t(fileBytes);
    return limits;
}

bool qvStartDecoderProcess()
{
    if (decoderSocket >= 0) return true;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
    const pid_t program = ::getpid();
    const pid_t decoder = ::fork();
    if (decoder == 0) {
        ::close(ends[0]);
        serve(ends[1], program);
    }
    ::close(ends[1]);
    if (decoder < 0) {
        ::close(ends[0]);
        return false;
    }
    decoderSocket = ends[0];
    return true;
}

std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> file,
                                              const QvDecodeRequest& request, std::string& error)
{
    return qvDecodeApart(file, request, error, qvDecoderLimits(file.size()));
}

std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> file,
                                              const QvDecodeRequest& request, std::string& error,
                                              const QvDecoderLimits& limits)
{
    const QvDecodeJob job{file, request, limits};
    QvDecodeOutcome outcome = std::move(qvDecodeApartTogether(std::span(&job, 1)).front());
    error = std::move(outcome.error);
    return std::move(outcome.picture);
}

std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs)
{
    std::vector<QvDecodeOutcome> outcomes(jobs.size());
    const auto failAll = [&](const std::string& reason) {
        for (QvDecodeOutcome& outcome : outcomes) outcome = {std::nullopt, reason};
        return std::move(outcomes);
    };
    if (decoderSocket < 0 && (!singleThreaded() || !qvStartDecoderProcess()))
        return failAll("the picture decoder is not running");
    for (std::size_t first = 0; first < jobs.size(); first += qvMostDecodedTogether) {
        const std::size_t count = std::min(jobs.size() - first, qvMostDecodedTogether);
        Batch batch{};
        batch.count = std::uint32_t(count);
        std::vector<QvDescriptor> files;
        files.reserve(filesPerRequest * count);
        int fds[mostFiles];
        for (std::size_t i = 0; i < count; ++i) {
            const QvDecodeJob& job = jobs[first + i];
            batch.requests[i] = {job.request, job.limits};
            const int bytes = files.emplace_back(::memfd_create("picture", MFD_CLOEXEC)).fd;
            const int result = files.emplace_back(::memfd_create("picture rows", MFD_CLOEXEC)).fd;
            if (bytes < 0 || result < 0 || !writeAll(bytes, job.file)) return failAll(qvNoMemoryForPicture);
            fds[filesPerRequest * i] = bytes;
            fds[filesPerRequest * i + 1] = result;
        }
        Reply reply{};
        if (!sendWithFds(decoderSocket, &batch, offsetof(Batch, requests) + count * sizeof(Request),
                         std::span(fds, filesPerRequest * count)) ||
            !receiveWithFds(decoderSocket, &reply, sizeof(reply), sizeof(reply), {})) {
            // The decoder process has gone; this process may have threads by
            // now and cannot start another.
            ::close(std::exchange(decoderSocket, -1));
            return failAll("the picture decoder has stopped");
        }
        for (std::size_t i = 0; i < count; ++i) {
            QvDecodeOutcome& outcome = outcomes[first + i];
            outcome.picture =
                QvDecoderClient::collect(files[filesPerRequest * i + 1].fd, reply.status[i],
                                         jobs[first + i].request, jobs[first + i].limits, outcome.error);
        }
    }
    return outcomes;
}
