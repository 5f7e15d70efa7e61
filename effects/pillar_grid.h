// PillarGrid: a 21 x 21 x 5 lattice of upright square pillars whose height follows
// one smoothed band and whose tint turns warm or cool as another band crosses a
// threshold, under the swirling camera.
#pragma once

#include <GL/glu.h>

#include "effects/swirl_camera.h"

struct PillarTint {
  float red;
  float green;
  float blue;
};

// Warm when the colour band is above 0.002, cool at 0.002 and below; the
// brightness is 100 x the band either way.
PillarTint pillarTint(float colourBand);

struct PillarGrid {
  GLUquadric* quadric;
  float bands[swirlBandCount];  // draw reads bands[3] (tint) and bands[10] (height)
  float level;                  // the last update's level: the pillars' alpha

  PillarGrid();
  ~PillarGrid();
  PillarGrid(const PillarGrid&) = delete;
  PillarGrid& operator=(const PillarGrid&) = delete;

  void update(float level);
  // Replaces both matrices; leaves its camera in the projection and the last
  // pillar's placement in the modelview.
  void draw();
};
