// Timings of the geometry routines on random points (1,000 and 2,000), so the
// growth from one size to the other shows each routine's order, then the
// Delaunay triangulation at 2,000 and 10,000 points next to qhull's qdelaunay
// (when it is installed). Every figure is the median of several runs. The
// triangulation is timed as the canvas calls it, then its circle outlines
// alone, then the same call on points in a square so small that the outlines
// cost next to nothing: what is left is the partner search and frontier walk
// it runs. Diagnostic lines of the routines go to standard output; run with it
// sent to /dev/null.
#include "engine/geometry/qvdelone.h"
#include "engine/geometry/qvgeometry.h"
#include "engine/geometry/qvtriangulation.h"
#include "../tests/engine/geometry/geometry_checks.h"  // the same random point sets the tests use

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

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

constexpr int kRuns = 5;
// The side of a square small enough that circle outlines are a few points.
constexpr float kSmallSquare = 0.01f;

// The median of `runs` runs, so a busy machine's spikes do not decide.
double medianOf(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(milliseconds(work));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
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

// Milliseconds of qdelaunay on the points: a fresh process that reads its
// input file and writes its triangles to /dev/null (NaN when it fails).
double timeQdelaunay(const std::vector<glm::vec3>& points)
{
    const std::string input = fmt::format("/tmp/velmorin_bench_qdelaunay_{}_{}.txt", getpid(), points.size());
    if (!writeQhullInput(input, points)) return std::nan("");
    const std::string command = "qdelaunay Qt i < " + input + " > /dev/null";
    bool failed = false;
    const double time = medianOf(kRuns, [&] { failed = failed || std::system(command.c_str()) != 0; });
    std::remove(input.c_str());
    return failed ? std::nan("") : time;
}

// Our triangulation and qdelaunay on the same points, each timed as a whole:
// ours in this process, printing its diagnostic lines and drawing every
// triangle's circle outline as its contract asks; qdelaunay as a process of
// its own. Its start (the shell and qdelaunay on four points) is measured
// apart, and the ratio is taken to its time less that start. The outlines
// grow with the circles, so the last row shrinks the square until they are a
// few points each: what is left is the triangulation itself.
void compareWithQhull()
{
    const bool haveQhull = std::system("command -v qdelaunay >/dev/null 2>&1") == 0;
    const double qhullStart = haveQhull ? timeQdelaunay(checks::randomPoints(4, 7)) : std::nan("");
    fmt::print(stderr, "\n{:<32}{:>12}{:>12}{:>12}{:>8}{:>12}\n", "Delaunay (random points)", "ours (ms)",
               "qdelaunay", "less start", "ratio", "triangles");
    const std::pair<size_t, float> sets[] = {{2000, 10.0f}, {10000, 10.0f}, {10000, 0.01f}};
    for (const auto& [n, extent] : sets) {
        const auto points = checks::randomPoints(n, 42, extent);
        size_t triangles = 0;
        const double ours = medianOf(kRuns, [&] { triangles = runTriangulate(points).size() / 3; });
        const double theirs = haveQhull ? timeQdelaunay(points) : std::nan("");
        const double theirsNet = theirs - qhullStart;
        fmt::print(stderr, "{:<32}{:>12.1f}{:>12.1f}{:>12.1f}{:>8.2f}{:>12}\n",
                   fmt::format("n = {} in a {} square", n, extent), ours, theirs, theirsNet, ours / theirsNet,
                   triangles);
    }
    if (haveQhull)
        fmt::print(stderr, "qdelaunay's start (shell, process, four points): {:.1f} ms\n", qhullStart);
    else
        fmt::print(stderr, "qdelaunay not found (Debian package qhull-bin)\n");
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
