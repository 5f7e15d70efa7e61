// BandStar: a ribbon of 25 segments along +Z whose height follows the smoothed
// spectrum and whose width follows the waveform behind the play head, drawn ten
// times around the Z axis so that the copies close into a ten-sided star.
#pragma once

#include "effects/color_vertex_array.h"

struct BandStar {
  int segmentCount;
  float* levels;  // smoothed spectrum level of each segment
  float red;
  float green;
  float blue;
  ColorVertexArray* vertexArray;  // segment j: vertices 2j (left) and 2j+1 (right)

  BandStar();
  ~BandStar();
  BandStar(const BandStar&) = delete;
  BandStar& operator=(const BandStar&) = delete;

  // Reaches the vertices at the next update.
  void setColor(float r, float g, float b);
  // `level` is the alpha of the nearest segment; the ribbon fades to 0 at its far end.
  void update(float level);
  // Ten copies, 36 degrees apart, each outlined then filled; the ten turns add up to
  // one full turn, so the current matrix ends where it started.
  void draw();
};
