// Main-loop throughput: starts the real application (splash, world, scene,
// main window) in the run directory, turns vsync off and runs N frames.
// Prints the time from start to the end of the first main-window frame and
// the frames per second of the loop.
//
//   bench_mainloop [frames=600] [run directory=build/run]
// Run under Xvfb: xvfb-run -a -s "-screen 0 1920x1080x24" build/bench_mainloop
#include "engine/shell/qvapplication.h"
#include "engine/shell/qvglwindow.h"

#include <GLFW/glfw3.h>
#include <fmt/core.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv)
{
    using Clock = std::chrono::steady_clock;
    const int frames = argc > 1 ? std::atoi(argv[1]) : 600;
    const std::filesystem::path runDirectory =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path(argv[0]).parent_path() / "run";
    std::filesystem::current_path(runDirectory);

    const Clock::time_point start = Clock::now();
    QvGLWindow window("Velmorin");
    QvApplication application(&window);
    application._startUp();
    glfwSwapInterval(0);
    window.vsyncOff = true;
    application._frame();
    const double firstFrame = std::chrono::duration<double>(Clock::now() - start).count();

    const Clock::time_point loopStart = Clock::now();
    for (int i = 0; i < frames; ++i) application._frame();
    const double loop = std::chrono::duration<double>(Clock::now() - loopStart).count();
    application.stop();

    fmt::print("start to first main-window frame: {:.1f} ms\n", firstFrame * 1000.0);
    fmt::print("main loop: {} frames in {:.3f} s = {:.1f} frames per second\n", frames, loop, frames / loop);
    return 0;
}
