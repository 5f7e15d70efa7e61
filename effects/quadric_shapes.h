// The two GLU quadric shapes of the show, vertex for vertex as a GLU quadric
// emits them, for drawing from client arrays: the square tube of
// gluCylinder(r, r, h, 4 slices, 1 stack) and the octagon of gluDisk(0, r, 8 slices,
// 1 loop). Drawn in the same transforms as the GLU calls, they give the same
// picture without GLU's per-call sines and per-vertex calls. Used by PillarGrid
// and DiskSwarm.
#pragma once

constexpr int tubeSlices = 4;
constexpr int diskSlices = 8;

// Positions (x, y, z) in one block: the GLU_FILL shape first, then the
// GLU_SILHOUETTE line strips cut into separate segments, in the order and
// direction GLU draws them.
struct QuadricTube {
  static constexpr int faceVertices = 2 * (tubeSlices + 1);   // one quad strip
  static constexpr int outlineVertices = 2 * 3 * tubeSlices;  // bottom ring, top ring, the edges
  float positions[3 * (faceVertices + outlineVertices)];

  // The tube of radius `radius` from z = 0 to z = `height` about the z axis.
  void shape(float radius, float height);
  // Sets the vertex pointer; the caller enables GL_VERTEX_ARRAY.
  void bind() const;
  void drawFace() const;     // GL_QUAD_STRIP, as GLU_FILL
  void drawOutline() const;  // GL_LINES, as GLU_SILHOUETTE
};

struct QuadricDisk {
  static constexpr int faceVertices = diskSlices + 2;     // one triangle fan
  static constexpr int outlineVertices = 2 * diskSlices;  // the rim; the rim of the empty hole has no length
  float positions[3 * (faceVertices + outlineVertices)];

  // The disk of radius `radius` in the plane z = 0, facing +z.
  void shape(float radius);
  void bind() const;
  void drawFace() const;     // GL_TRIANGLE_FAN, as GLU_FILL
  void drawOutline() const;  // GL_LINES, as GLU_SILHOUETTE
};
