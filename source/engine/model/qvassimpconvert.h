// Assimp's matrix, vector and quaternion as GLM values, shared by the model
// loader and the skeletal animation.
#pragma once

#include <assimp/matrix4x4.h>
#include <assimp/quaternion.h>
#include <assimp/vector3.h>
#include <glm/gtc/quaternion.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

// Library values as GLM values: the same mathematical matrix, vector, quaternion.
glm::mat4 convertMatrixToGL3NFormat(const aiMatrix4x4& m);
glm::vec3 getGL3NVec(const aiVector3D& v);
glm::quat getGL3NQuat(const aiQuaternion& q);
