// Start-up cost of the fonts: the outline font's reading of its outlines (what
// start-up pays) and its whole build with every mesh, the bitmap
// font's build (needs a GL context), and the face triangulation of every
// glyph by the strip builder beside the GLU tessellator on the same outlines.
// Run from the run directory: cd build/run && ../bench_fonts
#include "engine/text/qvcharacter3d.h"
#include "glcontext.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvfont2d.h"
#include "engine/text/qvglyphface.h"

#include <fmt/core.h>

#include <chrono>
#include <functional>
#include <vector>

namespace {

constexpr char fontFile[] = "fonts/djsans/DejaVuSans.ttf";
constexpr int repeats = 5;

using Clock = std::chrono::steady_clock;

// Best of a few runs, in milliseconds.
double bestMs(const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
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
    const double stripsMs = bestMs([&] {
        for (const Character3D& outline : outlines) {
            Character3D glyph = outline;
            for (size_t i = 0; i < glyph.contours.size(); ++i)
                glyph.identifyTypeOfVertices(glyph.contours[i], i);
            glyph.createBridges();
        }
    });
    const double checkMs = bestMs([&] {
        for (const auto& [code, glyph] : font.glyphs) qvMeasureFrontFace(*glyph);
    });
    const double gluMs = bestMs([&] {
        for (const Character3D& outline : outlines) {
            Character3D glyph = outline;
            qvTessellateFrontFace(glyph);
        }
    });
    fmt::print("faces of {} glyphs:\n", outlines.size());
    fmt::print("  classification:     {:8.2f} ms\n", classifyMs);
    fmt::print("  strip builder:      {:8.2f} ms  (classification, bridges, walk, strips)\n", stripsMs);
    fmt::print("  coverage check:     {:8.2f} ms\n", checkMs);
    fmt::print("  GLU tessellator:    {:8.2f} ms\n", gluMs);
    fmt::print("  strip builder / GLU: {:.2f}\n", stripsMs / gluMs);
    return 0;
}
