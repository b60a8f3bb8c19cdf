// qvdecodercrossing: the socket's messages, and the words for a decoder and
// for how its child ended.
#include "engine/picture/qvdecodercrossing.h"

#include <fmt/core.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include <sys/socket.h>
#include <sys/wait.h>

namespace qvcrossing {

namespace {

// Signals by which a decoder crashes; any other that ends a child not by our
// limits came from outside (a user, the system's memory killer).
constexpr int crashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

}  // namespace

bool sendAll(int socket, const void* data, std::size_t bytes)
{
    ssize_t sent = 0;
    do sent = ::send(socket, data, bytes, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == ssize_t(bytes);
}

std::optional<std::size_t> receive(int socket, void* data, std::size_t bytes)
{
    ssize_t received = 0;
    do received = ::recv(socket, data, bytes, MSG_TRUNC);
    while (received < 0 && errno == EINTR);
    if (received <= 0 || std::size_t(received) > bytes) return std::nullopt;
    return std::size_t(received);
}

std::string decoderName(std::int32_t format)
{
    const char* name =
        format == FIF_UNKNOWN ? nullptr : FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT(format));
    return name != nullptr ? fmt::format("the {} decoder", name) : "the picture decoder";
}

std::string secondsText(double seconds)
{
    std::string text = fmt::format("{:.3f}", seconds);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

std::string filterRefusal(int trial)
{
    if (WIFSIGNALED(trial)) return fmt::format("setting it ended the process (signal {})", WTERMSIG(trial));
    if (WIFEXITED(trial) && WEXITSTATUS(trial) != 0)
        return fmt::format("the kernel refused it ({})", std::strerror(WEXITSTATUS(trial)));
    return {};
}

std::string endReason(const Ending& ending, std::int32_t decoder, const QvDecoderLimits& limits)
{
    const std::string name = decoderName(decoder);
    const int status = ending.status;
    if (ending.overran != 0)
        return fmt::format("{} took longer than {} s", name, secondsText(limits.cpuSeconds));
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

}  // namespace qvcrossing
