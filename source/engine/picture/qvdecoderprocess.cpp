// qvdecoderprocess: the decoder process, its children, and what crosses
// between them and the program: a batch of requests, each naming two shared
// segments (the picture's bytes, and the result the child writes: a header,
// then rows), and how each child ended.
#include "engine/picture/qvdecoderprocess.h"

#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <type_traits>
#include <utility>

#include <fcntl.h>
#include <ctime>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// A decoding child that reaches its memory limit sees a failed allocation, as
// in the release build, instead of the sanitizer's report of it.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif

namespace {

constexpr std::uint64_t mebibyte = std::uint64_t(1) << 20;

// ---- limits ---------------------------------------------------------------

// What a format's decoder holds and does beyond its bitmap.
struct FormatCost {
    FREE_IMAGE_FORMAT format;
    // Bits of the largest pixel its decoder makes, for a picture whose
    // header does not tell.
    std::uint32_t largestBits;
    // Bytes each sample of the picture costs inside the decoder: JPEG's
    // 16-bit coefficients of a progressive file, JPEG 2000's 32-bit samples.
    double decoderBytesPerSample;
    // Memory in proportion to the file: coded data a decoder may hold whole.
    double bytesPerFileByte;
    // Processor time in proportion to the file, where decoding work grows
    // with the coded data as well as with the pixels.
    double cpuSecondsPerFileMiB;
};
// Measured for the largest picture of each kind (bench_picture_costs).
constexpr FormatCost formatCosts[] = {
    {FIF_JPEG, 32, 2, 0, 0.03},
    {FIF_J2K, 64, 4, 1, 0.2},
    {FIF_JP2, 64, 4, 1, 0.2},
    {FIF_TIFF, 128, 0, 0, 0.01},
    {FIF_PNG, 64, 0, 0, 0.01},
    {FIF_HDR, 96, 0, 0, 0.01},
    {FIF_EXR, 128, 0, 0, 0.01},
    {FIF_PFM, 96, 0, 0, 0.01},
    {FIF_PSD, 128, 0, 0, 0.01},
    {FIF_PGM, 16, 0, 0, 0.01},
    {FIF_PGMRAW, 16, 0, 0, 0.01},
    {FIF_PPM, 48, 0, 0, 0.01},
    {FIF_PPMRAW, 48, 0, 0, 0.01},
    {FIF_JXR, 128, 0, 0, 0.01},
    {FIF_RAW, 48, 0, 0, 0.01},
    // libwebp's lossless decoder holds every pixel as 32-bit ARGB and again
    // in its output buffer before FreeImage copies it; FreeImage holds the
    // file twice (read whole, then copied apart into its container).
    {FIF_WEBP, 32, 2, 2, 0.02},
    // A BMP of colour masks or 16 bits goes to FreeImage rewritten as 32-bit
    // pixels (qvRewriteForFreeImage): a second file, and a larger bitmap.
    {FIF_BMP, 32, 2, 0, 0.01},
};
constexpr FormatCost otherFormats{FIF_UNKNOWN, 32, 0, 0, 0.01};

// The decoders' tables, the libraries' own buffers and our code's.
constexpr double tableMemory = 64 << 20;
// Beyond its bitmap a picture is held once more as 24-bit RGB while it is
// converted, and floating point once more as the tone mapper's working copy.
constexpr double convertedBytesPerPixel = 3;
constexpr double floatWorkBytesPerPixel = 12;
// Room above what the largest pictures measured.
constexpr double memoryMargin = 1.25;
// Processor time for each byte of pixels handled, and room above it: a
// slower machine than the one measured still decodes every valid picture.
constexpr double cpuSecondsPerPixelByte = 0.006e-6;
constexpr double cpuMargin = 3;
constexpr double cpuSecondsLeast = 1;
// Decoding bytes in memory never waits: a decoder that has not worked for
// this long no longer works.
constexpr double stalledSecondsDefault = 20;

#if defined(__SANITIZE_ADDRESS__)
// Our instrumented code runs several times slower, and the sanitizer's
// allocator keeps freed memory in quarantine for a while.
constexpr double instrumentedCpu = 3;
constexpr double instrumentedMemory = 2;
#else
constexpr double instrumentedCpu = 1;
constexpr double instrumentedMemory = 1;
#endif

const FormatCost& costOf(FREE_IMAGE_FORMAT format)
{
    for (const FormatCost& cost : formatCosts)
        if (cost.format == format) return cost;
    return otherFormats;
}

// Samples of a pixel of `bits`: 8-bit samples up to 32 bits, 16-bit ones
// above (48 is RGB16, 64 RGBA16), 32-bit floats from 96 on.
double samplesOf(double bits)
{
    return bits <= 32 ? std::max(1.0, bits / 8) : bits < 96 ? bits / 16 : bits / 32;
}

// ---- what crosses ---------------------------------------------------------

// The result segment: this header, then from rowsAt on the rows.
struct ResultHeader {
    // The FreeImage format whose decoder runs now, FIF_UNKNOWN before any.
    std::int32_t decoder;
    // Set once everything below is written.
    std::int32_t finished;
    std::int32_t width;
    std::int32_t height;
    std::uint64_t rowBytes;
    // Empty once the rows are written.
    char error[4096];
    char remarks[4096];
};
// Page aligned, so the rows start on a page of their own.
constexpr std::size_t rowsAt = 16384;
static_assert(sizeof(ResultHeader) <= rowsAt);

// What the program sends for one picture: what is asked, the picture's
// format and size as the program read them, its limits, and its segments.
struct Request {
    QvDecodeRequest decode;
    QvDecoderLimits limits;
    std::int32_t format;
    std::uint8_t sized;
    std::uint64_t width;
    std::uint64_t height;
    // Why the bytes are not of that format, when they are not (a fatal
    // problem never gets here).
    char notOfFormat[512];
    std::int32_t fileSegment;
    std::uint64_t fileBytes;
    std::int32_t resultSegment;
    std::uint64_t resultBytes;
};
static_assert(std::is_trivially_copyable_v<Request>);

struct Batch {
    std::uint32_t count;
    Request requests[qvMostDecodedTogether];
};

// How a child ended: its wait status, and whether the decoder process ended
// it for doing no work.
struct Ending {
    int status;
    std::int32_t stalled;
};
// The decoder process's answer, in batch order.
struct Reply {
    Ending endings[qvMostDecodedTogether];
};
// The decoder process's first words: who it is, so that the program can end
// it should it stop answering.
struct Hello {
    pid_t decoder;
};

// How the decoder process and its children show in a process list.
constexpr char decoderProcessName[] = "qvdecoder";
constexpr char decodingChildName[] = "qvdecoding";

// Time is counted in slices: a wait that overslept (the process was stopped,
// or not scheduled) counts one slice only.
constexpr int sliceMs = 100;

// Sends `bytes` of `data`; false when the peer is gone.
bool sendAll(int socket, const void* data, std::size_t bytes)
{
    ssize_t sent = 0;
    do sent = ::send(socket, data, bytes, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == ssize_t(bytes);
}

// Receives one message into `data`; the bytes received, or nothing when the
// peer is gone or sent more than fits.
std::optional<std::size_t> receive(int socket, void* data, std::size_t bytes)
{
    ssize_t received = 0;
    do received = ::recv(socket, data, bytes, MSG_TRUNC);
    while (received < 0 && errno == EINTR);
    if (received <= 0 || std::size_t(received) > bytes) return std::nullopt;
    return std::size_t(received);
}

// Counts time in capped slices (see sliceMs) until a deadline: time in
// which this process itself was stopped or not scheduled counts one slice.
class AwakeClock {
public:
    explicit AwakeClock(double seconds) : seconds_(seconds) { restart(); }
    void restart()
    {
        left_ = std::chrono::duration<double>(seconds_);
        last_ = std::chrono::steady_clock::now();
    }
    // Counts the time since the last call; false once the deadline is passed.
    bool tick()
    {
        const auto now = std::chrono::steady_clock::now();
        left_ -= std::min<std::chrono::duration<double>>(now - last_, std::chrono::milliseconds(sliceMs));
        last_ = now;
        return left_.count() > 0;
    }

private:
    double seconds_;
    std::chrono::duration<double> left_{};
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// The processor time a child has used so far; nothing once it has ended.
std::optional<std::chrono::nanoseconds> cpuTimeOf(pid_t child)
{
    clockid_t clock{};
    timespec used{};
    if (::clock_getcpuclockid(child, &clock) != 0 || ::clock_gettime(clock, &used) != 0) return std::nullopt;
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

// Copies a text into a fixed field, cut to fit.
template <std::size_t N>
void putText(char (&field)[N], const std::string& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}
template <std::size_t N>
std::string getText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

// "the TIFF decoder", or the decoding as a whole before any decoder ran.
std::string decoderName(std::int32_t format)
{
    const char* name =
        format == FIF_UNKNOWN ? nullptr : FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT(format));
    return name != nullptr ? fmt::format("the {} decoder", name) : "the picture decoder";
}

// Seconds as a person would write them: "1.5", "0.002".
std::string secondsText(double seconds)
{
    std::string text = fmt::format("{:.3f}", seconds);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

// ---- the decoding child ---------------------------------------------------

// The result segment, as the child writes it.
class SharedResult : public QvDecodeSink {
public:
    explicit SharedResult(QvSharedMemory& memory)
        : memory_(memory), header_(reinterpret_cast<ResultHeader*>(memory.data()))
    {
        header_->decoder = FIF_UNKNOWN;
    }

    ResultHeader& header() { return *header_; }
    // Whether the decoder gave more rows than the program made room for.
    bool overflowed() const { return overflowed_; }

    void decoding(FREE_IMAGE_FORMAT format) override { header_->decoder = format; }
    std::uint8_t* rows(int width, int height, std::size_t bytes) override
    {
        header_->width = width;
        header_->height = height;
        header_->rowBytes = bytes;
        overflowed_ = bytes > memory_.size() - rowsAt;
        return overflowed_ ? nullptr : memory_.data() + rowsAt;
    }

private:
    QvSharedMemory& memory_;
    ResultHeader* header_;
    bool overflowed_ = false;
};

// Puts the child under its limits: the address space it maps now and the
// memory allowed (under the limits the user's system set, which it keeps),
// and the processor time. The clock is the decoder process's to watch. The
// memory it may add, in bytes.
std::uint64_t limitChild(const QvDecoderLimits& limits)
{
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    const rlim_t mapped = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE));
    rlimit memory{};
    ::getrlimit(RLIMIT_AS, &memory);
    const rlim_t wanted = mapped + rlim_t(double(limits.memoryBytes) * instrumentedMemory);
    memory.rlim_cur = memory.rlim_cur == RLIM_INFINITY ? wanted : std::min(wanted, memory.rlim_cur);
    ::setrlimit(RLIMIT_AS, &memory);
    const double seconds = limits.cpuSeconds * instrumentedCpu;
    const auto whole = time_t(seconds);
    const itimerval cpu{{0, 0}, {whole, suseconds_t((seconds - double(whole)) * 1e6)}};
    ::setitimer(ITIMER_PROF, &cpu, nullptr);
    return std::min<std::uint64_t>(limits.memoryBytes,
                                   memory.rlim_cur > mapped ? memory.rlim_cur - mapped : 0);
}

// A crash or a limit ends the child by its signal, whatever handlers and
// blocked signals the program had when the decoder process started (a
// sanitizer's handlers among them), and leaves no core file behind.
void defaultSignals()
{
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGPROF, SIGPIPE, SIGXFSZ}) {
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

// Why a decoding that ran out of the memory it was allowed, `allowed` bytes
// beside what it had mapped, did: that limit, with its figure.
std::string memoryLimitReason(const Request& request, std::uint64_t allowed)
{
    const std::uint64_t mib = (allowed + mebibyte - 1) / mebibyte;
    if (request.sized != 0)
        return fmt::format("it needs more than the {} MiB a picture of {}x{} may take", mib, request.width,
                           request.height);
    return fmt::format("it needs more than the {} MiB a {} picture may take", mib,
                       FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT(request.format)));
}

// Decodes one picture and ends: the exit status is 0 once the result is written.
[[noreturn]] void decodeInChild(const Request& request, pid_t decoder)
{
    // Ends with the decoder process, which ends with the program.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::prctl(PR_SET_NAME, decodingChildName);
    if (::getppid() != decoder) ::_exit(1);
    defaultSignals();
    silenceStandardError();
    const std::optional<QvSharedMemory> file =
        QvSharedMemory::attach(request.fileSegment, request.fileBytes, false);
    std::optional<QvSharedMemory> result =
        QvSharedMemory::attach(request.resultSegment, request.resultBytes, true);
    if (!file || !result) ::_exit(1);
    SharedResult sink(*result);
    QvPictureHeader header{FREE_IMAGE_FORMAT(request.format), {}};
    if (request.sized != 0) header.reading.size = QvImageSize{request.width, request.height};
    header.reading.problem = getText(request.notOfFormat);
    const std::uint64_t allowed = limitChild(request.limits);
    errno = 0;
    QvDecodeResult decoded = qvDecodePicture(file->bytes(), header, request.decode, sink);
    // An allocation that failed under our limit leaves ENOMEM behind, whatever
    // words the decoder found for it.
    if (!decoded.error.empty() && (errno == ENOMEM || decoded.error == qvNoMemoryForPicture))
        decoded.error =
            sink.overflowed()
                ? fmt::format("{} gave a {}x{} picture, larger than its header says",
                              decoderName(sink.header().decoder), sink.header().width, sink.header().height)
                : memoryLimitReason(request, allowed);
    putText(sink.header().error, decoded.error);
    putText(sink.header().remarks, decoded.remarks);
    sink.header().finished = 1;
    ::_exit(0);
}

// ---- the decoder process --------------------------------------------------

// The children of one batch, started together and waited for together.
class RunningBatch {
public:
    RunningBatch(const Batch& batch, int signals) : batch_(batch), signals_(signals) {}

    // Forks a child for each request; the child keeps nothing of the
    // decoder process's own descriptors.
    void start(int socket)
    {
        const pid_t self = ::getpid();
        for (std::size_t i = 0; i < batch_.count; ++i) {
            reply_.endings[i] = {-1, 0};
            children_[i] = ::fork();
            if (children_[i] == 0) {
                ::close(socket);
                ::close(signals_);
                decodeInChild(batch_.requests[i], self);
            }
        }
    }

    // Waits until every child has ended, ending those that stop working
    // (their stalled clock runs out while their processor time stands
    // still), and tells the program it is alive as it waits. False when the
    // program has gone meanwhile (the children are then ended).
    bool wait(int socket)
    {
        std::vector<AwakeClock> stalled;
        std::vector<std::chrono::nanoseconds> worked(batch_.count);
        for (std::size_t i = 0; i < batch_.count; ++i)
            stalled.emplace_back(batch_.requests[i].limits.stalledSeconds);
        while (reap()) {
            pollfd watched[] = {{signals_, POLLIN, 0}, {socket, POLLIN, 0}};
            if (::poll(watched, 2, sliceMs) > 0) {
                signalfd_siginfo drained[8];
                if ((watched[0].revents & POLLIN) != 0) (void)!::read(signals_, drained, sizeof(drained));
                // The program sends nothing while it waits: it has gone.
                if (watched[1].revents != 0) {
                    endAll();
                    return false;
                }
            }
            for (std::size_t i = 0; i < batch_.count; ++i) {
                const std::optional<std::chrono::nanoseconds> used =
                    children_[i] > 0 ? cpuTimeOf(children_[i]) : std::nullopt;
                if (used && *used != worked[i]) {
                    worked[i] = *used;
                    stalled[i].restart();
                }
                if (children_[i] > 0 && !stalled[i].tick() && reply_.endings[i].stalled == 0) {
                    ::kill(children_[i], SIGKILL);
                    reply_.endings[i].stalled = 1;
                }
            }
            const char alive = 0;
            if (!sendAll(socket, &alive, sizeof(alive))) {
                endAll();
                return false;
            }
        }
        return true;
    }

    const Reply& reply() const { return reply_; }

private:
    // Collects the children that have ended; whether any still runs.
    bool reap()
    {
        bool running = false;
        for (std::size_t i = 0; i < batch_.count; ++i) {
            if (children_[i] <= 0) continue;
            const pid_t ended = ::waitpid(children_[i], &reply_.endings[i].status, WNOHANG);
            if (ended == children_[i] || (ended < 0 && errno != EINTR))
                children_[i] = 0;
            else
                running = true;
        }
        return running;
    }

    void endAll()
    {
        for (std::size_t i = 0; i < batch_.count; ++i) {
            if (children_[i] > 0) {
                ::kill(children_[i], SIGKILL);
                ::waitpid(children_[i], nullptr, 0);
            }
        }
    }

    const Batch& batch_;
    int signals_;
    pid_t children_[qvMostDecodedTogether] = {};
    Reply reply_{};
};

// Forks a child for each request of a batch, all at once, and answers with
// how each ended, until the program closes its end or ends.
[[noreturn]] void serve(int socket)
{
    ::prctl(PR_SET_NAME, decoderProcessName);
    // Children are waited for here, whatever the program's launcher left of
    // SIGCHLD: ignored, it would reap them before their status is read.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &standard, nullptr);
    sigset_t childSignals;
    sigemptyset(&childSignals);
    sigaddset(&childSignals, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &childSignals, nullptr);
    const int signals = ::signalfd(-1, &childSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    const Hello hello{::getpid()};
    if (signals < 0 || !sendAll(socket, &hello, sizeof(hello))) ::_exit(0);
    for (;;) {
        Batch batch{};
        const std::optional<std::size_t> received = receive(socket, &batch, sizeof(batch));
        // The program sends nothing but batches: anything else means it has gone.
        if (!received || batch.count < 1 || batch.count > qvMostDecodedTogether ||
            *received != offsetof(Batch, requests) + batch.count * sizeof(Request))
            ::_exit(0);
        RunningBatch running(batch, signals);
        running.start(socket);
        if (!running.wait(socket) || !sendAll(socket, &running.reply(), sizeof(Reply))) ::_exit(0);
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

// The program's end of the socket to the decoder process; -1 when none runs.
int decoderSocket = -1;
// The decoder process, once it has said who it is.
pid_t decoderPid = 0;

// Ends the decoder process, which no longer answers, and forgets it.
void dropDecoder()
{
    if (decoderPid > 0) ::kill(decoderPid, SIGKILL);
    ::close(std::exchange(decoderSocket, -1));
    decoderPid = 0;
}

// Why a child that ended so left no result.
std::string endReason(const Ending& ending, std::int32_t decoder, const QvDecoderLimits& limits)
{
    const std::string name = decoderName(decoder);
    const int status = ending.status;
    if (ending.stalled != 0)
        return fmt::format("{} did no work for {} s", name, secondsText(limits.stalledSeconds));
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGPROF)
            return fmt::format("{} took longer than {} s", name, secondsText(limits.cpuSeconds));
        return fmt::format("{} crashed (signal {})", name, signal);
    }
    if (WIFEXITED(status)) return fmt::format("{} stopped (status {})", name, WEXITSTATUS(status));
    return fmt::format("{} could not be started", name);
}

// The picture a child left in its result segment, or why there is none.
QvDecodeOutcome collect(QvSharedMemory result, const Ending& ending, const Request& request)
{
    const ResultHeader& header = *reinterpret_cast<const ResultHeader*>(result.data());
    // A child that finished as it was being ended has its result all the same.
    const bool exited = WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0;
    if (!exited || header.finished != 1)
        return {std::nullopt, endReason(ending, header.decoder, request.limits)};
    std::string error = getText(header.error);
    if (!error.empty()) return {std::nullopt, std::move(error)};
    // Only the rows its size takes are read, whatever the child claims beyond.
    const std::size_t rowBytes =
        qvRowBytes(request.decode.layout, header.width) * std::size_t(std::max(header.height, 0));
    if (header.width <= 0 || header.height <= 0 || header.rowBytes != rowBytes ||
        rowBytes > result.size() - rowsAt)
        return {std::nullopt, fmt::format("{} gave no rows of its {}x{} picture", decoderName(header.decoder),
                                          header.width, header.height)};
    // Every caller reads all the rows, which the child wrote into pages this
    // process has not mapped yet: one call maps them all, where reading them
    // would take a fault for every few pages (a kernel before 5.14 refuses
    // the advice, and the reads map them as before).
    ::madvise(result.data() + rowsAt, rowBytes, MADV_POPULATE_READ);
    QvDecodedPicture picture{header.width, header.height, {}, getText(header.remarks)};
    picture.rows = QvPixelRows(std::move(result), rowsAt, rowBytes);
    return {std::move(picture), {}};
}

// The request for a job, its result segment made; nothing, with the reason
// in `error`, when the picture is ruled out or there is no memory for it.
std::optional<QvSharedMemory> prepare(const QvDecodeJob& job, Request& request, std::string& error)
{
    const QvPictureFile& file = *job.file;
    const QvHeaderReading& header = file.header.reading;
    error = qvHeaderProblem(header, std::uint64_t(std::max(job.request.maxSide, 0)));
    if (!error.empty()) return std::nullopt;
    request = {};
    request.decode = job.request;
    request.limits = job.limits.value_or(qvDecoderLimits(file.header.format, header, file.size));
    request.format = file.header.format;
    request.sized = header.size ? 1 : 0;
    if (header.size) {
        request.width = header.size->width;
        request.height = header.size->height;
    }
    putText(request.notOfFormat, header.problem);
    // Room for exactly the rows of the size the header gives; where it gives
    // none, for the most any picture the caller takes can have. Pages the
    // child does not write cost nothing.
    const std::uint64_t maxSide = std::uint64_t(std::max(job.request.maxSide, 1));
    const std::uint64_t rows =
        header.size ? qvRowBytes(job.request.layout, int(header.size->width)) * header.size->height
                    : 4 * (qvMaxPicturePixels + maxSide);
    std::optional<QvSharedMemory> result = QvSharedMemory::create(rowsAt + rows, error);
    if (!result) {
        if (errno == ENOMEM || errno == ENOSPC) error = qvNoMemoryForPicture;
        return std::nullopt;
    }
    request.fileSegment = file.memory.id();
    request.fileBytes = file.size;
    request.resultSegment = result->id();
    request.resultBytes = result->size();
    return result;
}

// Sends a batch and waits for its reply. The decoder process says it is
// alive each slice while its children work; nothing when it has gone, or
// has said nothing for as long as the batch's longest stalled clock (it is
// then stopped or hung, and is ended).
std::optional<Reply> runBatch(const Batch& batch)
{
    double patience = 0;
    for (std::size_t i = 0; i < batch.count; ++i)
        patience = std::max(patience, batch.requests[i].limits.stalledSeconds);
    if (decoderPid == 0) {
        Hello hello{};
        if (receive(decoderSocket, &hello, sizeof(hello)) != sizeof(hello)) return std::nullopt;
        decoderPid = hello.decoder;
    }
    if (!sendAll(decoderSocket, &batch, offsetof(Batch, requests) + batch.count * sizeof(Request)))
        return std::nullopt;
    AwakeClock silence(patience + 2e-3 * sliceMs);
    for (;;) {
        pollfd answer{decoderSocket, POLLIN, 0};
        if (::poll(&answer, 1, sliceMs) <= 0) {
            if (!silence.tick()) return std::nullopt;
            continue;
        }
        Reply reply{};
        const std::optional<std::size_t> received = receive(decoderSocket, &reply, sizeof(reply));
        if (received == sizeof(reply)) return reply;
        if (received != sizeof(char)) return std::nullopt;
        silence.restart();
    }
}

}  // namespace

QvDecoderLimits qvDecoderLimits(FREE_IMAGE_FORMAT format, const QvHeaderReading& header,
                                std::size_t fileBytes)
{
    const FormatCost& cost = costOf(format);
    const double pixels =
        header.size ? double(header.size->width) * double(header.size->height) : double(qvMaxPicturePixels);
    const double bits = header.bitmapBits != 0 ? double(header.bitmapBits) : double(cost.largestBits);
    // A kind of pixel the header does not tell may be floating point.
    const bool floating = header.floatSamples || (header.bitmapBits == 0 && cost.largestBits >= 96);
    const double pixelBytes = bits / 8 + convertedBytesPerPixel +
                              cost.decoderBytesPerSample * samplesOf(bits) +
                              (floating ? floatWorkBytesPerPixel : 0);
    const double fileMiB = double(fileBytes) / double(1 << 20);
    QvDecoderLimits limits;
    limits.memoryBytes = std::uint64_t(
        tableMemory + memoryMargin * (pixels * pixelBytes + cost.bytesPerFileByte * double(fileBytes)));
    limits.cpuSeconds = cpuSecondsLeast + cpuMargin * (pixels * pixelBytes * cpuSecondsPerPixelByte +
                                                       fileMiB * cost.cpuSecondsPerFileMiB);
    limits.stalledSeconds = stalledSecondsDefault;
    return limits;
}

bool qvStartDecoderProcess()
{
    if (decoderSocket >= 0) return true;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
    // Started twice removed, so that it is no child of the program's: should
    // it end, the system reaps it, whether the program decodes again or not.
    const pid_t starter = ::fork();
    if (starter == 0) {
        ::close(ends[0]);
        if (::fork() == 0) serve(ends[1]);
        ::_exit(0);
    }
    ::close(ends[1]);
    if (starter < 0) {
        ::close(ends[0]);
        return false;
    }
    while (::waitpid(starter, nullptr, 0) < 0 && errno == EINTR) {}
    decoderSocket = ends[0];
    decoderPid = 0;
    return true;
}

std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs)
{
    std::vector<QvDecodeOutcome> outcomes(jobs.size());
    for (std::size_t first = 0; first < jobs.size(); first += qvMostDecodedTogether) {
        const std::size_t count = std::min(jobs.size() - first, qvMostDecodedTogether);
        Batch batch{};
        std::size_t sent[qvMostDecodedTogether];
        std::vector<QvSharedMemory> results;
        for (std::size_t i = first; i < first + count; ++i) {
            if (std::optional<QvSharedMemory> result =
                    prepare(jobs[i], batch.requests[batch.count], outcomes[i].error)) {
                results.push_back(std::move(*result));
                sent[batch.count++] = i;
            }
        }
        if (batch.count == 0) continue;
        if (decoderSocket < 0 && (!singleThreaded() || !qvStartDecoderProcess())) {
            for (std::size_t i = 0; i < batch.count; ++i)
                outcomes[sent[i]].error = "the picture decoder is not running";
            continue;
        }
        const std::optional<Reply> reply = runBatch(batch);
        if (!reply) {
            // Gone, or no longer answering: a process with threads by now
            // cannot start another.
            dropDecoder();
            for (std::size_t i = 0; i < batch.count; ++i)
                outcomes[sent[i]].error = "the picture decoder has stopped";
            continue;
        }
        for (std::size_t i = 0; i < batch.count; ++i)
            outcomes[sent[i]] = collect(std::move(results[i]), reply->endings[i], batch.requests[i]);
    }
    return outcomes;
}

std::optional<QvDecodedPicture> qvDecodeApart(const QvPictureFile& file, const QvDecodeRequest& request,
                                              std::string& error, std::optional<QvDecoderLimits> limits)
{
    const QvDecodeJob job{&file, request, limits};
    QvDecodeOutcome outcome = std::move(qvDecodeApartTogether(std::span(&job, 1)).front());
    error = std::move(outcome.error);
    return std::move(outcome.picture);
}

std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> bytes,
                                              const QvDecodeRequest& request, std::string& error)
{
    const std::optional<QvPictureFile> file = qvPictureFileOf(bytes, request.named, error);
    if (!file) return std::nullopt;
    return qvDecodeApart(*file, request, error);
}
