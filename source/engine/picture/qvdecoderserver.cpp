// qvdecoderserver: the decoder process, which starts a child for each
// request and watches them, and the decoding child, which decodes one picture under its
// limits into the result segment.
#include "engine/picture/qvdecoderserver.h"

#include "engine/picture/qvdecodercrossing.h"
#include "engine/picture/qvdecodersandbox.h"
#include "engine/picture/qvsharedmemory.h"

#include <fmt/core.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/signalfd.h>
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

using namespace qvcrossing;

namespace {

constexpr std::uint64_t mebibyte = std::uint64_t(1) << 20;

// The first descriptor past the standard three.
constexpr int firstOwnDescriptor = STDERR_FILENO + 1;

// The processor time a child has used so far; nothing once it has ended.
std::optional<std::chrono::nanoseconds> cpuTimeOf(pid_t child)
{
    clockid_t clock{};
    timespec used{};
    if (::clock_getcpuclockid(child, &clock) != 0 || ::clock_gettime(clock, &used) != 0) return std::nullopt;
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
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
        : memory_(memory), header_(reinterpret_cast<ResultHeader*>(memory.data()))
    {
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
        overflowed_ = bytes > memory_.size() - resultRowsAt;
        if (overflowed_) return nullptr;
        // Every page of the rows is about to be written: one call maps them
        // all, where writing would take a fault for each (a kernel before
        // 5.14 refuses the advice, and the writes map them as before).
        std::uint8_t* rows = memory_.data() + resultRowsAt;
        ::madvise(rows, bytes, MADV_POPULATE_WRITE);
        return rows;
    }

private:
    QvSharedMemory& memory_;
    ResultHeader* header_;
    bool overflowed_ = false;
};

// The memory a child may add to what it has mapped, and the user's own soft
// limit where that is what holds it.
struct MemoryHold {
    std::uint64_t allowed = 0;
    std::optional<std::uint64_t> usersLimit;
};

// Puts the child under its limits, as this build holds it to them: the
// address space it maps now and the memory allowed (under the limits the
// user's system set, which it keeps), and the processor time. The clock is
// the decoder process's to watch.
MemoryHold limitChild(const QvDecoderLimits& asked)
{
    const QvDecoderLimits limits = qvHeldLimits(asked);
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    const rlim_t mapped = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE));
    rlimit memory{};
    ::getrlimit(RLIMIT_AS, &memory);
    const rlim_t users = memory.rlim_cur;
    const rlim_t wanted = mapped + rlim_t(limits.memoryBytes);
    memory.rlim_cur = users == RLIM_INFINITY ? wanted : std::min(wanted, users);
    ::setrlimit(RLIMIT_AS, &memory);
    const double seconds = limits.cpuSeconds;
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

// Standard input and output, and standard error but in the sanitizer build
// (its reports are kept), lead nowhere: a file that takes over its decoder
// could otherwise print lines that pass for the program's, drive the
// terminal the program was started from, or fill a pipe the program's
// output goes to, until the program's own next line blocks it. What the
// decoders' libraries print goes nowhere too: libtiff names every tag it
// does not know each time it starts, and the C library's last words on an
// abort repeat what the picture's line says.
void leadStandardStreamsNowhere()
{
#if defined(__SANITIZE_ADDRESS__)
    constexpr int streams[] = {STDIN_FILENO, STDOUT_FILENO};
#else
    constexpr int streams[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
#endif
    const int nowhere = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    // Without /dev/null, closed: the filter lets nothing take their numbers.
    for (const int stream : streams) nowhere >= 0 ? ::dup2(nowhere, stream) : ::close(stream);
    if (nowhere >= 0) ::close(nowhere);
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

// Decodes one picture and ends, under the system-call filter where
// `filtered`: the exit status is 0 once the result is written.
[[noreturn]] void decodeInChild(const Request& request, pid_t decoder, bool filtered)
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
    leadStandardStreamsNowhere();
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
    // What the picture's bytes may make of the child goes no further than
    // decoding needs, limits included.
    qvEnterDecoderSandbox(filtered);
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

// The decoding children: started as the program's requests come, watched
// for work, and each one's ending told the program as soon as it is reaped.
class Children {
public:
    Children(int socket, int signals, bool filtered) : socket_(socket), signals_(signals), filtered_(filtered)
    {
    }

    // Serves the program's requests until it has gone; then ends every child.
    [[noreturn]] void serve()
    {
        while (reapEnded()) {
            pollfd watched[] = {{signals_, POLLIN, 0}, {socket_, POLLIN, 0}};
            // With no child to watch, only the program's next request can come.
            if (::poll(watched, 2, children_.empty() ? -1 : sliceMs) > 0) {
                signalfd_siginfo drained[8];
                if ((watched[0].revents & POLLIN) != 0) (void)!::read(signals_, drained, sizeof(drained));
                if (watched[1].revents != 0 && !takeRequest()) break;
            }
            endStalled();
            const Alive alive = 0;
            if (!children_.empty() && !sendAll(socket_, &alive, sizeof(alive))) break;
        }
        for (auto child = children_.begin(); child != children_.end(); ++child) reap(child);
        ::_exit(0);
    }

private:
    struct Child {
        pid_t pid;
        Request request;
        AwakeClock stalled;
        std::chrono::nanoseconds worked{};
        // Children running when it started, itself included.
        std::uint32_t together;
        std::int32_t endedStalled = 0;
        std::int32_t endedOverrunning = 0;
    };

    // Starts the child of the program's next request; false when the
    // program has gone (it sends nothing but requests).
    bool takeRequest()
    {
        Request request{};
        if (receive(socket_, &request, sizeof(request)) != sizeof(request)) return false;
        const pid_t self = ::getpid();
        const pid_t child = ::fork();
        if (child == 0) decodeInChild(request, self, filtered_);
        if (child < 0) {
            const Ended unstarted{request.id, {-1, 0, 0}, 0};
            return sendAll(socket_, &unstarted, sizeof(unstarted));
        }
        // A process group of its own, set here and in the child, whichever runs first.
        ::setpgid(child, child);
        const auto together = std::uint32_t(children_.size() + 1);
        children_.push_back({child, request, AwakeClock(request.limits.stalledSeconds), {}, together});
        return true;
    }

    // Ends the children that did no work for their stalled clock's time,
    // and those that worked a slice past their processor time: a child's
    // timer ends it there, unless code the picture brought blocked its
    // signal.
    void endStalled()
    {
        for (Child& child : children_) {
            if (child.endedStalled != 0 || child.endedOverrunning != 0) continue;
            const std::optional<std::chrono::nanoseconds> used = cpuTimeOf(child.pid);
            if (used && *used != child.worked) {
                child.worked = *used;
                child.stalled.restart();
            }
            const std::chrono::duration<double> allowed(qvHeldLimits(child.request.limits).cpuSeconds);
            if (child.worked > allowed + std::chrono::milliseconds(sliceMs)) {
                endGroup(child.pid);
                child.endedOverrunning = 1;
            } else if (!child.stalled.tick()) {
                endGroup(child.pid);
                child.endedStalled = 1;
            }
        }
    }

    // Reaps the children that have ended, each one's process group ended
    // first (whatever it left behind can write its result no longer), and
    // tells the program; false when the program has gone.
    bool reapEnded()
    {
        for (auto child = children_.begin(); child != children_.end();) {
            // Seen ended but not reaped: its pid, and so its group, cannot be reused yet.
            siginfo_t ended{};
            const int seen = ::waitid(P_PID, id_t(child->pid), &ended, WEXITED | WNOHANG | WNOWAIT);
            if ((seen == 0 && ended.si_pid == 0) || (seen < 0 && errno == EINTR)) {
                ++child;
                continue;
            }
            const Ended said{child->request.id,
                             {reap(child), child->endedStalled, child->endedOverrunning},
                             child->together};
            child = children_.erase(child);
            if (!sendAll(socket_, &said, sizeof(said))) return false;
        }
        return true;
    }

    // Ends a child's process group and reaps the child; its wait status.
    static int reap(std::vector<Child>::iterator child)
    {
        endGroup(child->pid);
        int status = 0;
        while (::waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {}
        return status;
    }

    // Ends a child and whatever is left of its process group.
    static void endGroup(pid_t child)
    {
        ::kill(-child, SIGKILL);
        ::kill(child, SIGKILL);
    }

    int socket_;
    int signals_;
    // Whether its children set their system-call filter.
    bool filtered_;
    std::vector<Child> children_;
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

// Tries the sandbox in a child that enters it as a decoding child does,
// before any picture: whether the filter can be set is learnt here, never
// from memory a decoding child writes. The child's wait status: its exit
// status the errno with which the kernel refused the filter (0 where it
// holds), or the signal that ended it (a launcher's own filter may end any
// process that asks for one). One that cannot be started tells nothing:
// the children then try the filter.
int tryFilter()
{
    const pid_t trial = ::fork();
    if (trial == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::prctl(PR_SET_NAME, filterTrialName);
        closeFrom(firstOwnDescriptor);
        defaultSignals();
        ::_exit(qvEnterDecoderSandbox(true));
    }
    int status = 0;
    while (trial > 0 && ::waitpid(trial, &status, 0) < 0 && errno == EINTR) {}
    return status;
}

}  // namespace

[[noreturn]] void qvServeDecoding(int socket)
{
    socket = keepOnlyOwnDescriptors(socket);
    detachInheritedSegments();
    // Children are waited for here, whatever the program's launcher left of
    // SIGCHLD: ignored, it would reap them before their status is read.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &standard, nullptr);
    // What every child would otherwise do first, done once here, where each
    // child (the filter's trial among them) inherits it.
    qvBindDecoderSandbox();
    qvHearFreeImage();
    // Before this process takes its name, which its trial would bear at first.
    const int trial = tryFilter();
    ::prctl(PR_SET_NAME, decoderProcessName);
    sigset_t childSignals;
    sigemptyset(&childSignals);
    sigaddset(&childSignals, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &childSignals, nullptr);
    const int signals = ::signalfd(-1, &childSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    const Hello hello{::getpid(), trial};
    if (signals < 0 || !sendAll(socket, &hello, sizeof(hello))) ::_exit(0);
    Children(socket, signals, filterRefusal(hello.filterTrial).empty()).serve();
}

[[noreturn]] void qvServeDecoderRole(std::string_view socketNumber)
{
    int socket = -1;
    struct stat status {};
    if (std::from_chars(socketNumber.data(), socketNumber.data() + socketNumber.size(), socket).ec !=
            std::errc() ||
        ::fstat(socket, &status) != 0 || !S_ISSOCK(status.st_mode))
        ::_exit(2);
    // Twice removed from the program, as when forked.
    const pid_t server = ::fork();
    if (server == 0) qvServeDecoding(socket);
    ::_exit(server < 0 ? 1 : 0);
}
