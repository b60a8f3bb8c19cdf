// qvvectormath: vector and matrix helpers shared by the camera, the transforms,
// picking and the boxes.
#include "engine/core/qvvectormath.h"

#include <cmath>
#include <limits>

#include <glm/ext/matrix_transform.hpp>

glm::vec3 normaliseUnlessZero(glm::vec3 v)
{
    const long double x = v.x, y = v.y, z = v.z;
    const long double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0L) {
        return v;
    }
    return glm::vec3(float(x / length), float(y / length), float(z / length));
}

glm::mat4 unsetMatrix()
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const glm::vec4 column(nan);
    return glm::mat4(column, column, column, column);
}

glm::mat4 accumulateAxisRotations(const glm::mat4& m, float x, float y, float z)
{
    glm::mat4 r = glm::rotate(glm::mat4(1.0f), x, glm::vec3(1, 0, 0)) * m;
    r = glm::rotate(glm::mat4(1.0f), y, glm::vec3(0, 1, 0)) * r;
    return glm::rotate(glm::mat4(1.0f), z, glm::vec3(0, 0, 1)) * r;
}
