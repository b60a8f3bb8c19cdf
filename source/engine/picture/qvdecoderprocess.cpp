// qvdecoderprocess: the decoder process, its children, and what crosses
// between them and the program: a batch of requests, each naming two shared
// segments (the picture's bytes, and the result the child writes: a header,
// then rows), with the memory budget the children share, and how each child
// ended.
#include "engine/picture/qvdecoderprocess.h"
#include "engine/picture/qvsharedmemory.h"

#include "engine/picture/qvformattable.h"

#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>
#include <type_traits>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

// Samples of a pixel of `bits`: 8-bit samples up to 32 bits, 16-bit ones
// above (48 is RGB16, 64 RGBA16), 32-bit floats from 96 on.
double samplesOf(double bits)
{
    return bits <= 32 ? std::max(1.0, bits / 8) : bits < 96 ? bits / 16 : bits / 32;
}

// ---- the system's memory --------------------------------------------------

// MemAvailable of /proc/meminfo, in bytes.
std::optional<std::uint64_t> availableMemory()
{
    std::ifstream meminfo("/proc/meminfo");
    for (std::string name; meminfo >> name;) {
        std::uint64_t kib = 0;
        if (!(meminfo >> kib)) break;
        if (name == "MemAvailable:") return kib << 10;
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return std::nullopt;
}

// Where the cgroup v2 hierarchy is mounted; empty when it is not.
std::filesystem::path controlGroupMount()
{
    std::ifstream mounts("/proc/self/mounts");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string device, point, type;
        if (fields >> device >> point >> type && type == "cgroup2") return point;
    }
    return {};
}

// A control group's figure; nothing where its file is missing or says "max".
std::optional<std::uint64_t> groupFigure(const std::filesystem::path& file)
{
    std::uint64_t figure = 0;
    if (std::ifstream(file) >> figure) return figure;
    return std::nullopt;
}

// The least room that this process's control group and its ancestors leave
// (memory.max less memory.current); nothing when none has a limit.
std::optional<std::uint64_t> controlGroupRoom()
{
    const std::filesystem::path mount = controlGroupMount();
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    while (std::getline(groups, line) && !line.starts_with("0::")) {}
    if (mount.empty() || !line.starts_with("0::")) return std::nullopt;
    std::optional<std::uint64_t> least;
    for (std::filesystem::path group = line.substr(3);; group = group.parent_path()) {
        const std::filesystem::path folder = mount / group.relative_path();
        const std::optional<std::uint64_t> most = groupFigure(folder / "memory.max");
        const std::uint64_t used = groupFigure(folder / "memory.current").value_or(0);
        if (most) least = std::min(least.value_or(*most), *most > used ? *most - used : 0);
        if (group == group.parent_path()) break;
    }
    return least;
}

// ---- what crosses ---------------------------------------------------------

static_assert(sizeof(QvResultHeader) <= qvResultRowsAt);

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
    // What the header reading found for the format's rewrite and fix-ups.
    QvFormatFacts facts;
    std::int32_t fileSegment;
    std::uint64_t fileBytes;
    std::int32_t resultSegment;
    std::uint64_t resultBytes;
};
static_assert(std::is_trivially_copyable_v<Request>);

struct Batch {
    std::uint32_t count;
    // What the memory limits of the children running at once may add up to
    // (qvDecodingBudget).
    std::uint64_t budget;
    Request requests[qvMostDecodedTogether];
};

// How a child ended: its wait status (-1 when it could not be forked), and
// whether the decoder process ended it for doing no work.
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
// Between them it says that it is alive, in one byte.
using Alive = char;
static_assert(sizeof(Hello) != sizeof(Alive) && sizeof(Reply) != sizeof(Hello));

// How the decoder process and its children show in a process list.
constexpr char decoderProcessName[] = "qvdecoder";
constexpr char decodingChildName[] = "qvdecoding";
// The argument that runs the program's own file as the decoder process,
// followed by the number of the socket it inherits.
constexpr std::string_view decoderRole = "--picture-decoder-socket=";

// Time is counted in slices: a wait that overslept (the process was stopped,
// or not scheduled) counts one slice only.
constexpr int sliceMs = 100;

// Signals by which a decoder crashes; any other that ends a child not by our
// limits came from outside (a user, the system's memory killer).
constexpr int crashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

// The first descriptor past the standard three.
constexpr int firstOwnDescriptor = STDERR_FILENO + 1;

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

// Closes every descriptor from `first` on.
void closeFrom(int first)
{
    if (::close_range(unsigned(first), ~0U, 0) == 0) return;
    // A kernel before 5.9: each in turn, up to the most this process may have.
    rlimit open{};
    ::getrlimit(RLIMIT_NOFILE, &open);
    for (rlim_t fd = rlim_t(first); fd < std::min<rlim_t>(open.rlim_cur, 1 << 20); ++fd) ::close(int(fd));
}

// ---- the decoding child ---------------------------------------------------

// The result segment, as the child writes it.
class SharedResult : public QvDecodeSink {
public:
    explicit SharedResult(QvSharedMemory& memory)
        : memory_(memory), header_(reinterpret_cast<QvResultHeader*>(memory.data()))
    {
    }

    QvResultHeader& header() { return *header_; }
    // Whether the decoder gave more rows than the program made room for.
    bool overflowed() const { return overflowed_; }

    void decoding(FREE_IMAGE_FORMAT format) override { header_->decoder = format; }
    std::uint8_t* rows(int width, int height, std::size_t bytes) override
    {
        header_->width = width;
        header_->height = height;
        header_->rowBytes = bytes;
        overflowed_ = bytes > memory_.size() - qvResultRowsAt;
        return overflowed_ ? nullptr : memory_.data() + qvResultRowsAt;
    }

private:
    QvSharedMemory& memory_;
    QvResultHeader* header_;
    bool overflowed_ = false;
};

// The memory a child may add to what it has mapped, and the user's own soft
// limit where that is what holds it.
struct MemoryHold {
    std::uint64_t allowed = 0;
    std::optional<std::uint64_t> usersLimit;
};

// Puts the child under its limits: the address space it maps now and the
// memory allowed (under the limits the user's system set, which it keeps),
// and the processor time. The clock is the decoder process's to watch.
MemoryHold limitChild(const QvDecoderLimits& limits)
{
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    const rlim_t mapped = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE));
    rlimit memory{};
    ::getrlimit(RLIMIT_AS, &memory);
    const rlim_t users = memory.rlim_cur;
    const rlim_t wanted = mapped + rlim_t(double(limits.memoryBytes) * instrumentedMemory);
    memory.rlim_cur = users == RLIM_INFINITY ? wanted : std::min(wanted, users);
    ::setrlimit(RLIMIT_AS, &memory);
    const double seconds = limits.cpuSeconds * instrumentedCpu;
    const auto whole = time_t(seconds);
    const itimerval cpu{{0, 0}, {whole, suseconds_t((seconds - double(whole)) * 1e6)}};
    ::setitimer(ITIMER_PROF, &cpu, nullptr);
    const std::uint64_t room = memory.rlim_cur > mapped ? memory.rlim_cur - mapped : 0;
    if (room < limits.memoryBytes) return {room, users};
    return {limits.memoryBytes, std::nullopt};
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

// Why a decoding that ran out of the memory it was allowed did: that limit,
// with its figure; the user's own, where that was the lower.
std::string memoryLimitReason(const Request& request, const MemoryHold& hold)
{
    if (hold.usersLimit)
        return fmt::format("it needs more than the {} MiB of address space the user's limit allows",
                           *hold.usersLimit / mebibyte);
    const std::uint64_t mib = (hold.allowed + mebibyte - 1) / mebibyte;
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
    // A process group of its own, which the decoder process ends with it.
    ::setpgid(0, 0);
    // The decoder process's socket and signals are none of the decoder's business.
    closeFrom(firstOwnDescriptor);
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
    header.reading.facts = request.facts;
    const MemoryHold hold = limitChild(request.limits);
    errno = 0;
    QvDecodeResult decoded = qvDecodePicture(file->bytes(), header, request.decode, sink);
    // An allocation that failed under our limit leaves ENOMEM behind, whatever
    // words the decoder found for it.
    if (!decoded.error.empty() && (errno == ENOMEM || decoded.error == qvNoMemoryForPicture))
        decoded.error =
            sink.overflowed()
                ? fmt::format("{} gave a {}x{} picture, larger than its header says",
                              decoderName(sink.header().decoder), sink.header().width, sink.header().height)
                : memoryLimitReason(request, hold);
    putText(sink.header().error, decoded.error);
    putText(sink.header().remarks, decoded.remarks);
    sink.header().finished = 1;
    ::_exit(0);
}

// ---- the decoder process --------------------------------------------------

// The children of one batch: started in batch order as the budget allows,
// and waited for together.
class RunningBatch {
public:
    RunningBatch(const Batch& batch, int socket, int signals)
        : batch_(batch), socket_(socket), signals_(signals)
    {
        for (std::size_t i = 0; i < batch_.count; ++i) {
            reply_.endings[i] = {-1, 0};
            stalled_.emplace_back(batch_.requests[i].limits.stalledSeconds);
        }
    }

    // Runs every child until all have ended, ending those that stop working
    // (their stalled clock runs out while their processor time stands
    // still), and tells the program it is alive as it waits. False when the
    // program has gone meanwhile (the children are then ended).
    bool run()
    {
        for (;;) {
            reapEnded();
            startWhatFits();
            if (running_ == 0) return true;
            pollfd watched[] = {{signals_, POLLIN, 0}, {socket_, POLLIN, 0}};
            if (::poll(watched, 2, sliceMs) > 0) {
                signalfd_siginfo drained[8];
                if ((watched[0].revents & POLLIN) != 0) (void)!::read(signals_, drained, sizeof(drained));
                // The program sends nothing while it waits: it has gone.
                if (watched[1].revents != 0) break;
            }
            endStalled();
            const Alive alive = 0;
            if (!sendAll(socket_, &alive, sizeof(alive))) break;
        }
        endAll();
        return false;
    }

    const Reply& reply() const { return reply_; }

private:
    // Forks the children that wait, in batch order, while the memory limits
    // of those running and the next one's fit the batch's budget; the next
    // one always, when none runs.
    void startWhatFits()
    {
        while (next_ < batch_.count) {
            const std::uint64_t needs = batch_.requests[next_].limits.memoryBytes;
            if (running_ > 0 && (needs > batch_.budget || runningBytes_ > batch_.budget - needs)) return;
            start(next_++);
        }
    }

    // Forks the child of request `i`, in a process group of its own (set
    // here and in the child, whichever runs first).
    void start(std::size_t i)
    {
        const pid_t self = ::getpid();
        const pid_t child = ::fork();
        if (child == 0) decodeInChild(batch_.requests[i], self);
        if (child < 0) return;  // its ending says it could not be started
        ::setpgid(child, child);
        children_[i] = child;
        stalled_[i].restart();
        worked_[i] = {};
        ++running_;
        runningBytes_ += batch_.requests[i].limits.memoryBytes;
    }

    // Ends the children that did no work for their stalled clock's time.
    void endStalled()
    {
        for (std::size_t i = 0; i < batch_.count; ++i) {
            if (children_[i] <= 0 || reply_.endings[i].stalled != 0) continue;
            const std::optional<std::chrono::nanoseconds> used = cpuTimeOf(children_[i]);
            if (used && *used != worked_[i]) {
                worked_[i] = *used;
                stalled_[i].restart();
            }
            if (!stalled_[i].tick()) {
                endGroup(children_[i]);
                reply_.endings[i].stalled = 1;
            }
        }
    }

    // Collects the children that have ended, each one's process group ended
    // first: whatever it left behind cannot write its result any longer.
    void reapEnded()
    {
        for (std::size_t i = 0; i < batch_.count; ++i) {
            if (children_[i] <= 0) continue;
            // Seen ended but not reaped: its pid, and so its group, cannot be reused yet.
            siginfo_t ended{};
            const int seen = ::waitid(P_PID, id_t(children_[i]), &ended, WEXITED | WNOHANG | WNOWAIT);
            if ((seen == 0 && ended.si_pid == 0) || (seen < 0 && errno == EINTR)) continue;
            reap(i);
        }
    }

    // Ends child `i`'s process group and reaps the child.
    void reap(std::size_t i)
    {
        endGroup(children_[i]);
        while (::waitpid(children_[i], &reply_.endings[i].status, 0) < 0 && errno == EINTR) {}
        children_[i] = 0;
        --running_;
        runningBytes_ -= batch_.requests[i].limits.memoryBytes;
    }

    // Ends a child and whatever is left of its process group.
    static void endGroup(pid_t child)
    {
        ::kill(-child, SIGKILL);
        ::kill(child, SIGKILL);
    }

    // Ends every running child, the program being gone.
    void endAll()
    {
        for (std::size_t i = 0; i < batch_.count; ++i)
            if (children_[i] > 0) reap(i);
    }

    const Batch& batch_;
    int socket_;
    int signals_;
    pid_t children_[qvMostDecodedTogether] = {};
    std::vector<AwakeClock> stalled_;
    std::chrono::nanoseconds worked_[qvMostDecodedTogether] = {};
    // The first request whose child has not been started.
    std::size_t next_ = 0;
    std::size_t running_ = 0;
    std::uint64_t runningBytes_ = 0;
    Reply reply_{};
};

// Keeps only the standard three descriptors and the socket, which it moves
// to the first number after them: a descriptor the program's launcher left
// open (a pipe it reads to its end) stays open in no process of ours. The
// socket's number.
int keepOnlyOwnDescriptors(int socket)
{
    if (socket != firstOwnDescriptor) {
        if (::dup3(socket, firstOwnDescriptor, O_CLOEXEC) < 0) ::_exit(1);
        // With a standard stream closed, the socket may have taken its
        // number, which every child would inherit.
        if (socket < firstOwnDescriptor) {
            const int nowhere = ::open("/dev/null", O_RDWR);
            if (nowhere >= 0 && nowhere != socket) ::dup2(nowhere, socket);
        }
    }
    closeFrom(firstOwnDescriptor + 1);
    return firstOwnDescriptor;
}

// Detaches the shared segments that the program had attached when it
// forked this process (pictures it was reading): they would live on as long
// as this process, and reach every child.
void detachInheritedSegments()
{
    std::vector<std::uintptr_t> addresses;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find(" /SYSV") != std::string::npos) addresses.push_back(std::stoull(line, nullptr, 16));
    for (const std::uintptr_t address : addresses) ::shmdt(reinterpret_cast<const void*>(address));
}

// Runs each batch's children and answers with how each ended, until the
// program closes its end or ends.
[[noreturn]] void serve(int socket)
{
    ::prctl(PR_SET_NAME, decoderProcessName);
    socket = keepOnlyOwnDescriptors(socket);
    detachInheritedSegments();
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
        RunningBatch running(batch, socket, signals);
        if (!running.run() || !sendAll(socket, &running.reply(), sizeof(Reply))) ::_exit(0);
    }
}

// ---- the program's side ---------------------------------------------------

// The program's end of the socket to the decoder process; -1 when none runs.
int decoderSocket = -1;
// The decoder process, once it has said who it is.
pid_t decoderPid = 0;
// The process that started it.
pid_t decoderOwner = 0;
// Whether this program serves as the decoder process when asked to
// (qvEnterDecoderRoleIfAsked), so that running its own file starts one.
bool knowsDecoderRole = false;

// Whether this process runs on one thread, so that it may still fork.
bool singleThreaded()
{
    std::error_code error;
    std::filesystem::directory_iterator tasks("/proc/self/task", error);
    return !error && std::distance(tasks, std::filesystem::directory_iterator()) == 1;
}

// Forgets the decoder process, ending it first when `end` (it no longer
// answers); one that is gone may have left its pid to another process.
void dropDecoder(bool end)
{
    if (end && decoderPid > 0) ::kill(decoderPid, SIGKILL);
    ::close(std::exchange(decoderSocket, -1));
    decoderPid = 0;
}

// A decoder process talks with the process that started it: a copy of that
// process made by fork (a test's child) starts its own, rather than
// interleave its batches with the original's.
void forgetInheritedDecoder()
{
    if (decoderSocket >= 0 && decoderOwner != ::getpid()) dropDecoder(false);
}

// Forks the decoder process, twice removed, so that it is no child of the
// program's: should it end, the system reaps it, whether the program
// decodes again or not. The pid of the process in between; -1 when none.
pid_t forkDecoder(int socket)
{
    const pid_t starter = ::fork();
    if (starter == 0) {
        if (::fork() == 0) serve(socket);
        ::_exit(0);
    }
    return starter;
}

// Runs this program's own file in the decoder role, handed `socket`; it
// forks once more, as forkDecoder does. The pid it runs in; -1 when none.
pid_t spawnDecoder(int socket)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    // Onto its own number: the socket loses its close-on-exec flag there only.
    ::posix_spawn_file_actions_adddup2(&actions, socket, socket);
    sigset_t none;
    sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::string role = fmt::format("{}{}", decoderRole, socket);
    std::string name = decoderProcessName;
    char* const arguments[] = {name.data(), role.data(), nullptr};
    pid_t starter = -1;
    if (::posix_spawn(&starter, "/proc/self/exe", &actions, &attributes, arguments, environ) != 0)
        starter = -1;
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return starter;
}

// Whether a decoder process runs, started when none does.
bool decoderRuns()
{
    forgetInheritedDecoder();
    return decoderSocket >= 0 || qvStartDecoderProcess();
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
        if (std::find(std::begin(crashSignals), std::end(crashSignals), signal) != std::end(crashSignals))
            return fmt::format("{} crashed (signal {})", name, signal);
        return fmt::format("{} was killed (signal {}), by none of the program's limits", name, signal);
    }
    if (WIFEXITED(status)) return fmt::format("{} stopped (status {})", name, WEXITSTATUS(status));
    return fmt::format("{} could not be started", name);
}

// Bytes of the UTF-8 character at the start of `text`; 0 when none starts
// there (a stray byte, an overlong form, a surrogate, a code point past
// U+10FFFF, or one cut short).
std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return std::uint8_t(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text.size() < length) return 0;
    // The second byte's range rules out the overlong forms, the surrogates
    // and what lies past U+10FFFF.
    const std::uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const std::uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    return length;
}

// A child's words made safe to print: C0 and C1 controls, DEL and bytes that
// are not UTF-8 written as \xNN, a newline as \n.
std::string printableText(std::string_view text)
{
    std::string printable;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8Length(text.substr(at));
        const auto lead = std::uint8_t(text[at]);
        const bool control = length == 1 ? lead < 0x20 || lead == 0x7F
                                         : length == 2 && lead == 0xC2 && std::uint8_t(text[at + 1]) < 0xA0;
        if (length > 0 && !control) {
            printable.append(text.substr(at, length));
        } else {
            for (std::size_t i = at; i < at + std::max<std::size_t>(length, 1); ++i)
                printable +=
                    text[i] == '\n' ? std::string("\\n") : fmt::format("\\x{:02x}", std::uint8_t(text[i]));
        }
        at += std::max<std::size_t>(length, 1);
    }
    return printable;
}

// The request for a job; nothing, with the reason in `error`, when its
// header rules the picture out.
std::optional<Request> requestFor(const QvDecodeJob& job, std::string& error)
{
    const QvPictureFile& file = *job.file;
    const QvHeaderReading& header = file.header.reading;
    error = qvHeaderProblem(header, std::uint64_t(std::max(job.request.maxSide, 0)));
    if (!error.empty()) return std::nullopt;
    Request request{};
    request.decode = job.request;
    request.limits = job.limits.value_or(qvDecoderLimits(file.header.format, header, file.size));
    request.format = file.header.format;
    request.sized = header.size ? 1 : 0;
    if (header.size) {
        request.width = header.size->width;
        request.height = header.size->height;
    }
    putText(request.notOfFormat, header.problem);
    request.facts = header.facts;
    request.fileSegment = file.memory.id();
    request.fileBytes = file.size;
    // Room for exactly the rows of the size the header gives; where it gives
    // none, for the most any picture the caller takes can have. Pages the
    // child does not write cost nothing.
    const std::uint64_t maxSide = std::uint64_t(std::max(job.request.maxSide, 1));
    request.resultBytes =
        qvResultRowsAt + (header.size
                              ? qvRowBytes(job.request.layout, int(header.size->width)) * header.size->height
                              : 4 * (qvMaxPicturePixels + maxSide));
    return request;
}

// A fresh result segment for a request, named in it; nothing, with the
// reason in `error`, when there is no memory for it.
std::optional<QvSharedMemory> resultFor(Request& request, std::string& error)
{
    std::optional<QvSharedMemory> result = QvSharedMemory::create(request.resultBytes, error);
    if (!result) {
        if (errno == ENOMEM || errno == ENOSPC) error = qvNoMemoryForPicture;
        return std::nullopt;
    }
    // A child that never runs names no decoder.
    reinterpret_cast<QvResultHeader*>(result->data())->decoder = FIF_UNKNOWN;
    request.resultSegment = result->id();
    return result;
}

// A batch on its way: its requests, the jobs they stand for, their result segments.
struct Sending {
    Batch batch{};
    std::size_t jobs[qvMostDecodedTogether] = {};
    std::vector<QvSharedMemory> results;

    // Adds a request with a fresh result segment; false, with the reason in
    // `error`, when there is no memory for one.
    bool add(Request request, std::size_t job, std::string& error)
    {
        std::optional<QvSharedMemory> result = resultFor(request, error);
        if (!result) return false;
        batch.requests[batch.count] = request;
        jobs[batch.count++] = job;
        results.push_back(std::move(*result));
        return true;
    }
};

// The same batch in fresh result segments: a child of a decoder process
// that ended may still be writing the old ones. Requests that find no
// memory get the reason in their outcomes.
Sending renewed(const Sending& old, std::vector<QvDecodeOutcome>& outcomes)
{
    Sending fresh;
    fresh.batch.budget = old.batch.budget;
    for (std::size_t i = 0; i < old.batch.count; ++i)
        fresh.add(old.batch.requests[i], old.jobs[i], outcomes[old.jobs[i]].error);
    return fresh;
}

// The budget of a batch: from its largest memory limit and what the system
// has left. A lone decoding runs whatever the budget, and reads nothing.
std::uint64_t budgetOf(const Batch& batch)
{
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i < batch.count; ++i)
        largest = std::max(largest, batch.requests[i].limits.memoryBytes);
    return batch.count == 1 ? largest : qvDecodingBudget(largest, qvReadMemoryRoom());
}

// How the decoder process took a batch.
enum class Answer {
    replied,
    // Its socket closed: it ended (a user or the memory killer ended it).
    gone,
    // It said nothing for as long as the batch's longest stalled clock: it
    // is stopped or hung.
    silent,
};

// Sends a batch and waits for the reply. The decoder process says it is
// alive each slice while its children work or wait.
Answer runBatch(const Batch& batch, Reply& reply)
{
    double patience = 0;
    for (std::size_t i = 0; i < batch.count; ++i)
        patience = std::max(patience, batch.requests[i].limits.stalledSeconds);
    if (!sendAll(decoderSocket, &batch, offsetof(Batch, requests) + batch.count * sizeof(Request)))
        return Answer::gone;
    AwakeClock silence(patience + 2e-3 * sliceMs);
    for (;;) {
        pollfd answer{decoderSocket, POLLIN, 0};
        if (::poll(&answer, 1, sliceMs) <= 0) {
            if (!silence.tick()) return Answer::silent;
            continue;
        }
        Reply said{};
        const std::optional<std::size_t> received = receive(decoderSocket, &said, sizeof(said));
        if (received == sizeof(Reply)) {
            reply = said;
            return Answer::replied;
        }
        if (received == sizeof(Hello) && decoderPid == 0)
            std::memcpy(&decoderPid, &said, sizeof(Hello));
        else if (received != sizeof(Alive))
            return Answer::gone;
        silence.restart();
    }
}

// The picture a child left in its result segment, or why there is none.
QvDecodeOutcome collect(const QvSharedMemory& result, const Ending& ending, const Request& request)
{
    // Only a child that exited of itself wrote its result (one that finished
    // as it was being ended among them).
    if (!WIFEXITED(ending.status) || WEXITSTATUS(ending.status) != 0) {
        std::int32_t decoder = FIF_UNKNOWN;
        std::memcpy(&decoder, result.data() + offsetof(QvResultHeader, decoder), sizeof(decoder));
        return {std::nullopt, endReason(ending, decoder, request.limits)};
    }
    std::optional<QvImageSize> size;
    if (request.sized != 0) size = QvImageSize{request.width, request.height};
    return qvTakeDecodedPicture(result.bytes(), request.decode.layout, size);
}

// Decodes a batch, in a decoder process started anew should the one it was
// sent to be gone, once: a second loss, or a decoder process that stopped
// answering (it is ended), says the decoder has stopped.
void decodeBatch(Sending sending, std::vector<QvDecodeOutcome>& outcomes)
{
    for (int attempt = 0; sending.batch.count > 0; ++attempt) {
        const Batch& batch = sending.batch;
        const auto failAll = [&](const char* reason) {
            for (std::size_t i = 0; i < batch.count; ++i) outcomes[sending.jobs[i]].error = reason;
        };
        if (!decoderRuns()) return failAll("the picture decoder is not running");
        Reply reply{};
        const Answer answer = runBatch(batch, reply);
        if (answer == Answer::replied) {
            for (std::size_t i = 0; i < batch.count; ++i)
                outcomes[sending.jobs[i]] = collect(sending.results[i], reply.endings[i], batch.requests[i]);
            return;
        }
        dropDecoder(answer == Answer::silent);
        if (answer == Answer::silent || attempt > 0) return failAll("the picture decoder has stopped");
        sending = renewed(sending, outcomes);
    }
}

}  // namespace

QvDecoderLimits qvDecoderLimits(FREE_IMAGE_FORMAT format, const QvHeaderReading& header,
                                std::size_t fileBytes)
{
    // Measured for the largest picture of each kind (bench_picture_costs).
    const QvDecodingCost& cost = qvPictureFormatOf(format).cost;
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

QvMemoryRoom qvReadMemoryRoom()
{
    QvMemoryRoom room;
    room.available = availableMemory();
    room.controlGroup = controlGroupRoom();
    rlimit addressSpace{};
    if (::getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY)
        room.addressSpace = addressSpace.rlim_cur;
    return room;
}

std::uint64_t qvDecodingBudget(std::uint64_t largestLimit, const QvMemoryRoom& room)
{
    std::uint64_t budget = std::max(qvUsualDecodingBudget, largestLimit);
    for (const std::optional<std::uint64_t>& bound : {room.available, room.controlGroup, room.addressSpace})
        if (bound) budget = std::min(budget, *bound);
    return budget;
}

QvPixelRows::QvPixelRows(const std::uint8_t* from, std::size_t size)
    : data_(std::make_unique_for_overwrite<std::uint8_t[]>(size)), size_(size)
{
    std::memcpy(data_.get(), from, size);
}

void qvEnterDecoderRoleIfAsked(int argc, char** argv)
{
    const std::string_view asked = argc == 2 ? argv[1] : "";
    if (!asked.starts_with(decoderRole)) {
        knowsDecoderRole = true;
        return;
    }
    int socket = -1;
    const std::string_view number = asked.substr(decoderRole.size());
    struct stat status {};
    if (std::from_chars(number.data(), number.data() + number.size(), socket).ec != std::errc() ||
        ::fstat(socket, &status) != 0 || !S_ISSOCK(status.st_mode))
        ::_exit(2);
    // Twice removed from the program, as when forked.
    const pid_t server = ::fork();
    if (server == 0) serve(socket);
    ::_exit(server < 0 ? 1 : 0);
}

bool qvStartDecoderProcess()
{
    forgetInheritedDecoder();
    if (decoderSocket >= 0) return true;
    const bool forking = singleThreaded();
    if (!forking && !knowsDecoderRole) return false;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
    const pid_t starter = forking ? forkDecoder(ends[1]) : spawnDecoder(ends[1]);
    ::close(ends[1]);
    if (starter < 0) {
        ::close(ends[0]);
        return false;
    }
    while (::waitpid(starter, nullptr, 0) < 0 && errno == EINTR) {}
    decoderSocket = ends[0];
    decoderPid = 0;
    decoderOwner = ::getpid();
    return true;
}

QvDecodeOutcome qvTakeDecodedPicture(std::span<const std::uint8_t> segment, QvPixelLayout layout,
                                     std::optional<QvImageSize> headerSize)
{
    // Read once, into our own memory: the segment may change under us.
    QvResultHeader header{};
    if (segment.size() < qvResultRowsAt) return {std::nullopt, "the picture decoder gave no result"};
    std::memcpy(&header, segment.data(), sizeof(header));
    const std::string name = decoderName(header.decoder);
    if (header.finished != 1) return {std::nullopt, fmt::format("{} stopped (status 0)", name)};
    std::string error = printableText(getText(header.error));
    if (!error.empty()) return {std::nullopt, std::move(error)};
    if (headerSize && (std::uint64_t(std::int64_t(header.width)) != headerSize->width ||
                       std::uint64_t(std::int64_t(header.height)) != headerSize->height))
        return {std::nullopt,
                fmt::format("{} gave a {}x{} picture, where its header says {}x{}", name, header.width,
                            header.height, headerSize->width, headerSize->height)};
    // Only the rows its size takes are read, whatever the child claims beyond.
    const std::size_t room = segment.size() - qvResultRowsAt;
    const std::size_t rowBytes = header.width > 0 ? qvRowBytes(layout, header.width) : 0;
    if (header.height <= 0 || rowBytes == 0 || std::size_t(header.height) > room / rowBytes ||
        header.rowBytes != rowBytes * std::size_t(header.height))
        return {std::nullopt,
                fmt::format("{} gave no rows of its {}x{} picture", name, header.width, header.height)};
    const std::uint8_t* rows = segment.data() + qvResultRowsAt;
    // The child wrote the rows into pages this process has not mapped yet:
    // one call maps them all, where copying them would take a fault for
    // every few pages (a kernel before 5.14 refuses the advice, and the copy
    // maps them as before).
    ::madvise(const_cast<std::uint8_t*>(rows), header.rowBytes, MADV_POPULATE_READ);
    QvDecodedPicture picture{header.width, header.height, QvPixelRows(rows, header.rowBytes),
                             printableText(getText(header.remarks))};
    return {std::move(picture), {}};
}

std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs)
{
    std::vector<QvDecodeOutcome> outcomes(jobs.size());
    for (std::size_t first = 0; first < jobs.size(); first += qvMostDecodedTogether) {
        Sending sending;
        for (std::size_t i = first; i < std::min(jobs.size(), first + qvMostDecodedTogether); ++i)
            if (const std::optional<Request> request = requestFor(jobs[i], outcomes[i].error))
                sending.add(*request, i, outcomes[i].error);
        if (sending.batch.count == 0) continue;
        sending.batch.budget = budgetOf(sending.batch);
        decodeBatch(std::move(sending), outcomes);
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

std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> bytes, FREE_IMAGE_FORMAT named,
                                              const QvDecodeRequest& request, std::string& error)
{
    const std::optional<QvPictureFile> file = qvPictureFileOf(bytes, named, error);
    if (!file) return std::nullopt;
    return qvDecodeApart(*file, request, error);
}
