// The frame loop: the show's effects and the drawing of one frame from a play
// position, and the live loop that paces frames on the audio clock.
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
};

// The start that every frame shares: store the play position, analyse the sound
// under it, reset both matrices, fade the earlier image, and select additive blending
// for what follows (left disabled). The bench tools draw single effects on it.
void beginShowFrame(std::uint32_t position);

// The live show's source of play positions: the audio device's cursor, or a
// monotonic clock when the show runs without sound. Both seek and pause.
struct LiveAudio;
struct PlayClock {
  LiveAudio* audio = nullptr;    // null: silent clock
  std::uint64_t startNs = 0;     // silent clock: when position startFrame was "played"
  std::uint32_t startFrame = 0;  // silent clock: where it started (--from) or last moved to
  bool paused = false;
  std::uint32_t pausedAt = 0;  // the position that holds while paused

  std::uint32_t read();
  void seek(std::uint32_t position);
  // The sound stops (the device is paused) and the position holds; resuming plays on
  // from the same frame.
  void pause();
  void resume();
  void setMuted(bool silent);
};

struct LiveWindow;
struct LivePlayer;
// Runs the show live until Escape, q, a close request, or the end of the buffer
// (where --loop starts it again).
int runFrameLoop(LiveWindow& window, PlayClock& clock, LivePlayer& player);

// One turn of that loop, for a host that runs the loop itself (the browser, one turn
// per animation frame): paused, a look at the viewer's input; otherwise one frame
// drawn and presented, then the input. `pace` sleeps to about one frame per 16 ms of
// sound, as the desktop does; the browser's display paces it instead. False once the
// show ends.
bool liveTurn(ShowFrame& frame, LiveWindow& window, PlayClock& clock, LivePlayer& player, bool pace);
