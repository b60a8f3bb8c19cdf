// A program that never called qvEnterDecoderRoleIfAsked, once it runs a thread, can neither fork a
// decoder process safely nor run its own file as one: a picture is refused with its line, and no process
// is started. Exits 0 when that holds.
#include "engine/picture/qvdecoderprocess.h"

#include <cstdio>
#include <fstream>
#include <future>
#include <thread>

#include <unistd.h>

int main(int argc, char**)
{
    // Run as a decoder process all the same (with any argument): it ends, rather than start itself again.
    if (argc > 1) return std::fputs("Run as a decoder process, though it never took the role\n", stderr), 1;
    std::promise<void> release;
    std::thread waiting([waited = release.get_future()] { waited.wait(); });
    const std::uint8_t pbm[] = "P1\n1 1\n1\n";
    std::string error, children;
    const bool decoded =
        qvDecodeApart(std::span(pbm, sizeof pbm - 1), FIF_PBM, {.maxSide = 16}, error).has_value();
    std::getline(std::ifstream("/proc/self/task/" + std::to_string(::getpid()) + "/children"), children);
    release.set_value();
    waiting.join();
    return !decoded && error == "the picture decoder is not running" && children.empty() ? 0 : 1;
}
