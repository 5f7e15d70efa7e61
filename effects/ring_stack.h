// RingStack: a fixed cloud of 100 triangles on a cylindrical band about Y, each
// stretched and brightened by its own smoothed spectrum band, stacked in 20 layers
// of ten turned copies that scroll downwards with the phase.
#pragma once

#include "effects/color_vertex_array.h"

struct RingStack {
  ColorVertexArray* vertexArray;  // item i: anchor 3i, 3i+1, tip 3i+2
  int itemCount;
  float* levels;  // smoothed spectrum level of each item
  float triangleSize;
  float baseAlpha;

  // Takes the next 300 values of the show's generator (after OrbitRing's 400).
  RingStack();
  ~RingStack();
  RingStack(const RingStack&) = delete;
  RingStack& operator=(const RingStack&) = delete;

  // The alphas of the anchor and middle vertices are multiplied by `level` on every
  // call and never reset, so a fade compounds from frame to frame.
  void update(float level);
  // `phase` in beats; a phase step of 2 scrolls the column by exactly one layer.
  void draw(float phase);
};
