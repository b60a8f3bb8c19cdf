// qvdecodingrun: the pictures of one call admitted under the memory budget,
// their requests sent and their endings taken.
#include "engine/picture/qvdecodingrun.h"

#include "engine/picture/qvdecodercrossing.h"
#include "engine/picture/qvdecoderprocess.h"
#include "engine/picture/qvsharedmemory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

#include <poll.h>
#include <sys/wait.h>

using namespace qvcrossing;

namespace {

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
        if (error = qvdecoderlink::start(); !error.empty()) return;
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
        const bool sent = sendAll(qvdecoderlink::socket(), &request, sizeof(request));
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
            pollfd word{qvdecoderlink::socket(), POLLIN, 0};
            if (::poll(&word, 1, sliceMs) <= 0) {
                if (!silence.tick()) return lose(true);
                continue;
            }
            Ended said{};
            const std::optional<std::size_t> received = receive(qvdecoderlink::socket(), &said, sizeof(said));
            if (received == sizeof(Ended)) return ended(said);
            Hello hello{};
            std::memcpy(&hello, &said, sizeof(Hello));
            // Its first words once, else only that it is alive.
            if (received == sizeof(Hello) ? !qvdecoderlink::hello(hello.decoder, hello.filterTrial)
                                          : received != sizeof(Alive))
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
        qvdecoderlink::drop(silent);
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

std::vector<QvDecodeOutcome> qvDecodeApartTogether(std::span<const QvDecodeJob> jobs,
                                                   std::optional<QvMemoryRoom> room)
{
    return DecodingRun(jobs, room).run();
}
