// Main-loop throughput: starts the real application (splash, world, scene,
// main window) in the run directory, turns vsync off and runs N frames.
// Prints the time from start to the end of the first main-window frame and
// the frames per second of the loop. Beside it, in the same run: a minimal
// GLFW window of the same size and context hints (start to first swap, and
// its clear-and-swap loop), and the main thread's CPU time of a standing
// frame of the full scene against a frame of the sky alone.
//
//   bench_mainloop [frames=600] [run directory=build/run]
// Run under Xvfb: xvfb-run -a -s "-screen 0 1920x1080x24" build/bench_mainloop
#include "engine/gl/qvmaterialobject.h"
#include "engine/shell/qvapplication.h"
#include "engine/shell/qvglwindow.h"
#include "engine/shell/qvworld.h"
#include "scene/qvscene.h"
#include "widgets/qvwidget3d.h"

#include <epoxy/gl.h>

#include <GLFW/glfw3.h>
#include <fmt/core.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU seconds of the calling thread (the driver's own threads not counted).
double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A window with the program's context hints at the main window's size that
// only clears and swaps: start to first swap, then its frames per second.
void minimalWindow(int frames)
{
    const Clock::time_point start = Clock::now();
    glfwInit();
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
    glfwWindowHint(GLFW_SAMPLES, 8);
    GLFWwindow* window = glfwCreateWindow(1024, 768, "minimal", nullptr, nullptr);
    if (window == nullptr) {
        fmt::print("minimal window: not created\n");
        return;
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(0);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glfwSwapBuffers(window);
    const double firstFrame = seconds(start);
    const Clock::time_point loopStart = Clock::now();
    for (int i = 0; i < frames; ++i) {
        glfwPollEvents();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glfwSwapBuffers(window);
    }
    const double loop = seconds(loopStart);
    glfwDestroyWindow(window);
    glfwTerminate();
    fmt::print("minimal GLFW window: start to first frame {:.1f} ms, {:.1f} frames per second\n",
               firstFrame * 1000.0, frames / loop);
}

// Main-thread CPU milliseconds per frame over `frames` frames.
double cpuPerFrame(QvApplication& application, int frames)
{
    const double start = threadCpuSeconds();
    for (int i = 0; i < frames; ++i) application._frame();
    return (threadCpuSeconds() - start) * 1000.0 / frames;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 600;
    const std::filesystem::path runDirectory =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path(argv[0]).parent_path() / "run";
    std::filesystem::current_path(runDirectory);
    minimalWindow(frames);

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

    // The same frames standing still, then with the sky alone: no objects,
    // no panels.
    QvScene& scene = *window.getWorld()->scene;
    const double fullFrame = cpuPerFrame(application, frames);
    std::vector<QvMaterialObject*> objects;
    objects.swap(scene.objects);
    std::vector<bool> shown;
    for (QvWidget3D* widget : scene.widgets) {
        shown.push_back(widget->onScreen);
        widget->onScreen = false;
    }
    const double skyFrame = cpuPerFrame(application, frames);
    objects.swap(scene.objects);
    for (std::size_t i = 0; i < shown.size(); ++i) scene.widgets[i]->onScreen = shown[i];
    application.stop();

    fmt::print("start to first main-window frame: {:.1f} ms\n", firstFrame * 1000.0);
    fmt::print("main loop: {} frames in {:.3f} s = {:.1f} frames per second\n", frames, loop, frames / loop);
    fmt::print("standing frame, main-thread CPU: full scene {:.3f} ms, sky alone {:.3f} ms ({:.2f}x)\n",
               fullFrame, skyFrame, fullFrame / skyFrame);
    return 0;
}
