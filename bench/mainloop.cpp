// Start-up and frame cost of the application.
//
// Start-up: the program (build/run/velmorin, unchanged) and a minimal GLFW
// window with the same hints (bench_minimal_window) are each started as fresh
// processes, in turn, several times. A probe preloaded into each
// (bench_first_frame_probe) ends the process once its first main-window frame
// is drawn and finished: the program's second swap (the first is the
// splash), the minimal window's first. Exec to that moment, and the process's
// CPU time by then, are compared as medians.
//
// Frames: the program's own window and application, built in this process,
// run frames of the full scene, of the sky alone (no objects, no panels) and
// of a bare clear-and-swap in the same window. Every frame ends with
// glFinish; wall time and the CPU time of the whole process (the software
// rasteriser's threads do most of the work) are both reported, with the main
// thread's share beside them.
//
//   bench_mainloop [frames=300] [start-up runs=11] [run directory=build/run]
// The figures go to standard error, the program's console lines to standard
// output. Run under Xvfb:
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench_mainloop >/dev/null
#include "engine/gl/qvmaterialobject.h"
#include "engine/shell/qvapplication.h"
#include "engine/shell/qvglwindow.h"
#include "engine/shell/qvworld.h"
#include "scene/qvscene.h"
#include "widgets/qvwidget3d.h"

#include <epoxy/gl.h>

#include <GLFW/glfw3.h>
#include <X11/Xlib.h>
#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kBlocks = 5;       // frame figures are the median of this many blocks' means
constexpr int kWarmUpFrames = 20;
constexpr int kMainFrameSwap = 2;  // the program swaps the splash first
constexpr int kMinimalFrameSwap = 1;

double seconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// What the probe saw in one fresh process.
struct FirstFrame {
    double wallMs = 0.0;  // exec to the frame finished
    double cpuMs = 0.0;   // the process's CPU time by then, all threads
    int width = 0;
    int height = 0;
};

// Starts `program` as a fresh process with the probe preloaded, and waits
// until the probe ends it after swap number `swap`.
std::optional<FirstFrame> timeFirstFrame(const fs::path& program, const fs::path& probe, int swap)
{
    int channel[2];
    if (pipe(channel) != 0) return std::nullopt;
    fcntl(channel[0], F_SETFD, FD_CLOEXEC);

    std::vector<std::string> settings = {"LD_PRELOAD=" + probe.string(),
                                         fmt::format("VELMORIN_PROBE_SWAP={}", swap),
                                         fmt::format("VELMORIN_PROBE_FD={}", channel[1])};
    std::vector<char*> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        if (entry.rfind("LD_PRELOAD=", 0) != 0 && entry.rfind("VELMORIN_PROBE_", 0) != 0)
            environment.push_back(*variable);
    }
    for (std::string& setting : settings) environment.push_back(setting.data());
    environment.push_back(nullptr);

    // The program's console lines are not part of what is timed here.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string path = program.string();
    char* arguments[] = {path.data(), nullptr};

    const double start = seconds(CLOCK_MONOTONIC);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, arguments, environment.data());
    posix_spawn_file_actions_destroy(&actions);
    close(channel[1]);
    if (spawned != 0) {
        close(channel[0]);
        return std::nullopt;
    }
    std::string line;
    char buffer[256];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) line.append(buffer, size_t(got));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);

    double stamp = 0.0, cpu = 0.0;
    FirstFrame frame;
    if (std::sscanf(line.c_str(), "%lf %lf %d %d", &stamp, &cpu, &frame.width, &frame.height) != 4)
        return std::nullopt;
    frame.wallMs = (stamp - start) * 1000.0;
    frame.cpuMs = cpu * 1000.0;
    return frame;
}

// The program and the minimal window started in turn `runs` times each; the
// medians and their ratio.
void compareStartUp(const fs::path& benchDirectory, const fs::path& runDirectory, int runs)
{
    const fs::path program = runDirectory / "velmorin";
    const fs::path minimal = benchDirectory / "bench_minimal_window";
    const fs::path probe = benchDirectory / "bench_first_frame_probe.so";
    std::vector<double> programWall, programCpu, minimalWall, minimalCpu;
    FirstFrame programFrame, minimalFrame;
    for (int i = 0; i < runs; ++i) {
        const auto ours = timeFirstFrame(program, probe, kMainFrameSwap);
        const auto theirs = timeFirstFrame(minimal, probe, kMinimalFrameSwap);
        if (!ours || !theirs) {
            fmt::print(stderr, "start-up: a process ended without its frame ({} or {})\n", program.string(),
                       minimal.string());
            return;
        }
        programFrame = *ours;
        minimalFrame = *theirs;
        programWall.push_back(ours->wallMs);
        programCpu.push_back(ours->cpuMs);
        minimalWall.push_back(theirs->wallMs);
        minimalCpu.push_back(theirs->cpuMs);
    }
    const double ourWall = median(programWall), theirWall = median(minimalWall);
    const double ourCpu = median(programCpu), theirCpu = median(minimalCpu);
    fmt::print(stderr, "start-up, exec to first frame finished, median of {} fresh processes each:\n", runs);
    fmt::print(stderr, "  {:<40}{:>10.1f} ms wall{:>10.1f} ms CPU   ({}x{}, runs {:.0f}..{:.0f} ms)\n",
               "program, first main-window frame", ourWall, ourCpu, programFrame.width,
               programFrame.height, *std::min_element(programWall.begin(), programWall.end()),
               *std::max_element(programWall.begin(), programWall.end()));
    fmt::print(stderr, "  {:<40}{:>10.1f} ms wall{:>10.1f} ms CPU   ({}x{}, runs {:.0f}..{:.0f} ms)\n",
               "minimal GLFW window, first frame", theirWall, theirCpu, minimalFrame.width,
               minimalFrame.height, *std::min_element(minimalWall.begin(), minimalWall.end()),
               *std::max_element(minimalWall.begin(), minimalWall.end()));
    fmt::print(stderr, "  program / minimal window: {:.2f}x wall, {:.2f}x CPU\n", ourWall / theirWall,
               ourCpu / theirCpu);
}

// Milliseconds a frame: wall, the whole process's CPU, the main thread's CPU.
struct FrameCost {
    double wallMs = 0.0;
    double cpuMs = 0.0;
    double mainThreadMs = 0.0;
};

// Each frame is finished on the GPU before the next; the medians over
// kBlocks blocks, so that a busy moment on a shared machine does not decide.
FrameCost frameCost(const std::function<void()>& frame, int frames)
{
    for (int i = 0; i < kWarmUpFrames; ++i) frame();
    const int perBlock = std::max(1, frames / kBlocks);
    std::vector<double> wall, cpu, mainThread;
    for (int block = 0; block < kBlocks; ++block) {
        const double wall0 = seconds(CLOCK_MONOTONIC), cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID),
                     thread0 = seconds(CLOCK_THREAD_CPUTIME_ID);
        for (int i = 0; i < perBlock; ++i) frame();
        wall.push_back((seconds(CLOCK_MONOTONIC) - wall0) * 1000.0 / perBlock);
        cpu.push_back((seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) * 1000.0 / perBlock);
        mainThread.push_back((seconds(CLOCK_THREAD_CPUTIME_ID) - thread0) * 1000.0 / perBlock);
    }
    return {median(wall), median(cpu), median(mainThread)};
}

void printFrameCost(const char* name, const FrameCost& cost, const FrameCost& bare)
{
    fmt::print(stderr, "  {:<24}{:>10.2f}{:>10.2f}{:>10.2f}{:>10.2f}{:>12.2f}\n", name, cost.wallMs, cost.cpuMs,
               cost.mainThreadMs, cost.wallMs / bare.wallMs, cost.cpuMs / bare.cpuMs);
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 11);
    const fs::path benchDirectory = fs::canonical("/proc/self/exe").parent_path();
    const fs::path runDirectory = fs::canonical(argc > 3 ? fs::path(argv[3]) : benchDirectory / "run");
    fs::current_path(runDirectory);

    // Xvfb resets when its last client leaves, and a process that connects
    // during the reset fails: one connection stays open while the fresh
    // processes come and go.
    Display* display = XOpenDisplay(nullptr);
    compareStartUp(benchDirectory, runDirectory, runs);

    // The program's start, then its frames with vsync off.
    QvGLWindow window("Velmorin");
    QvApplication application(&window);
    application._startUp();
    glfwSwapInterval(0);
    window.vsyncOff = true;
    application._frame();

    const FrameCost full = frameCost(
        [&] {
            application._frame();
            glFinish();
        },
        frames);
    // The sky alone: no objects, no panels.
    QvScene& scene = *window.getWorld()->scene;
    std::vector<QvMaterialObject*> objects;
    objects.swap(scene.objects);
    std::vector<bool> shown;
    for (QvWidget3D* widget : scene.widgets) {
        shown.push_back(widget->onScreen);
        widget->onScreen = false;
    }
    const FrameCost sky = frameCost(
        [&] {
            application._frame();
            glFinish();
        },
        frames);
    objects.swap(scene.objects);
    for (std::size_t i = 0; i < shown.size(); ++i) scene.widgets[i]->onScreen = shown[i];
    // What a window without a world does: poll, clear, swap.
    const FrameCost bare = frameCost(
        [&] {
            window.pollEvents();
            window.clear();
            window.swapBuffers();
            glFinish();
        },
        frames);
    application.stop();
    if (display != nullptr) XCloseDisplay(display);

    fmt::print(stderr, "\nframes of the program's {}x{} window, each finished with glFinish, medians of {} blocks "
               "of {} frames (ms a frame):\n",
               int(window.getWindowWidth()), int(window.getWindowHeight()), kBlocks,
               std::max(1, frames / kBlocks));
    fmt::print(stderr, "  {:<24}{:>10}{:>10}{:>10}{:>10}{:>12}\n", "", "wall", "CPU", "main thr.", "wall/bare",
               "CPU/bare");
    printFrameCost("full scene", full, bare);
    printFrameCost("sky alone", sky, bare);
    printFrameCost("bare clear and swap", bare, bare);
    fmt::print(stderr, "  full scene / sky alone: {:.2f}x wall, {:.2f}x CPU\n", full.wallMs / sky.wallMs,
               full.cpuMs / sky.cpuMs);
    return 0;
}
