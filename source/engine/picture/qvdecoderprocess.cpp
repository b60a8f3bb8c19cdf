// qvdecoderprocess: the program's side of the decoder process: started by a
// fork, or by running the program's own file in the decoder role, and
// forgotten once lost, a new one being started for the next picture.
#include "engine/picture/qvdecoderprocess.h"

#include "engine/picture/qvdecodercrossing.h"
#include "engine/picture/qvdecoderserver.h"

#include <fmt/core.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <utility>

#include <spawn.h>
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

// A decoder process talks with the process that started it: a copy of that
// process made by fork (a test's child) starts its own, rather than
// interleave its requests with the original's.
void forgetInheritedDecoder()
{
    if (decoderSocket >= 0 && decoderOwner != ::getpid()) qvdecoderlink::drop(false);
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

}  // namespace

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
    return qvdecoderlink::start().empty();
}

namespace qvdecoderlink {

std::string start()
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

void drop(bool end)
{
    if (end && decoderPid > 0) ::kill(decoderPid, SIGKILL);
    ::close(std::exchange(decoderSocket, -1));
    decoderPid = 0;
}

int socket()
{
    return decoderSocket;
}

bool hello(pid_t decoder, int filterTrial)
{
    if (decoderPid != 0) return false;
    decoderPid = decoder;
    reportUnfiltered(filterTrial);
    return true;
}

}  // namespace qvdecoderlink

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
