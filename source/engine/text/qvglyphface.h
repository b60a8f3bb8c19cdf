// Checks a glyph's front face against its outline and, where the strip
// builder got it wrong, rebuilds the face with the GLU polygon tessellator.
// Both run without an OpenGL context.
#pragma once

class Character3D;

// Areas (outline units squared) found by sweeping the outline and the front
// triangles band by band between the heights of their vertices.
struct QvFaceCoverage {
    double outlineArea = 0;  // filled area of the outline (non-zero winding)
    double missingArea = 0;  // filled but covered by no triangle
    double excessArea = 0;   // covered by a triangle but not filled
    double overlapArea = 0;  // covered by more than one triangle (counted per extra layer)

    // Within a small tolerance of a face that covers exactly the filled area.
    bool isSound() const;
};

// Compares the front triangles (strips of stripIndices over frontVertices)
// with the filled area of the contours' flattened points.
QvFaceCoverage qvMeasureFrontFace(const Character3D& glyph);

// Replaces the front face by the tessellator's triangles (non-zero winding),
// each as a 3-vertex strip closed by the restart index, and derives normals,
// texture coordinates and the back face again.
void qvTessellateFrontFace(Character3D& glyph);
