// Outline records, contour flattening and walls, and the outline font's
// tables built from the real DejaVu Sans file.
#include "fontfixtures.h"
#include "glyphfixtures.h"
#include "hostilefiles.h"

#include "engine/text/qvcharacter3d.h"
#include "engine/text/qvfont.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace glyphtest;

namespace {

// Flattened points of the single contour of a hand-made outline.
std::vector<glm::vec3> flatten(const std::vector<OutlinePoint>& contour, float dx = 0, float dy = 0)
{
    const Character record = makeRecord({contour});
    Character3D glyph(record);
    QvFont3D::_buildContour(record, dx, dy, glyph);
    return glyph.contours.at(0).points;
}

void expectNear(glm::vec3 actual, glm::vec2 expected)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-3) << "y " << actual.y;
    EXPECT_NEAR(actual.y, expected.y, 1e-3) << "x " << actual.x;
    EXPECT_EQ(actual.z, 0.0f);
}

bool hasRepeatedNeighbours(const std::vector<glm::vec3>& points)
{
    for (size_t i = 0; i < points.size(); ++i)
        if (points.size() > 1 && points[i] == points[(i + 1) % points.size()]) return true;
    return false;
}

}  // namespace

TEST(Contour, SquareWallIsClosedStripWithOutwardNormalsAndArcLengthCoordinates)
{
    Contour square;
    square.points = {{0, 0, 0}, {0, 10, 0}, {10, 10, 0}, {10, 0, 0}};  // clockwise, y up
    square.makeQvEdgeArray();
    square.makeExtrude();

    ASSERT_EQ(square.edges.size(), 4u);
    EXPECT_EQ(square.edges[3].p1, glm::vec3(10, 0, 0));
    EXPECT_EQ(square.edges[3].p2, glm::vec3(0, 0, 0));
    ASSERT_EQ(square.wallStrip.size(), 10u);
    ASSERT_EQ(square.wallNormals.size(), 10u);
    ASSERT_EQ(square.wallTexCoords.size(), 10u);
    EXPECT_EQ(square.wallStrip[1], glm::vec3(0, 0, -200));
    EXPECT_EQ(square.wallStrip[8], square.wallStrip[0]);
    EXPECT_EQ(square.wallStrip[9], square.wallStrip[1]);

    // Each wall quad's normal points away from the square's centre.
    for (size_t i = 0; i < 8; i += 2) {
        const glm::vec3 middle = 0.5f * (square.wallStrip[i] + square.wallStrip[i + 2]);
        EXPECT_GT(glm::dot(square.wallNormals[i], middle - glm::vec3(5, 5, 0)), 0.0f) << i;
        EXPECT_EQ(square.wallNormals[i], square.wallNormals[i + 1]);
    }
    EXPECT_EQ(glm::length(square.wallNormals[0]), 2000.0f);  // 200 x edge length, unnormalised
    EXPECT_EQ(square.wallNormals[8], 2.0f * square.wallNormals[6]);

    EXPECT_EQ(square.wallTexCoords[1], glm::vec2(0.25f, 0));
    EXPECT_EQ(square.wallTexCoords[9], glm::vec2(0.25f, 40.0f / 800));  // perimeter / 800
}

TEST(OutlineFlattening, EachConicArcAddsNinePointsAndFollowsTheParabola)
{
    const auto points = flatten({{0, 0, on}, {50, 100, conic}, {100, 0, on}, {50, -100, conic}}, 5, -3);
    ASSERT_EQ(points.size(), 2u + 9u * 2u);
    expectNear(points[0], {5, -3});
    expectNear(points[5], {55, 47});  // t = 0.5 of the upper arc
    expectNear(points[10], {105, -3});
    expectNear(points[15], {55, -53});  // t = 0.5 of the lower arc, which ends at the start
    EXPECT_FALSE(hasRepeatedNeighbours(points));
}

TEST(OutlineFlattening, TwoControlPointsMeetAtTheirImpliedMiddle)
{
    const auto points = flatten({{0, 0, on}, {0, 100, conic}, {100, 100, conic}, {100, 0, on}});
    ASSERT_EQ(points.size(), 2u + 9u * 2u);
    expectNear(points[9], {50, 100});  // the first arc keeps 9 points, the second starts here
    expectNear(points[19], {100, 0});
}

TEST(OutlineFlattening, ContourStartingAndEndingOffCurveStartsAtImpliedPoint)
{
    // A rounded square whose contour begins and ends on control points.
    const auto points = flatten({{100, 100, conic},
                                 {100, 0, on},
                                 {100, -100, conic},
                                 {0, -100, on},
                                 {-100, -100, conic},
                                 {-100, 0, on},
                                 {-100, 100, conic}});
    ASSERT_EQ(points.size(), 40u);
    expectNear(points[0], {0, 100});
    expectNear(points[10], {100, 0});
    expectNear(points[20], {0, -100});
    expectNear(points[30], {-100, 0});
    for (const glm::vec3& p : points) EXPECT_LE(std::max(std::abs(p.x), std::abs(p.y)), 100.0f);
    EXPECT_FALSE(hasRepeatedNeighbours(points));
}

TEST(OutlineFlattening, ContourStartingOffCurveDoesNotRepeatItsFirstPoint)
{
    const auto points = flatten({{50, 100, conic}, {100, 0, on}, {0, 0, on}});
    ASSERT_EQ(points.size(), 11u);
    expectNear(points[0], {0, 0});
    expectNear(points[5], {50, 50});
    EXPECT_FALSE(hasRepeatedNeighbours(points));
}

TEST(OutlineFlattening, CubicArcsAndMalformedOutlinesStayInsideTheRecord)
{
    const auto cubicArc = flatten({{0, 0, on}, {0, 100, cubic}, {100, 100, cubic}, {100, 0, on}});
    ASSERT_EQ(cubicArc.size(), 11u);
    expectNear(cubicArc[5], {50, 75});

    // Trailing control points wrap to the contour's start instead of reading on.
    EXPECT_EQ(flatten({{0, 0, on}, {0, 100, cubic}, {100, 100, cubic}}).size(), 10u);

    Character broken = makeRecord({{{0, 0, on}, {10, 0, on}, {10, 10, on}}});
    broken.nContours = 2;
    broken.contourEnds = {2, 40};  // second end lies past the points
    Character3D glyph(broken);
    QvFont3D::_buildContour(broken, 0, 0, glyph);
    EXPECT_EQ(glyph.contours.size(), 1u);
    EXPECT_TRUE(glyph.severalContours);
}

TEST(QvFont3D, BuildsBothRangesWithWallsFacesAndDerivedArrays)
{
    std::vector<char16_t> codes;
    for (char16_t c = 0; c <= 254; ++c) codes.push_back(c);
    for (char16_t c = 0x401; c <= 0x451; ++c) codes.push_back(c);
    for (char16_t c : codes) {
        ASSERT_TRUE(dejaVuOutlines().glyphs.count(c)) << int(c);
        ASSERT_TRUE(dejaVuOutlines().outlines.count(c)) << int(c);
        const Character3D& glyph = dejaVuOutlines().getChar3D(c);
        EXPECT_EQ(glyph.code, c);
        size_t wall = 0, points = 0;
        for (const Contour& contour : glyph.contours) {
            wall += 2 * contour.points.size() + 2;
            points += contour.points.size();
            EXPECT_FALSE(hasRepeatedNeighbours(contour.points)) << int(c);
        }
        EXPECT_EQ(glyph.wallStrip.size(), wall) << int(c);
        EXPECT_EQ(glyph.wallNormals.size(), wall) << int(c);
        EXPECT_EQ(glyph.outlinePoints.size(), points) << int(c);
        EXPECT_EQ(glyph.edges.size(), points) << int(c);
        EXPECT_EQ(glyph.contours.empty(), glyph.frontVertices.empty()) << int(c);
        EXPECT_EQ(glyph.backVertices.size(), glyph.frontVertices.size());
        EXPECT_EQ(glyph.frontTexCoords.size(), glyph.frontVertices.size());
        EXPECT_EQ(glyph.backNormals.size(), glyph.frontVertices.size());
        // Strip indices count the front vertices in order, each strip closed.
        uint32_t expected = 0;
        for (uint32_t index : glyph.stripIndices) {
            if (index != 0xFFFF) {
                EXPECT_EQ(index, expected++) << int(c);
            }
        }
        EXPECT_EQ(expected, glyph.frontVertices.size());
        if (!glyph.stripIndices.empty()) {
            EXPECT_EQ(glyph.stripIndices.back(), 0xFFFFu);
        }
    }
}

TEST(QvFont3D, GlyphMeshIsBuiltOnFirstUseOnceAndAsInTheWholeTable)
{
    const QvFont3D font(fonttest::dejaVuFile);
    EXPECT_EQ(font.outlines.size(), dejaVuOutlines().outlines.size());
    EXPECT_FALSE(font.glyphs.count(u'A'));

    // Asked in another order than the whole table was built in.
    for (char16_t c : {u'\u0416', u'A', u'g', u'8'}) {
        const Character3D& onDemand = font.getChar3D(c);
        EXPECT_EQ(&font.getChar3D(c), &onDemand) << int(c);
        const Character3D& whole = dejaVuOutlines().getChar3D(c);
        EXPECT_EQ(onDemand.code, c);
        EXPECT_EQ(onDemand.character.advance, whole.character.advance) << int(c);
        EXPECT_EQ(onDemand.outlinePoints, whole.outlinePoints) << int(c);
        EXPECT_EQ(onDemand.wallStrip, whole.wallStrip) << int(c);
        EXPECT_EQ(onDemand.wallNormals, whole.wallNormals) << int(c);
        EXPECT_EQ(onDemand.frontVertices, whole.frontVertices) << int(c);
        EXPECT_EQ(onDemand.backVertices, whole.backVertices) << int(c);
        EXPECT_EQ(onDemand.frontTexCoords, whole.frontTexCoords) << int(c);
        EXPECT_EQ(onDemand.stripIndices, whole.stripIndices) << int(c);
        EXPECT_FALSE(onDemand.frontVertices.empty()) << int(c);
    }

    // A code point never read builds the currency sign once, as its own ask would.
    const Character3D& euro = font.getChar3D(0x20AC);
    EXPECT_EQ(&font.getChar3D(0x00A4), &euro);
    EXPECT_EQ(euro.outlinePoints, dejaVuOutlines().getChar3D(0x00A4).outlinePoints);
    EXPECT_EQ(font.glyphs.size(), 5u);  // nothing else was built
}

TEST(QvFont3D, SpaceKeepsItsAdvanceWithoutAnyGeometry)
{
    const Character3D& space = dejaVuOutlines().getChar3D(u' ');
    EXPECT_EQ(space.character.nContours, 0);
    EXPECT_TRUE(space.contours.empty());
    EXPECT_TRUE(space.wallStrip.empty());
    EXPECT_TRUE(space.stripIndices.empty());
    EXPECT_GT(space.character.advance, 0u);
    EXPECT_EQ(space.character.advance, dejaVuOutlines().outlines.at(u' ').advance);
    EXPECT_LT(space.character.advance, dejaVuOutlines().getChar3D(u'W').character.advance);
}

TEST(QvFont3D, CodePointsOutsideTheRangesShareTheCurrencySignGlyph)
{
    const Character3D& currency = dejaVuOutlines().getChar3D(0x00A4);
    EXPECT_FALSE(currency.contours.empty());
    EXPECT_EQ(&dejaVuOutlines().getChar3D(0x20AC), &currency);
    EXPECT_EQ(&dejaVuOutlines().getChar3D(0x0300), &currency);
    EXPECT_EQ(&dejaVuOutlines().getChar3D(0x0452), &currency);
    EXPECT_NE(&dejaVuOutlines().getChar3D(u'A'), &currency);
    ASSERT_TRUE(dejaVuOutlines().fallbackGlyph);
    EXPECT_EQ(dejaVuOutlines().fallbackGlyph->character.height, 0u);
    EXPECT_EQ(dejaVuOutlines().fallbackGlyph->outlinePoints, currency.outlinePoints);
}

TEST(QvFont3D, UnreadableFontSaysSoOnceAndAnswersEmptyGlyphs)
{
    // A missing file, files that hold no font (empty, cut short, text), and
    // whatever else can stand in a font's place (refused at once): one line
    // each, with the system's or FreeType's reason.
    const std::string garbage = fonttest::writeNotAFont("not-a-font.ttf");
    const std::string empty = testsupport::tempPath("empty.ttf").string(),
                      cut = testsupport::tempPath("cut.ttf");
    std::ofstream{empty};
    std::filesystem::copy_file(fonttest::dejaVuFile, cut, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut, 300);
    const std::string standIn = testsupport::tempPath("standin.ttf").string();
    std::vector<std::pair<std::string, std::string>> fonts = {
        {"fonts/djsans/NoSuchFont.ttf", "No such file or directory"},
        {empty, "the file is empty"},
        {cut, "unknown file format"},
        {garbage, "invalid stream operation"}};
    const std::size_t files = fonts.size();
    for (const auto& kind : hostilefiles::standIns) fonts.emplace_back(standIn, kind.reason);
    for (std::size_t i = 0; i < fonts.size(); ++i) {
        const auto& [path, reason] = fonts[i];
        if (i >= files) hostilefiles::plant(path, hostilefiles::standIns[i - files]);
        testing::internal::CaptureStdout();
        const QvFont3D unreadable(path);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "ERROR::FREETYPE: Failed to load font " + path + ": " + reason + "\n");

        const Character3D& a = unreadable.getChar3D(u'A');
        EXPECT_TRUE(a.contours.empty());
        EXPECT_TRUE(a.frontVertices.empty());
        EXPECT_EQ(a.character.advance, 0u);
        EXPECT_EQ(&unreadable.getChar3D(0x0416), &a);
        EXPECT_TRUE(unreadable.getChar3D(u'W').stripIndices.empty());
    }
    for (const std::string& file : {garbage, empty, cut, standIn}) std::filesystem::remove_all(file);
}

TEST(QvFont3D, GlyphThatFailsToLoadIsReportedOnlyInTheCyrillicRangeAndFallsBack)
{
    const fonttest::BrokenFont broken = fonttest::makeBrokenFont("broken-glyphs.ttf", FT_LOAD_DEFAULT);
    ASSERT_FALSE(broken.failingFirstRange.empty());
    ASSERT_FALSE(broken.failingCyrillicRange.empty());

    testing::internal::CaptureStdout();
    const QvFont3D font(broken.path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fonttest::glyphErrorLines(broken.failingCyrillicRange.size()));

    const Character3D& currency = font.getChar3D(0x00A4);
    EXPECT_FALSE(font.glyphs.count(u'A'));
    EXPECT_FALSE(font.glyphs.count(u'\u0416'));
    EXPECT_EQ(&font.getChar3D(u'A'), &currency);
    EXPECT_EQ(&font.getChar3D(u'\u0416'), &currency);
    EXPECT_FALSE(font.getChar3D(u'B').contours.empty());
    std::remove(broken.path.c_str());
}

TEST(QvFont3D, OutlineBoundsStartFromTheGlyphsOwnPoints)
{
    glm::vec3 low, high;
    ASSERT_TRUE(dejaVuOutlines().getChar3D(0x00B4).outlineBounds(low, high));  // acute accent, high up
    EXPECT_GT(low.y, 1000.0f);
    EXPECT_GT(low.x, 0.0f);
    ASSERT_TRUE(dejaVuOutlines().getChar3D(u',').outlineBounds(low, high));  // reaches below the baseline
    EXPECT_LT(low.y, 0.0f);
    EXPECT_LT(high.y, 1000.0f);
    for (const glm::vec3& p : dejaVuOutlines().getChar3D(u',').outlinePoints) {
        EXPECT_GE(p.y, low.y);
        EXPECT_LE(p.y, high.y);
    }
    EXPECT_FALSE(dejaVuOutlines().getChar3D(u' ').outlineBounds(low, high));
}
