// qvpicking: ray-plane, ray-triangle and screen-space triangle tests.
//
// Comparisons are written so that NaN fails them ("u >= 0", not "!(u < 0)"):
// a NaN input can never turn into a hit.
#include "engine/core/qvpicking.h"

#include <cmath>

#include <glm/geometric.hpp>

#include "engine/core/qvvectormath.h"

namespace {

// Barycentric point-in-triangle test for r = point - a in the frame of the
// edges e0 = b - a and e1 = c - a; works for 2D and 3D vectors alike.
template <typename Vec>
bool insideTriangle(Vec e0, Vec e1, Vec r)
{
    const float d00 = glm::dot(e0, e0);
    const float d01 = glm::dot(e0, e1);
    const float d11 = glm::dot(e1, e1);
    const float den = d00 * d11 - d01 * d01;
    // Degenerate (a line or a point) or NaN: nothing is inside.
    if (den == 0.0f || std::isnan(den)) {
        return false;
    }
    const Vec g = (d11 / den) * e0 - (d01 / den) * e1;
    const Vec h = (d00 / den) * e1 - (d01 / den) * e0;
    const float u = glm::dot(g, r);
    const float v = glm::dot(h, r);
    const float w = 1.0f - u - v;
    return u >= 0.0f && v >= 0.0f && w >= 0.0f;
}

}  // namespace

namespace qvpicking {

glm::vec3 findCentroid(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    return (a + b + c) / 3.0f;
}

bool rayVsPlane(glm::vec3 origin, glm::vec3& hit, glm::vec3 direction, glm::vec3 normal, float distance)
{
    const float den = glm::dot(direction, normal);
    if (den == 0.0f) {
        return false;
    }
    const float t = (distance - glm::dot(origin, normal)) / den;
    if (!(t >= 0.0f)) {
        return false;
    }
    hit = origin + t * direction;
    return true;
}

bool barycentric3DForTriangles(glm::vec4 p0, glm::vec4 p1, glm::vec4 p2, glm::vec3 origin,
                               glm::vec3 direction, glm::vec3& hit)
{
    const glm::vec3 a(p0), e0 = glm::vec3(p1) - a, e1 = glm::vec3(p2) - a;
    const glm::vec3 normal = normaliseUnlessZero(glm::cross(e0, e1));
    if (!rayVsPlane(origin, hit, direction, normal, glm::dot(normal, a))) {
        return false;
    }
    return insideTriangle(e0, e1, hit - a);
}

bool barycentric(glm::vec3 origin, glm::vec3 direction, glm::vec3 p0, glm::vec3 p1, glm::vec3 p2,
                 glm::vec3& hit)
{
    const glm::vec3 e1 = p1 - p0, e2 = p2 - p0;
    const glm::vec3 pv = glm::cross(direction, e2);
    const double det = glm::dot(e1, pv);
    if (!(std::abs(det) >= kParallelEpsilon)) {
        return false;
    }
    const double inv = 1.0 / det;
    const glm::vec3 tv = origin - p0;
    const double u = glm::dot(tv, pv) * inv;
    if (!(u >= 0.0 && u <= 1.0)) {
        return false;
    }
    const glm::vec3 qv = glm::cross(tv, e1);
    const double v = glm::dot(direction, qv) * inv;
    if (!(v >= 0.0 && u + v <= 1.0)) {
        return false;
    }
    const double t = glm::dot(e2, qv) * inv;
    hit = origin + float(t) * direction;
    return true;
}

bool barycentricTESTCULL(glm::vec3 origin, glm::vec3 direction, glm::vec3 p0, glm::vec3 p1, glm::vec3 p2,
                         glm::vec3& hit)
{
    const glm::vec3 e1 = p1 - p0, e2 = p2 - p0;
    const glm::vec3 pv = glm::cross(direction, e2);
    const double det = glm::dot(e1, pv);
    // Back faces give det < 0; a parallel ray would divide by (almost) zero.
    if (!(det > kParallelEpsilon)) {
        return false;
    }
    const glm::vec3 tv = origin - p0;
    const double u = glm::dot(tv, pv);
    if (!(u >= 0.0 && u <= det)) {
        return false;
    }
    const glm::vec3 qv = glm::cross(tv, e1);
    const double v = glm::dot(direction, qv);
    if (!(v >= 0.0 && u + v <= det)) {
        return false;
    }
    const double t = glm::dot(e2, qv) / det;
    hit = origin + float(t) * direction;
    return true;
}

bool barycentric3D(const glm::mat4& projection, const glm::mat4& model, const glm::mat4& camera, glm::vec4 p0,
                   glm::vec4 p1, glm::vec4 p2, glm::vec2 mouse)
{
    const glm::mat4 clipFromObject = projection * camera * model;
    const glm::vec4 q[3] = {clipFromObject * p0, clipFromObject * p1, clipFromObject * p2};
    glm::vec2 projected[3];
    for (int i = 0; i < 3; ++i) {
        // A vertex at or behind the eye has no place on the screen: dividing
        // by |w| would mirror it into view and make phantom hits.
        if (!(q[i].w > 0.0f)) {
            return false;
        }
        projected[i] = glm::vec2(q[i]) / q[i].w;
    }
    const glm::vec2 a = projected[0];
    return insideTriangle(projected[1] - a, projected[2] - a, mouse - a);
}

}  // namespace qvpicking
