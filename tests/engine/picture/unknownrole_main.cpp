// A program that never called qvEnterDecoderRoleIfAsked, once it runs a thread, can neither fork a
// decoder process safely nor run its own file as one: a picture is refused with its line, and no process
// is started. Exits 0 when that holds.
#include "engine/picture/qvdecoderprocess.h"

#include <cstdio>
#include <fstream>
#include <future>
#include <thread>

#include <unistd.h>

int main(int argc, char** argv)
{
    // Run with any argument, it was run as a decoder process all the same: it says so and ends, rather
    // than start itself again and again.
    if (argc > 1) {
        std::fprintf(stderr, "Run as %s %s, though it never took the decoder role\n", argv[0], argv[1]);
        return 1;
    }
    std::promise<void> release;
    std::thread waiting([waited = release.get_future()] { waited.wait(); });
    const std::uint8_t pbm[] = "P1\n1 1\n1\n";
    std::string error, children;
    const bool decoded =
        qvDecodeApart(std::span(pbm, sizeof pbm - 1), FIF_PBM, {.maxSide = 16}, error).has_value();
    std::getline(std::ifstream("/proc/self/task/" + std::to_string(::getpid()) + "/children"), children);
    release.set_value();
    waiting.join();
    if (!decoded && error == "the picture decoder is not running" && children.empty()) return 0;
    std::fprintf(stderr, "decoded %d, \"%s\", children \"%s\"\n", decoded, error.c_str(), children.c_str());
    return 1;
}
