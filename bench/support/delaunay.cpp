// The Delaunay triangulation as a program of its own, run by bench_geometry
// beside qhull's qdelaunay on the same job: it reads qdelaunay's input ("2",
// the count, then one "x y" a line) from standard input, triangulates as the
// canvas does (circle outlines and diagnostic lines included) and writes the
// triangle count and each triangle's three indices, as `qdelaunay Qt i` does.
#include "engine/geometry/qvdelone.h"

#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main()
{
    int dimension = 0;
    long count = 0;
    if (std::scanf("%d %ld", &dimension, &count) != 2 || dimension != 2 || count < 0) return 1;
    std::vector<glm::vec3> points;
    points.reserve(size_t(count));
    for (float x = 0, y = 0; long(points.size()) < count && std::scanf("%f %f", &x, &y) == 2;)
        points.emplace_back(x, y, 0.0f);
    if (long(points.size()) != count) return 1;

    std::vector<glm::vec3> vertices, normals;
    std::vector<std::uint32_t> indices;
    std::vector<float> circles;
    int vertexCount = 0;
    triangulate(points, vertices, indices, normals, vertexCount, circles);
    fmt::print("{}\n", indices.size() / 3);
    for (size_t i = 0; i + 2 < indices.size(); i += 3)
        fmt::print("{} {} {}\n", indices[i], indices[i + 1], indices[i + 2]);
    return 0;
}
