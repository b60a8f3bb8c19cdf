// Every glyph of the outline font is held against its own outline: the front
// triangles must fill exactly the area the contours enclose (non-zero
// winding), checked by area sums and by point sampling written here, apart
// from the mesh code. Also checks that the face check itself catches faults.
#include "glyphfixtures.h"

#include "engine/text/qvcharacter3d.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvglyphface.h"

#include <gtest/gtest.h>

#include <fmt/core.h>

using namespace glyphtest;

namespace {

constexpr int samplesPerSide = 48;

// The closed segments e and f share a point (orientation test).
bool segmentsCross(const QvEdge& e, const QvEdge& f)
{
    auto orient = [](glm::vec3 a, glm::vec3 b, glm::vec3 c) {
        const double v =
            (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
        return (v > 0) - (v < 0);
    };
    auto within = [](glm::vec3 a, glm::vec3 b, glm::vec3 p) {
        return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
               p.y <= std::max(a.y, b.y);
    };
    const int o1 = orient(e.p1, e.p2, f.p1), o2 = orient(e.p1, e.p2, f.p2);
    const int o3 = orient(f.p1, f.p2, e.p1), o4 = orient(f.p1, f.p2, e.p2);
    if (o1 != o2 && o3 != o4) return true;
    return (o1 == 0 && within(e.p1, e.p2, f.p1)) || (o2 == 0 && within(e.p1, e.p2, f.p2)) ||
           (o3 == 0 && within(f.p1, f.p2, e.p1)) || (o4 == 0 && within(f.p1, f.p2, e.p2));
}

struct SampleResult {
    int filled = 0;
    int mismatched = 0;
};

// Samples a grid over the glyph's box (offset by irrational fractions so no
// sample sits on an edge) and compares the winding rule with the triangles.
SampleResult sampleFace(const Character3D& glyph)
{
    SampleResult result;
    glm::vec3 low, high;
    if (!glyph.outlineBounds(low, high)) return result;
    const auto triangles = frontTriangles(glyph);
    for (int i = 0; i < samplesPerSide; ++i) {
        for (int j = 0; j < samplesPerSide; ++j) {
            const glm::dvec2 p{low.x + (i + 0.3819660113) * (high.x - low.x) / samplesPerSide,
                               low.y + (j + 0.6180339887) * (high.y - low.y) / samplesPerSide};
            const bool filled = windingNumber(glyph, p) != 0;
            const bool covered = std::any_of(triangles.begin(), triangles.end(), [&](const auto& t) {
                return triangleArea(t) > 0 && insideTriangle(t, p);
            });
            result.filled += filled;
            result.mismatched += filled != covered;
        }
    }
    return result;
}

// Some edge of one contour crosses an edge of another.
bool contoursCross(const Character3D& glyph)
{
    for (size_t a = 0; a < glyph.contours.size(); ++a)
        for (size_t b = a + 1; b < glyph.contours.size(); ++b)
            for (const QvEdge& e : glyph.contours[a].edges)
                for (const QvEdge& f : glyph.contours[b].edges)
                    if (segmentsCross(e, f)) return true;
    return false;
}

}  // namespace

TEST(GlyphMesh, EveryFrontFaceFillsExactlyItsOutline)
{
    int checked = 0, crossing = 0, worst = 0;
    for (const auto& [code, glyph] : dejaVuOutlines().glyphs) {
        if (glyph->contours.empty()) continue;
        ++checked;
        // Where no two contours cross, the shoelace sum is the filled area;
        // where they do (a cedilla over its letter), the union is smaller.
        const double outline = std::abs(signedOutlineArea(*glyph));
        const double triangles = frontArea(*glyph);
        if (contoursCross(*glyph)) {
            ++crossing;
            EXPECT_LT(triangles, outline) << "U+" << std::hex << int(code);
        } else {
            EXPECT_NEAR(triangles, outline, 1e-3 * outline) << "U+" << std::hex << int(code);
        }

        const SampleResult samples = sampleFace(*glyph);
        EXPECT_GT(samples.filled, 0) << "U+" << std::hex << int(code);
        EXPECT_LE(samples.mismatched, 2) << "U+" << std::hex << int(code) << " of " << samples.filled;
        worst = std::max(worst, samples.mismatched);
    }
    fmt::print("checked {} glyphs, {} with crossing contours, worst sample mismatch {}\n", checked, crossing,
               worst);
    EXPECT_GT(checked, 300);
}

TEST(GlyphMesh, StripBuilderCarriesMostGlyphsItself)
{
    // The tessellator is the exception: a regression that sent every glyph
    // there would pass the coverage test above unnoticed.
    fmt::print("glyphs rebuilt by the tessellator: {} of {}\n", dejaVuOutlines().tessellatedGlyphs,
               dejaVuOutlines().glyphs.size());
    EXPECT_LE(dejaVuOutlines().tessellatedGlyphs, int(dejaVuOutlines().glyphs.size()) / 10);
    EXPECT_GT(dejaVuOutlines().glyphs.size(), 330u);
}

TEST(GlyphMesh, FaceCheckCatchesMissingAndStrayTriangles)
{
    const Character3D ring = buildPolygons({outerDiamond, innerDiamond});
    const QvFaceCoverage sound = qvMeasureFrontFace(ring);
    EXPECT_TRUE(sound.isSound());
    EXPECT_NEAR(sound.outlineArea, 15000.0, 1e-6);

    // Without its first strip a quarter of the ring is bare.
    Character3D holed = ring;
    const auto firstRestart = std::find(holed.stripIndices.begin(), holed.stripIndices.end(), 0xFFFFu);
    holed.stripIndices.erase(holed.stripIndices.begin(), firstRestart + 1);
    const QvFaceCoverage missing = qvMeasureFrontFace(holed);
    EXPECT_FALSE(missing.isSound());
    EXPECT_NEAR(missing.missingArea, 15000.0 / 4, 1e-6);

    // A triangle over the hole is excess.
    Character3D stray = ring;
    const uint32_t first = uint32_t(stray.frontVertices.size());
    stray.frontVertices.insert(stray.frontVertices.end(), {{-10, -10, 0}, {10, -10, 0}, {0, 10, 0}});
    stray.stripIndices.insert(stray.stripIndices.end(), {first, first + 1, first + 2, 0xFFFF});
    const QvFaceCoverage excess = qvMeasureFrontFace(stray);
    EXPECT_FALSE(excess.isSound());
    EXPECT_NEAR(excess.excessArea, 200.0, 1e-6);
}

TEST(GlyphMesh, TessellatorFallbackGivesSeparateTrianglesOverTheWholeFace)
{
    Character3D ring = buildPolygons({outerDiamond, innerDiamond});
    qvTessellateFrontFace(ring);
    ASSERT_FALSE(ring.frontVertices.empty());
    ASSERT_EQ(ring.stripIndices.size(), ring.frontVertices.size() / 3 * 4);
    for (size_t i = 3; i < ring.stripIndices.size(); i += 4) EXPECT_EQ(ring.stripIndices[i], 0xFFFFu);
    EXPECT_NEAR(frontArea(ring), 15000.0, 1e-6);
    EXPECT_TRUE(qvMeasureFrontFace(ring).isSound());
    EXPECT_EQ(ring.backVertices.size(), ring.frontVertices.size());
    EXPECT_EQ(ring.frontTexCoords.size(), ring.frontVertices.size());

    // Overlapping contours are filled once, as their union (non-zero winding).
    Character3D cross =
        buildPolygons({{{0, 40}, {100, 40}, {100, 60}, {0, 60}}, {{40, 0}, {60, 0}, {60, 100}, {40, 100}}});
    qvTessellateFrontFace(cross);
    EXPECT_NEAR(frontArea(cross), 2000.0 + 2000.0 - 400.0, 1e-3);
}
