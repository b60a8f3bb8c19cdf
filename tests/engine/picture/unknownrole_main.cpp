// A program that never called qvEnterDecoderRoleIfAsked: once it runs a
// thread, it can neither fork a decoder process safely nor run its own file
// as one, so a picture is refused with its line and no process is started.
// Exits 0 when that holds, printing what it saw otherwise.
#include "engine/picture/qvdecoderprocess.h"

#include <FreeImage.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include <unistd.h>

int main()
{
    std::promise<void> release;
    std::thread waiting([waited = release.get_future()] { waited.wait(); });
    // The smallest plain PBM: a header our reader sizes, and one pixel.
    const std::string pbm = "P1\n1 1\n1\n";
    std::string error;
    const bool decoded = qvDecodeApart({reinterpret_cast<const std::uint8_t*>(pbm.data()), pbm.size()},
                                       FIF_PBM, {.maxSide = 16}, error)
                             .has_value();
    std::string children;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string some;
        std::getline(std::ifstream(task.path() / "children"), some);
        children += some;
    }
    release.set_value();
    waiting.join();
    const bool held = !decoded && error == "the picture decoder is not running" && children.empty();
    if (!held) std::printf("decoded %d, \"%s\", children \"%s\"\n", decoded, error.c_str(), children.c_str());
    return held ? 0 : 1;
}
