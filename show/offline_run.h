// The show on the virtual clock, for every run that renders without a display: the
// screenshot, the capture, the benchmark and the page's moment and benchmark. A run
// draws the frames of the show in order, one call at a time, so that a caller that
// must yield between frames (the page to the browser, a capture to its encoder) takes
// them as it goes. The show's state moves on only by drawing: a run that starts at a
// moment draws a lead-in up to it, as the screenshot's three seconds do.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "audio/playback.h"
#include "show/frame.h"
#include "show/virtual_clock.h"

struct OfflineRun {
  int fps = 60;
  std::uint64_t next = 0;  // the frame that step() draws
  std::unique_ptr<ShowFrame> frame;

  // A new frame (the effects' layouts as in a new process) on a clock of `framesPerSecond`,
  // at frame `first`. The show's start-up must have run on the current context.
  void start(int framesPerSecond, std::uint64_t first);

  // The play position that frame n shows: a frame past the music's end shows its end
  // (the spectrum's window reads no further than the guard after it).
  std::uint32_t position(std::uint64_t n) const { return std::min(virtualPosition(n, fps), playing.frames); }

  // Draws frame `next` and moves on to the one after; returns the position drawn.
  std::uint32_t step();

  // Draws every frame from `next` up to `end`, excluded.
  void stepUntil(std::uint64_t end);

  // Moves to frame n without drawing what lies between (a benchmark's next scene).
  void moveTo(std::uint64_t n) { next = n; }

  // The frame goes, and with it the effects' GL objects: before the context goes.
  void finish() { frame.reset(); }
};
