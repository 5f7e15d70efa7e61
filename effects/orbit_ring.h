// OrbitRing: 100 small triangles anchored at random on a spherical shell; two
// corners of each swing about the anchor with a smoothed spectrum band, and the
// cloud is drawn ten times around the Y axis.
#pragma once

#include "effects/color_vertex_array.h"

struct OrbitRing {
  ColorVertexArray* vertexArray;  // triangle i: anchor 3i, corners 3i+1 and 3i+2
  int itemCount;
  float* levels;  // smoothed spectrum level of each triangle
  float triangleSize;
  float baseAlpha;

  // Takes the next 400 values of the show's generator.
  OrbitRing();
  ~OrbitRing();
  OrbitRing(const OrbitRing&) = delete;
  OrbitRing& operator=(const OrbitRing&) = delete;

  void update();
  // Ten copies 36 degrees apart about Y; the current matrix ends where it started.
  void draw();
};
