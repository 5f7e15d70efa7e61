// The frame: the show's effects and the drawing of one frame from a play position.
#pragma once

#include <cstdint>

#include "audio/playback.h"
#include "effects/band_star.h"
#include "effects/disk_swarm.h"
#include "effects/orbit_ring.h"
#include "effects/pillar_grid.h"
#include "effects/ring_stack.h"

// What lives for the whole loop. The members are constructed in this order, which
// fixes the random layouts (the triangle shell takes the generator's first values,
// the column the ones after them), and destroyed in the reverse order.
struct ShowFrame {
  BandStar blueStar;
  BandStar amberStar;
  DiskSwarm diskSwarm;
  OrbitRing orbitRing;
  PillarGrid pillarGrid;
  RingStack ringStack;
  int baseBeat = 0;  // first beat of the scene dispatched last; read by the beat marker

  ShowFrame();
  ShowFrame(const ShowFrame&) = delete;
  ShowFrame& operator=(const ShowFrame&) = delete;

  // Draws one whole frame for the play position: analysis, trail fade, beat marker,
  // signal scope, scene, frame lines. Presenting it is the caller's matter.
  void draw(std::uint32_t position);

  // What drawing that frame carries into the next, without drawing it: the position,
  // the spectrum, the scene's updates. A frame replayed leaves every effect, the swirl
  // and the beat marker's base as drawing it would have, at a fraction of its cost.
  void advance(std::uint32_t position);
};

// The start that every frame shares: store the play position, analyse the sound
// under it, reset both matrices, fade the earlier image, and select additive blending
// for what follows (left disabled). The bench tools draw single effects on it.
void beginShowFrame(std::uint32_t position);
