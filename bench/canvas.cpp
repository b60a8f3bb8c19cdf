// Frame cost of a route canvas as the tracker drives it: one route vertex
// appended a frame, then the canvas drawn. Measured on an empty route and on
// one of 216,000 vertices (an hour of movement at 60 samples a second), each
// as the CPU time of the draw call and as the whole frame with glFinish; the
// bytes the overlay sent per frame in steady state; their ratios. Under a
// software renderer the draw call itself shades every route vertex, so the
// canvas's own share (bringing the buffers up to date) is timed apart too,
// next to what sending the whole route every frame would cost.
//
//   bench_canvas [frames=300] [run directory=build/run]
// Run under Xvfb: xvfb-run -a -s "-screen 0 1920x1080x24" build/bench_canvas
#include "glcontext.h"
#include "../tests/engine/gl/materialfixtures.h"  // the tests' camera

#include "controls/qvcanvas.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"

#include <fmt/core.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t hourOfRoute = 216'000;
constexpr int viewSize = 512;

struct Result {
    double drawMs = 0.0;   // CPU time of draw(), per frame
    double frameMs = 0.0;  // draw() + glFinish, per frame
    double bytesPerFrame = 0.0;
    double syncMs = 0.0;        // the route layer brought up to date, per frame
    double fullUploadMs = 0.0;  // the whole route sent, per frame
};

// A route point of a pointer wandering over the screen, in the overlay frame.
glm::vec3 routePoint(std::size_t i)
{
    const double t = double(i) * 0.001;
    return {float(0.9 * std::sin(3.1 * t)), float(0.9 * std::cos(2.3 * t)), 0.0f};
}

Result run(QvCanvas& canvas, Camera& camera, int frames)
{
    Result result;
    canvas.draw(camera);  // the initial upload is not a steady-state frame
    glFinish();
    double drawSeconds = 0.0, frameSeconds = 0.0;
    std::size_t bytes = 0;
    for (int f = 0; f < frames; ++f) {
        canvas.lineVertices.push_back(routePoint(canvas.lineVertices.size()));
        camera.frameTime += 1.0 / 60.0;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        const Clock::time_point start = Clock::now();
        canvas.draw(camera);
        const Clock::time_point drawn = Clock::now();
        glFinish();
        const Clock::time_point finished = Clock::now();
        drawSeconds += std::chrono::duration<double>(drawn - start).count();
        frameSeconds += std::chrono::duration<double>(finished - start).count();
        bytes += canvas.overlayBytesLastFrame();
    }
    result.drawMs = drawSeconds * 1000.0 / frames;
    result.frameMs = frameSeconds * 1000.0 / frames;
    result.bytesPerFrame = double(bytes) / frames;

    // The route layer alone: what the canvas does per frame, then what
    // re-sending the whole list would do instead.
    double syncSeconds = 0.0, fullSeconds = 0.0;
    for (int f = 0; f < frames; ++f) {
        canvas.lineVertices.push_back(routePoint(canvas.lineVertices.size()));
        const std::size_t listBytes = canvas.lineVertices.size() * sizeof(glm::vec3);
        Clock::time_point start = Clock::now();
        canvas.lineLayer.sync(canvas.lineVertices);
        glFinish();
        syncSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        glBindBuffer(GL_ARRAY_BUFFER, canvas.lineLayer.vbo.get());
        glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(listBytes), canvas.lineVertices.data());
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glFinish();
        fullSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    result.syncMs = syncSeconds * 1000.0 / frames;
    result.fullUploadMs = fullSeconds * 1000.0 / frames;
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    const std::filesystem::path runDirectory =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path(argv[0]).parent_path() / "run";
    std::filesystem::current_path(runDirectory);

    testsupport::GlContext context(viewSize, viewSize);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_PROGRAM_POINT_SIZE);
    auto camera = materialfixtures::frontCamera(viewSize, viewSize, {0.0f, 0.0f, 25.0f});
    QvShader textureLight("shaders/3.3/textureLight.vert", "shaders/3.3/textureLight.frag");
    QvShader point("shaders/3.3/point.vert", "shaders/3.3/point.frag");
    QvShader circlePoint("shaders/3.3/circlePoint.vert", "shaders/3.3/circlePoint.frag");

    Result results[2];
    for (int i = 0; i < 2; ++i) {
        std::FILE* quiet = std::freopen("/dev/null", "w", stdout);  // the loader's and canvas's lines
        QvCanvas canvas("QvModel_MouseRouteCanvas", nullptr, *camera);
        canvas.shader = &textureLight;
        canvas.setPointShader(&point);
        canvas.setCirclePointShader(&circlePoint);
        canvas.setSize(20.0f, 20.0f, 1.0f);
        if (i == 1) {
            for (std::size_t v = 0; v < hourOfRoute; ++v) canvas.lineVertices.push_back(routePoint(v));
            for (std::size_t s = 0; s < 500; ++s)
                canvas.pointCoords.insert(canvas.pointCoords.end(), {0, 0, 0});
        }
        results[i] = run(canvas, *camera, frames);
        if (quiet != nullptr) std::freopen("/dev/tty", "w", stdout);
    }

    std::fprintf(stderr, "%-34s%14s%14s%16s\n", "route canvas, one vertex a frame", "draw (ms)", "frame (ms)",
                 "bytes / frame");
    const char* names[] = {"empty route", "216,000-vertex route"};
    for (int i = 0; i < 2; ++i)
        std::fprintf(stderr, "%-34s%14.3f%14.3f%16.1f\n", names[i], results[i].drawMs, results[i].frameMs,
                     results[i].bytesPerFrame);
    std::fprintf(stderr, "%-34s%14.2f%14.2f\n", "ratio (long / empty)", results[1].drawMs / results[0].drawMs,
                 results[1].frameMs / results[0].frameMs);
    std::fprintf(stderr,
                 "(draw: CPU time of the draw call; frame: with glFinish, so it includes the GPU\n"
                 " drawing every segment of the route, which a software renderer does on the CPU)\n\n");
    std::fprintf(stderr, "%-34s%14s%14s\n", "route layer per frame", "update (ms)", "all sent (ms)");
    for (int i = 0; i < 2; ++i)
        std::fprintf(stderr, "%-34s%14.4f%14.4f\n", names[i], results[i].syncMs, results[i].fullUploadMs);
    std::fprintf(stderr, "%-34s%14.2f%14.2f\n", "ratio (long / empty)", results[1].syncMs / results[0].syncMs,
                 results[1].fullUploadMs / results[0].fullUploadMs);
    return 0;
}
