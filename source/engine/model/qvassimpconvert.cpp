// Assimp values to GLM values.
#include "engine/model/qvassimpconvert.h"

#include <assimp/types.h>  // the inline operators of the matrix and vector types

glm::mat4 convertMatrixToGL3NFormat(const aiMatrix4x4& m)
{
    // Assimp stores rows (a1..a4 is row 0); GLM stores columns.
    glm::mat4 result;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            result[c][r] = m[r][c];
    return result;
}

glm::vec3 getGL3NVec(const aiVector3D& v)
{
    return glm::vec3(v.x, v.y, v.z);
}

glm::quat getGL3NQuat(const aiQuaternion& q)
{
    return glm::quat(q.w, q.x, q.y, q.z);
}
