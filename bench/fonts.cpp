// Start-up cost of the fonts: the outline font's reading of its outlines (what
// start-up pays) and its whole build with every mesh, the bitmap font's build
// (needs a GL context), each the best of a few runs. Then the front faces of
// every glyph: the strip builder, alone and followed by the coverage check
// that decides whether the tessellator must redo the face, beside the GLU
// tessellator on the same outlines, timed in alternating blocks (see
// support/interleave.h).
// Run from the run directory: cd build/run && ../bench_fonts
#include "engine/text/qvcharacter3d.h"
#include "glcontext.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvfont2d.h"
#include "engine/text/qvglyphface.h"
#include "interleave.h"

#include <fmt/core.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr char fontFile[] = "fonts/djsans/DejaVuSans.ttf";
constexpr int repeats = 5;
constexpr int kRounds = 21;         // of the three face builders in turn
constexpr int kPassesPerBlock = 3;  // over every glyph

// Best of a few runs, in milliseconds.
double bestMs(const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) best = std::min(best, bench::measure(work).wallMs);
    return best;
}

// A glyph with the font's contours and nothing triangulated yet.
Character3D outlineOnly(const Character3D& built)
{
    Character3D glyph(built.character);
    glyph.contours = built.contours;
    glyph.outlinePoints = built.outlinePoints;
    glyph.edges = built.edges;
    return glyph;
}

}  // namespace

int main()
{
    int tessellated = 0;
    const double readMs = bestMs([&] { const QvFont3D outlinesOnly(fontFile); });
    const double outlineMs = bestMs([&] {
        const QvFont3D whole(fontFile);
        whole.buildAllGlyphs();
        tessellated = whole.tessellatedGlyphs;
    });
    const QvFont3D font(fontFile);
    font.buildAllGlyphs();
    fmt::print("outline font, outlines read:  {:8.2f} ms\n", readMs);
    fmt::print("outline font build:   {:8.2f} ms  ({} glyphs, {} rebuilt by the tessellator)\n", outlineMs,
               font.glyphs.size(), tessellated);

    {
        testsupport::GlContext context;
        size_t built = 0;
        const double bitmapMs = bestMs([&] { built = QvFont2D(fontFile).characters.size(); });
        fmt::print("bitmap font build:    {:8.2f} ms  ({} glyphs)\n", bitmapMs, built);
    }

    std::vector<Character3D> outlines;
    for (const auto& [code, glyph] : font.glyphs)
        if (!glyph->edges.empty()) outlines.push_back(outlineOnly(*glyph));

    const double classifyMs = bestMs([&] {
        for (const Character3D& outline : outlines) {
            Character3D glyph = outline;
            for (size_t i = 0; i < glyph.contours.size(); ++i)
                glyph.identifyTypeOfVertices(glyph.contours[i], i);
        }
    });
    fmt::print("faces of {} glyphs:\n", outlines.size());
    fmt::print("  classification:     {:8.2f} ms\n", classifyMs);

    // Each glyph starts from its outline alone on every side.
    auto strips = [](Character3D& glyph) {
        for (size_t i = 0; i < glyph.contours.size(); ++i) glyph.identifyTypeOfVertices(glyph.contours[i], i);
        glyph.createBridges();
    };
    auto faces = [&](const std::function<void(Character3D&)>& build) {
        return [&outlines, build] {
            return bench::measure(
                [&] {
                    for (const Character3D& outline : outlines) {
                        Character3D glyph = outline;
                        build(glyph);
                    }
                },
                kPassesPerBlock);
        };
    };
    const auto costs = bench::interleave(
        kRounds, {faces(strips),
                  faces([&](Character3D& glyph) {
                      strips(glyph);
                      qvMeasureFrontFace(glyph);
                  }),
                  faces(qvTessellateFrontFace)});
    fmt::print("{} rounds of a block of {} passes over every glyph of each in turn, medians (ms a pass):\n",
               kRounds, kPassesPerBlock);
    bench::printMedians(stdout, "strip builder (classification, bridges, strips)", costs[0]);
    bench::printMedians(stdout, "strip builder and coverage check", costs[1]);
    bench::printMedians(stdout, "GLU tessellator", costs[2]);
    bench::printRatios(stdout, "strip builder / GLU", costs[0], costs[2]);
    bench::printRatios(stdout, "strip builder and coverage check / GLU", costs[1], costs[2]);
    return 0;
}
