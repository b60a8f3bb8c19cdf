// Timings of the geometry routines on random points (1,000 and 2,000), so the
// growth from one size to the other shows each routine's order, then the
// Delaunay triangulation at 2,000 and 10,000 points next to qhull's qdelaunay
// (when it is installed). Diagnostic lines of the routines go to standard
// output; run with it sent to /dev/null.
#include "engine/geometry/qvdelone.h"
#include "engine/geometry/qvgeometry.h"
#include "engine/geometry/qvtriangulation.h"
#include "../tests/engine/geometry/geometry_checks.h"  // the same random point sets the tests use

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

namespace {

// The points joined in order of their angle about the centre: a star-shaped
// polygon, closed by repeating its first corner.
std::vector<glm::vec3> starPolygon(std::vector<glm::vec3> points)
{
    const glm::vec3 centre{5.0f, 5.0f, 0.0f};
    std::sort(points.begin(), points.end(), [&](glm::vec3 a, glm::vec3 b) {
        return std::atan2(a.y - centre.y, a.x - centre.x) < std::atan2(b.y - centre.y, b.x - centre.x);
    });
    points.push_back(points.front());
    return points;
}

double milliseconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Best of a few runs, so a busy machine's spikes do not decide.
double bestOf(int runs, const std::function<void()>& work)
{
    double best = milliseconds(work);
    for (int i = 1; i < runs; ++i) best = std::min(best, milliseconds(work));
    return best;
}

// Our triangulation and qdelaunay on the same points, each timed as a whole:
// qdelaunay reads its input file and writes its triangles to /dev/null, our
// routine prints its diagnostic lines and draws every triangle's circle
// outline as its contract asks. The outlines grow with the circles, so the
// last row shrinks the square until they are a few points each: what is left
// is the triangulation itself.
void compareWithQhull()
{
    const bool haveQhull = std::system("command -v qdelaunay >/dev/null 2>&1") == 0;
    fmt::print(stderr, "\n{:<32}{:>12}{:>12}{:>8}{:>12}\n", "Delaunay (random points)", "ours (ms)",
               "qdelaunay", "ratio", "triangles");
    const std::pair<size_t, float> sets[] = {{2000, 10.0f}, {10000, 10.0f}, {10000, 0.01f}};
    for (const auto& [n, extent] : sets) {
        const auto points = checks::randomPoints(n, 42, extent);
        size_t triangles = 0;
        const double ours = bestOf(3, [&] {
            std::vector<glm::vec3> copy = points, vertices, normals;
            std::vector<std::uint32_t> indices;
            std::vector<float> circles;
            int count = 0;
            triangulate(copy, vertices, indices, normals, count, circles);
            triangles = vertices.size() / 3;
        });
        double theirs = std::nan("");
        const std::string input = fmt::format("/tmp/velmorin_bench_qdelaunay_{}.txt", n);
        std::FILE* file = haveQhull ? std::fopen(input.c_str(), "w") : nullptr;
        if (file != nullptr) {
            fmt::print(file, "2\n{}\n", n);
            for (const glm::vec3& p : points) fmt::print(file, "{} {}\n", p.x, p.y);
            std::fclose(file);
            const std::string command = "qdelaunay Qt i < " + input + " > /dev/null";
            bool failed = false;
            theirs = bestOf(3, [&] { failed = failed || std::system(command.c_str()) != 0; });
            if (failed) theirs = std::nan("");
            std::remove(input.c_str());
        }
        fmt::print(stderr, "{:<32}{:>12.1f}{:>12.1f}{:>8.2f}{:>12}\n",
                   fmt::format("n = {} in a {} square", n, extent), ours, theirs, ours / theirs, triangles);
    }
    if (!haveQhull) fmt::print(stderr, "qdelaunay not found (Debian package qhull-bin)\n");
}

}  // namespace

int main()
{
    const size_t sizes[] = {1000, 2000};
    fmt::print(stderr, "{:<32}{:>12}{:>12}{:>8}\n", "routine", "1000 (ms)", "2000 (ms)", "ratio");
    auto row = [&](const char* name, const std::function<void(const std::vector<glm::vec3>&)>& routine) {
        double times[2];
        for (int i = 0; i < 2; ++i) {
            const auto points = checks::randomPoints(sizes[i], 42);
            times[i] = milliseconds([&] { routine(points); });
        }
        fmt::print(stderr, "{:<32}{:>12.1f}{:>12.1f}{:>8.2f}\n", name, times[0], times[1],
                   times[1] / times[0]);
    };

    auto polygonRoutine = [](auto triangulateFunction) {
        return [=](const std::vector<glm::vec3>& points) {
            std::vector<glm::vec3> vertices;
            std::vector<std::uint32_t> indices;
            int count = 0;
            triangulateFunction(starPolygon(points), vertices, indices, count);
        };
    };
    row("triangulateByTDBE (polygon)", polygonRoutine(triangulateByTDBE));
    row("triangulateBySPAR (polygon)", polygonRoutine(triangulateBySPAR));
    row("qvdelone triangulate", [](const std::vector<glm::vec3>& input) {
        std::vector<glm::vec3> points = input, vertices, normals;
        std::vector<std::uint32_t> indices;
        std::vector<float> circles;
        int count = 0;
        triangulate(points, vertices, indices, normals, count, circles);
    });
    // The same walk without circles, normals or output lists: what the
    // triangulation itself costs next to drawing the circles.
    row("qvdelone mate + frontier only", [](const std::vector<glm::vec3>& input) {
        std::vector<glm::vec3> points = input;
        QvFrontier frontier{hullEdge(points)};
        while (!frontier.empty()) {
            const DE e = *frontier.begin();
            frontier.erase(frontier.begin());
            glm::vec3 p, circle;
            if (!mate(e, points, p, circle)) continue;
            updateFrontier(frontier, {p, e.org});
            updateFrontier(frontier, {e.dest, p});
        }
    });
    auto hullRoutine = [](auto hullFunction) {
        return [=](const std::vector<glm::vec3>& points) {
            std::vector<glm::vec3> hull;
            hullFunction(points, hull);
        };
    };
    row("createConvexHull (n^2 lines)", hullRoutine(createConvexHull));
    row("createGrahamConvexHull", hullRoutine(createGrahamConvexHull));
    row("createJarvisWithACosConvexHull", hullRoutine(createJarvisWithACosConvexHull));
    row("createJarvisConvexHull", hullRoutine(createJarvisConvexHull));
    row("drawCircleBrezem (r 10, each)", [](const std::vector<glm::vec3>& points) {
        constexpr int side = 512, stride = 3 * side;
        std::vector<std::uint8_t> source(size_t(side) * stride, 7), destination(size_t(side) * stride, 0);
        for (const glm::vec3& p : points) {
            const int x = int(p.x * 51.2f), y = int(p.y * 51.2f);
            drawCircleBrezem(x, y, y, x, side, stride, destination, side, stride, source, 10);
        }
    });
    row("drawCircle (r 0.2, each)", [](const std::vector<glm::vec3>& points) {
        std::vector<float> out;
        for (const glm::vec3& p : points) drawCircle({p.x, p.y}, 0.2f, out);
    });
    compareWithQhull();
    return 0;
}
