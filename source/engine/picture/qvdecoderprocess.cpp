// qvdecoderprocess: the program's side of decoding apart: it starts the
// decoder process (qvdecoderserver), admits pictures as the memory budget
// allows and sends them with their result segments (qvdecodercrossing),
// starts it anew and sends what it held once more should it end, and takes
// each child's result, its rows in place.
#include "engine/picture/qvdecoderprocess.h"

#include "engine/picture/qvdecodercrossing.h"
#include "engine/picture/qvdecoderserver.h"
#include "engine/picture/qvsharedmemory.h"

#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <new>
#include <filesystem>
#include <string_view>
#include <utility>

#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qvcrossing;

namespace {

// The program's end of the socket to the decoder process; -1 until one is
// started, and again once it is found lost.
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
// interleave its requests with the original's.
void forgetInheritedDecoder()
{
    if (decoderSocket >= 0 && decoderOwner != ::getpid()) dropDecoder(false);
}

// Forks the decoder process, twice removed, so that it is no child of the
// program's: should it end, the system reaps it, whether the program
// decodes again or not. The pid of the process in between, which exits 0
// once the decoder process is forked; -1 when none.
pid_t forkDecoder(int socket)
{
    const pid_t starter = ::fork();
    if (starter == 0) {
        const pid_t decoder = ::fork();
        if (decoder == 0) qvServeDecoding(socket);
        ::_exit(decoder < 0 ? 1 : 0);
    }
    return starter;
}

// Runs this program's own file in the decoder role, handed `socket`; it
// forks once more, and exits, as forkDecoder's process in between does. The
// pid it runs in; -1 when none.
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

// The reason given when the decoder process could not be started.
constexpr char decoderNotStarted[] = "the picture decoder could not be started";

// Starts the decoder process unless one runs; why none runs, empty when one
// does.
std::string startDecoder()
{
    forgetInheritedDecoder();
    if (decoderSocket >= 0) return {};
    const bool forking = singleThreaded();
    if (!forking && !knowsDecoderRole) return "the picture decoder is not running";
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return decoderNotStarted;
    const pid_t starter = forking ? forkDecoder(ends[1]) : spawnDecoder(ends[1]);
    ::close(ends[1]);
    // The process in between says whether it could fork the decoder process
    // (the user's process limit may leave room for none but itself); a
    // status the system reaped unread, SIGCHLD being ignored, counts as
    // started.
    int status = 0;
    while (starter > 0 && ::waitpid(starter, &status, 0) < 0 && errno == EINTR) {}
    if (starter < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ::close(ends[0]);
        return decoderNotStarted;
    }
    decoderSocket = ends[0];
    decoderPid = 0;
    decoderOwner = ::getpid();
    return {};
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

// The request for a picture file; nothing, with the reason in `error`, when
// its header rules the picture out.
std::optional<Request> requestFor(const QvPictureFile& file, const QvDecodeJob& job, std::string& error)
{
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
        resultRowsAt + (header.size
                            ? qvRowBytes(job.request.layout, int(header.size->width)) * header.size->height
                            : 4 * (qvMaxPicturePixels + maxSide));
    return request;
}

// Says, once in this process, that decoders run without their system-call
// filter, as a decoder process found on trying it (`trial`, how that ended):
// pictures are still decoded, but what a file makes of its child can do all
// the user can.
void reportUnfiltered(int trial)
{
    static bool said = false;
    const std::string refusal = filterRefusal(trial);
    if (refusal.empty() || std::exchange(said, true)) return;
    fmt::print("Picture decoders run without their system-call filter: {}\n", refusal);
    std::fflush(stdout);
}

// The picture a child left in its result segment, or why there is none.
QvDecodeOutcome collect(QvSharedMemory result, const Ending& ending, const Request& request)
{
    // Only a child that exited of itself wrote its result (one that finished
    // as it was being ended among them).
    if (!WIFEXITED(ending.status) || WEXITSTATUS(ending.status) != 0) {
        std::int32_t decoder = FIF_UNKNOWN;
        std::memcpy(&decoder, result.data() + offsetof(ResultHeader, decoder), sizeof(decoder));
        return {std::nullopt, endReason(ending, decoder, qvHeldLimits(request.limits))};
    }
    std::optional<QvImageSize> size;
    if (request.sized != 0) size = QvImageSize{request.width, request.height};
    return qvTakeDecodedPicture(std::move(result), request.decode.layout, size,
                                std::uint64_t(std::max(request.decode.maxSide, 0)));
}

// Numbers requests across calls: an ending that names a request of an
// earlier call is never taken for one of this call's.
std::uint64_t lastRequestId = 0;

// One picture of a call on its way through the decoder process.
struct Decoding {
    std::size_t job = 0;
    // The file the job gave, if it gave one.
    const QvPictureFile* given = nullptr;
    // The file as this call read it, for a job given a path; let go once decoded.
    std::optional<QvPictureFile> read;
    // Set once its file is read and its header allows it.
    std::optional<Request> request;
    std::optional<QvSharedMemory> result;
    // Decoder processes lost while they held it.
    int lost = 0;
    // Its child could not be started while others ran: it waits for the
    // count of endings to pass this.
    std::optional<std::size_t> retryAfter;

    // Its file, once read (or given); null before.
    const QvPictureFile* file() const { return read ? &*read : given; }
    std::uint64_t fileBytes() const { return file() != nullptr ? file()->size : 0; }
    // What it holds and may take while its child runs: its segments and its limit.
    std::uint64_t runningBytes() const
    {
        return fileBytes() + request->resultBytes + request->limits.memoryBytes;
    }
};

// The pictures of one call to qvDecodeApartTogether, admitted in order as
// the memory budget allows, sent to the decoder process one by one, and
// taken as their children end.
class DecodingRun {
public:
    DecodingRun(std::span<const QvDecodeJob> jobs, std::optional<QvMemoryRoom> room)
        : jobs_(jobs), room_(room), outcomes_(jobs.size())
    {
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            Decoding decoding;
            decoding.job = i;
            decoding.given = jobs[i].file;
            waiting_.push_back(std::move(decoding));
        }
    }

    std::vector<QvDecodeOutcome> run()
    {
        while (!waiting_.empty() || !running_.empty()) {
            while (admitFirst()) {}
            if (!running_.empty()) takeNextWord();
        }
        return std::move(outcomes_);
    }

private:
    // Admits the first waiting picture, or decides its outcome; false when it
    // has to wait for a running one to end (or none waits).
    bool admitFirst()
    {
        if (waiting_.empty() || running_.size() >= qvMostDecodedTogether) return false;
        Decoding& first = waiting_.front();
        const bool nothingRuns = running_.empty();
        if (!nothingRuns && first.retryAfter && endings_ <= *first.retryAfter) return false;
        if (!first.request) {
            // A file is read only once the budget has room for it.
            if (!nothingRuns && first.file() == nullptr && onDiskBytes(first) > left()) return false;
            if (!prepare(first)) return finishFirst();
        }
        largestLimit_ = std::max(largestLimit_, first.request->limits.memoryBytes);
        // Held for it now: its file, which counts in used() already.
        const std::uint64_t others = used() - first.fileBytes();
        // A call of a single picture is held to no budget, and reads nothing of the system.
        const std::uint64_t budget = jobs_.size() == 1 ? ~std::uint64_t(0) : this->budget();
        if (nothingRuns) {
            // Its segments are memory this process must have; its limit is
            // only what the child may take, so it runs whatever that is.
            if (kept_ + first.fileBytes() + first.request->resultBytes > budget) {
                outcomes_[first.job].error = qvNoMemoryForPicture;
                return finishFirst();
            }
        } else if (others > budget || first.runningBytes() > budget - others) {
            return false;
        }
        Decoding decoding = std::move(waiting_.front());
        waiting_.pop_front();
        send(std::move(decoding));
        return true;
    }

    // Reads the picture's file when the job gave a path and checks its
    // header; false, with the outcome's reason, when it is not to be decoded.
    bool prepare(Decoding& decoding)
    {
        const QvDecodeJob& job = jobs_[decoding.job];
        std::string& error = outcomes_[decoding.job].error;
        if (decoding.given == nullptr) {
            decoding.read = qvReadPictureFile(job.path, error);
            if (!decoding.read) return false;
        }
        decoding.request = requestFor(*decoding.file(), job, error);
        return decoding.request.has_value();
    }

    // The size of the file a waiting picture will read; 0 when it is read already or cannot be told.
    std::uint64_t onDiskBytes(const Decoding& decoding) const
    {
        std::error_code failed;
        const std::uintmax_t bytes = std::filesystem::file_size(jobs_[decoding.job].path, failed);
        return failed ? 0 : std::min<std::uint64_t>(bytes, qvLargestPictureFile);
    }

    bool finishFirst()
    {
        waiting_.pop_front();
        return true;
    }

    // What the budget has left: less what running children may take and
    // the segments this call holds.
    std::uint64_t left()
    {
        const std::uint64_t most = budget();
        return most > used() ? most - used() : 0;
    }
    // The budget, from the system's room as it was when first asked.
    std::uint64_t budget()
    {
        if (!room_) room_ = qvReadMemoryRoom();
        return qvDecodingBudget(largestLimit_, *room_);
    }
    std::uint64_t used() const
    {
        std::uint64_t bytes = kept_;
        for (const Decoding& decoding : running_) bytes += decoding.runningBytes();
        if (!waiting_.empty()) bytes += waiting_.front().fileBytes();
        return bytes;
    }

    // Sends a picture to the decoder process, in a fresh result segment.
    void send(Decoding decoding)
    {
        std::string& error = outcomes_[decoding.job].error;
        if (error = startDecoder(); !error.empty()) return;
        Request& request = *decoding.request;
        decoding.result = QvSharedMemory::create(request.resultBytes, error);
        if (!decoding.result) {
            error = qvSharedMemoryProblem(errno);
            return;
        }
        // A child that never runs names no decoder.
        reinterpret_cast<ResultHeader*>(decoding.result->data())->decoder = FIF_UNKNOWN;
        request.resultSegment = decoding.result->id();
        request.id = ++lastRequestId;
        const bool sent = sendAll(decoderSocket, &request, sizeof(request));
        running_.push_back(std::move(decoding));
        if (!sent) lose(false);
    }

    // Waits for the decoder process's next word and takes it: an ending, its
    // hello, or that it is alive. Gone, or silent for longer than its
    // children may stall, it is lost.
    void takeNextWord()
    {
        double patience = 0;
        for (const Decoding& decoding : running_)
            patience = std::max(patience, decoding.request->limits.stalledSeconds);
        AwakeClock silence(patience + 2e-3 * sliceMs);
        for (;;) {
            pollfd word{decoderSocket, POLLIN, 0};
            if (::poll(&word, 1, sliceMs) <= 0) {
                if (!silence.tick()) return lose(true);
                continue;
            }
            Ended said{};
            const std::optional<std::size_t> received = receive(decoderSocket, &said, sizeof(said));
            if (received == sizeof(Ended)) return ended(said);
            if (received == sizeof(Hello) && decoderPid == 0) {
                Hello hello{};
                std::memcpy(&hello, &said, sizeof(Hello));
                decoderPid = hello.decoder;
                reportUnfiltered(hello.filterTrial);
            } else if (received != sizeof(Alive))
                return lose(false);
            silence.restart();
        }
    }

    // Takes the ending of a running picture's child. One that names no
    // running picture (an ending told twice) is refused.
    void ended(const Ended& said)
    {
        const auto named = std::find_if(running_.begin(), running_.end(), [&](const Decoding& decoding) {
            return decoding.request->id == said.id;
        });
        if (named == running_.end()) return;
        Decoding decoding = std::move(*named);
        running_.erase(named);
        ++endings_;
        // Not started while others run: tried again once one of them ends.
        if (said.ending.status == -1 && !running_.empty()) {
            decoding.retryAfter = endings_;
            decoding.result.reset();
            return wait(std::move(decoding));
        }
        QvDecodeOutcome& outcome = outcomes_[decoding.job];
        outcome = collect(std::move(*decoding.result), said.ending, *decoding.request);
        outcome.together = said.together;
        if (outcome.picture) kept_ += outcome.picture->rows.size();
    }

    // The decoder process is lost: it is forgotten (ended first when
    // `silent`, it may be stopped or hung), and the pictures it held are
    // sent once more to a new one, in fresh result segments (a child it left
    // may still write the old ones), unless it was silent or had lost them
    // before.
    void lose(bool silent)
    {
        dropDecoder(silent);
        for (Decoding& decoding : running_) {
            decoding.result.reset();
            if (silent || ++decoding.lost > 1)
                outcomes_[decoding.job].error = "the picture decoder has stopped";
            else
                wait(std::move(decoding));
        }
        running_.clear();
    }

    // Puts a picture that was sent back among those waiting, in job order.
    void wait(Decoding decoding)
    {
        const auto later = std::find_if(waiting_.begin(), waiting_.end(),
                                        [&](const Decoding& other) { return other.job > decoding.job; });
        waiting_.insert(later, std::move(decoding));
    }

    std::span<const QvDecodeJob> jobs_;
    std::optional<QvMemoryRoom> room_;
    std::vector<QvDecodeOutcome> outcomes_;
    std::deque<Decoding> waiting_;
    std::vector<Decoding> running_;
    // Bytes of the rows of pictures decoded, kept until the call returns.
    std::uint64_t kept_ = 0;
    std::uint64_t largestLimit_ = 0;
    std::size_t endings_ = 0;
};

}  // namespace

QvPixelRows::QvPixelRows(QvSharedMemory segment, std::size_t offset, std::size_t size)
    : segment_(std::move(segment)), data_(segment_.data() + offset), size_(size)
{
}

std::optional<QvPixelRows> QvPixelRows::copyOf(const std::uint8_t* from, std::size_t size)
{
    QvPixelRows rows;
    rows.copy_.reset(new (std::nothrow) std::uint8_t[size]);
    if (rows.copy_ == nullptr) return std::nullopt;
    std::memcpy(rows.copy_.get(), from, size);
    rows.data_ = rows.copy_.get();
    rows.size_ = size;
    return rows;
}

void qvEnterDecoderRoleIfAsked(int argc, char** argv)
{
    const std::string_view asked = argc == 2 ? argv[1] : "";
    if (!asked.starts_with(decoderRole)) {
        knowsDecoderRole = true;
        return;
    }
    qvServeDecoderRole(asked.substr(decoderRole.size()));
}

bool qvStartDecoderProcess()
{
    return startDecoder().empty();
}

QvDecodeOutcome qvTakeDecodedPicture(QvSharedMemory segment, QvPixelLayout layout,
                                     std::optional<QvImageSize> headerSize, std::uint64_t maxSide)
{
    // Read once, into our own memory: the segment may change under us.
    ResultHeader header{};
    if (segment.size() < resultRowsAt) return {std::nullopt, "the picture decoder gave no result"};
    std::memcpy(&header, segment.data(), sizeof(header));
    const std::string name = decoderName(header.decoder);
    if (header.finished != 1) return {std::nullopt, fmt::format("{} stopped (status 0)", name)};
    std::string error = printableText(getText(header.error));
    if (!error.empty()) return {std::nullopt, std::move(error)};
    const QvImageSize size{std::uint64_t(std::int64_t(header.width)),
                           std::uint64_t(std::int64_t(header.height))};
    if (headerSize && (size.width != headerSize->width || size.height != headerSize->height))
        return {std::nullopt,
                fmt::format("{} gave a {}x{} picture, where its header says {}x{}", name, header.width,
                            header.height, headerSize->width, headerSize->height)};
    if (!headerSize && header.width > 0 && header.height > 0) {
        if (std::string problem = qvImageSizeProblem(size, maxSide); !problem.empty())
            return {std::nullopt,
                    fmt::format("{} gave a {}x{} picture: {}", name, header.width, header.height, problem)};
    }
    // Only the rows its size takes are read, whatever the child claims beyond.
    const std::size_t room = segment.size() - resultRowsAt;
    const std::size_t rowBytes = header.width > 0 ? qvRowBytes(layout, header.width) : 0;
    if (header.height <= 0 || rowBytes == 0 || std::size_t(header.height) > room / rowBytes ||
        header.rowBytes != rowBytes * std::size_t(header.height))
        return {std::nullopt,
                fmt::format("{} gave no rows of its {}x{} picture", name, header.width, header.height)};
    std::string remarks = printableText(getText(header.remarks));
    // Where no other process can write the rows any longer, they are read
    // in place, through a view that cannot write them either.
    const bool inPlace = segment.attachedOnlyHere();
    if (inPlace && !segment.seal()) return {std::nullopt, qvSharedMemoryProblem(errno)};
    // The child wrote the rows into pages this view has not mapped yet: one
    // call maps them all, where reading them would take a fault for every
    // few pages (a kernel before 5.14 refuses the advice, and the reads map
    // them as before).
    const std::uint8_t* rows = segment.data() + resultRowsAt;
    ::madvise(const_cast<std::uint8_t*>(rows), header.rowBytes, MADV_POPULATE_READ);
    if (inPlace) {
        return {QvDecodedPicture{header.width, header.height,
                                 QvPixelRows(std::move(segment), resultRowsAt, header.rowBytes),
                                 std::move(remarks)},
                {}};
    }
    std::optional<QvPixelRows> copy = QvPixelRows::copyOf(rows, header.rowBytes);
    if (!copy) return {std::nullopt, qvNoMemoryForPicture};
    return {QvDecodedPicture{header.width, header.height, std::move(*copy), std::move(remarks)}, {}};
}

std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs,
                                                   std::optional<QvMemoryRoom> room)
{
    return DecodingRun(jobs, room).run();
}

std::optional<QvDecodedPicture> qvDecodeApart(const QvPictureFile& file, const QvDecodeRequest& request,
                                              std::string& error, std::optional<QvDecoderLimits> limits)
{
    const QvDecodeJob job{&file, request, limits, {}};
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
