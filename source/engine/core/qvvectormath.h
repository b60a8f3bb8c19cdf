// qvvectormath: vector and matrix helpers shared by the camera, the transforms,
// picking and the boxes.
#pragma once

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

// v divided by its length, the length summed and rooted in extended precision;
// a zero-length vector is returned unchanged instead of turning into NaN.
glm::vec3 normaliseUnlessZero(glm::vec3 v);

// A matrix with all sixteen elements NaN: "not set yet". (glm::mat4(NaN) only
// fills the diagonal.)
glm::mat4 unsetMatrix();

// m turned about x by `x` radians, then about y, then about z: Rz x Ry x Rx x m.
glm::mat4 accumulateAxisRotations(const glm::mat4& m, float x, float y, float z);
