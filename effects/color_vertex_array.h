// ColorVertexArray: the geometry store of the line-and-fill effects (BandStar,
// OrbitRing, RingStack): parallel arrays of x, y, z, w positions and r, g, b, a
// colours, sized once and rewritten in place every frame.
#pragma once

#include <GL/gl.h>

struct ColorVertexArray {
  float* positions = nullptr;  // 4 floats per vertex: x, y, z, w
  float* colors = nullptr;     // 4 floats per vertex: red, green, blue, alpha
  int count = 0;

  ColorVertexArray() = default;
  ~ColorVertexArray() { release(); }
  ColorVertexArray(const ColorVertexArray&) = delete;
  ColorVertexArray& operator=(const ColorVertexArray&) = delete;

  // Discards the old arrays and allocates n vertices with undefined contents;
  // n <= 0 leaves the record empty.
  void resize(int n);
  void release();

  float* vertex(int i) { return positions + 4 * i; }
  float* color(int i) { return colors + 4 * i; }
  void setVertex(int i, float x, float y, float z) {
    float* p = vertex(i);
    p[0] = x;
    p[1] = y;
    p[2] = z;
    p[3] = 1.0f;
  }
  void setColor(int i, float red, float green, float blue, float alpha) {
    float* c = color(i);
    c[0] = red;
    c[1] = green;
    c[2] = blue;
    c[3] = alpha;
  }

  // Submits every vertex, each with its own colour first, as one primitive.
  void draw(GLenum mode) const;
};
