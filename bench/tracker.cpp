// The tracker scene after an hour of movement. One scene is measured fresh,
// then fed one hour of synthetic pointer movement (216,000 route vertices,
// one a frame at 60 frames a second) and measured again: 600 frames facing
// the information monitor and 600 facing the route monitor each time, with
// the process's resident memory after each stage. A bare line strip of the
// same vertices, drawn alone in the same window, is what the route itself
// costs to draw; facing the information monitor a frame should cost what it
// did fresh, since the route's canvas is out of view.
//
// The window has the program's own hints, 8 samples included (multisampling
// roughly doubles a frame's cost under a software rasteriser), and a frame is
// the program's: clear, draw the scene, swap, then glFinish. The number of
// samples can be given to see what they cost; 8 is the program's.
//
//   cmake --build build --target bench_tracker
//   cd build/run && xvfb-run -a -s "-screen 0 1920x1080x24" ../bench_tracker [samples=8]

#include "controls/qvcanvas.h"
#include "controls/qvplotmodel.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"
#include "engine/platform/qvwindow.h"
#include "scene/qvscene.h"
#include "scene/qvtrackermodel.h"

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <fmt/core.h>
#include <glm/vec3.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
constexpr double kFrame = 1.0 / 60.0;
constexpr int kHourFrames = 3600 * 60;
constexpr int kMeasuredFrames = 600;
constexpr int kProgramSamples = 8;

// Resident set size of this process, in MiB.
double residentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}

// A pointer that zigzags over the screen and never rests: x and y run back
// and forth at 3 and 2 pixels a frame, so every frame adds a route vertex.
glm::dvec2 syntheticPointer(int frame)
{
    const auto zigzag = [](int travelled, int span) {
        const int phase = travelled % (2 * span);
        return double(phase < span ? phase : 2 * span - phase);
    };
    return {100.0 + zigzag(3 * frame, kScreenWidth - 200), 90.0 + zigzag(2 * frame, kScreenHeight - 180)};
}

struct Stage {
    double infoMs = 0.0;
    double routeMs = 0.0;
    double rssMiB = 0.0;
};

// The program's window at its main size: its hints from QvWindow itself,
// with `samples` in place of its own when given. Visible, as the program's is.
void createWindow(QvWindow& window, int samples)
{
    window._initializeGL();
    glfwWindowHint(GLFW_SAMPLES, samples);
    window.handle = glfwCreateWindow(kWidth, kHeight, "bench_tracker", nullptr, nullptr);
    if (window.handle == nullptr) {
        fmt::print(stderr, "bench_tracker: no window (is a display set?)\n");
        std::exit(1);
    }
    window._makeContext();
    glfwSwapInterval(0);
    glViewport(0, 0, kWidth, kHeight);
}

// The GLSL version as the program reads it.
float glslVersion()
{
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION));
    return version != nullptr ? QvShader::parseGlslVersion(version) : 0.0f;
}

// Mean milliseconds of `count` frames of the scene as the main loop draws
// them, each finished on the GPU.
double sceneBlock(QvWindow& window, QvScene& scene, double& t, int count)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        t += kFrame;
        window.clear();
        scene.camera->frameTime = t;
        scene.renderScene();
        window.swapBuffers();
        glFinish();
    }
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count() / count;
}

// The median of three blocks' means over `count` frames: the machine is
// shared, and one busy moment should not decide a ratio.
double sceneFrames(QvWindow& window, QvScene& scene, double& t, int count)
{
    std::array<double, 3> blocks{};
    for (double& block : blocks) block = sceneBlock(window, scene, t, count / 3);
    std::sort(blocks.begin(), blocks.end());
    return blocks[1];
}

// Both views of the scene: the information monitor, then one wheel step down
// to the route monitor, and back.
Stage measure(QvWindow& window, QvScene& scene, double& t)
{
    Stage stage;
    sceneFrames(window, scene, t, 30);  // warm up, first uploads
    stage.infoMs = sceneFrames(window, scene, t, kMeasuredFrames);
    scene.camera->moveUpDown(-1.0);
    sceneFrames(window, scene, t, 30);
    stage.routeMs = sceneFrames(window, scene, t, kMeasuredFrames);
    scene.camera->moveUpDown(1.0);
    stage.rssMiB = residentMiB();
    return stage;
}

GLuint compile(GLenum kind, const char* source)
{
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

// Mean milliseconds of a frame that clears and draws only a line strip of
// `vertices` (width 2) through `clipFromModel`, for comparison with the route
// monitor.
double bareLineStrip(QvWindow& window, const std::vector<glm::vec3>& vertices, const glm::mat4& clipFromModel)
{
    // The position at the location the program's own shaders give it.
    const std::string vertexSource =
        fmt::format("#version 330 core\n"
                    "layout(location = {}) in vec3 position;\n"
                    "uniform mat4 clipFromModel;\n"
                    "void main() {{ gl_Position = clipFromModel * vec4(position, 1.0); }}\n",
                    qvLocation(QvAttribute::position));
    static const char* fragmentSource = "#version 330 core\n"
                                        "out vec4 colour;\n"
                                        "void main() { colour = vec4(1.0, 0.2, 0.2, 1.0); }\n";
    QvProgram program = QvProgram::create();
    QvShaderObject vertexShader(compile(GL_VERTEX_SHADER, vertexSource.c_str()));
    QvShaderObject fragmentShader(compile(GL_FRAGMENT_SHADER, fragmentSource));
    glAttachShader(program.get(), vertexShader.get());
    glAttachShader(program.get(), fragmentShader.get());
    glLinkProgram(program.get());

    const QvVertexArray vao = QvVertexArray::create();
    glBindVertexArray(vao.get());
    const QvBuffer vbo = qvUploadAttribute(QvAttribute::position, vertices);

    glUseProgram(program.get());
    glUniformMatrix4fv(glGetUniformLocation(program.get(), "clipFromModel"), 1, GL_FALSE,
                       &clipFromModel[0][0]);
    glDisable(GL_DEPTH_TEST);
    glLineWidth(2.0f);
    const auto frame = [&]() {
        window.clear();
        glDrawArrays(GL_LINE_STRIP, 0, GLsizei(vertices.size()));
        window.swapBuffers();
        glFinish();
    };
    for (int i = 0; i < 30; ++i) frame();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kMeasuredFrames; ++i) frame();
    const auto end = std::chrono::steady_clock::now();
    glLineWidth(1.0f);
    glEnable(GL_DEPTH_TEST);
    glBindVertexArray(0);
    glUseProgram(0);
    return std::chrono::duration<double, std::milli>(end - start).count() / kMeasuredFrames;
}

}  // namespace

int main(int argc, char** argv)
{
    const int samples = argc > 1 ? std::atoi(argv[1]) : kProgramSamples;
    QvWindow window;  // outlives the scene, whose GL objects need its context
    createWindow(window, samples);
    GLint framebufferSamples = 0;
    glGetIntegerv(GL_SAMPLES, &framebufferSamples);
    const double baseRss = residentMiB();
    QvScene scene(kWidth, kHeight, kScreenWidth, kScreenHeight, glslVersion());
    scene.window = &window;
    scene.startTracker();  // the statistics labels join the information monitor
    double t = 0.0;
    const Stage fresh = measure(window, scene, t);

    // One hour of movement straight into the tracker, a sample a frame.
    TrackerModel& tracker = *scene.tracker;
    const auto feedStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kHourFrames; ++i) {
        t += kFrame;
        const glm::dvec2 p = syntheticPointer(i);
        tracker.frame(t, p.x, p.y);
    }
    const auto feedEnd = std::chrono::steady_clock::now();
    const std::size_t routeVertices = tracker.route().size();
    const double fedRss = residentMiB();  // the lists, before anything is drawn or sent
    const Stage hour = measure(window, scene, t);
    // The strip where the route monitor shows it, as the camera faces it.
    scene.camera->moveUpDown(-1.0);
    const glm::mat4 clipFromModel =
        scene.camera->getProjectionMatrix() * scene.camera->getCameraMatrix() *
        qvOverlayModel(scene.routeCanvas->transform->getMatrix(), qvOverlayLineDepth);
    scene.camera->moveUpDown(1.0);
    const double bareMs = bareLineStrip(window, tracker.route(), clipFromModel);
    const double feedUs =
        std::chrono::duration<double, std::micro>(feedEnd - feedStart).count() / kHourFrames;

    fmt::print("{}x{} window, {} samples asked ({} given; the program asks {}); a frame is clear, draw, "
               "swap, glFinish\n",
               kWidth, kHeight, samples, framebufferSamples, kProgramSamples);
    fmt::print("tracker statistics, per sample (no drawing): {:.3f} us\n", feedUs);
    fmt::print("route vertices after one hour: {}\n", routeVertices);
    fmt::print("{:<34}{:>12}{:>12}{:>10}\n", "", "fresh", "one hour", "ratio");
    fmt::print("{:<34}{:>9.2f} ms{:>9.2f} ms{:>10.2f}\n", "frame facing the information", fresh.infoMs,
               hour.infoMs, hour.infoMs / fresh.infoMs);
    fmt::print("{:<34}{:>9.2f} ms{:>9.2f} ms{:>10.2f}\n", "frame facing the route", fresh.routeMs,
               hour.routeMs, hour.routeMs / fresh.routeMs);
    fmt::print(
        "bare line strip of the route: {:.2f} ms a frame; route frame minus fresh route frame: {:.2f} ms\n",
        bareMs, hour.routeMs - fresh.routeMs);
    fmt::print("resident memory: before the scene {:.1f} MiB, fresh scene {:.1f} MiB\n", baseRss,
               fresh.rssMiB);
    fmt::print("  one hour fed in, nothing drawn yet: {:.1f} MiB ({:+.1f} MiB; the route's own data is "
               "{:.1f} MiB)\n",
               fedRss, fedRss - fresh.rssMiB, double(routeVertices * sizeof(glm::vec3)) / (1024.0 * 1024.0));
    fmt::print("  after drawing it: {:.1f} MiB ({:+.1f} MiB: the GPU buffer's copy and the driver's working "
               "memory)\n",
               hour.rssMiB, hour.rssMiB - fedRss);
    return 0;
}
