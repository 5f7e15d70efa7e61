// DiskSwarm: sixteen rings of columns of small disks about the Y axis, spaced and
// coloured by sixteen smoothed bands, with eight ribbons winding round the centre,
// under the swirling camera.
#pragma once

#include <GL/glu.h>

#include "effects/swirl_camera.h"

// The ribbons' running angle: program-wide, starts at 0, never reset; it grows
// by 8 x bands[3] per update.
extern float swirlAngle;

constexpr int diskRibbons = 8;
constexpr int diskRibbonPairs = 10;

struct DiskSwarm {
  GLUquadric* quadric;
  float bands[swirlBandCount];  // band k drives ring k
  float level;                  // the last update's level; scales the colours
  // The running angle as it stood at each pair of each ribbon, turned by the last
  // update in drawing order, for draw().
  float ribbonSwirl[diskRibbons][diskRibbonPairs];

  DiskSwarm();
  ~DiskSwarm();
  DiskSwarm(const DiskSwarm&) = delete;
  DiskSwarm& operator=(const DiskSwarm&) = delete;

  // Everything that one frame carries into the next: the bands smoothed, the swirl turned.
  void update(float level);
  // Replaces both matrices and leaves its camera in the projection and the last
  // column's turn about Y in the modelview, for the effects drawn after it.
  void draw();
};
