// Cost of the statistics labels: eleven value labels rewritten every frame
// with 6 to 12 changing digits for 1,000 frames, against frames that draw the
// same labels without rewriting them; and the GL objects made per frame.
// Run from the run directory: cd build/run && xvfb-run -a ../bench_labels
#include "controls/qvlabel.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvshader.h"
#include "engine/text/qvfont2d.h"
#include "glcontext.h"
#include "../tests/engine/gl/materialfixtures.h"  // the tests' camera

#include <fmt/core.h>

#include <chrono>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr char kFontFile[] = "fonts/djsans/DejaVuSans.ttf";
constexpr int kLabels = 11;
constexpr int kFrames = 1000;
constexpr int kViewWidth = 1024, kViewHeight = 768;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What one frame of the run costs, in milliseconds.
struct FrameCost {
    double rewriteMs = 0.0;  // the setLabel calls alone
    double frameMs = 0.0;    // rewrite, draw and finish
};

}  // namespace

int main()
{
    testsupport::GlContext context(kViewWidth, kViewHeight);
    context.bind();
    QvFont2D font(kFontFile);
    QvShader text("shaders/3.3/text2D.vert", "shaders/3.3/text2D.frag");
    QvShader flat("shaders/3.3/default.vert", "shaders/3.3/default.frag");
    const std::unique_ptr<Camera> camera =
        materialfixtures::frontCamera(kViewWidth, kViewHeight, {0.0f, 0.0f, 20.0f});

    std::vector<std::unique_ptr<QvLabel>> labels;
    for (int i = 0; i < kLabels; ++i) {
        auto label = std::make_unique<QvLabel>(fmt::format("QvModel_Value{}", i), u"0",
                                               const_cast<QvFont2D&>(font), nullptr, *camera);
        label->transform->setScaling(1.0f, 1.0f, 1.0f);
        label->transform->setTranslation(-4.0f, 5.0f - float(i), 0.0f);
        label->shader = &flat;
        label->setSize(2.0f, 1.0f, 1.0f);
        label->setFontSize(25.0f);
        label->setTextShader(&text);
        label->initLabel();
        labels.push_back(std::move(label));
    }

    // The scene's one buffer of 100 code units, rewritten in place.
    char16_t buffer[100] = {};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> length(6, 12), digit(0, 9);

    auto run = [&](bool rewrite) {
        FrameCost total;
        for (int frame = 0; frame < kFrames; ++frame) {
            const auto start = Clock::now();
            if (rewrite) {
                for (auto& label : labels) {
                    const int n = length(random);
                    for (int k = 0; k < n; ++k) buffer[k] = char16_t(u'0' + digit(random));
                    label->setLabel(buffer, n);
                }
            }
            total.rewriteMs += msSince(start);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
            for (auto& label : labels) label->draw(*camera);
            glFinish();
            total.frameMs += msSince(start);
        }
        return total;
    };

    run(true);  // warm-up: every slot gets its quad once
    const std::int64_t madeBefore = qvCreatedGLObjects();
    const std::int64_t liveBefore = qvLiveGLObjects();
    const FrameCost still = run(false);
    const FrameCost rewritten = run(true);
    const std::int64_t made = qvCreatedGLObjects() - madeBefore;

    fmt::print("{} labels, {} frames, 6-12 digits a label a frame\n", kLabels, kFrames);
    fmt::print("frame without rewrites:      {:8.4f} ms\n", still.frameMs / kFrames);
    fmt::print("frame with rewrites:         {:8.4f} ms\n", rewritten.frameMs / kFrames);
    fmt::print("  of which the rewrites:     {:8.4f} ms  ({:.2f} us a label)\n",
               rewritten.rewriteMs / kFrames, 1000.0 * rewritten.rewriteMs / kFrames / kLabels);
    fmt::print("GL objects made per frame:   {:8.4f}  (live before {}, after {})\n",
               double(made) / (2 * kFrames), liveBefore, qvLiveGLObjects());
    fmt::print("GL errors: {}\n", glGetError() == GL_NO_ERROR ? "none" : "some");
    return 0;
}
