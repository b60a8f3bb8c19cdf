// qvcontrolbox: the box every interface control stands on, as plain data.
//
// A control of extents (W, H, D) is a box centred on its local origin: 36
// vertices (six faces, two triangles each) of 8 floats, position, texture
// coordinates and normal, drawn as they are; 12 picking triangles of the exact
// size; and a bounding-box vertex list 3 % larger, so the wire box and the
// bounds sit just outside what is drawn. No OpenGL here: QvBoxControl uploads
// and draws these floats.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "engine/core/qvboundingvolumes.h"

inline constexpr std::size_t qvBoxVertexCount = 36;
inline constexpr std::size_t qvBoxFloatsPerVertex = 8;  // x y z, u v, nx ny nz
inline constexpr std::size_t qvBoxFloatCount = qvBoxVertexCount * qvBoxFloatsPerVertex;
inline constexpr std::size_t qvBoxStride = qvBoxFloatsPerVertex * sizeof(float);  // 32 bytes
inline constexpr std::size_t qvBoxTexCoordOffset = 3 * sizeof(float);             // byte 12
inline constexpr std::size_t qvBoxNormalOffset = 5 * sizeof(float);               // byte 20
// The picking box is this much larger than the drawn box on every axis.
inline constexpr float qvPickingBoxGrowth = 1.03f;

// The 288 floats of the centred box in buffer order: back, front, left,
// right, bottom and top face.
std::vector<float> qvControlBoxVertices(float width, float height, float depth);

// One triangle per three consecutive vertices of an interleaved list (8
// floats a vertex), each corner as (x, y, z, 1); a trailing partial triangle
// is dropped.
std::vector<Triangle> qvControlBoxTriangles(const std::vector<float>& vertices);

// The positions of an interleaved list, each multiplied by qvPickingBoxGrowth:
// 108 floats for the box.
std::vector<float> qvControlBoxAABBVertices(const std::vector<float>& vertices);

// The collision box of an interleaved list: its triangles, and the grown
// positions as its vertex list and bounds.
std::unique_ptr<QvAABB> qvControlBoxAABB(const std::vector<float>& vertices);

// The image control's flat quad instead of a box: 6 vertices of (x, y, u, v)
// with the lower left corner at the local origin (not centred), in z = 0.
inline constexpr std::size_t qvImageQuadFloatCount = 24;
std::vector<float> qvImageQuadVertices(float width, float height);
// Its collision box: the quad's two triangles (z 0, w 1) and its corners
// grown by qvPickingBoxGrowth as the vertex list.
std::unique_ptr<QvAABB> qvImageQuadAABB(const std::vector<float>& quad);
