// Start-up and frame cost of the application, each set beside a reference
// timed in alternating blocks with it (see support/interleave.h): every
// round's ratio is printed, then their median and range.
//
// Start-up: the program (build/run/velmorin, unchanged) and a minimal GLFW
// window with the same hints (bench_minimal_window) are started as fresh
// processes in turn. A probe preloaded into each (bench_first_frame_probe)
// ends the process once its first main-window frame is drawn and finished:
// the program's second swap (the first is the splash), the minimal window's
// first. Wall time is exec to that moment. Processor time is that of every
// process of the start: this bench is their subreaper, so the picture decoder
// process, which the program starts twice removed, is reparented here and
// reaped after the program ends (it ends with the program's socket); each
// process's reaped usage holds the children it reaped itself (the decoding
// children). It includes what the processes spend ending, alike for all.
//
// Frames: the program's own window and application, built in this process,
// run blocks of frames of the full scene, of the sky alone (no objects, no
// panels) and of a bare clear-and-swap in the same window, in turn. Every
// frame ends with glFinish; wall time and the CPU time of the whole process
// (the software rasteriser's threads do most of the work) are both compared.
//
// Versus: two builds of the program (two run directories) are started in
// turn, the first of each pair swapped every pair, and timed as above; each
// pair's ratio first / second is printed, then their median and range.
//
//   bench_mainloop [frames a block=20] [rounds=15] [start-up runs=11] [run directory=build/run]
//   bench_mainloop versus <run directory> <other run directory> [pairs=21]
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
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kWarmUpFrames = 20;  // of each kind, before the first round
constexpr int kSettleFrames = 3;   // untimed at the start of each block, after the switch
constexpr int kMainFrameSwap = 2;  // the program swaps the splash first
constexpr int kMinimalFrameSwap = 1;
// A process of the start still running this long after the frame is hung.
constexpr double kEndingSeconds = 10.0;
constexpr timespec kReapPoll{0, 200'000};

// What one fresh process and the processes it started cost up to its frame.
struct FirstFrame {
    // Exec to the frame finished; processor time of every process, all threads.
    bench::Cost cost;
    // Of which the processes reparented here: the picture decoder and its children.
    double orphansCpuMs = 0.0;
    int orphans = 0;
    int width = 0;
    int height = 0;
};

double milliseconds(const timeval& t)
{
    return double(t.tv_sec) * 1000.0 + double(t.tv_usec) * 1e-3;
}

double cpuMilliseconds(const rusage& usage)
{
    return milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime);
}

// Ends the processes that are still this process's children, by their ids.
void endChildren()
{
    FILE* children = std::fopen(fmt::format("/proc/self/task/{}/children", getpid()).c_str(), "r");
    if (children == nullptr) return;
    for (int child = 0; std::fscanf(children, "%d", &child) == 1;) kill(child, SIGKILL);
    std::fclose(children);
}

// Reaps the program and every process of its start that was reparented here,
// adding up their usage in `frame`. False when the program did not end as
// the probe ends it, or a process still ran kEndingSeconds after the frame
// (it is then ended: none is left to disturb the next run).
bool reapAll(pid_t program, FirstFrame& frame)
{
    const double deadline = bench::seconds(CLOCK_MONOTONIC) + kEndingSeconds;
    bool programEnded = false, hung = false;
    for (;;) {
        int status = 0;
        rusage usage{};
        const pid_t ended = wait4(-1, &status, hung ? 0 : WNOHANG, &usage);
        if (ended < 0 && errno == EINTR) continue;
        if (ended < 0) break;  // no process of the start is left
        if (ended == 0) {
            if (bench::seconds(CLOCK_MONOTONIC) < deadline) {
                nanosleep(&kReapPoll, nullptr);
                continue;
            }
            fmt::print(stderr, "start-up: processes still run {} s after the frame; they are ended\n",
                       kEndingSeconds);
            endChildren();
            hung = true;
            continue;
        }
        frame.cost.cpuMs += cpuMilliseconds(usage);
        if (ended == program) {
            programEnded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        } else {
            frame.orphansCpuMs += cpuMilliseconds(usage);
            ++frame.orphans;
        }
    }
    return programEnded && !hung;
}

// Starts `program` as a fresh process with the probe preloaded, lets the
// probe end it after swap number `swap`, and reaps what it started.
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
    // Each build starts in its own run directory.
    posix_spawn_file_actions_addchdir_np(&actions, program.parent_path().c_str());
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
    // One line; the decoder process holds the pipe open too, until it ends.
    std::string line;
    char buffer[256];
    for (ssize_t got;
         line.find('\n') == std::string::npos && (got = read(channel[0], buffer, sizeof buffer)) > 0;)
        line.append(buffer, size_t(got));
    close(channel[0]);

    double stamp = 0.0;
    FirstFrame frame;
    const bool ended = reapAll(child, frame);
    if (!ended || std::sscanf(line.c_str(), "%lf %d %d", &stamp, &frame.width, &frame.height) != 3)
        return std::nullopt;
    frame.cost.wallMs = (stamp - start) * 1000.0;
    return frame;
}

// Times `program` up to swap number `swap`, one fresh start a block; after a
// failure the remaining blocks are skipped and `failed` is set.
std::function<bench::Cost()> firstFrameBlock(const fs::path& program, const fs::path& probe, int swap,
                                             std::vector<FirstFrame>& frames, bool& failed)
{
    return [&, program, probe, swap] {
        const std::optional<FirstFrame> frame = failed ? std::nullopt : timeFirstFrame(program, probe, swap);
        if (!frame) {
            failed = true;
            return bench::Cost{};
        }
        frames.push_back(*frame);
        return frame->cost;
    };
}

// Median CPU of the processes reparented here, and how many there were.
std::string orphansLine(const std::vector<FirstFrame>& frames)
{
    std::vector<double> cpu;
    int most = 0;
    for (const FirstFrame& frame : frames) {
        cpu.push_back(frame.orphansCpuMs);
        most = std::max(most, frame.orphans);
    }
    return fmt::format("    of which the decoder process and its children ({} reparented): {:.2f} ms CPU",
                       most, bench::median(cpu));
}

// The program and the minimal window started in turn, `runs` times each.
void compareStartUp(const fs::path& benchDirectory, const fs::path& runDirectory, int runs)
{
    const fs::path program = runDirectory / "velmorin";
    const fs::path minimal = benchDirectory / "bench_minimal_window";
    const fs::path probe = benchDirectory / "bench_first_frame_probe.so";
    std::vector<FirstFrame> programFrames, minimalFrames;
    bool failed = false;
    const auto costs =
        bench::interleave(runs, {firstFrameBlock(program, probe, kMainFrameSwap, programFrames, failed),
                                 firstFrameBlock(minimal, probe, kMinimalFrameSwap, minimalFrames, failed)});
    if (failed) {
        fmt::print(stderr, "start-up: a process ended without its frame ({} or {})\n", program.string(),
                   minimal.string());
        return;
    }
    fmt::print(
        stderr,
        "start-up, exec to first frame finished, processor time of every process; {} fresh processes of "
        "each in turn, medians:\n",
        runs);
    bench::printMedians(stderr,
                        fmt::format("program, first main-window frame ({}x{})", programFrames[0].width,
                                    programFrames[0].height),
                        costs[0]);
    fmt::print(stderr, "{}\n", orphansLine(programFrames));
    bench::printMedians(stderr,
                        fmt::format("minimal GLFW window, first frame ({}x{})", minimalFrames[0].width,
                                    minimalFrames[0].height),
                        costs[1]);
    bench::printRatios(stderr, "program / minimal window", costs[0], costs[1]);
}

// Two builds of the program started in turn, `pairs` times each, after one
// untimed pair that brings both into the page cache.
int compareBuilds(const fs::path& benchDirectory, const fs::path& first, const fs::path& second, int pairs)
{
    const fs::path probe = benchDirectory / "bench_first_frame_probe.so";
    std::vector<FirstFrame> firstFrames, secondFrames;
    bool failed = false;
    const std::vector<std::function<bench::Cost()>> blocks = {
        firstFrameBlock(first / "velmorin", probe, kMainFrameSwap, firstFrames, failed),
        firstFrameBlock(second / "velmorin", probe, kMainFrameSwap, secondFrames, failed)};
    // The machine is shared: how busy it was is part of the figures.
    double before[3] = {}, after[3] = {};
    getloadavg(before, 3);
    bench::interleave(1, blocks);
    firstFrames.clear();
    secondFrames.clear();
    const auto costs = bench::interleave(pairs, blocks, bench::Order::swapEachRound);
    if (failed) {
        fmt::print(stderr, "start-up: a process ended without its frame ({} or {})\n", first.string(),
                   second.string());
        return 1;
    }
    getloadavg(after, 3);
    fmt::print(stderr,
               "start-up, exec to first main-window frame finished ({}x{}), processor time of every process; "
               "{} pairs of fresh processes, the first of a pair swapped each pair; load average (1 min) "
               "{:.2f} before, {:.2f} after; medians:\n",
               firstFrames[0].width, firstFrames[0].height, pairs, before[0], after[0]);
    bench::printMedians(stderr, first.string(), costs[0]);
    fmt::print(stderr, "{}\n", orphansLine(firstFrames));
    bench::printMedians(stderr, second.string(), costs[1]);
    fmt::print(stderr, "{}\n", orphansLine(secondFrames));
    bench::printRatios(stderr, "first / second", costs[0], costs[1]);
    return 0;
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
    const fs::path benchDirectory = fs::canonical("/proc/self/exe").parent_path();
    // Every process the programs start, however far removed, is reaped here.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        fmt::print(stderr, "bench_mainloop cannot reap the processes the program starts: {}\n",
                   std::strerror(errno));
        return 1;
    }
    // Xvfb resets when its last client leaves, and a process that connects
    // during the reset fails: one connection stays open while the fresh
    // processes come and go.
    Display* display = XOpenDisplay(nullptr);
    if (argc > 1 && std::string(argv[1]) == "versus") {
        if (argc < 4) {
            fmt::print(stderr, "bench_mainloop versus <run directory> <other run directory> [pairs=21]\n");
            return 2;
        }
        const int pairs = std::max(1, argc > 4 ? std::atoi(argv[4]) : 21);
        const int result =
            compareBuilds(benchDirectory, fs::canonical(argv[2]), fs::canonical(argv[3]), pairs);
        if (display != nullptr) XCloseDisplay(display);
        return result;
    }

    const int perBlock = std::max(1, argc > 1 ? std::atoi(argv[1]) : 20);
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 15);
    const int runs = std::max(1, argc > 3 ? std::atoi(argv[3]) : 11);
    const fs::path runDirectory = fs::canonical(argc > 4 ? fs::path(argv[4]) : benchDirectory / "run");
    fs::current_path(runDirectory);
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
