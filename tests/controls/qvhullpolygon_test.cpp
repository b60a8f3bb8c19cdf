// The convex hull put into a canvas's open polygon, closed and triangulated:
// whichever hull routine made it, the triangles cover exactly the hull.
#include "controls/qvplotmodel.h"

#include "geometry_checks.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

double triangleArea(const std::vector<glm::vec3>& corners)
{
    double total = 0.0;
    for (size_t i = 0; i + 2 < corners.size(); i += 3) {
        const glm::dvec3 a(corners[i]), b(corners[i + 1]), c(corners[i + 2]);
        total += std::abs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y)) / 2.0;
    }
    return total;
}

}  // namespace

TEST(HullPolygon, ClosedHullTriangulatesToTheHullsArea)
{
    const auto points = checks::randomPoints(40, 21);
    const double hullArea = std::abs(checks::signedArea(checks::monotoneHull(points)));
    for (int kind = 0; kind < 3; ++kind) {
        for (bool spar : {true, false}) {
            QvPlotModel model;
            model.hullPoints = points;
            testing::internal::CaptureStdout();
            if (kind == 0) model.createCH();
            if (kind == 1) model.createGrahamCH();
            if (kind == 2) model.createJarvisCH();
            model.closePolygon();
            ASSERT_TRUE(spar ? model.triangulatePolygonSPAR() : model.triangulatePolygonTDBE());
            testing::internal::GetCapturedStdout();
            EXPECT_NEAR(triangleArea(model.triangleVertices), hullArea, 1e-3 * hullArea)
                << "hull " << kind << (spar ? " SPAR" : " TDBE");
        }
    }
}
