// qvdecoderprocess: the program's side of decoding apart: it starts the
// decoder process (qvdecoderserver), sends it batches of requests with
// their result segments (qvdecodercrossing), starts it anew and sends a batch
// once more should it end, and takes each child's result into its own memory.
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

static_assert(sizeof(QvResultHeader) <= qvResultRowsAt);

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
        if (::fork() == 0) qvServeDecoding(socket);
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

// Says, once in this process, that a child decoded without its system-call
// filter, the kernel having refused it: pictures are still decoded, but
// what a file makes of its child can do all the user can.
void reportUnfiltered(const QvSharedMemory& result)
{
    static bool said = false;
    std::int32_t refusal = 0;
    std::memcpy(&refusal, result.data() + offsetof(QvResultHeader, filterRefusal), sizeof(refusal));
    if (refusal == 0 || std::exchange(said, true)) return;
    fmt::print("Picture decoders run without their system-call filter: the kernel refused it ({})\n",
               std::strerror(refusal));
    std::fflush(stdout);
}

// The picture a child left in its result segment, or why there is none.
QvDecodeOutcome collect(const QvSharedMemory& result, const Ending& ending, const Request& request)
{
    reportUnfiltered(result);
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
    qvServeDecoderRole(asked.substr(decoderRole.size()));
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
