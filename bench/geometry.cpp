// Timings of the geometry routines on random points (1,000 and 2,000), so the
// growth from one size to the other shows each routine's order, each figure
// the median of several runs. The triangulation is timed as the canvas calls
// it, then its circle outlines alone, then the same call on points in a
// square so small that the outlines cost next to nothing: what is left is the
// partner search and frontier walk it runs. Then the Delaunay triangulation
// at 2,000 and 10,000 points beside qhull's qdelaunay (when it is installed),
// both as fresh processes started in turn (see support/interleave.h).
// Diagnostic lines of the routines go to standard output; run with it sent
// to /dev/null.
#include "engine/geometry/qvdelone.h"
#include "engine/geometry/qvgeometry.h"
#include "engine/geometry/qvtriangulation.h"
#include "../tests/engine/geometry/geometry_checks.h"  // the same random point sets the tests use
#include "interleave.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

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

constexpr int kRuns = 5;
constexpr int kRounds = 15;  // of our triangulation and qdelaunay in turn
// The side of a square small enough that circle outlines are a few points.
constexpr float kSmallSquare = 0.01f;

// The median of `runs` runs' wall times, so a busy machine's spikes do not decide.
double medianOf(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(bench::measure(work).wallMs);
    return bench::median(times);
}

// The Delaunay triangulation as the canvas and landscape controls run it.
std::vector<glm::vec3> runTriangulate(const std::vector<glm::vec3>& input)
{
    std::vector<glm::vec3> points = input, vertices, normals;
    std::vector<std::uint32_t> indices;
    std::vector<float> circles;
    int count = 0;
    triangulate(points, vertices, indices, normals, count, circles);
    return vertices;
}

// Circumcircles (centre x, centre y, radius) of the triangles listed three
// vertices at a time, in double precision.
std::vector<glm::vec3> circumcircles(const std::vector<glm::vec3>& vertices)
{
    std::vector<glm::vec3> circles;
    for (size_t i = 0; i + 2 < vertices.size(); i += 3) {
        const double ax = vertices[i].x, ay = vertices[i].y, bx = vertices[i + 1].x,
                     by = vertices[i + 1].y, cx = vertices[i + 2].x, cy = vertices[i + 2].y;
        const double d = 2.0 * (ax * (by - cy) + bx * (cy - ay) + cx * (ay - by));
        const double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
        const double ux = (a2 * (by - cy) + b2 * (cy - ay) + c2 * (ay - by)) / d;
        const double uy = (a2 * (cx - bx) + b2 * (ax - cx) + c2 * (bx - ax)) / d;
        circles.emplace_back(float(ux), float(uy), float(std::hypot(ax - ux, ay - uy)));
    }
    return circles;
}

// Writes points as qdelaunay's input file.
bool writeQhullInput(const std::string& path, const std::vector<glm::vec3>& points)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    fmt::print(file, "2\n{}\n", points.size());
    for (const glm::vec3& p : points) fmt::print(file, "{} {}\n", p.x, p.y);
    std::fclose(file);
    return true;
}

// Our triangulation and qdelaunay on the same points, each as a fresh process
// that reads the points from a file and writes its triangles to /dev/null:
// ours (bench_delaunay, beside this program) prints its diagnostic lines and
// draws every triangle's circle outline as its contract asks. The two start
// in turn, round after round, and each is timed from exec to exit, wall and
// CPU. The outlines grow with the circles, so the last set shrinks the square
// until they are a few points each: what is left is the triangulation itself.
void compareWithQhull()
{
    if (std::system("command -v qdelaunay >/dev/null 2>&1") != 0) {
        fmt::print(stderr, "\nqdelaunay not found (Debian package qhull-bin)\n");
        return;
    }
    const std::string ours = (fs::canonical("/proc/self/exe").parent_path() / "bench_delaunay").string();
    fmt::print(stderr, "\nDelaunay (random points), {} fresh processes of each in turn, medians:\n", kRounds);
    const std::pair<size_t, float> sets[] = {{2000, 10.0f}, {10000, 10.0f}, {10000, kSmallSquare}};
    for (const auto& [n, extent] : sets) {
        const std::string input = fmt::format("/tmp/velmorin_bench_delaunay_{}_{}.txt", getpid(), n);
        if (!writeQhullInput(input, checks::randomPoints(n, 42, extent))) return;
        const auto costs = bench::interleave(
            kRounds, {[&] { return bench::timeProcess({ours}, input, "/dev/null"); },
                      [&] { return bench::timeProcess({"qdelaunay", "Qt", "i"}, input, "/dev/null"); }});
        std::remove(input.c_str());
        const auto failed = [](const std::vector<bench::Cost>& side) {
            return std::any_of(side.begin(), side.end(), [](bench::Cost c) { return std::isnan(c.wallMs); });
        };
        if (failed(costs[0]) || failed(costs[1])) {
            fmt::print(stderr, "  n = {}: {} or qdelaunay failed\n", n, ours);
            continue;
        }
        const std::string set = fmt::format("n = {} in a {} square", n, extent);
        bench::printMedians(stderr, set + ", ours", costs[0]);
        bench::printMedians(stderr, set + ", qdelaunay", costs[1]);
        bench::printRatios(stderr, set + ", ours / qdelaunay", costs[0], costs[1]);
    }
}

}  // namespace

int main()
{
    const size_t sizes[] = {1000, 2000};
    fmt::print(stderr, "median of {} runs\n{:<36}{:>12}{:>12}{:>8}\n", kRuns, "routine", "1000 (ms)",
               "2000 (ms)", "ratio");
    auto print = [](const char* name, const std::array<double, 2>& times) {
        fmt::print(stderr, "{:<36}{:>12.1f}{:>12.1f}{:>8.2f}\n", name, times[0], times[1], times[1] / times[0]);
    };
    auto row = [&](const char* name, const std::function<void(const std::vector<glm::vec3>&)>& routine,
                   float extent = 10.0f) {
        std::array<double, 2> times{};
        for (int i = 0; i < 2; ++i) {
            const auto points = checks::randomPoints(sizes[i], 42, extent);
            times[i] = medianOf(kRuns, [&] { routine(points); });
        }
        print(name, times);
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
    const auto triangulation = [](const std::vector<glm::vec3>& points) { runTriangulate(points); };
    row("qvdelone triangulate", triangulation);
    // The outlines of the same triangles' circles drawn alone: they are most
    // of the cost. In a 0.01 square the same point set, shrunk, has circles of
    // a few grid points, so that row is the partner search (the grid) and the
    // frontier walk that triangulate runs.
    std::array<double, 2> outlines{};
    for (int i = 0; i < 2; ++i) {
        const auto circles = circumcircles(runTriangulate(checks::randomPoints(sizes[i], 42)));
        outlines[i] = medianOf(kRuns, [&] {
            std::vector<float> out;
            for (const glm::vec3& c : circles) drawCircle({c.x, c.y}, c.z, out);
        });
    }
    print("  its circle outlines alone", outlines);
    row("  triangulate in a 0.01 square", triangulation, kSmallSquare);
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
