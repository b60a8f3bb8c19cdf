// qvvectormath: vector helpers shared by the camera, picking and the boxes.
#include "qvvectormath.h"

#include <cmath>
#include <limits>

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
