// qvcubemesh: the letter tile's fixed mesh, as plain data.
//
// A unit cube from x 0..1, y 0..1, z -1..0, so the tile's local origin is the
// lower left corner of its front face: 36 vertices of 8 floats (position,
// texture coordinates, normal) in the face order back, front, left, right,
// bottom, top. Its picking box is the mesh pushed 0.1 outward on every axis.
// Whatever size a tile is given, this is its mesh; the size only lays out its
// letter. QvCube uploads and draws these floats.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/core/qvboundingvolumes.h"

inline constexpr std::size_t qvCubeVertexCount = 36;
inline constexpr std::size_t qvCubeFloatsPerVertex = 8;
inline constexpr float qvCubePickingMargin = 0.1f;

// The 288 floats of the tile mesh in buffer order.
std::vector<float> qvCubeVertices();
// One triangle per three vertices (12), each corner as (x, y, z, 1).
std::vector<Triangle> qvCubeTriangles(const std::vector<float>& vertices);
// The 108 positions pushed outward by the margin: x and y away from 0 when
// above it, z away from 0 when below it.
std::vector<float> qvCubeAABBVertices(const std::vector<float>& vertices);
