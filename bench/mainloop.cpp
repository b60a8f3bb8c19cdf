// Start-up and frame cost of the application, each set beside a reference
// timed in alternating blocks with it (see support/interleave.h): every
// round's ratio is printed, then their median and range.
//
// Start-up: the program (build/run/velmorin, unchanged) and a minimal GLFW
// window with the same hints (bench_minimal_window) are started as fresh
// processes in turn. A probe preloaded into each (bench_first_frame_probe)
// ends the process once its first main-window frame is drawn and finished:
// the program's second swap (the first is the splash), the minimal window's
// first. Exec to that moment, and the process's CPU time by then.
//
// Frames: the program's own window and application, built in this process,
// run blocks of frames of the full scene, of the sky alone (no objects, no
// panels) and of a bare clear-and-swap in the same window, in turn. Every
// frame ends with glFinish; wall time and the CPU time of the whole process
// (the software rasteriser's threads do most of the work) are both compared.
//
//   bench_mainloop [frames a block=20] [rounds=15] [start-up runs=11] [run directory=build/run]
// The figures go to standard error, the program's console lines to standard
// output. Run under Xvfb:
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench_mainloop >/dev/null
#include "engine/gl/qvmaterialobject.h"
#include "engine/shell/qvapplication.h"
#include "engine/shell/qvglwindow.h"
#include "engine/shell/qvworld.h"
#include "scene/qvscene.h"
#include "widgets/qvwidget3d.h"
#include "interleave.h"

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
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kWarmUpFrames = 20;  // of each kind, before the first round
constexpr int kSettleFrames = 3;   // untimed at the start of each block, after the switch
constexpr int kMainFrameSwap = 2;  // the program swaps the splash first
constexpr int kMinimalFrameSwap = 1;

// What the probe saw in one fresh process.
struct FirstFrame {
    bench::Cost cost;  // exec to the frame finished; the process's CPU time by then, all threads
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

    const double start = bench::seconds(CLOCK_MONOTONIC);
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
    frame.cost = {(stamp - start) * 1000.0, cpu * 1000.0};
    return frame;
}

// The program and the minimal window started in turn, `runs` times each.
void compareStartUp(const fs::path& benchDirectory, const fs::path& runDirectory, int runs)
{
    const fs::path program = runDirectory / "velmorin";
    const fs::path minimal = benchDirectory / "bench_minimal_window";
    const fs::path probe = benchDirectory / "bench_first_frame_probe.so";
    FirstFrame programFrame, minimalFrame;
    bool failed = false;
    auto firstFrame = [&](const fs::path& path, int swap, FirstFrame& seen) {
        return [&, swap] {
            const auto frame = failed ? std::nullopt : timeFirstFrame(path, probe, swap);
            failed = failed || !frame;
            if (frame) seen = *frame;
            return seen.cost;
        };
    };
    const auto costs = bench::interleave(runs, {firstFrame(program, kMainFrameSwap, programFrame),
                                                firstFrame(minimal, kMinimalFrameSwap, minimalFrame)});
    if (failed) {
        fmt::print(stderr, "start-up: a process ended without its frame ({} or {})\n", program.string(),
                   minimal.string());
        return;
    }
    fmt::print(stderr, "start-up, exec to first frame finished, {} fresh processes of each in turn, medians:\n",
               runs);
    bench::printMedians(stderr,
                        fmt::format("program, first main-window frame ({}x{})", programFrame.width,
                                    programFrame.height),
                        costs[0]);
    bench::printMedians(stderr,
                        fmt::format("minimal GLFW window, first frame ({}x{})", minimalFrame.width,
                                    minimalFrame.height),
                        costs[1]);
    bench::printRatios(stderr, "program / minimal window", costs[0], costs[1]);
}

// Takes the scene's objects and panels away for the sky alone, and gives them back.
class SceneContent {
public:
    explicit SceneContent(QvScene& scene) : _scene(scene) {}

    void showSkyAlone(bool skyAlone)
    {
        if (skyAlone == _skyAlone) return;
        _skyAlone = skyAlone;
        _objects.swap(_scene.objects);
        if (skyAlone) _shown.clear();
        for (std::size_t i = 0; i < _scene.widgets.size(); ++i) {
            QvWidget3D* widget = _scene.widgets[i];
            if (skyAlone) _shown.push_back(widget->onScreen);
            widget->onScreen = skyAlone ? false : bool(_shown[i]);
        }
    }

private:
    QvScene& _scene;
    std::vector<QvMaterialObject*> _objects;
    std::vector<bool> _shown;
    bool _skyAlone = false;
};

}  // namespace

int main(int argc, char** argv)
{
    const int perBlock = std::max(1, argc > 1 ? std::atoi(argv[1]) : 20);
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 15);
    const int runs = std::max(1, argc > 3 ? std::atoi(argv[3]) : 11);
    const fs::path benchDirectory = fs::canonical("/proc/self/exe").parent_path();
    const fs::path runDirectory = fs::canonical(argc > 4 ? fs::path(argv[4]) : benchDirectory / "run");
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

    SceneContent content(*window.getWorld()->scene);
    const auto sceneFrame = [&] {
        application._frame();
        glFinish();
    };
    // What a window without a world does: poll, clear, swap.
    const auto bareFrame = [&] {
        window.pollEvents();
        window.clear();
        window.swapBuffers();
        glFinish();
    };
    auto block = [&](bool skyAlone, const std::function<void()>& frame, int settle) {
        return [&, skyAlone, frame, settle] {
            content.showSkyAlone(skyAlone);
            for (int i = 0; i < settle; ++i) frame();
            return bench::measure(frame, perBlock);
        };
    };
    // One untimed round first, with longer settling, for the driver's first uses.
    bench::interleave(1, {block(false, sceneFrame, kWarmUpFrames), block(true, sceneFrame, kWarmUpFrames),
                          block(false, bareFrame, kWarmUpFrames)});
    const auto costs = bench::interleave(rounds, {block(false, sceneFrame, kSettleFrames),
                                                  block(true, sceneFrame, kSettleFrames),
                                                  block(false, bareFrame, kSettleFrames)});
    content.showSkyAlone(false);
    application.stop();
    if (display != nullptr) XCloseDisplay(display);

    fmt::print(stderr,
               "\nframes of the program's {}x{} window, each finished with glFinish: {} rounds of a block of "
               "{} frames of each in turn, medians (ms a frame):\n",
               int(window.getWindowWidth()), int(window.getWindowHeight()), rounds, perBlock);
    bench::printMedians(stderr, "full scene", costs[0]);
    bench::printMedians(stderr, "sky alone", costs[1]);
    bench::printMedians(stderr, "bare clear and swap", costs[2]);
    bench::printRatios(stderr, "full scene / bare clear and swap", costs[0], costs[2]);
    bench::printRatios(stderr, "sky alone / bare clear and swap", costs[1], costs[2]);
    bench::printRatios(stderr, "full scene / sky alone", costs[0], costs[1]);
    return 0;
}
